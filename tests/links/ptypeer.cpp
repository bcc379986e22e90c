#include "ptypeer.h"

#include "geocom.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtGlobal>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    char name[256] = {0};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        master = slave = -1;
        return;
    }
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    path = QString::fromLocal8Bit(name);
}

PtyPeer::~PtyPeer()
{
    hangUp();
}

void PtyPeer::hangUp()
{
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
    master = slave = -1;
}

QByteArray PtyPeer::readLine(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int nl = pending.indexOf('\n');
        if (nl >= 0) {
            const QByteArray line = pending.left(nl + 1);
            pending.remove(0, nl + 1);
            const QByteArray bare = GeoCom::withoutTransactionId(line);
            requestId = 0;
            if (bare != line) {
                const int comma = line.indexOf(',', 5);
                requestId = line.mid(comma + 1, line.indexOf(':') - comma - 1).toInt();
            }
            return bare;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || master < 0)
            return QByteArray();
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, int(left)) <= 0 || !(pfd.revents & POLLIN))
            continue;
        char buf[1024];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0)
            pending.append(buf, int(n));
    }
}

bool PtyPeer::staysSilent(int ms)
{
    if (!pending.isEmpty())
        return false;
    pollfd pfd{master, POLLIN, 0};
    return ::poll(&pfd, 1, ms) == 0;
}

QByteArray PtyPeer::withId(const QByteArray &reply, int id)
{
    const int colon = reply.indexOf(':');
    const int c1 = reply.indexOf(',');
    const int c2 = c1 < 0 ? -1 : reply.indexOf(',', c1 + 1);
    if (!reply.startsWith("%R1P,") || colon < 0 || c2 < 0 || c2 > colon)
        return reply;
    int end = reply.indexOf(',', c2 + 1);
    if (end < 0 || end > colon)
        end = colon;
    return reply.left(c2 + 1) + QByteArray::number(id) + reply.mid(end);
}

void PtyPeer::write(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    ssize_t left = bytes.size();
    while (left > 0 && master >= 0) {
        const ssize_t n = ::write(master, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return;
        }
        p += n;
        left -= n;
    }
}

QString SimulatorProcess::executable()
{
    return qEnvironmentVariable("STADIOLINK_BIN_DIR") + QStringLiteral("/tools/simulator/stadiolink-sim");
}

SimulatorProcess::SimulatorProcess(const QStringList &arguments)
{
    proc = new QProcess;
    proc->setProcessChannelMode(QProcess::SeparateChannels);
    proc->setReadChannel(QProcess::StandardOutput);
    proc->start(executable(), arguments);
    if (!proc->waitForStarted(5000))
        return;
    QElapsedTimer clock;
    clock.start();
    while (!proc->canReadLine() && clock.elapsed() < 5000)
        proc->waitForReadyRead(100);
    if (proc->canReadLine())
        path = QString::fromLocal8Bit(proc->readLine()).trimmed();
}

SimulatorProcess::~SimulatorProcess()
{
    if (proc->state() != QProcess::NotRunning) {
        proc->terminate();
        if (!proc->waitForFinished(3000)) {
            proc->kill();
            proc->waitForFinished(3000);
        }
    }
    delete proc;
}
