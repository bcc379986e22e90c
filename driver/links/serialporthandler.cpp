#include "serialporthandler.h"

#include "geocom.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSerialPort>

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
    lastError = tr("Port error %1: %2").arg(settings.portName, port->errorString());
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

void SerialPortHandler::enqueue(RPC rpc, const QList<QVariant> &parameters)
{
    const QString line = GeoCom::buildRequest(rpc, parameters);
    if (isPollRpc(rpc)) {
        QMutexLocker locker(&pollMutex);
        (rpc == TMC_GetAngle5 ? parkedAngle : parkedTemp) = line;
        workAvailable.wakeAll();
        return;
    }
    OwnerLocker locker(this);
    queue.append(qMakePair(rpc, line));
    workAvailable.wakeAll();
}

void SerialPortHandler::setBasePointMode(bool on)
{
    OwnerLocker locker(this);
    basePointMode = on;
}

void SerialPortHandler::stop()
{
    stopping.storeRelease(1);
    workAvailable.wakeAll();
    AbstractHandler<RequestItem>::stop();
}

void SerialPortHandler::takeOverPolls()
{
    QString angle, temp;
    {
        QMutexLocker locker(&pollMutex);
        angle.swap(parkedAngle);
        temp.swap(parkedTemp);
    }
    // The main window's poll only runs when the link has nothing else to do.
    if (stopping.loadAcquire() || awaitingReply || motorActive || !queue.isEmpty())
        return;
    if (!angle.isEmpty())
        queue.append(qMakePair(TMC_GetAngle5, angle));
    if (!temp.isEmpty())
        queue.append(qMakePair(CSV_GetIntTemp, temp));
}

void SerialPortHandler::exchange()
{
    if (portBroken)
        return;
    takeOverPolls();
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
    }
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
    if (!portBroken) {
        portBroken = true;
        emit errorResponse(tr("Port error %1: %2").arg(portLabel, port->errorString()));
    }
    return true;
}

void SerialPortHandler::writeNext()
{
    if (queue.isEmpty() || portBroken)
        return;
    const RequestItem item = queue.takeFirst();
    lastRpc = item.first;

    // Whatever is still in the input is a late answer to an earlier request;
    // it must not be taken for the answer to this one.
    qint64 discarded = 0;
    for (int i = 0; i < 64 && port->waitForReadyRead(0); ++i)
        discarded += port->readAll().size();
    discarded += port->readAll().size();
    if (discarded > 0)
        lateReplyPossible = false;
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
    // Failed polls are normal (no distance yet, telescope moving).
    if (!GeoCom::isPoll(lastRpc))
        emit errorResponse(tr("Command error %1: error code %2").arg(qint32(lastRpc)).arg(code));
}

void SerialPortHandler::readReply()
{
    if (!awaitingReply)
        return;
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
                    awaitingReply = false;
                    lateReplyPossible = false;
                    parseReply(QString::fromUtf8(line));
                    return;
                }
            }
        }
        const bool stopRequestedNow = stopping.loadAcquire();
        qint64 limit = replyTimeoutMs;
        if (stopRequestedNow)
            limit = silentWhileStopping ? 0 : qMin(stopReplyTimeoutMs, replyTimeoutMs);
        // Once a line is in, only the grace slice is left to wait.
        const qint64 left = grace.isValid() ? kReadSliceMs - grace.elapsed() : limit - clock.elapsed();
        if (left <= 0 && !grace.isValid()) {
            awaitingReply = false;
            // A stop that cut the wait short is no failure of the instrument.
            if (stopRequestedNow && clock.elapsed() >= stopReplyTimeoutMs)
                silentWhileStopping = true;
            if (!stopRequestedNow) {
                lateReplyPossible = true;
                failRequest(kNoReplyCode);
            }
            return;
        }
        if (left > 0)
            port->waitForReadyRead(int(qBound<qint64>(1, left, kReadSliceMs)));
        buffer += port->readAll();
        if (portFailed()) {
            awaitingReply = false;
            return;
        }
    }
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
    if (basePointMode && (rpc == BAP_MeasDistanceAngle || rpc == TMC_GetSimpleMea)) {
        emit receivedBasePoint(pair);
        if (rpc == BAP_MeasDistanceAngle) {
            queue.prepend(qMakePair(TMC_DoMeasure, GeoCom::buildRequest(TMC_DoMeasure, {3, 1})));
            writeNext();
            readReply();
        }
        return;
    }
    emit responseReceived(pair);
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
