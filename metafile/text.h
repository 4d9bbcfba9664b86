#pragma once

#include <QByteArrayView>
#include <QFont>
#include <QList>
#include <QString>

namespace metafile::detail {

// The code page a font character set implies (Shift_JIS fonts use CP932, and so on).
QByteArray codecForCharset(quint8 charset);

// Decodes 8-bit text in the code page of `charset`. When `byteDx` is given (one advance per
// byte), `charDx` receives the advances per UTF-16 unit: a character made of several bytes
// advances by the sum of its bytes' values.
QString decodeText(QByteArrayView bytes, quint8 charset, const QList<qreal> &byteDx = {},
                   QList<qreal> *charDx = nullptr);

// The family to draw a Windows face in: the face itself where it is installed, else its free
// metric-compatible twin where it has one (Liberation for Arial, Times New Roman and Courier
// New, Carlito for Calibri, Caladea for Cambria), which takes the same room on the line.
QString fontFamily(const QString &face);

// The vertical metrics GDI places text by, in ems: the Windows ascent and descent of the face
// (usWinAscent and usWinDescent in its OS/2 table). Together they make the character cell, which
// a positive font height gives; the internal leading is what the cell holds beyond the em.
struct FaceMetrics
{
    qreal ascent = 0;
    qreal descent = 0;
};
FaceMetrics faceMetrics(QFont font);

} // namespace metafile::detail
