// Measurement road benchmark of the main window, over a real pty and TCP
// loopback:
//  0. with both links connected to the simulated instrument (over its
//     pseudo-terminal and over TCP) and the reference CAD server and nothing
//     to do, how often each link's thread and the GUI thread wake up (their
//     voluntary context switches per second), with the window's 500 ms poll
//     running and stopped;
//  1. latency from the instrument's 17017 reply (written by an instrument
//     peer in its own thread, on a pty and on a TCP connection) to the
//     point's arrival at a server thread, for repeated Measure clicks;
//  2. while tracking delivers a distance every N ms, the longest time the
//     GUI thread's event loop is blocked, and the reply-to-server latency
//     of the tracked points;
//  3. the latency of 1. with the observation journal off and on, the two
//     alternating click by click.
//  4. the longest single server-link send from the GUI thread while the
//     server has stopped reading and the link's write is stuck;
//  5. a slow distance (2.5 s): while it is measured the operator clicks
//     laser, arrows, EDM mode and Disconnect; the longest GUI-thread stall
//     (target 1 ms), and whether the point still reached the server.
//   bench_measure [measurements, default 200] [tracking seconds, default 10]
//                 [tracking interval ms, default 50] [idle seconds, default 10]
// The simulator and the reference server are taken from the build folder
// this program lies in.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <map>
#include <vector>

#include "client.h"
#include "journal.h"
#include "mainwindow.h"
#include "settingsdialog.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The instrument: answers every GeoCOM request line at once.
class LineInstrument
{
public:
    std::string path;
    std::atomic<bool> quit{false};
    std::atomic<bool> tracking{false};
    int trackIntervalMs = 50;
    std::atomic<int> measureDelayMs{0};
    std::atomic<int> measureRequests{0};
    std::mutex m;
    std::vector<Clock::time_point> measureReplies;   // 17017 replies
    std::vector<Clock::time_point> trackReplies;     // 2108 replies with a distance

    // Serves one TCP connection on loopback instead of a pty; path is then
    // the address to open.
    bool openTcp()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener, reinterpret_cast<sockaddr *>(&a), len) != 0 || ::listen(listener, 1) != 0)
            return false;
        getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
        path = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        worker = std::thread([this] { run(); });
        return true;
    }

    bool open()
    {
        char name[256] = {0};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        path = name;
        worker = std::thread([this] { run(); });
        return true;
    }
    ~LineInstrument()
    {
        quit = true;
        if (worker.joinable())
            worker.join();
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        if (listener >= 0)
            ::close(listener);
    }

private:
    void run()
    {
        std::string pending;
        Clock::time_point lastDistance = Clock::now();
        while (!quit && master < 0 && listener >= 0) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                master = ::accept(listener, nullptr, nullptr);
                const int one = 1;
                ::setsockopt(master, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            }
        }
        while (!quit) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[1024];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) {
                usleep(1000);
                continue;
            }
            pending.append(buf, size_t(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                const size_t comma = line.find(',');
                const int rpc = comma == std::string::npos ? 0 : std::atoi(line.c_str() + comma + 1);
                // The transaction id, echoed.
                const size_t colon = line.find(':');
                const size_t second = comma == std::string::npos ? std::string::npos : line.find(',', comma + 1);
                const std::string trid =
                    second != std::string::npos && second < colon ? line.substr(second + 1, colon - second - 1) : "0";
                std::string reply = "0";
                bool isMeasure = false, isTrack = false;
                switch (rpc) {
                case 5003: reply = "0,1234567"; break;
                case 5004: reply = "0,\"Bench\""; break;
                case 5011: reply = "0,21.5"; break;
                case 2021: reply = "0,2"; break;
                case 2107: reply = "0,0.5,1.4"; break;
                case 2117: tracking = true; break;
                case 2008:
                    if (line.find(":3,1") != std::string::npos && !lastWasDistance)
                        tracking = false;
                    break;
                case 2108:
                    if (tracking && msSince(lastDistance, Clock::now()) >= trackIntervalMs) {
                        reply = "0,0.5,1.4,25.0";
                        lastDistance = Clock::now();
                        isTrack = true;
                    } else {
                        reply = "1285,0.5,1.4,0";
                    }
                    break;
                case 17017:
                    ++measureRequests;
                    if (measureDelayMs > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(measureDelayMs.load()));
                    reply = "0,0.5,1.4,25.0,2";
                    isMeasure = true;
                    break;
                default: break;
                }
                lastWasDistance = isTrack;
                const std::string out = "%R1P,0," + trid + ":" + reply + "\r\n";
                const Clock::time_point t = Clock::now();
                if (::write(master, out.data(), out.size()) < 0)
                    continue;
                std::lock_guard<std::mutex> lock(m);
                if (isMeasure)
                    measureReplies.push_back(t);
                if (isTrack)
                    trackReplies.push_back(t);
            }
        }
    }

    int master = -1;
    int slave = -1;
    int listener = -1;
    bool lastWasDistance = false;
    std::thread worker;
};

// The CAD server: confirms session names, answers points with message 2 and
// notes when each point arrived.
class TcpServer
{
public:
    int port = 0;
    std::mutex m;
    std::vector<Clock::time_point> points;
    std::atomic<bool> paused{false};

    bool listen()
    {
        lfd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(lfd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(lfd, 4) != 0)
            return false;
        socklen_t len = sizeof a;
        getsockname(lfd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        worker = std::thread([this] { run(); });
        return true;
    }
    ~TcpServer()
    {
        quit = true;
        if (worker.joinable())
            worker.join();
        if (cfd >= 0)
            ::close(cfd);
        ::close(lfd);
    }

private:
    static void put16(std::string &s, unsigned v)
    {
        s.push_back(char(v >> 8));
        s.push_back(char(v & 0xff));
    }
    void send(const std::string &payload)
    {
        std::string block;
        put16(block, unsigned(payload.size()));
        block += payload;
        if (::write(cfd, block.data(), block.size()) < 0)
            return;
    }
    void run()
    {
        while (!quit && cfd < 0) {
            pollfd p{lfd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                cfd = ::accept(lfd, nullptr, nullptr);
        }
        std::string pending;
        while (!quit) {
            if (paused) {
                usleep(1000);
                continue;
            }
            pollfd p{cfd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(cfd, buf, sizeof buf);
            if (n <= 0)
                break;
            const Clock::time_point t = Clock::now();
            pending.append(buf, size_t(n));
            while (pending.size() >= 2) {
                const size_t len = (size_t(quint8(pending[0])) << 8) | quint8(pending[1]);
                if (pending.size() < 2 + len)
                    break;
                const std::string payload = pending.substr(2, len);
                pending.erase(0, 2 + len);
                if (payload == "device") {
                    // Connected; asks for the identification.
                    std::string m1, m9;
                    put16(m1, 1);
                    put16(m9, 9);
                    send(m1);
                    send(m9);
                    continue;
                }
                if (payload.size() < 2)
                    continue;
                const int type = (quint8(payload[0]) << 8) | quint8(payload[1]);
                if (type == 4) {
                    std::string ok;
                    put16(ok, 7);
                    send(ok);
                } else if (type == 3) {
                    {
                        std::lock_guard<std::mutex> lock(m);
                        points.push_back(t);
                    }
                    // Message 2: session "S", group "G", point "P", device "D".
                    std::string info;
                    put16(info, 2);
                    for (char c : {'S', 'G', 'P', 'D'}) {
                        const char str[] = {0, 0, 0, 2, 0, c};
                        info.append(str, 6);
                    }
                    send(info);
                }
            }
        }
    }

    int lfd = -1;
    int cfd = -1;
    std::atomic<bool> quit{false};
    std::thread worker;
};

struct Stats {
    double median = 0, p95 = 0, max = 0, mean = 0;
};

Stats stats(std::vector<double> v)
{
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.p95 = v[std::min(v.size() - 1, size_t(v.size() * 0.95))];
    s.max = v.back();
    double sum = 0;
    for (double x : v)
        sum += x;
    s.mean = sum / v.size();
    return s;
}

void waitFor(const std::function<bool()> &cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Times every event the GUI thread handles, so that a long handler (a
// blocked lock, a slow slot) is told apart from the thread merely waiting.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool recording = false;
    double longestMs = 0;
    int depth = 0;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!recording || depth > 0)
            return QApplication::notify(receiver, event);
        ++depth;
        const Clock::time_point start = Clock::now();
        const bool r = QApplication::notify(receiver, event);
        longestMs = std::max(longestMs, msSince(start, Clock::now()));
        --depth;
        return r;
    }
};

// Voluntary context switches (the thread went to sleep and was woken) of
// this process's threads, summed by thread name; the GUI thread is "GUI".
std::map<std::string, long> wakeUps()
{
    std::map<std::string, long> out;
    const QString pid = QString::number(QCoreApplication::applicationPid());
    for (const QString &tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
            continue;
        const std::string name = tid == pid ? "GUI" : comm.readAll().trimmed().toStdString();
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                out[name] += line.mid(line.indexOf(':') + 1).trimmed().toLong();
    }
    return out;
}

// Starts a tool of the build and returns its first line of output.
QString startTool(QProcess &p, const QString &relative, const QStringList &args)
{
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../../") + relative, args);
    if (!p.waitForStarted(5000) || !p.waitForReadyRead(10000))
        return QString();
    return QString::fromLocal8Bit(p.readLine()).trimmed();
}

void pointWindowAt(MainWindow &w, const QString &port, int serverPort)
{
    w.ui().sessionEdit->setText(QStringLiteral("S"));
    w.ui().groupEdit->setText(QStringLiteral("G"));
    w.ui().pointNameEdit->setText(QStringLiteral("P"));
    w.settingsDialog()->portCombo()->setEditText(port);
    w.settingsDialog()->addressEdit()->setText(QStringLiteral("127.0.0.1"));
    w.settingsDialog()->serverPortEdit()->setText(QString::number(serverPort));
}

// One Measure click; its reply-to-arrival delay goes to `into`.
void measureOnce(MainWindow &w, LineInstrument &instrument, TcpServer &server, std::vector<double> &into)
{
    size_t before;
    {
        std::lock_guard<std::mutex> lock(server.m);
        before = server.points.size();
    }
    w.handlerMeasButtonClick();
    waitFor([&] {
        std::lock_guard<std::mutex> lock(server.m);
        return server.points.size() > before && w.ui().measButton->isEnabled();
    }, 5000);
    std::lock_guard<std::mutex> l1(server.m);
    std::lock_guard<std::mutex> l2(instrument.m);
    if (server.points.size() > before && !instrument.measureReplies.empty())
        into.push_back(msSince(instrument.measureReplies.back(), server.points.back()));
}

// 0. Both links connected to the simulator and the reference server,
// nothing to do: wake-ups per second of each thread, the window's poll on
// and off.
bool idleWakeUps(bool tcp, int seconds)
{
    QProcess sim, cad;
    const QString port = startTool(sim, QStringLiteral("tools/simulator/stadiolink-sim"),
                                   tcp ? QStringList{"--tcp", "0", "--no-pty"} : QStringList());
    const QString listening = startTool(cad, QStringLiteral("tools/cadserver/stadiolink-cadserver"), {"--port", "0"});
    if (port.isEmpty() || !listening.startsWith(QLatin1String("listening on "))) {
        std::fprintf(stderr, "bench_measure: the simulator or the reference server did not start\n");
        return false;
    }
    {
        QTemporaryDir journalDir;
        MainWindow w(QStringLiteral("Bench"));
        w.journal()->setFolder(journalDir.path());
        pointWindowAt(w, port, listening.mid(13).toInt());
        w.ui().actionConnect->trigger();
        waitFor([&] { return !w.ui().serialNumberLabel->text().isEmpty() && w.ui().serverStatusLabel->isEnabled(); },
                15000);
        if (!w.ui().serverStatusLabel->isEnabled()) {
            std::fprintf(stderr, "bench_measure: the window did not connect\n");
            return false;
        }
        waitFor([] { return false; }, 1500); // start-up requests, base points
        for (bool polls : {true, false}) {
            if (!polls) {
                w.pollTimer()->stop();
                waitFor([] { return false; }, 1000);
            }
            const auto a = wakeUps();
            QElapsedTimer t;
            t.start();
            // The GUI thread sleeps in its event loop meanwhile, as it does
            // in the program.
            QEventLoop idle;
            QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
            idle.exec();
            const auto b = wakeUps();
            const double secs = t.elapsed() / 1000.0;
            auto rate = [&](const char *name) {
                return (b.count(name) ? b.at(name) - (a.count(name) ? a.at(name) : 0) : 0) / secs;
            };
            std::printf("idle, both links connected, instrument on %s, window's poll %s: wake-ups/s: "
                        "instrument link %.1f, server link %.1f, GUI thread %.1f\n",
                        tcp ? "TCP" : "a pseudo-terminal", polls ? "on (500 ms)" : "off",
                        rate("SerialPortHandl"), rate("Client"), rate("GUI"));
        }
        w.ui().actionDisconnect->trigger();
        waitFor([&] { return !w.isClosing(); }, 20000);
    }
    sim.terminate();
    cad.terminate();
    sim.waitForFinished(3000);
    cad.waitForFinished(3000);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    const int measurements = argc > 1 ? std::atoi(argv[1]) : 200;
    const int trackSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int trackInterval = argc > 3 ? std::atoi(argv[3]) : 50;
    const int idleSeconds = argc > 4 ? std::atoi(argv[4]) : 10;

    if (!idleWakeUps(false, idleSeconds) || !idleWakeUps(true, idleSeconds))
        return 1;

    // 1. over TCP: an instrument behind a serial device server.
    {
        LineInstrument tcpInstrument;
        TcpServer tcpServer;
        if (!tcpInstrument.openTcp() || !tcpServer.listen()) {
            std::fprintf(stderr, "bench_measure: cannot open the sockets\n");
            return 1;
        }
        QTemporaryDir journalDir;
        MainWindow w(QStringLiteral("Bench"));
        w.journal()->setFolder(journalDir.path());
        pointWindowAt(w, QString::fromStdString(tcpInstrument.path), tcpServer.port);
        w.ui().actionConnect->trigger();
        waitFor([&] { return w.ui().serverStatusLabel->isEnabled(); }, 5000);
        waitFor([] { return false; }, 500);
        std::vector<double> latencies;
        for (int i = 0; i < measurements; ++i)
            measureOnce(w, tcpInstrument, tcpServer, latencies);
        const Stats m = stats(latencies);
        std::printf("measure, instrument on TCP: %zu of %d points arrived; instrument reply -> server arrival ms: "
                    "median %.3f, mean %.3f, p95 %.3f, max %.3f\n",
                    latencies.size(), measurements, m.median, m.mean, m.p95, m.max);
        w.ui().actionDisconnect->trigger();
        waitFor([&] { return !w.isClosing(); }, 20000);
    }

    LineInstrument instrument;
    instrument.trackIntervalMs = trackInterval;
    TcpServer server;
    if (!instrument.open() || !server.listen()) {
        std::fprintf(stderr, "bench_measure: cannot open the pty or the server socket\n");
        return 1;
    }

    QTemporaryDir journalDir;
    MainWindow w(QStringLiteral("Bench"));
    w.journal()->setFolder(journalDir.path());
    w.ui().sessionEdit->setText(QStringLiteral("S"));
    w.ui().groupEdit->setText(QStringLiteral("G"));
    w.ui().pointNameEdit->setText(QStringLiteral("P"));
    pointWindowAt(w, QString::fromStdString(instrument.path), server.port);
    w.ui().actionConnect->trigger();
    waitFor([&] { return w.ui().serverStatusLabel->isEnabled(); }, 5000);
    if (!w.serverLink()) {
        std::fprintf(stderr, "bench_measure: no server link\n");
        return 1;
    }
    QElapsedTimer settle;
    settle.start();
    waitFor([&] { return settle.elapsed() > 500; }, 1000);

    // 1. Measure, one at a time.
    std::vector<double> latencies;
    for (int i = 0; i < measurements; ++i)
        measureOnce(w, instrument, server, latencies);
    const Stats m = stats(latencies);
    std::printf("measure, instrument on a pty: %zu of %d points arrived; instrument reply -> server arrival ms: "
                "median %.3f, mean %.3f, p95 %.3f, max %.3f\n",
                latencies.size(), measurements, m.median, m.mean, m.p95, m.max);

    // 2. Tracking: the GUI thread's longest stall while points stream in.
    size_t pointsBefore;
    {
        std::lock_guard<std::mutex> lock(server.m);
        pointsBefore = server.points.size();
    }
    double worstGap = 0;
    std::vector<double> gaps;
    Clock::time_point last = Clock::now();
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        const double gap = msSince(last, now);
        gaps.push_back(gap);
        worstGap = std::max(worstGap, gap);
        last = now;
    });
    w.ui().trackingButton->click();
    last = Clock::now();
    tick.start();
    app.recording = true;
    QElapsedTimer run;
    run.start();
    waitFor([&] { return run.elapsed() > trackSeconds * 1000; }, trackSeconds * 1000 + 1000);
    tick.stop();
    app.recording = false;
    w.ui().trackingButton->click();
    waitFor([&] { return false; }, 500);

    std::vector<double> trackLatency;
    {
        std::lock_guard<std::mutex> l1(server.m);
        std::lock_guard<std::mutex> l2(instrument.m);
        const size_t got = server.points.size() - pointsBefore;
        const size_t sent = instrument.trackReplies.size();
        // The k-th tracked distance is the k-th tracked point at the server.
        for (size_t k = 0; k < std::min(got, sent); ++k)
            trackLatency.push_back(msSince(instrument.trackReplies[k], server.points[pointsBefore + k]));
        std::printf("tracking %ds, a distance every %d ms: %zu distances, %zu points at the server\n",
                    trackSeconds, trackInterval, sent, got);
    }
    const Stats g = stats(gaps);
    const Stats t = stats(trackLatency);
    std::printf("tracking: GUI event loop gap ms (1 ms timer): median %.2f, p95 %.2f, max %.2f\n",
                g.median, g.p95, g.max);
    std::printf("tracking: longest single event handled in the GUI thread ms: %.2f\n", app.longestMs);
    std::printf("tracking: instrument reply -> server arrival ms: median %.2f, mean %.2f, p95 %.2f, max %.2f\n",
                t.median, t.mean, t.p95, t.max);

    // 3. The journal's cost on the measurement road: off and on alternate,
    // so that the machine's load weighs on both alike.
    std::vector<double> journalOff, journalOn;
    for (int i = 0; i < 2 * measurements; ++i) {
        const bool on = i % 2 == 1;
        w.journal()->setEnabled(on);
        measureOnce(w, instrument, server, on ? journalOn : journalOff);
    }
    w.journal()->setEnabled(true);
    const Stats off = stats(journalOff), on = stats(journalOn);
    std::printf("journal: instrument reply -> server arrival ms, p50 without %.3f, with %.3f "
                "(difference %.3f); p95 without %.3f, with %.3f\n",
                off.median, on.median, on.median - off.median, off.p95, on.p95);

    // 4. Server-link sends while the server reads nothing.
    {
        size_t before;
        {
            std::lock_guard<std::mutex> lock(server.m);
            before = server.points.size();
        }
        server.paused = true;
        MeasuringPoint big;
        big.sessionName = QStringLiteral("S");
        big.pointName = QString(16000, QLatin1Char('p'));  // 32 kB a block
        double longest = 0;
        const int sends = 300;                            // ~10 MB, past the socket buffers
        for (int i = 0; i < sends; ++i) {
            const Clock::time_point a = Clock::now();
            w.serverLink()->sendPoint(big);
            longest = std::max(longest, msSince(a, Clock::now()));
            if (i % 20 == 0)
                QCoreApplication::processEvents();
        }
        waitFor([&] { return false; }, 300);
        server.paused = false;
        waitFor([&] {
            std::lock_guard<std::mutex> lock(server.m);
            return server.points.size() >= before + sends;
        }, 20000);
        std::lock_guard<std::mutex> lock(server.m);
        std::printf("server link: %d sends of 32 kB while the server read nothing: longest sendPoint call "
                    "%.3f ms; %zu of %d arrived after it read again\n",
                    sends, longest, server.points.size() - before, sends);
    }

    // 5. A slow distance, clicks and Disconnect while it is measured.
    instrument.measureDelayMs = 2500;
    size_t pointsBeforeSlow;
    {
        std::lock_guard<std::mutex> lock(server.m);
        pointsBeforeSlow = server.points.size();
    }
    const int requestsBefore = instrument.measureRequests;
    w.handlerMeasButtonClick();
    waitFor([&] { return instrument.measureRequests > requestsBefore; }, 5000);
    waitFor([&] { return false; }, 100);  // the link is inside its reply wait
    app.longestMs = 0;
    app.recording = true;
    std::vector<std::pair<const char *, double>> clicks;
    auto timed = [&](const char *name, const std::function<void()> &click) {
        const Clock::time_point a = Clock::now();
        click();
        clicks.emplace_back(name, msSince(a, Clock::now()));
        QCoreApplication::processEvents();
    };
    timed("laser", [&] { w.ui().actionLaser->trigger(); });
    timed("arrow press", [&] { emit w.ui().rightButton->pressed(); });
    timed("arrow release", [&] { emit w.ui().rightButton->released(); });
    timed("EDM mode", [&] { emit w.ui().edmModeCombo->activated(2); });
    timed("laser", [&] { w.ui().actionLaser->trigger(); });
    const Clock::time_point disconnectAt = Clock::now();
    timed("Disconnect", [&] { w.ui().actionDisconnect->trigger(); });
    waitFor([&] { return !w.isClosing(); }, 20000);
    const double closedAfter = msSince(disconnectAt, Clock::now());
    app.recording = false;
    double worst = 0;
    std::string detail;
    for (const auto &c : clicks) {
        worst = std::max(worst, c.second);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s%s %.3f", detail.empty() ? "" : ", ", c.first, c.second);
        detail += buf;
    }
    size_t slowPoints;
    {
        std::lock_guard<std::mutex> lock(server.m);
        slowPoints = server.points.size() - pointsBeforeSlow;
    }
    std::printf("slow distance (2500 ms) with clicks meanwhile: longest GUI-thread call %.3f ms "
                "(target 1; %s); longest GUI event %.3f ms\n",
                worst, detail.c_str(), app.longestMs);
    std::printf("slow distance: %zu point(s) at the server after Disconnect during the measurement; "
                "both links closed %.0f ms after Disconnect\n",
                slowPoints, closedAfter);
    return 0;
}
