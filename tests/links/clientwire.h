#pragma once
// Builds server-link bytes by hand, independently of QDataStream, so the
// tests compare the codec against the wire format itself.

#include <QByteArray>
#include <QString>
#include <QtEndian>
#include <cstring>

namespace Wire {

inline QByteArray u16(quint16 v)
{
    QByteArray b(2, '\0');
    qToBigEndian(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

inline QByteArray u32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

inline QByteArray f64(double d)
{
    quint64 bits;
    std::memcpy(&bits, &d, 8);
    QByteArray b(8, '\0');
    qToBigEndian(bits, reinterpret_cast<uchar *>(b.data()));
    return b;
}

// QString as a byte count and UTF-16BE text; a null string is 0xFFFFFFFF.
inline QByteArray str(const QString &s)
{
    if (s.isNull())
        return u32(0xFFFFFFFFu);
    QByteArray b = u32(quint32(s.size() * 2));
    for (QChar c : s)
        b += u16(c.unicode());
    return b;
}

inline QByteArray block(const QByteArray &payload) { return u16(quint16(payload.size())) + payload; }

} // namespace Wire
