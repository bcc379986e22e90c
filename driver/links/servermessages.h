#pragma once
// Framing and the payloads of the messages exchanged with the CAD server.
//
// A block is a big-endian 16-bit length L followed by L payload bytes; the
// payload is QDataStream data at Qt 5's default settings (big-endian, doubles
// as 64-bit IEEE 754, QString as a 32-bit byte count plus UTF-16BE text,
// 0xFFFFFFFF for a null string). A typed payload starts with a 16-bit message
// type. The greeting is the raw bytes "device" without a type.
//
// Encoders return a complete block (length included), or an empty array
// when the payload would not fit the 16-bit length. Decoders take one block
// payload (without its length): a message whose fields run short of the
// payload, or whose type the receiver does not take, is rejected whole. A
// server message with bytes past its fields is taken and the rest ignored;
// a driver message must fill its block exactly.

#include "types.h"

#include <QByteArray>
#include <QMatrix4x4>
#include <QString>
#include <QStringList>
#include <QVector>

namespace ServerMessages {

enum Type : quint16 {
    SessionExists = 0,     // server: proposed session name
    ConnectedToServer = 1, // server: greeting taken / driver: identification
    PointInfo = 2,         // server: session, group, next point, device
    Point = 3,             // driver: one measured point
    SessionName = 4,       // driver: session name
    GroupName = 5,         // server: group name
    BasePoint = 6,         // server: one base point
    SessionAccepted = 7,   // server: session name accepted
    Matrix = 8,            // server: station matrix / driver: base point set
    Identify = 9,          // server: asks for identification
};

// Largest payload one block can carry.
constexpr int MaxPayload = 0xFFFF;
// Largest base point set (with as many weights) that fits one message 8.
constexpr int MaxBasePointSet = 1170;

// Wraps a payload into a block; empty when the payload exceeds MaxPayload.
QByteArray frame(const QByteArray &payload);

// Driver to server.
QByteArray encodeGreeting();
QByteArray encodeIdentification(const QString &appName, const QString &sessionName,
                                const QString &groupName, const QString &deviceName);
QByteArray encodePoint(const MeasuringPoint &pt);
QByteArray encodeSessionName(const QString &sessionName);
// Only x, y, z of each point are sent. Empty result and *error set when the
// set does not fit one block.
QByteArray encodeBasePointSet(const QVector<MeasuringPoint> &measured,
                              const QVector<MeasuringPoint> &known,
                              const QVector<double> &weights, QString *error = nullptr);

// Server to driver (the reference server and the tests use these).
QByteArray encodeSessionExists(const QString &proposed);
QByteArray encodeEmpty(quint16 type); // types 1, 7 and 9 carry no fields
QByteArray encodePointInfo(const QString &session, const QString &group,
                           const QString &point, const QString &device);
QByteArray encodeGroupName(const QString &group);
QByteArray encodeBasePoint(const QString &name, double x, double y, double z);
QByteArray encodeMatrix(const double values[16]); // row by row

// One message from the server.
struct ServerMessage {
    quint16 type = 0xFFFF;
    // 0: [proposed]; 2: [session, group, point, device]; 5: [group]; 6: [name]
    QStringList texts;
    double xyz[3] = {0, 0, 0}; // 6
    QMatrix4x4 matrix;         // 8, filled row by row (single precision)
    double values[16] = {};    // 8, the elements as sent, row by row
};
// False unless the payload begins with one well-formed message of type 0, 1,
// 2, 5, 6, 7, 8 or 9 (bytes after its fields are ignored).
bool decodeServerMessage(const QByteArray &payload, ServerMessage *out);

// One message from the driver.
struct DriverMessage {
    enum Kind { Invalid, Greeting, Identification, Point, SessionName, BasePointSet };
    Kind kind = Invalid;
    QStringList texts;                       // identification: app, session, group, device; 4: [name]
    MeasuringPoint point;                    // 3
    QVector<MeasuringPoint> measured, known; // 8, coordinates only
    QVector<double> weights;                 // 8
};
// False unless the payload is exactly the greeting or one well-formed
// message of type 1, 3, 4 or 8.
bool decodeDriverMessage(const QByteArray &payload, DriverMessage *out);

// Splits a byte stream into block payloads: feed() appends bytes, next()
// yields the next complete payload. Blocks are cut by their length alone, so
// a malformed payload never throws the stream out of step.
class BlockReader
{
public:
    void feed(const QByteArray &bytes) { buffer.append(bytes); }
    bool next(QByteArray *payload);
    int pending() const { return buffer.size() - pos; }

private:
    QByteArray buffer;
    int pos = 0;
};

} // namespace ServerMessages
