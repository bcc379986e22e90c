#pragma once
// The files of a journal folder.
//
//   journal-YYYY-MM-DD-RUN.csv  the lines one run of the driver wrote on that
//                               local calendar day; RUN is the run's tag,
//                               which also begins the id of every point the
//                               run measured. Only that run writes the file.
//   journal-YYYY-MM-DD.csv      a day's lines as earlier versions wrote them
//                               (all runs in one file); read, never written.
//   journal-RUN.lock            held by the run while it is running
//                               (QLockFile); left behind with a dead process
//                               when the run crashed.
//   index/                      summaries of the files (journalindex.h).
//
// Reading order: by day; on one day the earlier versions' file first, then
// the runs' files in the order the runs started.

#include <QDate>
#include <QString>
#include <QStringList>

namespace JournalFiles {

// A run's file for a local calendar day; `run` empty: an earlier version's.
QString fileName(const QDate &day, const QString &run);
QString lockName(const QString &run);
// The run that writes a file (empty for an earlier version's file and for
// any other name).
QString runOf(const QString &fileName);

// The journal files ("journal-*.csv") of a folder in reading order.
QStringList list(const QString &folder);

enum class RunState {
    Ended,       // exited, crashed (its lock is stale), or never locked
    ThisProcess, // a journal of this process
    Running,     // another process that holds its lock
};
// Whether the run that writes a folder's files is running. Removes the
// lock of a crashed run.
RunState runState(const QString &folder, const QString &run);

} // namespace JournalFiles
