#pragma once
// Reads every journal file of a folder and collects the points the server
// has not confirmed: their last state is "unsent", or "sent" with no
// answer that can still come (the link it went to has ended, or the
// program did), and on request "skipped". Damaged lines are skipped, each
// with a message. Files are read in date order, lines in file order, so the
// points come in the order they were measured.

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
};

// `inFlight`: ids handed to the running server link, left out.
UnsentPoints collectUnsentPoints(const QString &folder, const QSet<QString> &inFlight,
                                 bool includeSkipped);
