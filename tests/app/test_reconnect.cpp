// The server link coming back by itself while the instrument stays linked:
// a server that closes, resets, refuses or hangs, restarted on the same
// port; the tries, the Reconnect action, Disconnect and the window's end.

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include "basepoints.h"
#include "basepointstable.h"
#include "mainwindow.h"
#include "serialporthandler.h"
#include "test_mainwindow_support.h"

namespace {

const QString reconnecting = QStringLiteral("Reconnecting to the server");

std::function<void(QWidget *)> clickText(const QString &text)
{
    return [text](QWidget *w) {
        for (QAbstractButton *b : qobject_cast<QMessageBox *>(w)->buttons())
            if (b->text() == text)
                return b->click();
    };
}

// Settings, names S / G / P1 and the tries' delays; Connect.
void connectWindow(MainWindow &w, Instrument &sim, ScriptServer &server, const QVector<int> &delays)
{
    chooseLinks(w, sim.portName(), server.port());
    w.setReconnectDelays(delays);
    w.ui().sessionEdit->setText(QStringLiteral("S"));
    w.ui().groupEdit->setText(QStringLiteral("G"));
    w.ui().pointNameEdit->setText(QStringLiteral("P1"));
    w.ui().actionConnect->trigger();
}

void measureOffline(MainWindow &w, const char *next)
{
    QTRY_VERIFY(w.ui().measButton->isEnabled());
    w.ui().measButton->click();
    QTRY_COMPARE(w.ui().pointNameEdit->text(), QString::fromUtf8(next));
}

} // namespace

class TestReconnect : public QObject
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

    void lostServerComesBackByItself_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("closed") << false;
        QTest::newRow("reset") << true;
    }

    // One box for the loss; the points measured meanwhile get names of their
    // own, the tries (refused, then closed before the greeting) say nothing,
    // and when the server greets again they are offered and sent.
    void lostServerComesBackByItself()
    {
        QFETCH(bool, reset);
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        server.nextPointName = QStringLiteral("P2");
        MainWindow w;
        connectWindow(w, sim, server, {50});
        QTRY_VERIFY(w.ui().serverStatusLabel->isEnabled());
        server.sendBasePoint(QStringLiteral("BP1"), 1, 2, 3);
        QTRY_COMPARE(w.basePointsDialog()->table()->rows.size(), 1);
        w.ui().measButton->click();
        QTRY_COMPARE(w.ui().pointNameEdit->text(), QStringLiteral("P2"));
        QVERIFY(!w.ui().actionReconnect->isEnabled());

        {
            ModalAnswer lost(clickButton(QMessageBox::Ok));
            server.goAway(reset);
            QTRY_VERIFY(lost.done);
            QCOMPARE(lost.title, QStringLiteral("Network information"));
        }
        QTRY_VERIFY(w.isReconnecting() && w.ui().actionReconnect->isEnabled());
        QVERIFY(w.ui().serverStatusLabel->text().startsWith(reconnecting));
        measureOffline(w, "P3");
        measureOffline(w, "P4");
        QVERIFY(server.ofType(3).size() == 1);

        server.dropConnections = true;
        QVERIFY(server.comeBack());
        QTRY_VERIFY(server.connections >= 4);
        {
            ModalAnswer offer(clickText(QStringLiteral("Send")));
            server.dropConnections = false;
            QTRY_VERIFY(offer.done);
            QVERIFY2(offer.text.contains(QStringLiteral("\nS / G / P2, measured "))
                         && offer.text.contains(QStringLiteral("\nS / G / P3, measured ")),
                     qPrintable(offer.text));
        }
        QTRY_COMPARE(server.ofType(3).size(), 3);
        QCOMPARE(server.ofType(3).at(1).texts, QStringList({"S", "G", "P2"}));
        QCOMPARE(server.ofType(3).at(2).texts, QStringList({"S", "G", "P3"}));
        QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
        QVERIFY(!w.isReconnecting() && !w.ui().actionReconnect->isEnabled());
        QVERIFY(logText(w).contains(QStringLiteral("Connected to the server again")));

        // The base points sent again on the new connection are not doubled.
        server.sendBasePoint(QStringLiteral("BP1"), 1, 2, 3);
        server.sendBasePoint(QStringLiteral("BP2"), 4, 5, 6);
        QTRY_COMPARE(w.basePointsDialog()->table()->rows.size(), 2);
        w.ui().actionDisconnect->trigger();
        QTRY_VERIFY(!w.isClosing());
    }

    // A server not there at Connect: one box, then the tries. Reconnect makes
    // one at once, without touching the instrument; Measure during a try
    // that the server does not greet measures into the journal. The delays
    // come in turn, the last repeating, until Disconnect.
    void connectFailureReconnectAndDisconnect()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        server.goAway();
        MainWindow w;
        {
            ModalAnswer refused(clickButton(QMessageBox::Ok));
            connectWindow(w, sim, server, {3600 * 1000});
            QTRY_VERIFY(refused.done);
            QCOMPARE(refused.text, QStringLiteral("Couldn't connect to the server"));
        }
        QTRY_VERIFY(w.ui().serverStatusLabel->text().startsWith(reconnecting + QStringLiteral(": next try at ")));
        QVERIFY(w.ui().serverStatusLabel->toolTip().contains(QStringLiteral("Connection rejected")));
        SerialPortHandler *instrument = w.serialLink();

        server.greet = false;
        QVERIFY(server.comeBack());
        w.ui().actionReconnect->trigger();
        QTRY_COMPARE(server.connections, 1);
        QCOMPARE(w.ui().serverStatusLabel->text(), reconnecting + QStringLiteral(" ..."));
        w.ui().sessionEdit->setText(QStringLiteral("S2"));
        measureOffline(w, "P2");
        QTRY_VERIFY(logText(w).contains(QStringLiteral("S2 / G / P1: x = ")));
        QVERIFY(server.ofType(3).isEmpty() && server.ofType(4).isEmpty());

        server.greet = true;   // Reconnect gives up the hanging try
        {
            ModalAnswer offer(clickText(QStringLiteral("Later")));
            w.ui().actionReconnect->trigger();
            QTRY_VERIFY(offer.done);
            QVERIFY2(offer.text.contains(QStringLiteral("\nS2 / G / P1, measured ")), qPrintable(offer.text));
        }
        QCOMPARE(server.connections, 2);
        QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
        QVERIFY(w.serialLink() == instrument && instrument->isRunning());

        w.setReconnectDelays({20, 3600 * 1000});
        server.dropConnections = true;
        {
            ModalAnswer lost(clickButton(QMessageBox::Ok));
            server.closeConnection();
            QTRY_VERIFY(lost.done);
        }
        QTRY_COMPARE(server.connections, 3);
        QTRY_VERIFY(w.ui().serverStatusLabel->text().startsWith(reconnecting + QStringLiteral(": next try at ")));
        QTest::qWait(300);
        QCOMPARE(server.connections, 3);
        w.setReconnectDelays({20});
        w.ui().actionReconnect->trigger();
        QTRY_VERIFY(server.connections > 6);
        w.ui().actionDisconnect->trigger();
        QTRY_VERIFY(!w.isClosing());
        QVERIFY(!w.isReconnecting() && !w.serverLink() && !w.ui().actionReconnect->isEnabled());
        const int tried = server.connections;
        QTest::qWait(300);
        QCOMPARE(server.connections, tried);
        QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("There is no connection to the server"));
    }

    // Closing the window while a try waits for a server that never greets
    // does not wait for the try.
    void closingTheWindowDoesNotWaitForATry()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        server.dropConnections = true;
        std::unique_ptr<MainWindow> w(new MainWindow);
        {
            ModalAnswer lost(clickButton(QMessageBox::Ok));
            connectWindow(*w, sim, server, {20});
            QTRY_VERIFY(lost.done);
        }
        server.greet = false;
        server.dropConnections = false;
        QTRY_COMPARE(w->ui().serverStatusLabel->text(), reconnecting + QStringLiteral(" ..."));
        QTRY_VERIFY(server.isConnected());
        QElapsedTimer t;
        t.start();
        w.reset();
        QVERIFY2(t.elapsed() < 1500, qPrintable(QString::number(t.elapsed())));
        QTRY_VERIFY(!server.isConnected());
    }
};

QTEST_MAIN(TestReconnect)
#include "test_reconnect.moc"
