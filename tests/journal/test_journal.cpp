// The observation journal: its CSV lines, the per-day files, write failures
// and the collection of unsent points.

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "deliveryqueue.h"
#include "disksync.h"
#include "journal.h"
#include "unsentpoints.h"

namespace {

MeasuringPoint named(const QString &session, const QString &point, double x = 0)
{
    MeasuringPoint p;
    p.sessionName = session;
    p.groupName = QStringLiteral("G");
    p.pointName = point;
    p.x = x;
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
        r.point.sessionName = QStringLiteral("Съёмка, \"север\"");
        r.point.groupName = QStringLiteral("a\r\nb");
        r.point.pointName = QStringLiteral("P,1");
        r.hzAngle = 1.069995191213058;
        r.vAngle = 1.0000123163488391;
        r.slopeDistance = 123.45678;
        r.edmMode = 14;
        r.point.x = -0.1 + 0.2;   // not exactly 0.1
        r.point.y = 1e-9;
        r.point.z = -12345.6789;
        r.state = JournalState::Sent;
        const QByteArray line = encodeJournalRecord(r);
        QVERIFY(line.endsWith("\r\n"));
        QCOMPARE(line.count('\n'), 1);   // line breaks in names become spaces
        QVERIFY(!line.contains("e-"));   // no exponent form in a spreadsheet column

        JournalRecord back;
        QVERIFY(decodeJournalRecord(line, &back));
        QCOMPARE(back.id, r.id);
        QCOMPARE(back.timeUtc, r.timeUtc);
        QCOMPARE(back.point.sessionName, r.point.sessionName);
        QCOMPARE(back.point.groupName, QStringLiteral("a  b"));
        QCOMPARE(back.point.pointName, r.point.pointName);
        // Exact doubles: a point sent again carries its measured values.
        QVERIFY(back.hzAngle == r.hzAngle && back.vAngle == r.vAngle);
        QVERIFY(back.slopeDistance == r.slopeDistance);
        QVERIFY(back.point.x == r.point.x && back.point.y == r.point.y && back.point.z == r.point.z);
        QCOMPARE(back.edmMode, 14);
        QCOMPARE(back.state, JournalState::Sent);

        JournalRecord s;
        s.kind = JournalRecord::StateChange;
        s.id = r.id;
        s.timeUtc = r.timeUtc;
        s.state = JournalState::Confirmed;
        QVERIFY(decodeJournalRecord(encodeJournalRecord(s), &back));
        QCOMPARE(back.kind, JournalRecord::StateChange);
        QCOMPARE(back.state, JournalState::Confirmed);
        QCOMPARE(journalHeader().count(QLatin1Char(',')), encodeJournalRecord(s).count(',') );
    }

    void damagedLinesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("line");
        const QByteArray good = "point,a-1,2024-05-01T10:00:00.000Z,S,G,P,1,1.5,10,2,1,2,3,sent";
        JournalRecord r;
        QVERIFY(decodeJournalRecord(good, &r));
        QTest::newRow("cut short") << good.left(good.size() - 9);
        QTest::newRow("extra column") << good + ",x";
        QTest::newRow("unknown state") << QByteArray(good).replace("sent", "lost");
        QTest::newRow("unknown kind") << QByteArray(good).replace("point,", "pt,");
        QTest::newRow("bad number") << QByteArray(good).replace(",1.5,", ",1,5,");
        QTest::newRow("empty id") << QByteArray(good).replace("a-1", "");
        QTest::newRow("bad time") << QByteArray(good).replace("10:00", "25:00");
        QTest::newRow("open quote") << QByteArray(good).replace(",S,", ",\"S,");
        QTest::newRow("stray quote") << QByteArray(good).replace(",S,", ",S\"x,");
        QTest::newRow("garbage") << QByteArray("\x01\xff\xfe,,,");
    }
    void damagedLinesAreRefused()
    {
        QFETCH(QByteArray, line);
        JournalRecord r;
        QVERIFY(!decodeJournalRecord(line, &r));
    }

    void linesGoToOneFilePerDay()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("a/b"));   // created when missing
        Journal journal(folder);
        QDateTime clock(QDate(2024, 5, 1), QTime(12, 0), Qt::LocalTime);
        journal.setClock([&] { return clock.toUTC(); });

        const QString id1 = journal.appendPoint(named("S", "P1"), 1, 2, 3, 2, JournalState::Sent);
        journal.appendState(id1, named("S", "P1"), JournalState::Confirmed);
        const QString day1 = journal.fileFor(QDate(2024, 5, 1));
        QCOMPARE(journal.currentFile(), day1);
        // Each line reached the operating system at once.
        QByteArray text = readAll(day1);
        QVERIFY(text.startsWith("\xEF\xBB\xBF" + journalHeader().toUtf8() + "\r\n"));
        QCOMPARE(text.count('\n'), 3);

        clock = clock.addDays(1);
        const QString id2 = journal.appendPoint(named("S", "P2"), 1, 2, 3, 2, JournalState::Unsent);
        QVERIFY(id2 != id1);
        QCOMPARE(journal.currentFile(), journal.fileFor(QDate(2024, 5, 2)));
        QCOMPARE(readAll(day1).count('\n'), 3);

        // A second writer (a later run) appends below; the header stays one.
        {
            Journal later(folder);
            later.setClock([&] { return clock.toUTC(); });
            later.appendPoint(named("S", "P3"), 0, 0, 0, 0, JournalState::Unsent);
        }
        text = readAll(journal.currentFile());
        QCOMPARE(text.count("record,"), 1);
        QCOMPARE(text.count('\n'), 3);
    }

    void cutLineDoesNotSwallowTheNext()
    {
        QTemporaryDir dir;
        Journal journal(dir.path());
        const QString file = journal.fileFor(QDate::currentDate());
        journal.appendPoint(named("S", "P1"), 0, 0, 0, 0, JournalState::Unsent);
        journal.setFolder(dir.path());   // closes the file
        appendRaw(file, "point,x-9,2024-05-01T10:0");   // a power cut mid-line
        journal.appendPoint(named("S", "P2"), 0, 0, 0, 0, JournalState::Unsent);

        const UnsentPoints u = collectUnsentPoints(dir.path(), {}, false);
        QCOMPARE(names(u), QStringList({"P1", "P2"}));
        QCOMPARE(u.damaged.size(), 1);
        QVERIFY(u.damaged.first().contains(QStringLiteral("line 3")));
    }

    void unwritableFolderIsReportedOnce()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        // A folder below a plain file can be neither created nor written.
        Journal journal(dir.filePath(QStringLiteral("file/journal")));
        QSignalSpy failed(&journal, &Journal::writeFailed);
        for (int i = 0; i < 3; ++i)
            QVERIFY(!journal.appendPoint(named("S", "P"), 0, 0, 0, 0, JournalState::Unsent).isEmpty());
        QCOMPARE(failed.count(), 1);
        QVERIFY(failed.first().first().toString().contains(QStringLiteral("journal")));

        // Writable again: the lines go on, and a new failure is told again.
        journal.setFolder(dir.filePath(QStringLiteral("ok")));
        journal.appendPoint(named("S", "P"), 0, 0, 0, 0, JournalState::Unsent);
        QCOMPARE(failed.count(), 1);
        QVERIFY(QFile::exists(journal.currentFile()));
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
        const QString b = add("S1", "B", JournalState::Sent);      // the run ended unanswered
        const QString c = add("S1", "C", JournalState::Sent);
        journal.appendState(c, named("S1", "C"), JournalState::Confirmed);
        clock = clock.addDays(1);
        const QString d = add("S2", "D", JournalState::Unsent);
        journal.appendState(d, named("S2", "D"), JournalState::Skipped);
        const QString e = add("S2", "E", JournalState::Unsent);
        // Sent again and confirmed on the next day: state lines in another file.
        journal.appendState(a, named("S1", "A"), JournalState::Sent);
        journal.appendState(a, named("S1", "A"), JournalState::Confirmed);
        const QString f = add("S3", "F", JournalState::Sent);      // in flight now
        appendRaw(journal.currentFile(), "state,nobody,2024-05-02T10:00:00.000Z,,,,,,,,,,,confirmed\r\n");
        appendRaw(journal.currentFile(), "not a record\r\n");

        UnsentPoints u = collectUnsentPoints(dir.path(), {f}, false);
        QCOMPARE(names(u), QStringList({"B", "E"}));
        QCOMPARE(u.sessions(), QStringList({"S1", "S2"}));
        QCOMPARE(u.damaged.size(), 1);
        QCOMPARE(u.points.first().id, b);
        QCOMPARE(u.points.at(1).id, e);

        u = collectUnsentPoints(dir.path(), {}, true);
        QCOMPARE(names(u), QStringList({"B", "D", "E", "F"}));
        QVERIFY(collectUnsentPoints(dir.filePath(QStringLiteral("none")), {}, true).points.isEmpty());
    }

    void answersTakeTheOldestWaitingPoint()
    {
        DeliveryQueue q;
        DeliveryQueue::Entry e;
        QVERIFY(!q.answered(&e));
        q.handed(QStringLiteral("1"), named("S", "P1"), false);
        q.handed(QStringLiteral("2"), named("S", "P2"), true);
        q.handed(QStringLiteral("3"), named("S", "P3"), false);
        QCOMPARE(q.ids(), QSet<QString>({"1", "2", "3"}));
        QVERIFY(q.answered(&e));
        QCOMPARE(e.id, QStringLiteral("1"));
        const QVector<DeliveryQueue::Entry> rest = q.takeAll();
        QCOMPARE(rest.size(), 2);
        QVERIFY(rest.first().resent);
        QCOMPARE(q.size(), 0);
    }

    void syncReachesTheDisk()
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
        QCOMPARE(sync.syncCount(), 1);   // nothing new, no sync
        sync.setDescriptor(-1);
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
