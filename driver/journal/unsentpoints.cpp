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
    // The state lines that count, by id. A state line may come in a file read
    // before its point's, when the local date moved backwards (the clock was
    // corrected, the time zone changed), so they are kept apart and applied
    // at the end. Which one counts: "confirmed" always (the server has the
    // point; nothing follows it); else within a file the later line, and
    // between files the later time, the later file on a tie. A state line
    // overrides its point line's state: it was written after it.
    struct Latest {
        JournalState state;
        QDateTime time;
        int file;
    };
    QHash<QString, Latest> states;

    const QDir dir(folder);
    const QStringList files =
        dir.entryList({QStringLiteral("journal-*.csv")}, QDir::Files | QDir::Readable, QDir::Name);
    for (int fileNo = 0; fileNo < files.size(); ++fileNo) {
        QFile f(dir.filePath(files.at(fileNo)));
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
                points << r;
                continue;
            }
            const auto it = states.find(r.id);
            if (it == states.end()) {
                states.insert(r.id, {r.state, r.timeUtc, fileNo});
            } else if (it->state != JournalState::Confirmed
                       && (r.state == JournalState::Confirmed || it->file == fileNo
                           || r.timeUtc >= it->time)) {
                *it = {r.state, r.timeUtc, fileNo};
            }
        }
    }

    // How many points of the journal carry each session / group / point name.
    QHash<QString, int> nameCount;
    const auto nameKey = [](const MeasuringPoint &p) {
        return p.sessionName + QChar(0) + p.groupName + QChar(0) + p.pointName;
    };
    for (const JournalRecord &r : qAsConst(points))
        ++nameCount[nameKey(r.point)];
    for (JournalRecord &r : points) {
        const auto it = states.constFind(r.id);
        if (it != states.constEnd())
            r.state = it->state;
    }
    for (const JournalRecord &r : qAsConst(points)) {
        if (inFlight.contains(r.id))
            continue;
        if (r.state == JournalState::Unsent || r.state == JournalState::Sent
            || (includeSkipped && r.state == JournalState::Skipped)) {
            result.points << r;
            if (nameCount.value(nameKey(r.point)) > 1)
                result.sharedNames.insert(r.id);
        }
    }
    return result;
}
