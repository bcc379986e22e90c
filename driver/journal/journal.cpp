#include "journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include "disksync.h"
#include "journalfiles.h"

#include <atomic>
#include <cerrno>

Journal::Journal(const QString &folder, QObject *parent, std::function<bool(int)> syncFunction)
    : QObject(parent), m_folder(folder.isEmpty() ? defaultFolder() : folder),
      now([] { return QDateTime::currentDateTimeUtc(); })
{
    // On the sync thread: told here on the journal's own.
    sync.reset(new DiskSync(500, syncFunction ? std::move(syncFunction) : DiskSync::syncDescriptor,
                            [this](int error) {
                                QMetaObject::invokeMethod(this, [this, error] { syncFailed(error); },
                                                          Qt::QueuedConnection);
                            }));
    // Unique across runs, also of two drivers started in the same millisecond
    // and of two journals of one run.
    static std::atomic<int> journals{0};
    runTag = QString::number(QDateTime::currentMSecsSinceEpoch(), 36) + QLatin1Char('.')
             + QString::number(QCoreApplication::applicationPid(), 36) + QLatin1Char('.')
             + QString::number(++journals, 36);
}

Journal::~Journal()
{
    closeFile();
    runLock.reset();
}

QString Journal::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void Journal::setFolder(const QString &folder)
{
    closeFile();
    runLock.reset();
    m_folder = folder.isEmpty() ? defaultFolder() : folder;
    failureReported = false;
}

QString Journal::fileFor(const QDate &day) const
{
    return QDir(m_folder).filePath(JournalFiles::fileName(day, runTag));
}

QString Journal::appendPoint(const MeasuringPoint &pt, double hzAngle, double vAngle,
                             double slopeDistance, int edmMode, JournalState state)
{
    JournalRecord r;
    r.kind = JournalRecord::Point;
    r.id = runTag + QLatin1Char('-') + QString::number(++counter);
    r.point = pt;
    r.hzAngle = hzAngle;
    r.vAngle = vAngle;
    r.slopeDistance = slopeDistance;
    r.edmMode = edmMode;
    r.state = state;
    append(r);
    return r.id;
}

void Journal::appendState(const QString &id, const MeasuringPoint &names, JournalState state)
{
    JournalRecord r;
    r.kind = JournalRecord::StateChange;
    r.id = id;
    r.point.sessionName = names.sessionName;
    r.point.groupName = names.groupName;
    r.point.pointName = names.pointName;
    r.state = state;
    append(r);
}

void Journal::append(const JournalRecord &record)
{
    if (!enabled)
        return;
    JournalRecord r = record;
    r.timeUtc = now().toUTC();
    const QDate day = r.timeUtc.toLocalTime().date();
    if ((!file.isOpen() || day != fileDay) && !openFor(day))
        return;
    const QByteArray line = encodeJournalRecord(r);
    if (file.write(line) != line.size() || !file.flush()) {
        fail(file.errorString());
        closeFile();
        return;
    }
    sync->markDirty();
    failureReported = false;
}

bool Journal::openFor(const QDate &day)
{
    closeFile();
    if (!QDir().mkpath(m_folder)) {
        file.setFileName(fileFor(day));
        fail(tr("the folder cannot be created"));
        return false;
    }
    file.setFileName(fileFor(day));
    if (!runLock) {
        // Held while this journal lives: other drivers see it running.
        runLock.reset(new QLockFile(QDir(m_folder).filePath(JournalFiles::lockName(runTag))));
        runLock->setStaleLockTime(0);
        runLock->tryLock(0); // without it, others take this run for ended
    }
    // A line cut short by a power cut must not swallow the next one.
    bool endsInLine = true;
    {
        QFile probe(file.fileName());
        if (probe.size() > 0 && probe.open(QIODevice::ReadOnly)) {
            probe.seek(probe.size() - 1);
            endsInLine = probe.read(1) == "\n";
        }
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(file.errorString());
        return false;
    }
    QByteArray head;
    if (file.size() == 0)
        head = QByteArray("\xEF\xBB\xBF") + journalHeader().toUtf8() + "\r\n";
    else if (!endsInLine)
        head = "\r\n";
    if (!head.isEmpty() && (file.write(head) != head.size() || !file.flush())) {
        fail(file.errorString());
        closeFile();
        return false;
    }
    fileDay = day;
    sync->setDescriptor(file.handle());
    return true;
}

void Journal::closeFile()
{
    sync->setDescriptor(-1);
    if (file.isOpen())
        file.close();
    fileDay = QDate();
}

void Journal::syncFailed(int error)
{
    // The system's words, as for a failed write.
    fail(qt_error_string(error ? error : EIO));
}

void Journal::fail(const QString &reason)
{
    if (failureReported)
        return;
    failureReported = true;
    emit writeFailed(tr("The observation journal %1 cannot be written: %2")
                         .arg(QDir::toNativeSeparators(file.fileName()), reason));
}
