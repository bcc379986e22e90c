#pragma once
// What the program takes from its command line.

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The instrument's device name: the first argument after the program path,
// exactly as passed (blanks included); empty when there is none. Further
// arguments are ignored.
QString deviceNameFromArguments(const QStringList &arguments);

// The requests a command-line launch can make instead of opening the window.
// Only the first argument is looked at: "--help", "-h", "-?" and "/?" ask for
// the help, "--version" for the version; any other first argument that
// begins with "-" is an unknown option. Everything else runs the program
// with that argument as the device name.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    enum Request { Run, Help, Version, UnknownOption };

    static Request request(const QStringList &arguments);

    // The program's arguments as the system hands them over, before any
    // application object exists: on Windows the wide command line split as
    // CommandLineToArgvW splits it (every character kept, whatever the ANSI
    // code page), elsewhere argv in the local encoding.
    static QStringList systemArguments(int argc, char **argv);

    // The texts printed for the requests (help and version on standard
    // output, the unknown option on standard error).
    static QString helpText();
    static QString versionText();
    static QString unknownOptionText(const QString &option);

    // Prints what the request asks for, in Russian when the system's
    // language is Russian and in English otherwise, and returns the exit
    // code: 0 for help and version, 2 for an unknown option. Needs no
    // display: it creates only a core application. On Windows the text goes
    // to the standard handle when the caller gave one (a pipe or a file:
    // UTF-8 with CR LF line ends), otherwise to the console the program was
    // started from (as wide characters, whatever its code page).
    static int answer(Request request, int &argc, char **argv);
};
