#pragma once
// GeoCOM ASCII codec: request lines and reply decoding, free of any device so
// that tests and the fuzzer can drive it directly.

#include "types.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

namespace GeoCom {

// "%R1Q,<rpc>:<p0>,<p1>...\r\n"; ints in decimal, doubles with 6 decimals.
// Any other parameter type throws std::runtime_error with the translated
// text "Unexpected type of QVariant: <type name>".
QString buildRequest(RPC rpc, const QList<QVariant> &parameters);

struct Reply {
    enum Status {
        Ok,          // return code 0 and every value the record needs
        ErrorCode,   // non-zero return code (returnCode holds it)
        Incomplete,  // return code 0 but values missing or not numbers
        Unreadable,  // not a GeoCOM reply: the return code is not a number
    };
    Status status = Unreadable;
    int returnCode = 0;
    QVariant payload;  // invalid when the procedure has none
};

// Decodes one reply line as the answer to `rpc`. Only the text after the
// first ':' is looked at; strings keep their double quotes.
Reply decodeReply(RPC rpc, const QString &text);

// Whether `text` can be the answer to `rpc`: a success with the values the
// procedure's record needs, an error code alone, or an error code whose
// values have the shape of that record. A line that fails this while an
// earlier request may still answer late is that late answer.
bool fitsRequest(RPC rpc, const QString &text);

// The last line of `buffer` that ends with a line feed and holds more than
// white space, without its line end; empty when there is none. A read that
// gathered a late reply and the current one decodes only the current one.
QByteArray lastCompleteLine(const QByteArray &buffer);

// Puts the transaction id into a request line: "%R1Q,<rpc>,<id>:...". The
// instrument echoes it in its reply.
QString withTransactionId(const QString &requestLine, int id);

// The transaction id of a reply line ("%R1P,<com>,<id>[,<crc>]:..."): 0 when
// the instrument left it at 0 (or ignores ids), -1 when the line has no
// GeoCOM reply header.
int replyTransactionId(const QByteArray &line);

// A request line without its transaction id, as the procedure's line
// reads without one (for logs and tests).
QByteArray withoutTransactionId(const QByteArray &requestLine);

// TMC_GetAngle5, TMC_GetSimpleMea and CSV_GetIntTemp: polls, whose failures
// are normal and not reported.
bool isPoll(RPC rpc);

} // namespace GeoCom
