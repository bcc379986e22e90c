#pragma once
// One line of the observation journal and its CSV form.
//
// A journal file is plain CSV (RFC 4180: comma separated, fields with a
// comma or a double quote quoted, quotes doubled), UTF-8 with a byte order
// mark, CR LF line ends, headed by journalHeader(). Two kinds of line:
//   point  a measured point: every column filled;
//   state  a later delivery state of the point with the same id: id, time,
//          the three names and the state; the measurement columns are empty.
// Lines are only ever appended; the last line of an id tells its state.
// Numbers use a dot as decimal separator; angles are radians as the
// instrument reports them (the vertical one is the zenith angle), distances
// and coordinates metres.

#include <QDateTime>
#include <QString>

#include "types.h"

enum class JournalState {
    Unsent,    // no server link, the send was refused, or the link ended first
    Sent,      // handed to the server link, the server's answer not yet seen
    Confirmed, // the server answered the point (message 2)
    Skipped,   // the operator chose not to send it when offered
};

QString journalStateName(JournalState state);
bool journalStateFromName(const QString &name, JournalState *state);

struct JournalRecord {
    enum Kind { Point, StateChange };
    Kind kind = Point;
    QString id;        // unique across journal files
    QDateTime timeUtc; // when the line was written
    MeasuringPoint point;
    double hzAngle = 0.0;
    double vAngle = 0.0;
    double slopeDistance = 0.0;
    int edmMode = 0;   // 1 to 14; 0 when unknown
    JournalState state = JournalState::Unsent;
};

// The column names, in order, without the line end.
QString journalHeader();

// One line with its CR LF. Line breaks inside names are written as spaces,
// so that every record is one line.
QByteArray encodeJournalRecord(const JournalRecord &record);

// Decodes one line (its line end may be present). False for a line that is
// not a complete record: wrong column count, unknown kind or state, a number
// that does not parse, an empty id, an unquoted field with a quote.
bool decodeJournalRecord(const QByteArray &line, JournalRecord *record);

// The same decoding for readers of many lines: the time as milliseconds
// since the epoch (UTC), and on state lines the names are checked but not
// kept. Accepts and refuses exactly the lines decodeJournalRecord does.
struct JournalLine {
    JournalRecord::Kind kind = JournalRecord::Point;
    QString id;
    qint64 timeMs = 0;
    MeasuringPoint point; // names and coordinates: point lines only
    double hzAngle = 0.0;
    double vAngle = 0.0;
    double slopeDistance = 0.0;
    int edmMode = 0;
    JournalState state = JournalState::Unsent;
};
bool decodeJournalLine(const char *data, int size, JournalLine *line);
