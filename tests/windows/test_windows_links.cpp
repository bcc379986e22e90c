// Both links of the Windows build against the native tools that with-tools
// starts: the server link against the reference CAD server on loopback, and
// the instrument link on a COM port that wine maps to the simulator's
// pseudo-terminal. What wine's serial layer does not do (signal received
// bytes to an event-driven QSerialPort) is shown as an expected failure.

#include <QtTest>

#include <QFile>
#include <QSignalSpy>

#include <memory>

#include <QSerialPort>

#include "client.h"
#include "serialporthandler.h"

class TestWindowsLinks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerServerMetaTypes();
        registerInstrumentMetaTypes();
    }

    void serverLinkTalksToTheReferenceServer()
    {
        const quint16 port = quint16(qEnvironmentVariableIntValue("STADIOLINK_CADSERVER_PORT"));
        QVERIFY2(port != 0, "STADIOLINK_CADSERVER_PORT is not set (run under with-tools)");
        Client c(QStringLiteral("Stadiolink.exe"));
        QSignalSpy connected(&c, &Client::connected);
        QSignalSpy bases(&c, &Client::newBasePoint);
        QSignalSpy infos(&c, &Client::newInfoMeasurement);
        QSignalSpy accepted(&c, &Client::successSetSessionName);
        QVERIFY(c.connectToServer(QStringLiteral("127.0.0.1"), port));
        c.sendDevice(QStringLiteral("Съёмка"), QStringLiteral("G1"), QStringLiteral("TS16"));
        c.start();
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(bases.count(), 3, 20000);
        QCOMPARE(bases[2][0].value<MeasuringPoint>().pointName, QStringLiteral("B3"));
        QCOMPARE(bases[2][0].value<MeasuringPoint>().z, 22.5);

        c.sendSessionName(QStringLiteral("Съёмка"));
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 20000);
        c.setSessionName(QStringLiteral("Съёмка"));
        MeasuringPoint p;
        p.sessionName = QStringLiteral("Съёмка");
        p.groupName = QStringLiteral("G1");
        p.pointName = QStringLiteral("P7");
        p.x = 6512000.125;
        QVERIFY(c.sendPoint(p));
        QTRY_COMPARE_WITH_TIMEOUT(infos.count(), 1, 20000);
        QCOMPARE(infos[0], (QList<QVariant>{QStringLiteral("Съёмка"), QStringLiteral("G1"),
                                            QStringLiteral("P8"), QStringLiteral("TS16")}));
        c.stop();
    }

    void instrumentLinkTalksOverTheComPort()
    {
        const QString portName = qEnvironmentVariable("STADIOLINK_TEST_COM");
        const QString log = qEnvironmentVariable("STADIOLINK_SIM_LOG");
        QVERIFY2(!portName.isEmpty() && !log.isEmpty(), "run under with-tools --sim");
        SerialPortHandler link;
        // Stops the link's thread also when a check fails.
        const std::unique_ptr<SerialPortHandler, void (*)(SerialPortHandler *)> stopper(
            &link, [](SerialPortHandler *l) { if (l->isRunning()) l->stop(); });
        QSignalSpy replies(&link, &SerialPortHandler::responseReceived);
        PortSettings settings;
        settings.portName = portName;
        QVERIFY2(link.openPort(settings), qPrintable(link.errorString()));
        link.queueStartupRequests();
        link.start();

        // The start-up requests reach the instrument and its answers come
        // back through the link's blocking reads in its own thread.
        QTRY_VERIFY_WITH_TIMEOUT(received(log).contains("%R1Q,5004:"), 20000);
        QString name;
        QTRY_VERIFY_WITH_TIMEOUT(!(name = instrumentName(replies)).isEmpty(), 20000);
        QCOMPARE(name, QStringLiteral("\"TS16 R500 (simulated)\""));
    }

    // QSerialPort driven by the event loop waits for input with
    // WaitCommEvent, which wine does not signal for a COM port on a
    // pseudo-terminal: the request goes out, readyRead never comes.
    void eventDrivenPortGetsNoReadyReadUnderWine()
    {
        const QString log = qEnvironmentVariable("STADIOLINK_SIM_LOG");
        QSerialPort port(qEnvironmentVariable("STADIOLINK_TEST_COM"));
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QSignalSpy ready(&port, &QSerialPort::readyRead);
        port.write("%R1Q,5003:\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(received(log).contains("%R1Q,5003:"), 20000);
        QEXPECT_FAIL("", "wine signals no received bytes of a pseudo-terminal COM port", Continue);
        QVERIFY(ready.wait(3000));
    }

private:
    static QByteArray received(const QString &log)
    {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QString instrumentName(const QSignalSpy &replies)
    {
        for (const QList<QVariant> &r : replies) {
            const auto pair = r.at(0).value<QPair<RPC, QVariant>>();
            if (pair.first == CSV_GetInstrumentName)
                return pair.second.toString();
        }
        return QString();
    }
};

QTEST_GUILESS_MAIN(TestWindowsLinks)
#include "test_windows_links.moc"
