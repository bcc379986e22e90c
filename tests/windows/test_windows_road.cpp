// The measurement road of the Windows program under wine: the main window
// with the windows platform plug-in, in Russian as the program starts, the
// instrument reached through the network transport at the native
// simulator's host:port (with-tools --sim-tcp; offered first in Settings
// through STADIOLINK_SERIAL_PORTS) and the native reference CAD server:
// Connect, Measure, the point at the server and its line in the journal;
// then the connected window in English. With STADIOLINK_SCREENSHOT_DIR set
// it saves the screen after the point, in both languages.

#include <QtTest>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QScreen>
#include <QStatusBar>
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

// The whole screen, once the window's passing status message is gone.
void saveScreen(MainWindow *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("STADIOLINK_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(w->statusBar()->currentMessage().isEmpty(), 20000);
    QCoreApplication::processEvents();
    QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(dir).filePath(name)));
}
} // namespace

class TestWindowsRoad : public QObject
{
    Q_OBJECT

private slots:
    void connectMeasureAndFile()
    {
        const QString address = qEnvironmentVariable("STADIOLINK_SIM_ADDRESS");
        const QString csv = qEnvironmentVariable("STADIOLINK_CADSERVER_CSV");
        const int serverPort = qEnvironmentVariableIntValue("STADIOLINK_CADSERVER_PORT");
        QVERIFY2(!address.isEmpty() && !csv.isEmpty() && serverPort, "run under with-tools --cadserver --sim-tcp");
        qputenv(SettingsDialog::offeredPortsVariable, address.toLocal8Bit());

        Localization::instance = new Localization;
        QTemporaryDir journals;
        {
            MainWindow w(QStringLiteral("TS16"));
            w.journal()->setFolder(journals.path());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.settingsDialog()->portCombo()->currentText(), address);
            w.settingsDialog()->serverPortEdit()->setText(QString::number(serverPort));
            w.ui().sessionEdit->setText(QStringLiteral("Съёмка"));
            w.ui().groupEdit->setText(QStringLiteral("G1"));
            w.ui().pointNameEdit->setText(QStringLiteral("P1"));

            w.ui().actionConnect->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(w.ui().serialNumberLabel->text(),
                                      QStringLiteral("Серийный номер: 1234567"), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(w.ui().serverStatusLabel->text(),
                                      QStringLiteral("Подключено к серверу"), 20000);

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
            // The window's own polls come back over the network too.
            QTRY_VERIFY_WITH_TIMEOUT(!w.ui().xEdit->text().isEmpty() && !w.ui().yEdit->text().isEmpty(), 20000);
            saveScreen(&w, QStringLiteral("windows_ru.png"));

            // Connected, in the other language: the state is named anew.
            w.ui().actionLanguageEn->trigger();
            QCOMPARE(w.ui().serialNumberLabel->text(), QStringLiteral("Serial number: 1234567"));
            QCOMPARE(w.ui().serverStatusLabel->text(), QStringLiteral("Connected to the server"));
            QTRY_VERIFY_WITH_TIMEOUT(w.ui().temperatureLabel->text().startsWith(QStringLiteral("Device temperature: 21.3")),
                                     20000);
            saveScreen(&w, QStringLiteral("windows_en.png"));

            w.ui().actionDisconnect->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!w.isClosing() && w.ui().actionConnect->isEnabled(), 20000);
        }
        delete Localization::instance;
        Localization::instance = nullptr;
    }
};

QTEST_MAIN(TestWindowsRoad)
#include "test_windows_road.moc"
