#include "journalrecord.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

const int columnCount = 14;

const char *const stateNames[] = {"unsent", "sent", "confirmed", "skipped"};

QString csvField(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Shortest text that reads back as the same double, never in exponent form.
QString number(double v)
{
    return QString::number(v, 'f', QLocale::FloatingPointShortest);
}

const char bom[] = "\xEF\xBB\xBF";

struct Field {
    const char *data;
    int size;
    bool is(const char *text) const
    {
        return int(qstrlen(text)) == size && memcmp(data, text, size_t(size)) == 0;
    }
};

// Splits one CSV line into exactly columnCount fields; false on another
// count, a quote inside an unquoted field or an unterminated quoted one.
// Quoted fields with doubled quotes are unescaped into `store`. Splitting
// the bytes is splitting the text: commas and quotes are ASCII, and no byte
// of a multi-byte UTF-8 sequence is.
bool splitFields(const char *s, int n, Field *fields, QByteArray *store)
{
    int i = 0;
    for (int k = 0;; ++k) {
        if (k == columnCount)
            return false;
        if (i < n && s[i] == '"') {
            const int start = ++i;
            bool doubled = false;
            for (;; ++i) {
                if (i >= n)
                    return false;
                if (s[i] == '"') {
                    if (i + 1 < n && s[i + 1] == '"') {
                        doubled = true;
                        ++i;
                        continue;
                    }
                    break;
                }
            }
            if (doubled) {
                store[k] = QByteArray(s + start, i - start).replace("\"\"", "\"");
                fields[k] = {store[k].constData(), store[k].size()};
            } else {
                fields[k] = {s + start, i - start};
            }
            ++i; // the closing quote
            if (i < n && s[i] != ',')
                return false;
        } else {
            const int start = i;
            for (; i < n && s[i] != ','; ++i)
                if (s[i] == '"')
                    return false;
            fields[k] = {s + start, i - start};
        }
        if (i >= n)
            return k + 1 == columnCount;
        ++i; // the comma
    }
}

// The field's text. A byte order mark that begins a field stays (only the
// line's first one is not text), as it does when the whole line is decoded.
QString text(const Field &f)
{
    if (f.size >= 3 && memcmp(f.data, bom, 3) == 0)
        return QString::fromUtf8(QByteArray(bom) + QByteArray(f.data, f.size));
    return QString::fromUtf8(f.data, f.size);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits, or digits point digits, with an optional minus: the form the
// journal writes. Anything else is left to QString's reading.
bool plainDecimal(const Field &f)
{
    int i = f.size > 0 && f.data[0] == '-' ? 1 : 0;
    const int intStart = i;
    while (i < f.size && isDigit(f.data[i]))
        ++i;
    if (i == intStart)
        return false;
    if (i == f.size)
        return true;
    if (f.data[i] != '.')
        return false;
    const int fracStart = ++i;
    while (i < f.size && isDigit(f.data[i]))
        ++i;
    return i == f.size && i > fracStart;
}

bool toDouble(const Field &f, double *v)
{
    if (plainDecimal(f) && f.size < 64) {
        // Correctly rounded, as QString's reading is.
        const auto r = std::from_chars(f.data, f.data + f.size, *v);
        if (r.ec == std::errc() && r.ptr == f.data + f.size)
            return true;
    }
    bool ok = false;
    *v = text(f).toDouble(&ok); // C locale: a dot, never a comma
    return ok;
}

bool toInt(const Field &f, int *v)
{
    if (f.size > 0 && f.size <= 9 && std::all_of(f.data, f.data + f.size, isDigit)) {
        int n = 0;
        for (int i = 0; i < f.size; ++i)
            n = n * 10 + (f.data[i] - '0');
        *v = n;
        return true;
    }
    bool ok = false;
    *v = text(f).toInt(&ok);
    return ok;
}

int digits(const char *p, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (!isDigit(p[i]))
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// The time as Qt::ISODateWithMs reads it, in milliseconds since the epoch.
// The form the journal writes (2024-05-01T10:00:00.123Z) is read directly;
// any other is left to QDateTime.
bool toTime(const Field &f, qint64 *ms)
{
    const char *p = f.data;
    if (f.size == 24 && p[4] == '-' && p[7] == '-' && p[10] == 'T' && p[13] == ':' && p[16] == ':'
        && p[19] == '.' && p[23] == 'Z') {
        const int year = digits(p, 4), month = digits(p + 5, 2), day = digits(p + 8, 2);
        const int hour = digits(p + 11, 2), minute = digits(p + 14, 2), second = digits(p + 17, 2);
        const int milli = digits(p + 20, 3);
        if (year >= 0 && month >= 0 && day >= 0 && hour >= 0 && hour < 24 && minute >= 0
            && second >= 0 && milli >= 0 && QDate::isValid(year, month, day)
            && QTime::isValid(hour, minute, second, milli)) {
            const qint64 days = QDate(year, month, day).toJulianDay() - QDate(1970, 1, 1).toJulianDay();
            *ms = ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + milli;
            return true;
        }
    }
    const QDateTime t = QDateTime::fromString(text(f), Qt::ISODateWithMs);
    if (!t.isValid())
        return false;
    *ms = t.toMSecsSinceEpoch();
    return true;
}

} // namespace

QString journalStateName(JournalState state)
{
    return QString::fromLatin1(stateNames[int(state)]);
}

bool journalStateFromName(const QString &name, JournalState *state)
{
    for (int i = 0; i < 4; ++i) {
        if (name == QLatin1String(stateNames[i])) {
            *state = JournalState(i);
            return true;
        }
    }
    return false;
}

QString journalHeader()
{
    return QStringLiteral("record,id,time_utc,session,group,point,hz_rad,v_rad,slope_m,edm_mode,x,y,z,state");
}

QByteArray encodeJournalRecord(const JournalRecord &r)
{
    const bool point = r.kind == JournalRecord::Point;
    QStringList f;
    f.reserve(columnCount);
    f << (point ? QStringLiteral("point") : QStringLiteral("state")) << csvField(r.id)
      << r.timeUtc.toUTC().toString(Qt::ISODateWithMs) << csvField(r.point.sessionName)
      << csvField(r.point.groupName) << csvField(r.point.pointName);
    if (point)
        f << number(r.hzAngle) << number(r.vAngle) << number(r.slopeDistance)
          << QString::number(r.edmMode) << number(r.point.x) << number(r.point.y) << number(r.point.z);
    else
        f << QString() << QString() << QString() << QString() << QString() << QString() << QString();
    f << journalStateName(r.state);
    return (f.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

namespace {

// State lines' names are read only when `stateNames` is set.
bool decodeLine(const char *data, int size, JournalLine *out, bool stateLineNames)
{
    // Up to two byte order marks: the text decoder drops the first.
    for (int i = 0; i < 2 && size >= 3 && memcmp(data, bom, 3) == 0; ++i) {
        data += 3;
        size -= 3;
    }
    while (size > 0 && (data[size - 1] == '\n' || data[size - 1] == '\r'))
        --size;
    Field f[columnCount];
    QByteArray store[columnCount];
    if (!splitFields(data, size, f, store))
        return false;

    JournalLine r;
    if (f[0].is("point"))
        r.kind = JournalRecord::Point;
    else if (f[0].is("state"))
        r.kind = JournalRecord::StateChange;
    else
        return false;
    bool known = false;
    for (int i = 0; i < 4 && !known; ++i) {
        if (f[13].is(stateNames[i])) {
            r.state = JournalState(i);
            known = true;
        }
    }
    if (!known || f[1].size == 0 || !toTime(f[2], &r.timeMs))
        return false;
    const bool point = r.kind == JournalRecord::Point;
    if (point
        && (!toDouble(f[6], &r.hzAngle) || !toDouble(f[7], &r.vAngle)
            || !toDouble(f[8], &r.slopeDistance) || !toInt(f[9], &r.edmMode)
            || !toDouble(f[10], &r.point.x) || !toDouble(f[11], &r.point.y)
            || !toDouble(f[12], &r.point.z)))
        return false;
    r.id = text(f[1]);
    if (point || stateLineNames) {
        r.point.sessionName = text(f[3]);
        r.point.groupName = text(f[4]);
        r.point.pointName = text(f[5]);
    }
    *out = std::move(r);
    return true;
}

} // namespace

bool decodeJournalLine(const char *data, int size, JournalLine *out)
{
    return decodeLine(data, size, out, false);
}

bool decodeJournalRecord(const QByteArray &bytes, JournalRecord *out)
{
    JournalLine line;
    if (!decodeLine(bytes.constData(), bytes.size(), &line, true))
        return false;
    JournalRecord r;
    r.kind = line.kind;
    r.id = line.id;
    r.timeUtc = QDateTime::fromMSecsSinceEpoch(line.timeMs, Qt::UTC);
    r.point = line.point;
    r.hzAngle = line.hzAngle;
    r.vAngle = line.vAngle;
    r.slopeDistance = line.slopeDistance;
    r.edmMode = line.edmMode;
    r.state = line.state;
    *out = r;
    return true;
}
