#pragma once
// The instrument's end of a real pseudo-terminal, for tests that drive the
// serial link byte for byte. The link opens portName(); the test reads the
// request lines it wrote and answers them.

#include <QByteArray>
#include <QString>

class PtyPeer
{
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isOpen() const { return master >= 0; }
    QString portName() const { return path; }

    // The next line the link wrote, with its CR LF and without its
    // transaction id (lastId() keeps it); empty when none arrived within
    // timeoutMs.
    QByteArray readLine(int timeoutMs = 5000);
    // The transaction id of the line readLine() returned last (0: none).
    int lastId() const { return requestId; }
    // True when nothing at all arrives within ms.
    bool staysSilent(int ms);

    void write(const QByteArray &bytes);
    // Writes a reply line; a reply "%R1P,<com>,0:..." gets the id of the last
    // request read, as an instrument echoes it, unless echoIds is off (an
    // instrument that ignores ids).
    void reply(const QByteArray &text) { write((echoIds ? withId(text, requestId) : text) + "\r\n"); }
    // The reply with the given transaction id (a late answer to an earlier
    // request).
    void replyWithId(int id, const QByteArray &text) { write(withId(text, id) + "\r\n"); }
    static QByteArray withId(const QByteArray &reply, int id);
    bool echoIds = true;

    // Closes both ends held here, as when a USB adapter is pulled.
    void hangUp();

private:
    int master = -1;
    int slave = -1;
    QString path;
    QByteArray pending;
    int requestId = 0;
};

// The simulated instrument (tools/simulator) as a child process.
class QProcess;
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QStringList &arguments);
    ~SimulatorProcess();
    bool isReady() const { return !path.isEmpty(); }
    QString portName() const { return path; }
    QProcess *process() const { return proc; }
    static QString executable();

private:
    QProcess *proc = nullptr;
    QString path;
};
