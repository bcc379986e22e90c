#pragma once
// Starts the reference CAD server as a process on a free port and reads the
// port from its first output line.

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QtTest>
#include <memory>

class CadServerProcess
{
public:
    static QString program()
    {
        const QByteArray dir = qgetenv("STADIOLINK_BIN_DIR");
        return QDir(QString::fromLocal8Bit(dir)).filePath("tools/cadserver/stadiolink-cadserver");
    }

    // Returns false (with the server's stderr in *why) when it does not come up.
    bool start(const QStringList &args, QString *why)
    {
        proc.reset(new QProcess);
        proc->setProgram(program());
        proc->setArguments(QStringList{"--port", "0"} + args);
        proc->start();
        if (!proc->waitForStarted(5000)) {
            *why = program() + ": " + proc->errorString();
            return false;
        }
        while (!proc->canReadLine())
            if (!proc->waitForReadyRead(10000)) {
                *why = QString::fromLocal8Bit(proc->readAllStandardError());
                return false;
            }
        const QByteArray line = proc->readLine().trimmed();
        if (!line.startsWith("listening on ")) {
            *why = QString::fromLocal8Bit(line);
            return false;
        }
        port = quint16(line.mid(13).toUInt());
        return port != 0;
    }

    ~CadServerProcess()
    {
        if (proc && proc->state() != QProcess::NotRunning) {
            proc->terminate();
            if (!proc->waitForFinished(3000))
                proc->kill();
            proc->waitForFinished(3000);
        }
    }

    std::unique_ptr<QProcess> proc;
    quint16 port = 0;
};
