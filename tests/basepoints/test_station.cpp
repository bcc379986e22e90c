// Station set-up through the whole driver: the main window with its two
// links, the simulated instrument standing at a station the test chooses,
// and the reference CAD server sending base points and solving the matrix.

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "geometry.h"
#include "mainwindow.h"
#include "serialporthandler.h"
#include "settingsdialog.h"
#include "testsupport.h"

namespace {

QString describe(const QList<ShownBox> &boxes)
{
    QStringList out;
    for (const ShownBox &b : boxes)
        out << b.title + ": " + b.text;
    return out.join(" | ");
}

// A tool of the build started for one test; its first stdout line is what
// it tells the test (the pty path, "listening on PORT").
class Tool
{
public:
    Tool(const QString &relativePath, const QStringList &args)
    {
        const QString root = qEnvironmentVariable("STADIOLINK_BIN_DIR");
        program = QDir(root).filePath(relativePath);
        proc.setProgram(program);
        proc.setArguments(args);
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start();
        if (!proc.waitForStarted(10000))
            return;
        QElapsedTimer t;
        t.start();
        while (!proc.canReadLine() && t.elapsed() < 10000 && proc.state() == QProcess::Running)
            proc.waitForReadyRead(200);
        if (proc.canReadLine())
            first = QString::fromLocal8Bit(proc.readLine()).trimmed();
    }
    ~Tool()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate();
            if (!proc.waitForFinished(5000)) {
                proc.kill();
                proc.waitForFinished(5000);
            }
        }
    }
    QString program;
    QString first;
    QProcess proc;
};

struct Target
{
    const char *name;
    double x, y, z;
};

void chooseLinks(MainWindow &w, const QString &portName, quint16 serverPort)
{
    SettingsDialog *s = w.settingsDialog();
    s->portCombo()->setEditText(portName);
    s->addressEdit()->setText(QStringLiteral("127.0.0.1"));
    s->serverPortEdit()->setText(QString::number(serverPort));
}

double wrapPi(double a)
{
    while (a > M_PI)
        a -= 2 * M_PI;
    while (a < -M_PI)
        a += 2 * M_PI;
    return a;
}

} // namespace

class TestStation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        quietOffscreenSizeHints();
        QVERIFY2(!qEnvironmentVariable("STADIOLINK_BIN_DIR").isEmpty(), "STADIOLINK_BIN_DIR not set");
    }

    void baseModeFollowsTheDialog()
    {
        BoxCatcher boxes; // a refused server connection is reported in a box
        Tool sim("tools/simulator/stadiolink-sim", {"--fast"});
        QVERIFY2(!sim.first.isEmpty(), qPrintable(sim.program));
        MainWindow w;
        BasePoints *dialog = w.basePointsDialog();
        QVERIFY(dialog);

        // No instrument link: showing and hiding leave the mode alone.
        dialog->show();
        QVERIFY(!w.isBasePointMode());
        dialog->hide();

        chooseLinks(w, sim.first, 1); // nothing listens on port 1
        w.openSerialPort();
        QVERIFY(w.serialLink());
        QTRY_VERIFY(w.serialLink()->isRunning());

        // Every way of hiding ends base-point mode.
        const std::function<void()> hides[] = {
            [&] { dialog->findChild<QPushButton *>("okButton")->click(); },
            [&] { dialog->findChild<QPushButton *>("cancelButton")->click(); },
            [&] { dialog->close(); },
            [&] { QTest::keyClick(dialog, Qt::Key_Escape); },
        };
        for (const auto &hide : hides) {
            dialog->show();
            QVERIFY(w.isBasePointMode());
            hide();
            QVERIFY(!dialog->isVisible());
            QVERIFY(!w.isBasePointMode());
        }

        // While shown, Measure's reply comes back to the dialog's row.
        dialog->addBasePoint(point("T1", 10, 5, 1.2));
        dialog->addBasePoint(point("T2", -8, 12, 0.5));
        dialog->show();
        BasePointsTable *table = dialog->table();
        click(table, cellCentre(table, 0, NumberColumn));
        dialog->findChild<QPushButton *>("measureButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(table->rows[0]->measured, 10000);
        // The simulated instrument starts aimed at T1 from the origin.
        QVERIFY(std::fabs(table->rows[0]->measuredX - 10) < 1e-6);
        QVERIFY(std::fabs(table->rows[0]->measuredY - 5) < 1e-6);
        QVERIFY(std::fabs(table->rows[0]->measuredZ - 1.2) < 1e-6);
        QCOMPARE(table->currentRow, table->rows[1]);

        // Measure, then the selection is cleared before the reply arrives:
        // no row changes and the log says why.
        dialog->findChild<QPushButton *>("measureButton")->click();
        sendMouse(dialog, QEvent::MouseButtonPress, QPoint(2, dialog->height() - 2));
        QVERIFY(!table->currentRow);
        QTRY_VERIFY_WITH_TIMEOUT(!table->measuring, 10000);
        QVERIFY(!table->rows[1]->measured);
        QCOMPARE(table->rows[1]->measuredX, 0.0);
        QVERIFY(w.ui().logPane->toPlainText().contains("without a selected row"));

        dialog->hide();
        QVERIFY(!w.isBasePointMode());
        w.closeSerialPort();
    }

    void stationFromMeasuredBasePoints()
    {
        BoxCatcher boxes;
        // Drawing coordinates of the targets; the fifth base point has no
        // target and stays unmeasured.
        const Target targets[] = {
            {"BP1", 1530.0, 2210.0, 101.2},
            {"BP2", 1490.0, 2245.0, 99.7},
            {"BP3", 1455.0, 2195.0, 100.4},
            {"BP4", 1500.0, 2160.0, 102.1},
        };
        const double sx = 1495.0, sy = 2205.0, sz = 100.0, orientation = 0.7;

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile scene(dir.filePath("scene.txt"));
        QFile base(dir.filePath("basepoints.txt"));
        QVERIFY(scene.open(QIODevice::WriteOnly) && base.open(QIODevice::WriteOnly));
        // BP2 stands 30 mm east, 40 mm south and 20 mm lower than the
        // server believes; it takes no part in the solution, so its
        // deviation (known - mapped) shows exactly that error.
        const double err[3] = {0.030, -0.040, 0.020};
        for (const Target &t : targets) {
            scene.write(QString("%1 %2 %3 %4\n").arg(t.name).arg(t.x, 0, 'f', 4)
                            .arg(t.y, 0, 'f', 4).arg(t.z, 0, 'f', 4).toUtf8());
            const bool wrong = QByteArray(t.name) == "BP2";
            base.write(QString("%1 %2 %3 %4\n").arg(t.name)
                           .arg(t.x + (wrong ? err[0] : 0), 0, 'f', 4)
                           .arg(t.y + (wrong ? err[1] : 0), 0, 'f', 4)
                           .arg(t.z + (wrong ? err[2] : 0), 0, 'f', 4).toUtf8());
        }
        base.write("BP5 1400.0 2100.0 98.0\n");
        scene.close();
        base.close();

        Tool sim("tools/simulator/stadiolink-sim",
                 {"--fast", "--scene", scene.fileName(), "--station",
                  QString("%1,%2,%3,%4").arg(sx).arg(sy).arg(sz).arg(orientation)});
        QVERIFY2(!sim.first.isEmpty(), qPrintable(sim.program));
        Tool server("tools/cadserver/stadiolink-cadserver",
                    {"--port", "0", "--basepoints", base.fileName()});
        QVERIFY2(server.first.startsWith("listening on "), qPrintable(server.program + ": " + server.first));
        const quint16 port = quint16(server.first.mid(QString("listening on ").size()).toUInt());
        QVERIFY(port > 0);

        setStationMatrix(QMatrix4x4());
        MainWindow w;
        chooseLinks(w, sim.first, port);
        w.openSerialPort();
        QVERIFY(w.serialLink());
        BasePoints *dialog = w.basePointsDialog();
        BasePointsTable *table = dialog->table();
        QTRY_COMPARE_WITH_TIMEOUT(table->rows.size(), 5, 10000);
        dialog->show();
        QVERIFY(w.isBasePointMode());

        SerialPortHandler *link = w.serialLink();
        // The simulated instrument starts aimed at the first target.
        double current = std::atan2(targets[0].y - sy, targets[0].x - sx) - orientation;
        auto turnTo = [&](const Target &t) {
            // Direction of the target on the instrument's horizontal circle,
            // counter-clockwise from its zero direction.
            const double hz = std::atan2(t.y - sy, t.x - sx) - orientation;
            const double turn = wrapPi(hz - current);
            current = hz;
            if (std::fabs(turn) < 1e-9)
                return;
            const double rate = 1.0; // rad/s
            link->enqueue(MOT_StartController, {QVariant(1)});
            link->enqueue(MOT_SetVelocity, {QVariant(turn > 0 ? rate : -rate), QVariant(0.0)});
            QTest::qWait(int(std::fabs(turn) / rate * 1000));
            link->enqueue(MOT_SetVelocity, {QVariant(0.0), QVariant(0.0)});
            link->enqueue(MOT_StopController, {});
            // The snap to the target corrects the timing of the turn; the
            // targets lie more than 1.4 rad apart, so a turn may be 0.6 rad off.
            link->enqueue(AUT_FineAdjust, {QVariant(0.6), QVariant(0.4), QVariant(0)});
        };

        // The window follows a fine adjustment with a lock-in, which the
        // instrument only accepts with the user lock on.
        link->enqueue(AUS_SetUserLockState, {QVariant(1)});
        click(table, cellCentre(table, 0, NumberColumn));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(table->currentRow, table->rows[i]);
            turnTo(targets[i]);
            dialog->findChild<QPushButton *>("measureButton")->click();
            QTRY_VERIFY_WITH_TIMEOUT(table->rows[i]->measured, 10000);
        }
        QCOMPARE(table->currentRow, table->rows[4]); // the walk moved on to BP5
        QVERIFY2(boxes.boxes.isEmpty(), qPrintable(describe(boxes.boxes)));

        // BP2 does not take part; its weight goes with it.
        table->rows[1]->usedCell()->checked = false;
        table->rows[2]->weightCell()->text = "0,5";
        dialog->findChild<QPushButton *>("calculateButton")->click();
        QLineEdit *rms = dialog->findChild<QLineEdit *>("rmsField");
        QTRY_VERIFY_WITH_TIMEOUT(!rms->text().isEmpty(), 10000);
        QVERIFY2(boxes.boxes.isEmpty(), qPrintable(describe(boxes.boxes)));

        // Deviations within a millimetre of the truth: none for the points
        // of the solution, the planted error for BP2.
        for (int i = 0; i < 4; ++i) {
            const double truth[3] = {i == 1 ? err[0] : 0.0, i == 1 ? err[1] : 0.0, i == 1 ? err[2] : 0.0};
            const double truthD = std::sqrt(truth[0] * truth[0] + truth[1] * truth[1] + truth[2] * truth[2]);
            const QString shown = QString("%1: dX %2 dY %3 dZ %4 D %5").arg(targets[i].name,
                cellText(table->rows[i], DXColumn), cellText(table->rows[i], DYColumn),
                cellText(table->rows[i], DZColumn), cellText(table->rows[i], DColumn));
            for (int c = DXColumn; c <= DZColumn; ++c)
                QVERIFY2(std::fabs(cellText(table->rows[i], c).toDouble() - truth[c - DXColumn]) <= 0.001,
                         qPrintable(shown));
            QVERIFY2(std::fabs(cellText(table->rows[i], DColumn).toDouble() - truthD) <= 0.001,
                     qPrintable(shown));
        }
        // The summary counts the four measured rows, BP2 among them.
        const double rmsTruth = std::sqrt((err[0] * err[0] + err[1] * err[1] + err[2] * err[2]) / 4);
        QVERIFY2(std::fabs(rms->text().toDouble() - rmsTruth) <= 0.001, qPrintable(rms->text()));
        QVERIFY(dialog->findChild<QLineEdit *>("minErrorField")->text().toDouble() <= 0.001);
        QVERIFY(std::fabs(dialog->findChild<QLineEdit *>("maxErrorField")->text().toDouble()
                          - std::sqrt(0.0029)) <= 0.001);
        QCOMPARE(cellText(table->rows[4], DColumn), QString("----"));

        // The matrix is the station: the instrument's origin maps to the
        // station, its zero direction to the orientation.
        double X, Y, Z;
        mapWithStationMatrix(0, 0, 0, X, Y, Z);
        QVERIFY2(std::hypot(X - sx, Y - sy) < 0.001 && std::fabs(Z - sz) < 0.001,
                 qPrintable(QString("%1 %2 %3").arg(X).arg(Y).arg(Z)));
        const QMatrix4x4 &m = stationMatrix();
        QVERIFY(std::fabs(std::atan2(m(1, 0), m(0, 0)) - orientation) < 1e-5);

        dialog->hide();
        w.closeSerialPort();
    }
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
