#include "servermessages.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>

namespace ServerMessages {

namespace {

// Starts a block: the 16-bit placeholder, then the caller writes the payload.
class BlockWriter
{
public:
    BlockWriter() : out(&buf, QIODevice::WriteOnly) { out << quint16(0); }
    QDataStream &stream() { return out; }
    QByteArray finish()
    {
        const int payload = buf.size() - 2;
        if (payload > MaxPayload)
            return QByteArray();
        out.device()->seek(0);
        out << quint16(payload);
        return buf;
    }

private:
    QByteArray buf;
    QDataStream out;
};

bool readString(QDataStream &in, QString *s)
{
    in >> *s;
    return in.status() == QDataStream::Ok;
}

// True when the stream read every field and nothing is left over.
bool wholeBlock(QDataStream &in) { return in.status() == QDataStream::Ok && in.atEnd(); }

bool readXyzList(QDataStream &in, int available, QVector<MeasuringPoint> *list)
{
    qint32 n = -1;
    in >> n;
    if (in.status() != QDataStream::Ok || n < 0 || qint64(n) * 24 > available)
        return false;
    list->resize(n);
    for (MeasuringPoint &p : *list)
        in >> p.x >> p.y >> p.z;
    return in.status() == QDataStream::Ok;
}

} // namespace

QByteArray frame(const QByteArray &payload)
{
    if (payload.size() > MaxPayload)
        return QByteArray();
    BlockWriter w;
    w.stream().writeRawData(payload.constData(), payload.size());
    return w.finish();
}

QByteArray encodeGreeting() { return frame(QByteArrayLiteral("device")); }

QByteArray encodeIdentification(const QString &appName, const QString &sessionName,
                                const QString &groupName, const QString &deviceName)
{
    BlockWriter w;
    w.stream() << quint16(ConnectedToServer) << appName << sessionName << groupName << deviceName;
    return w.finish();
}

QByteArray encodePoint(const MeasuringPoint &pt)
{
    BlockWriter w;
    w.stream() << quint16(Point) << pt.sessionName << pt.groupName << pt.pointName << pt.x << pt.y
               << pt.z;
    return w.finish();
}

QByteArray encodeSessionName(const QString &sessionName)
{
    BlockWriter w;
    w.stream() << quint16(SessionName) << sessionName;
    return w.finish();
}

QByteArray encodeBasePointSet(const QVector<MeasuringPoint> &measured,
                              const QVector<MeasuringPoint> &known,
                              const QVector<double> &weights, QString *error)
{
    const qint64 size = 2 + 4 + 24 * qint64(measured.size()) + 4 + 24 * qint64(known.size()) + 4
                        + 8 * qint64(weights.size());
    if (size > MaxPayload) {
        if (error)
            *error = QCoreApplication::translate(
                         "Client", "Too many base points for one request: %1 (at most %2)")
                         .arg(qMax(measured.size(), known.size()))
                         .arg(MaxBasePointSet);
        return QByteArray();
    }
    BlockWriter w;
    QDataStream &out = w.stream();
    out << quint16(Matrix) << qint32(measured.size());
    for (const MeasuringPoint &p : measured)
        out << p.x << p.y << p.z;
    out << qint32(known.size());
    for (const MeasuringPoint &p : known)
        out << p.x << p.y << p.z;
    out << qint32(weights.size());
    for (double wt : weights)
        out << wt;
    return w.finish();
}

QByteArray encodeSessionExists(const QString &proposed)
{
    BlockWriter w;
    w.stream() << quint16(SessionExists) << proposed;
    return w.finish();
}

QByteArray encodeEmpty(quint16 type)
{
    BlockWriter w;
    w.stream() << type;
    return w.finish();
}

QByteArray encodePointInfo(const QString &session, const QString &group, const QString &point,
                           const QString &device)
{
    BlockWriter w;
    w.stream() << quint16(PointInfo) << session << group << point << device;
    return w.finish();
}

QByteArray encodeGroupName(const QString &group)
{
    BlockWriter w;
    w.stream() << quint16(GroupName) << group;
    return w.finish();
}

QByteArray encodeBasePoint(const QString &name, double x, double y, double z)
{
    BlockWriter w;
    w.stream() << quint16(BasePoint) << name << x << y << z;
    return w.finish();
}

QByteArray encodeMatrix(const double values[16])
{
    BlockWriter w;
    w.stream() << quint16(Matrix);
    for (int i = 0; i < 16; ++i)
        w.stream() << values[i];
    return w.finish();
}

bool decodeServerMessage(const QByteArray &payload, ServerMessage *out)
{
    QDataStream in(payload);
    quint16 type = 0;
    in >> type;
    if (in.status() != QDataStream::Ok)
        return false;
    ServerMessage m;
    m.type = type;
    int strings = 0;
    switch (type) {
    case SessionExists:
    case GroupName:
        strings = 1;
        break;
    case PointInfo:
        strings = 4;
        break;
    case BasePoint:
        strings = 1;
        break;
    case ConnectedToServer:
    case SessionAccepted:
    case Identify:
    case Matrix:
        break;
    default: // 3, 4 and unknown types are not sent by a server
        return false;
    }
    for (int i = 0; i < strings; ++i) {
        QString s;
        if (!readString(in, &s))
            return false;
        m.texts << s;
    }
    if (type == BasePoint)
        in >> m.xyz[0] >> m.xyz[1] >> m.xyz[2];
    if (type == Matrix) {
        for (double &d : m.values)
            in >> d;
        float f[16];
        for (int i = 0; i < 16; ++i)
            f[i] = float(m.values[i]);
        m.matrix = QMatrix4x4(f); // row by row, flagged as a general matrix
    }
    // Bytes past the message's fields (a newer server's additions) are
    // skipped; fields that run short reject the message.
    if (in.status() != QDataStream::Ok)
        return false;
    *out = m;
    return true;
}

bool decodeDriverMessage(const QByteArray &payload, DriverMessage *out)
{
    DriverMessage m;
    if (payload == "device") {
        m.kind = DriverMessage::Greeting;
        *out = m;
        return true;
    }
    QDataStream in(payload);
    quint16 type = 0;
    in >> type;
    if (in.status() != QDataStream::Ok)
        return false;
    switch (type) {
    case ConnectedToServer:
        m.kind = DriverMessage::Identification;
        for (int i = 0; i < 4; ++i) {
            QString s;
            if (!readString(in, &s))
                return false;
            m.texts << s;
        }
        break;
    case Point:
        m.kind = DriverMessage::Point;
        if (!readString(in, &m.point.sessionName) || !readString(in, &m.point.groupName)
            || !readString(in, &m.point.pointName))
            return false;
        in >> m.point.x >> m.point.y >> m.point.z;
        break;
    case SessionName: {
        m.kind = DriverMessage::SessionName;
        QString s;
        if (!readString(in, &s))
            return false;
        m.texts << s;
        break;
    }
    case Matrix: {
        m.kind = DriverMessage::BasePointSet;
        if (!readXyzList(in, payload.size(), &m.measured)
            || !readXyzList(in, payload.size(), &m.known))
            return false;
        qint32 k = -1;
        in >> k;
        if (in.status() != QDataStream::Ok || k < 0 || qint64(k) * 8 > payload.size())
            return false;
        m.weights.resize(k);
        for (double &w : m.weights)
            in >> w;
        break;
    }
    default:
        return false;
    }
    if (!wholeBlock(in))
        return false;
    *out = m;
    return true;
}

bool BlockReader::next(QByteArray *payload)
{
    if (buffer.size() - pos < 2)
        return false;
    const int len = (uchar(buffer[pos]) << 8) | uchar(buffer[pos + 1]);
    if (buffer.size() - pos - 2 < len)
        return false;
    *payload = buffer.mid(pos + 2, len);
    pos += 2 + len;
    if (pos > 4096 && pos * 2 > buffer.size()) {
        buffer.remove(0, pos);
        pos = 0;
    }
    return true;
}

} // namespace ServerMessages
