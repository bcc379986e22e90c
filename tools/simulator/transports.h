#pragma once
// The ways in to the instrument: a pseudo-terminal, as a serial port, and a
// raw TCP connection, as a serial device server carries the same lines. One
// instrument answers both; a TCP client is served one at a time.

#include "channel.h"
#include "responder.h"

#include <QByteArray>
#include <QString>

class PtyPort : public Channel
{
public:
    ~PtyPort() override;
    // Opens the pty and sets its terminal side raw.
    bool open(QString *error);
    QString path() const { return m_path; }
    int fd() const { return m_master; }

    const char *via() const override { return "pty"; }
    bool write(const QByteArray &bytes) override;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

class TcpPort : public Channel
{
public:
    ~TcpPort() override;
    // Listens on "[ADDRESS:]PORT" (address 127.0.0.1 unless given; port 0:
    // any free one).
    bool listen(const QString &spec, QString *error);
    // Where it listens, "ADDRESS:PORT" ("[ADDRESS]:PORT" for IPv6).
    QString address() const { return m_address; }
    int listenerFd() const { return m_listener; }
    int clientFd() const { return m_client; }
    bool hasClient() const { return m_client >= 0; }
    bool isBroken() const override { return m_broken; }

    // Takes a waiting connection: the client, or closed at once when one is
    // already connected.
    void accept(ReplyLog *log, bool verbose);
    // Reads what the client sent, up to what is there now. False when the
    // client has gone (after appending the bytes that came before).
    bool readClient(QByteArray *into);
    enum How { ClientGone, Closed, Reset };
    void dropClient(How how, ReplyLog *log, bool verbose);

    const char *via() const override { return "tcp"; }
    bool write(const QByteArray &bytes) override;

private:
    int m_listener = -1;
    int m_client = -1;
    bool m_broken = false;
    QString m_address;
    QString m_peer;
};

// Answers requests on the given ports until SIGINT or SIGTERM, or until the
// pty's port is closed by a fault or fails. Either port may be null.
void serve(PtyPort *pty, TcpPort *tcp, Responder &responder, ReplyLog *log, bool verbose);
