#pragma once
// Collects from a journal folder the points the server has not confirmed:
// their last state is "unsent", or "sent" with no answer that can still
// come (the link it went to has ended, or the program did), and on request
// "skipped". Damaged lines are skipped, each with a message. Files are read
// by day and on one day by run (journalfiles.h), lines in file order, so
// the points come in the order they were measured.
//
// Which state counts: "confirmed" always (the server has the point; nothing
// follows it); else within a file the later line, and between files the
// later time, the later file on a tie. A state line overrides its point
// line's state: it was written after it. A state line may come in a file
// read before its point's, when the local date moved backwards (the clock
// was corrected, the time zone changed).
//
// A point whose last state is "sent" in a file of another driver that is
// running is waiting for that driver's server: it is left out. A driver that
// crashed leaves a stale lock, and its points are collected.
//
// Each file is read once: later collections take its summary from the
// index (journalindex.h) and read only the lines added since.

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include "journalrecord.h"

struct UnsentPoints {
    // Point records with `state` set to their last state.
    QVector<JournalRecord> points;
    // "Journal FILE, line N is damaged and was skipped", one per line.
    QStringList damaged;
    // Ids of the collected points whose session, group and point name the
    // journal also holds for another point (measured twice under one name).
    QSet<QString> sharedNames;
    // The distinct session names of the points, in first-seen order.
    QStringList sessions() const;
    // Files read from their start (no usable summary); the others only
    // from where their summary ends.
    int filesReadInFull = 0;
};

// `inFlight`: ids handed to this driver's running server link, left out.
UnsentPoints collectUnsentPoints(const QString &folder, const QSet<QString> &inFlight,
                                 bool includeSkipped);
