#include "client.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <iterator>

using namespace ServerMessages;

namespace {
// Longest single wait on the socket while reading: a queued block or an
// owner waiting for the lock ends the read wait within this time.
constexpr int ReadSliceMs = 2;
// Total read wait of one pass when nothing is queued.
constexpr int ReadWaitMs = 100;
} // namespace

Client::Client(const QString &appName, QObject *parent)
    : AbstractHandler<QByteArray>(parent), appName(appName)
{
    registerServerMetaTypes();
}

Client::~Client()
{
    // Only reached with the socket still here when the thread never ran.
    delete socket;
}

bool Client::connectToServer(const QString &host, quint16 port)
{
    socket = new QTcpSocket;
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (socket->waitForConnected(1000)) {
        // Small blocks go out at once instead of waiting for the peer's ack.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Emitted inside the link's socket waits, in its thread.
        connect(socket, &QIODevice::readyRead, socket, [this] { takeInput(); }, Qt::DirectConnection);
        socket->moveToThread(this);
        return true;
    }
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->abort();
    delete socket;
    socket = nullptr;
    return false;
}

bool Client::queueOrRefuse(const QByteArray &block, const QString &refusal)
{
    if (!block.isEmpty()) {
        if (post(block))
            return true;
        setLastError(tr("There is no connection to the server"));
        return false;
    }
    setLastError(refusal);
    // A warning, not a network error: the connection itself is fine. It is
    // shown from the event loop, never inside the caller.
    QMetaObject::invokeMethod(this, [this, refusal] { reportError(refusal, ErrorInfo::Warning); },
                              Qt::QueuedConnection);
    return false;
}

bool Client::sendDevice(const QString &session, const QString &group, const QString &device)
{
    setNames({session, group, device});
    return queueOrRefuse(encodeGreeting(), QString());
}

bool Client::sendSessionName(const QString &name)
{
    // Recorded before the message is posted: the server's acceptance may be
    // handled before post() has even returned. A name too long to send is
    // refused before it is recorded.
    const QByteArray block = encodeSessionName(name);
    QString previous;
    if (!block.isEmpty()) {
        QMutexLocker locker(&namesMutex);
        previous = lastSentSessionName;
        lastSentSessionName = name;
    }
    const bool queued = queueOrRefuse(block, tr("The session name is too long to send"));
    if (!queued && !block.isEmpty()) {
        QMutexLocker locker(&namesMutex);
        lastSentSessionName = previous;
    }
    return queued;
}

bool Client::sendPoint(const MeasuringPoint &pt)
{
    return queueOrRefuse(encodePoint(pt), tr("The point's names are too long to send"));
}

bool Client::sendBasePointSet(const QVector<MeasuringPoint> &measured,
                              const QVector<MeasuringPoint> &known,
                              const QVector<double> &weights)
{
    QString error;
    const QByteArray block = encodeBasePointSet(measured, known, weights, &error);
    return queueOrRefuse(block, error);
}

void Client::setSessionName(const QString &name)
{
    QMutexLocker locker(&namesMutex);
    sessionName = name;
}

QString Client::sessionNameValue()
{
    QMutexLocker locker(&namesMutex);
    return sessionName;
}

Client::Names Client::names()
{
    QMutexLocker locker(&namesMutex);
    return {sessionName, groupName, deviceName};
}

void Client::setNames(const Names &names)
{
    QMutexLocker locker(&namesMutex);
    sessionName = names.session;
    groupName = names.group;
    deviceName = names.device;
}

void Client::reportError(const QString &text, ErrorInfo::Kind kind)
{
    ErrorInfo info;
    info.title = tr("Network information");
    info.text = text;
    info.icon = kind == ErrorInfo::Warning ? QMessageBox::Warning : QMessageBox::Critical;
    info.buttons = QMessageBox::Ok;
    info.kind = kind;
    emit errorInfo(info);
}

void Client::exchange()
{
    writeNext();
    readReply();
}

// A block the server does not take at once is carried on over the next
// passes (the owner may queue in between); only a write that makes no
// progress for writeTimeout() is a failure.
void Client::writeNext()
{
    if (!socket || !failure.isEmpty() || socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (socket->bytesToWrite() == 0) {
        if (queue.isEmpty())
            return;
        const QByteArray block = queue.takeFirst();
        if (socket->write(block) != block.size())
            return; // the socket's error tells checkError why
        stallTimer.start();
    }
    QElapsedTimer pass;
    pass.start();
    while (socket->bytesToWrite() > 0 && socket->state() == QAbstractSocket::ConnectedState) {
        const qint64 before = socket->bytesToWrite();
        socket->waitForBytesWritten(ReadSliceMs);
        if (socket->bytesToWrite() < before)
            stallTimer.start();
        else if (stallTimer.elapsed() >= writeTimeoutMs) {
            failure = tr("The server does not accept data");
            return;
        }
        if (hasPosted() || pass.elapsed() >= ReadWaitMs)
            return;
    }
}

void Client::takeInput()
{
    if (socket && socket->bytesAvailable() > 0)
        incoming.feed(socket->readAll());
}

void Client::readReply()
{
    if (!socket || !failure.isEmpty())
        return;
    QElapsedTimer timer;
    timer.start();
    // Wait for data in short slices; give the pass up early when there is
    // more to write or the owner has posted something.
    // Bytes of a block begun in an earlier pass are not new input.
    takeInput();
    const int had = incoming.pending();
    while (incoming.pending() == had) {
        // What came with a close is still read below.
        if (socket->state() != QAbstractSocket::ConnectedState)
            break;
        const bool busy = !queue.isEmpty() || socket->bytesToWrite() > 0 || hasPosted();
        const qint64 left = ReadWaitMs - timer.elapsed();
        if (busy || left <= 0) {
            socket->waitForReadyRead(0); // still take in what has arrived
            takeInput();
            break;
        }
        socket->waitForReadyRead(int(qMin<qint64>(left, ReadSliceMs)));
        takeInput();
    }
    readBlocks();
}

void Client::readBlocks()
{
    QByteArray payload;
    while (incoming.next(&payload))
        handleMessage(payload);
}

void Client::handleMessage(const QByteArray &payload)
{
    ServerMessage m;
    if (!decodeServerMessage(payload, &m))
        return; // malformed or not for the driver: the whole block is skipped
    switch (m.type) {
    case SessionExists: {
        ErrorInfo info;
        info.title = tr("Session error");
        info.text = tr("A session with that name already exists. Replace with: %1 ?").arg(m.texts[0]);
        info.icon = QMessageBox::Question;
        info.buttons = QMessageBox::Yes | QMessageBox::Cancel;
        info.kind = ErrorInfo::SessionConflict;
        info.args = QStringList{m.texts[0]};
        emit errorInfo(info);
        break;
    }
    case ConnectedToServer:
        emit connected();
        break;
    case PointInfo:
        {
            QMutexLocker locker(&namesMutex);
            sessionName = m.texts[0];
            groupName = m.texts[1];
            deviceName = m.texts[3];
        }
        emit newInfoMeasurement(m.texts[0], m.texts[1], m.texts[2], m.texts[3]);
        break;
    case GroupName:
        {
            QMutexLocker locker(&namesMutex);
            groupName = m.texts[0];
        }
        emit newGroupName(m.texts[0]);
        break;
    case BasePoint: {
        MeasuringPoint pt;
        pt.pointName = m.texts[0];
        pt.x = m.xyz[0];
        pt.y = m.xyz[1];
        pt.z = m.xyz[2];
        emit newBasePoint(pt);
        break;
    }
    case SessionAccepted:
        {
            // The server accepted the name last sent: later measurements in
            // that session must not send it again.
            QMutexLocker locker(&namesMutex);
            if (!lastSentSessionName.isNull())
                sessionName = lastSentSessionName;
        }
        emit successSetSessionName();
        break;
    case Matrix:
        emit newMatrix(m.matrix, QVector<double>(std::begin(m.values), std::end(m.values)));
        break;
    case Identify:
    {
        // The run loop holds the lock here.
        QByteArray block;
        {
            QMutexLocker locker(&namesMutex);
            block = encodeIdentification(appName, sessionName, groupName, deviceName);
        }
        if (!block.isEmpty())
            queue.append(block);
        break;
    }
    default:
        break;
    }
}

bool Client::checkError()
{
    if (!socket)
        return true;
    if (!failure.isEmpty()) {
        reportError(failure);
        return true;
    }
    // Messages that arrived before the close are handled before it is
    // reported.
    takeInput();
    readBlocks();
    QString text;
    switch (socket->error()) {
    case QAbstractSocket::UnknownSocketError:
    case QAbstractSocket::SocketTimeoutError:
        if (socket->state() == QAbstractSocket::ConnectedState)
            return false;
        // Gone without an error of its own: a closed connection all the same.
        Q_FALLTHROUGH();
    case QAbstractSocket::RemoteHostClosedError:
        text = tr("The server has closed the connection");
        emit disconnected();
        break;
    case QAbstractSocket::ConnectionRefusedError:
        text = tr("Connection rejected");
        break;
    case QAbstractSocket::HostNotFoundError:
        text = tr("The server at the specified address was not found");
        break;
    default:
        text = tr("Error: ") + socket->errorString();
        break;
    }
    reportError(text);
    return true;
}

void Client::dropUnsent(const QList<QByteArray> &blocks)
{
    for (const QByteArray &block : blocks) {
        DriverMessage m;
        if (block.size() >= 2 && decodeDriverMessage(block.mid(2), &m) && m.kind == DriverMessage::Point)
            emit pointNotSent(m.point);
    }
}

void Client::closeDevice()
{
    if (!socket)
        return;
    // After a stop, what is still in the socket's buffer goes out first,
    // within the same bound on stalls.
    QElapsedTimer stalled;
    stalled.start();
    while (failure.isEmpty() && socket->state() == QAbstractSocket::ConnectedState
           && socket->bytesToWrite() > 0 && stalled.elapsed() < writeTimeoutMs) {
        const qint64 before = socket->bytesToWrite();
        socket->waitForBytesWritten(ReadWaitMs);
        if (socket->bytesToWrite() < before)
            stalled.restart();
    }
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->abort();
    delete socket;
    socket = nullptr;
}
