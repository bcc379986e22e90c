// The main window with Qt's Windows platform plug-in under wine, as the
// program starts it: Russian at start, English on demand, and a layout that
// fits a 1366 x 768 screen with Windows' own dialog fonts.

#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

#include "localization.h"
#include "mainwindow.h"

namespace {
// Height of the Windows task bar at 96 dpi; the window must fit above it.
const int taskBarHeight = 40;
}

class TestWindowsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("windows"));
        // A prefix without Windows' dialog font falls back to whatever
        // font is there, whose metrics say nothing about Windows.
        const QString family = QFontInfo(QApplication::font()).family();
        QVERIFY2(family == QLatin1String("MS Shell Dlg 2") || family == QLatin1String("Tahoma")
                     || family == QLatin1String("Segoe UI"),
                 qPrintable(family));
        Localization::instance = new Localization;
    }
    void cleanupTestCase()
    {
        delete Localization::instance;
        Localization::instance = nullptr;
    }

    void startsInRussianAndSwitchesToEnglish()
    {
        MainWindow w(QStringLiteral("TS16 R500"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("Драйвер Stadiolink"));
        QCOMPARE(w.ui().deviceNameEdit->text(), QStringLiteral("TS16 R500"));
        w.ui().actionLanguageEn->trigger();
        QCOMPARE(w.windowTitle(), QStringLiteral("Stadiolink Driver"));
        QCOMPARE(w.ui().sessionLabel->text(), QStringLiteral("Session:"));
        w.ui().actionLanguageRu->trigger();
        QCOMPARE(w.windowTitle(), QStringLiteral("Драйвер Stadiolink"));
    }

    void fitsTheScreenWithFieldsOfNormalHeight_data()
    {
        QTest::addColumn<int>("points");
        QTest::newRow("Qt's Windows default") << 0;
        QTest::newRow("9 pt, Windows 10 and 11") << 9;
        QTest::newRow("10 pt") << 10;
    }
    void fitsTheScreenWithFieldsOfNormalHeight()
    {
        QFETCH(int, points);
        const QFont original = QApplication::font();
        if (points) {
            QFont f = original;
            f.setPointSize(points);
            QApplication::setFont(f);
        }
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QVERIFY2(screen.width() >= 1366 && screen.height() >= 768,
                 qPrintable(QStringLiteral("screen %1x%2").arg(screen.width()).arg(screen.height())));
        {
            MainWindow w(QStringLiteral("TS16"));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            for (const char *language : {"ru", "en"}) {
                Localization::instance->setLanguage(QString::fromLatin1(language));
                QCoreApplication::processEvents();
                const QRect frame = w.frameGeometry();
                QVERIFY2(frame.height() <= 768 - taskBarHeight && frame.width() <= 1366,
                         qPrintable(QStringLiteral("%1: frame %2x%3").arg(QLatin1String(language))
                                        .arg(frame.width()).arg(frame.height())));
                const auto fields = w.findChildren<QLineEdit *>() ;
                QVERIFY(fields.size() >= 7);
                for (QWidget *field : fields) {
                    if (!field->isVisible() || qobject_cast<QComboBox *>(field->parentWidget()))
                        continue;
                    const int text = field->fontMetrics().height();
                    QVERIFY2(field->height() >= text && field->height() <= text + 12,
                             qPrintable(QStringLiteral("%1: %2 px for %3 px text")
                                            .arg(field->objectName()).arg(field->height()).arg(text)));
                }
                QComboBox *edm = w.ui().edmModeCombo;
                QVERIFY(edm->height() <= edm->fontMetrics().height() + 14);
            }
        }
        QApplication::setFont(original);
    }
};

QTEST_MAIN(TestWindowsWindow)
#include "test_windows_window.moc"
