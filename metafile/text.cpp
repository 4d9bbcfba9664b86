#include "text.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QRawFont>
#include <QStringDecoder>
#include <QtEndian>

namespace metafile::detail {
namespace {

constexpr const char *kMetricTwins[][2] = {
    {"Arial", "Liberation Sans"},
    {"Helvetica", "Liberation Sans"}, // as Windows substitutes
    {"Times New Roman", "Liberation Serif"},
    {"Times", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
    {"Calibri", "Carlito"},
    {"Cambria", "Caladea"},
};

} // namespace

QByteArray codecForCharset(quint8 charset)
{
    switch (charset) {
    case 2: // SYMBOL
        return "ISO-8859-1";
    case 77: // MAC
        return "macintosh";
    case 128: // SHIFTJIS
        return "windows-31j";
    case 129: // HANGUL
    case 130: // JOHAB
        return "windows-949";
    case 134: // GB2312
        return "GBK";
    case 136: // CHINESEBIG5
        return "Big5";
    case 161:
        return "windows-1253";
    case 162:
        return "windows-1254";
    case 163:
        return "windows-1258";
    case 177:
        return "windows-1255";
    case 178:
        return "windows-1256";
    case 186:
        return "windows-1257";
    case 204:
        return "windows-1251";
    case 222:
        return "windows-874";
    case 238:
        return "windows-1250";
    case 255: // OEM
        return "IBM437";
    default: // ANSI, DEFAULT and anything unknown
        return "windows-1252";
    }
}

QString decodeText(QByteArrayView bytes, quint8 charset, const QList<qreal> &byteDx,
                   QList<qreal> *charDx)
{
    QStringDecoder decoder(codecForCharset(charset).constData());
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Latin1);
    if (!charDx || byteDx.isEmpty())
        return decoder.decode(bytes);

    // Feed the decoder a byte at a time to learn which bytes make each character.
    QString out;
    qreal pending = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        pending += byteDx.value(i);
        const QString piece = decoder.decode(bytes.sliced(i, 1));
        for (qsizetype k = 0; k < piece.size(); ++k) {
            charDx->append(k == 0 ? pending : 0);
            out.append(piece[k]);
        }
        if (!piece.isEmpty())
            pending = 0;
    }
    return out;
}

QString fontFamily(const QString &face)
{
    const QString name = face.trimmed();
    for (const auto &[windows, twin] : kMetricTwins) {
        if (name.compare(QLatin1String(windows), Qt::CaseInsensitive) != 0)
            continue;
        const QString resolved = QFontInfo(QFont(name)).family();
        return resolved.compare(name, Qt::CaseInsensitive) == 0 ? name : QString::fromLatin1(twin);
    }
    return name;
}

FaceMetrics faceMetrics(QFont font)
{
    constexpr int kProbePixels = 256;
    constexpr qsizetype kWinAscentOffset = 74, kWinDescentOffset = 76;
    constexpr qreal kMaxEms = 4; // beyond this a table is taken as broken
    font.setPixelSize(kProbePixels);
    const QRawFont raw = QRawFont::fromFont(font);
    if (raw.isValid() && raw.unitsPerEm() > 0) {
        const QByteArray os2 = raw.fontTable("OS/2");
        if (os2.size() >= kWinDescentOffset + 2) {
            const qreal ascent =
                qFromBigEndian<quint16>(os2.constData() + kWinAscentOffset) / raw.unitsPerEm();
            const qreal descent =
                qFromBigEndian<quint16>(os2.constData() + kWinDescentOffset) / raw.unitsPerEm();
            if (ascent + descent > 0 && ascent + descent < kMaxEms)
                return {ascent, descent};
        }
    }
    // Faces without Windows metrics: what the font engine reports
    const QFontMetricsF metrics(font);
    return {metrics.ascent() / kProbePixels, metrics.descent() / kProbePixels};
}

} // namespace metafile::detail
