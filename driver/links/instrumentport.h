#pragma once
// The instrument's line: a serial port, or a raw TCP connection to a serial
// device server (or a radio/Wi-Fi bridge) that carries the same GeoCOM
// lines. Created, opened and used in the instrument link's thread; all of
// it is asynchronous: opened() once the line is up, readyRead() when bytes
// came, failed() when it could not be opened or was lost afterwards.
//
// Port names: "host:port" or "tcp://host:port" (an IPv6 address in
// brackets, "[::1]:5000") name a network port; anything else is a serial
// port as the system names it (COM3, /dev/ttyUSB0).

#include <QObject>
#include <QString>

#include "types.h"

class InstrumentPort : public QObject
{
    Q_OBJECT

public:
    // How long a network port may take to connect.
    static constexpr int ConnectTimeoutMs = 5000;

    // Whether `portName` names a network port; host and port when it does.
    static bool parseNetworkName(const QString &portName, QString *host = nullptr,
                                 quint16 *port = nullptr);
    static bool isNetworkName(const QString &portName) { return parseNetworkName(portName); }
    // A name that looks like a network port but is not a valid one
    // ("host:", "host:99999").
    static bool isMalformedNetworkName(const QString &portName);

    static InstrumentPort *create(const PortSettings &settings);

    // Starts opening; opened() or failed() follows (possibly before this
    // returns).
    virtual void open() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    virtual QByteArray readAll() = 0;
    // Hands what is still buffered to the system (briefly bounded), then
    // closes.
    virtual void close() = 0;
    // Whether the device still exists (a serial port's path or name); a
    // network port says true.
    virtual bool stillThere() const { return true; }
    // The port's name as the settings gave it.
    QString name() const { return portName; }

signals:
    void opened();
    void readyRead();
    // The line could not be opened (`whileOpening`) or failed afterwards;
    // `text` names the port and the cause ("Port error COM3: ...").
    void failed(QString text, bool whileOpening);

protected:
    explicit InstrumentPort(const QString &portName) : portName(portName) {}
    QString portName;
};
