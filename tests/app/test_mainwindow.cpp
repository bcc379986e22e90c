// The main window as controller of both links: connecting to the simulated
// instrument on a pty and to a scripted server on loopback, the identity
// read-outs, the failure rows and the orderly close.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>

#include "basepoints.h"
#include "client.h"
#include "mainwindow.h"
#include "serialporthandler.h"
#include "test_mainwindow_support.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

    UnexpectedModals unexpected;

    // Every instrument control that follows the link's state.
    static QList<QWidget *> controls(MainWindow &w)
    {
        MainWindowUi &u = w.ui();
        return {u.measButton, u.upButton, u.leftButton, u.rightButton, u.downButton,
                u.trackingButton, u.edmModeCombo, u.autoButton, u.captureButton,
                u.basePointsButton};
    }

    static void verifyClosedState(MainWindow &w)
    {
        // Disconnect returns at once; the links finish in their threads.
        QTRY_VERIFY_WITH_TIMEOUT(!w.isClosing(), 5000);
        QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("There is no connection to the server"));
        for (QWidget *c : controls(w))
            QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
        QVERIFY(!w.ui().actionLaser->isEnabled());
        QVERIFY(!w.ui().actionDisconnect->isEnabled());
        QVERIFY(w.ui().actionConnect->isEnabled());
        QVERIFY(w.ui().actionSettings->isEnabled());
        QVERIFY(!w.serialLink());
        QVERIFY(!w.serverLink());
        QVERIFY(!w.pollTimer());
    }

    static void verifyLinkedControls(MainWindow &w)
    {
        for (QWidget *c : controls(w))
            QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
        QVERIFY(w.ui().actionLaser->isEnabled());
        QVERIFY(w.ui().actionDisconnect->isEnabled());
        QVERIFY(!w.ui().actionConnect->isEnabled());
        QVERIFY(!w.ui().actionSettings->isEnabled());
    }

private slots:
    void cleanup()
    {
        const QStringList seen = unexpected.seen;
        unexpected.seen.clear();
        QVERIFY2(seen.isEmpty(), qPrintable(QStringLiteral("unexpected dialogs: ") + seen.join(QStringLiteral("; "))));
    }

    void constructionStartsClosed()
    {
        MainWindow w(QStringLiteral("  TS-A  "));
        QCOMPARE(MainWindow::instance(), &w);
        verifyClosedState(w);
        QCOMPARE(w.ui().deviceNameEdit->text(), QStringLiteral("  TS-A  "));
        QVERIFY(w.ui().deviceNameEdit->isReadOnly());
        QVERIFY(w.ui().sessionEdit->minimumWidth() > 0);
        QCOMPARE(w.ui().sessionEdit->minimumWidth(), w.ui().deviceNameEdit->minimumWidth());
        QLabel *status = w.ui().serverStatusLabel;
        QVERIFY(!status->isEnabled());
        QCOMPARE(status->text(), QStringLiteral("There is no connection to the server"));
        QCOMPARE(status->styleSheet(), QStringLiteral("color: red;"));
        QCOMPARE(w.ui().serialNumberLabel->text(), QStringLiteral("Serial number: -"));

        MainWindow unnamed;
        QVERIFY(!unnamed.ui().deviceNameEdit->isReadOnly());
        QVERIFY(unnamed.ui().deviceNameEdit->text().isEmpty());
    }

    void accessorsLogWhileNoLinkRuns()
    {
        MainWindow w;
        QVERIFY(!w.client());
        QVERIFY(!w.serialPortHandler());
        QCOMPARE(logText(w), QStringLiteral("!Ошибка! Client* = nullptr\n"
                                            "!Ошибка! SerialPortHandler* = nullptr\n"));
        w.setBasePointMode(true);
        QVERIFY(w.isBasePointMode());
        w.setBasePointMode(false);
        QVERIFY(!w.isBasePointMode());
    }

    void logAppendsAtTheEndAndKeepsTheLastLines()
    {
        MainWindow w;
        QTextEdit *pane = w.ui().logPane;
        w.appendLog(QStringLiteral("first"));
        pane->moveCursor(QTextCursor::Start);   // the operator clicked at the top
        w.appendLog(QStringLiteral("last"));
        QCOMPARE(logText(w), QStringLiteral("first\nlast\n"));
        for (int i = 0; i < MainWindowUi::logLines; ++i)
            w.appendLog(QString::number(i));
        QVERIFY(pane->document()->blockCount() <= MainWindowUi::logLines + 1);
        QVERIFY(!logText(w).contains(QStringLiteral("last")));
        QVERIFY(logText(w).endsWith(QStringLiteral("%1\n").arg(MainWindowUi::logLines - 1)));
    }

    void disconnectWithNothingOpenChangesNothing()
    {
        MainWindow w;
        w.closeSerialPort();
        verifyClosedState(w);
        QVERIFY(statusText(w).isEmpty());
        QVERIFY(logText(w).isEmpty());
    }

    void connectShowsIdentityAndServerState()
    {
        Instrument sim({QStringLiteral("--serial"), QStringLiteral("7654321"),
                        QStringLiteral("--temperature"), QStringLiteral("23.47")});
        QVERIFY(sim.isReady());
        ScriptServer server;
        MainWindow w(QStringLiteral("TS16"));
        w.ui().sessionEdit->setText(QStringLiteral(" S1 "));
        w.ui().groupEdit->setText(QStringLiteral("G1"));
        chooseLinks(w, sim.portName(), server.port());

        w.ui().actionConnect->trigger();
        QVERIFY(w.serialLink() && w.serialLink()->isRunning());
        QVERIFY(w.serverLink() && w.serverLink()->isRunning());
        QCOMPARE(w.client(), w.serverLink());
        QCOMPARE(w.serialPortHandler(), w.serialLink());
        // The port is opened in the link's thread.
        QCOMPARE(statusText(w), QStringLiteral("Connecting to the instrument at %1 ...").arg(sim.portName()));
        QTRY_COMPARE(statusText(w), QStringLiteral("The device is connected"));
        verifyLinkedControls(w);
        QVERIFY(w.pollTimer() && w.pollTimer()->isActive());
        QCOMPARE(w.pollTimer()->interval(), 500);

        QTRY_COMPARE_WITH_TIMEOUT(w.ui().serialNumberLabel->text(),
                                  QStringLiteral("Serial number: 7654321"), 5000);
        QTRY_COMPARE(w.ui().deviceInfoLabel->text(),
                     QStringLiteral("Device Name: \"TS16 R500 (simulated)\""));
        QTRY_COMPARE(w.ui().temperatureLabel->text(),
                     QStringLiteral("Device temperature: 23.470 °C"));
        QTRY_VERIFY(logText(w).contains(QStringLiteral("EDM mode is selected on the device: ")));
        // The instrument got the start-up requests first, in order.
        const QStringList startup{
            QStringLiteral("%R1Q,5003:"), QStringLiteral("%R1Q,5004:"), QStringLiteral("%R1Q,5011:"),
            QStringLiteral("%R1Q,2021:"), QStringLiteral("%R1Q,2008:3,1"), QStringLiteral("%R1Q,1004:0")};
        // (the window's poll, 2107 and 5011, only follows once they are done,
        // and nothing polls for a distance)
        QTRY_VERIFY(sim.requests().size() >= 6);
        QCOMPARE(sim.requests().mid(0, 6).join(QLatin1Char(' ')), startup.join(QLatin1Char(' ')));

        // The server got the greeting and, once it greeted back, the label is green.
        QTRY_VERIFY(!server.received.isEmpty());
        QCOMPARE(server.received.first().type, -1);
        QTRY_VERIFY(w.ui().serverStatusLabel->isEnabled());
        QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
        QCOMPARE(w.ui().serverStatusLabel->styleSheet(), QStringLiteral("color: green;"));

        // The poll keeps the angle read-out live.
        QTRY_VERIFY_WITH_TIMEOUT(!w.ui().xEdit->text().isEmpty(), 5000);
        QVERIFY(w.ui().xEdit->text().contains(QChar(0x00B0)));
        QVERIFY(!w.ui().yEdit->text().isEmpty());
        QVERIFY(w.ui().zEdit->text().isEmpty());
        QVERIFY(sim.requests().contains(QStringLiteral("%R1Q,2107:1")));

        // The identification answers the server's 9, at the greeting and
        // again when asked.
        QTRY_COMPARE(server.ofType(1).size(), 1);
        server.sendEmpty(9);
        QTRY_COMPARE(server.ofType(1).size(), 2);
        QCOMPARE(server.ofType(1).last().texts,
                 QStringList({QStringLiteral("Stadiolink.exe"), QStringLiteral("S1"),
                              QStringLiteral("G1"), QStringLiteral("TS16")}));

        // A second Connect only logs.
        w.openSerialPort();
        QVERIFY(logText(w).contains(QStringLiteral("The COM port is already open")));

        // A language switch keeps the identity shown.
        w.retranslate();
        QCOMPARE(w.ui().serialNumberLabel->text(), QStringLiteral("Serial number: 7654321"));
        QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
    }

    void portThatCannotBeOpened()
    {
        ScriptServer server;
        MainWindow w;
        chooseLinks(w, QStringLiteral("/nonexistent/ttyTS"), server.port());
        ModalAnswer answer(clickButton(QMessageBox::Ok));
        w.ui().actionConnect->trigger();
        QTRY_VERIFY(answer.done);
        QCOMPARE(answer.title, QStringLiteral("Connection error"));
        QVERIFY2(answer.text.startsWith(QStringLiteral("Couldn't connect to COM port: Port error ")),
                 qPrintable(answer.text));
        QVERIFY(answer.text.contains(QStringLiteral("/nonexistent/ttyTS")));
        QCOMPARE(statusText(w), QStringLiteral("Connection error to the device"));
        QTRY_VERIFY(!w.isClosing());
        verifyClosedState(w);
        // The server connection made meanwhile is closed with it.
        QTRY_VERIFY(!server.isConnected());
    }

    void serverRefusingLeavesInstrumentLinked()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        MainWindow w;
        chooseLinks(w, sim.portName(), deadPort());
        ModalAnswer answer(clickButton(QMessageBox::Ok));
        w.ui().actionConnect->trigger();
        QTRY_VERIFY(answer.done);
        QCOMPARE(answer.title, QStringLiteral("Connection error"));
        QCOMPARE(answer.text, QStringLiteral("Couldn't connect to the server"));
        // (the status bar may have moved on to the instrument's opening since)
        QVERIFY(logText(w).contains(QStringLiteral("Couldn't connect to the server: Connection rejected")));
        QVERIFY(w.serialLink() && w.serialLink()->isRunning());
        QTRY_VERIFY(!w.serverLink());
        verifyLinkedControls(w);
        // The server is tried again in the background (after an hour here).
        QTRY_VERIFY(w.ui().serverStatusLabel->text().startsWith(
            QStringLiteral("Reconnecting to the server: next try at ")));

        // Measure without a server says so and measures for the journal.
        const int before = sim.commands().size();
        w.ui().measButton->click();
        QCOMPARE(statusText(w), QStringLiteral("There is no connection to the server"));
        QVERIFY(logText(w).contains(QStringLiteral("There is no connection to the server")));
        QVERIFY(!w.isMeasurePending());
        QTRY_VERIFY(sim.commandsSince(before).contains(QStringLiteral("%R1Q,17017:2")));
        QTRY_VERIFY(logText(w).contains(QStringLiteral(", not sent, kept in the journal")));

        // Disconnect then returns to the closed state.
        w.ui().actionDisconnect->trigger();
        QTRY_COMPARE(statusText(w), QStringLiteral("The COM port is closed"));
        verifyClosedState(w);
    }

    void serverClosingMidSession()
    {
        Instrument sim({QStringLiteral("--track-interval"), QStringLiteral("50")});
        QVERIFY(sim.isReady());
        ScriptServer server;
        server.nextPointName = QStringLiteral("next");
        MainWindow w;
        w.ui().sessionEdit->setText(QStringLiteral("S"));
        w.ui().groupEdit->setText(QStringLiteral("G"));
        w.ui().pointNameEdit->setText(QStringLiteral("P1"));
        chooseLinks(w, sim.portName(), server.port());
        w.ui().actionConnect->trigger();
        QTRY_VERIFY(w.ui().serverStatusLabel->isEnabled());

        ModalAnswer answer(clickButton(QMessageBox::Ok));
        server.closeConnection();
        QTRY_VERIFY_WITH_TIMEOUT(answer.done, 5000);
        QCOMPARE(answer.title, QStringLiteral("Network information"));
        QCOMPARE(answer.text, QStringLiteral("The server has closed the connection"));
        QVERIFY(!w.ui().serverStatusLabel->isEnabled());
        QTRY_VERIFY(!w.serverLink());   // ended by itself and gone
        QTRY_VERIFY(w.ui().serverStatusLabel->text().startsWith(
            QStringLiteral("Reconnecting to the server: next try at ")));
        QVERIFY(w.ui().serverStatusLabel->styleSheet() != QStringLiteral("color: green;"));

        // Tracking points that cannot be sent go to the log with their names.
        w.ui().trackingButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            logText(w).contains(QRegularExpression(QStringLiteral(
                "S / G / P1: x = [-0-9.]+, y = [-0-9.]+, z = [-0-9.]+, not sent, kept in the journal"))),
            5000);
        w.ui().trackingButton->click();

        // Measure now reports the missing server instead of measuring.
        w.ui().measButton->click();
        QCOMPARE(statusText(w), QStringLiteral("There is no connection to the server"));
        QVERIFY(!w.isMeasurePending());

        w.ui().actionDisconnect->trigger();
        verifyClosedState(w);
    }

    void instrumentErrorReplyShownAsCommandError()
    {
        Instrument sim({QStringLiteral("--fault"), QStringLiteral("18007:error=1285:1")});
        QVERIFY(sim.isReady());
        ScriptServer server;
        MainWindow w;
        chooseLinks(w, sim.portName(), server.port());
        w.ui().actionConnect->trigger();
        QTRY_VERIFY(w.ui().serialNumberLabel->text() != QStringLiteral("Serial number: -"));

        // Lock on is refused once; the fine adjustment still goes out, and
        // the lock-in after it is refused because the lock state stayed off.
        // Both errors come as boxes, the second possibly over the first.
        ModalAnswer first(clickButton(QMessageBox::Ok));
        ModalAnswer second(clickButton(QMessageBox::Ok));
        w.ui().captureButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(first.done && second.done, 5000);
        QCOMPARE(first.title, QStringLiteral("Command error"));
        QCOMPARE(second.title, QStringLiteral("Command error"));
        // In words, with the bare code kept in the box and the log.
        const QString refused = QStringLiteral(
            "Only the angles were measured, no distance (Command error 18007: error code 1285). Aim "
            "the telescope at the reflector (or choose a reflectorless EDM mode for a target "
            "without one) and measure again.");
        const QString notLocked = QStringLiteral(
            "The target lock is not switched on (Command error 9013: error code 8714). Press "
            "Capture to switch the target lock on, then try again.");
        QCOMPARE(QSet<QString>({first.text, second.text}), QSet<QString>({refused, notLocked}));
        QCOMPARE(statusText(w), QStringLiteral("Command error"));
        QVERIFY(logText(w).contains(refused + QStringLiteral("\n") + notLocked));
        const QStringList sent = sim.commands();
        const int lockOn = sent.indexOf(QStringLiteral("%R1Q,18007:1"));
        QVERIFY(lockOn >= 0);
        QCOMPARE(sent.mid(lockOn), QStringList({QStringLiteral("%R1Q,18007:1"),
                                                QStringLiteral("%R1Q,9037:0.785398,0.785398,0"),
                                                QStringLiteral("%R1Q,9013:")}));
        verifyLinkedControls(w);
    }

    void disconnectLeavesTheInstrumentQuiet()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        MainWindow w;
        chooseLinks(w, sim.portName(), server.port());
        w.ui().actionConnect->trigger();
        QTRY_VERIFY(w.ui().serverStatusLabel->isEnabled());

        w.ui().captureButton->click();
        w.ui().actionLaser->trigger();
        w.ui().trackingButton->click();
        QVERIFY(w.ui().captureButton->isChecked());
        QVERIFY(w.isLaserOn());
        QVERIFY(w.isTrackingActive());
        // The lock-in that the link adds after the fine adjustment went out.
        QTRY_VERIFY(sim.commands().contains(QStringLiteral("%R1Q,9013:")));
        QTRY_VERIFY(sim.commands().contains(QStringLiteral("%R1Q,2117:")));
        const int before = sim.commands().size();

        w.ui().actionDisconnect->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isClosing(), 5000);
        // stop() drains the queue: the lock-off, laser-off and tracking-off
        // requests reached the instrument before the port closed.
        const QStringList sent = sim.commands().mid(before);
        const int lockOff = sent.indexOf(QStringLiteral("%R1Q,18007:0"));
        const int laserOff = sent.indexOf(QStringLiteral("%R1Q,1004:0"));
        // (while tracking, the link also clears each delivered distance with
        // 2008:3,1, so the tracking stop is the last of them)
        const int trackOff = sent.lastIndexOf(QStringLiteral("%R1Q,2008:3,1"));
        QVERIFY2(lockOff >= 0 && laserOff > lockOff && trackOff > laserOff, qPrintable(sent.join(' ')));
        QCOMPARE(sent.last(), QStringLiteral("%R1Q,2008:3,1"));
        QVERIFY(!w.ui().captureButton->isChecked());
        QCOMPARE(w.ui().captureButton->text(), QStringLiteral("Capture"));
        QVERIFY(!w.isLaserOn());
        QCOMPARE(w.ui().actionLaser->text(), QStringLiteral("The laser is off"));
        QVERIFY(!w.isTrackingActive());
        QCOMPARE(w.ui().trackingButton->text(), QStringLiteral("Tracking"));
        QCOMPARE(statusText(w), QStringLiteral("The COM port is closed"));
        verifyClosedState(w);
        QTRY_VERIFY(!server.isConnected());

        // The read-outs return to "-" at the next language switch.
        w.retranslate();
        QCOMPARE(w.ui().serialNumberLabel->text(), QStringLiteral("Serial number: -"));
        QCOMPARE(w.ui().deviceInfoLabel->text(), QStringLiteral("Device Name: -"));

        // And the links open again.
        w.ui().actionConnect->trigger();
        QVERIFY(w.serialLink() && w.serialLink()->isRunning());
        QVERIFY(w.serverLink());
        w.ui().actionDisconnect->trigger();
        verifyClosedState(w);
    }

    // The settings and base points dialogs open wholly on the screen,
    // beside the window where there is room, wherever the window stands.
    void dialogsOpenOnTheScreen()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect area = w.screen()->availableGeometry();
        BasePoints *basePoints = w.basePointsDialog();
        // The settings dialog is modal: measured and closed once it shows.
        QRect settings;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (QWidget *d = QApplication::activeModalWidget()) {
                settings = d->frameGeometry();
                qobject_cast<QDialog *>(d)->reject();
            }
        });
        poll.start(20);
        for (const QPoint &at : {QPoint(area.left() - 91, area.top() + 40),
                                 QPoint(area.right() - 50, area.bottom() - 50), area.center()}) {
            w.move(at);
            settings = QRect();
            w.ui().actionSettings->trigger();
            const QString where = QStringLiteral("window at %1,%2").arg(at.x()).arg(at.y());
            QVERIFY2(area.contains(settings), qPrintable(where));
            QVERIFY2(!settings.intersects(w.geometry()), qPrintable(where));
            basePoints->show();
            QVERIFY(QTest::qWaitForWindowExposed(basePoints));
            QVERIFY2(area.contains(basePoints->frameGeometry()), qPrintable(where));
            basePoints->hide();
        }
    }

    void destroyingTheWindowStopsBothLinks()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        auto *w = new MainWindow;
        chooseLinks(*w, sim.portName(), server.port());
        w->ui().actionConnect->trigger();
        QTRY_VERIFY(server.isConnected());
        w->ui().actionLaser->trigger();
        QElapsedTimer clock;
        clock.start();
        delete w;
        QVERIFY2(clock.elapsed() < 3000, "closing the links took too long");
        QVERIFY(sim.commands().endsWith(QStringLiteral("%R1Q,1004:0")));
        QTRY_VERIFY(!server.isConnected());

        // A server that takes nothing more does not hold the window's
        // closing up either (its link's writes are bounded by 10 s).
        ScriptServer stuck;
        w = new MainWindow;
        chooseLinks(*w, sim.portName(), stuck.port());
        w->ui().actionConnect->trigger();
        QTRY_VERIFY(w->ui().serverStatusLabel->isEnabled());
        stuck.stopReading();
        MeasuringPoint big;
        big.pointName = QString(16000, QLatin1Char('p'));
        for (int i = 0; i < 300; ++i)
            w->serverLink()->sendPoint(big);
        QTest::qWait(300);
        clock.restart();
        delete w;
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
