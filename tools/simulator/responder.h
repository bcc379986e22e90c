#pragma once
// The instrument's end of the line: takes one request line from a channel,
// checks its frame, applies the fault rules, asks the instrument and writes
// the reply in GeoCOM's frame; logs what it received and what it answered.

#include "channel.h"
#include "faults.h"
#include "instrument.h"

#include <QString>
#include <cstdio>

// What was answered, one line a request, flushed at once; written before
// the reply goes out (or the connection is closed), so a client that has
// seen the effect finds the line. Lines beginning with '#' are connection
// events. The format is in --help.
class ReplyLog
{
public:
    ~ReplyLog();
    bool open(const QString &path);
    bool isOpen() const { return m_file != nullptr; }
    void request(int n, const char *via, const QString &request, const QString &fault, bool answered,
                 const QString &detail);
    void event(const char *via, const QString &what);

private:
    qint64 elapsedMs() const;
    std::FILE *m_file = nullptr;
    double m_start = 0;
};

class Responder
{
public:
    enum Outcome {
        Continue,  // keep the connection
        Close,     // close it (the pty: close the port and exit)
        Reset      // reset it (the pty: as Close)
    };

    Responder(Instrument *instrument, FaultPlan *faults) : inst(instrument), faults(faults) {}

    std::FILE *requestLog = nullptr;  // every received request line
    ReplyLog *replyLog = nullptr;
    bool verbose = false;
    bool ignoreTransactionIds = false;  // answer every request with id 0

    Outcome handle(const QByteArray &raw, Channel &channel);

    // One reply line without its CR LF: %R1P,<com>,<trid>[,<crc>]:<body>,
    // the checksum field only when the request carried one.
    static QString frame(int comRc, const QString &trId, const QString &body, bool withCrc);

private:
    void answer(Channel &channel, const QString &text, const QString &request, const QString &fault);

    Instrument *inst;
    FaultPlan *faults;
    int requests = 0;
};
