#include "entry.h"

#include <QDir>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

#include "resources.h"

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

#ifdef Q_OS_WIN
// A GUI-subsystem program has no console of its own. When its caller
// redirected a standard handle it is set; otherwise the text goes to the
// console of the process that started it, if there is one.
void writeText(DWORD which, const QString &text)
{
    HANDLE out = GetStdHandle(which);
    HANDLE console = INVALID_HANDLE_VALUE;
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
            return; // no console to write to (ERROR_ACCESS_DENIED: attached already)
        console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
        if (console == INVALID_HANDLE_VALUE)
            return;
        out = console;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()),
                      &written, nullptr);
    } else {
        QString lines = text;
        lines.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        const QByteArray bytes = lines.toUtf8();
        WriteFile(out, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
    }
    if (console != INVALID_HANDLE_VALUE)
        CloseHandle(console);
}
#else
void writeText(FILE *out, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}
#endif

} // namespace

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

QStringList CommandLine::systemArguments(int argc, char **argv)
{
    QStringList arguments;
#ifdef Q_OS_WIN
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    int count = 0;
    if (LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments << QString::fromWCharArray(wide[i]);
        LocalFree(wide);
    }
#else
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
#endif
    return arguments;
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
    QCoreApplication app(argc, argv);
    stadiolinkInitResources();
    QTranslator russian;
    if (QLocale::system().language() == QLocale::Russian
        && russian.load(QStringLiteral(":/translations/Stadiolink_ru.qm")))
        QCoreApplication::installTranslator(&russian);

    const QStringList arguments = QCoreApplication::arguments();
    QString text;
    bool error = false;
    switch (request) {
    case Help: text = helpText(); break;
    case Version: text = versionText(); break;
    case UnknownOption:
        text = unknownOptionText(arguments.value(1));
        error = true;
        break;
    case Run: return 0;
    }
#ifdef Q_OS_WIN
    writeText(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, text);
#else
    writeText(error ? stderr : stdout, text);
#endif
    return error ? 2 : 0;
}
