// Server link pace: points per second with a server that never answers, and
// the delay from sendPoint to the arrival of the whole block at a local
// server while the link is idle.
//   bench_client [points, default 5000] [latency samples, default 200]

#include "client.h"
#include "servermessages.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

using Clock = std::chrono::steady_clock;

// A silent server in a thread of its own: counts complete blocks and
// notes when each one arrived.
class SilentServer : public QThread
{
public:
    std::atomic<quint16> port{0};
    std::atomic<int> blocks{0};
    std::atomic<bool> done{false};
    std::vector<Clock::time_point> arrivals; // written by this thread only

    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        port = server.serverPort();
        if (!server.waitForNewConnection(10000))
            return;
        QTcpSocket *s = server.nextPendingConnection();
        ServerMessages::BlockReader reader;
        arrivals.reserve(1 << 20);
        while (!done) {
            if (!s->waitForReadyRead(20))
                continue;
            const auto now = Clock::now();
            reader.feed(s->readAll());
            QByteArray p;
            while (reader.next(&p)) {
                arrivals.push_back(now);
                // The greeting is answered with 9: the link identifies itself.
                if (blocks.fetch_add(1, std::memory_order_release) == 0) {
                    s->write(ServerMessages::encodeEmpty(ServerMessages::Identify));
                    s->flush();
                }
            }
        }
    }
};

static double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int points = argc > 1 ? atoi(argv[1]) : 5000;
    const int samples = argc > 2 ? atoi(argv[2]) : 200;

    SilentServer server;
    server.start();
    while (server.port == 0)
        QThread::msleep(1);
    Client client("Stadiolink.exe");
    if (!client.connectToServer("127.0.0.1", server.port)) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    client.sendDevice("S", "G", "Bench");
    client.start();
    while (server.blocks < 2) // the greeting and the identification
        QThread::usleep(100);

    MeasuringPoint pt;
    pt.sessionName = "Session 1";
    pt.groupName = "Group 1";
    pt.x = 1234.567;
    pt.y = 2345.678;
    pt.z = 12.345;

    // 1. Throughput: every point handed over at once, the server silent.
    const auto t0 = Clock::now();
    for (int i = 0; i < points; ++i) {
        pt.pointName = QString("P%1").arg(i);
        client.sendPoint(pt);
    }
    const auto handed = Clock::now();
    while (server.blocks < 2 + points)
        QThread::usleep(200);
    const auto t1 = Clock::now();
    std::printf("silent server: %d points in %.1f ms = %.0f points/s (handing over took %.1f ms)\n", points,
                ms(t1 - t0), points / (ms(t1 - t0) / 1000.0), ms(handed - t0));

    // 2. One point at a time, each after the previous arrived.
    const int paced = std::min(points, 1000);
    const auto p0 = Clock::now();
    for (int i = 0; i < paced; ++i) {
        const int want = server.blocks + 1;
        client.sendPoint(pt);
        while (server.blocks < want)
            QThread::yieldCurrentThread();
    }
    const auto p1 = Clock::now();
    std::printf("one at a time: %d points in %.1f ms = %.0f points/s\n", paced, ms(p1 - p0),
                paced / (ms(p1 - p0) / 1000.0));

    // 3. Delay from sendPoint to arrival with an idle link (the link sits in
    // its read wait between samples).
    std::vector<double> delays;
    std::vector<double> handOver;
    for (int i = 0; i < samples; ++i) {
        QThread::msleep(15 + (i * 7) % 40);
        const int want = server.blocks + 1;
        const auto s0 = Clock::now();
        client.sendPoint(pt);
        const auto s1 = Clock::now();
        while (server.blocks < want)
            QThread::yieldCurrentThread();
        delays.push_back(ms(server.arrivals[want - 1] - s0));
        handOver.push_back(ms(s1 - s0));
    }
    auto report = [](const char *what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("%s: median %.3f ms, 95%% %.3f ms, max %.3f ms (%zu samples)\n", what, v[v.size() / 2],
                    v[v.size() * 95 / 100], v.back(), v.size());
    };
    report("idle link, sendPoint to arrival", delays);
    report("idle link, sendPoint call (GUI thread blocked)", handOver);

    client.stop();
    server.done = true;
    server.wait();
    return 0;
}
