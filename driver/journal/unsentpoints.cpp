#include "unsentpoints.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QPair>

#include "journalfiles.h"
#include "journalindex.h"

QStringList UnsentPoints::sessions() const
{
    QStringList names;
    for (const JournalRecord &r : points)
        if (!names.contains(r.point.sessionName))
            names << r.point.sessionName;
    return names;
}

namespace {

// A point line: its file's place in the reading order and its offset there.
using Position = QPair<int, qint64>;

// The state of an id so far, read file by file in order.
struct Fold {
    bool seen = false;
    bool confirmed = false;
    JournalState state = JournalState::Unsent;
    qint64 timeMs = 0;
    int file = -1; // where the state that counts was written
};

void apply(Fold *f, const StateSummary &s, int file)
{
    if (f->confirmed)
        return;
    if (s.confirmed) {
        f->seen = f->confirmed = true;
        return;
    }
    // A file's lines take over from its first line that is not older than
    // the state so far; from there each later line of the file counts.
    if (!f->seen || s.maxMs >= f->timeMs) {
        f->seen = true;
        f->state = s.last;
        f->timeMs = s.lastMs;
        f->file = file;
    }
}

// Point lines read back from their files, to compare what a hash matched.
class LineReader
{
public:
    LineReader(const QString &folder, const QVector<FileSummary> &files)
        : dir(folder), files(files) {}

    const JournalLine *at(const Position &pos)
    {
        auto it = lines.find(pos);
        if (it == lines.end()) {
            JournalLine line;
            QFile f(dir.filePath(files.at(pos.first).name));
            bool ok = f.open(QIODevice::ReadOnly) && f.seek(pos.second);
            if (ok) {
                const QByteArray bytes = f.readLine();
                ok = decodeJournalLine(bytes.constData(), bytes.size(), &line)
                     && line.kind == JournalRecord::Point;
            }
            it = lines.insert(pos, ok ? line : JournalLine());
            if (!ok)
                it->id.clear(); // unreadable now: matches nothing
        }
        return it->id.isEmpty() ? nullptr : &*it;
    }

private:
    QDir dir;
    const QVector<FileSummary> &files;
    QHash<Position, JournalLine> lines;
};

bool sameNames(const MeasuringPoint &a, const MeasuringPoint &b)
{
    return a.sessionName == b.sessionName && a.groupName == b.groupName && a.pointName == b.pointName;
}

} // namespace

UnsentPoints collectUnsentPoints(const QString &folder, const QSet<QString> &inFlight,
                                 bool includeSkipped)
{
    UnsentPoints result;
    const QDir dir(folder);
    QVector<FileSummary> files;
    for (const QString &name : JournalFiles::list(folder)) {
        JournalIndex::Read read = JournalIndex::summarise(folder, name);
        if (!read.opened)
            continue;
        if (read.readInFull)
            ++result.filesReadInFull;
        for (int line : qAsConst(read.summary.damaged))
            result.damaged << QCoreApplication::translate("Journal", "Journal %1, line %2 is damaged and was skipped")
                                  .arg(QDir::toNativeSeparators(dir.filePath(name)))
                                  .arg(line);
        files << std::move(read.summary);
    }
    JournalIndex::prune(folder);

    // The state of each open point (a point its own file does not confirm),
    // from every file's state lines in reading order.
    QHash<QString, Fold> folds;
    for (const FileSummary &file : qAsConst(files))
        for (const OpenPoint &p : file.points)
            folds.insert(p.line.id, Fold());
    for (int k = 0; k < files.size(); ++k) {
        const QHash<QString, StateSummary> &states = files.at(k).states;
        for (auto it = states.constBegin(); it != states.constEnd(); ++it) {
            const auto f = folds.find(it.key());
            if (f != folds.end())
                apply(&*f, *it, k);
        }
    }

    struct Candidate {
        Position pos;
        const OpenPoint *point;
        JournalState state;
        bool confirmedElsewhere = false;
        bool shared = false;
    };
    QVector<Candidate> candidates;
    QHash<Position, const OpenPoint *> open;
    QHash<QString, JournalFiles::RunState> runs;
    for (int k = 0; k < files.size(); ++k) {
        for (const OpenPoint &p : files.at(k).points) {
            open.insert({k, p.offset}, &p);
            const Fold &f = folds[p.line.id];
            if (f.confirmed || inFlight.contains(p.line.id))
                continue;
            const JournalState state = f.seen ? f.state : p.line.state;
            if (state == JournalState::Confirmed
                || (state == JournalState::Skipped && !includeSkipped))
                continue;
            if (state == JournalState::Sent) {
                // Sent by another driver that is still running: its answer may come.
                const QString run = JournalFiles::runOf(files.at(f.seen ? f.file : k).name);
                auto known = runs.find(run);
                if (known == runs.end())
                    known = runs.insert(run, JournalFiles::runState(folder, run));
                if (*known == JournalFiles::RunState::Running)
                    continue;
            }
            candidates.append({{k, p.offset}, &p, state});
        }
    }

    if (!candidates.isEmpty()) {
        // Every point line of the journal, by the hashes of its names and
        // its id: another point under a collected point's names, and another
        // line of a collected point's id that its own file confirms (the
        // point was written twice: "confirmed" counts for both).
        QHash<quint64, QVector<int>> byName, byId;
        for (int c = 0; c < candidates.size(); ++c) {
            const JournalLine &l = candidates.at(c).point->line;
            byName[JournalIndex::nameHash(l.point)] << c;
            byId[JournalIndex::idHash(l.id)] << c;
        }
        LineReader reader(folder, files);
        const auto lineAt = [&](const Position &pos) -> const JournalLine * {
            const auto o = open.constFind(pos);
            return o != open.constEnd() ? &(*o)->line : reader.at(pos);
        };
        for (int k = 0; k < files.size(); ++k) {
            for (const PointEntry &e : files.at(k).entries) {
                const auto n = byName.constFind(e.nameHash);
                const auto i = byId.constFind(e.idHash);
                if (n == byName.constEnd() && i == byId.constEnd())
                    continue;
                const Position pos{k, e.offset};
                if (n != byName.constEnd()) {
                    for (int c : *n) {
                        Candidate &cand = candidates[c];
                        if (cand.shared || cand.pos == pos)
                            continue;
                        const JournalLine *other = lineAt(pos);
                        cand.shared = other && sameNames(other->point, cand.point->line.point);
                    }
                }
                // An open line of the id took part in the fold above.
                if (i != byId.constEnd() && !open.contains(pos)) {
                    for (int c : *i) {
                        Candidate &cand = candidates[c];
                        const JournalLine *other = lineAt(pos);
                        if (other && other->id == cand.point->line.id)
                            cand.confirmedElsewhere = true;
                    }
                }
            }
        }
    }

    for (const Candidate &c : qAsConst(candidates)) {
        if (c.confirmedElsewhere)
            continue;
        const JournalLine &l = c.point->line;
        JournalRecord r;
        r.kind = JournalRecord::Point;
        r.id = l.id;
        r.timeUtc = QDateTime::fromMSecsSinceEpoch(l.timeMs, Qt::UTC);
        r.point = l.point;
        r.hzAngle = l.hzAngle;
        r.vAngle = l.vAngle;
        r.slopeDistance = l.slopeDistance;
        r.edmMode = l.edmMode;
        r.state = c.state;
        result.points << r;
        if (c.shared)
            result.sharedNames.insert(r.id);
    }
    return result;
}
