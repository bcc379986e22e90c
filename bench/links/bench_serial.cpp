// GeoCOM round trips per second against the simulated instrument answering
// at once, over a pseudo-terminal and over TCP loopback: through the
// instrument link (requests kept queued back to back, each reply matched by
// its transaction id), through a minimal write-line/read-line loop on the
// same line, and through the least an event-driven program does: a Qt event
// loop woken by a socket notifier on the line, writing the next request as
// soon as a reply line is in.
//
//   bench_serial <path to stadiolink-sim> [seconds per run, default 5]

#include "serialporthandler.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The requests are all queued before the link starts, so the link serves
// them back to back and nobody else runs in its thread meanwhile.
double linkRate(const QString &port, double seconds, double expectedRate)
{
    SerialPortHandler link;
    PortSettings s;
    s.portName = port;
    s.baudRate = 115200;
    if (!link.openPort(s)) {
        std::fprintf(stderr, "%s\n", qPrintable(link.errorString()));
        return -1;
    }
    const long warmUp = 2000;
    const long total = warmUp + long(expectedRate * seconds);
    std::atomic<long> replies{0};
    QElapsedTimer clock;
    std::atomic<qint64> startNs{0}, endNs{0};
    QObject::connect(&link, &SerialPortHandler::responseReceived, &link,
                     [&](QPair<RPC, QVariant>) {
                         const long n = ++replies;
                         if (n == warmUp)
                             startNs = clock.nsecsElapsed();
                         else if (n == total)
                             endNs = clock.nsecsElapsed();
                     },
                     Qt::DirectConnection);
    for (long i = 0; i < total; ++i)
        link.enqueue(CSV_GetInstrumentNo, {});
    clock.start();
    link.start();
    while (endNs == 0 && link.isRunning() && clock.elapsed() < qint64(seconds * 20000))
        QThread::msleep(20);
    link.stop();
    if (endNs == 0)
        return -1;
    return (total - warmUp) / ((endNs - startNs) / 1e9);
}

int openLine(const QString &port)
{
    QString host = port.section(QLatin1Char(':'), 0, 0);
    const int tcpPort = port.section(QLatin1Char(':'), 1).toInt();
    if (tcpPort > 0) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(tcpPort));
        ::inet_pton(AF_INET, host.toLatin1().constData(), &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return -1;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
    }
    const int fd = ::open(port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    return fd;
}

double rawRate(const QString &port, double seconds)
{
    const int fd = openLine(port);
    if (fd < 0)
        return -1;
    const char request[] = "%R1Q,5003,1:\r\n";
    char buf[512];
    long count = 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(seconds * 1e9);
    while (clock.nsecsElapsed() < limit) {
        if (::write(fd, request, sizeof request - 1) != ssize_t(sizeof request - 1))
            break;
        bool line = false;
        while (!line) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 1000) <= 0)
                break;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            line = buf[n - 1] == '\n';
        }
        if (!line)
            break;
        ++count;
    }
    const double elapsed = clock.nsecsElapsed() / 1e9;
    ::close(fd);
    return count / elapsed;
}

double notifierRate(const QString &port, double seconds)
{
    const int fd = openLine(port);
    if (fd < 0)
        return -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const char request[] = "%R1Q,5003,1:\r\n";
    char buf[512];
    long count = 0;
    QElapsedTimer clock;
    QEventLoop loop;
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0 && buf[n - 1] == '\n') {
            ++count;
            if (clock.nsecsElapsed() >= qint64(seconds * 1e9))
                loop.quit();
            else if (::write(fd, request, sizeof request - 1) < 0)
                loop.quit();
        }
    });
    clock.start();
    if (::write(fd, request, sizeof request - 1) < 0)
        return -1;
    loop.exec();
    const double elapsed = clock.nsecsElapsed() / 1e9;
    ::close(fd);
    return count / elapsed;
}

bool run(const char *simulator, bool tcp, double seconds)
{
    QProcess sim;
    QStringList args{"--fast"};
    if (tcp)
        args << "--tcp" << "0" << "--no-pty";
    sim.start(QString::fromLocal8Bit(simulator), args);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "simulator did not start\n");
        return false;
    }
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    const double raw = rawRate(port, seconds);
    QThread::msleep(200); // the simulator takes the next connection
    const double notified = notifierRate(port, seconds);
    QThread::msleep(200);
    const double link = linkRate(port, seconds, raw);
    sim.terminate();
    sim.waitForFinished(3000);
    if (link <= 0 || raw <= 0) {
        std::fprintf(stderr, "a run failed (link %.1f, raw %.1f)\n", link, raw);
        return false;
    }
    const char *what = tcp ? "TCP loopback" : "pseudo-terminal";
    std::printf("%s: GeoCOM round trips/s through the instrument link: %.0f\n", what, link);
    std::printf("%s: GeoCOM round trips/s, minimal write/read loop:    %.0f\n", what, raw);
    std::printf("%s: GeoCOM round trips/s, minimal Qt event loop:   %.0f\n", what, notified);
    std::printf("%s: ratio link / minimal loop: %.2f; link / minimal Qt event loop: %.2f\n", what,
                link / raw, link / notified);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_serial <stadiolink-sim> [seconds]\n");
        return 2;
    }
    const double seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toDouble() : 5.0;
    const bool ok = run(argv[1], false, seconds) && run(argv[1], true, seconds);
    return ok ? 0 : 1;
}
