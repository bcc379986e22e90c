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

    // The next line the link wrote, with its CR LF; empty when none arrived
    // within timeoutMs.
    QByteArray readLine(int timeoutMs = 5000);
    // True when nothing at all arrives within ms.
    bool staysSilent(int ms);

    void write(const QByteArray &bytes);
    void reply(const QByteArray &text) { write(text + "\r\n"); }

    // Closes both ends held here, as when a USB adapter is pulled.
    void hangUp();

private:
    int master = -1;
    int slave = -1;
    QString path;
    QByteArray pending;
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
