#pragma once

// Small writers of WMF and EMF byte streams for the tests.

#include <QByteArray>
#include <QRect>
#include <QtEndian>
#include <initializer_list>

namespace testing {

// The record types the tests write.
constexpr quint32 EmrPolyline = 4, EmrSetWindowExtEx = 9, EmrSetWindowOrgEx = 10,
                  EmrSetViewportExtEx = 11, EmrSetMapMode = 17, EmrSetBkMode = 18,
                  EmrSetPolyFillMode = 19, EmrSetRop2 = 20, EmrSetBkColor = 25,
                  EmrOffsetClipRgn = 26, EmrMoveToEx = 27, EmrExcludeClipRect = 29,
                  EmrIntersectClipRect = 30, EmrSaveDc = 33, EmrRestoreDc = 34,
                  EmrSetWorldTransform = 35, EmrModifyWorldTransform = 36, EmrSelectObject = 37,
                  EmrCreatePen = 38, EmrCreateBrushIndirect = 39, EmrRectangle = 43,
                  EmrBeginPath = 59, EmrEndPath = 60, EmrStrokePath = 64, EmrFlattenPath = 65,
                  EmrSelectClipPath = 67, EmrComment = 70, EmrFillRgn = 71,
                  EmrExtSelectClipRgn = 75, EmrBitBlt = 76, EmrStretchDiBits = 81,
                  EmrExtCreateFontIndirectW = 82, EmrExtTextOutW = 84, EmrPolygon16 = 86,
                  EmrPolyBezierTo16 = 88, EmrPolylineTo16 = 89, EmrPolyPolygon16 = 91,
                  EmrCreateDibPatternBrushPt = 94, EmrPolyTextOutW = 97, EmrSmallTextOut = 108,
                  EmrAlphaBlend = 114;
constexpr quint16 MetaSaveDc = 0x001E, MetaSetBkMode = 0x0102, MetaSetTextAlign = 0x012E,
                  MetaSelectObject = 0x012D, MetaSetTextColor = 0x0209, MetaSetWindowOrg = 0x020B,
                  MetaSetWindowExt = 0x020C, MetaCreatePenIndirect = 0x02FA,
                  MetaCreateFontIndirect = 0x02FB, MetaCreateBrushIndirect = 0x02FC,
                  MetaPolygon = 0x0324, MetaRectangle = 0x041B, MetaExtTextOut = 0x0A32,
                  MetaStretchDib = 0x0F43, MetaSetMapMode = 0x0103, MetaOffsetViewportOrg = 0x0211,
                  MetaScaleWindowExt = 0x0410, MetaScaleViewportExt = 0x0412, MetaPatBlt = 0x061D,
                  MetaCreateRegion = 0x06FF, MetaSelectClipRegion = 0x012C,
                  MetaPaintRegion = 0x012B, MetaDibStretchBlt = 0x0B41;

// `values` as little-endian numbers of type T.
template<typename T> QByteArray little(std::initializer_list<qint64> values)
{
    QByteArray out;
    for (qint64 v : values) {
        char b[sizeof(T)];
        qToLittleEndian<T>(T(v), b);
        out.append(b, sizeof(T));
    }
    return out;
}
inline const auto words = [](std::initializer_list<qint64> v) { return little<quint16>(v); };
inline const auto dwords = [](std::initializer_list<qint64> v) { return little<quint32>(v); };
inline const auto rgb = [](int r, int g, int b) { return quint32(r | (g << 8) | (b << 16)); };

// A 16-bit metafile, placeable when given a bounding box.
class WmfBuilder
{
public:
    explicit WmfBuilder(QRect bbox = {}, int unitsPerInch = 96) : m_bbox(bbox), m_inch(unitsPerInch)
    {}

    // Parameters are given as they are stored (WMF keeps most of them in reverse order).
    WmfBuilder &record(quint16 function, QByteArray params)
    {
        if (params.size() % 2)
            params.append('\0');
        m_records += dwords({3 + params.size() / 2}) + words({function}) + params;
        return *this;
    }
    WmfBuilder &record(quint16 function, std::initializer_list<qint64> params)
    {
        return record(function, words(params));
    }

    QByteArray finish() const
    {
        QByteArray out;
        if (m_bbox.isValid()) {
            const QRect r = m_bbox;
            out = dwords({0x9AC6CDD7}) +
                  words({0, r.left(), r.top(), r.right() + 1, r.bottom() + 1, m_inch}) +
                  dwords({0});
            quint16 sum = 0;
            for (int i = 0; i < 10; ++i)
                sum ^= qFromLittleEndian<quint16>(out.constData() + 2 * i);
            out += words({sum});
        }
        const QByteArray records = m_records + dwords({3}) + words({0});
        return out + words({1, 9, 0x300}) + dwords({9 + records.size() / 2}) + words({8}) +
               dwords({64}) + words({0}) + records;
    }

private:
    QRect m_bbox;
    int m_inch;
    QByteArray m_records;
};
// An enhanced metafile over a 96 dpi reference device whose frame covers `pixels`.
class EmfBuilder
{
public:
    explicit EmfBuilder(QSize pixels = {100, 100}) : m_pixels(pixels) {}

    EmfBuilder &record(quint32 type, QByteArray payload)
    {
        while (payload.size() % 4)
            payload.append('\0');
        m_records += dwords({type, 8 + payload.size()}) + payload;
        ++m_count;
        return *this;
    }
    EmfBuilder &record(quint32 type, std::initializer_list<qint64> params)
    {
        return record(type, dwords(params));
    }

    QByteArray finish() const
    {
        const QByteArray records = m_records + dwords({14, 20, 0, 16, 20});
        const int w = m_pixels.width(), h = m_pixels.height();
        // bounds, frame in 0.01 mm, signature, version, size, records, handles, device, mm
        return dwords({1, 88, 0, 0, w - 1, h - 1, 0, 0, qRound(w * 2540.0 / 96) - 1,
                       qRound(h * 2540.0 / 96) - 1, 0x464D4520, 0x10000, 88 + records.size(),
                       m_count + 2}) +
               words({16, 0}) + dwords({0, 0, 0, 960, 960, 254, 254}) + records;
    }

private:
    QSize m_pixels;
    QByteArray m_records;
    int m_count = 0;
};

// An EMF+ record, as EMF comments carry them.
inline const auto emfPlus = [](int type, int flags, const QByteArray &data) {
    return words({type, flags}) + dwords({12 + data.size(), data.size()}) + data;
};

} // namespace testing
