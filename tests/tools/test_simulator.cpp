// The simulated instrument line by line, as any GeoCOM client sees it: the
// framing (transaction id, checksum field), return codes of a real instrument,
// measurement modes, number format and timing.

#include "ptypeer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A client on the simulator's terminal.
class Line
{
public:
    explicit Line(const QString &path)
    {
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
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
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
