#pragma once
// The instrument link: GeoCOM ASCII requests over a serial port, one request
// and one reply line at a time, from the handler's own thread.
//
// Every pass of the run loop polls TMC_GetSimpleMea (unless the motor runs or
// the start-up requests are still pending) and then serves one queued
// request. Replies are decoded by geocom.h and reported through the three
// signals, which the owner connects with Qt::QueuedConnection.
//
// Waiting for a reply is bounded (replyTimeout(), default 10 s, enough for
// the slowest distance measurement): a request without a complete reply in
// that time counts as failed and the next one goes out. Failures the link
// finds itself are reported like error replies, with GeoCOM's own codes:
// "Command error <rpc>: error code 3077" (no reply in time) and 3074 (a
// success reply with values missing or unreadable, or no GeoCOM reply at
// all); the three polls fail silently as they do on error replies. stop() ends a pending
// wait within one read slice (100 ms); what is still queued is written, each
// with a short reply wait only, so stop() returns promptly even when the
// instrument has gone silent. Input still pending before a write is a late
// reply and is discarded; when a read gathers several lines, the last one is
// the answer. A port that fails underneath the link (adapter
// unplugged) is reported once through errorResponse and ends the loop.

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

    // Formats the request line and queues it. Never blocks on the link for
    // the two requests of the main window's poll, TMC_GetAngle5 and
    // CSV_GetIntTemp: those are parked in a slot of their own (one per
    // procedure; a newer poll replaces an older one) without taking the
    // link's lock, and the link takes them over at the start of its next
    // exchange unless the motor is active or anything else is queued, in
    // which case the poll is dropped silently. Every other request takes the
    // link's lock and so waits until the current exchange has ended.
    // A parameter of a type other than int or double throws
    // std::runtime_error (a programming error).
    void enqueue(RPC rpc, const QList<QVariant> &parameters);

    // Routes measurement replies to receivedBasePoint while on.
    void setBasePointMode(bool on);

    // Ends a pending reply wait at once and lets the loop drain the queue
    // with short waits; returns when the loop has ended and the port is
    // closed.
    void stop() override;

    // Bound on the wait for one reply line, in ms. Set before start.
    void setReplyTimeout(int ms) { replyTimeoutMs = ms; }
    int replyTimeout() const { return replyTimeoutMs; }

signals:
    void errorResponse(QString error);
    void responseReceived(QPair<RPC, QVariant> value);
    void receivedBasePoint(QPair<RPC, QVariant> pair);

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
    void takeOverPolls();
    void failRequest(int code);
    bool portFailed();

    int replyTimeoutMs = 10000;
    int stopReplyTimeoutMs = 150;
    QAtomicInt stopping;   // set by stop() before it waits for the lock
    bool portBroken = false;
    QString portLabel;  // the port's name as the settings gave it
    // A request timed out and its reply may still come. The next read then
    // waits one slice longer after its first line and decodes the last one,
    // so the late reply is not taken for the answer to the request after it.
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
