#pragma once
// The instrument link: GeoCOM ASCII requests over the instrument's line (a
// serial port, or a TCP connection to a serial device server: see
// instrumentport.h), one request and one reply line at a time, from the
// handler's own thread. The thread sleeps until a byte arrives, the owner
// posts a request, one of the link's timers is due (a reply bound, the
// tracking poll) or it is asked to stop.
//
// The line is opened in the link's thread: openPort() only checks the
// settings; opened() or openFailed() follows start(). Requests queued
// before that go out once the line is up.
//
// Replies are matched to their requests by GeoCOM transaction id: every
// request carries one (1 to 7, never one whose late reply may still come)
// and a reply with another id is a late answer to an earlier request,
// discarded. An instrument that answers with id 0 ignores ids; its replies
// are matched by shape instead: after a time-out, a lone line that cannot
// answer the current request is taken for the late answer and skipped.
//
// Distances: only the answer to a distance measurement (BAP_MeasDistanceAngle)
// and, while tracking, the tracking poll (TMC_GetSimpleMea) deliver a
// distance. Tracking is on from a TMC_QuickDist request until the owner's
// TMC_DoMeasure or a distance measurement; the link polls only then. After
// every delivered distance, and from the start, the instrument's distance
// is cleared (TMC_DoMeasure 3,1) before a poll may deliver another; a clear
// that fails is retried (in place of the tracking polls, or every second
// while the link is idle), and its failure is reported once.
//
// Waiting for a reply is bounded by what the request asks of the instrument:
// a distance measurement (BAP_MeasDistanceAngle, TMC_QuickDist) and the fine
// adjust get replyTimeout() (default 10 s); the polls and every other quick
// request get quickReplyTimeout() (default 1 s, never more than
// replyTimeout()). A request without a complete reply in that time counts
// as failed and the next one goes out. Failures the link finds itself are
// reported like error replies, with GeoCOM's own codes: "Command error
// <rpc>: error code 3077" (no reply in time) and 3074 (a success reply with
// values missing or unreadable, or no GeoCOM reply at all); the three polls
// fail silently as they do on error replies. In base-point mode a failed
// distance measurement is reported through basePointFailed instead, as its
// answer would have gone to receivedBasePoint.
//
// Stopping: requestStop() lets a reply in progress arrive within its own
// bound (a distance being measured still reaches the owner), then writes
// what is queued, each with its reply wait, until the instrument stays
// silent once, after which the rest goes out without waiting. stop() (for
// the window's destruction) cuts a pending wait to 150 ms and drains with
// short waits only. A line that fails underneath the link (adapter
// unplugged, terminal closed, the network peer gone) is reported once
// through portLost and ends the loop; errorString() then holds the text.

#include "abstracthandler.h"
#include "types.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

class InstrumentPort;
class QTimer;

typedef QPair<RPC, QString> RequestItem;

class SerialPortHandler : public AbstractHandler<RequestItem>
{
    Q_OBJECT

public:
    SerialPortHandler();
    ~SerialPortHandler() override;

    // Keeps the settings for the link's thread, which opens the line. False
    // (errorString() says why) only for a network port name that cannot be
    // one ("host:", a port above 65535).
    bool openPort(const PortSettings &settings);
    bool isNetworkPort() const { return network; }
    QString portName() const { return settings.portName; }

    // The six start-up requests (identification, temperature, EDM mode,
    // clear distance, laser off). Call once after openPort, before start.
    void queueStartupRequests();

    // Formats the request line and posts it; never waits for the link. The
    // link takes posted requests into its queue, in the order posted. The two
    // requests of the main window's poll, TMC_GetAngle5 and CSV_GetIntTemp,
    // are parked in a slot of their own (one per procedure; a newer poll
    // replaces an older one) and taken over only when nothing else is queued
    // or posted, no reply is awaited and the motor is idle; otherwise they
    // are dropped silently. A parameter of a type other than int or double
    // throws std::runtime_error (a programming error).
    void enqueue(RPC rpc, const QList<QVariant> &parameters);

    // Routes measurement replies to receivedBasePoint while on. Queued in
    // order with the requests: it applies to the replies of requests
    // enqueued after it. Never waits for the link.
    void setBasePointMode(bool on);

    // Bound on the wait for the reply of a slow procedure, in ms; also the
    // upper limit of the quick bound. Set before start.
    void setReplyTimeout(int ms) { replyTimeoutMs = ms; }
    int replyTimeout() const { return replyTimeoutMs; }
    // Bound on the wait for the reply of a poll or quick request, in ms.
    void setQuickReplyTimeout(int ms) { quickReplyTimeoutMs = ms; }
    int quickReplyTimeout() const { return qMin(quickReplyTimeoutMs, replyTimeoutMs); }
    // The bound that applies to a request for `rpc`.
    int replyTimeoutFor(RPC rpc) const;
    // Whether requests carry transaction ids (default on; set before start).
    void setTransactionIds(bool on) { useIds = on; }

    // Text for a serial port that failed underneath the link: names the
    // port and, where the system's text says nothing ("Unknown error" or
    // empty), the likely cause. `stillThere` tells whether the port still
    // exists.
    static QString portFailureText(const QString &portName, int serialPortError,
                                   const QString &systemText, bool stillThere);

signals:
    void errorResponse(QString error);
    void responseReceived(QPair<RPC, QVariant> value);
    void receivedBasePoint(QPair<RPC, QVariant> pair);
    // The line failed underneath the link; the loop ends after this.
    void portLost(QString error);
    // In base-point mode: the distance measurement (BAP_MeasDistanceAngle)
    // failed with `code` (the instrument's, or 3077/3074 from the link);
    // `error` is the text errorResponse would have carried.
    void basePointFailed(int code, QString error);
    // Every failed request that is not a poll, in base-point mode too, just
    // before errorResponse or basePointFailed: the procedure, the code
    // (the instrument's, or 3077/3074 from the link) and the same text.
    void commandFailed(RPC rpc, int code, QString error);
    // The line is open; queued requests go out now.
    void opened();
    // The line could not be opened; the loop ends after this and
    // errorString() holds the same text ("Port error <port>: <reason>").
    void openFailed(QString error);

protected:
    bool openDevice() override;
    void exchange() override;
    void closeDevice() override;
    void readReply() override;
    void writeNext() override;
    bool checkError() override;
    bool drained() const override;
    void collectPosted() override;

    // Interprets one reply line as the answer to lastRpc.
    void parseReply(const QString &reply);

    InstrumentPort *port = nullptr;
    RPC lastRpc = RPC(-1);
    bool awaitingReply = false;
    bool motorActive = false;
    bool basePointMode = false;
    bool tracking = false;

private:
    static bool isPollRpc(RPC rpc);
    bool nextRequest(RequestItem *item);
    void writeRequest(const RequestItem &item);
    int nextTransactionId();
    void handleLine(const QByteArray &line);
    void matchByShape(const QByteArray &line);
    void answer(const QByteArray &line);
    void replyTimedOut();
    void shapeGraceOver();
    void failRequest(int code);
    void armReplyTimer(int ms);
    void scheduleTimer(QTimer *timer, qint64 ms);
    void onLineFailed(const QString &text, bool whileOpening);

    PortSettings settings;
    bool network = false;
    bool useIds = true;
    int replyTimeoutMs = 10000;
    int quickReplyTimeoutMs = 1000;
    int stopReplyTimeoutMs = 150;

    // The link's thread.
    bool lineOpen = false;
    bool lineFailed = false;
    int requestId = 0;          // id of the request awaiting its reply (0: none sent)
    bool ownClear = false;      // the request awaiting its reply is the link's own clear
    int lastIdUsed = 0;
    QSet<int> lateIds;          // ids of timed-out requests whose reply may still come
    QElapsedTimer requestClock; // since the request awaiting its reply was written
    int requestBound = 0;
    int armedLimit = 0;         // the wait the reply timer was armed for
    QByteArray input;           // bytes of an incomplete line
    bool staleTail = false;     // input up to the next line end belongs to a timed-out reply
    // A request timed out and an instrument that ignores ids may still send
    // its reply: the next reply without an id is held for one grace period
    // and, when it is a lone line that cannot answer the current request,
    // skipped as that late reply.
    bool lateReplyPossible = false;
    QList<QByteArray> graceLines;
    bool distanceUncleared = true; // the instrument may hold a distance already delivered
    bool clearFailureReported = false;
    QElapsedTimer lastClearTry;
    bool lastWasPoll = false;
    QElapsedTimer lastPoll;
    // The instrument stayed silent during a stop: the rest of the queue is
    // written without waiting for replies.
    bool silentWhileStopping = false;
    QTimer *replyTimer = nullptr;
    QTimer *graceTimer = nullptr;
    QTimer *pollTimer = nullptr;

    // Polls parked by enqueue without the link's lock, guarded by pollMutex.
    QMutex pollMutex;
    QString parkedAngle;   // TMC_GetAngle5 line, empty when none
    QString parkedTemp;    // CSV_GetIntTemp line, empty when none
};
