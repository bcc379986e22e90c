// GeoCOM round trips per second through a pseudo-terminal against the
// simulated instrument answering at once: first through SerialPortHandler
// (its own back-to-back TMC_GetSimpleMea poll), then a minimal
// write-line/read-line loop on the same terminal.
//
//   bench_serial <path to stadiolink-sim> [seconds per run, default 5]

#include "serialporthandler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

class CountingHandler : public SerialPortHandler
{
public:
    std::atomic<long> replies{0};

protected:
    void readReply() override
    {
        SerialPortHandler::readReply();
        ++replies;
    }
};

double linkRate(const QString &port, double seconds)
{
    CountingHandler link;
    PortSettings s;
    s.portName = port;
    s.baudRate = 115200;
    if (!link.openPort(s)) {
        std::fprintf(stderr, "%s\n", qPrintable(link.errorString()));
        return -1;
    }
    link.start();
    QThread::msleep(300);  // warm-up
    const long start = link.replies;
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(unsigned(seconds * 1000));
    const long count = link.replies - start;
    const double elapsed = clock.nsecsElapsed() / 1e9;
    link.stop();
    return count / elapsed;
}

double rawRate(const QString &port, double seconds)
{
    const int fd = ::open(port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    const char request[] = "%R1Q,2108:0,1\r\n";
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_serial <stadiolink-sim> [seconds]\n");
        return 2;
    }
    const double seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toDouble() : 5.0;
    QProcess sim;
    sim.start(QString::fromLocal8Bit(argv[1]), {"--fast"});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();

    const double link = linkRate(port, seconds);
    const double raw = rawRate(port, seconds);
    sim.terminate();
    sim.waitForFinished(3000);
    if (link <= 0 || raw <= 0) {
        std::fprintf(stderr, "a run failed (link %.1f, raw %.1f)\n", link, raw);
        return 1;
    }
    std::printf("serial round trips/s through SerialPortHandler: %.0f\n", link);
    std::printf("serial round trips/s, minimal write/read loop:   %.0f\n", raw);
    std::printf("ratio link / minimal loop: %.2f\n", link / raw);
    return 0;
}
