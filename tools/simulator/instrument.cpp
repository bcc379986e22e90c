#include "instrument.h"

#include "timing.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

double wrap2Pi(double a)
{
    a = std::fmod(a, 2 * kPi);
    return a < 0 ? a + 2 * kPi : a;
}

} // namespace

Instrument::Instrument() : lastUpdate(nowSeconds()) {}

QString Instrument::respond(int rpc, const QStringList &params)
{
    update();
    finishSingleMeasurement();
    return answer(rpc, params);
}

void Instrument::aimAtFirstTarget()
{
    if (targets.isEmpty())
        return;
    double d;
    polar(targets.first(), &hz, &v, &d);
}

void Instrument::polar(const Target &t, double *h, double *zen, double *d) const
{
    const double dx = t.x - sx, dy = t.y - sy, dz = t.z - sz;
    const double c = std::cos(orientation), s = std::sin(orientation);
    const double lx = c * dx + s * dy, ly = -s * dx + c * dy, lz = dz;
    *d = std::sqrt(lx * lx + ly * ly + lz * lz);
    *h = wrap2Pi(std::atan2(clockwise ? -ly : ly, lx));
    *zen = *d > 0 ? std::acos(lz / *d) : 0;
}

double Instrument::separation(double h1, double v1, double h2, double v2)
{
    const double a[3] = {std::sin(v1) * std::cos(h1), std::sin(v1) * std::sin(h1), std::cos(v1)};
    const double b[3] = {std::sin(v2) * std::cos(h2), std::sin(v2) * std::sin(h2), std::cos(v2)};
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    return std::acos(std::max(-1.0, std::min(1.0, dot)));
}

// The target nearest the line of sight, or -1 when none is within `tol`.
int Instrument::nearestTarget(double tol) const
{
    int best = -1;
    double bestSep = tol;
    for (int i = 0; i < targets.size(); ++i) {
        double h, zen, d;
        polar(targets[i], &h, &zen, &d);
        const double sep = separation(hz, v, h, zen);
        if (sep <= bestSep) {
            bestSep = sep;
            best = i;
        }
    }
    return best;
}

bool Instrument::distanceNow(double *d) const
{
    const int t = nearestTarget(aimTolerance);
    if (t < 0)
        return false;
    double h, zen;
    polar(targets[t], &h, &zen, d);
    return true;
}

void Instrument::update()
{
    const double now = nowSeconds();
    if (controller && (velH != 0 || velV != 0)) {
        hz = wrap2Pi(hz + velH * (now - lastUpdate));
        v = wrap2Pi(v + velV * (now - lastUpdate));
    }
    lastUpdate = now;
    if (tracking && !hasDistance && (now - lastClear) * 1000.0 >= trackIntervalMs) {
        double d;
        if (distanceNow(&d)) {
            hasDistance = true;
            distance = d;
        }
    }
}

// Fixed-point as an instrument writes it: 16 significant digits, at most
// 15 decimals, no exponent, trailing zeros left off.
QString Instrument::num(double x)
{
    if (!std::isfinite(x))
        return QStringLiteral("0");
    const double a = std::fabs(x);
    const int decimals = a >= 1 ? std::max(0, 15 - int(std::floor(std::log10(a)))) : 15;
    QString s = QString::number(x, 'f', decimals);
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.')))
            s.chop(1);
    }
    return s == QLatin1String("-0") ? QStringLiteral("0") : s;
}

// Time a single distance takes in the current EDM mode, unless
// --measure-delay fixes it.
int Instrument::measureTimeMs() const
{
    if (measureDelayMs >= 0)
        return measureDelayMs;
    switch (edmMode) {
    case 3:  // single fast
        return 800;
    case 6:  // continuous modes
    case 7:
    case 8:
    case 9:
        return 300;
    case 4:  // long range, averaging, precise
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
        return 3000;
    default:  // standard, tape, reflectorless
        return 2000;
    }
}

// A TMC_DoMeasure single distance: ready after the measuring time.
void Instrument::startSingleMeasurement()
{
    singleDueAt = nowSeconds() + measureTimeMs() / 1000.0;
    finishSingleMeasurement();
}

void Instrument::finishSingleMeasurement()
{
    if (singleDueAt <= 0 || nowSeconds() < singleDueAt)
        return;
    singleDueAt = 0;
    double d;
    if (distanceNow(&d)) {
        hasDistance = true;
        distance = d;
    }
}

QString Instrument::quoted(const QString &s) const
{
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('~'))
            out += QLatin1Char('\\') + QString(c);
        else if (u < 0x20 || u > 0x7e)
            out += QStringLiteral("\\x%1").arg(u & 0xff, 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString Instrument::answer(int rpc, const QStringList &p)
{
    auto intParam = [&](int i, int def) { return i < p.size() ? p[i].trimmed().toInt() : def; };
    auto dblParam = [&](int i, double def) { return i < p.size() ? p[i].trimmed().toDouble() : def; };
    const bool previousDelivered = lastDelivered;
    lastDelivered = false;
    double d = 0;
    switch (rpc) {
    case 0:  // COM_NullProc
        return QStringLiteral("0");
    case 1004:
        laser = intParam(0, 0) != 0;
        return QStringLiteral("0");
    case 2008: {
        const int cmd = intParam(0, 0);
        static const QVector<int> commands = {0, 1, 2, 3, 4, 6, 8, 10, 11};
        if (!commands.contains(cmd))
            return QStringLiteral("2");
        singleDueAt = 0;
        switch (cmd) {
        case 0:   // stop
        case 4:   // signal strength only
        case 11:  // frequency only
            tracking = false;
            clearDistance();
            break;
        case 1:
        case 6:
            tracking = false;
            clearDistance();
            startSingleMeasurement();
            break;
        case 2:
        case 8:
        case 10:
            tracking = true;
            clearDistance();
            lastClear -= trackIntervalMs / 1000.0;  // first distance at once
            break;
        case 3:
            if (!previousDelivered)
                tracking = false;
            clearDistance();
            break;
        }
        return QStringLiteral("0");
    }
    case 2020: {
        const int mode = intParam(0, -1);
        if (mode < 1 || mode > 14)
            return QStringLiteral("2");
        edmMode = mode;
        return QStringLiteral("0");
    }
    case 2021:
        return QStringLiteral("0,%1").arg(edmMode);
    case 2107:
        return QStringLiteral("0,%1,%2").arg(num(hz), num(v));
    case 2108: {
        const int wait = intParam(0, 0);
        if (singleDueAt > 0 && wait > 0) {
            sleepMs(std::min(wait, int((singleDueAt - nowSeconds()) * 1000.0) + 1));
            update();
            finishSingleMeasurement();
        }
        if (!hasDistance)
            return QStringLiteral("1285,%1,%2,0").arg(num(hz), num(v));
        lastDelivered = true;
        return QStringLiteral("0,%1,%2,%3").arg(num(hz), num(v), num(distance));
    }
    case 2117:
        tracking = true;
        clearDistance();
        if (distanceNow(&d))
            return QStringLiteral("0,%1,%2,%3").arg(num(hz), num(v), num(d));
        return QStringLiteral("1292,%1,%2,0").arg(num(hz), num(v));
    case 5003:
        return QStringLiteral("0,%1").arg(serial);
    case 5004:
        return QStringLiteral("0,") + quoted(name);
    case 5011:
        return QStringLiteral("0,%1").arg(num(temperature));
    case 6001:
        if (intParam(0, -1) != 1)
            return QStringLiteral("2");
        if (controller)
            return QStringLiteral("1793");  // busy
        controller = true;
        velH = velV = 0;
        return QStringLiteral("0");
    case 6002:
        if (!controller)
            return QStringLiteral("1798");  // nothing to stop
        controller = false;
        velH = velV = 0;
        return QStringLiteral("0");
    case 6004: {
        if (!controller)
            return QStringLiteral("1794");
        const double h = dblParam(0, 0), vv = dblParam(1, 0);
        if (std::fabs(h) > kPi || std::fabs(vv) > kPi)
            return QStringLiteral("2");
        velH = h;
        velV = vv;
        locked = false;
        return QStringLiteral("0");
    }
    case 9013:
        if (!userLock)
            return QStringLiteral("8714");
        if (nearestTarget(aimTolerance) < 0)
            return QStringLiteral("8710");
        locked = true;
        return QStringLiteral("0");
    case 9037: {
        const double hr = dblParam(0, 0.1), vr = dblParam(1, 0.1);
        int best = -1;
        double bestSep = 1e9;
        for (int i = 0; i < targets.size(); ++i) {
            double h, zen, dist;
            polar(targets[i], &h, &zen, &dist);
            double dh = std::fabs(wrap2Pi(h - hz));
            dh = std::min(dh, 2 * kPi - dh);
            if (dh > hr || std::fabs(zen - v) > vr)
                continue;
            const double sep = separation(hz, v, h, zen);
            if (sep < bestSep) {
                bestSep = sep;
                best = i;
            }
        }
        if (best < 0)
            return QStringLiteral("8710");
        polar(targets[best], &hz, &v, &d);
        return QStringLiteral("0");
    }
    case 17017: {
        const int mode = intParam(0, 2);
        switch (mode) {
        case 0:  // no measurement: the angles and the last distance
            return QStringLiteral("0,%1,%2,%3,0").arg(num(hz), num(v), num(hasDistance ? distance : 0));
        case 1:  // angles only
            return QStringLiteral("0,%1,%2,0,1").arg(num(hz), num(v));
        case 5:  // clear the distance
        case 6:  // stop tracking
            if (mode == 6)
                tracking = false;
            singleDueAt = 0;
            clearDistance();
            return QStringLiteral("0,%1,%2,0,%3").arg(num(hz), num(v)).arg(mode);
        case 2:
            break;
        default:
            return QStringLiteral("2");
        }
        sleepMs(measureTimeMs());
        update();
        if (!distanceNow(&d))
            return QStringLiteral("1292,%1,%2,0,%3").arg(num(hz), num(v)).arg(mode);
        tracking = false;
        hasDistance = true;
        distance = d;
        return QStringLiteral("0,%1,%2,%3,%4").arg(num(hz), num(v), num(d)).arg(mode);
    }
    case 18007:
        userLock = intParam(0, 0) != 0;
        if (!userLock)
            locked = false;
        return QStringLiteral("0");
    default:
        return QStringLiteral("5");
    }
}

void Instrument::clearDistance()
{
    hasDistance = false;
    lastClear = nowSeconds();
}

bool loadScene(const QString &path, QVector<Target> *targets, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot open scene %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream in(&file);
    int lineNo = 0;
    targets->clear();
    static const QRegularExpression sep(QStringLiteral("[\\s,;]+"));
    while (!in.atEnd()) {
        ++lineNo;
        QString line = in.readLine();
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QStringList f = line.split(sep, Qt::SkipEmptyParts);
        bool ok[3] = {false, false, false};
        Target t;
        if (f.size() == 4) {
            t.name = f[0];
            t.x = f[1].toDouble(&ok[0]);
            t.y = f[2].toDouble(&ok[1]);
            t.z = f[3].toDouble(&ok[2]);
        }
        if (f.size() != 4 || !ok[0] || !ok[1] || !ok[2]) {
            *error = QStringLiteral("%1:%2: expected \"name x y z\"").arg(path).arg(lineNo);
            return false;
        }
        targets->append(t);
    }
    if (targets->isEmpty()) {
        *error = QStringLiteral("scene %1 has no targets").arg(path);
        return false;
    }
    return true;
}
