// Station set-up through the whole driver: the main window with its two
// links, the simulated instrument standing at a station the test chooses
// (counting its horizontal angle clockwise like a real one, or the other
// way), and the reference CAD server sending base points at national grid
// coordinates and solving the matrix.

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextEdit>
#include <QToolButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>

#include "geocom.h"
#include "geometry.h"
#include "journal.h"
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
    // A journal of its own: no earlier test's unsent points are offered.
    static QTemporaryDir journals;
    static int count = 0;
    w.journal()->setFolder(journals.filePath(QStringLiteral("journal%1").arg(++count)));
}

QStringList fileLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList out;
    for (const QByteArray &l : f.readAll().split('\n'))
        if (!l.isEmpty())
            out << QString::fromUtf8(GeoCom::withoutTransactionId(l));
    return out;
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
        QTemporaryDir dir;
        const QString requests = dir.filePath("requests.log");
        Tool sim("tools/simulator/stadiolink-sim", {"--fast", "--log", requests});
        QVERIFY2(!sim.first.isEmpty(), qPrintable(sim.program));
        MainWindow w;
        BasePoints *dialog = w.basePointsDialog();
        QVERIFY(dialog);

        // No instrument link: the mode follows the dialog all the same, and
        // nothing is said about the missing link.
        dialog->show();
        QVERIFY(w.isBasePointMode());
        dialog->hide();
        QVERIFY(!w.isBasePointMode());
        QVERIFY2(!w.ui().logPane->toPlainText().contains("nullptr"), qPrintable(w.ui().logPane->toPlainText()));

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

        // While shown, tracking distances fill no row, however many come.
        dialog->addBasePoint(point("T1", 10, 5, 1.2));
        dialog->addBasePoint(point("T2", -8, 12, 0.5));
        dialog->show();
        BasePointsTable *table = dialog->table();
        click(table, cellCentre(table, 0, NumberColumn));
        const auto cleared = [&] { return fileLines(requests).count("%R1Q,2008:3,1"); };
        const int clearedBefore = cleared();
        w.ui().trackingButton->click();
        QVERIFY(w.isTrackingActive());
        // Each distance delivered in base-point mode is cleared at once.
        QTRY_VERIFY_WITH_TIMEOUT(cleared() >= clearedBefore + 3, 10000);
        w.ui().trackingButton->click();
        QVERIFY(!table->rows[0]->measured && !table->rows[1]->measured);
        QCOMPARE(table->currentRow, table->rows[0]);

        // Measure fills exactly the selected row.
        dialog->findChild<QPushButton *>("measureButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(table->rows[0]->measured, 10000);
        QVERIFY(!table->rows[1]->measured);
        // The simulated instrument starts aimed at T1 from the origin and
        // counts its horizontal angle clockwise: y comes out mirrored.
        QVERIFY(std::fabs(table->rows[0]->measuredX - 10) < 1e-6);
        QVERIFY(std::fabs(table->rows[0]->measuredY + 5) < 1e-6);
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

    // A measurement that fails (error replies, no answer at all) leaves its
    // row unmeasured, the rows selectable and Measure usable, and says why.
    void failedMeasurementLeavesTheRowToMeasureAgain()
    {
        BoxCatcher boxes;
        Tool sim("tools/simulator/stadiolink-sim",
                 {"--fast", "--fault", "17017:error=1292:1", "--fault", "17017:error=8710:1",
                  "--fault", "17017:delay=0:1", "--fault", "17017:silent"});
        QVERIFY2(!sim.first.isEmpty(), qPrintable(sim.program));
        MainWindow w;
        chooseLinks(w, sim.first, 1); // no server: its box is not looked at
        w.openSerialPort();
        QVERIFY(w.serialLink());
        QTRY_VERIFY(w.serialLink()->isRunning());
        // The server's refusal comes from its link's thread; it is answered first.
        QTRY_VERIFY(!w.serverLink() && !w.isClosing());
        BasePoints *dialog = w.basePointsDialog();
        BasePointsTable *table = dialog->table();
        for (const char *name : {"T1", "T2", "T3"})
            dialog->addBasePoint(point(name, 10, 5, 1.2));
        dialog->show();
        QPushButton *measure = dialog->findChild<QPushButton *>("measureButton");
        click(table, cellCentre(table, 0, NumberColumn));
        boxes.boxes.clear();

        const auto failsWith = [&](const QString &text) {
            measure->click();
            QVERIFY(table->measuring);
            QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
            QCOMPARE(boxes.boxes[0].text, text);
            boxes.boxes.clear();
            QVERIFY(!table->measuring);
            QVERIFY(measure->isEnabled());
            QVERIFY(w.ui().logPane->toPlainText().contains(text));
        };
        failsWith("No distance could be measured: no reflector or target in the line of sight "
                  "(Command error 17017: error code 1292): nothing was measured. Aim the telescope at "
                  "the reflector (or choose a reflectorless EDM mode for a target without one) and "
                  "measure again.");
        QVERIFY(!table->rows[0]->measured && table->rows[0]->selected);
        click(table, cellCentre(table, 1, NumberColumn));
        QCOMPARE(table->currentRow, table->rows[1]);
        failsWith("No target was found (Command error 17017: error code 8710): nothing was measured. "
                  "Aim the telescope closer to the reflector and try again.");

        measure->click();
        QTRY_VERIFY_WITH_TIMEOUT(table->rows[1]->measured, 10000);
        QCOMPARE(table->currentRow, table->rows[2]);

        // The instrument stays silent: the dialog's own bound ends the wait.
        dialog->setMeasureTimeout(800);
        failsWith("The instrument has not answered within 1 s: nothing was measured");
        QVERIFY(!table->rows[2]->measured && table->rows[2]->selected);
        QVERIFY(!table->rows[0]->measured);
    }

    void lostInstrumentEndsThePendingMeasurement()
    {
        BoxCatcher boxes;
        Tool sim("tools/simulator/stadiolink-sim", {"--fast", "--fault", "17017:close"});
        QVERIFY2(!sim.first.isEmpty(), qPrintable(sim.program));
        MainWindow w;
        chooseLinks(w, sim.first, 1);
        w.openSerialPort();
        QVERIFY(w.serialLink());
        QTRY_VERIFY(w.serialLink()->isRunning());
        // The server's refusal comes from its link's thread; it is answered first.
        QTRY_VERIFY(!w.serverLink() && !w.isClosing());
        BasePoints *dialog = w.basePointsDialog();
        BasePointsTable *table = dialog->table();
        dialog->addBasePoint(point("T1", 10, 5, 1.2));
        dialog->show();
        click(table, cellCentre(table, 0, NumberColumn));
        boxes.boxes.clear();
        dialog->findChild<QPushButton *>("measureButton")->click();
        QVERIFY(table->measuring);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QVERIFY2(boxes.boxes[0].text.startsWith("The instrument was lost: ")
                     && boxes.boxes[0].text.endsWith(": nothing was measured"),
                 qPrintable(boxes.boxes[0].text));
        QVERIFY(!table->measuring);
        QVERIFY(!table->rows[0]->measured && table->rows[0]->selected);
        QVERIFY(dialog->findChild<QPushButton *>("measureButton")->isEnabled());
    }

    void stationFromMeasuredBasePoints_data()
    {
        QTest::addColumn<bool>("clockwise");
        QTest::newRow("clockwise, as real instruments") << true;
        QTest::newRow("counter-clockwise") << false;
    }

    void stationFromMeasuredBasePoints()
    {
        QFETCH(bool, clockwise);
        BoxCatcher boxes;
        // Drawing coordinates of the targets, on a national grid; the fifth
        // base point has no target and stays unmeasured.
        const Target targets[] = {
            {"BP1", 6512385.0, 5678911.0, 101.2},
            {"BP2", 6512345.0, 5678946.0, 99.7},
            {"BP3", 6512310.0, 5678896.0, 100.4},
            {"BP4", 6512355.0, 5678861.0, 102.1},
        };
        // The station, turned by about 200 degrees.
        const double sx = 6512350.0, sy = 5678906.0, sz = 100.0, orientation = 3.49;

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile scene(dir.filePath("scene.txt"));
        QFile base(dir.filePath("basepoints.txt"));
        const QString serverLog = dir.filePath("server.log");
        QVERIFY(scene.open(QIODevice::WriteOnly) && base.open(QIODevice::WriteOnly));
        // The server's coordinates differ from the targets by a few
        // millimetres of noise; BP2 besides stands 30 mm east, 40 mm south
        // and 20 mm lower than the server believes. It takes no part in the
        // solution, so its deviation (known - mapped) shows that error.
        const double err[3] = {0.030, -0.040, 0.020};
        std::mt19937 rng(13);
        std::normal_distribution<double> noise(0.0, 0.002);
        for (const Target &t : targets) {
            scene.write(QString("%1 %2 %3 %4\n").arg(t.name).arg(t.x, 0, 'f', 4)
                            .arg(t.y, 0, 'f', 4).arg(t.z, 0, 'f', 4).toUtf8());
            const bool wrong = QByteArray(t.name) == "BP2";
            base.write(QString("%1 %2 %3 %4\n").arg(t.name)
                           .arg(t.x + (wrong ? err[0] : noise(rng)), 0, 'f', 4)
                           .arg(t.y + (wrong ? err[1] : noise(rng)), 0, 'f', 4)
                           .arg(t.z + (wrong ? err[2] : noise(rng)), 0, 'f', 4).toUtf8());
        }
        base.write("BP5 6512400.0 5678800.0 98.0\n");
        scene.close();
        base.close();

        QStringList simArgs{"--fast", "--scene", scene.fileName(), "--station",
                            QString("%1,%2,%3,%4").arg(sx, 0, 'f', 3).arg(sy, 0, 'f', 3).arg(sz).arg(orientation)};
        if (!clockwise)
            simArgs << "--counter-clockwise";
        Tool sim("tools/simulator/stadiolink-sim", simArgs);
        QVERIFY2(!sim.first.isEmpty(), qPrintable(sim.program));
        Tool server("tools/cadserver/stadiolink-cadserver",
                    {"--port", "0", "--basepoints", base.fileName(), "--log", serverLog});
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
        // The target's reading on the instrument's horizontal circle.
        auto hzOf = [&](const Target &t) {
            const double ccw = std::atan2(t.y - sy, t.x - sx) - orientation;
            return clockwise ? -ccw : ccw;
        };
        // The simulated instrument starts aimed at the first target.
        double current = hzOf(targets[0]);
        auto turnTo = [&](const Target &t) {
            const double hz = hzOf(t);
            const double turn = wrapPi(hz - current);
            current = hz;
            if (std::fabs(turn) < 1e-9)
                return;
            const double rate = 1.0; // rad/s; a positive velocity makes Hz grow
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
        QVERIFY(!dialog->isAwaitingMatrix());
        QVERIFY2(boxes.boxes.isEmpty(), qPrintable(describe(boxes.boxes)));

        // The server took the handedness of the instrument and says so.
        QTRY_VERIFY(fileLines(serverLog).filter("instrument frame: ").size() == 1);
        const QString frameLine = fileLines(serverLog).filter("instrument frame: ").first();
        QVERIFY2(frameLine.contains(clockwise ? "mirrored" : "turned only"), qPrintable(frameLine));

        // The deviations shown agree with the server's own residuals of the
        // used rows, in the order sent, within 0.1 mm; the summary is theirs.
        QVector<QVector<double>> residuals;
        for (const QString &line : fileLines(serverLog)) {
            const int at = line.indexOf(" residual ");
            if (at < 0)
                continue;
            const QStringList f = line.mid(line.indexOf(':', at) + 1).split(' ', Qt::SkipEmptyParts);
            QCOMPARE(f.size(), 3);
            residuals.append({f[0].toDouble(), f[1].toDouble(), f[2].toDouble()});
        }
        const int used[] = {0, 2, 3};
        QCOMPARE(residuals.size(), 3);
        double sumSquares = 0, minD = 1e300, maxD = 0;
        for (int k = 0; k < 3; ++k) {
            const BasePointRow *row = table->rows[used[k]];
            const QString shown = QString("%1: dX %2 dY %3 dZ %4 vs %5 %6 %7").arg(targets[used[k]].name,
                cellText(row, DXColumn), cellText(row, DYColumn), cellText(row, DZColumn))
                .arg(residuals[k][0]).arg(residuals[k][1]).arg(residuals[k][2]);
            for (int c = 0; c < 3; ++c)
                QVERIFY2(std::fabs(cellText(row, DXColumn + c).toDouble() - residuals[k][c]) <= 1e-4,
                         qPrintable(shown));
            const double D = std::sqrt(residuals[k][0] * residuals[k][0] + residuals[k][1] * residuals[k][1]
                                       + residuals[k][2] * residuals[k][2]);
            sumSquares += D * D;
            minD = std::min(minD, D);
            maxD = std::max(maxD, D);
        }
        QVERIFY2(std::fabs(rms->text().toDouble() - std::sqrt(sumSquares / 3)) <= 1e-4, qPrintable(rms->text()));
        QVERIFY(std::fabs(dialog->findChild<QLineEdit *>("minErrorField")->text().toDouble() - minD) <= 1e-4);
        QVERIFY(std::fabs(dialog->findChild<QLineEdit *>("maxErrorField")->text().toDouble() - maxD) <= 1e-4);
        // The noise is millimetres; the planted error of BP2, left out,
        // shows in its own row and in no summary figure.
        QVERIFY(maxD < 0.01);
        for (int c = 0; c < 3; ++c)
            QVERIFY2(std::fabs(cellText(table->rows[1], DXColumn + c).toDouble() - err[c]) <= 0.01,
                     qPrintable(cellText(table->rows[1], DXColumn + c)));
        QCOMPARE(cellText(table->rows[4], DColumn), QString("----"));

        // The dialog shows the station: where the instrument stands and where
        // the zero of its horizontal circle points, whichever way it counts.
        const QString station = dialog->findChild<QLabel *>("stationLabel")->text();
        const QRegularExpressionMatch pose = QRegularExpression(
            "^Station: E/X = ([0-9.]+) m, N/Y = ([0-9.]+) m, height = ([0-9.]+) m\n"
            "Orientation .*: ([0-9.]+)° = ([0-9.]+) gon$").match(station);
        QVERIFY2(pose.hasMatch(), qPrintable(station));
        QVERIFY2(std::hypot(pose.captured(1).toDouble() - sx, pose.captured(2).toDouble() - sy) < 0.01
                     && std::fabs(pose.captured(3).toDouble() - sz) < 0.01,
                 qPrintable(station));
        QVERIFY2(std::fabs(pose.captured(4).toDouble() - orientation * 180 / M_PI) < 0.01
                     && std::fabs(pose.captured(5).toDouble() - orientation * 200 / M_PI) < 0.01,
                 qPrintable(station));
        QVERIFY(w.ui().logPane->toPlainText().contains(QString(station).replace('\n', "; ")));

        // The matrix is the station: the instrument's origin maps to the
        // station.
        double X, Y, Z;
        mapWithStationMatrix(0, 0, 0, X, Y, Z);
        QVERIFY2(std::hypot(X - sx, Y - sy) < 0.01 && std::fabs(Z - sz) < 0.01,
                 qPrintable(QString("%1 %2 %3").arg(X, 0, 'f', 4).arg(Y, 0, 'f', 4).arg(Z, 0, 'f', 4)));

        // Known coordinates paired with the wrong points: the server cannot
        // solve and stays silent; the dialog does not.
        std::swap(table->rows[0]->knownX, table->rows[3]->knownX);
        std::swap(table->rows[0]->knownY, table->rows[3]->knownY);
        dialog->setAnswerTimeout(1500);
        dialog->findChild<QPushButton *>("calculateButton")->click();
        QVERIFY(dialog->isAwaitingMatrix());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 10000);
        QCOMPARE(boxes.boxes[0].text, QString("No station matrix has come from the server within 2 s: the server "
                                              "could not solve with these points or does not answer"));
        QVERIFY(!fileLines(serverLog).filter("refused base point set").isEmpty());

        // A check shot on BP4 from the main window: its log line gives it in
        // the base points' frame, where the target stands.
        dialog->hide();
        w.ui().measButton->click();
        const QRegularExpression shot("base points' frame: X = ([0-9.]+), Y = ([0-9.]+), Z = ([0-9.]+)");
        QRegularExpressionMatch hit;
        QTRY_VERIFY_WITH_TIMEOUT((hit = shot.match(w.ui().logPane->toPlainText())).hasMatch(), 10000);
        QVERIFY2(std::hypot(hit.captured(1).toDouble() - targets[3].x, hit.captured(2).toDouble() - targets[3].y) < 0.01
                     && std::fabs(hit.captured(3).toDouble() - targets[3].z) < 0.01,
                 qPrintable(hit.captured(0)));
        w.closeSerialPort();
    }
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
