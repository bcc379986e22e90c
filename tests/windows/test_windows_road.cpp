// The measurement road of the Windows program under wine: the main window
// with the windows platform plug-in, the instrument on the COM port that
// with-tools maps to the native simulator (offered first in Settings through
// STADIOLINK_SERIAL_PORTS, as the system names ports) and the native
// reference CAD server: Connect, Measure, the point at the server and its
// line in the journal. With STADIOLINK_SIM_ADDRESS (with-tools --sim-tcp)
// the instrument is reached at that host:port instead.

#include <QtTest>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>

#include "journal.h"
#include "localization.h"
#include "mainwindow.h"
#include "settingsdialog.h"

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The fields of the server's CSV line for a point; empty until it is filed.
QStringList filed(const QString &csv, const QString &point)
{
    for (const QByteArray &line : readAll(csv).split('\n')) {
        const QStringList f = QString::fromUtf8(line).split(QLatin1Char(','));
        if (f.size() == 7 && f[2] == point)
            return f;
    }
    return {};
}
} // namespace

class TestWindowsRoad : public QObject
{
    Q_OBJECT

private slots:
    void connectMeasureAndFile()
    {
        const QString com = qEnvironmentVariable("STADIOLINK_SIM_ADDRESS",
                                                 qEnvironmentVariable("STADIOLINK_TEST_COM"));
        const QString csv = qEnvironmentVariable("STADIOLINK_CADSERVER_CSV");
        const int serverPort = qEnvironmentVariableIntValue("STADIOLINK_CADSERVER_PORT");
        QVERIFY2(!com.isEmpty() && !csv.isEmpty() && serverPort, "run under with-tools --cadserver --sim (or --sim-tcp)");
        qputenv(SettingsDialog::offeredPortsVariable, com.toLocal8Bit());

        Localization::instance = new Localization;
        QTemporaryDir journals;
        {
            MainWindow w(QStringLiteral("TS16"));
            w.journal()->setFolder(journals.path());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            Localization::instance->setLanguage(QStringLiteral("en"));
            QCOMPARE(w.settingsDialog()->portCombo()->currentText(), com);
            w.settingsDialog()->serverPortEdit()->setText(QString::number(serverPort));
            w.ui().sessionEdit->setText(QStringLiteral("Съёмка"));
            w.ui().groupEdit->setText(QStringLiteral("G1"));
            w.ui().pointNameEdit->setText(QStringLiteral("P1"));

            w.ui().actionConnect->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(w.ui().serialNumberLabel->text(),
                                      QStringLiteral("Serial number: 1234567"), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(w.ui().serverStatusLabel->text(),
                                      QStringLiteral("Connected to the server"), 20000);

            w.ui().measButton->click();
            // The simulator's first target lies at (10, 5, 1.2); the
            // instrument counts clockwise, so the driver's y is mirrored.
            QTRY_VERIFY_WITH_TIMEOUT(!filed(csv, QStringLiteral("P1")).isEmpty(), 20000);
            const QStringList p = filed(csv, QStringLiteral("P1"));
            QCOMPARE(p[0], QStringLiteral("Съёмка"));
            QCOMPARE(p[1], QStringLiteral("G1"));
            QCOMPARE(p[6], QStringLiteral("TS16"));
            QVERIFY2(qAbs(p[3].toDouble() - 10) < 1e-3 && qAbs(p[4].toDouble() + 5) < 1e-3
                         && qAbs(p[5].toDouble() - 1.2) < 1e-3,
                     qPrintable(p.join(QLatin1Char(','))));
            QTRY_COMPARE_WITH_TIMEOUT(w.ui().pointNameEdit->text(), QStringLiteral("P2"), 20000);
            QTRY_VERIFY(w.ui().logPane->toPlainText().contains(QStringLiteral("Съёмка / G1 / P1: x = 10.000")));

            const QString journal = w.journal()->currentFile();
            QVERIFY(journal.startsWith(journals.path()));
            QTRY_VERIFY_WITH_TIMEOUT(readAll(journal).contains(",confirmed\r\n"), 20000);
            QVERIFY(readAll(journal).contains(",Съёмка,G1,P1,"));

            w.ui().actionDisconnect->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!w.isClosing() && w.ui().actionConnect->isEnabled(), 20000);
        }
        delete Localization::instance;
        Localization::instance = nullptr;
    }
};

QTEST_MAIN(TestWindowsRoad)
#include "test_windows_road.moc"
