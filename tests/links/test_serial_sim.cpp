// The serial link against the simulated instrument: identification, measured
// geometry against a known scene, motors, lock, tracking and injected faults.

#include "geocom.h"
#include "linktesting.h"
#include "ptypeer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

struct Truth {
    double x, y, z;
};

// Polar reading to scene coordinates for a station at (sx,sy,sz) whose Hz
// zero points along `orientation` and whose Hz grows clockwise (seen from
// above, as on a real instrument) unless told otherwise.
Truth toScene(double hz, double v, double d, double sx, double sy, double sz, double orientation,
              bool clockwise = true)
{
    const double lx = d * std::sin(v) * std::cos(hz);
    const double ly = (clockwise ? -d : d) * std::sin(v) * std::sin(hz);
    const double lz = d * std::cos(v);
    const double c = std::cos(orientation), s = std::sin(orientation);
    return {sx + c * lx - s * ly, sy + s * lx + c * ly, sz + lz};
}

} // namespace

class TestSerialSim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    SimulatorProcess *sim = nullptr;
    TestableHandler *link = nullptr;
    LinkRecorder *rec = nullptr;

    QString scenePath() const { return dir.filePath(QStringLiteral("scene.txt")); }
    QString logPath() const { return dir.filePath(QStringLiteral("requests.log")); }

    void open(const QStringList &extra, bool startup = true, int timeoutMs = 3000)
    {
        QFile::remove(logPath());
        sim = new SimulatorProcess(QStringList{"--scene", scenePath(), "--station", "100,200,10,0.5",
                                               "--fast", "--log", logPath()} + extra);
        QVERIFY2(sim->isReady(), qPrintable(SimulatorProcess::executable()));
        link = new TestableHandler;
        link->setReplyTimeout(timeoutMs);
        rec = new LinkRecorder(link);
        QVERIFY2(link->openPort(ptySettings(sim->portName())), qPrintable(link->errorString()));
        if (startup)
            link->queueStartupRequests();
        link->start();
    }

    QStringList loggedRequests() const
    {
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QByteArray &l : f.readAll().split('\n'))
            if (!l.trimmed().isEmpty())
                out << QString::fromLatin1(GeoCom::withoutTransactionId(l.trimmed()));
        return out;
    }

    MeasDistanceAngle measure()
    {
        const int before = rec->responsesFor(BAP_MeasDistanceAngle).size();
        link->enqueue(BAP_MeasDistanceAngle, {2});
        [&] { QTRY_COMPARE_WITH_TIMEOUT(rec->responsesFor(BAP_MeasDistanceAngle).size(), before + 1, 5000); }();
        return rec->responsesFor(BAP_MeasDistanceAngle).last().second.value<MeasDistanceAngle>();
    }

    // Asks for the angles (the window's poll) until they arrive.
    TMC_HZ_V_ANG angles()
    {
        const int before = rec->responsesFor(TMC_GetAngle5).size();
        for (int i = 0; i < 100 && rec->responsesFor(TMC_GetAngle5).size() == before; ++i) {
            link->enqueue(TMC_GetAngle5, {1});
            QTest::qWait(50);
        }
        if (rec->responsesFor(TMC_GetAngle5).size() == before)
            return {-1, -1};
        return rec->responsesFor(TMC_GetAngle5).last().second.value<TMC_HZ_V_ANG>();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QFile f(scenePath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Text));
        f.write("# name x y z\n"
                "BP1 112.5 207.25 11.5\n"
                "BP2, 90.0, 215.0, 9.0\n"
                "BP3 95 180 12.75   # behind\n");
    }

    void cleanup()
    {
        if (link && link->isRunning())
            link->stop();
        delete rec;
        delete link;
        delete sim;
        rec = nullptr;
        link = nullptr;
        sim = nullptr;
    }

    void helpExplainsTheOptions()
    {
        QProcess p;
        p.start(SimulatorProcess::executable(), {"--help"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        for (const char *opt : {"--scene", "--station", "--delay", "--measure-delay", "--fast", "--fault", "--log", "--track-interval"})
            QVERIFY2(out.contains(QLatin1String(opt)), opt);
    }

    void badOptionsAreRefused()
    {
        QProcess p;
        p.start(SimulatorProcess::executable(), {"--fault", "5004:explode"});
        QVERIFY(p.waitForFinished(5000));
        QVERIFY(p.exitCode() != 0);
        p.start(SimulatorProcess::executable(), {"--scene", dir.filePath("missing.txt")});
        QVERIFY(p.waitForFinished(5000));
        QVERIFY(p.exitCode() != 0);
    }

    void startupIdentifiesTheInstrument()
    {
        open({"--serial", "3216936", "--name", "TS16 A 1\" R500", "--temperature", "23.47"});
        QTRY_COMPARE(rec->responses.size(), 4);
        QCOMPARE(rec->responses[0].second, QVariant(3216936));
        QCOMPARE(rec->responses[1].second.toString(), QStringLiteral("\"TS16 A 1\\\" R500\""));
        QCOMPARE(rec->responses[2].second.toString(), QStringLiteral("23.470"));
        QCOMPARE(rec->responses[3].second, QVariant(2));
        QTRY_VERIFY(loggedRequests().size() >= 6);
        QCOMPARE(loggedRequests(), (QStringList{"%R1Q,5003:", "%R1Q,5004:", "%R1Q,5011:", "%R1Q,2021:",
                                                 "%R1Q,2008:3,1", "%R1Q,1004:0"}));
        QVERIFY(rec->errors.isEmpty());
    }

    void measurementMatchesTheScene_data()
    {
        QTest::addColumn<bool>("clockwise");
        QTest::newRow("clockwise") << true;
        QTest::newRow("counter-clockwise") << false;
    }
    void measurementMatchesTheScene()
    {
        QFETCH(bool, clockwise);
        open(clockwise ? QStringList() : QStringList{"--counter-clockwise"});
        const MeasDistanceAngle m = measure();
        QCOMPARE(m.distMode, 2);
        // The first target lies left of the orientation: clockwise it reads
        // nearly a full turn.
        QCOMPARE(m.hzAngle > M_PI, clockwise);
        const Truth t = toScene(m.hzAngle, m.vAngle, m.slopeDistance, 100, 200, 10, 0.5, clockwise);
        QVERIFY(std::fabs(t.x - 112.5) < 1e-9);
        QVERIFY(std::fabs(t.y - 207.25) < 1e-9);
        QVERIFY(std::fabs(t.z - 11.5) < 1e-9);
        // The link clears the distance right after it; outside tracking it
        // never polls for one.
        QTRY_COMPARE(loggedRequests().mid(loggedRequests().indexOf(QStringLiteral("%R1Q,17017:2"))),
                     (QStringList{"%R1Q,17017:2", "%R1Q,2008:3,1"}));
        QVERIFY(!loggedRequests().contains(QStringLiteral("%R1Q,2108:0,1")));
        QVERIFY(rec->responsesFor(TMC_GetSimpleMea).isEmpty());
    }

    void motorsTurnAndLockSnapsBack()
    {
        open({});
        const TMC_HZ_V_ANG start = angles();
        QVERIFY(start.hzAngle >= 0);
        link->enqueue(MOT_StartController, {1});
        link->enqueue(MOT_SetVelocity, {0.5, 0.0});
        QTest::qWait(400);
        link->enqueue(MOT_StopController, {});
        const TMC_HZ_V_ANG moved = angles();
        const double turned = std::remainder(moved.hzAngle - start.hzAngle, 2 * M_PI);
        QVERIFY2(turned > 0.15, qPrintable(QString::number(turned)));
        QCOMPARE(moved.vAngle, start.vAngle);

        // Off target: no distance.
        link->enqueue(BAP_MeasDistanceAngle, {2});
        QTRY_COMPARE(rec->errors, QStringList{QStringLiteral("Command error 17017: error code 1292")});

        link->enqueue(AUS_SetUserLockState, {1});
        link->enqueue(AUT_FineAdjust, {0.7853981633974483, 0.7853981633974483, 0});
        QTRY_VERIFY(loggedRequests().contains(QStringLiteral("%R1Q,9013:")));
        const MeasDistanceAngle m = measure();
        const Truth t = toScene(m.hzAngle, m.vAngle, m.slopeDistance, 100, 200, 10, 0.5);
        QVERIFY(std::fabs(t.x - 112.5) < 1e-9 && std::fabs(t.y - 207.25) < 1e-9);
        QCOMPARE(rec->errors.size(), 1);
        const QStringList log = loggedRequests();
        QVERIFY(log.contains(QStringLiteral("%R1Q,6004:0.500000,0.000000")));
        QVERIFY(log.indexOf(QStringLiteral("%R1Q,9013:")) > log.indexOf(QStringLiteral("%R1Q,9037:0.785398,0.785398,0")));
    }

    void trackingDeliversDistancesUntilStopped()
    {
        open({"--track-interval", "30"});
        QTRY_COMPARE(rec->responses.size(), 4);
        link->enqueue(TMC_QuickDist, {});
        QTRY_VERIFY_WITH_TIMEOUT(rec->responsesFor(TMC_GetSimpleMea).size() >= 3, 5000);
        link->enqueue(TMC_DoMeasure, {3, 1});
        QTest::qWait(300);
        const int after = rec->responsesFor(TMC_GetSimpleMea).size();
        QTest::qWait(300);
        QCOMPARE(rec->responsesFor(TMC_GetSimpleMea).size(), after);
        QVERIFY(rec->errors.isEmpty());
    }

    void silentInstrumentTimesOutAndTheLinkGoesOn()
    {
        open({"--fault", "5004:silent:1"}, true, 500);
        QTRY_COMPARE_WITH_TIMEOUT(rec->errors, QStringList{QStringLiteral("Command error 5004: error code 3077")}, 5000);
        QTRY_COMPARE(rec->responses.size(), 3);
        QCOMPARE(rec->responses[1].first, CSV_GetIntTemp);
        link->enqueue(CSV_GetInstrumentName, {});
        QTRY_COMPARE(rec->responses.size(), 4);
        QCOMPARE(rec->responses[3].first, CSV_GetInstrumentName);
    }

    void lateReplyDoesNotShiftTheAnswers()
    {
        // 5003 answers after the link gave up on it; every later answer must
        // still belong to its own request.
        open({"--fault", "5003:delay=700:1"}, true, 400);
        QTRY_COMPARE_WITH_TIMEOUT(rec->responses.size(), 3, 5000);
        QCOMPARE(rec->responses[0].first, CSV_GetInstrumentName);
        QVERIFY(rec->responses[0].second.toString().startsWith(QLatin1Char('"')));
        QCOMPARE(rec->responses[1].first, CSV_GetIntTemp);
        QCOMPARE(rec->responses[1].second.toString(), QStringLiteral("21.300"));
        QCOMPARE(rec->responses[2].second, QVariant(2));
    }

    void injectedFaults()
    {
        open({"--fault", "18007:error=1285", "--fault", "5004:garbage:1", "--fault", "5011:split:1",
              "--fault", "2021:short:1"});
        QTRY_COMPARE(rec->responses.size(), 2);
        QCOMPARE(rec->responses[0].first, CSV_GetInstrumentNo);
        QCOMPARE(rec->responses[1].first, CSV_GetIntTemp);  // split, reassembled
        QCOMPARE(rec->responses[1].second.toString(), QStringLiteral("21.300"));
        link->enqueue(AUS_SetUserLockState, {1});
        QTRY_COMPARE(rec->errors.size(), 3);
        QCOMPARE(rec->errors, (QStringList{"Command error 5004: error code 3074", "Command error 2021: error code 3074",
                                           "Command error 18007: error code 1285"}));
    }

    void closedPortEndsTheLink()
    {
        open({"--fault", "17017:close"});
        QTRY_COMPARE(rec->responses.size(), 4);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 5000);
        QTRY_COMPARE(rec->lost.size(), 1);
        QVERIFY2(rec->lost[0].startsWith(QLatin1String("Port error ")), qPrintable(rec->lost[0]));
    }
};

QTEST_GUILESS_MAIN(TestSerialSim)
#include "test_serial_sim.moc"
