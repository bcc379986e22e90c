// Collecting unsent points from a season's observation journal.
//
// Generates a journal of N points (default 500 000) as a season of tracking
// leaves it: 150 days, the first 20 written by an earlier version (one file
// a day), then one driver run a day through the journal writer itself, a
// second driver on some days, every point sent and confirmed, links that
// dropped (points unsent, sent again and confirmed the next day, from the
// next day's file), points the operator skipped, and a day with the clock
// set back. Nothing is left unsent.
//
// Then, each in a process of its own, so that its peak memory is its own:
//  1. the first collection (no index yet: what an upgrade costs);
//  2. the steady state: collections with the index in place (target under
//     200 ms and 50 MB peak);
//  3. after today's run has added points (only the new lines are read);
//  4. with the operator's menu request (skipped points included).
// Memory: the process's peak resident set (VmHWM), before and after.
//   bench_journal [points, default 500000] [folder, default a temporary one]
//   bench_journal --collect FOLDER REPEATS SKIPPED   (one measuring process)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "journal.h"
#include "journalfiles.h"
#include "unsentpoints.h"

namespace {

// kB of a /proc/self/status line ("VmHWM", "VmRSS").
long statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

int collectMain(const QString &folder, int repeats, bool skipped)
{
    const long baseline = statusKb("VmHWM");
    std::vector<double> ms;
    UnsentPoints u;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        u = collectUnsentPoints(folder, {}, skipped);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    const long peak = statusKb("VmHWM");
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    std::printf("  collections %d: first %.1f ms, median %.1f ms, max %.1f ms; "
                "files read in full (last) %d; points offered %d, damaged lines %d\n",
                repeats, ms.front(), sorted[sorted.size() / 2], sorted.back(), u.filesReadInFull,
                u.points.size(), u.damaged.size());
    std::fflush(stdout);
    std::printf("  peak memory %.1f MB (process before collecting %.1f MB, +%.1f MB)\n", peak / 1024.0,
                baseline / 1024.0, (peak - baseline) / 1024.0);
    return 0;
}

MeasuringPoint named(int day, int n)
{
    MeasuringPoint p;
    p.sessionName = QStringLiteral("Season 2024 day %1").arg(day + 1);
    p.groupName = QStringLiteral("Track");
    p.pointName = QStringLiteral("T%1").arg(n, 5, 10, QLatin1Char('0'));
    // Coordinates of a stadium's tracked prism, in full precision.
    p.x = 104.25 + 37.0 * std::sin(n * 0.0137) + n * 1e-7;
    p.y = -52.125 + 61.0 * std::cos(n * 0.0113) - n * 3e-8;
    p.z = 1.487 + 0.013 * std::sin(n * 0.71);
    return p;
}

struct Generated {
    qint64 bytes = 0;
    int points = 0;
    int files = 0;
};

// A day of tracking by one run: a point a second from 8:00, each confirmed
// 300 ms later; `drop` points at the day's end are sent but unanswered
// (the link dropped), `skip` points are measured without a server and skipped.
struct Pending {
    QString id;
    MeasuringPoint names;
};

class Season
{
public:
    explicit Season(const QString &folder) : folder(folder) {}

    Generated generate(int total)
    {
        const int days = 150, legacyDays = 20;
        const int perDay = std::max(1, total / days);
        int made = 0;
        for (int day = 0; day < days; ++day) {
            const int count = day == days - 1 ? total - made : perDay;
            const QDate date = QDate(2024, 4, 1).addDays(day);
            if (day < legacyDays)
                legacyDay(date, day, count);
            else
                runDay(date, day, count);
            made += count;
        }
        Generated g;
        g.points = made;
        for (const QString &name : JournalFiles::list(folder)) {
            g.bytes += QFileInfo(QDir(folder).filePath(name)).size();
            ++g.files;
        }
        return g;
    }

private:
    // One file for the whole day, as an earlier version wrote it.
    void legacyDay(const QDate &date, int day, int count)
    {
        QFile f(QDir(folder).filePath(JournalFiles::fileName(date, QString())));
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(f.fileName()));
        QByteArray out = QByteArray("\xEF\xBB\xBF") + journalHeader().toUtf8() + "\r\n";
        const QString run = QStringLiteral("lu%1.2f3.1").arg(day, 2, 10, QLatin1Char('0'));
        QDateTime t(date, QTime(8, 0), Qt::LocalTime);
        for (int n = 0; n < count; ++n) {
            JournalRecord r;
            r.id = run + QLatin1Char('-') + QString::number(n + 1);
            r.timeUtc = t.toUTC();
            r.point = named(day, n);
            r.hzAngle = 0.8 + n * 1e-5;
            r.vAngle = 1.5707963267948966 - n * 1e-7;
            r.slopeDistance = 80.0 + n * 1e-4;
            r.edmMode = 2;
            r.state = JournalState::Sent;
            out += encodeJournalRecord(r);
            r.kind = JournalRecord::StateChange;
            r.timeUtc = t.addMSecs(300).toUTC();
            r.state = JournalState::Confirmed;
            out += encodeJournalRecord(r);
            t = t.addSecs(1);
        }
        f.write(out);
    }

    void runDay(const QDate &date, int day, int count)
    {
        QDateTime clock(date, QTime(8, 0), Qt::LocalTime);
        // Some days a second driver tracks a fifth of the points.
        const int second = day % 13 == 0 ? count / 5 : 0;
        const bool dropped = day % 7 == 0;
        const int skip = day % 11 == 0 ? 20 : 0;
        {
            Journal journal(folder);
            journal.setClock([&] { return clock.toUTC(); });
            // The points a dropped link left: sent again and confirmed now.
            for (const Pending &p : qAsConst(leftOver)) {
                journal.appendState(p.id, p.names, JournalState::Sent);
                clock = clock.addMSecs(50);
                journal.appendState(p.id, p.names, JournalState::Confirmed);
            }
            leftOver.clear();
            const int own = count - second;
            for (int n = 0; n < own; ++n) {
                const MeasuringPoint p = named(day, n);
                const bool lost = dropped && n >= own - 50;
                const bool alone = n < skip;
                const QString id = journal.appendPoint(p, 0.8 + n * 1e-5, 1.57 - n * 1e-7, 80.0 + n * 1e-4, 2,
                                                       alone ? JournalState::Unsent : JournalState::Sent);
                clock = clock.addMSecs(300);
                if (alone) {
                    skipped << Pending{id, p};
                } else if (lost) {
                    leftOver << Pending{id, p};
                } else {
                    journal.appendState(id, p, JournalState::Confirmed);
                }
                clock = clock.addMSecs(700);
                if (n == own / 2 && day == 60) {
                    // The clock set back across midnight for a while.
                    clock = clock.addDays(-1);
                }
                if (n == own / 2 + 200 && day == 60)
                    clock = clock.addDays(1);
            }
            for (const Pending &p : qAsConst(leftOver))
                journal.appendState(p.id, p.names, JournalState::Unsent); // the link ended
            for (const Pending &p : qAsConst(skipped))
                journal.appendState(p.id, p.names, JournalState::Skipped); // offered, skipped
            skipped.clear();
        }
        if (second) {
            QDateTime other(date, QTime(9, 0), Qt::LocalTime);
            Journal journal(folder);
            journal.setClock([&] { return other.toUTC(); });
            for (int n = 0; n < second; ++n) {
                const MeasuringPoint p = named(day, 50000 + n);
                const QString id = journal.appendPoint(p, 0.2, 1.5, 40.0 + n * 1e-3, 2, JournalState::Sent);
                other = other.addMSecs(250);
                journal.appendState(id, p, JournalState::Confirmed);
                other = other.addMSecs(750);
            }
        }
    }

    QString folder;
    QVector<Pending> leftOver, skipped;
};

int runChild(const QString &folder, int repeats, bool skipped)
{
    std::fflush(stdout);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--collect"), folder, QString::number(repeats),
                 skipped ? QStringLiteral("1") : QStringLiteral("0")});
    child.waitForFinished(-1);
    return child.exitCode();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--collect"))
        return collectMain(args.value(2), args.value(3).toInt(), args.value(4) == QLatin1String("1"));

    const int total = args.value(1, QStringLiteral("500000")).toInt();
    QTemporaryDir tmp;
    const QString folder = args.size() > 2 ? args.at(2) : tmp.path();
    QDir().mkpath(folder);
    if (!QDir(folder).entryList({QStringLiteral("journal-*")}, QDir::Files).isEmpty()) {
        std::fprintf(stderr, "%s already holds a journal\n", qPrintable(folder));
        return 2;
    }
    QElapsedTimer t;
    t.start();
    const Generated g = Season(folder).generate(total);
    std::printf("journal: %d points in %d files, %.1f MB (generated in %.1f s)\n", g.points, g.files,
                g.bytes / 1e6, t.elapsed() / 1000.0);

    std::printf("1. first collection, no index yet:\n");
    runChild(folder, 1, false);
    std::printf("2. steady state, index in place (target: under 200 ms, under 50 MB):\n");
    runChild(folder, 10, false);

    // Today's run, still running: its file grows between collections.
    {
        QDateTime clock(QDate(2024, 4, 1).addDays(150), QTime(8, 0), Qt::LocalTime);
        Journal journal(folder);
        journal.setClock([&] { return clock.toUTC(); });
        int n = 0;
        const auto track = [&](int count) {
            for (int end = n + count; n < end; ++n) {
                const MeasuringPoint p = named(150, n);
                const QString id = journal.appendPoint(p, 0.1, 1.5, 12.0, 2, JournalState::Sent);
                clock = clock.addSecs(1);
                journal.appendState(id, p, n % 100 == 0 ? JournalState::Unsent : JournalState::Confirmed);
            }
        };
        track(2000);
        std::printf("3. a running driver's new file of 2 000 points (20 unsent), read once:\n");
        runChild(folder, 1, false);
        track(2000);
        std::printf("   the same file grown by 2 000 points (20 unsent): only the new lines read:\n");
        runChild(folder, 1, false);
        std::printf("   then steady:\n");
        runChild(folder, 10, false);
    }
    std::printf("4. the menu's request, skipped points included:\n");
    runChild(folder, 10, true);
    return 0;
}
