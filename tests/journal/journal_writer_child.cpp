// Test helper: another driver's journal in a folder. Writes C1, handed to
// its server and waiting for the answer ("sent"), and C2, kept "unsent";
// says "ready" and runs until its standard input closes or it is killed.
// Argument: the journal folder.

#include <QCoreApplication>

#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "journal.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); // "ready\n" as on other systems
#endif
    if (argc < 2)
        return 2;
    Journal journal(QString::fromLocal8Bit(argv[1]));
    for (const char *name : {"C1", "C2"}) {
        MeasuringPoint p;
        p.sessionName = QStringLiteral("S");
        p.groupName = QStringLiteral("G");
        p.pointName = QString::fromLatin1(name);
        journal.appendPoint(p, 0, 0, 0, 0, name[1] == '1' ? JournalState::Sent : JournalState::Unsent);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char buf[64];
    while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
    }
    return 0;
}
