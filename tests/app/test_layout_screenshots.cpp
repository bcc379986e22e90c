// Takes the README's screenshots: the main window and the settings dialog,
// in Russian and in English, written as PNG files into the folder given as
// the only argument. Run through scripts/screenshots (under xvfb).

#include <QApplication>
#include <QDir>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>

#include "localization.h"
#include "mainwindow.h"
#include "settingsdialog.h"

namespace {

bool shoot(QWidget *w, const QString &path)
{
    w->show();
    w->raise();
    if (!QTest::qWaitForWindowExposed(w, 5000)) {
        QTextStream(stderr) << "window not exposed: " << path << '\n';
        return false;
    }
    QTest::qWait(200);   // let the style and fonts settle
    if (!w->grab().save(path)) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        return false;
    }
    QTextStream(stdout) << path << '\n';
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    Localization::instance = new Localization;
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);

    bool ok = true;
    {
        MainWindow window(QStringLiteral("Leica TS16"));
        auto *settings = window.findChild<SettingsDialog *>();
        ok = settings != nullptr;
        for (const char *language : {"ru", "en"}) {
            if (!ok)
                break;
            Localization::instance->setLanguage(QString::fromLatin1(language));
            ok &= shoot(&window, QDir(dir).filePath(QStringLiteral("mainwindow_%1.png").arg(language)));
            ok &= shoot(settings, QDir(dir).filePath(QStringLiteral("settings_%1.png").arg(language)));
            settings->hide();
        }
        delete Localization::instance;
        Localization::instance = nullptr;
    }
    return ok ? 0 : 1;
}
