// The observation journal: its CSV lines, the per-day files, the disk sync
// and the collection of unsent points.

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

#include <condition_variable>
#include <future>
#include <mutex>

#include "disksync.h"
#include "journal.h"
#include "unsentpoints.h"

namespace {

MeasuringPoint named(const char *session, const char *point)
{
    MeasuringPoint p;
    p.sessionName = QString::fromUtf8(session);
    p.groupName = QStringLiteral("G");
    p.pointName = QString::fromUtf8(point);
    return p;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void appendRaw(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
    f.write(bytes);
}

QStringList names(const UnsentPoints &u)
{
    QStringList n;
    for (const JournalRecord &r : u.points)
        n << r.point.pointName;
    return n;
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void recordSurvivesTheRoundTrip()
    {
        JournalRecord r;
        r.id = QStringLiteral("k1.2-3");
        r.timeUtc = QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0, 123), Qt::UTC);
        r.point = named("Съёмка, \"север\"", "a\r\nb");
        r.hzAngle = 1.069995191213058;
        r.slopeDistance = 123.45678;
        r.edmMode = 14;
        r.point.x = -0.1 + 0.2;   // not exactly 0.1
        r.point.y = 1e-9;
        r.state = JournalState::Sent;
        const QByteArray line = encodeJournalRecord(r);
        QCOMPARE(line.count('\n'), 1);   // one record, one line
        QVERIFY(!line.contains("e-"));   // no exponent form for a spreadsheet

        JournalRecord back;
        QVERIFY(decodeJournalRecord(line, &back));
        QCOMPARE(back.timeUtc, r.timeUtc);
        QCOMPARE(back.point.sessionName, r.point.sessionName);
        QCOMPARE(back.point.pointName, QStringLiteral("a  b"));
        // Exact doubles: a point sent again carries its measured values.
        QVERIFY(back.hzAngle == r.hzAngle && back.slopeDistance == r.slopeDistance);
        QVERIFY(back.point.x == r.point.x && back.point.y == r.point.y);
        QCOMPARE(back.edmMode, 14);
        QCOMPARE(back.state, JournalState::Sent);
    }

    void damagedLinesAreRefused()
    {
        const QByteArray good = "point,a-1,2024-05-01T10:00:00.000Z,S,G,P,1,1.5,10,2,1,2,3,sent";
        JournalRecord r;
        QVERIFY(decodeJournalRecord(good, &r));
        for (const QByteArray &bad :
             {good.left(good.size() - 9), good + ",x", QByteArray(good).replace("sent", "lost"),
              QByteArray(good).replace(",1.5,", ",1,5,"), QByteArray(good).replace("a-1", ""),
              QByteArray(good).replace(",S,", ",\"S,"), QByteArray(good).replace(",S,", ",S\"x,")})
            QVERIFY2(!decodeJournalRecord(bad, &r), bad.constData());
    }

    void linesGoToOneFilePerDay()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("a/b"));   // created when missing
        Journal journal(folder);
        QDateTime clock(QDate(2024, 5, 1), QTime(12, 0), Qt::LocalTime);
        journal.setClock([&] { return clock.toUTC(); });
        const QString id = journal.appendPoint(named("S", "P1"), 1, 2, 3, 2, JournalState::Sent);
        journal.appendState(id, named("S", "P1"), JournalState::Confirmed);
        const QString day1 = journal.fileFor(QDate(2024, 5, 1));
        // Each line reached the operating system at once, below one header.
        QVERIFY(readAll(day1).startsWith("\xEF\xBB\xBF" + journalHeader().toUtf8() + "\r\n"));
        QCOMPARE(readAll(day1).count('\n'), 3);

        clock = clock.addDays(1);
        QVERIFY(journal.appendPoint(named("S", "P2"), 0, 0, 0, 0, JournalState::Unsent) != id);
        QCOMPARE(journal.currentFile(), journal.fileFor(QDate(2024, 5, 2)));
        journal.setFolder(folder);   // closes the file
        appendRaw(journal.fileFor(QDate(2024, 5, 2)), "point,x-9,2024-05-02T10:0");   // power cut
        // A later run appends below: no second header, the cut line stays alone.
        Journal later(folder);
        later.setClock([&] { return clock.toUTC(); });
        later.appendPoint(named("S", "P3"), 0, 0, 0, 0, JournalState::Unsent);
        const QByteArray day2 = readAll(journal.fileFor(QDate(2024, 5, 2)));
        QCOMPARE(day2.count("record,"), 1);

        const UnsentPoints u = collectUnsentPoints(folder, {}, false);
        QCOMPARE(names(u), QStringList({"P2", "P3"}));
        QCOMPARE(u.damaged.size(), 1);
        QVERIFY(u.damaged.first().contains(QStringLiteral("line 3")));
    }

    void unsentPointsInMeasuringOrder()
    {
        QTemporaryDir dir;
        Journal journal(dir.path());
        QDateTime clock(QDate(2024, 5, 1), QTime(12, 0), Qt::LocalTime);
        journal.setClock([&] { return clock.toUTC(); });
        auto add = [&](const char *session, const char *point, JournalState s) {
            return journal.appendPoint(named(session, point), 0, 0, 0, 0, s);
        };
        const QString a = add("S1", "A", JournalState::Unsent);
        add("S1", "B", JournalState::Sent);   // the run ended unanswered
        const QString c = add("S1", "C", JournalState::Sent);
        journal.appendState(c, named("S1", "C"), JournalState::Confirmed);
        clock = clock.addDays(1);
        const QString d = add("S2", "D", JournalState::Unsent);
        journal.appendState(d, named("S2", "D"), JournalState::Skipped);
        add("S2", "E", JournalState::Unsent);
        // A's later fate is in the next day's file.
        journal.appendState(a, named("S1", "A"), JournalState::Sent);
        journal.appendState(a, named("S1", "A"), JournalState::Confirmed);
        const QString f = add("S3", "F", JournalState::Sent);   // in flight now

        const QString e2 = add("S2", "E", JournalState::Sent);   // E measured again
        journal.appendState(e2, named("S2", "E"), JournalState::Confirmed);
        add("S3", "B", JournalState::Sent);   // same point name, other session
        journal.appendState(add("S1", "B", JournalState::Sent), named("S1", "B"), JournalState::Confirmed);

        UnsentPoints u = collectUnsentPoints(dir.path(), {f}, false);
        QCOMPARE(names(u), QStringList({"B", "E", "B"}));
        QCOMPARE(u.sessions(), QStringList({"S1", "S2", "S3"}));
        // Flagged: a name the journal holds for another point of its session and group.
        QCOMPARE(u.sharedNames.size(), 2);
        QVERIFY(u.sharedNames.contains(u.points[0].id) && u.sharedNames.contains(u.points[1].id));
        u = collectUnsentPoints(dir.path(), {}, true);
        QCOMPARE(names(u), QStringList({"B", "D", "E", "F", "B"}));
    }

    void stateBeforeItsPointStillCounts()
    {
        // The clock is set back a day: later lines go to an earlier file.
        QTemporaryDir dir;
        Journal journal(dir.path());
        QDateTime clock(QDate(2024, 5, 2), QTime(12, 0), Qt::LocalTime);
        journal.setClock([&] { return clock.toUTC(); });
        const QString p = journal.appendPoint(named("S", "P"), 0, 0, 0, 0, JournalState::Sent);
        const QString q = journal.appendPoint(named("S", "Q"), 0, 0, 0, 0, JournalState::Sent);
        const QString r = journal.appendPoint(named("S", "R"), 0, 0, 0, 0, JournalState::Unsent);
        clock = clock.addDays(-1);
        journal.appendState(p, named("S", "P"), JournalState::Confirmed);
        journal.appendState(q, named("S", "Q"), JournalState::Skipped);
        journal.appendState(r, named("S", "R"), JournalState::Skipped);
        clock = clock.addDays(1).addSecs(60);   // set right again
        journal.appendState(r, named("S", "R"), JournalState::Unsent);
        QCOMPARE(journal.currentFile(), journal.fileFor(QDate(2024, 5, 2)));

        QCOMPARE(names(collectUnsentPoints(dir.path(), {}, false)), QStringList({"R"}));
        QCOMPARE(names(collectUnsentPoints(dir.path(), {}, true)), QStringList({"Q", "R"}));
    }

    void dirtyFileIsSyncedOnce()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("x")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        DiskSync sync(20);
        sync.setDescriptor(f.handle());
        f.write("x");
        f.flush();
        sync.markDirty();
        QTRY_COMPARE_WITH_TIMEOUT(sync.syncCount(), 1, 10000);
        QTest::qWait(100);
        QCOMPARE(sync.syncCount(), 1);
        sync.setDescriptor(-1);
    }

    void handingOverNeverWaitsForTheDisk()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("x")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        std::mutex m;
        std::condition_variable cv;
        bool stalled = false, released = false;
        std::vector<bool> results; // whether each sync found its descriptor open
        DiskSync sync(20, [&](int fd) {
            std::unique_lock<std::mutex> lock(m);
            if (!released) {
                stalled = true;
                cv.notify_all();
                cv.wait(lock, [&] { return released; });
            }
            results.push_back(DiskSync::syncDescriptor(fd));
            return results.back();
        });
        auto release = [&] {
            std::lock_guard<std::mutex> lock(m);
            released = true;
            cv.notify_all();
        };
        sync.setDescriptor(f.handle());
        f.write("a");
        f.flush();
        sync.markDirty();
        {
            std::unique_lock<std::mutex> lock(m);
            QVERIFY(cv.wait_for(lock, std::chrono::seconds(20), [&] { return stalled; }));
        }
        // While the disk stalls: more data, then the file is handed back and closed.
        f.write("b");
        f.flush();
        sync.markDirty();
        auto handover = std::async(std::launch::async, [&] { sync.setDescriptor(-1); });
        const bool quick = handover.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        f.close();
        release();
        QVERIFY(quick);
        // The thread syncs its own duplicate, also after the writer closed the file.
        QTRY_COMPARE_WITH_TIMEOUT(sync.syncCount(), 2, 10000);
        std::lock_guard<std::mutex> lock(m);
        QCOMPARE(results, std::vector<bool>({true, true}));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
