// The measurement sequence from Measure to the named point at the server:
// session agreement and conflicts, the next point name, the reply dispatch
// and the base-point routing. The instrument is the simulator on a pty, the
// server a scripted one on loopback.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

#include <cmath>
#include <memory>

#include "basepoints.h"
#include "basepointstable.h"
#include "client.h"
#include "geometry.h"
#include "mainwindow.h"
#include "serialporthandler.h"
#include "test_mainwindow_support.h"

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

class TestMeasure : public QObject
{
    Q_OBJECT

    UnexpectedModals unexpected;

    std::unique_ptr<Instrument> sim;
    std::unique_ptr<ScriptServer> server;
    std::unique_ptr<MainWindow> w;

    // A distance the instrument delivered: level, straight along hz.
    static QPair<RPC, QVariant> distance(double hz, double d)
    {
        MeasDistanceAngle m;
        m.hzAngle = hz;
        m.vAngle = M_PI / 2;
        m.slopeDistance = d;
        return qMakePair(BAP_MeasDistanceAngle, QVariant::fromValue(m));
    }

    int measureRequests() const
    {
        return sim->commands().count(QStringLiteral("%R1Q,17017:2"));
    }

    // Connects a fresh window with the given session name in its field.
    void connectWith(const QString &session)
    {
        w.reset();
        server.reset(new ScriptServer);
        w.reset(new MainWindow(QStringLiteral("TS")));
        w->ui().sessionEdit->setText(session);
        w->ui().groupEdit->setText(QStringLiteral("G"));
        w->ui().pointNameEdit->setText(QStringLiteral("P1"));
        chooseLinks(*w, sim->portName(), server->port());
        w->ui().actionConnect->trigger();
        QVERIFY(w->serverLink() && w->serverLink()->isRunning());
        QTRY_VERIFY(w->ui().serverStatusLabel->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(sim->commands().contains(QStringLiteral("%R1Q,1004:0")), 5000);
    }

    // The point the simulator's first target, at (10, 5, 1.2) from the
    // station at the origin, gives: its horizontal angle counts clockwise, so
    // y comes out mirrored.
    static void verifyFirstTarget(const ServerMessage &m)
    {
        QCOMPARE(m.numbers.size(), 3);
        QVERIFY2(std::fabs(m.numbers[0] - 10.0) < 1e-3, qPrintable(QString::number(m.numbers[0])));
        QVERIFY2(std::fabs(m.numbers[1] + 5.0) < 1e-3, qPrintable(QString::number(m.numbers[1])));
        QVERIFY2(std::fabs(m.numbers[2] - 1.2) < 1e-3, qPrintable(QString::number(m.numbers[2])));
    }

private slots:
    void initTestCase()
    {
        sim.reset(new Instrument);
        QVERIFY(sim->isReady());
    }

    void cleanup()
    {
        const QStringList seen = unexpected.seen;
        unexpected.seen.clear();
        QVERIFY2(seen.isEmpty(), qPrintable(QStringLiteral("unexpected dialogs: ") + seen.join(QStringLiteral("; "))));
        w.reset();
        server.reset();
        basePointSelected = false;
        resetStationMatrix();
    }

    void measureWhileClosedDoesNothing()
    {
        MainWindow win;
        const int before = sim->requests().size();
        win.handlerMeasButtonClick();
        QTest::qWait(100);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(!win.isMeasurePending());
        QVERIFY(logText(win).isEmpty());
        QVERIFY(statusText(win).isEmpty());
        QCOMPARE(sim->requests().size(), before);
    }

    void equalSessionMeasuresAtOnce()
    {
        connectWith(QStringLiteral("  S1 "));
        server->nextPointName = QStringLiteral("P2");
        const int before = measureRequests();
        w->ui().measButton->click();
        QVERIFY(!w->isMeasurePending());
        QTRY_COMPARE(measureRequests(), before + 1);
        QTRY_COMPARE_WITH_TIMEOUT(server->ofType(3).size(), 1, 5000);
        const ServerMessage point = server->ofType(3).first();
        QCOMPARE(point.texts, QStringList({QStringLiteral("S1"), QStringLiteral("G"), QStringLiteral("P1")}));
        verifyFirstTarget(point);
        QVERIFY(server->ofType(4).isEmpty());
        // The link's next distance poll reads the same distance again; that
        // is not a second point.
        QTest::qWait(500);
        QCOMPARE(server->ofType(3).size(), 1);
        // The server's answer names the next point.
        QTRY_COMPARE(w->ui().pointNameEdit->text(), QStringLiteral("P2"));
        QCOMPARE(w->ui().sessionEdit->text(), QStringLiteral("S1"));
        QCOMPARE(w->ui().deviceNameEdit->text(), QStringLiteral("dev"));
        QVERIFY(w->ui().deviceNameEdit->isReadOnly());

        // The second measurement uses the new name.
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server->ofType(3).size(), 2, 5000);
        QCOMPARE(server->ofType(3).at(1).texts.value(2), QStringLiteral("P2"));
    }

    void newSessionWaitsForConfirmation()
    {
        connectWith(QStringLiteral("S1"));
        w->ui().sessionEdit->setText(QStringLiteral(" S2 "));
        const int before = measureRequests();
        w->ui().measButton->click();
        QVERIFY(w->isMeasurePending());
        // Measure shows the wait for the session as a measurement.
        QVERIFY(!w->ui().measButton->isEnabled());
        QTRY_COMPARE(server->ofType(4).size(), 1);
        QCOMPARE(server->ofType(4).first().texts, QStringList({QStringLiteral("S2")}));
        QTest::qWait(300);
        QCOMPARE(measureRequests(), before);
        QVERIFY(server->ofType(3).isEmpty());

        server->sendEmpty(7);
        QTRY_COMPARE(measureRequests(), before + 1);
        QVERIFY(!w->isMeasurePending());
        QTRY_COMPARE_WITH_TIMEOUT(server->ofType(3).size(), 1, 5000);
        QCOMPARE(server->ofType(3).first().texts.value(0), QStringLiteral("S2"));
        QTRY_VERIFY(w->ui().measButton->isEnabled());

        // A confirmation with no measurement waiting queues nothing.
        server->sendEmpty(7);
        QTest::qWait(300);
        QCOMPARE(measureRequests(), before + 1);
    }

    // The session the server accepted for a Measure is the link's, also
    // when the shot fails and a group name comes before the next one: the
    // next Measure does not ask for it again.
    void acceptedSessionOutlivesAFailedShot()
    {
        sim.reset(new Instrument({QStringLiteral("--fault"), QStringLiteral("17017:error=1292:1")}));
        QVERIFY(sim->isReady());
        connectWith(QStringLiteral("S1"));
        server->confirmSessions = true;
        w->ui().sessionEdit->setText(QStringLiteral("S2"));
        {
            ModalAnswer failed(clickButton(QMessageBox::Ok));
            w->ui().measButton->click();
            QTRY_VERIFY_WITH_TIMEOUT(failed.done, 5000);
            QVERIFY(failed.text.contains(QStringLiteral("1292")));
        }
        server->sendText(5, QStringLiteral("G2"));
        QTRY_COMPARE(w->ui().groupEdit->text(), QStringLiteral("G2"));
        QTRY_VERIFY(w->ui().measButton->isEnabled());
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server->ofType(3).size(), 1, 5000);
        QCOMPARE(server->ofType(3).first().texts.mid(0, 2), QStringList({"S2", "G2"}));
        QCOMPARE(server->ofType(4).size(), 1);
        QCOMPARE(w->serverLink()->sessionNameValue(), QStringLiteral("S2"));
        sim.reset(new Instrument);
        QVERIFY(sim->isReady());
    }

    // The wait for the session ends without a confirmation: by its bound,
    // and with the connection.
    void sessionWaitEnds()
    {
        connectWith(QStringLiteral("S1"));
        const int before = measureRequests();
        w->setSessionConfirmTimeout(300);
        w->ui().sessionEdit->setText(QStringLiteral("S2"));
        w->ui().measButton->click();
        QCOMPARE(w->ui().measButton->text(), QStringLiteral("Measuring..."));
        QTRY_VERIFY(w->ui().measButton->isEnabled());
        QCOMPARE(w->ui().measButton->text(), QStringLiteral("Measure"));
        QVERIFY(logText(*w).contains(
            QStringLiteral("The server has not accepted the session name S2 within 1 s: nothing was measured")));
        server->sendEmpty(7);   // too late: measures nothing
        QTest::qWait(300);
        QCOMPARE(measureRequests(), before);

        w->setSessionConfirmTimeout(60000);
        w->ui().sessionEdit->setText(QStringLiteral("S3"));
        w->ui().measButton->click();
        QVERIFY(!w->ui().measButton->isEnabled());
        ModalAnswer closed(clickButton(QMessageBox::Ok));
        server->closeConnection();
        QTRY_VERIFY(closed.done);
        QTRY_VERIFY(w->ui().measButton->isEnabled());
        QVERIFY(!w->isMeasurePending());
    }

    // Points delivered faster than the server answers them: an answer's
    // proposal is older than the name the field already shows.
    void answersBehindThePointsRepeatNoName()
    {
        connectWith(QStringLiteral("S1"));
        w->handlerResponseReceived(distance(0, 10));
        w->handlerResponseReceived(distance(0, 11));
        QCOMPARE(w->ui().pointNameEdit->text(), QStringLiteral("P3"));
        QTRY_COMPARE(server->ofType(3).size(), 2);
        QCOMPARE(server->ofType(3).at(1).texts.value(2), QStringLiteral("P2"));
        server->sendInfo(QStringLiteral("S1"), QStringLiteral("G"), QStringLiteral("P2"), QStringLiteral("D1"));
        QTRY_COMPARE(w->ui().deviceNameEdit->text(), QStringLiteral("D1"));
        QCOMPARE(w->ui().pointNameEdit->text(), QStringLiteral("P3"));
        // The answer to the last point: its proposal is taken.
        server->sendInfo(QStringLiteral("S1"), QStringLiteral("G"), QStringLiteral("Q7"), QStringLiteral("D1"));
        QTRY_COMPARE(w->ui().pointNameEdit->text(), QStringLiteral("Q7"));
    }

    void sessionConflict_data()
    {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("acceptInput");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("yes") << QMessageBox::Yes << true << QString() << "S3_1";
        QTest::newRow("cancel, empty") << QMessageBox::Cancel << true << QString() << "S3_1";
        QTest::newRow("cancel, blanks") << QMessageBox::Cancel << true << "   " << "S3_1";
        QTest::newRow("cancel, cancelled") << QMessageBox::Cancel << false << "ignored" << "S3_1";
        QTest::newRow("cancel, typed") << QMessageBox::Cancel << true << "  Mine  " << "Mine";
    }
    void sessionConflict()
    {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, acceptInput);
        QFETCH(QString, typed);
        QFETCH(QString, expected);

        connectWith(QStringLiteral("S1"));
        w->ui().sessionEdit->setText(QStringLiteral("S3"));
        const int before = measureRequests();
        w->ui().measButton->click();
        QTRY_COMPARE(server->ofType(4).size(), 1);

        ModalAnswer box(clickButton(answer), "QMessageBox");
        ModalAnswer input(enterText(typed, acceptInput), "QInputDialog");
        server->sendText(0, QStringLiteral("S3_1"));
        QTRY_VERIFY_WITH_TIMEOUT(box.done, 5000);
        QCOMPARE(box.title, QStringLiteral("Session error"));
        QCOMPARE(box.text, QStringLiteral("A session with that name already exists. Replace with: S3_1 ?"));
        QCOMPARE(box.icon, int(QMessageBox::Warning));
        if (answer != QMessageBox::Yes) {
            QTRY_VERIFY(input.done);
            QCOMPARE(input.title, QStringLiteral("Session"));
            QCOMPARE(input.text, QStringLiteral("Enter the session name (otherwise the name will be S3_1)"));
        } else {
            QVERIFY(!input.done);
        }

        QTRY_COMPARE(server->ofType(4).size(), 2);
        QCOMPARE(server->ofType(4).at(1).texts, QStringList({expected}));
        QCOMPARE(w->ui().sessionEdit->text(), expected);
        QCOMPARE(w->serverLink()->sessionNameValue(), expected);
        QVERIFY(w->isMeasurePending());
        QVERIFY(!w->ui().measButton->isEnabled());
        QCOMPARE(measureRequests(), before);

        // The confirmation of the new name completes the waiting measurement.
        server->sendEmpty(7);
        QTRY_COMPARE(measureRequests(), before + 1);
        QTRY_COMPARE_WITH_TIMEOUT(server->ofType(3).size(), 1, 5000);
        QCOMPARE(server->ofType(3).first().texts.value(0), expected);
    }

    void nextPointNameRules_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("fromServer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("server name") << "A1" << "P7" << "P7";
        QTest::newRow("default keeps the user's") << " A1 " << "default_point_name" << "A1";
        QTest::newRow("empty field") << "" << "P7" << "point";
        QTest::newRow("blank field") << "   " << "default_point_name" << "point";
    }
    void nextPointNameRules()
    {
        QFETCH(QString, field);
        QFETCH(QString, fromServer);
        QFETCH(QString, shown);
        if (!w)
            connectWith(QStringLiteral("S1"));
        w->ui().pointNameEdit->setText(field);
        server->sendInfo(QStringLiteral("Sx"), QStringLiteral("Gx"), fromServer, QStringLiteral("Dx"));
        QTRY_COMPARE(w->ui().sessionEdit->text(), QStringLiteral("Sx"));
        QCOMPARE(w->ui().groupEdit->text(), QStringLiteral("Gx"));
        QCOMPARE(w->ui().pointNameEdit->text(), shown);
        QCOMPARE(w->ui().deviceNameEdit->text(), QStringLiteral("Dx"));
        QVERIFY(w->ui().deviceNameEdit->isReadOnly());
        // The server link took the session from the same message, so the
        // next Measure needs no session agreement.
        QCOMPARE(w->serverLink()->sessionNameValue(), QStringLiteral("Sx"));
        const QFontMetrics fm(w->ui().sessionEdit->font());
        const int widest = qMax(qMax(fm.horizontalAdvance(QStringLiteral("Sx")), fm.horizontalAdvance(QStringLiteral("Gx"))),
                                qMax(fm.horizontalAdvance(shown), fm.horizontalAdvance(QStringLiteral("Dx"))));
        QCOMPARE(w->ui().pointNameEdit->minimumWidth(), int(widest * 1.1));

        server->sendText(5, QStringLiteral("NewGroup"));
        QTRY_COMPARE(w->ui().groupEdit->text(), QStringLiteral("NewGroup"));
        w->ui().sessionEdit->setText(QStringLiteral("S1"));   // keep the session
        server->sendInfo(QStringLiteral("S1"), QStringLiteral("G"), QStringLiteral("P1"), QStringLiteral("Dx"));
        QTRY_COMPARE(w->serverLink()->sessionNameValue(), QStringLiteral("S1"));
    }

    void edmModeReports()
    {
        MainWindow win;
        win.handlerResponseReceived(qMakePair(TMC_GetEdmMode, QVariant(14)));
        QCOMPARE(win.ui().edmModeCombo->currentIndex(), 13);
        QCOMPARE(win.ui().edmModeCombo->currentText(), QStringLiteral("IR Precise Reflector Tape"));
        QVERIFY(logText(win).endsWith(QStringLiteral("EDM mode is selected on the device: IR Precise Reflector Tape\n")));

        win.handlerResponseReceived(qMakePair(TMC_GetEdmMode, QVariant(0)));
        QCOMPARE(win.ui().edmModeCombo->currentIndex(), -1);
        QVERIFY(logText(win).endsWith(QStringLiteral("EDM mode is selected on the device: \n")));

        win.handlerResponseReceived(qMakePair(TMC_GetEdmMode, QVariant(15)));
        QCOMPARE(win.ui().edmModeCombo->currentIndex(), -1);

        win.handlerResponseReceived(qMakePair(TMC_GetEdmMode, QVariant(3)));
        win.handlerResponseReceived(qMakePair(TMC_SetEdmMode, QVariant(true)));
        QVERIFY(logText(win).endsWith(QStringLiteral("EDM mode is selected on the device: IR Fast\n"
                                                     "EDM mode is selected on the device: IR Fast\n")));
    }

    void readoutReplies()
    {
        MainWindow win;
        win.handlerResponseReceived(qMakePair(CSV_GetInstrumentNo, QVariant(42)));
        QCOMPARE(win.ui().serialNumberLabel->text(), QStringLiteral("Serial number: 42"));
        win.handlerResponseReceived(qMakePair(CSV_GetInstrumentName, QVariant(QStringLiteral("\"TS\""))));
        QCOMPARE(win.ui().deviceInfoLabel->text(), QStringLiteral("Device Name: \"TS\""));
        win.handlerResponseReceived(qMakePair(CSV_GetIntTemp, QVariant(QStringLiteral("23.470"))));
        QCOMPARE(win.ui().temperatureLabel->text(), QStringLiteral("Device temperature: 23.470 °C"));
        TMC_HZ_V_ANG a;
        a.hzAngle = 1.0;
        a.vAngle = 0.0;
        win.handlerResponseReceived(qMakePair(TMC_GetAngle5, QVariant::fromValue(a)));
        QCOMPARE(win.ui().xEdit->text(), formatAngle(1.0));
        QCOMPARE(win.ui().yEdit->text(), formatAngle(0.0));
        QVERIFY(win.ui().zEdit->text().isEmpty());
        // The third row: the last slope distance, in metres.
        QCOMPARE(win.ui().xLabel->text(), QStringLiteral("Hz:"));
        QCOMPARE(win.ui().zLabel->text(), QStringLiteral("SD:"));
        QCOMPARE(win.ui().zUnitLabel->text(), QStringLiteral("m"));
        win.handlerResponseReceived(distance(0, 12.3456));
        QCOMPARE(win.ui().zEdit->text(), QStringLiteral("12.346"));
        // Replies without an effect change nothing.
        const QString log = logText(win);
        win.handlerResponseReceived(qMakePair(EDM_Laserpointer, QVariant()));
        QCOMPARE(logText(win), log);
    }

    void pointWithoutServerIsLogged()
    {
        MainWindow win;
        win.ui().sessionEdit->setText(QStringLiteral(" S "));
        win.ui().groupEdit->setText(QStringLiteral("G"));
        win.ui().pointNameEdit->setText(QStringLiteral("P9"));
        GetSimpleMea m;
        m.hzAngle = 0.0;
        m.vAngle = M_PI / 2;
        m.slopeDistance = 12.5;
        win.handlerResponseReceived(qMakePair(TMC_GetSimpleMea, QVariant::fromValue(m)));
        QVERIFY2(logText(win).contains(QStringLiteral(
                     "S / G / P9: x = 12.500, y = 0.000, z = 0.000, not sent, kept in the journal")),
                 qPrintable(logText(win)));
        // Unanswered, the name advances at once. A record of another type
        // converts to zeros.
        QCOMPARE(win.ui().pointNameEdit->text(), QStringLiteral("P10"));
        win.handlerResponseReceived(qMakePair(BAP_MeasDistanceAngle, QVariant(QStringLiteral("junk"))));
        QVERIFY(logText(win).endsWith(
            QStringLiteral("S / G / P10: x = 0.000, y = 0.000, z = 0.000, not sent, kept in the journal\n")));
        QCOMPARE(win.ui().pointNameEdit->text(), QStringLiteral("P11"));
    }

    // The link clears a measured distance in the same exchange, so every
    // polled distance is a new point, equal or not to the last Measure.
    void everyPolledDistanceIsAPoint()
    {
        MainWindow win;
        win.ui().pointNameEdit->setText(QStringLiteral("P"));
        MeasDistanceAngle m;
        m.vAngle = M_PI / 2;
        m.slopeDistance = 10.0;
        GetSimpleMea g;
        g.vAngle = M_PI / 2;
        g.slopeDistance = 10.0;
        auto unsent = [&] { return logText(win).count(QStringLiteral("not sent, kept in the journal")); };
        win.handlerResponseReceived(qMakePair(BAP_MeasDistanceAngle, QVariant::fromValue(m)));
        win.handlerResponseReceived(qMakePair(TMC_GetSimpleMea, QVariant::fromValue(g)));
        QCOMPARE(unsent(), 2);
    }

    // Base-point mode belongs to the dialog: kept for the new link when
    // the dialog stays open over Disconnect and Connect, ended when it is
    // hidden while disconnected.
    void basePointModeFollowsTheDialogAcrossLinks()
    {
        connectWith(QStringLiteral("S1"));
        BasePoints *dialog = w->basePointsDialog();
        server->sendBasePoint(QStringLiteral("B1"), 10, 5, 1.2);
        server->sendBasePoint(QStringLiteral("B2"), 20, 5, 1.2);
        QTRY_COMPARE(dialog->table()->rows.size(), 2);
        w->ui().basePointsButton->click();
        const auto reconnect = [this] {
            w->ui().actionDisconnect->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!w->isClosing(), 5000);
        };
        reconnect();
        w->ui().actionConnect->trigger();
        QTRY_VERIFY(w->ui().serverStatusLabel->isEnabled());

        BasePointRow *row = dialog->table()->rows.first();
        dialog->table()->currentRow = row;
        dialog->table()->toggleSelection(row);
        w->ui().measButton->click();
        QVERIFY(!w->ui().measButton->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(row->measured, 5000);
        QVERIFY(w->ui().measButton->isEnabled());
        QTest::qWait(200);
        QVERIFY(server->ofType(3).isEmpty());
        QVERIFY(!logText(*w).contains(QStringLiteral(" / G / ")));

        reconnect();
        dialog->hide();
        QVERIFY(!w->isBasePointMode());
        w->ui().actionConnect->trigger();
        QTRY_VERIFY(w->ui().serverStatusLabel->isEnabled());
        w->ui().measButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(server->ofType(3).size(), 1, 5000);
        QVERIFY2(!logText(*w).contains(QStringLiteral("nullptr")), qPrintable(logText(*w)));
    }

    void basePointRouting()
    {
        connectWith(QStringLiteral("S1"));
        BasePoints *dialog = w->basePointsDialog();
        server->sendBasePoint(QStringLiteral("B1"), 10, 5, 1.2);
        QTRY_COMPARE(dialog->table()->rows.size(), 1);
        w->ui().basePointsButton->click();
        QVERIFY(dialog->isVisible());
        QVERIFY(w->isBasePointMode());

        // No base point selected: a box, no request.
        const int before = measureRequests();
        ModalAnswer box(clickButton(QMessageBox::Ok));
        w->handlerMeasButtonClick();
        QVERIFY(box.done);
        QCOMPARE(box.title, QStringLiteral("Measurement error"));
        QCOMPARE(box.text, QStringLiteral("The base point for the measurement is not selected"));
        QCOMPARE(box.icon, int(QMessageBox::Critical));
        QTest::qWait(200);
        QCOMPARE(measureRequests(), before);

        // Selected: measured and handed to the dialog, cleared at once, and
        // nothing goes to the server.
        BasePointRow *row = dialog->table()->rows.first();
        dialog->table()->currentRow = row;
        dialog->table()->toggleSelection(row);
        QVERIFY(basePointSelected);
        ModalAnswer allMeasured(clickButton(QMessageBox::Ok));   // the dialog's own note
        w->handlerMeasButtonClick();
        QTRY_VERIFY_WITH_TIMEOUT(row->measured, 5000);
        QTRY_VERIFY(allMeasured.done);
        QCOMPARE(allMeasured.text, QStringLiteral("All basepoints have been measured"));
        QVERIFY(std::fabs(row->measuredX - 10.0) < 1e-3);
        QVERIFY(std::fabs(row->measuredY + 5.0) < 1e-3); // Hz counted clockwise
        QVERIFY(std::fabs(row->measuredZ - 1.2) < 1e-3);
        const QStringList sent = sim->commands();
        const int at = sent.lastIndexOf(QStringLiteral("%R1Q,17017:2"));
        QVERIFY(at >= 0 && at + 1 < sent.size());
        QCOMPARE(sent.at(at + 1), QStringLiteral("%R1Q,2008:3,1"));
        QTest::qWait(200);
        QVERIFY(server->ofType(3).isEmpty());
        QVERIFY(!w->isMeasurePending());

        dialog->hide();
        QVERIFY(!w->isBasePointMode());
    }

    void stationMatrixFromServer()
    {
        connectWith(QStringLiteral("S1"));
        QList<double> values;
        for (int i = 1; i <= 16; ++i)
            values << i;
        values[3] = 6512345.6789; // a grid easting, not a float
        server->sendMatrix(values);
        QTRY_COMPARE(stationMatrix()(0, 1), 2.0f);
        QCOMPARE(stationMatrix()(1, 0), 5.0f);
        QVERIFY(logStationMatrix());
        // The mapping has the doubles as sent.
        double x, y, z;
        mapWithStationMatrix(0, 0, 0, x, y, z);
        QCOMPARE(x, 6512345.6789);
        QCOMPARE(y, 8.0);
    }

    // A mirrored frame (an instrument counting clockwise), turned by -30
    // degrees, with a scale, at grid coordinates: the dialog shows the
    // station, and a point's log line adds it in the base points' frame
    // (to the millimetre: in float it would be half a metre off).
    void stationShownAndPointsLoggedInTheBasePointsFrame()
    {
        connectWith(QStringLiteral("S1"));
        const double c = 1.00002 * std::cos(-M_PI / 6), s = 1.00002 * std::sin(-M_PI / 6);
        server->sendMatrix({c, s, 0, 6512345.6789, s, -c, 0, 5678901.2345, 0, 0, 1, 152.25, 0, 0, 0, 1});
        auto *station = w->basePointsDialog()->findChild<QLabel *>(QStringLiteral("stationLabel"));
        QTRY_VERIFY(!station->isHidden());
        QCOMPARE(station->text(),
                 QStringLiteral("Station: E/X = 6512345.679 m, N/Y = 5678901.235 m, height = 152.250 m\n"
                                "Orientation (the direction of Hz = 0 from the X axis towards Y): "
                                "330.0000° = 366.6667 gon\nScale: 1.00002000 (20.0 ppm)"));

        w->handlerResponseReceived(distance(0, 10));
        QVERIFY2(logText(*w).contains(QStringLiteral(
                     "S1 / G / P1: x = 10.000, y = 0.000, z = 0.000, sent to the server; in the base "
                     "points' frame: X = 6512354.339, Y = 5678896.234, Z = 152.250\n")),
                 qPrintable(logText(*w)));
        QTRY_COMPARE(server->ofType(3).size(), 1);
        QCOMPARE(server->ofType(3).first().numbers.value(0), 10.0);
    }
};

QTEST_MAIN(TestMeasure)
#include "test_measure.moc"
