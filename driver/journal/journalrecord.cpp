#include "journalrecord.h"

#include <QLocale>
#include <QStringList>

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

// Splits one CSV line; false on a quote inside an unquoted field or an
// unterminated quoted one.
bool splitFields(const QString &line, QStringList *fields)
{
    fields->clear();
    QString field;
    int i = 0;
    const int n = line.size();
    while (true) {
        field.clear();
        if (i < n && line[i] == QLatin1Char('"')) {
            ++i;
            while (true) {
                if (i >= n)
                    return false;
                if (line[i] == QLatin1Char('"')) {
                    if (i + 1 < n && line[i + 1] == QLatin1Char('"')) {
                        field += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < n && line[i] != QLatin1Char(','))
                return false;
        } else {
            while (i < n && line[i] != QLatin1Char(',')) {
                if (line[i] == QLatin1Char('"'))
                    return false;
                field += line[i++];
            }
        }
        fields->append(field);
        if (i >= n)
            return true;
        ++i; // the comma
    }
}

bool toDouble(const QString &text, double *v)
{
    bool ok = false;
    *v = text.toDouble(&ok); // C locale: a dot, never a comma
    return ok;
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

bool decodeJournalRecord(const QByteArray &bytes, JournalRecord *out)
{
    QString line = QString::fromUtf8(bytes);
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    if (line.startsWith(QChar(0xFEFF)))
        line.remove(0, 1);
    QStringList f;
    if (!splitFields(line, &f) || f.size() != columnCount)
        return false;

    JournalRecord r;
    if (f[0] == QLatin1String("point"))
        r.kind = JournalRecord::Point;
    else if (f[0] == QLatin1String("state"))
        r.kind = JournalRecord::StateChange;
    else
        return false;
    r.id = f[1];
    r.timeUtc = QDateTime::fromString(f[2], Qt::ISODateWithMs);
    if (r.id.isEmpty() || !r.timeUtc.isValid() || !journalStateFromName(f[13], &r.state))
        return false;
    r.point.sessionName = f[3];
    r.point.groupName = f[4];
    r.point.pointName = f[5];
    if (r.kind == JournalRecord::Point) {
        bool edmOk = false;
        r.edmMode = f[9].toInt(&edmOk);
        if (!edmOk || !toDouble(f[6], &r.hzAngle) || !toDouble(f[7], &r.vAngle)
            || !toDouble(f[8], &r.slopeDistance) || !toDouble(f[10], &r.point.x)
            || !toDouble(f[11], &r.point.y) || !toDouble(f[12], &r.point.z))
            return false;
    }
    *out = r;
    return true;
}
