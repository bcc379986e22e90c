// The whole road with the real pieces: the main window, the simulated total
// station on a pty and the reference CAD server on loopback. Points are
// checked where the server files them (its CSV file).

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <cmath>
#include <memory>

#include "mainwindow.h"
#include "serialporthandler.h"
#include "client.h"
#include "test_mainwindow_support.h"

namespace {

// The reference CAD server as a child process.
class CadServerProcess
{
public:
    explicit CadServerProcess(const QStringList &arguments)
    {
        proc.setProgram(qEnvironmentVariable("STADIOLINK_BIN_DIR") +
                        QStringLiteral("/tools/cadserver/stadiolink-cadserver"));
        proc.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
        proc.setProcessChannelMode(QProcess::SeparateChannels);
        proc.start();
        if (!proc.waitForStarted(5000))
            return;
        QElapsedTimer clock;
        clock.start();
        while (!proc.canReadLine() && clock.elapsed() < 5000)
            proc.waitForReadyRead(100);
        const QString line = QString::fromLocal8Bit(proc.readLine()).trimmed();
        if (line.startsWith(QLatin1String("listening on ")))
            port = quint16(line.mid(13).toUInt());
    }
    ~CadServerProcess()
    {
        proc.terminate();
        if (!proc.waitForFinished(3000)) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }
    quint16 port = 0;
    QProcess proc;
};

struct CsvPoint {
    QString session, group, point, device;
    double x = 0, y = 0, z = 0;
};

QList<CsvPoint> readCsv(const QString &path)
{
    QList<CsvPoint> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (int i = 1; i < lines.size(); ++i) {   // line 0 is the header
        const QStringList c = QString::fromUtf8(lines[i]).split(QLatin1Char(','));
        if (c.size() < 7)
            continue;
        CsvPoint p;
        p.session = c[0];
        p.group = c[1];
        p.point = c[2];
        p.x = c[3].toDouble();
        p.y = c[4].toDouble();
        p.z = c[5].toDouble();
        p.device = c[6];
        out << p;
    }
    return out;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    UnexpectedModals unexpected;

private slots:
    void cleanup()
    {
        const QStringList seen = unexpected.seen;
        unexpected.seen.clear();
        QVERIFY2(seen.isEmpty(), qPrintable(QStringLiteral("unexpected dialogs: ") + seen.join(QStringLiteral("; "))));
    }

    void wholeRoad()
    {
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("points.csv"));
        CadServerProcess server({QStringLiteral("--csv"), csv, QStringLiteral("--session"),
                                 QStringLiteral("Survey")});
        QVERIFY2(server.port != 0, "the reference CAD server did not start");
        Instrument sim({QStringLiteral("--track-interval"), QStringLiteral("100")});
        QVERIFY(sim.isReady());

        MainWindow w(QStringLiteral("TS16"));
        w.ui().sessionEdit->setText(QStringLiteral("S1"));
        w.ui().groupEdit->setText(QStringLiteral("G1"));
        w.ui().pointNameEdit->setText(QStringLiteral("P1"));
        chooseLinks(w, sim.portName(), server.port, QStringLiteral("localhost"));

        // Connect: both links, the identity, the server's greeting.
        w.ui().actionConnect->trigger();
        QVERIFY(w.serialLink() && w.serialLink()->isRunning());
        QVERIFY(w.serverLink() && w.serverLink()->isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(w.ui().serialNumberLabel->text(), QStringLiteral("Serial number: 1234567"), 5000);
        QTRY_COMPARE(w.ui().deviceInfoLabel->text(), QStringLiteral("Device Name: \"TS16 R500 (simulated)\""));
        QTRY_COMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));

        // Measure with the session agreed at connect: the point is filed and
        // the next name comes back.
        w.ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(readCsv(csv).size(), 1, 5000);
        CsvPoint p = readCsv(csv).first();
        QCOMPARE(p.session, QStringLiteral("S1"));
        QCOMPARE(p.group, QStringLiteral("G1"));
        QCOMPARE(p.point, QStringLiteral("P1"));
        QCOMPARE(p.device, QStringLiteral("TS16"));
        // The first target lies at (10, 5, 1.2); the instrument counts its
        // horizontal angle clockwise, so the driver's y is mirrored.
        QVERIFY(std::fabs(p.x - 10.0) < 1e-3 && std::fabs(p.y + 5.0) < 1e-3 && std::fabs(p.z - 1.2) < 1e-3);
        QTRY_COMPARE(w.ui().pointNameEdit->text(), QStringLiteral("P2"));

        // A new session name: accepted by the server, then measured.
        w.ui().sessionEdit->setText(QStringLiteral("  Road  "));
        w.ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(readCsv(csv).size(), 2, 5000);
        p = readCsv(csv).at(1);
        QCOMPARE(p.session, QStringLiteral("Road"));
        QCOMPARE(p.point, QStringLiteral("P2"));
        QTRY_COMPARE(w.ui().pointNameEdit->text(), QStringLiteral("P3"));

        // A session that exists: the operator takes the server's proposal.
        {
            ModalAnswer box(clickButton(QMessageBox::Yes), "QMessageBox");
            w.ui().sessionEdit->setText(QStringLiteral("Survey"));
            w.ui().measButton->click();
            QTRY_VERIFY_WITH_TIMEOUT(box.done, 5000);
            QCOMPARE(box.text, QStringLiteral("A session with that name already exists. Replace with: Survey_1 ?"));
            QTRY_COMPARE_WITH_TIMEOUT(readCsv(csv).size(), 3, 5000);
            QCOMPARE(readCsv(csv).at(2).session, QStringLiteral("Survey_1"));
            QCOMPARE(w.ui().sessionEdit->text(), QStringLiteral("Survey_1"));
        }

        // Again "Road", now known: the operator declines and types a name.
        {
            ModalAnswer box(clickButton(QMessageBox::Cancel), "QMessageBox");
            ModalAnswer input(enterText(QStringLiteral("  Mine  ")), "QInputDialog");
            w.ui().sessionEdit->setText(QStringLiteral("Road"));
            w.ui().measButton->click();
            QTRY_VERIFY_WITH_TIMEOUT(box.done && input.done, 5000);
            QCOMPARE(box.text, QStringLiteral("A session with that name already exists. Replace with: Road_1 ?"));
            QTRY_COMPARE_WITH_TIMEOUT(readCsv(csv).size(), 4, 5000);
            QCOMPARE(readCsv(csv).at(3).session, QStringLiteral("Mine"));
            QCOMPARE(readCsv(csv).at(3).point, QStringLiteral("P4"));
        }

        // Tracking: every delivered distance is filed under the next name.
        QTRY_COMPARE(w.ui().pointNameEdit->text(), QStringLiteral("P5"));
        w.ui().trackingButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(readCsv(csv).size() >= 7, 10000);
        w.ui().trackingButton->click();
        QTest::qWait(500);
        const QList<CsvPoint> all = readCsv(csv);
        for (int i = 4; i < all.size(); ++i) {
            QCOMPARE(all[i].session, QStringLiteral("Mine"));
            QCOMPARE(all[i].point, QStringLiteral("P%1").arg(i + 1));
        }

        // Disconnect: both links end; the server sees the driver go.
        w.ui().actionDisconnect->trigger();
        QVERIFY(!w.serialLink());
        QTRY_VERIFY_WITH_TIMEOUT(!w.isClosing(), 5000);
        QVERIFY(!w.serverLink());
        QVERIFY(w.ui().actionConnect->isEnabled());
        QCOMPARE(statusText(w), QStringLiteral("The COM port is closed"));
        QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("There is no connection to the server"));
        const int filed = readCsv(csv).size();
        QTest::qWait(300);
        QCOMPARE(readCsv(csv).size(), filed);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
