#include "serialporthandler.h"

#include "geocom.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSerialPort>
#include <QSerialPortInfo>

namespace {
// GeoCOM's own return codes for what the link itself finds wrong with a
// reply; reported with the same text as an error reply from the instrument.
const int kNoReplyCode = 3077;      // GRC_COM_TIMEDOUT
const int kCantDecodeCode = 3074;   // GRC_COM_CANT_DECODE
// Longest single wait on the port; the stop request is looked at between
// slices.
const int kReadSliceMs = 100;
// An exchange with nothing to write (motor running, queue empty) sleeps at
// most this long before it looks again; enqueue wakes it earlier.
const int kIdleWaitMs = 50;
// A base-point mode change, queued in order with the requests; its text is
// "1" (on) or "0". Never written to the port.
const RPC kModeChange = RPC(-2);
} // namespace

SerialPortHandler::SerialPortHandler() : AbstractHandler<RequestItem>(nullptr)
{
    registerInstrumentMetaTypes();
}

SerialPortHandler::~SerialPortHandler()
{
    // The owner stops the thread first; a handler that never started still
    // owns its port.
    if (!isRunning())
        closeDevice();
}

bool SerialPortHandler::openPort(const PortSettings &settings)
{
    port = new QSerialPort;
    portLabel = settings.portName;
    port->setPortName(settings.portName);
    port->setBaudRate(settings.baudRate, QSerialPort::AllDirections);
    port->setDataBits(settings.dataBits);
    port->setParity(settings.parity);
    port->setStopBits(settings.stopBits);
    port->setFlowControl(settings.flowControl);
    if (port->open(QIODevice::ReadWrite)) {
        port->moveToThread(this);
        return true;
    }
    setLastError(tr("Port error %1: %2").arg(settings.portName, port->errorString()));
    closeDevice();
    return false;
}

void SerialPortHandler::queueStartupRequests()
{
    queue.append(qMakePair(CSV_GetInstrumentNo, GeoCom::buildRequest(CSV_GetInstrumentNo, {})));
    queue.append(qMakePair(CSV_GetInstrumentName, GeoCom::buildRequest(CSV_GetInstrumentName, {})));
    queue.append(qMakePair(CSV_GetIntTemp, GeoCom::buildRequest(CSV_GetIntTemp, {})));
    queue.append(qMakePair(TMC_GetEdmMode, GeoCom::buildRequest(TMC_GetEdmMode, {})));
    queue.append(qMakePair(TMC_DoMeasure, GeoCom::buildRequest(TMC_DoMeasure, {3, 1})));
    queue.append(qMakePair(EDM_Laserpointer, GeoCom::buildRequest(EDM_Laserpointer, {0})));
    startupPending = true;
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
        QMutexLocker locker(&pollMutex);
        (rpc == TMC_GetAngle5 ? parkedAngle : parkedTemp) = line;
    } else {
        post(qMakePair(rpc, line));
    }
    workAvailable.wakeAll();
}

void SerialPortHandler::setBasePointMode(bool on)
{
    // Posted with the requests: it applies from the next request enqueued
    // after it, never to one enqueued before.
    post(qMakePair(kModeChange, on ? QStringLiteral("1") : QStringLiteral("0")));
    workAvailable.wakeAll();
}

void SerialPortHandler::requestStop()
{
    stopping.testAndSetOrdered(0, 1);
    workAvailable.wakeAll();
    AbstractHandler<RequestItem>::requestStop();
}

void SerialPortHandler::stop()
{
    stopping.storeRelease(2);
    workAvailable.wakeAll();
    AbstractHandler<RequestItem>::stop();
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
    if (!stopping.loadAcquire() && !awaitingReply && !motorActive && queue.isEmpty()
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
    if (portBroken)
        return;
    bool wrote = false;
    if (!motorActive && !startupPending && !stopping.loadAcquire()) {
        queue.prepend(qMakePair(TMC_GetSimpleMea, GeoCom::buildRequest(TMC_GetSimpleMea, {0, 1})));
        writeNext();
        readReply();
        wrote = true;
        if (portBroken)
            return;
    }
    if (!queue.isEmpty()) {
        writeNext();
        readReply();
        wrote = true;
    }
    if (!wrote && !stopping.loadAcquire()) {
        // Nothing to send: wait for an enqueue instead of spinning. The wait
        // releases the lock, so the GUI thread can queue meanwhile.
        workAvailable.wait(&mutex, kIdleWaitMs);
        checkIdlePort();
    }
}

// An idle pass does no I/O of its own (motor running, polls off), so a port
// that went away would go unnoticed until the next request.
void SerialPortHandler::checkIdlePort()
{
    if (!port || portBroken)
        return;
    // Lets the port see a hang-up; what it takes in is a late reply, which
    // the next write discards.
    port->waitForReadyRead(0);
    if (portFailed())
        return;
    // Only a path is cheap to look at on every idle pass; a named port
    // (COMx) is not enumerated here and relies on its own error.
    if (portLabel.startsWith(QLatin1Char('/')) && !portStillThere())
        reportPortLost(QSerialPort::ResourceError, QString(), false);
}

bool SerialPortHandler::portFailed()
{
    if (!port)
        return true;
    switch (port->error()) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::UnsupportedOperationError:
    case QSerialPort::ParityError:
    case QSerialPort::FramingError:
    case QSerialPort::BreakConditionError:
        port->clearError();
        return false;
    default:
        break;
    }
    if (!portBroken)
        reportPortLost(int(port->error()), port->errorString(), portStillThere());
    return true;
}

bool SerialPortHandler::portStillThere() const
{
    if (portLabel.startsWith(QLatin1Char('/')))
        return QFileInfo::exists(portLabel);
    return !QSerialPortInfo(portLabel).isNull();
}

void SerialPortHandler::reportPortLost(int serialPortError, const QString &systemText, bool stillThere)
{
    if (portBroken)
        return;
    portBroken = true;
    const QString text = portFailureText(portLabel, serialPortError, systemText, stillThere);
    setLastError(text);
    emit portLost(text);
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

void SerialPortHandler::writeNext()
{
    while (!queue.isEmpty() && queue.first().first == kModeChange)
        basePointMode = queue.takeFirst().second == QLatin1String("1");
    if (queue.isEmpty() || portBroken)
        return;
    const RequestItem item = queue.takeFirst();
    lastRpc = item.first;

    // Whatever is still in the input is a late answer to an earlier request
    // (or the tail of one that timed out half read); it must not be taken
    // for the answer to this one.
    QByteArray pending;
    for (int i = 0; i < 64 && port->waitForReadyRead(0); ++i)
        pending += port->readAll();
    pending += port->readAll();
    if (!pending.isEmpty()) {
        lateReplyPossible = false;
        staleTail = !pending.endsWith('\n');
    }
    if (portFailed())
        return;

    const QByteArray bytes = item.second.toUtf8();
    if (port->write(bytes) != bytes.size()) {
        portFailed();
        if (portBroken)
            return;
    }
    port->waitForBytesWritten(kReadSliceMs);
    if (portFailed())
        return;
    awaitingReply = true;
}

void SerialPortHandler::failRequest(int code)
{
    // A failed start-up clear must not keep the distance poll off for the
    // whole connection.
    if (lastRpc == TMC_DoMeasure)
        startupPending = false;
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

void SerialPortHandler::readReply()
{
    if (!awaitingReply)
        return;
    const int bound = replyTimeoutFor(lastRpc);
    QByteArray buffer;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer grace;  // started at the first line when a late reply may come
    for (;;) {
        if (buffer.endsWith('\n') || grace.isValid()) {
            const QByteArray line = GeoCom::lastCompleteLine(buffer);
            if (!line.isEmpty()) {
                if (lateReplyPossible && !grace.isValid())
                    grace.start();
                if (!grace.isValid() || grace.elapsed() >= kReadSliceMs) {
                    // A lone line that is no answer to this request, while
                    // an earlier one may still answer late, is that late
                    // answer: skipped, and the wait goes on within the bound.
                    if (lateReplyPossible && buffer.count('\n') == 1
                        && !GeoCom::fitsRequest(lastRpc, QString::fromUtf8(line))) {
                        lateReplyPossible = false;
                        grace.invalidate();
                        buffer.remove(0, buffer.lastIndexOf('\n') + 1);
                        continue;
                    }
                    awaitingReply = false;
                    lateReplyPossible = false;
                    parseReply(QString::fromUtf8(line));
                    return;
                }
            }
        }
        // requestStop() leaves the wait its bound; stop() cuts it short.
        // Once the instrument stayed silent during a stop, the rest of the
        // queue goes out without waiting.
        const int stopMode = stopping.loadAcquire();
        qint64 limit = bound;
        if (stopMode != 0 && silentWhileStopping)
            limit = 0;
        else if (stopMode == 2)
            limit = qMin(stopReplyTimeoutMs, bound);
        // Once a line is in, only the grace slice is left to wait.
        const qint64 left = grace.isValid() ? kReadSliceMs - grace.elapsed() : limit - clock.elapsed();
        if (left <= 0 && !grace.isValid()) {
            awaitingReply = false;
            if (stopMode != 0 && clock.elapsed() >= qMin<qint64>(stopReplyTimeoutMs, bound))
                silentWhileStopping = true;
            // The head of a reply that came too late: its tail, when it
            // comes, is discarded up to its line end.
            if (!buffer.isEmpty() && !buffer.endsWith('\n'))
                staleTail = true;
            // A stop that cut the wait short is no failure of the instrument.
            if (limit == bound) {
                lateReplyPossible = true;
                failRequest(kNoReplyCode);
            }
            return;
        }
        if (left > 0)
            port->waitForReadyRead(int(qBound<qint64>(1, left, kReadSliceMs)));
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
        buffer += chunk;
        if (portFailed()) {
            awaitingReply = false;
            return;
        }
    }
}

void SerialPortHandler::clearDistanceNow()
{
    queue.prepend(qMakePair(TMC_DoMeasure, GeoCom::buildRequest(TMC_DoMeasure, {3, 1})));
    writeNext();
    readReply();
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
    case TMC_GetSimpleMea:
        queue.prepend(qMakePair(TMC_DoMeasure, GeoCom::buildRequest(TMC_DoMeasure, {3, 1})));
        break;
    case TMC_DoMeasure:
        startupPending = false;
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
    const ReplyPair pair(rpc, decoded.payload);
    if (basePointMode && (rpc == BAP_MeasDistanceAngle || rpc == TMC_GetSimpleMea))
        emit receivedBasePoint(pair);
    else
        emit responseReceived(pair);
    // The instrument keeps a measured distance until it is cleared; cleared
    // in this exchange, the next poll cannot report it again.
    if (rpc == BAP_MeasDistanceAngle)
        clearDistanceNow();
}

bool SerialPortHandler::checkError()
{
    // The link ends its loop by itself only when the port failed underneath
    // it; that failure has been reported through errorResponse.
    return portBroken;
}

void SerialPortHandler::closeDevice()
{
    if (!port)
        return;
    if (port->isOpen())
        port->close();
    delete port;
    port = nullptr;
}
