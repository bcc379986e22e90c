#include "instrumentport.h"

#include "serialporthandler.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

class SerialLine : public InstrumentPort
{
public:
    SerialLine(const PortSettings &settings) : InstrumentPort(settings.portName), settings(settings) {}

    void open() override
    {
        port = new QSerialPort(this);
        port->setPortName(settings.portName);
        port->setBaudRate(settings.baudRate, QSerialPort::AllDirections);
        port->setDataBits(settings.dataBits);
        port->setParity(settings.parity);
        port->setStopBits(settings.stopBits);
        port->setFlowControl(settings.flowControl);
        if (!port->open(QIODevice::ReadWrite)) {
            emit failed(SerialPortHandler::tr("Port error %1: %2").arg(portName, port->errorString()), true);
            return;
        }
        connect(port, &QSerialPort::readyRead, this, &InstrumentPort::readyRead);
        connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) { onError(e); });
        emit opened();
    }

    bool isOpen() const override { return port && port->isOpen(); }

    void write(const QByteArray &bytes) override
    {
        QByteArray rest = bytes;
#ifdef Q_OS_UNIX
        // Straight to the line when nothing waits before it: the port's own
        // buffer would go through the event loop once more for every line.
        if (port->bytesToWrite() == 0) {
            const ssize_t n = ::write(int(port->handle()), bytes.constData(), size_t(bytes.size()));
            if (n == bytes.size())
                return;
            if (n > 0)
                rest = bytes.mid(int(n));
        }
#endif
        if (port->write(rest) != rest.size())
            onError(port->error() == QSerialPort::NoError ? QSerialPort::WriteError : port->error());
        else
            port->flush(); // to the line now, not at the next pass of the loop
    }

    QByteArray readAll() override { return port ? port->readAll() : QByteArray(); }

    void close() override
    {
        if (!port)
            return;
        // Requests written without waiting for their replies (a stop from a
        // silent instrument) still leave.
        if (port->isOpen() && !lost) {
            for (int i = 0; i < 5 && port->bytesToWrite() > 0; ++i)
                port->waitForBytesWritten(20);
            port->close();
        }
    }

    bool stillThere() const override
    {
        if (portName.startsWith(QLatin1Char('/')))
            return QFileInfo::exists(portName);
        return !QSerialPortInfo(portName).isNull();
    }

private:
    void onError(QSerialPort::SerialPortError e)
    {
        switch (e) {
        case QSerialPort::NoError:
        case QSerialPort::TimeoutError:
        case QSerialPort::UnsupportedOperationError:
        case QSerialPort::ParityError:
        case QSerialPort::FramingError:
        case QSerialPort::BreakConditionError:
            port->clearError();
            return;
        default:
            break;
        }
        if (lost)
            return;
        lost = true;
        emit failed(SerialPortHandler::portFailureText(portName, int(e), port->errorString(), stillThere()),
                    false);
    }

    PortSettings settings;
    QSerialPort *port = nullptr;
    bool lost = false;
};

class NetworkLine : public InstrumentPort
{
public:
    NetworkLine(const QString &portName, const QString &host, quint16 port)
        : InstrumentPort(portName), host(host), portNumber(port)
    {
    }

    void open() override
    {
        socket = new QTcpSocket(this);
        connectTimer = new QTimer(this);
        connectTimer->setSingleShot(true);
        connect(connectTimer, &QTimer::timeout, this, [this] {
            socket->abort();
            fail(InstrumentPort::tr("no connection within %1 s").arg(ConnectTimeoutMs / 1000));
        });
        connect(socket, &QTcpSocket::connected, this, [this] {
            connectTimer->stop();
            up = true;
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            emit opened();
        });
        connect(socket, &QTcpSocket::readyRead, this, &InstrumentPort::readyRead);
        connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) { onError(e); });
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            if (up)
                fail(InstrumentPort::tr("the instrument's end closed the connection"));
        });
        connectTimer->start(ConnectTimeoutMs);
        socket->connectToHost(host, portNumber);
    }

    bool isOpen() const override { return up && socket->state() == QAbstractSocket::ConnectedState; }

    void write(const QByteArray &bytes) override
    {
        QByteArray rest = bytes;
#ifdef Q_OS_UNIX
        // Straight to the connection when nothing waits before it (see the
        // serial line).
        if (socket->bytesToWrite() == 0) {
            const ssize_t n = ::send(int(socket->socketDescriptor()), bytes.constData(), size_t(bytes.size()),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n == bytes.size())
                return;
            if (n > 0)
                rest = bytes.mid(int(n));
        }
#endif
        if (socket->write(rest) != rest.size())
            onError(socket->error());
        else
            socket->flush(); // to the line now, not at the next pass of the loop
    }

    QByteArray readAll() override { return socket ? socket->readAll() : QByteArray(); }

    void close() override
    {
        if (!socket)
            return;
        connectTimer->stop();
        if (socket->state() == QAbstractSocket::ConnectedState && !done) {
            done = true;
            for (int i = 0; i < 5 && socket->bytesToWrite() > 0; ++i)
                socket->waitForBytesWritten(20);
            socket->disconnectFromHost();
        }
        socket->abort();
    }

private:
    void onError(QAbstractSocket::SocketError e)
    {
        switch (e) {
        case QAbstractSocket::ConnectionRefusedError:
            fail(InstrumentPort::tr("the connection was refused (is the serial device server on, and is the port right?)"));
            break;
        case QAbstractSocket::HostNotFoundError:
            fail(InstrumentPort::tr("the host was not found"));
            break;
        case QAbstractSocket::RemoteHostClosedError:
            fail(InstrumentPort::tr("the instrument's end closed the connection"));
            break;
        case QAbstractSocket::SocketTimeoutError:
            if (!up)
                fail(InstrumentPort::tr("no connection within %1 s").arg(ConnectTimeoutMs / 1000));
            break;
        default:
            fail(socket->errorString());
            break;
        }
    }

    void fail(const QString &reason)
    {
        if (done)
            return;
        done = true;
        connectTimer->stop();
        emit failed(SerialPortHandler::tr("Port error %1: %2").arg(portName, reason), !up);
    }

    QString host;
    quint16 portNumber;
    QTcpSocket *socket = nullptr;
    QTimer *connectTimer = nullptr;
    bool up = false;
    bool done = false;
};

const QRegularExpression &networkPattern()
{
    // tcp://host:port, host:port, [v6]:port; host made of name or address
    // characters only, so that no serial port name matches.
    static const QRegularExpression re(QStringLiteral(
        "^(?:tcp://)?(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+):([0-9]{1,5})$"));
    return re;
}

} // namespace

bool InstrumentPort::parseNetworkName(const QString &portName, QString *host, quint16 *port)
{
    const QRegularExpressionMatch m = networkPattern().match(portName.trimmed());
    if (!m.hasMatch())
        return false;
    bool ok = false;
    const uint number = m.captured(2).toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return false;
    QString h = m.captured(1);
    if (h.startsWith(QLatin1Char('[')))
        h = h.mid(1, h.size() - 2);
    if (host)
        *host = h;
    if (port)
        *port = quint16(number);
    return true;
}

bool InstrumentPort::isMalformedNetworkName(const QString &portName)
{
    const QString name = portName.trimmed();
    if (parseNetworkName(name))
        return false;
    if (name.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive) || name.startsWith(QLatin1Char('[')))
        return true;
    // "host:" or "host:port" with a bad port; a Windows device path
    // ("\\.\COM10") or a Unix path never has a colon in these places.
    static const QRegularExpression almost(QStringLiteral("^(\\[[^\\]]*\\]|[A-Za-z0-9._-]+):[^/\\\\]*$"));
    return almost.match(name).hasMatch();
}

InstrumentPort *InstrumentPort::create(const PortSettings &settings)
{
    QString host;
    quint16 port = 0;
    if (parseNetworkName(settings.portName, &host, &port))
        return new NetworkLine(settings.portName.trimmed(), host, port);
    return new SerialLine(settings);
}
