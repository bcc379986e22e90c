// The observation journal: its CSV lines, the per-day files, the disk sync,
// two drivers in one folder, and the collection of unsent points with and
// without the index.

#include <QtTest>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <future>
#include <mutex>

#include "disksync.h"
#include "journal.h"
#include "journalindex.h"
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

// Everything a collection tells: "name:state" of each point in order ("*"
// when its names are shared), then the damaged lines without the folder.
QStringList outcome(const UnsentPoints &u, const QString &folder)
{
    QStringList out;
    for (const JournalRecord &r : u.points)
        out << r.point.pointName + QLatin1Char(':') + journalStateName(r.state)
                   + (u.sharedNames.contains(r.id) ? QStringLiteral("*") : QString());
    for (QString line : u.damaged) // "/" also where the text names the file with "\"
        out << QDir::fromNativeSeparators(line.remove(QDir::toNativeSeparators(folder)));
    return out;
}

// The outcome of reading the folder's journal files with no index at all.
QStringList readAfresh(const QString &folder)
{
    QTemporaryDir copy;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("journal-*.csv")}, QDir::Files))
        QFile::copy(QDir(folder).filePath(name), copy.filePath(name));
    return outcome(collectUnsentPoints(copy.path(), {}, true), copy.path());
}

void rewrite(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
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
        // Reopened, the journal appends below: no second header, the cut line stays alone.
        journal.appendPoint(named("S", "P3"), 0, 0, 0, 0, JournalState::Unsent);
        const QByteArray day2 = readAll(journal.fileFor(QDate(2024, 5, 2)));
        QCOMPARE(day2.count("record,"), 1);
        // A later run writes a file of its own, read after the earlier run's.
        Journal later(folder);
        later.setClock([&] { return clock.toUTC(); });
        later.appendPoint(named("S", "P4"), 0, 0, 0, 0, JournalState::Unsent);
        QVERIFY(later.currentFile() != journal.currentFile());
        QVERIFY(QFileInfo(later.currentFile()).fileName().startsWith(QStringLiteral("journal-2024-05-02-")));

        const UnsentPoints u = collectUnsentPoints(folder, {}, false);
        QCOMPARE(names(u), QStringList({"P2", "P3", "P4"}));
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

    void twoDriversKeepApart();
    void indexAgreesWithReading();
    void failedSyncIsReportedOnce();
};

void TestJournal::twoDriversKeepApart()
{
    QTemporaryDir dir;
    QProcess other;
    other.start(QCoreApplication::applicationDirPath() + QStringLiteral("/journal_writer_child"), {dir.path()});
    QVERIFY(other.waitForStarted(10000));
    QByteArray said;
    while (!said.contains('\n') && other.waitForReadyRead(20000))
        said += other.readAllStandardOutput();
    QCOMPARE(said, QByteArray("ready\n"));
    Journal mine(dir.path());
    mine.appendPoint(named("S", "M1"), 0, 0, 0, 0, JournalState::Sent);
    mine.appendPoint(named("S", "M2"), 0, 0, 0, 0, JournalState::Unsent);

    // Never one file for both.
    for (const QString &name : QDir(dir.path()).entryList({QStringLiteral("journal-*.csv")})) {
        const QByteArray bytes = readAll(dir.filePath(name));
        QVERIFY2(!(bytes.contains(",C1,") && bytes.contains(",M1,")), qPrintable(name));
    }
    const auto offered = [&] {
        QStringList n = names(collectUnsentPoints(dir.path(), {}, false));
        n.sort();
        return n;
    };
    // C1 waits for the other driver's server; this driver's own "sent" M1
    // is not in flight here (it would be passed in).
    QCOMPARE(offered(), QStringList({"C2", "M1", "M2"}));
    other.kill();   // crashed: its lock is stale, its points are offered
    QVERIFY(other.waitForFinished(10000));
    QCOMPARE(offered(), QStringList({"C1", "C2", "M1", "M2"}));
}

void TestJournal::indexAgreesWithReading()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    const QByteArray header = "\xEF\xBB\xBF" + journalHeader().toUtf8() + "\r\n";
    const QByteArray b = "point,old-2,2024-04-30T10:00:01.000Z,S,G,B,1,1.5,10,2,1,2,3,sent\r\n";
    const QByteArray eleven = QDateTime(QDate(2024, 4, 30), QTime(11, 0), Qt::LocalTime)
                                  .toUTC().toString(Qt::ISODateWithMs).toUtf8();
    // An earlier version's day file, and a file holding B's line again.
    appendRaw(dir.filePath(QStringLiteral("journal-2024-04-30.csv")),
              header + "point,old-1,2024-04-30T10:00:00.000Z,S,G,A,1,1.5,10,2,1,2,3,unsent\r\n"
                  + "point,old-3,2024-04-30T10:00:00.500Z,S,G,C,1,1.5,10,2,1,2,3,sent\r\n" + b
                  + "state,old-2,2024-04-30T10:00:02.000Z,S,G,B,,,,,,,,confirmed\r\n"
                  + "state,old-3," + eleven + ",S,G,C,,,,,,,,unsent\r\ngarbage\r\n");
    appendRaw(dir.filePath(QStringLiteral("journal-2024-05-02.csv")), header + b);
    Journal journal(folder);
    QDateTime clock(QDate(2024, 5, 1), QTime(12, 0), Qt::LocalTime);
    journal.setClock([&] {
        clock = clock.addSecs(1);
        return clock.toUTC();
    });
    // Confirmed points around P: it lies in the middle of a file of 14 kB.
    const auto confirmedPoints = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const MeasuringPoint f = named("S", "F");
            journal.appendState(journal.appendPoint(f, 0, 0, 0, 0, JournalState::Sent), f, JournalState::Confirmed);
        }
    };
    confirmedPoints(40);
    const QString p = journal.appendPoint(named("S", "P"), 0, 0, 0, 0, JournalState::Sent);
    confirmedPoints(40);
    const QString q = journal.appendPoint(named("S", "Q"), 0, 0, 0, 0, JournalState::Unsent);
    journal.appendPoint(named("S", "A"), 0, 0, 0, 0, JournalState::Unsent);
    journal.appendState(QStringLiteral("old-1"), named("S", "A"), JournalState::Sent);   // sent again
    // The clock set back a day, then two hours more: these lines go to an
    // earlier day's file, and C's last one is older than its line at 11:00.
    clock = clock.addDays(-1);
    journal.appendState(q, named("S", "Q"), JournalState::Skipped);
    journal.appendState(QStringLiteral("old-3"), named("S", "C"), JournalState::Sent);
    clock = clock.addSecs(-7200);
    journal.appendState(QStringLiteral("old-3"), named("S", "C"), JournalState::Skipped);
    clock = clock.addDays(1).addSecs(7200);
    const QString today = journal.fileFor(QDate(2024, 5, 1));

    const QStringList expected = {"A:sent*", "C:skipped", "P:sent", "Q:skipped", "A:unsent*",
                                  "Journal /journal-2024-04-30.csv, line 7 is damaged and was skipped"};
    UnsentPoints u = collectUnsentPoints(folder, {}, true);
    QCOMPARE(outcome(u, folder), expected);
    QCOMPARE(u.filesReadInFull, 4);
    u = collectUnsentPoints(folder, {}, true);
    QCOMPARE(outcome(u, folder), expected);
    QCOMPARE(u.filesReadInFull, 0);

    // A summarised file grows: a point of another file confirmed, a new
    // point, a damaged line. Only the new lines are read.
    journal.appendState(QStringLiteral("old-1"), named("S", "A"), JournalState::Confirmed);
    journal.appendPoint(named("S", "R"), 0, 0, 0, 0, JournalState::Unsent);
    appendRaw(today, "point,broken\r\n");
    u = collectUnsentPoints(folder, {}, true);
    QCOMPARE(u.filesReadInFull, 0);
    QCOMPARE(outcome(u, folder), readAfresh(folder));
    QCOMPARE(names(u), QStringList({"C", "P", "Q", "A", "R"}));
    QCOMPARE(u.damaged.size(), 2);

    // Summaries that must not be trusted: the file is read again, and
    // nothing is lost or invented.
    const QString todays = JournalIndex::summaryPath(folder, QFileInfo(today).fileName());
    const QByteArray grown = readAll(today);
    const int cut = grown.indexOf("state,old-1");
    QVERIFY(grown.size() > 12000 && cut > 0);
    QVERIFY(grown.indexOf(",P,") > 4096 && grown.indexOf(",P,") < cut - 4096);
    const QList<QPair<const char *, std::function<void()>>> spoilers = {
        {"damaged summary", [&] {
             QByteArray bytes = readAll(todays);
             bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x55);
             rewrite(todays, bytes);
         }},
        {"another file's summary", [&] {
             rewrite(todays, readAll(JournalIndex::summaryPath(folder, QStringLiteral("journal-2024-05-02.csv"))));
         }},
        {"file cut back before A's confirmation", [&] { rewrite(today, grown.left(cut)); }},
        {"file rewritten in place", [&] {
             rewrite(today, QByteArray(grown.left(cut)).replace(",P,", ",X,"));
             QFile f(today);
             QVERIFY(f.open(QIODevice::ReadWrite));
             QVERIFY(f.setFileTime(f.fileTime(QFileDevice::FileModificationTime).addSecs(2),
                                   QFileDevice::FileModificationTime));
         }},
        {"file rewritten and grown", [&] { rewrite(today, QByteArray(grown).replace(",Q,", ",W,")); }},
    };
    for (const auto &spoil : spoilers) {
        spoil.second();
        u = collectUnsentPoints(folder, {}, true);
        QVERIFY2(u.filesReadInFull == 1, spoil.first);
        QCOMPARE(outcome(u, folder), readAfresh(folder));
    }
    QCOMPARE(names(u), QStringList({"C", "P", "W", "A", "R"}));
    QVERIFY(QFileInfo::exists(todays));   // rebuilt
}

void TestJournal::failedSyncIsReportedOnce()
{
    QTemporaryDir dir;
    std::atomic<int> syncs{0};
    std::atomic<bool> failing{true};
    Journal journal(dir.path(), nullptr, [&](int fd) {
        ++syncs;
        if (!failing) 
            return DiskSync::syncDescriptor(fd);
        errno = EIO;
        return false;
    });
    QSignalSpy failed(&journal, &Journal::writeFailed);
    const auto measureAndSync = [&] {
        const int before = syncs;
        journal.appendPoint(named("S", "P"), 0, 0, 0, 0, JournalState::Unsent);
        return QTest::qWaitFor([&] { return syncs > before; }, 20000);
    };
    QVERIFY(measureAndSync());
    QTRY_COMPARE(failed.count(), 1);
    const QString text = failed.first().first().toString();
    QVERIFY2(text.startsWith(QStringLiteral("The observation journal ")), qPrintable(text));
    QVERIFY(text.contains(QFileInfo(journal.currentFile()).fileName()));
    // Failing on: told once.
    QVERIFY(measureAndSync());
    QVERIFY(measureAndSync());
    QCoreApplication::processEvents();
    QCOMPARE(failed.count(), 1);
    // After a sync that succeeded, a failure is told again.
    failing = false;
    QVERIFY(measureAndSync());
    failing = true;
    QVERIFY(measureAndSync());
    QTRY_COMPARE(failed.count(), 2);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
