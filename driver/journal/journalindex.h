#pragma once
// Summaries of journal files, kept in the folder's "index" subfolder so that
// collecting unsent points reads each line once, not at every connection.
//
// A file's summary holds what the file's lines can still contribute to the
// collection: its point lines not confirmed by its own state lines (whole),
// what its state lines say about each other id, the numbers of its damaged
// lines, and a short entry for every point line (hashes of its names and of
// its id, and where it starts) for the names and ids other points share.
// A point confirmed in its own file is left out for good: "confirmed" wins
// whatever follows.
//
// A summary covers the file's first `size` bytes, up to the end of its last
// whole line. It is used only when it is intact (layout, checksum), names
// the file, and the file still begins and ends that stretch with the same
// bytes and has either grown (only the new lines are read) or kept its size
// and modification time. Anything else reads the whole file and writes the
// summary again; a summary that cannot be written only costs time.

#include <QHash>
#include <QString>
#include <QVector>

#include <limits>

#include "journalrecord.h"

// What one file's state lines for one id add up to, read in line order the
// way the collection reads them: the later line, and "confirmed" for good.
// Between files the collection goes on with `maxMs`: a file's lines take over
// from an earlier file's state from its first line that is not older.
struct StateSummary {
    bool confirmed = false;
    JournalState last = JournalState::Unsent;
    qint64 lastMs = 0;
    qint64 maxMs = std::numeric_limits<qint64>::min();
    void add(JournalState state, qint64 timeMs);
};

struct PointEntry {
    quint64 nameHash; // session, group and point name
    quint64 idHash;
    qint64 offset;    // where the line starts in the file
};

struct OpenPoint {
    JournalLine line;
    qint64 offset = 0;
};

struct FileSummary {
    QString name;          // the journal file's name
    qint64 size = 0;       // bytes covered
    qint64 mtimeMs = 0;    // the file's modification time when it had `size`
    quint64 headHash = 0;  // of the covered bytes' first and last 4 KiB
    quint64 tailHash = 0;
    int lines = 0;         // lines covered
    QVector<int> damaged;  // their numbers, ascending
    QVector<OpenPoint> points;           // in line order
    QHash<QString, StateSummary> states; // by id: the open points' and other files' points'
    QVector<PointEntry> entries;         // every point line, in line order

    // One line of the file (line end included) starting at `offset`.
    void addLine(const char *data, int size, qint64 offset);
    // Leaves out the points its own lines confirm.
    void settle();
};

namespace JournalIndex {

// The hashes the entries hold.
quint64 nameHash(const MeasuringPoint &names);
quint64 idHash(const QString &id);

struct Read {
    bool opened = false;     // false: the file could not be read
    bool readInFull = false; // no usable summary: read from its start
    FileSummary summary;     // including a last line without a line end
};

// The summary of a folder's journal file, brought up to date (and written
// back when it changed).
Read summarise(const QString &folder, const QString &name);

// The index folder of a journal folder; a summary's path.
QString folderOf(const QString &journalFolder);
QString summaryPath(const QString &journalFolder, const QString &name);

// Removes the summaries of files that are gone.
void prune(const QString &journalFolder);

// A summary's bytes and back; false for damaged bytes or another layout.
QByteArray encode(const FileSummary &summary);
bool decode(const QByteArray &bytes, FileSummary *summary);

} // namespace JournalIndex
