#include "client.h"

#include <QDataStream>
#include <QTcpSocket>
#include <QTimer>

#include <iterator>

using namespace ServerMessages;

namespace {
// The greeting's block and the identification's type, as the link tells
// its blocks apart.
int blockType(const QByteArray &block)
{
    if (block == encodeGreeting())
        return -1;
    return block.size() >= 4 ? (uchar(block[2]) << 8 | uchar(block[3])) : -2;
}
} // namespace

Client::Client(const QString &appName, QObject *parent)
    : AbstractHandler<QByteArray>(parent), appName(appName)
{
    registerServerMetaTypes();
}

Client::~Client()
{
    // The socket belongs to the thread, which the owner has stopped.
    delete socket;
}

bool Client::connectToServer(const QString &serverHost, quint16 serverPort)
{
    host = serverHost.trimmed();
    port = serverPort;
    if (host.isEmpty()) {
        setLastError(tr("The server at the specified address was not found"));
        return false;
    }
    return true;
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
    {
        QMutexLocker locker(&namesMutex);
        sessionName = session;
        groupName = group;
        deviceName = device;
    }
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

bool Client::sendPoint(const MeasuringPoint &pt, bool again)
{
    const QByteArray block = encodePoint(pt);
    // The flag goes first: the link may write the point before post()
    // has even returned.
    if (!block.isEmpty()) {
        QMutexLocker locker(&namesMutex);
        postedAgain << again;
    }
    const bool queued = queueOrRefuse(block, tr("The point's names are too long to send"));
    if (!queued && !block.isEmpty()) {
        QMutexLocker locker(&namesMutex);
        postedAgain.removeLast();
    }
    return queued;
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

// --- the link's thread ---------------------------------------------------------

bool Client::openDevice()
{
    QObject *ctx = loopContext();
    auto makeTimer = [ctx](int ms) {
        auto *t = new QTimer(ctx);
        t->setSingleShot(true);
        t->setInterval(ms);
        return t;
    };
    connectTimer = makeTimer(connectTimeoutMs);
    stallTimer = makeTimer(writeTimeoutMs);
    identifyTimer = makeTimer(identifyWaitMs);
    connect(connectTimer, &QTimer::timeout, ctx, [this] {
        if (phase == Connecting) {
            timedOut = true;
            socket->abort();
        }
        serve();
    });
    connect(stallTimer, &QTimer::timeout, ctx, [this] {
        if (socket->bytesToWrite() > 0)
            failure = tr("The server does not accept data");
        serve();
    });
    connect(identifyTimer, &QTimer::timeout, ctx, [this] {
        if (!identified)
            queueIdentification();
        serve();
    });

    socket = new QTcpSocket;
    connect(socket, &QTcpSocket::connected, ctx, [this] {
        connectTimer->stop();
        phase = Connected;
        // Small blocks go out at once instead of waiting for the peer's ack.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        identifyTimer->start();
        serve();
    });
    connect(socket, &QTcpSocket::readyRead, ctx, [this] {
        readReply();
        serve();
    });
    connect(socket, &QTcpSocket::bytesWritten, ctx, [this] {
        // Progress: the stall bound starts again.
        if (socket->bytesToWrite() > 0)
            stallTimer->start();
        else
            stallTimer->stop();
        serve();
    });
    connect(socket, &QTcpSocket::errorOccurred, ctx, [this] { serve(); });
    connect(socket, &QTcpSocket::disconnected, ctx, [this] { serve(); });
    connectTimer->start();
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    return true;
}

void Client::exchange()
{
    writeNext();
}

// The greeting first, then nothing but the identification until it has
// gone; afterwards the blocks in order, each once the one before has been
// handed to the system.
void Client::writeNext()
{
    while (phase == Connected && failure.isEmpty() && socket->state() == QAbstractSocket::ConnectedState
           && socket->bytesToWrite() == 0 && !queue.isEmpty()) {
        int index = 0;
        if (!identified) {
            index = -1;
            for (int i = 0; i < queue.size() && index < 0; ++i) {
                const int type = blockType(queue.at(i));
                if (type == -1 || type == ConnectedToServer)
                    index = i;
            }
            if (index < 0)
                return;
        }
        const QByteArray block = queue.takeAt(index);
        const int type = blockType(block);
        if (type == ConnectedToServer) {
            identified = true;
            identifyTimer->stop();
        } else if (type == Point) {
            QMutexLocker locker(&namesMutex);
            answerFlags << (postedAgain.isEmpty() ? false : postedAgain.takeFirst());
        }
        if (socket->write(block) != block.size())
            return; // the socket's error tells checkError why
        // Hands the block to the system now; what it does not take leaves
        // as the connection takes it (bytesWritten).
        socket->flush();
        if (socket->bytesToWrite() > 0 && !stallTimer->isActive())
            stallTimer->start();
    }
}

void Client::queueIdentification()
{
    QByteArray block;
    {
        QMutexLocker locker(&namesMutex);
        block = encodeIdentification(appName, sessionName, groupName, deviceName);
    }
    if (block.isEmpty())
        return;
    // Ahead of everything waiting, but after a greeting not yet written.
    int at = 0;
    while (at < queue.size() && blockType(queue.at(at)) == -1)
        ++at;
    queue.insert(at, block);
}

void Client::takeInput()
{
    if (socket && socket->bytesAvailable() > 0)
        incoming.feed(socket->readAll());
}

void Client::readReply()
{
    takeInput();
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
            // The server answers points in the order it got them; the answer
            // to a point sent again names that old point, not what comes next.
            const bool again = !answerFlags.isEmpty() && answerFlags.takeFirst();
            QMutexLocker locker(&namesMutex);
            if (!again) {
                sessionName = m.texts[0];
                groupName = m.texts[1];
                deviceName = m.texts[3];
            }
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
        queueIdentification();
        break;
    default:
        break;
    }
}

QString Client::connectFailureText() const
{
    if (timedOut)
        return tr("The server did not answer within %1 ms").arg(connectTimeoutMs);
    switch (socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("Connection rejected");
    case QAbstractSocket::HostNotFoundError:
        return tr("The server at the specified address was not found");
    default:
        return tr("Error: ") + socket->errorString();
    }
}

bool Client::checkError()
{
    if (!socket)
        return true;
    if (phase == Failed)
        return true;
    if (phase == Connecting) {
        if (!timedOut && socket->state() != QAbstractSocket::UnconnectedState)
            return false;
        phase = Failed;
        const QString reason = connectFailureText();
        setLastError(reason);
        emit connectFailed(reason);
        return true;
    }
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

bool Client::drained() const
{
    // stop() ends at once; requestStop() once everything queued is with
    // the system (a stalled connection ends it by its error).
    if (isHardStop() || phase != Connected || !failure.isEmpty()
        || socket->state() != QAbstractSocket::ConnectedState)
        return true;
    return queue.isEmpty() && socket->bytesToWrite() == 0;
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
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->abort();
    delete socket;
    socket = nullptr;
    connectTimer = stallTimer = identifyTimer = nullptr; // go with the loop's context
}
