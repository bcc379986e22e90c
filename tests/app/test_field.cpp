// Field conditions: the real window against the simulated instrument taking
// its real time (a distance in about 2 s, answers in tens of ms) and the
// reference CAD server, with the faults a surveyor meets: clicks during a
// measurement, a failed first measurement, a port that vanishes, a server
// that goes away, a silent instrument, Disconnect while a distance is on its
// way. Each case checks what the operator sees and what the server filed.
//
// The suite runs twice: with the instrument on a pseudo-terminal, and with
// STADIOLINK_FIELD_TRANSPORT=tcp on a TCP connection to the simulator as a
// serial device server would carry it, where a closed or reset connection
// and an address that does not answer are tried as well.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../tools/cadserverprocess.h"
#include "geocom.h"
#include "mainwindow.h"
#include "ptypeer.h"
#include "resources.h"
#include "test_mainwindow_support.h"

namespace {

bool overTcp()
{
    return qEnvironmentVariable("STADIOLINK_FIELD_TRANSPORT") == QLatin1String("tcp");
}

// Time the calling thread spent blocked (neither running nor waiting for a
// CPU), from the kernel's scheduler statistics, so that a loaded machine's
// scheduling delays are not taken for a wait on a link. Falls back to wall
// time where the statistics are missing.
class BlockedTime
{
public:
    BlockedTime() { start(); }
    void start()
    {
        wall.start();
        have = read(&run0, &queued0);
    }
    double ms() const
    {
        const double w = wall.nsecsElapsed() / 1e6;
        qint64 run = 0, queued = 0;
        if (!have || !read(&run, &queued))
            return w;
        return w - (run - run0) / 1e6 - (queued - queued0) / 1e6;
    }

private:
    static bool read(qint64 *run, qint64 *queued)
    {
        QFile f(QStringLiteral("/proc/thread-self/schedstat"));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QList<QByteArray> v = f.readAll().trimmed().split(' ');
        if (v.size() < 2)
            return false;
        *run = v[0].toLongLong();
        *queued = v[1].toLongLong();
        return true;
    }
    QElapsedTimer wall;
    qint64 run0 = 0, queued0 = 0;
    bool have = false;
};

// The instrument with the timing of a real one.
class FieldInstrument
{
public:
    explicit FieldInstrument(const QStringList &extra = QStringList())
    {
        logPath = dir.filePath(QStringLiteral("requests.log"));
        // The simulator's default timing: answers after tens of ms, a
        // distance in standard mode after about 2 s.
        QStringList args{QStringLiteral("--log"), logPath};
        if (overTcp())
            args << QStringLiteral("--tcp") << QStringLiteral("0") << QStringLiteral("--no-pty");
        sim.reset(new SimulatorProcess(args + extra));
    }
    bool isReady() const { return sim->isReady(); }
    QString portName() const { return sim->portName(); }
    // The instrument's end of the port goes away, as an unplugged adapter or
    // a switched-off device server.
    void vanish()
    {
        sim->process()->kill();
        sim->process()->waitForFinished(3000);
    }
    QStringList requests() const
    {
        QFile f(logPath);
        QStringList out;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &l : f.readAll().split('\n'))
                if (!l.trimmed().isEmpty())
                    out << QString::fromUtf8(GeoCom::withoutTransactionId(l.trimmed()));
        return out;
    }
    int count(const QString &line) const { return requests().count(line); }

private:
    QTemporaryDir dir;
    QString logPath;
    std::unique_ptr<SimulatorProcess> sim;
};

struct Server {
    QTemporaryDir dir;
    CadServerProcess proc;
    QString csv() const { return dir.filePath(QStringLiteral("points.csv")); }
    bool start(const QStringList &extra = QStringList())
    {
        QString why;
        return proc.start(QStringList{QStringLiteral("--csv"), csv()} + extra, &why);
    }
    // session|group|point of every filed point.
    QStringList filed() const
    {
        QFile f(csv());
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        const QList<QByteArray> lines = f.readAll().split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            const QStringList c = QString::fromUtf8(lines[i]).split(QLatin1Char(','));
            if (c.size() >= 7)
                out << c.mid(0, 3).join(QLatin1Char('|'));
        }
        return out;
    }
};

// Answers every "Command error" box (in the current language) with Ok and
// keeps its text.
class CommandErrors : public QObject
{
public:
    CommandErrors()
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->isVisible()
                && box->windowTitle() == QCoreApplication::translate("MainWindow", "Command error")) {
                texts << box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer.start();
    }
    QStringList texts;

private:
    QTimer timer;
};

const QString kMeasure = QStringLiteral("%R1Q,17017:2");

// How the status bar and the log begin when the instrument's line failed.
QString lostText(const QString &port)
{
    return overTcp() ? QStringLiteral("The instrument was lost: Port error %1: ").arg(port)
                     : QStringLiteral("The instrument was lost: Port error %1: the port is gone").arg(port);
}

// A loopback address whose connections are never accepted: its listen
// queue is full, so further connection requests go unanswered.
class SilentAddress
{
public:
    SilentAddress()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener, reinterpret_cast<sockaddr *>(&a), len) != 0 || ::listen(listener, 0) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
        for (int &f : fillers) {
            f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(f, reinterpret_cast<sockaddr *>(&a), len);
        }
    }
    ~SilentAddress()
    {
        for (int f : fillers)
            ::close(f);
        ::close(listener);
    }
    QString name() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    int port = 0;

private:
    int listener = -1;
    int fillers[2] = {-1, -1};
};
const int kGenerous = 15000;
const int kHang = 60000;  // only a hang takes this long

} // namespace

class TestField : public QObject
{
    Q_OBJECT

    UnexpectedModals unexpected;
    std::unique_ptr<MainWindow> w;

    void connectWindow(const FieldInstrument &sim, const Server &server, const QString &session)
    {
        w.reset(new MainWindow(QStringLiteral("TS16")));
        w->ui().sessionEdit->setText(session);
        w->ui().groupEdit->setText(QStringLiteral("G"));
        w->ui().pointNameEdit->setText(QStringLiteral("P1"));
        chooseLinks(*w, sim.portName(), server.proc.port);
        w->ui().actionConnect->trigger();
        QVERIFY(w->serialLink());
        QVERIFY(w->serverLink());
        QTRY_COMPARE_WITH_TIMEOUT(w->ui().serialNumberLabel->text(), QStringLiteral("Serial number: 1234567"), kGenerous);
        QTRY_COMPARE(w->ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
    }

    // Runs `click` and returns how long the GUI thread was blocked in it.
    static double blockedIn(const std::function<void()> &click)
    {
        BlockedTime t;
        click();
        return t.ms();
    }

    void verifyClosed()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!w->isClosing(), kGenerous);
        QVERIFY(!w->serialLink());
        QVERIFY(!w->serverLink());
        QVERIFY(w->ui().actionConnect->isEnabled());
        QVERIFY(w->ui().actionSettings->isEnabled());
        QVERIFY(!w->ui().actionDisconnect->isEnabled());
        QVERIFY(!w->ui().measButton->isEnabled());
        QCOMPARE(w->ui().serverStatusLabel->text(), QStringLiteral("There is no connection to the server"));
        QCOMPARE(w->ui().serverStatusLabel->styleSheet(), QStringLiteral("color: red;"));
    }

private slots:
    void cleanup()
    {
        w.reset();
        const QStringList seen = unexpected.seen;
        unexpected.seen.clear();
        QVERIFY2(seen.isEmpty(), qPrintable(QStringLiteral("unexpected dialogs: ") + seen.join(QStringLiteral("; "))));
    }

    void clicksDuringAMeasurementDoNotWaitForIt()
    {
        FieldInstrument sim;
        Server server;
        QVERIFY(sim.isReady() && server.start());
        connectWindow(sim, server, QStringLiteral("S"));

        w->ui().measButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(kMeasure) == 1, kGenerous);
        // Measure shows that it measures until the distance is filed.
        QVERIFY(!w->ui().measButton->isEnabled());
        QCOMPARE(w->ui().measButton->text(), QStringLiteral("Measuring..."));
        QList<double> stalls;
        stalls << blockedIn([&] { w->ui().actionLaser->trigger(); });
        stalls << blockedIn([&] { emit w->ui().leftButton->pressed(); });
        stalls << blockedIn([&] { emit w->ui().leftButton->released(); });
        stalls << blockedIn([&] { emit w->ui().edmModeCombo->activated(2); });
        stalls << blockedIn([&] { w->ui().actionLaser->trigger(); });
        qInfo("GUI thread blocked per click, ms: %s", qPrintable([&] {
            QStringList t;
            for (double s : stalls)
                t << QString::number(s, 'f', 2);
            return t.join(QLatin1Char(' '));
        }()));
        for (double s : stalls)
            QVERIFY2(s < 20, qPrintable(QStringLiteral("GUI thread blocked %1 ms").arg(s)));
        // The measurement was still running: nothing else went out meanwhile.
        QCOMPARE(sim.requests().constLast(), kMeasure);

        QTRY_COMPARE_WITH_TIMEOUT(server.filed(), QStringList{QStringLiteral("S|G|P1")}, kGenerous);
        QTRY_VERIFY(w->ui().measButton->isEnabled());
        QCOMPARE(w->ui().measButton->text(), QStringLiteral("Measure"));
        // The requests follow in the order clicked, after the distance's clear.
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(QStringLiteral("%R1Q,1004:0")) == 2, kGenerous);
        QStringList after;
        for (const QString &r : sim.requests().mid(sim.requests().indexOf(kMeasure) + 1)) {
            const QString rpc = r.section(QLatin1Char(':'), 0, 0);
            if (rpc != QLatin1String("%R1Q,2108") && rpc != QLatin1String("%R1Q,2107")
                && rpc != QLatin1String("%R1Q,5011"))
                after << rpc;
        }
        QCOMPARE(after.mid(0, 7).join(' '),
                 QStringLiteral("%R1Q,2008 %R1Q,1004 %R1Q,6001 %R1Q,6004 %R1Q,6002 %R1Q,2020 %R1Q,1004"));
        // One Measure, one point: the polls that follow find no distance.
        QTest::qWait(1500);
        QCOMPARE(server.filed().size(), 1);
    }

    // Two failed measurements, said in words in English and in Russian, then
    // one that is filed.
    void failedMeasurementsThenRetry()
    {
        FieldInstrument sim({QStringLiteral("--fault"), QStringLiteral("17017:error=1292:2")});
        Server server;
        QVERIFY(sim.isReady() && server.start());
        connectWindow(sim, server, QStringLiteral("S1"));

        CommandErrors errors;
        w->ui().sessionEdit->setText(QStringLiteral("S2"));
        w->ui().measButton->click();
        QVERIFY(!w->ui().measButton->isEnabled());
        const QString english = QStringLiteral(
            "No distance could be measured: no reflector or target in the line of sight (Command error "
            "17017: error code 1292). Aim the telescope at the reflector (or choose a reflectorless EDM "
            "mode for a target without one) and measure again.");
        QTRY_COMPARE_WITH_TIMEOUT(errors.texts, QStringList{english}, kGenerous);
        QVERIFY(logText(*w).contains(english));
        QVERIFY(w->ui().measButton->isEnabled());   // the failure ends the measurement

        stadiolinkInitResources();
        QTranslator russian;
        QVERIFY(russian.load(QStringLiteral(":/translations/Stadiolink_ru.qm")));
        QCoreApplication::installTranslator(&russian);
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(errors.texts.size(), 2, kGenerous);
        QCoreApplication::removeTranslator(&russian);
        QCOMPARE(errors.texts[1],
                 QStringLiteral("Расстояние не измерено: на линии визирования нет отражателя или цели "
                                "(Ошибка команды 17017: код ошибки 1292). Наведите трубу на отражатель "
                                "(для цели без отражателя выберите безотражательный режим дальномера) и "
                                "измерьте снова."));

        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server.filed(), QStringList{QStringLiteral("S2|G|P1")}, kGenerous);
        QTRY_COMPARE(w->ui().sessionEdit->text(), QStringLiteral("S2"));
        QCOMPARE(sim.count(kMeasure), 3);
        QTest::qWait(500);
        QCOMPARE(server.filed().size(), 1);
    }

    // The port vanishes while the instrument tracks and measures.
    void portVanishesMidSession()
    {
        // The distance never comes, and tracking delivers none.
        std::unique_ptr<FieldInstrument> sim(new FieldInstrument(
            {QStringLiteral("--measure-delay"), QStringLiteral("600000"), QStringLiteral("--track-interval"),
             QStringLiteral("600000")}));
        Server server;
        QVERIFY(sim->isReady() && server.start());
        connectWindow(*sim, server, QStringLiteral("S"));
        const QString port = sim->portName();
        w->ui().trackingButton->click();
        QVERIFY(w->ui().trackingButton->isChecked());
        w->ui().measButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim->count(kMeasure) == 1, kGenerous);

        sim->vanish();
        QTRY_VERIFY_WITH_TIMEOUT(!w->serialLink(), kGenerous);
        verifyClosed();
        // Neither the measurement nor the tracking outlives the link.
        QVERIFY(!w->isMeasuring() && !w->isTrackingActive());
        QVERIFY(!w->ui().trackingButton->isChecked());
        QCOMPARE(w->ui().trackingButton->text(), QStringLiteral("Tracking"));
        const QString lost = lostText(port);
        QVERIFY2(statusText(*w).startsWith(lost), qPrintable(statusText(*w)));
        QVERIFY2(logText(*w).contains(lost), qPrintable(logText(*w)));

        // Connect again, to the instrument back on the line: no restart.
        sim.reset(new FieldInstrument);
        QVERIFY(sim->isReady());
        chooseLinks(*w, sim->portName(), server.proc.port);
        w->ui().actionConnect->trigger();
        QVERIFY(w->serialLink() && w->serverLink());
        QTRY_COMPARE(w->ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
        QVERIFY(w->ui().measButton->isEnabled());
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server.filed(), QStringList{QStringLiteral("S|G|P1")}, kGenerous);
    }

    // Disconnect, and later the loss of the port, while the operator holds
    // an arrow: the motor stops first, the window closes cleanly.
    void arrowHeldAtDisconnectOrPortLoss()
    {
        FieldInstrument sim;
        Server server;
        QVERIFY(sim.isReady() && server.start());
        connectWindow(sim, server, QStringLiteral("S"));
        w->show();
        const QString turn = QStringLiteral("%R1Q,6004:-0.010000,0.000000");
        QPushButton *left = w->ui().leftButton;

        QTest::mousePress(left, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(turn) == 1, kGenerous);
        w->ui().actionDisconnect->trigger();
        verifyClosed();
        QVERIFY(!left->isDown());
        QCOMPARE(sim.requests().value(sim.requests().indexOf(turn) + 1), QStringLiteral("%R1Q,6002:"));
        QCOMPARE(sim.count(QStringLiteral("%R1Q,6002:")), 1);

        w->ui().actionConnect->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(left->isEnabled() && sim.count(QStringLiteral("%R1Q,1004:0")) == 2, kGenerous);
        QTest::mousePress(left, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(turn) == 2, kGenerous);
        sim.vanish();
        QTRY_VERIFY_WITH_TIMEOUT(!w->serialLink(), kGenerous);
        verifyClosed();
        QVERIFY(!left->isDown());
        QVERIFY2(statusText(*w).startsWith(QStringLiteral("The instrument was lost")), qPrintable(statusText(*w)));
    }

    // Tracking goes on after a Measure (the measurement ended it on the
    // instrument), and the Measure's distance is filed once. Tracking's own
    // distances are spaced out of the test's reach so that every filed point
    // is the Measure's.
    void measureWhileTracking()
    {
        FieldInstrument sim({QStringLiteral("--track-interval"), QStringLiteral("600000")});
        Server server;
        QVERIFY(sim.isReady() && server.start());
        connectWindow(sim, server, QStringLiteral("S"));
        const QString track = QStringLiteral("%R1Q,2117:");
        w->ui().trackingButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(track) == 1, kGenerous);

        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server.filed(), QStringList{QStringLiteral("S|G|P1")}, kGenerous);
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(track) == 2, kGenerous);
        QVERIFY(sim.requests().lastIndexOf(track) > sim.requests().indexOf(kMeasure));
        QVERIFY(w->isTrackingActive());
        QCOMPARE(w->ui().trackingButton->text(), QStringLiteral("Stop"));
        QTest::qWait(1500);  // polls that would find the distance again
        QCOMPARE(server.filed().size(), 1);
    }

    void serverGoesAwayMidSession()
    {
        FieldInstrument sim;
        std::unique_ptr<Server> server(new Server);
        QVERIFY(sim.isReady() && server->start());
        connectWindow(sim, *server, QStringLiteral("S"));
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server->filed().size(), 1, kGenerous);

        ModalAnswer box(clickButton(QMessageBox::Ok));
        server->proc.proc->kill();
        QTRY_VERIFY_WITH_TIMEOUT(box.done, kGenerous);
        QCOMPARE(box.text, QStringLiteral("The server has closed the connection"));
        // (the window tries again by itself; the tests' windows wait an hour for it)
        QTRY_VERIFY(w->ui().serverStatusLabel->text().startsWith(QStringLiteral("Reconnecting to the server")));
        QTRY_VERIFY(!w->serverLink());
        // Measure says there is no server and measures all the same: the
        // point is kept in the journal as unsent. The instrument stays linked.
        const int measured = sim.count(kMeasure);
        w->ui().measButton->click();
        QCOMPARE(statusText(*w), QStringLiteral("There is no connection to the server"));
        QTRY_VERIFY_WITH_TIMEOUT(logText(*w).contains(QStringLiteral("not sent, kept in the journal")), kGenerous);
        QCOMPARE(sim.count(kMeasure), measured + 1);
        QVERIFY(w->ui().actionDisconnect->isEnabled());

        // Disconnect and Connect to the server back on the line.
        w->ui().actionDisconnect->trigger();
        verifyClosed();
        server.reset(new Server);
        QVERIFY(server->start());
        chooseLinks(*w, sim.portName(), server->proc.port);
        w->ui().actionConnect->trigger();
        QTRY_COMPARE(w->ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server->filed().size(), 1, kGenerous);
    }

    void silentInstrument()
    {
        FieldInstrument sim({QStringLiteral("--fault"), QStringLiteral("any:silent")});
        Server server;
        QVERIFY(sim.isReady() && server.start());
        CommandErrors errors;
        w.reset(new MainWindow);
        chooseLinks(*w, sim.portName(), server.proc.port);
        w->ui().actionConnect->trigger();
        QVERIFY(w->serialLink());
        // Quick requests give up after about a second each, so the start-up
        // requests get through, the unanswered clear is tried again and the
        // window's poll still gets its turn (the bound only catches a hang).
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(QStringLiteral("%R1Q,2008:3,1")) >= 2
                                     && sim.count(QStringLiteral("%R1Q,2107:1")) >= 1,
                                 kHang);
        QCOMPARE(sim.count(QStringLiteral("%R1Q,2108:0,1")), 0);  // nothing tracks
        QTRY_VERIFY(errors.texts.contains(QStringLiteral(
            "The instrument did not answer in time (Command error 5003: error code 3077). Check that the "
            "instrument is switched on and its cable is plugged in; if it keeps happening, disconnect "
            "and connect again.")));
        // The window stays responsive; Disconnect ends the link promptly.
        QVERIFY(blockedIn([&] { w->ui().actionLaser->trigger(); }) < 20);
        QVERIFY(blockedIn([&] { w->ui().actionDisconnect->trigger(); }) < 20);
        verifyClosed();
    }

    void disconnectWhileADistanceIsOnItsWay()
    {
        FieldInstrument sim;
        Server server;
        QVERIFY(sim.isReady() && server.start());
        connectWindow(sim, server, QStringLiteral("S"));
        w->ui().measButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count(kMeasure) == 1, kGenerous);
        QVERIFY(blockedIn([&] { w->ui().actionDisconnect->trigger(); }) < 20);
        QVERIFY(!w->ui().actionConnect->isEnabled());  // until the link is done
        verifyClosed();
        QTRY_COMPARE(server.filed(), QStringList{QStringLiteral("S|G|P1")});
        QCOMPARE(statusText(*w), QStringLiteral("The COM port is closed"));
    }

    // A device server that closes or resets the connection while a distance
    // is measured: lost like an unplugged cable; what was measured before
    // is at the server and nothing is filed for the shot.
    void peerEndsTheConnectionMidDistance_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("closes") << QStringLiteral("17017:close=500:1");
        QTest::newRow("resets") << QStringLiteral("17017:reset=500:1");
    }
    void peerEndsTheConnectionMidDistance()
    {
        if (!overTcp())
            QSKIP("a network port only");
        QFETCH(QString, fault);
        FieldInstrument sim({QStringLiteral("--fault"), QStringLiteral("17017:delay=0:1"),
                             QStringLiteral("--fault"), fault});
        Server server;
        QVERIFY(sim.isReady() && server.start());
        connectWindow(sim, server, QStringLiteral("S"));
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server.filed(), QStringList{QStringLiteral("S|G|P1")}, kGenerous);
        QTRY_VERIFY(w->ui().measButton->isEnabled());
        w->ui().measButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->serialLink(), kGenerous);
        verifyClosed();
        QVERIFY(!w->isMeasuring());
        QVERIFY2(statusText(*w).startsWith(lostText(sim.portName())), qPrintable(statusText(*w)));
        QVERIFY(logText(*w).contains(lostText(sim.portName())));
        QCOMPARE(server.filed(), QStringList{QStringLiteral("S|G|P1")});
    }

    // An address that refuses, or never answers, the connection: said in a
    // box, the status bar and the log; the window never waits for it and is
    // ready to connect again.
    void addressThatDoesNotConnect_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("refused") << false;
        QTest::newRow("no answer") << true;
    }
    void addressThatDoesNotConnect()
    {
        if (!overTcp())
            QSKIP("a network port only");
        QFETCH(bool, silent);
        SilentAddress quiet;
        QVERIFY(quiet.port > 0);
        const QString address = silent ? quiet.name() : QStringLiteral("tcp://127.0.0.1:%1").arg(deadPort());
        Server server;
        QVERIFY(server.start());
        w.reset(new MainWindow(QStringLiteral("TS16")));
        chooseLinks(*w, address, server.proc.port);
        ModalAnswer box(clickButton(QMessageBox::Ok));
        QVERIFY(blockedIn([&] { w->ui().actionConnect->trigger(); }) < 20);
        QTRY_VERIFY_WITH_TIMEOUT(box.done, kGenerous);
        const QString reason = silent ? QStringLiteral("no connection within 5 s")
                                      : QStringLiteral("the connection was refused");
        const QString error = QStringLiteral("Port error %1: %2").arg(address, reason);
        QVERIFY2(box.text.startsWith(QStringLiteral("Couldn't connect to the instrument: ") + error),
                 qPrintable(box.text));
        QCOMPARE(statusText(*w), QStringLiteral("Connection error to the device"));
        QVERIFY(logText(*w).contains(error));
        verifyClosed();
    }
};

QTEST_MAIN(TestField)
#include "test_field.moc"
