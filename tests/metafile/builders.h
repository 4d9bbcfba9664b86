#pragma once

// Small writers of WMF and EMF byte streams for the tests.

#include <QByteArray>
#include <QRect>
#include <QtEndian>
#include <initializer_list>

namespace testing {

inline void put16(QByteArray &out, int v)
{
    char b[2];
    qToLittleEndian<quint16>(quint16(v), b);
    out.append(b, 2);
}

inline void put32(QByteArray &out, qint64 v)
{
    char b[4];
    qToLittleEndian<quint32>(quint32(v), b);
    out.append(b, 4);
}

inline QByteArray words(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        put16(out, v);
    return out;
}

inline QByteArray dwords(std::initializer_list<qint64> values)
{
    QByteArray out;
    for (qint64 v : values)
        put32(out, v);
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
    WmfBuilder &record(quint16 function, const QByteArray &params)
    {
        put32(m_records, 3 + params.size() / 2 + params.size() % 2);
        put16(m_records, function);
        m_records.append(params);
        if (params.size() % 2)
            m_records.append('\0');
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
            QByteArray p;
            put32(p, 0x9AC6CDD7);
            put16(p, 0);
            put16(p, m_bbox.left());
            put16(p, m_bbox.top());
            put16(p, m_bbox.right() + 1);
            put16(p, m_bbox.bottom() + 1);
            put16(p, m_inch);
            put32(p, 0);
            quint16 sum = 0;
            for (int i = 0; i < 10; ++i)
                sum ^= qFromLittleEndian<quint16>(p.constData() + 2 * i);
            put16(p, sum);
            out += p;
        }
        QByteArray records = m_records;
        records += dwords({3}) + words({0});
        put16(out, 1);
        put16(out, 9);
        put16(out, 0x300);
        put32(out, 9 + records.size() / 2);
        put16(out, 8);
        put32(out, 64);
        put16(out, 0);
        return out + records;
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

    EmfBuilder &record(quint32 type, const QByteArray &payload)
    {
        QByteArray body = payload;
        while (body.size() % 4)
            body.append('\0');
        put32(m_records, type);
        put32(m_records, 8 + body.size());
        m_records += body;
        ++m_count;
        return *this;
    }
    EmfBuilder &record(quint32 type, std::initializer_list<qint64> params)
    {
        return record(type, dwords(params));
    }

    QByteArray finish() const
    {
        QByteArray records = m_records;
        records += dwords({14, 20, 0, 16, 20});
        QByteArray h;
        put32(h, 1);
        put32(h, 88);
        for (int v : {0, 0, m_pixels.width() - 1, m_pixels.height() - 1})
            put32(h, v);
        put32(h, 0);
        put32(h, 0);
        put32(h, qRound(m_pixels.width() * 2540.0 / 96) - 1);
        put32(h, qRound(m_pixels.height() * 2540.0 / 96) - 1);
        put32(h, 0x464D4520);
        put32(h, 0x10000);
        put32(h, 88 + records.size());
        put32(h, m_count + 2);
        put16(h, 16);
        put16(h, 0);
        for (int v : {0, 0, 0, 960, 960, 254, 254})
            put32(h, v);
        return h + records;
    }

private:
    QSize m_pixels;
    QByteArray m_records;
    int m_count = 0;
};

} // namespace testing
