// libFuzzer target: arbitrary byte streams cut into blocks and decoded as
// server and as driver messages. Checks that decoding never crashes, that
// the reader stays in step with the lengths, and that every accepted
// message encodes back to exactly its own bytes (a server message: to the
// bytes of its fields, which may be followed by more).

#include "servermessages.h"

#include <cstddef>
#include <cstdint>

using namespace ServerMessages;

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void checkServer(const QByteArray &payload)
{
    ServerMessage m;
    if (!decodeServerMessage(payload, &m))
        return;
    QByteArray again;
    switch (m.type) {
    case SessionExists: again = encodeSessionExists(m.texts.value(0)); break;
    case ConnectedToServer:
    case SessionAccepted:
    case Identify: again = encodeEmpty(m.type); break;
    case PointInfo:
        check(m.texts.size() == 4);
        again = encodePointInfo(m.texts[0], m.texts[1], m.texts[2], m.texts[3]);
        break;
    case GroupName: again = encodeGroupName(m.texts.value(0)); break;
    case BasePoint: again = encodeBasePoint(m.texts.value(0), m.xyz[0], m.xyz[1], m.xyz[2]); break;
    case Matrix:
        check(payload.size() >= 2 + 16 * 8);
        return;
    default:
        check(false); // 3, 4 and unknown types must be refused
    }
    // A server block may run past its fields (a newer server's additions,
    // skipped): the fields encode back to exactly its leading bytes.
    check(again.size() >= 2 && payload.startsWith(again.mid(2)));
}

void checkDriver(const QByteArray &payload)
{
    DriverMessage m;
    if (!decodeDriverMessage(payload, &m))
        return;
    QByteArray again;
    switch (m.kind) {
    case DriverMessage::Greeting: again = encodeGreeting(); break;
    case DriverMessage::Identification:
        again = encodeIdentification(m.texts[0], m.texts[1], m.texts[2], m.texts[3]);
        break;
    case DriverMessage::Point: again = encodePoint(m.point); break;
    case DriverMessage::SessionName: again = encodeSessionName(m.texts.value(0)); break;
    case DriverMessage::BasePointSet: again = encodeBasePointSet(m.measured, m.known, m.weights); break;
    default: check(false);
    }
    check(again == frame(payload));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte sets the size of the pieces the stream arrives in.
    const size_t piece = size_t(data[0]) + 1;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), int(size - 1));
    BlockReader reader;
    qint64 consumed = 0;
    for (int at = 0; at < stream.size(); at += int(piece)) {
        reader.feed(stream.mid(at, int(piece)));
        QByteArray payload;
        while (reader.next(&payload)) {
            const int len = (uchar(stream[int(consumed)]) << 8) | uchar(stream[int(consumed) + 1]);
            check(payload.size() == len);
            check(payload == stream.mid(int(consumed) + 2, len));
            consumed += 2 + len;
            checkServer(payload);
            checkDriver(payload);
        }
    }
    // What is left is less than one whole block.
    const qint64 left = stream.size() - consumed;
    check(reader.pending() == left);
    if (left >= 2) {
        const int len = (uchar(stream[int(consumed)]) << 8) | uchar(stream[int(consumed) + 1]);
        check(left < 2 + len);
    }
    return 0;
}
