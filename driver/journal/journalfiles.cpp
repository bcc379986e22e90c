#include "journalfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QVector>

#include <algorithm>

namespace JournalFiles {

namespace {

const QRegularExpression &namePattern()
{
    static const QRegularExpression re(
        QStringLiteral("^journal-(\\d{4}-\\d{2}-\\d{2})(?:-([0-9a-z.]+))?\\.csv$"));
    return re;
}

struct OrderKey {
    QString day;            // the date, or the whole name when it has none
    int kind = 2;           // 0 earlier version's, 1 a run's, 2 any other
    QVector<qulonglong> run; // the run tag's numbers: start time, process, journal
    QString name;
};

OrderKey keyOf(const QString &name)
{
    OrderKey k;
    k.name = name;
    const QRegularExpressionMatch m = namePattern().match(name);
    if (!m.hasMatch()) {
        k.day = name;
        return k;
    }
    k.day = m.captured(1);
    const QString run = m.captured(2);
    k.kind = run.isEmpty() ? 0 : 1;
    for (const QString &part : run.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        bool ok = false;
        k.run << part.toULongLong(&ok, 36);
        if (!ok)
            k.run.clear();
    }
    return k;
}

bool operator<(const OrderKey &a, const OrderKey &b)
{
    if (a.day != b.day)
        return a.day < b.day;
    if (a.kind != b.kind)
        return a.kind < b.kind;
    if (a.run != b.run)
        return a.run < b.run;
    return a.name < b.name;
}

} // namespace

QString fileName(const QDate &day, const QString &run)
{
    const QString date = day.toString(Qt::ISODate);
    return run.isEmpty() ? QStringLiteral("journal-%1.csv").arg(date)
                         : QStringLiteral("journal-%1-%2.csv").arg(date, run);
}

QString lockName(const QString &run)
{
    return QStringLiteral("journal-%1.lock").arg(run);
}

QString runOf(const QString &fileName)
{
    return namePattern().match(fileName).captured(2);
}

QStringList list(const QString &folder)
{
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("journal-*.csv")}, QDir::Files | QDir::Readable);
    QVector<OrderKey> keys;
    keys.reserve(names.size());
    for (const QString &n : names)
        keys << keyOf(n);
    std::sort(keys.begin(), keys.end());
    QStringList ordered;
    ordered.reserve(keys.size());
    for (const OrderKey &k : qAsConst(keys))
        ordered << k.name;
    return ordered;
}

namespace {
// The host name as QLockFile writes it into a lock here: the computer's
// NetBIOS name on Windows (upper case, at most 15 characters), the
// host name elsewhere.
QString lockHostName()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("COMPUTERNAME");
#else
    return QSysInfo::machineHostName();
#endif
}
} // namespace

RunState runState(const QString &folder, const QString &run)
{
    if (run.isEmpty())
        return RunState::Ended;
    const QString path = QDir(folder).filePath(lockName(run));
    if (!QFileInfo::exists(path))
        return RunState::Ended;
    QLockFile lock(path);
    lock.setStaleLockTime(0); // stale only when its process is gone
    qint64 pid = 0;
    QString host, app;
    if (lock.getLockInfo(&pid, &host, &app) && pid == QCoreApplication::applicationPid()
        && (host.isEmpty() || host.compare(lockHostName(), Qt::CaseInsensitive) == 0))
        return RunState::ThisProcess;
    // Taken only when the lock was stale (or has just been released).
    if (lock.tryLock(0)) {
        lock.unlock();
        return RunState::Ended;
    }
    return lock.error() == QLockFile::LockFailedError ? RunState::Running : RunState::Ended;
}

} // namespace JournalFiles
