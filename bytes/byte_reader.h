#pragma once

#include <QByteArrayView>
#include <QtEndian>
#include <cstring>

namespace bytes {

// Little-endian reader over a byte range, for the file formats read here. Reading past the end
// yields zeros and clears ok(), so a caller can read everything it needs and check once at the end.
class ByteReader
{
public:
    explicit ByteReader(QByteArrayView data) : m_data(data) {}

    qsizetype size() const { return m_data.size(); }
    qsizetype pos() const { return m_pos; }
    qsizetype remaining() const { return m_data.size() - m_pos; }
    bool ok() const { return m_ok; }
    void fail() { m_ok = false; }

    void seek(qsizetype pos)
    {
        if (pos < 0 || pos > m_data.size()) {
            m_ok = false;
            m_pos = m_data.size();
            return;
        }
        m_pos = pos;
    }
    void skip(qsizetype n) { seek(m_pos + n); }

    QByteArrayView bytes(qsizetype n)
    {
        if (n < 0 || n > remaining()) {
            m_ok = false;
            m_pos = m_data.size();
            return {};
        }
        const QByteArrayView out = m_data.sliced(m_pos, n);
        m_pos += n;
        return out;
    }
    // A sub-range by absolute offset, without moving the read position.
    QByteArrayView slice(qsizetype offset, qsizetype n)
    {
        if (offset < 0 || n < 0 || offset > m_data.size() || n > m_data.size() - offset) {
            m_ok = false;
            return {};
        }
        return m_data.sliced(offset, n);
    }

    quint8 u8() { return read<quint8>(); }
    quint16 u16() { return read<quint16>(); }
    qint16 i16() { return read<qint16>(); }
    quint32 u32() { return read<quint32>(); }
    qint32 i32() { return read<qint32>(); }
    // The odd big-endian field (JPEG's markers).
    quint16 u16be() { return qbswap(u16()); }
    float f32()
    {
        const quint32 bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

private:
    template<typename T> T read()
    {
        const QByteArrayView b = bytes(sizeof(T));
        if (b.size() != sizeof(T))
            return T{};
        return qFromLittleEndian<T>(b.data());
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

} // namespace bytes
