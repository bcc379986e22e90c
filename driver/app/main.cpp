// Stadiolink: the total-station driver. The only command-line argument is
// the instrument's device name; --help and --version are answered without a
// window.

#include <QApplication>

#include "entry.h"
#include "localization.h"
#include "mainwindow.h"

int main(int argc, char *argv[])
{
    const CommandLine::Request request =
        CommandLine::request(CommandLine::systemArguments(argc, argv));
    if (request != CommandLine::Run)
        return CommandLine::answer(request, argc, argv);

    Localization::instance = new Localization;

#ifdef Q_OS_WIN
    // Per-process DPI awareness; must be set before the application object.
    qputenv("QT_QPA_PLATFORM", "windows:dpiawareness=1");
#endif

    QApplication app(argc, argv);
    // Names the folder of the observation journal, whatever the file name.
    QCoreApplication::setApplicationName(QStringLiteral("Stadiolink"));
    const QString deviceName = deviceNameFromArguments(QCoreApplication::arguments());

    int result = 0;
    {
        MainWindow window(deviceName);
        window.show();
        result = app.exec();

        // The windows outlive the language switch; it never touches them
        // while it is destroyed.
        delete Localization::instance;
        Localization::instance = nullptr;
    }
    return result;
}
