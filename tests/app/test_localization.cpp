// Language switching across the three top-level windows, the start in
// Russian and the device name taken from the command line.

#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QTranslator>

#include "basepoints.h"
#include "entry.h"
#include "localization.h"
#include "mainwindow.h"
#include "settingsdialog.h"

class TestLocalization : public QObject
{
    Q_OBJECT

    MainWindow *window = nullptr;

    SettingsDialog *settings() const { return window->findChild<SettingsDialog *>(); }
    BasePoints *basePoints() const { return window->findChild<BasePoints *>(); }
    template <typename T>
    T *child(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qWarning("no %s", name);
        return w;
    }

    void verifyRussian()
    {
        QCOMPARE(Localization::instance->language(), QStringLiteral("ru"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Драйвер Stadiolink"));
        QCOMPARE(settings()->windowTitle(), QStringLiteral("Настройки"));
        QCOMPARE(basePoints()->windowTitle(), QStringLiteral("Базовые точки"));
        QCOMPARE(child<QAction>("actionConnect")->text(), QStringLiteral("Подключить"));
        QCOMPARE(QCoreApplication::translate("SettingsDialog", "Parity:"),
                 QStringLiteral("Чётность:"));
    }
    void verifyEnglish()
    {
        QCOMPARE(Localization::instance->language(), QStringLiteral("en"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Stadiolink Driver"));
        QCOMPARE(settings()->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(basePoints()->windowTitle(), QStringLiteral("Base points"));
        QCOMPARE(child<QAction>("actionConnect")->text(), QStringLiteral("Connect"));
        // No translator is left behind: every context is English again.
        QCOMPARE(QCoreApplication::translate("SettingsDialog", "Parity:"),
                 QStringLiteral("Parity:"));
        QCOMPARE(QCoreApplication::translate("Client", "Session error"),
                 QStringLiteral("Session error"));
    }

private slots:
    void initTestCase()
    {
        Localization::instance = new Localization;
        window = new MainWindow(QString());
        QVERIFY(settings());
        QVERIFY(basePoints());
    }
    void cleanupTestCase()
    {
        delete Localization::instance;
        Localization::instance = nullptr;
        delete window;
    }

    void programStartsInRussian()
    {
        verifyRussian();
        QCOMPARE(child<QLineEdit>("deviceNameEdit")->text(), QString());
        QVERIFY(!child<QLineEdit>("deviceNameEdit")->isReadOnly());
    }

    void switchingBackAndForthRetranslatesEveryWindowEachTime()
    {
        for (int round = 0; round < 2; ++round) {
            Localization::instance->setLanguage(QStringLiteral("en"));
            verifyEnglish();
            Localization::instance->setLanguage(QStringLiteral("ru"));
            verifyRussian();
        }
        // Russian picked twice in a row still installs one translator: a
        // single switch to English clears every translation.
        Localization::instance->setLanguage(QStringLiteral("ru"));
        Localization::instance->setLanguage(QStringLiteral("ru"));
        verifyRussian();
        Localization::instance->setLanguage(QStringLiteral("en"));
        verifyEnglish();
        Localization::instance->setLanguage(QStringLiteral("en"));
        verifyEnglish();
    }

    void languageActionsSwitch()
    {
        child<QAction>("actionLanguageRu")->trigger();
        verifyRussian();
        QCOMPARE(child<QAction>("actionLanguageRu")->text(), QStringLiteral("Русский"));
        QCOMPARE(child<QAction>("actionLanguageEn")->text(), QStringLiteral("English"));
        child<QAction>("actionLanguageEn")->trigger();
        verifyEnglish();
        QCOMPARE(child<QAction>("actionLanguageRu")->text(), QStringLiteral("Русский"));
    }

    void anyOtherCodeMeansEnglish_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("German") << QStringLiteral("de");
        QTest::newRow("empty") << QString();
        QTest::newRow("upper case") << QStringLiteral("RU");
        QTest::newRow("region") << QStringLiteral("ru_RU");
    }
    void anyOtherCodeMeansEnglish()
    {
        QFETCH(QString, code);
        Localization::instance->setLanguage(QStringLiteral("ru"));
        Localization::instance->setLanguage(code);
        verifyEnglish();
    }

    void windowKeepsItsStateAcrossSwitches()
    {
        auto *edm = child<QComboBox>("edmModeCombo");
        edm->setCurrentIndex(2);   // "IR Fast"
        QSignalSpy activated(edm, QOverload<int>::of(&QComboBox::activated));
        auto *session = child<QLineEdit>("sessionEdit");
        session->setText(QStringLiteral("Site 7"));
        settings()->parityCombo()->setCurrentIndex(3);   // Mark

        Localization::instance->setLanguage(QStringLiteral("ru"));
        QCOMPARE(edm->currentIndex(), 2);
        QCOMPARE(edm->currentText(), QStringLiteral("Быстрый"));
        QCOMPARE(settings()->parityCombo()->currentText(), QStringLiteral("Маркер"));
        QCOMPARE(settings()->settings().parity, QSerialPort::MarkParity);
        Localization::instance->setLanguage(QStringLiteral("en"));
        QCOMPARE(edm->currentText(), QStringLiteral("IR Fast"));
        QCOMPARE(activated.count(), 0);
        QCOMPARE(session->text(), QStringLiteral("Site 7"));
        // Without an instrument link the read-outs show dashes.
        QCOMPARE(child<QLabel>("serialNumberLabel")->text(), QStringLiteral("Serial number: -"));
        QCOMPARE(child<QLabel>("deviceInfoLabel")->text(), QStringLiteral("Device Name: -"));
    }

    void missingCatalogueLeavesEnglish()
    {
        Localization::instance->setLanguage(QStringLiteral("en"));
        Q_CLEANUP_RESOURCE(stadiolink_translations);
        Localization::instance->setLanguage(QStringLiteral("ru"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Stadiolink Driver"));
        QCOMPARE(QCoreApplication::translate("SettingsDialog", "Parity:"),
                 QStringLiteral("Parity:"));
        Q_INIT_RESOURCE(stadiolink_translations);
        Localization::instance->setLanguage(QStringLiteral("ru"));
        verifyRussian();
    }

    void deviceNameIsTheFirstArgumentUnchanged()
    {
        const QString program = QStringLiteral("/opt/stadiolink/Stadiolink");
        QCOMPARE(deviceNameFromArguments({}), QString());
        QCOMPARE(deviceNameFromArguments({program}), QString());
        QCOMPARE(deviceNameFromArguments({program, QStringLiteral(" Leica TS 16 ")}),
                 QStringLiteral(" Leica TS 16 "));
        QCOMPARE(deviceNameFromArguments({program, QStringLiteral("TS16"), QStringLiteral("extra"),
                                          QStringLiteral("more")}),
                 QStringLiteral("TS16"));
        QCOMPARE(deviceNameFromArguments({program, QString(), QStringLiteral("TS16")}), QString());

        MainWindow named(deviceNameFromArguments({program, QStringLiteral("Leica TS 16")}));
        auto *edit = named.findChild<QLineEdit *>(QStringLiteral("deviceNameEdit"));
        QVERIFY(edit);
        QCOMPARE(edit->text(), QStringLiteral("Leica TS 16"));
        QVERIFY(edit->isReadOnly());
    }

    void helpAndVersionAreAnsweredWithoutAWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutHas");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("--help") << QStringList{"--help", "TS16"} << 0 << "Usage: Stadiolink [DEVICE NAME]" << "";
        QTest::newRow("/?") << QStringList{"/?"} << 0 << "STADIOLINK_SERIAL_PORTS" << "";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "Stadiolink 1.0 (Qt 5." << "";
        QTest::newRow("unknown") << QStringList{"--verison"} << 2 << "" << "unknown option --verison";
    }
    void helpAndVersionAreAnsweredWithoutAWindow()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutHas);
        QFETCH(QString, stderrHas);
        // No display at all: opening a window would end the program with an error.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(qEnvironmentVariable("STADIOLINK_BIN_DIR") + QStringLiteral("/driver/app/Stadiolink"), arguments);
        QVERIFY(app.waitForFinished(60000));
        const QString out = QString::fromUtf8(app.readAllStandardOutput());
        const QString err = QString::fromUtf8(app.readAllStandardError());
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QVERIFY2(app.exitCode() == exitCode, qPrintable(out + err));
        QVERIFY2(out.contains(stdoutHas) && (stdoutHas.isEmpty() || err.isEmpty()), qPrintable(out + err));
        QVERIFY2(err.contains(stderrHas) && (stderrHas.isEmpty() || out.isEmpty()), qPrintable(out + err));
    }

    // Help > About shows the version that --version prints.
    void aboutShowsTheVersionOfTheCommandLine()
    {
        QProcess app;
        app.start(qEnvironmentVariable("STADIOLINK_BIN_DIR") + QStringLiteral("/driver/app/Stadiolink"),
                  {QStringLiteral("--version")});
        QVERIFY(app.waitForFinished(60000));
        const QString version = QString::fromUtf8(app.readAllStandardOutput()).trimmed();
        QVERIFY2(version.startsWith(QStringLiteral("Stadiolink ")), qPrintable(version));
        QString text;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                text = box->text();
                box->accept();
            }
        });
        poll.start(20);
        child<QAction>("actionAbout")->trigger();
        QVERIFY2(text.endsWith(QStringLiteral("\n\n") + version), qPrintable(text));
    }

    void onlyAFirstArgumentThatLooksLikeAnOptionIsOne()
    {
        const QString program = QStringLiteral("Stadiolink");
        QCOMPARE(CommandLine::request({program}), CommandLine::Run);
        QCOMPARE(CommandLine::request({program, "TS16 --help"}), CommandLine::Run);
        QCOMPARE(CommandLine::request({program, "TS16", "--help"}), CommandLine::Run);
        QCOMPARE(CommandLine::request({program, "-h"}), CommandLine::Help);
        QCOMPARE(CommandLine::request({program, "-?"}), CommandLine::Help);
        QCOMPARE(CommandLine::request({program, "--version", "TS16"}), CommandLine::Version);
        QCOMPARE(CommandLine::request({program, "-"}), CommandLine::UnknownOption);
        QCOMPARE(CommandLine::request({program, ""}), CommandLine::Run);
        // The Russian help keeps the separator's place.
        QTranslator russian;
        QVERIFY(russian.load(QStringLiteral(":/translations/Stadiolink_ru.qm")));
        QCoreApplication::installTranslator(&russian);
        const QString help = CommandLine::helpText();
        QCoreApplication::removeTranslator(&russian);
        QVERIFY2(help.startsWith(QStringLiteral("Использование")) && help.contains(QStringLiteral("\":\"")),
                 qPrintable(help));
    }
};

QTEST_MAIN(TestLocalization)
#include "test_localization.moc"
