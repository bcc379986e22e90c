// The instrument control panel, checked as the request lines the simulated
// instrument receives over the pty.

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include "mainwindow.h"
#include "serialporthandler.h"
#include "test_mainwindow_support.h"

class TestControls : public QObject
{
    Q_OBJECT

    UnexpectedModals unexpected;

    std::unique_ptr<Instrument> sim;
    std::unique_ptr<ScriptServer> server;
    std::unique_ptr<MainWindow> w;
    int mark = 0;

    // The commands sent since the last call.
    QStringList sentSinceMark()
    {
        const QStringList all = sim->commands();
        const QStringList out = all.mid(mark);
        mark = all.size();
        return out;
    }

    // Waits until the instrument got `count` commands since the mark.
    QStringList waitForCommands(int count)
    {
        QElapsedTimer clock;
        clock.start();
        while (sim->commands().size() - mark < count && clock.elapsed() < 5000)
            QTest::qWait(10);
        return sentSinceMark();
    }

    void press(QPushButton *b)
    {
        QTest::mousePress(b, Qt::LeftButton);
    }
    void release(QPushButton *b)
    {
        QTest::mouseRelease(b, Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        // Every direction finds a target: where the arrows leave the
        // telescope does not matter to the tests after them.
        sim.reset(new Instrument({QStringLiteral("--aim-tolerance"), QStringLiteral("3.2")}));
        QVERIFY(sim->isReady());
        server.reset(new ScriptServer);
        w.reset(new MainWindow(QStringLiteral("TS")));
        w->show();
        chooseLinks(*w, sim->portName(), server->port());
        w->ui().actionConnect->trigger();
        QVERIFY(w->serialLink() && w->serialLink()->isRunning());
        // Start-up done: the last start-up request (laser off) went out.
        QTRY_VERIFY_WITH_TIMEOUT(sim->commands().contains(QStringLiteral("%R1Q,1004:0")), 5000);
        mark = sim->commands().size();
    }

    void cleanupTestCase()
    {
        w.reset();
        server.reset();
        sim.reset();
    }

    void cleanup()
    {
        const QStringList seen = unexpected.seen;
        unexpected.seen.clear();
        QVERIFY2(seen.isEmpty(), qPrintable(QStringLiteral("unexpected dialogs: ") + seen.join(QStringLiteral("; "))));
    }

    void init()
    {
        QTest::qWait(50);
        sentSinceMark();
    }

    void arrowLeftAtFullSpeed()
    {
        w->ui().speedSlider->setValue(79);
        press(w->ui().leftButton);
        QCOMPARE(waitForCommands(2),
                 QStringList({QStringLiteral("%R1Q,6001:1"), QStringLiteral("%R1Q,6004:-0.790000,0.000000")}));
        release(w->ui().leftButton);
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,6002:")}));
    }

    void arrowsAtLowestSpeed_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("velocity");
        QTest::newRow("up") << 0 << "%R1Q,6004:0.000000,-0.010000";
        QTest::newRow("down") << 1 << "%R1Q,6004:0.000000,0.010000";
        QTest::newRow("right") << 2 << "%R1Q,6004:0.010000,0.000000";
    }
    void arrowsAtLowestSpeed()
    {
        QFETCH(int, button);
        QFETCH(QString, velocity);
        QPushButton *b = QList<QPushButton *>{w->ui().upButton, w->ui().downButton,
                                              w->ui().rightButton}[button];
        w->ui().speedSlider->setValue(1);
        press(b);
        QCOMPARE(waitForCommands(2), QStringList({QStringLiteral("%R1Q,6001:1"), velocity}));
        release(b);
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,6002:")}));
    }

    void speedIsReadOnlyWhenPressed()
    {
        w->ui().speedSlider->setValue(10);
        press(w->ui().rightButton);
        QCOMPARE(waitForCommands(2).value(1), QStringLiteral("%R1Q,6004:0.100000,0.000000"));
        w->ui().speedSlider->setValue(50);
        release(w->ui().rightButton);
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,6002:")}));
    }

    void sliderShowsSpeed()
    {
        w->ui().speedSlider->setValue(50);
        QCOMPARE(w->ui().speedValueLabel->text(), QStringLiteral("0.50"));
        w->ui().speedSlider->setValue(1);
        QCOMPARE(w->ui().speedValueLabel->text(), QStringLiteral("0.01"));
        w->ui().speedSlider->setValue(79);
        QCOMPARE(w->ui().speedValueLabel->text(), QStringLiteral("0.79"));
        QTest::qWait(100);
        QVERIFY(sentSinceMark().isEmpty());
    }

    void edmModeChoice()
    {
        QComboBox *combo = w->ui().edmModeCombo;
        QCOMPARE(combo->count(), 14);
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,2020:3")}));
        QTRY_VERIFY(logText(*w).endsWith(QStringLiteral("EDM mode is selected on the device: IR Fast\n")));

        combo->setCurrentIndex(13);
        emit combo->activated(13);
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,2020:14")}));
        QTRY_VERIFY(logText(*w).endsWith(
            QStringLiteral("EDM mode is selected on the device: IR Precise Reflector Tape\n")));

        // Selecting from the code (as the instrument's report does) sends nothing.
        combo->setCurrentIndex(1);
        QTest::qWait(100);
        QVERIFY(sentSinceMark().isEmpty());
    }

    void trackingToggles()
    {
        QToolButton *b = w->ui().trackingButton;
        b->click();
        QCOMPARE(b->text(), QStringLiteral("Stop"));
        QVERIFY(w->isTrackingActive() && b->isChecked());
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,2117:")}));
        b->click();
        QCOMPARE(b->text(), QStringLiteral("Tracking"));
        QVERIFY(!w->isTrackingActive() && !b->isChecked());
        // The tracking stop is the last DoMeasure; before it, the link may
        // have cleared delivered distances with the same request.
        QElapsedTimer clock;
        clock.start();
        QStringList sent;
        while (clock.elapsed() < 5000) {
            sent = sim->commands().mid(mark);
            if (!sent.isEmpty() && sent.last() == QLatin1String("%R1Q,2008:3,1"))
                break;
            QTest::qWait(10);
        }
        QVERIFY2(!sent.isEmpty(), "no tracking stop");
        for (const QString &l : sent)
            QCOMPARE(l, QStringLiteral("%R1Q,2008:3,1"));
        QTest::qWait(300);   // no distances after the stop
        sentSinceMark();
        QTest::qWait(300);
        QVERIFY(sentSinceMark().isEmpty());
    }

    void lockOnAndOff()
    {
        QToolButton *b = w->ui().captureButton;
        QVERIFY(b->isCheckable());
        b->click();
        QVERIFY(b->isChecked());
        QCOMPARE(b->text(), QStringLiteral("To free"));
        // Lock on, fine adjustment, and the link's own lock-in after it.
        QCOMPARE(waitForCommands(3),
                 QStringList({QStringLiteral("%R1Q,18007:1"),
                              QStringLiteral("%R1Q,9037:0.785398,0.785398,0"),
                              QStringLiteral("%R1Q,9013:")}));
        b->click();
        QVERIFY(!b->isChecked());
        QCOMPARE(b->text(), QStringLiteral("Capture"));
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,18007:0")}));
        QTest::qWait(200);
        QVERIFY(sentSinceMark().isEmpty());
    }

    void laserOnAndOff()
    {
        QAction *a = w->ui().actionLaser;
        a->trigger();
        QVERIFY(w->isLaserOn());
        QCOMPARE(a->text(), QStringLiteral("The laser is on"));
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,1004:1")}));
        a->trigger();
        QVERIFY(!w->isLaserOn());
        QCOMPARE(a->text(), QStringLiteral("The laser is off"));
        QCOMPARE(waitForCommands(1), QStringList({QStringLiteral("%R1Q,1004:0")}));
    }

    void languageSwitchKeepsStateTexts()
    {
        const int lockIns = sim->commands().count(QStringLiteral("%R1Q,9013:"));
        w->ui().trackingButton->click();
        w->ui().captureButton->click();
        w->ui().actionLaser->trigger();
        w->ui().edmModeCombo->setCurrentIndex(2);
        // Let the lock-in after the fine adjustment go out before freeing.
        QTRY_COMPARE(sim->commands().count(QStringLiteral("%R1Q,9013:")), lockIns + 1);
        w->retranslate();
        QCOMPARE(w->ui().trackingButton->text(), QStringLiteral("Stop"));
        QCOMPARE(w->ui().captureButton->text(), QStringLiteral("To free"));
        QCOMPARE(w->ui().actionLaser->text(), QStringLiteral("The laser is on"));
        QCOMPARE(w->ui().edmModeCombo->currentText(), QStringLiteral("IR Fast"));
        w->ui().trackingButton->click();
        w->ui().captureButton->click();
        w->ui().actionLaser->trigger();
        QTest::qWait(300);
        QVERIFY(!sentSinceMark().contains(QStringLiteral("%R1Q,2020:3")));
    }

    void autoShowsNotImplemented()
    {
        ModalAnswer answer(clickButton(QMessageBox::Ok));
        w->ui().autoButton->click();
        QVERIFY(answer.done);
        QCOMPARE(answer.title, QStringLiteral("Not implemented"));
        QCOMPARE(answer.text, QStringLiteral("The control is not in use yet"));
        QTest::qWait(200);
        QVERIFY(sentSinceMark().isEmpty());
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
