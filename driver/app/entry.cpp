#include "entry.h"

#include <QDir>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

#include "resources.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString deviceNameFromArguments(const QStringList &arguments)
{
    return arguments.size() < 2 ? QString() : arguments.at(1);
}

CommandLine::Request CommandLine::request(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return Run;
    const QString first = arguments.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("-?") || first == QLatin1String("/?"))
        return Help;
    if (first == QLatin1String("--version"))
        return Version;
    if (first.startsWith(QLatin1Char('-')))
        return UnknownOption;
    return Run;
}

QString CommandLine::helpText()
{
    return tr("Usage: Stadiolink [DEVICE NAME]\n"
              "       Stadiolink --help | --version\n"
              "\n"
              "Drives a motorised Leica total station over a serial port (GeoCOM) and sends\n"
              "the measured points to the Velmora CAD server over TCP.\n"
              "\n"
              "DEVICE NAME  the instrument's name, shown read-only in the window and sent to\n"
              "             the server; without it the name can be typed in the window.\n"
              "\n"
              "Options:\n"
              "  -h, --help  show this help and exit\n"
              "  --version   show the version and exit\n"
              "\n"
              "Environment:\n"
              "  STADIOLINK_SERIAL_PORTS  serial ports that Settings offers before the ports\n"
              "                           found, separated by \"%1\"; the first is chosen.\n")
        .arg(QDir::listSeparator());
}

QString CommandLine::versionText()
{
    return QStringLiteral("Stadiolink %1 (Qt %2)\n")
        .arg(QStringLiteral(STADIOLINK_VERSION), QString::fromLatin1(qVersion()));
}

QString CommandLine::unknownOptionText(const QString &option)
{
    return tr("Stadiolink: unknown option %1\nStadiolink --help lists the options.\n").arg(option);
}

int CommandLine::answer(Request request, int &argc, char **argv)
{
#ifdef Q_OS_WIN
    // A GUI-subsystem program has no console of its own; write to the one
    // it was started from, if any.
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
        SetConsoleOutputCP(CP_UTF8);
    }
#endif
    QCoreApplication app(argc, argv);
    stadiolinkInitResources();
    QTranslator russian;
    if (QLocale::system().language() == QLocale::Russian
        && russian.load(QStringLiteral(":/translations/Stadiolink_ru.qm")))
        QCoreApplication::installTranslator(&russian);

    const QStringList arguments = QCoreApplication::arguments();
    QString text;
    FILE *out = stdout;
    int code = 0;
    switch (request) {
    case Help: text = helpText(); break;
    case Version: text = versionText(); break;
    case UnknownOption:
        text = unknownOptionText(arguments.value(1));
        out = stderr;
        code = 2;
        break;
    case Run: return 0;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
    return code;
}
