// The observation journal on Windows: its folder under the roaming
// application data, the file as spreadsheets read it (no text-mode line end
// translation), and the disk sync (_commit, which is FlushFileBuffers) on the
// descriptor Qt gives for a journal file.

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

#include <windows.h>
#include <shlobj.h>

#include "disksync.h"
#include "journal.h"

class TestWindowsJournal : public QObject
{
    Q_OBJECT

private slots:
    void journalIsInRoamingAppDataStadiolink()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Stadiolink"));
        PWSTR roaming = nullptr;
        QVERIFY(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming)));
        const QString expected = QDir::cleanPath(QString::fromWCharArray(roaming) + QStringLiteral("/Stadiolink"));
        CoTaskMemFree(roaming);
        QCOMPARE(QDir::cleanPath(Journal::defaultFolder()), expected);
        QCOMPARE(QDir::toNativeSeparators(expected),
                 qEnvironmentVariable("APPDATA") + QStringLiteral("\\Stadiolink"));

        // Each run writes a file of its own: journal-DATE-RUN.csv.
        const QString name = QStringLiteral("W%1").arg(QDateTime::currentMSecsSinceEpoch());
        QString id, file;
        {
            Journal journal;
            MeasuringPoint p;
            p.sessionName = QStringLiteral("Съёмка");
            p.groupName = QStringLiteral("G");
            p.pointName = name;
            id = journal.appendPoint(p, 1.25, 1.5, 12.5, 2, JournalState::Unsent);
            file = QDir::cleanPath(journal.currentFile());
        }
        const QFileInfo info(file);
        QCOMPARE(info.absolutePath(), expected);
        QVERIFY2(info.fileName().startsWith(QStringLiteral("journal-%1-").arg(QDate::currentDate().toString(Qt::ISODate)))
                     && info.fileName().endsWith(QStringLiteral(".csv")),
                 qPrintable(info.fileName()));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF" "record,id,"));
        QVERIFY(!bytes.contains("\r\r\n"));
        QCOMPARE(bytes.count("\r\n"), bytes.count('\n'));
        const int at = bytes.indexOf(id.toUtf8());
        QVERIFY(at > 0);
        const QByteArray line = bytes.mid(at, bytes.indexOf('\n', at) - at);
        QVERIFY2(line.contains(QStringLiteral(",Съёмка,G,%1,").arg(name).toUtf8()), line.constData());
        QVERIFY(line.endsWith(",unsent\r"));
        f.close();
        QVERIFY(f.remove()); // this run's file, not to pile up in the prefix
    }

    void syncFlushesTheFileQtOpened()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("j.csv")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
        QVERIFY(f.handle() >= 0);
        QVERIFY(DiskSync::syncDescriptor(f.handle()));
        {
            DiskSync sync(20);
            sync.setDescriptor(f.handle());
            f.close(); // the sync thread keeps its own duplicate
            sync.markDirty();
            QTRY_VERIFY_WITH_TIMEOUT(sync.syncCount() >= 1, 10000);
        }
        // FlushFileBuffers refuses a handle that cannot write: the sync
        // says so rather than reporting a flush that did not happen.
        QFile readOnly(dir.filePath(QStringLiteral("j.csv")));
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        QVERIFY(!DiskSync::syncDescriptor(readOnly.handle()));
    }
};

QTEST_GUILESS_MAIN(TestWindowsJournal)
#include "test_windows_journal.moc"
