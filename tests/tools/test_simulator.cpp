// The simulated instrument line by line, as any GeoCOM client sees it: the
// framing (transaction id, checksum field), return codes of a real instrument,
// measurement modes, number format and timing; its TCP port, seeded faults and
// the log of what it answered.

#include "ptypeer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A client on the simulator's terminal or, for "127.0.0.1:PORT", on its TCP
// port.
class Line
{
public:
    explicit Line(const QString &port)
    {
        if (port.startsWith(QLatin1String("127.0.0.1:"))) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port.mid(10).toUShort());
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
                ::close(fd);
                fd = -1;
            }
            return;
        }
        fd = ::open(port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios tio;
        if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~Line()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isOpen() const { return fd >= 0; }

    void send(const QByteArray &request)
    {
        const QByteArray bytes = request + "\r\n";
        QVERIFY(::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size());
    }

    // The next reply line without CR LF; empty after timeoutMs.
    QByteArray reply(int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        int nl;
        while ((nl = pending.indexOf('\n')) < 0) {
            const qint64 left = timeoutMs - clock.elapsed();
            pollfd pfd{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&pfd, 1, int(left)) <= 0)
                return QByteArray();
            char buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                pending.append(buf, int(n));
        }
        const QByteArray line = pending.left(nl).trimmed();
        pending.remove(0, nl + 1);
        return line;
    }

    // How the other end ended the connection, waiting up to timeoutMs:
    // "closed" (FIN), "reset" (RST), "open" (nothing came) or "data".
    QByteArray ending(int timeoutMs = 10000)
    {
        pollfd pfd{fd, POLLIN, 0};
        if (!pending.isEmpty() || ::poll(&pfd, 1, timeoutMs) <= 0)
            return pending.isEmpty() ? "open" : "data";
        char c;
        const ssize_t n = ::recv(fd, &c, 1, 0);
        return n == 0 ? "closed" : n < 0 && errno == ECONNRESET ? "reset" : "data";
    }

    QByteArray ask(const QByteArray &request)
    {
        send(request);
        return reply();
    }

    // Seconds a request takes to be answered.
    double timed(const QByteArray &request, QByteArray *answer = nullptr)
    {
        QElapsedTimer clock;
        clock.start();
        const QByteArray r = ask(request);
        if (answer)
            *answer = r;
        return clock.nsecsElapsed() / 1e9;
    }

private:
    int fd = -1;
    QByteArray pending;
};

QStringList fields(const QByteArray &reply)
{
    return QString::fromLatin1(reply.mid(reply.indexOf(':') + 1)).split(QLatin1Char(','));
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<SimulatorProcess> sim;
    QScopedPointer<Line> line;

    bool start(const QStringList &arguments)
    {
        line.reset();
        sim.reset(new SimulatorProcess(arguments));
        if (!sim->isReady()) {
            qWarning("%s %s did not start", qPrintable(SimulatorProcess::executable()), qPrintable(arguments.join(' ')));
            return false;
        }
        line.reset(new Line(sim->portName()));
        return line->isOpen();
    }

private slots:
    void cleanup()
    {
        line.reset();
        sim.reset();
    }

    void framingAsARealInstrument()
    {
        QVERIFY(start({"--fast"}));
        QCOMPARE(line->ask("%R1Q,0:"), QByteArray("%R1P,0,0:0"));  // COM_NullProc
        QCOMPARE(line->ask("%R1Q,4711:"), QByteArray("%R1P,0,0:5"));
        QCOMPARE(line->ask("%R1Q,5003,17:"), QByteArray("%R1P,0,17:0,1234567"));

        // The checksum field: echoed id and the reply's own checksum, both
        // CRC-16/ARC in decimal over the line without that field (the values
        // worked out apart, with the algorithm's check value 0xBB3D for
        // "123456789").
        QCOMPARE(line->ask("%R1Q,5003,18,35607:"), QByteArray("%R1P,0,18,28042:0,1234567"));
        QCOMPARE(line->ask("%R1Q,2020,19,6367:3"), QByteArray("%R1P,0,19,39921:0"));
        QCOMPARE(line->ask("%R1Q,2021:"), QByteArray("%R1P,0,0:0,3"));
        // A wrong checksum is refused at the instrument.
        QCOMPARE(line->ask("%R1Q,5003,20,1:"), QByteArray("%R1P,3101,20,56537:3101"));
    }

    void returnCodesOfMotorsAndMeasurementModes()
    {
        QVERIFY(start({"--fast"}));
        QCOMPARE(line->ask("%R1Q,6002:0"), QByteArray("%R1P,0,0:1798"));  // nothing to stop
        QCOMPARE(line->ask("%R1Q,6001:1"), QByteArray("%R1P,0,0:0"));
        QCOMPARE(line->ask("%R1Q,6001:1"), QByteArray("%R1P,0,0:1793"));  // busy
        QCOMPARE(line->ask("%R1Q,6002:0"), QByteArray("%R1P,0,0:0"));
        QCOMPARE(line->ask("%R1Q,6002:0"), QByteArray("%R1P,0,0:1798"));

        for (const char *cmd : {"4", "11", "0", "3"})
            QCOMPARE(line->ask(QByteArray("%R1Q,2008:") + cmd + ",1"), QByteArray("%R1P,0,0:0"));
        for (const char *cmd : {"5", "7", "9", "12"})
            QCOMPARE(line->ask(QByteArray("%R1Q,2008:") + cmd + ",1"), QByteArray("%R1P,0,0:2"));

        // Mode 1: angles only, the distance left alone.
        QStringList f = fields(line->ask("%R1Q,17017:1"));
        QCOMPARE(f.size(), 5);
        QCOMPARE(f[0], QStringLiteral("0"));
        QVERIFY(f[1].toDouble() > 0 && f[2].toDouble() > 0);
        QCOMPARE(f[3], QStringLiteral("0"));
        QCOMPARE(f[4], QStringLiteral("1"));
        QVERIFY(line->ask("%R1Q,2108:0,1").startsWith("%R1P,0,0:1285,"));
        // Mode 2 measures; mode 0 repeats the last distance; mode 5 clears it.
        f = fields(line->ask("%R1Q,17017:2"));
        const double d = f.value(3).toDouble();
        QVERIFY2(f[0] == QLatin1String("0") && d > 1, qPrintable(f.join(',')));
        QCOMPARE(fields(line->ask("%R1Q,17017:0")).value(3).toDouble(), d);
        QCOMPARE(fields(line->ask("%R1Q,2108:0,1")).value(3).toDouble(), d);
        QCOMPARE(fields(line->ask("%R1Q,17017:5")).mid(3), (QStringList{"0", "5"}));
        QVERIFY(line->ask("%R1Q,2108:0,1").startsWith("%R1P,0,0:1285,"));
        QCOMPARE(line->ask("%R1Q,17017:3"), QByteArray("%R1P,0,0:2"));
        // Mode 6 stops tracking: no distance follows.
        QVERIFY(line->ask("%R1Q,2008:2,1").endsWith(":0"));
        QTest::qWait(150);
        QCOMPARE(fields(line->ask("%R1Q,17017:6")).value(4), QStringLiteral("6"));
        QTest::qWait(250);
        QVERIFY(line->ask("%R1Q,2108:0,1").startsWith("%R1P,0,0:1285,"));
    }

    void numbersAreFixedPoint()
    {
        // A target 0.1 mm off the x axis at 10 m: Hz = 1e-5 rad counted
        // counter-clockwise.
        QTemporaryFile scene;
        QVERIFY(scene.open());
        scene.write("T 10 0.0001 0.00000001\n");
        scene.close();
        QVERIFY(start({"--fast", "--counter-clockwise", "--scene", scene.fileName()}));
        const QStringList f = fields(line->ask("%R1Q,17017:2"));
        QCOMPARE(f.size(), 5);
        static const QRegularExpression fixed(QStringLiteral("^-?\\d+(\\.\\d+)?$"));
        for (const QString &x : f)
            QVERIFY2(fixed.match(x).hasMatch(), qPrintable(f.join(',')));
        QVERIFY(std::fabs(f[1].toDouble() - 1e-5) < 1e-12);
        QVERIFY(std::fabs(f[2].toDouble() - (M_PI / 2 - 1e-9)) < 1e-12);
    }

    void realTimingByDefaultAndFastOnRequest()
    {
        QVERIFY(start({}));
        QByteArray r;
        const double quick = line->timed("%R1Q,5003:", &r);
        QCOMPARE(r, QByteArray("%R1P,0,0:0,1234567"));
        QVERIFY2(quick >= 0.02 && quick < 1.0, qPrintable(QString::number(quick)));
        const double standard = line->timed("%R1Q,17017:2", &r);
        QVERIFY2(r.startsWith("%R1P,0,0:0,") && standard >= 1.9 && standard < 8, qPrintable(QString::number(standard)));
        line->ask("%R1Q,2020:3");  // single fast
        const double fastMode = line->timed("%R1Q,17017:2", &r);
        QVERIFY2(r.startsWith("%R1P,0,0:0,") && fastMode >= 0.7 && fastMode < 1.9, qPrintable(QString::number(fastMode)));
        line->ask("%R1Q,2020:2");

        // A TMC distance is there only once measured; a wait time waits for it.
        QVERIFY(line->ask("%R1Q,2008:1,1").endsWith(":0"));
        QVERIFY(line->ask("%R1Q,2108:0,1").startsWith("%R1P,0,0:1285,"));
        QVERIFY(line->ask("%R1Q,2108:5000,1").startsWith("%R1P,0,0:0,"));

        // Terminating in the middle of a measurement does not wait for it.
        line->send("%R1Q,17017:2");
        QTest::qWait(100);
        QElapsedTimer clock;
        clock.start();
        sim->process()->terminate();
        QVERIFY(sim->process()->waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));

        QVERIFY(start({"--fast"}));
        const double immediate = line->timed("%R1Q,17017:2", &r);
        QVERIFY2(r.startsWith("%R1P,0,0:0,") && immediate < 1.5, qPrintable(QString::number(immediate)));
        QVERIFY(start({"--fast", "--measure-delay", "500"}));
        const double fixedDelay = line->timed("%R1Q,17017:2", &r);
        QVERIFY2(r.startsWith("%R1P,0,0:0,") && fixedDelay >= 0.5, qPrintable(QString::number(fixedDelay)));
    }
    void tcpServesOneClientAtATimeBesideThePty()
    {
        QVERIFY(start({"--measure-delay", "300", "--delay", "0", "--tcp", "0"}));
        QVERIFY2(sim->portName().startsWith("127.0.0.1:"), qPrintable(sim->portName()));
        // The second line names the terminal: the same instrument on both.
        QTRY_VERIFY(sim->process()->canReadLine());
        Line pty(QString::fromLocal8Bit(sim->process()->readLine()).trimmed());
        QVERIFY(pty.isOpen());
        QCOMPARE(line->ask("%R1Q,2020,5:3"), QByteArray("%R1P,0,5:0"));
        QCOMPARE(pty.ask("%R1Q,2021:"), QByteArray("%R1P,0,0:0,3"));

        // A second client is closed at once; the first one is still served.
        Line second(sim->portName());
        QVERIFY(second.isOpen());
        QCOMPARE(second.ending(), QByteArray("closed"));
        QCOMPARE(line->ask("%R1Q,5003:"), QByteArray("%R1P,0,0:0,1234567"));

        // A client that leaves in the middle of a distance makes room for
        // the next one, which connects while the distance is measured.
        line->send("%R1Q,17017:2");
        line.reset();
        Line third(sim->portName());
        QCOMPARE(third.ask("%R1Q,5003:"), QByteArray("%R1P,0,0:0,1234567"));
        QCOMPARE(sim->process()->state(), QProcess::Running);
    }

    void closeAndResetFaultsEndOnlyTheConnection()
    {
        QVERIFY(start({"--fast", "--tcp", "0", "--no-pty", "--fault", "17017:close=200:1", "--fault", "5004:reset:1"}));
        line->send("%R1Q,17017:2");
        QCOMPARE(line->ending(), QByteArray("closed"));
        line.reset(new Line(sim->portName()));
        QVERIFY(line->ask("%R1Q,17017:2").startsWith("%R1P,0,0:0,"));
        line->send("%R1Q,5004:");
        QCOMPARE(line->ending(), QByteArray("reset"));
        line.reset(new Line(sim->portName()));
        QCOMPARE(line->ask("%R1Q,5004:"), QByteArray("%R1P,0,0:0,\"TS16 R500 (simulated)\""));
    }

    void seededFaultsRepeatWithTheirSeed()
    {
        // 40 serial numbers asked for, with or without other requests in
        // between: a rule draws only for requests of its procedure.
        auto run = [this](const char *seed, bool interleaved) {
            QList<QByteArray> replies;
            if (!start({"--fast", "--tcp", "0", "--no-pty", "--seed", seed, "--fault", "5003:error=1292:30%",
                        "--fault", "5003:garbage:30%:3", "--fault", "0:error=13:50%"}))
                return replies;
            for (int i = 0; i < 40; ++i) {
                if (interleaved && i % 3 == 0)
                    line->ask("%R1Q,0:");
                replies << line->ask("%R1Q,5003:");
            }
            return replies;
        };
        const QList<QByteArray> first = run("7", false);
        QCOMPARE(first.size(), 40);
        QCOMPARE(first.count("\x07?#garbage!@"), 3);
        const int failed = first.count("%R1P,0,0:1292");
        QVERIFY2(failed > 0 && failed + 3 < 40, qPrintable(QString::number(failed)));
        QCOMPARE(first.count("%R1P,0,0:1292") + first.count("%R1P,0,0:0,1234567") + 3, 40);
        QCOMPARE(run("7", true), first);
        QVERIFY(run("8", false) != first);
    }

    void replyLogTellsWhatWasAnswered()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("replies.log");
        QVERIFY(start({"--fast", "--tcp", "0", "--no-pty", "--reply-log", path, "--ignore-transaction-ids",
                       "--fault", "2008:silent:100%:1", "--fault", "5004:garbage:1", "--fault", "17017:close:1"}));
        line->send("%R1Q,2008,4:3,1");
        QCOMPARE(line->ask("%R1Q,5003,5:"), QByteArray("%R1P,0,0:0,1234567"));
        QCOMPARE(line->ask("%R1Q,2008,6:3,1"), QByteArray("%R1P,0,0:0"));
        line->ask("%R1Q,5004:");
        line->send("%R1Q,17017:2");
        QCOMPARE(line->ending(), QByteArray("closed"));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList rows;
        for (const QByteArray &l : file.readAll().split('\n')) {
            QList<QByteArray> f = l.split('\t');
            if (f.size() > 2) {
                f.removeAt(1);  // the time
                rows << QString::fromLatin1(f.join('|')).replace(QRegularExpression("127\\.0\\.0\\.1:\\d+"), "127.0.0.1:PORT");
            }
        }
        QCOMPARE(rows, (QStringList{"#|tcp|connected 127.0.0.1:PORT",
                                    "1|tcp|%R1Q,2008,4:3,1|silent|none|silent",
                                    "2|tcp|%R1Q,5003,5:|-|reply|%R1P,0,0:0,1234567",
                                    "3|tcp|%R1Q,2008,6:3,1|-|reply|%R1P,0,0:0",
                                    "4|tcp|%R1Q,5004:|garbage|reply|\\x07?#garbage!@",
                                    "5|tcp|%R1Q,17017:2|close|none|connection closed",
                                    "#|tcp|closed 127.0.0.1:PORT"}));
    }

    void badOptionsAreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("probability 0") << QStringList{"--fault", "5003:silent:0%"};
        QTest::newRow("probability over 100") << QStringList{"--fault", "5003:silent:100.5%"};
        QTest::newRow("two counts") << QStringList{"--fault", "5003:silent:2:3"};
        QTest::newRow("negative code") << QStringList{"--fault", "5003:error=-1"};
        QTest::newRow("port over 65535") << QStringList{"--tcp", "65536"};
        QTest::newRow("no port at all") << QStringList{"--no-pty"};
    }

    void badOptionsAreRefused()
    {
        QFETCH(QStringList, arguments);
        QProcess p;
        p.start(SimulatorProcess::executable(), arguments);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
