#include "serialporthandler.h"

#include "geocom.h"
#include "instrumentport.h"

#include <QMutexLocker>
#include <QSerialPort>
#include <QTimer>

#include <limits>

namespace {
// GeoCOM's own return codes for what the link itself finds wrong with a
// reply; reported with the same text as an error reply from the instrument.
const int kNoReplyCode = 3077;      // GRC_COM_TIMEDOUT
const int kCantDecodeCode = 3074;   // GRC_COM_CANT_DECODE
// How long a reply without a transaction id is held, after a time-out,
// before it is taken: a late reply and the current one may come together.
const int kGraceMs = 100;
// Least time between two tracking polls.
const int kTrackingPollMs = 50;
// A clear that failed is tried again after this long when the link is idle.
const int kClearRetryMs = 1000;
// Transaction ids run from 1 to this and wrap.
const int kMaxTransactionId = 7;
// A base-point mode change, queued in order with the requests; its text is
// "1" (on) or "0". Never written to the line.
const RPC kModeChange = RPC(-2);
// The link's own clearing of a delivered distance (TMC_DoMeasure 3,1); unlike
// the owner's, it does not end tracking.
const RPC kOwnClear = RPC(-3);
} // namespace

SerialPortHandler::SerialPortHandler() : AbstractHandler<RequestItem>(nullptr)
{
    registerInstrumentMetaTypes();
}

SerialPortHandler::~SerialPortHandler()
{
    // The owner stops the thread first; the line belongs to the thread.
    if (!isRunning())
        closeDevice();
}

bool SerialPortHandler::openPort(const PortSettings &portSettings)
{
    settings = portSettings;
    network = InstrumentPort::isNetworkName(settings.portName);
    if (InstrumentPort::isMalformedNetworkName(settings.portName)) {
        setLastError(tr("Port error %1: %2")
                         .arg(settings.portName.trimmed(),
                              tr("not a network address of the form host:port (port 1 to 65535)")));
        return false;
    }
    return true;
}

void SerialPortHandler::queueStartupRequests()
{
    queue.append(qMakePair(CSV_GetInstrumentNo, GeoCom::buildRequest(CSV_GetInstrumentNo, {})));
    queue.append(qMakePair(CSV_GetInstrumentName, GeoCom::buildRequest(CSV_GetInstrumentName, {})));
    queue.append(qMakePair(CSV_GetIntTemp, GeoCom::buildRequest(CSV_GetIntTemp, {})));
    queue.append(qMakePair(TMC_GetEdmMode, GeoCom::buildRequest(TMC_GetEdmMode, {})));
    queue.append(qMakePair(TMC_DoMeasure, GeoCom::buildRequest(TMC_DoMeasure, {3, 1})));
    queue.append(qMakePair(EDM_Laserpointer, GeoCom::buildRequest(EDM_Laserpointer, {0})));
}

bool SerialPortHandler::isPollRpc(RPC rpc)
{
    return rpc == TMC_GetAngle5 || rpc == CSV_GetIntTemp;
}

int SerialPortHandler::replyTimeoutFor(RPC rpc) const
{
    switch (rpc) {
    case BAP_MeasDistanceAngle:
    case TMC_QuickDist:
    case AUT_FineAdjust:
        return replyTimeoutMs;
    default:
        return quickReplyTimeout();
    }
}

void SerialPortHandler::enqueue(RPC rpc, const QList<QVariant> &parameters)
{
    const QString line = GeoCom::buildRequest(rpc, parameters);
    if (isPollRpc(rpc)) {
        {
            QMutexLocker locker(&pollMutex);
            (rpc == TMC_GetAngle5 ? parkedAngle : parkedTemp) = line;
        }
        wake();
    } else {
        post(qMakePair(rpc, line));
    }
}

void SerialPortHandler::setBasePointMode(bool on)
{
    // Posted with the requests: it applies from the next request enqueued
    // after it, never to one enqueued before.
    post(qMakePair(kModeChange, on ? QStringLiteral("1") : QStringLiteral("0")));
}

QString SerialPortHandler::portFailureText(const QString &portName, int serialPortError,
                                           const QString &systemText, bool stillThere)
{
    QString reason = systemText.trimmed();
    const bool saysNothing = reason.isEmpty()
                             || reason.compare(QLatin1String("Unknown error"), Qt::CaseInsensitive) == 0;
    if (!stillThere) {
        const QString gone = tr("the port is gone (USB adapter unplugged or terminal closed)");
        reason = saysNothing ? gone : gone + QStringLiteral(": ") + reason;
    } else if (saysNothing) {
        reason = serialPortError == QSerialPort::ResourceError
                     ? tr("the device stopped answering (cable or adapter disconnected?)")
                     : tr("the port failed (error %1)").arg(serialPortError);
    }
    return tr("Port error %1: %2").arg(portName, reason);
}

// --- the link's thread ---------------------------------------------------------

bool SerialPortHandler::openDevice()
{
    QObject *ctx = loopContext();
    auto makeTimer = [ctx] {
        auto *t = new QTimer(ctx);
        t->setSingleShot(true);
        t->setTimerType(Qt::PreciseTimer);
        return t;
    };
    replyTimer = makeTimer();
    graceTimer = makeTimer();
    pollTimer = makeTimer();
    connect(replyTimer, &QTimer::timeout, ctx, [this] {
        replyTimedOut();
        serve();
    });
    connect(graceTimer, &QTimer::timeout, ctx, [this] {
        shapeGraceOver();
        serve();
    });
    connect(pollTimer, &QTimer::timeout, ctx, [this] { serve(); });

    port = InstrumentPort::create(settings);
    connect(port, &InstrumentPort::opened, ctx, [this] {
        lineOpen = true;
        emit opened();
        serve();
    });
    connect(port, &InstrumentPort::readyRead, ctx, [this] {
        readReply();
        serve();
    });
    connect(port, &InstrumentPort::failed, ctx, [this](const QString &text, bool whileOpening) {
        onLineFailed(text, whileOpening);
        serve();
    });
    port->open();
    return true;
}

void SerialPortHandler::onLineFailed(const QString &text, bool whileOpening)
{
    if (lineFailed)
        return;
    lineFailed = true;
    setLastError(text);
    replyTimer->stop();
    graceTimer->stop();
    pollTimer->stop();
    if (whileOpening)
        emit openFailed(text);
    else
        emit portLost(text);
}

bool SerialPortHandler::checkError()
{
    // The link ends its loop by itself only when its line failed; that has
    // been reported through openFailed or portLost.
    return lineFailed;
}

bool SerialPortHandler::drained() const
{
    if (lineFailed || !lineOpen)
        return true;
    return queue.isEmpty() && !awaitingReply;
}

void SerialPortHandler::collectPosted()
{
    QString angle, temp;
    {
        QMutexLocker locker(&pollMutex);
        angle.swap(parkedAngle);
        temp.swap(parkedTemp);
    }
    const QList<RequestItem> posted = takeInbox();
    // The main window's poll only runs when the link has nothing else to do.
    if (!isStopRequested() && lineOpen && !awaitingReply && !motorActive && queue.isEmpty()
        && posted.isEmpty()) {
        if (!angle.isEmpty())
            queue.append(qMakePair(TMC_GetAngle5, angle));
        if (!temp.isEmpty())
            queue.append(qMakePair(CSV_GetIntTemp, temp));
    }
    queue.append(posted);
}

void SerialPortHandler::exchange()
{
    if (!lineOpen || lineFailed)
        return;
    if (awaitingReply) {
        // A stop shortens the wait that is running.
        if (isStopRequested() && !graceTimer->isActive()) {
            const int limit = silentWhileStopping ? 0
                              : isHardStop()      ? qMin(stopReplyTimeoutMs, requestBound)
                                                  : requestBound;
            if (limit < armedLimit)
                armReplyTimer(limit);
        }
        return;
    }
    writeNext();
}

void SerialPortHandler::writeNext()
{
    RequestItem item;
    while (!awaitingReply && !lineFailed && nextRequest(&item))
        writeRequest(item);
}

bool SerialPortHandler::nextRequest(RequestItem *item)
{
    const auto takeModeChanges = [this] {
        while (!queue.isEmpty() && queue.first().first == kModeChange)
            basePointMode = queue.takeFirst().second == QLatin1String("1");
    };
    takeModeChanges();
    const bool stopping = isStopRequested();
    const RequestItem clear(kOwnClear, GeoCom::buildRequest(TMC_DoMeasure, {3, 1}));

    if (tracking && !motorActive && !stopping) {
        const qint64 since = lastPoll.isValid() ? lastPoll.elapsed() : std::numeric_limits<qint64>::max();
        if (since >= kTrackingPollMs && (!lastWasPoll || queue.isEmpty())) {
            lastWasPoll = true;
            lastPoll.start();
            // While a delivered distance is not cleared, the poll's place
            // goes to the clear: a poll could report that distance again.
            *item = distanceUncleared
                        ? clear
                        : RequestItem(TMC_GetSimpleMea, GeoCom::buildRequest(TMC_GetSimpleMea, {0, 1}));
            return true;
        }
        if (queue.isEmpty())
            scheduleTimer(pollTimer, kTrackingPollMs - since);
    }
    if (!queue.isEmpty()) {
        lastWasPoll = false;
        *item = queue.takeFirst();
        return true;
    }
    // Idle: a clear that failed is tried again now and then.
    if (distanceUncleared && clearFailureReported && !stopping) {
        const qint64 since = lastClearTry.isValid() ? lastClearTry.elapsed() : kClearRetryMs;
        if (since >= kClearRetryMs) {
            *item = clear;
            return true;
        }
        scheduleTimer(pollTimer, kClearRetryMs - since);
    }
    return false;
}

int SerialPortHandler::nextTransactionId()
{
    for (int i = 0; i < kMaxTransactionId; ++i) {
        lastIdUsed = lastIdUsed % kMaxTransactionId + 1;
        if (!lateIds.contains(lastIdUsed))
            return lastIdUsed;
    }
    // Every id waits for a late reply: the oldest hopes are given up.
    lateIds.clear();
    lastIdUsed = lastIdUsed % kMaxTransactionId + 1;
    return lastIdUsed;
}

void SerialPortHandler::writeRequest(const RequestItem &item)
{
    RPC rpc = item.first;
    ownClear = rpc == kOwnClear;
    if (ownClear)
        rpc = TMC_DoMeasure;
    // A single distance measurement ends the instrument's tracking, and so
    // does the owner's clear; a quick distance starts it.
    if (rpc == TMC_QuickDist)
        tracking = true;
    else if ((rpc == TMC_DoMeasure && !ownClear) || rpc == BAP_MeasDistanceAngle)
        tracking = false;

    requestId = useIds ? nextTransactionId() : 0;
    const QString line = requestId ? GeoCom::withTransactionId(item.second, requestId) : item.second;
    lastRpc = rpc;
    port->write(line.toUtf8());
    if (lineFailed)
        return;
    if (isStopRequested() && silentWhileStopping)
        return; // the instrument stayed silent: no reply is awaited
    awaitingReply = true;
    requestBound = replyTimeoutFor(rpc);
    requestClock.start();
    armReplyTimer(isHardStop() ? qMin(stopReplyTimeoutMs, requestBound) : requestBound);
}

void SerialPortHandler::armReplyTimer(int limit)
{
    armedLimit = limit;
    replyTimer->start(int(qMax<qint64>(0, limit - requestClock.elapsed())));
}

void SerialPortHandler::scheduleTimer(QTimer *timer, qint64 ms)
{
    ms = qMax<qint64>(0, ms);
    if (!timer->isActive() || timer->remainingTime() > ms)
        timer->start(int(ms));
}

void SerialPortHandler::readReply()
{
    QByteArray chunk = port->readAll();
    if (staleTail && !chunk.isEmpty()) {
        const int nl = chunk.indexOf('\n');
        if (nl < 0) {
            chunk.clear();
        } else {
            chunk.remove(0, nl + 1);
            staleTail = false;
        }
    }
    input += chunk;
    int nl;
    while (!lineFailed && (nl = input.indexOf('\n')) >= 0) {
        const QByteArray line = input.left(nl).trimmed();
        input.remove(0, nl + 1);
        if (!line.isEmpty())
            handleLine(line);
    }
}

void SerialPortHandler::handleLine(const QByteArray &line)
{
    const int id = GeoCom::replyTransactionId(line);
    if (!awaitingReply) {
        // Nothing was asked: the late answer of a request that timed out.
        if (id > 0)
            lateIds.remove(id);
        else
            lateReplyPossible = false;
        return;
    }
    if (id > 0 && requestId > 0) {
        if (id == requestId) {
            answer(line);
        } else {
            // Another request's answer, come too late: never this one's.
            lateIds.remove(id);
            if (lateIds.isEmpty())
                lateReplyPossible = false;
        }
        return;
    }
    matchByShape(line);
}

// A reply without an id (an instrument that ignores them, or no GeoCOM reply
// at all): after a time-out it is held for a grace period, in case the late
// reply and this one's come together; the last line is the answer.
void SerialPortHandler::matchByShape(const QByteArray &line)
{
    if (graceTimer->isActive()) {
        graceLines << line;
        return;
    }
    if (lateReplyPossible) {
        graceLines = {line};
        graceTimer->start(kGraceMs);
        return;
    }
    answer(line);
}

void SerialPortHandler::shapeGraceOver()
{
    const QList<QByteArray> lines = graceLines;
    graceLines.clear();
    if (!awaitingReply || lines.isEmpty())
        return;
    lateReplyPossible = false;
    // A lone line that cannot answer this request is the late answer to an
    // earlier one: skipped, and the wait goes on within the bound.
    if (lines.size() == 1 && !GeoCom::fitsRequest(lastRpc, QString::fromUtf8(lines.first()))) {
        if (!replyTimer->isActive())
            replyTimedOut();
        return;
    }
    answer(lines.last());
}

void SerialPortHandler::answer(const QByteArray &line)
{
    replyTimer->stop();
    graceTimer->stop();
    graceLines.clear();
    awaitingReply = false;
    lateReplyPossible = false;
    parseReply(QString::fromUtf8(line));
}

void SerialPortHandler::replyTimedOut()
{
    if (!awaitingReply || graceTimer->isActive())
        return;
    awaitingReply = false;
    // The head of a reply that came too late: its tail, when it comes, is
    // discarded up to its line end.
    if (!input.isEmpty()) {
        staleTail = true;
        input.clear();
    }
    const bool stopping = isStopRequested();
    if (stopping && requestClock.elapsed() >= qMin(stopReplyTimeoutMs, requestBound))
        silentWhileStopping = true;
    // A stop that cut the wait short is no failure of the instrument.
    if (stopping && armedLimit < requestBound)
        return;
    lateReplyPossible = true;
    if (requestId > 0)
        lateIds.insert(requestId);
    // A distance may still be measured and held by the instrument.
    if (lastRpc == BAP_MeasDistanceAngle || lastRpc == TMC_QuickDist || lastRpc == TMC_GetSimpleMea)
        distanceUncleared = true;
    failRequest(kNoReplyCode);
}

void SerialPortHandler::failRequest(int code)
{
    if (lastRpc == TMC_DoMeasure) {
        lastClearTry.start();
        // Retried until it succeeds; told once.
        const bool told = clearFailureReported;
        clearFailureReported = true;
        if (told && ownClear)
            return;
    }
    // Failed polls are normal (no distance yet, telescope moving).
    if (GeoCom::isPoll(lastRpc))
        return;
    const QString text = tr("Command error %1: error code %2").arg(qint32(lastRpc)).arg(code);
    emit commandFailed(lastRpc, code, text);
    if (basePointMode && lastRpc == BAP_MeasDistanceAngle)
        emit basePointFailed(code, text);
    else
        emit errorResponse(text);
}

void SerialPortHandler::parseReply(const QString &reply)
{
    const RPC rpc = lastRpc;
    const GeoCom::Reply decoded = GeoCom::decodeReply(rpc, reply);
    switch (decoded.status) {
    case GeoCom::Reply::ErrorCode:
        failRequest(decoded.returnCode);
        return;
    case GeoCom::Reply::Incomplete:
    case GeoCom::Reply::Unreadable:
        failRequest(kCantDecodeCode);
        return;
    case GeoCom::Reply::Ok:
        break;
    }

    switch (rpc) {
    case TMC_DoMeasure:
        distanceUncleared = false;
        clearFailureReported = false;
        break;
    case MOT_StartController:
    case MOT_SetVelocity:
        motorActive = true;
        break;
    case MOT_StopController:
        motorActive = false;
        break;
    case AUT_FineAdjust:
        queue.append(qMakePair(AUT_LockIn, GeoCom::buildRequest(AUT_LockIn, {})));
        break;
    default:
        break;
    }

    if (!decoded.payload.isValid())
        return;
    // A distance the poll finds outside tracking (or before the last one was
    // cleared) was nobody's measurement.
    if (rpc == TMC_GetSimpleMea && (!tracking || distanceUncleared))
        return;
    const ReplyPair pair(rpc, decoded.payload);
    if (basePointMode && (rpc == BAP_MeasDistanceAngle || rpc == TMC_GetSimpleMea))
        emit receivedBasePoint(pair);
    else
        emit responseReceived(pair);
    // The instrument keeps a measured distance until it is cleared; the clear
    // goes out next, and no poll reports a distance before it succeeded.
    if (rpc == BAP_MeasDistanceAngle || rpc == TMC_GetSimpleMea) {
        distanceUncleared = true;
        queue.prepend(RequestItem(kOwnClear, GeoCom::buildRequest(TMC_DoMeasure, {3, 1})));
    }
}

void SerialPortHandler::closeDevice()
{
    if (port) {
        port->close();
        delete port;
        port = nullptr;
    }
    // The timers belong to the loop's context, which goes after this.
    replyTimer = graceTimer = pollTimer = nullptr;
    lineOpen = false;
}
