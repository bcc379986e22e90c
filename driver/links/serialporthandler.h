#pragma once
// The instrument link: GeoCOM ASCII requests over a serial port, one request
// and one reply line at a time, from the handler's own thread.
//
// Every pass of the run loop polls TMC_GetSimpleMea (unless the motor runs or
// the start-up requests are still pending) and then serves one queued
// request. Replies are decoded by geocom.h and reported through the three
// signals, which the owner connects with Qt::QueuedConnection.
//
// Waiting for a reply is bounded by what the request asks of the instrument:
// a distance measurement (BAP_MeasDistanceAngle, TMC_QuickDist) and the fine
// adjust get replyTimeout() (default 10 s); the polls and every other quick
// request get quickReplyTimeout() (default 1 s, never more than
// replyTimeout()). A request without a complete reply in that time counts
// as failed and the next one goes out. Failures the link
// finds itself are reported like error replies, with GeoCOM's own codes:
// "Command error <rpc>: error code 3077" (no reply in time) and 3074 (a
// success reply with values missing or unreadable, or no GeoCOM reply at
// all); the three polls fail silently as they do on error replies. In
// base-point mode a failed distance measurement (BAP_MeasDistanceAngle) is
// reported through basePointFailed instead, as its answer would have gone
// to receivedBasePoint.
//
// A distance measurement outside base-point mode is cleared (TMC_DoMeasure
// 3,1) in the same exchange, as in base-point mode, so the next
// simple-measurement poll cannot report it a second time.
//
// Stopping: requestStop() lets a reply in progress arrive within its own
// bound (a distance being measured still reaches the owner), then writes
// what is queued, each with its reply wait, until the instrument stays
// silent once, after which the rest goes out without waiting. stop() (for
// the window's destruction) ends a pending wait within one read slice
// (100 ms) and drains with short waits only. Input still pending before a
// write is a late reply and is discarded, and so is the tail of a reply
// that timed out half read; when a read gathers several lines, the last one
// is the answer. A port that fails underneath the link (adapter unplugged,
// pseudo-terminal closed) is reported once through portLost and ends the
// loop; errorString() then holds the same text. Passes with nothing to write
// (motor running, polls off) look at the port too, so a loss is noticed
// without waiting for the next request.

#include "abstracthandler.h"
#include "types.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QVariant>
#include <QWaitCondition>

class QSerialPort;

typedef QPair<RPC, QString> RequestItem;

class SerialPortHandler : public AbstractHandler<RequestItem>
{
    Q_OBJECT

public:
    SerialPortHandler();
    ~SerialPortHandler() override;

    // Opens and configures the port in the calling thread and moves it to the
    // handler's thread. On failure errorString() holds "Port error %1: %2".
    bool openPort(const PortSettings &settings);

    // The six start-up requests (identification, temperature, EDM mode,
    // clear distance, laser off). Call once after openPort, before start.
    void queueStartupRequests();

    // Formats the request line and posts it; never waits for the link. The
    // link takes posted requests into its queue, in the order posted, at the
    // start of its next exchange. The two requests of the main window's
    // poll, TMC_GetAngle5 and CSV_GetIntTemp, are parked in a slot of their
    // own (one per procedure; a newer poll replaces an older one) and taken
    // over only when nothing else is queued or posted, no reply is awaited
    // and the motor is idle; otherwise they are dropped silently.
    // A parameter of a type other than int or double throws
    // std::runtime_error (a programming error).
    void enqueue(RPC rpc, const QList<QVariant> &parameters);

    // Routes measurement replies to receivedBasePoint while on. Queued in
    // order with the requests: it applies to the replies of requests
    // enqueued after it. Never waits for the link.
    void setBasePointMode(bool on);

    // Returns at once; finished() follows once the reply in progress and
    // the queue are done and the port is closed.
    void requestStop() override;
    // Ends a pending reply wait at once and lets the loop drain the queue
    // with short waits; returns when the loop has ended and the port is
    // closed.
    void stop() override;

    // Bound on the wait for the reply of a slow procedure, in ms; also the
    // upper limit of the quick bound. Set before start.
    void setReplyTimeout(int ms) { replyTimeoutMs = ms; }
    int replyTimeout() const { return replyTimeoutMs; }
    // Bound on the wait for the reply of a poll or quick request, in ms.
    void setQuickReplyTimeout(int ms) { quickReplyTimeoutMs = ms; }
    int quickReplyTimeout() const { return qMin(quickReplyTimeoutMs, replyTimeoutMs); }
    // The bound that applies to a request for `rpc`.
    int replyTimeoutFor(RPC rpc) const;

    // Text for a port that failed underneath the link: names the port and,
    // where the system's text says nothing ("Unknown error" or empty), the
    // likely cause. `stillThere` tells whether the port still exists.
    static QString portFailureText(const QString &portName, int serialPortError,
                                   const QString &systemText, bool stillThere);

signals:
    void errorResponse(QString error);
    void responseReceived(QPair<RPC, QVariant> value);
    void receivedBasePoint(QPair<RPC, QVariant> pair);
    // The port failed underneath the link; the loop ends after this.
    void portLost(QString error);
    // In base-point mode: the distance measurement (BAP_MeasDistanceAngle)
    // failed with `code` (the instrument's, or 3077/3074 from the link);
    // `error` is the text errorResponse would have carried.
    void basePointFailed(int code, QString error);
    // Every failed request that is not a poll, in base-point mode too, just
    // before errorResponse or basePointFailed: the procedure, the code
    // (the instrument's, or 3077/3074 from the link) and the same text.
    void commandFailed(RPC rpc, int code, QString error);

protected:
    void exchange() override;
    void closeDevice() override;
    void readReply() override;
    void writeNext() override;
    bool checkError() override;

    // Interprets one reply text as the answer to lastRpc.
    void parseReply(const QString &reply);

    QSerialPort *port = nullptr;
    RPC lastRpc = RPC(-1);
    bool awaitingReply = false;
    bool motorActive = false;
    bool startupPending = false;
    bool basePointMode = false;

private:
    static bool isPollRpc(RPC rpc);
    void collectPosted() override;
    void clearDistanceNow();
    void failRequest(int code);
    bool portFailed();
    void checkIdlePort();
    // Whether the port's device still exists (a path, or a port the system lists).
    bool portStillThere() const;
    void reportPortLost(int serialPortError, const QString &systemText, bool stillThere);

    int replyTimeoutMs = 10000;
    int quickReplyTimeoutMs = 1000;
    int stopReplyTimeoutMs = 150;
    QAtomicInt stopping;   // 1: requestStop(), 2: stop() (cuts waits short)
    // The reply that timed out had begun to arrive: input up to its line end
    // is its tail and is discarded.
    bool staleTail = false;
    bool portBroken = false;
    QString portLabel;  // the port's name as the settings gave it
    // A request timed out and its reply may still come. The next read then
    // waits one slice longer after its first line and decodes the last one,
    // so the late reply is not taken for the answer to the request after it;
    // a lone line that does not decode as the answer is taken for the late
    // reply and skipped, and the wait goes on within the request's bound.
    bool lateReplyPossible = false;
    // The instrument stayed silent after stop(): the rest of the queue is
    // written without waiting for replies.
    bool silentWhileStopping = false;
    QWaitCondition workAvailable; // wakes an idle exchange (queue empty, poll suppressed)

    // Polls parked by enqueue without the link's lock, guarded by pollMutex.
    QMutex pollMutex;
    QString parkedAngle;   // TMC_GetAngle5 line, empty when none
    QString parkedTemp;    // CSV_GetIntTemp line, empty when none
};
