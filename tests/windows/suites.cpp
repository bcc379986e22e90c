// The Windows test program: `stadiolink-wintests SUITE [QtTest options]`
// runs one suite (the class name); without a known suite it lists them.
//
// QtTest on Windows writes its log to the debugger, not to standard output,
// unless the process has a console, which a test run under wine or by CI
// does not have. Without an -o option the suite runs in a child process
// that logs to a file, which is copied to standard output when it ends.

#include "suites.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {
std::map<std::string, SuiteMain> &suites()
{
    static std::map<std::string, SuiteMain> all;
    return all;
}
} // namespace

SuiteRegistration::SuiteRegistration(const char *name, SuiteMain run)
{
    suites()[name] = run;
}

int main(int argc, char **argv)
{
    const auto found = argc > 1 ? suites().find(argv[1]) : suites().end();
    if (found == suites().end()) {
        std::fprintf(stderr, "usage: %s SUITE [QtTest options]\nsuites:\n", argv[0]);
        for (const auto &s : suites())
            std::fprintf(stderr, "  %s\n", s.first.c_str());
        return 2;
    }
    // The suite sees the program's path and the options after its name.
    std::vector<char *> args(argv + 2, argv + argc);
    args.insert(args.begin(), argv[0]);
    bool logged = false;
    for (char *a : args)
        logged = logged || std::strcmp(a, "-o") == 0;
    if (logged) {
        const int argCount = int(args.size());
        args.push_back(nullptr);
        return found->second(argCount, args.data());
    }

    // Runs the suite again in a child process that logs to a file, and
    // copies the file to standard output when the child has ended, also
    // when it crashed.
    const QString logFile = QDir::toNativeSeparators(
        QDir::tempPath() + QStringLiteral("/stadiolink-wintests-%1-%2.txt")
                               .arg(QString::fromLatin1(argv[1]))
                               .arg(QCoreApplication::applicationPid()));
    QStringList childArgs{QString::fromLocal8Bit(argv[1])};
    for (int i = 2; i < argc; ++i)
        childArgs << QString::fromLocal8Bit(argv[i]);
    childArgs << QStringLiteral("-o") << logFile + QStringLiteral(",txt");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QString::fromLocal8Bit(argv[0]), childArgs);
    int result = 1;
    if (!child.waitForStarted(60000)) {
        std::fprintf(stderr, "%s: cannot start the suite: %s\n", argv[0],
                     qPrintable(child.errorString()));
    } else {
        child.waitForFinished(-1);
        result = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
    }
    QFile log(logFile);
    if (log.open(QIODevice::ReadOnly)) {
        const QByteArray text = log.readAll();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
        log.close();
        log.remove();
    }
    return result;
}
