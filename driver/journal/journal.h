#pragma once
// The observation journal writer: appends point and state lines
// (journalrecord.h) to one CSV file per local calendar day in a folder.
// Each journal (each run of the driver) writes files of its own,
// "journal-YYYY-MM-DD-RUN.csv", and holds the lock "journal-RUN.lock" while
// it lives (journalfiles.h): two drivers sharing a folder never write one
// file, and each can tell whether the other is still running. Each line is
// handed to the operating system before append returns, so a crash of the
// program loses nothing appended; a thread of its own syncs the file to the
// disk at least once a second. The folder is created when missing. A failed
// write or disk sync is reported once by writeFailed (again only after a
// write, or a sync, has succeeded meanwhile); the caller goes on
// regardless. GUI thread.

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "journalrecord.h"

class DiskSync;
class QLockFile;

class Journal : public QObject
{
    Q_OBJECT

public:
    // The folder of the journal files; Qt's application-data location when
    // empty.
    // `sync` replaces DiskSync::syncDescriptor (tests: a disk that fails).
    explicit Journal(const QString &folder = QString(), QObject *parent = nullptr,
                     std::function<bool(int)> sync = nullptr);
    ~Journal() override;

    static QString defaultFolder();
    QString folder() const { return m_folder; }
    // Closes the current file; the next line goes to the new folder.
    void setFolder(const QString &folder);
    // The journal's file for a local calendar day.
    QString fileFor(const QDate &day) const;
    // This journal's tag: in its file names and at the start of its ids.
    QString run() const { return runTag; }

    // Nothing is written while off (for measuring the driver without it).
    void setEnabled(bool on) { enabled = on; }
    bool isEnabled() const { return enabled; }

    // Replaces the clock (tests: day changes).
    void setClock(std::function<QDateTime()> clock) { now = std::move(clock); }

    // Appends a point line and returns the point's new id (also when the
    // line could not be written).
    QString appendPoint(const MeasuringPoint &pt, double hzAngle, double vAngle,
                        double slopeDistance, int edmMode, JournalState state);
    // Appends a state line for the point with that id.
    void appendState(const QString &id, const MeasuringPoint &names, JournalState state);

    // The file the last line went to (empty before the first line).
    QString currentFile() const { return file.fileName(); }

signals:
    void writeFailed(const QString &text);

private:
    void append(const JournalRecord &record);
    bool openFor(const QDate &day);
    void fail(const QString &reason);
    void closeFile();
    void syncFailed(int error);

    QString m_folder;
    QFile file;
    QDate fileDay;
    bool enabled = true;
    bool failureReported = false;
    QString runTag;
    quint64 counter = 0;
    std::function<QDateTime()> now;
    std::unique_ptr<DiskSync> sync;
    std::unique_ptr<QLockFile> runLock; // in m_folder, taken with the first file
};
