#include "unsentpoints.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>

QStringList UnsentPoints::sessions() const
{
    QStringList names;
    for (const JournalRecord &r : points)
        if (!names.contains(r.point.sessionName))
            names << r.point.sessionName;
    return names;
}

UnsentPoints collectUnsentPoints(const QString &folder, const QSet<QString> &inFlight,
                                 bool includeSkipped)
{
    UnsentPoints result;
    QVector<JournalRecord> points;
    QHash<QString, int> index; // id -> position in points

    const QDir dir(folder);
    const QStringList files =
        dir.entryList({QStringLiteral("journal-*.csv")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : files) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        int lineNo = 0;
        while (!f.atEnd()) {
            const QByteArray line = f.readLine();
            ++lineNo;
            if (line.trimmed().isEmpty())
                continue;
            if (lineNo == 1 && line.startsWith("\xEF\xBB\xBFrecord,"))
                continue;
            JournalRecord r;
            if (!decodeJournalRecord(line, &r)) {
                result.damaged << QCoreApplication::translate("Journal", "Journal %1, line %2 is damaged and was skipped")
                                      .arg(QDir::toNativeSeparators(f.fileName()))
                                      .arg(lineNo);
                continue;
            }
            if (r.kind == JournalRecord::Point) {
                index.insert(r.id, points.size());
                points << r;
            } else {
                const auto it = index.constFind(r.id);
                if (it != index.constEnd())
                    points[*it].state = r.state;
            }
        }
    }

    for (const JournalRecord &r : points) {
        if (inFlight.contains(r.id))
            continue;
        if (r.state == JournalState::Unsent || r.state == JournalState::Sent
            || (includeSkipped && r.state == JournalState::Skipped))
            result.points << r;
    }
    return result;
}
