// A day's faults together: the real window presses Measure again and again
// while the simulated instrument fails shots, leaves shots, clears and other
// requests unanswered and answers late (all drawn from a seed), and the
// reference CAD server is killed and started again on its port. At the end:
// every press whose reply arrived gave exactly one point, in the journal,
// under the session the operator had chosen; no point is at the server twice
// or under another name; every point is at the server or offered again.
//
// STADIOLINK_SOAK_SEED (default 20261208) and STADIOLINK_SOAK_MEASURES
// (default 60) choose the run; bench/run-soak runs it with other seeds.
// STADIOLINK_FIELD_TRANSPORT=tcp puts the instrument on TCP.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <random>

#include "../tools/cadserverprocess.h"
#include "geocom.h"
#include "journal.h"
#include "journalrecord.h"
#include "mainwindow.h"
#include "ptypeer.h"
#include "test_mainwindow_support.h"
#include "unsentpoints.h"

namespace {

// Answers every box the window shows: the offer of unsent points with
// Later (nothing is sent twice unasked), anything else with its first
// button; keeps "title: text" of each.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer()
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen << box->windowTitle() + QStringLiteral(": ") + box->text();
            for (QAbstractButton *b : box->buttons()) {
                if (box->windowTitle() != QLatin1String("Unsent points") || b->text() == QLatin1String("Later")) {
                    b->click();
                    return;
                }
            }
        });
        timer.start();
    }
    QStringList seen;

private:
    QTimer timer;
};

// session|group|point of every row of the server's CSV file.
QStringList csvRows(const QString &path)
{
    QFile f(path);
    QStringList out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &l : lines) {
        const QStringList c = QString::fromUtf8(l).split(QLatin1Char(','));
        if (c.size() >= 7 && c[0] != QLatin1String("session"))
            out << c.mid(0, 3).join(QLatin1Char('|'));
    }
    return out;
}

// The point lines of a journal folder, in the order they were written.
QVector<JournalRecord> journalPoints(const QString &folder)
{
    QVector<JournalRecord> out;
    for (const JournalRecord &r : journalLines(folder))
        if (r.kind == JournalRecord::Point)
            out << r;
    return out;
}

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void faultsTogetherFileEveryPointOnce()
    {
        const int seed = envInt("STADIOLINK_SOAK_SEED", 20261208);
        const int presses = envInt("STADIOLINK_SOAK_MEASURES", 60);
        const bool tcp = qEnvironmentVariable("STADIOLINK_FIELD_TRANSPORT") == QLatin1String("tcp");
        qInfo("soak: seed %d, %d Measures, instrument on %s", seed, presses, tcp ? "TCP" : "a pty");
        const QByteArray why = "seed " + QByteArray::number(seed) + ": ";
        std::mt19937 rng{quint32(seed)};

        // A distance may take 1.5 s; a late answer comes after 2 s.
        const int distanceBound = 1500, quickBound = 600;
        QTemporaryDir dir;
        const QString replyLog = dir.filePath(QStringLiteral("replies.log"));
        // Every direction finds a target (the arrows turn the telescope
        // between the presses, so each distance has angles of its own).
        QStringList simArgs{"--delay", "5", "--measure-delay", "150", "--seed", QString::number(seed),
                            "--aim-tolerance", "3.2",
                            "--reply-log", replyLog,
                            "--fault", "17017:error=1292:15%", "--fault", "17017:silent:6%",
                            "--fault", "17017:delay=2000:6%", "--fault", "2008:silent:20%",
                            "--fault", "any:silent:3%"};
        if (tcp)
            simArgs << "--tcp" << "0" << "--no-pty";
        SimulatorProcess sim(simArgs);
        QVERIFY(sim.isReady());

        // The server, on the same port after each kill, appending to one CSV file.
        const QString csv = dir.filePath(QStringLiteral("points.csv"));
        const quint16 serverPort = deadPort();
        std::unique_ptr<QProcess> server;
        auto startServer = [&] {
            server.reset(new QProcess);
            server->start(CadServerProcess::program(), {"--port", QString::number(serverPort), "--csv", csv});
            return server->waitForStarted(5000) && server->waitForReadyRead(10000)
                   && server->readLine().startsWith("listening on ");
        };
        auto killServer = [&] {
            server->kill();
            server->waitForFinished(3000);
        };
        QVERIFY(startServer());

        BoxAnswerer boxes;
        QTemporaryDir journalDir;
        MainWindow w(QStringLiteral("TS16"));
        w.setInstrumentReplyTimeouts(distanceBound, quickBound);
        chooseLinks(w, sim.portName(), serverPort);
        w.setReconnectDelays({500, 1000, 2000});
        w.journal()->setFolder(journalDir.path());
        w.ui().sessionEdit->setText(QStringLiteral("SOAK1"));
        w.ui().groupEdit->setText(QStringLiteral("G"));
        w.ui().pointNameEdit->setText(QStringLiteral("P1"));
        w.ui().actionConnect->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w.ui().serverStatusLabel->isEnabled(), 30000);

        // The distance measurements the instrument got so far.
        const auto shotsSoFar = [&] {
            QFile f(replyLog);
            int n = 0;
            if (f.open(QIODevice::ReadOnly))
                for (const QByteArray &line : f.readAll().split('\n'))
                    n += line.split('\t').value(3).startsWith("%R1Q,17017");
            return n;
        };
        int serverDownFor = 0;  // presses until the server is started again
        int kills = 0;
        QStringList sessions;   // the session of each distance measurement, in order
        for (int i = 0; i < presses; ++i) {
            if (i == presses / 2)
                w.ui().sessionEdit->setText(QStringLiteral("SOAK2"));
            QTRY_VERIFY2_WITH_TIMEOUT(w.ui().measButton->isEnabled(), why + "Measure stays disabled", 30000);
            const QString session = w.ui().sessionEdit->text();
            const int before = shotsSoFar();
            w.ui().measButton->click();
            QTRY_VERIFY2_WITH_TIMEOUT(w.ui().measButton->isEnabled(), why + "the measurement does not end", 30000);
            // (a press whose session wait ended with the server measured nothing)
            for (int n = shotsSoFar(); n > before; --n)
                sessions << session;

            // Turn a little for the next one.
            QTRY_VERIFY_WITH_TIMEOUT(w.ui().rightButton->isEnabled(), 30000);
            emit w.ui().rightButton->pressed();
            QTest::qWait(std::uniform_int_distribution<int>(30, 120)(rng));
            emit w.ui().rightButton->released();

            if (serverDownFor > 0 && --serverDownFor == 0) {
                QVERIFY2(startServer(), why + "the server does not start again");
            } else if (serverDownFor == 0 && std::uniform_int_distribution<int>(0, 99)(rng) < 12) {
                killServer();
                serverDownFor = std::uniform_int_distribution<int>(1, 3)(rng);
                ++kills;
            }
        }
        if (serverDownFor > 0)
            QVERIFY(startServer());
        // The server link comes back by itself; what it has in flight is answered.
        QTRY_VERIFY2_WITH_TIMEOUT(w.ui().serverStatusLabel->isEnabled(),
                                  why + "no reconnection: " + w.ui().serverStatusLabel->text().toUtf8(), 60000);
        QTest::qWait(1500);
        w.ui().actionDisconnect->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isClosing(), 30000);
        qInfo("soak: server killed %d times; %lld boxes answered", kills, qlonglong(boxes.seen.size()));

        // What the instrument answered in time, press by press.
        QFile log(replyLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QStringList expectedSessions;
        QList<double> expectedHz;
        int shots = 0;
        for (const QByteArray &line : log.readAll().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() < 7 || !GeoCom::withoutTransactionId(f[3]).startsWith("%R1Q,17017:"))
                continue;
            const bool answered = f[5] == "reply" && f[6].contains(":0,") && !f[4].startsWith("delay");
            if (answered) {
                expectedSessions << sessions.value(shots);
                expectedHz << f[6].mid(f[6].indexOf(":0,") + 3).split(',').value(0).toDouble();
            }
            ++shots;
        }
        QCOMPARE(shots, sessions.size());
        QVERIFY2(shots >= presses * 3 / 4, why + "too few distance measurements");

        // Each of them once in the journal, in the operator's session, no
        // name twice.
        const QVector<JournalRecord> points = journalPoints(journalDir.path());
        QStringList journalSessions;
        QSet<QString> names;
        for (const JournalRecord &r : points) {
            journalSessions << r.point.sessionName;
            const QString key = r.point.sessionName + QLatin1Char('|') + r.point.groupName + QLatin1Char('|')
                                + r.point.pointName;
            QVERIFY2(!names.contains(key), why + "a name measured twice: " + key.toUtf8());
            names.insert(key);
        }
        // Each from the answer to its own request: the angles say which.
        QCOMPARE(points.size(), expectedHz.size());
        for (int k = 0; k < points.size(); ++k)
            QVERIFY2(qAbs(points[k].hzAngle - expectedHz[k]) < 1e-9,
                     why + "point " + QByteArray::number(k) + " has another shot's angles");
        QVERIFY2(journalSessions == expectedSessions,
                 why + "journal " + journalSessions.join(' ').toUtf8() + " / answered " +
                     expectedSessions.join(' ').toUtf8());

        // At the server at most once and only as measured; the rest offered.
        const QStringList filed = csvRows(csv);
        QCOMPARE(QSet<QString>(filed.begin(), filed.end()).size(), filed.size());
        QSet<QString> offered;
        for (const JournalRecord &r : collectUnsentPoints(journalDir.path(), {}, false).points)
            offered.insert(r.point.sessionName + QLatin1Char('|') + r.point.groupName + QLatin1Char('|')
                           + r.point.pointName);
        for (const QString &f : filed)
            QVERIFY2(names.contains(f), why + "filed but never measured: " + f.toUtf8());
        for (const QString &n : qAsConst(names))
            QVERIFY2(filed.contains(n) || offered.contains(n), why + "neither at the server nor offered: " + n.toUtf8());
        qInfo("soak: %d presses, %lld points answered, %lld at the server, %lld offered again", presses,
              qlonglong(points.size()), qlonglong(filed.size()), qlonglong(offered.size()));
        QVERIFY2(!boxes.seen.join('\n').contains(QLatin1String("Session")), why + "a session conflict came up");
    }
};

QTEST_MAIN(TestSoak)
#include "test_soak.moc"
