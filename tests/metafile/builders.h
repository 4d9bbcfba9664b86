#pragma once

// Small writers of WMF and EMF byte streams for the tests.

#include <QByteArray>
#include <QRect>
#include <QtEndian>
#include <initializer_list>

namespace testing {

template<typename T> void put(QByteArray &out, qint64 v)
{
    char b[sizeof(T)];
    qToLittleEndian<T>(T(v), b);
    out.append(b, sizeof(T));
}
inline void put16(QByteArray &out, int v)
{
    put<quint16>(out, v);
}

inline QByteArray words(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        put<quint16>(out, v);
    return out;
}

inline QByteArray dwords(std::initializer_list<qint64> values)
{
    QByteArray out;
    for (qint64 v : values)
        put<quint32>(out, v);
    return out;
}

inline quint32 rgb(int r, int g, int b)
{
    return quint32(r | (g << 8) | (b << 16));
}

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
    WmfBuilder &record(quint16 function, std::initializer_list<int> params)
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
            put16(out, sum);
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

// An EMF comment (its payload) holding EMF+ records, each given as type, flags and data.
struct EmfPlusRecord
{
    quint16 type;
    quint16 flags;
    QByteArray data;
};
inline QByteArray emfPlusComment(std::initializer_list<EmfPlusRecord> records)
{
    QByteArray body = dwords({0x2B464D45});
    for (const auto &[type, flags, data] : records)
        body += words({type, flags}) + dwords({12 + data.size(), data.size()}) + data;
    return dwords({body.size()}) + body;
}

} // namespace testing
