// stadiolink-sim: a motorised GeoCOM total station on a pseudo-terminal.
//
// Opens a pty, prints the path of its terminal side as the first line of
// stdout and answers GeoCOM ASCII requests until it is terminated. The
// instrument stands at a known station in a scene of named 3D targets, so a
// caller knows the truth behind every measurement.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

const double kPi = 3.14159265358979323846;

volatile std::sig_atomic_t g_quit = 0;
void onSignal(int) { g_quit = 1; }

double nowSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Sleeps in short slices so that SIGINT or SIGTERM ends a long measurement
// at once.
void sleepMs(int ms)
{
    const double end = nowSeconds() + ms / 1000.0;
    for (double left = ms / 1000.0; left > 0 && !g_quit; left = end - nowSeconds())
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, 0.02)));
}

// CRC-16/ARC (polynomial 0x8005 reflected, initial value 0), the checksum of
// GeoCOM's optional checksum field, over the frame without that field.
quint16 crc16(const QByteArray &bytes)
{
    quint16 crc = 0;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

double wrap2Pi(double a)
{
    a = std::fmod(a, 2 * kPi);
    return a < 0 ? a + 2 * kPi : a;
}

struct Target {
    QString name;
    double x, y, z;
};

struct Fault {
    int rpc = -1;          // -1: any request
    QString kind;          // silent garbage split short close error delay
    int value = 0;         // error code or delay
    int count = -1;        // remaining uses, -1 unlimited
};

const char *kHelp =
    "A simulated motorised total station speaking GeoCOM ASCII on a pseudo-terminal.\n"
    "\n"
    "The first line on stdout is the path of the terminal to open as the serial\n"
    "port (baud rate and framing do not matter). The instrument answers until it\n"
    "gets SIGINT or SIGTERM.\n"
    "\n"
    "Geometry: the instrument stands at the station (x,y,z) of the scene. Its\n"
    "horizontal circle reads Hz = 0 along the station's orientation angle (radians,\n"
    "counter-clockwise from the scene's x axis) and, as on a real instrument, Hz\n"
    "grows clockwise seen from above (--counter-clockwise turns that round); V is\n"
    "the zenith angle. A target at slope distance d, Hz, V is therefore at\n"
    "  x = d sin V cos Hz, y = -d sin V sin Hz, z = d cos V\n"
    "in the scene frame turned by the orientation and shifted to the station\n"
    "(y = +d sin V sin Hz when counter-clockwise). A positive Hz velocity makes Hz\n"
    "grow. The telescope starts aimed at the first target.\n"
    "\n"
    "Requests answered: 0 null procedure, 1004 laser pointer, 2008 DoMeasure (0\n"
    "stop, 1/6 distance, 2/8/10 tracking, 3 clear, 4 signal, 11 frequency),\n"
    "2020/2021 EDM mode set/get (1-14), 2107 angles, 2108 simple measurement\n"
    "(return code 1285 with the angles while no distance exists; a wait time waits\n"
    "for a distance in progress), 2117 quick distance (starts tracking: a fresh\n"
    "distance every --track-interval ms), 5003 serial number, 5004 instrument name\n"
    "(quoted), 5011 temperature, 6001/6002 motor controller start/stop (1793 when\n"
    "already started, 1798 when not started), 6004 velocities (rad/s, |v| <= pi;\n"
    "turn the telescope while the controller runs), 9013 lock-in, 9037 fine adjust\n"
    "(snaps to the target nearest the line of sight within the search ranges),\n"
    "17017 distance and angles (mode 0 last values, 1 angles only, 2 distance, 5\n"
    "clear the distance, 6 stop tracking; mode echoed), 18007 user lock state.\n"
    "A distance exists only while a target lies within --aim-tolerance of the line\n"
    "of sight. A DoMeasure 3 right after a 2108 that delivered a distance only\n"
    "clears that distance (tracking goes on); any other DoMeasure 3 also stops\n"
    "tracking. Unknown requests get return code 5 (not implemented).\n"
    "\n"
    "Timing is a real instrument's unless --fast is given: every answer takes\n"
    "--delay ms and a single distance the time of its EDM mode (about 2 s in\n"
    "standard mode), during which the instrument reads nothing.\n"
    "\n"
    "Framing: %R1Q,<rpc>[,<trid>[,<crc>]]:<params>. The reply carries the request's\n"
    "transaction id (0 without one) and, when the request had a checksum field, its\n"
    "own: %R1P,<com>,<trid>,<crc>:<rc>,... The checksum is CRC-16/ARC over the line\n"
    "without the field and without CR LF, in decimal; a request whose checksum does\n"
    "not match is answered with 3101. Numbers go out in fixed-point notation.";

class Instrument
{
public:
    QVector<Target> targets;
    double sx = 0, sy = 0, sz = 0, orientation = 0;
    double aimTolerance = 0.01;
    bool clockwise = true;  // Hz grows clockwise seen from above
    int delayMs = 30;
    int measureDelayMs = -1;  // -1: the time of the EDM mode
    int trackIntervalMs = 100;
    int serial = 1234567;
    QString name = QStringLiteral("TS16 R500 (simulated)");
    double temperature = 21.3;
    QVector<Fault> faults;
    FILE *log = nullptr;
    bool verbose = false;
    int master = -1;

    void aimAtFirstTarget()
    {
        if (targets.isEmpty())
            return;
        double d;
        polar(targets.first(), &hz, &v, &d);
    }

    // Instrument-frame polar coordinates of a scene point.
    void polar(const Target &t, double *h, double *zen, double *d) const
    {
        const double dx = t.x - sx, dy = t.y - sy, dz = t.z - sz;
        const double c = std::cos(orientation), s = std::sin(orientation);
        const double lx = c * dx + s * dy, ly = -s * dx + c * dy, lz = dz;
        *d = std::sqrt(lx * lx + ly * ly + lz * lz);
        *h = wrap2Pi(std::atan2(clockwise ? -ly : ly, lx));
        *zen = *d > 0 ? std::acos(lz / *d) : 0;
    }

    static double separation(double h1, double v1, double h2, double v2)
    {
        const double a[3] = {std::sin(v1) * std::cos(h1), std::sin(v1) * std::sin(h1), std::cos(v1)};
        const double b[3] = {std::sin(v2) * std::cos(h2), std::sin(v2) * std::sin(h2), std::cos(v2)};
        const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
        return std::acos(std::max(-1.0, std::min(1.0, dot)));
    }

    // The target nearest the line of sight, or -1 when none is within `tol`.
    int nearestTarget(double tol) const
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

    bool distanceNow(double *d) const
    {
        const int t = nearestTarget(aimTolerance);
        if (t < 0)
            return false;
        double h, zen;
        polar(targets[t], &h, &zen, d);
        return true;
    }

    // Moves the telescope by the velocities since the last update.
    void update()
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

    void writeAll(const QByteArray &bytes)
    {
        const char *p = bytes.constData();
        qint64 left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(master, p, size_t(left));
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    sleepMs(1);
                    continue;
                }
                return;
            }
            p += n;
            left -= n;
        }
    }

    // Fixed-point as an instrument writes it: 16 significant digits, at most
    // 15 decimals, no exponent, trailing zeros left off.
    static QString num(double x)
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
    int measureTimeMs() const
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
    void startSingleMeasurement()
    {
        singleDueAt = nowSeconds() + measureTimeMs() / 1000.0;
        finishSingleMeasurement();
    }

    void finishSingleMeasurement()
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

    // Handles one request line; returns false when the port is to be closed.
    bool handleLine(const QByteArray &raw)
    {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.isEmpty())
            return true;
        if (log) {
            std::fprintf(log, "%s\n", line.toLatin1().constData());
            std::fflush(log);
        }
        if (verbose)
            std::fprintf(stderr, "sim < %s\n", line.toLatin1().constData());

        // %R1Q,<rpc>[,<trid>[,<crc>]]:<params>
        static const QRegularExpression re(QStringLiteral("^%R1Q,(\\d+)(?:,(\\d+)(?:,(\\d+))?)?:(.*)$"));
        const QRegularExpressionMatch m = re.match(line);
        if (!m.hasMatch()) {
            reply(QStringLiteral("%R1P,3074,0:3074"));  // cannot decode
            return true;
        }
        const int rpc = m.captured(1).toInt();
        const QString trId = m.captured(2).isEmpty() ? QStringLiteral("0") : m.captured(2);
        const bool withCrc = !m.captured(3).isEmpty();
        if (withCrc) {
            const QString unsignedLine = line.left(m.capturedStart(3) - 1) + line.mid(m.capturedEnd(3));
            if (m.captured(3).toUInt() != crc16(unsignedLine.toLatin1())) {
                reply(frame(3101, trId, QStringLiteral("3101"), true));  // checksum wrong at the instrument
                return true;
            }
        }
        const QString paramText = m.captured(4).trimmed();
        const QStringList params = paramText.isEmpty() ? QStringList() : paramText.split(QLatin1Char(','));

        Fault *fault = nullptr;
        for (Fault &f : faults) {
            if ((f.rpc == -1 || f.rpc == rpc) && f.count != 0) {
                fault = &f;
                if (f.count > 0)
                    --f.count;
                break;
            }
        }
        const QString kind = fault ? fault->kind : QString();
        if (kind == QLatin1String("close"))
            return false;
        if (kind == QLatin1String("silent"))
            return true;
        if (kind == QLatin1String("garbage")) {
            writeAll(QByteArray("\x07?#garbage!@\r\n"));
            return true;
        }
        if (kind == QLatin1String("error")) {
            reply(frame(0, trId, QString::number(fault->value), withCrc));
            return true;
        }

        update();
        finishSingleMeasurement();
        QString body = answer(rpc, params);
        lastRpc = rpc;
        if (kind == QLatin1String("short")) {
            const int comma = body.lastIndexOf(QLatin1Char(','));
            if (comma >= 0)
                body.truncate(comma);
        }
        const QString text = frame(0, trId, body, withCrc);
        sleepMs(delayMs);
        if (kind == QLatin1String("delay"))
            sleepMs(fault->value);
        if (kind == QLatin1String("split")) {
            const QByteArray bytes = (text + QStringLiteral("\r\n")).toLatin1();
            const int half = bytes.size() / 2;
            writeAll(bytes.left(half));
            sleepMs(250);
            writeAll(bytes.mid(half));
            if (verbose)
                std::fprintf(stderr, "sim > %s (split)\n", text.toLatin1().constData());
            return true;
        }
        reply(text);
        return true;
    }

    // One reply line without its CR LF: %R1P,<com>,<trid>[,<crc>]:<body>,
    // the checksum field only when the request carried one.
    static QString frame(int comRc, const QString &trId, const QString &body, bool withCrc)
    {
        const QString head = QStringLiteral("%R1P,%1,%2").arg(comRc).arg(trId);
        const QString tail = QLatin1Char(':') + body;
        if (!withCrc)
            return head + tail;
        return head + QLatin1Char(',') + QString::number(crc16((head + tail).toLatin1())) + tail;
    }

    void reply(const QString &text)
    {
        if (verbose)
            std::fprintf(stderr, "sim > %s\n", text.toLatin1().constData());
        writeAll((text + QStringLiteral("\r\n")).toLatin1());
    }

    QString quoted(const QString &s) const
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

    QString answer(int rpc, const QStringList &p)
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

    void clearDistance()
    {
        hasDistance = false;
        lastClear = nowSeconds();
    }

private:
    double hz = 0, v = kPi / 2;
    bool controller = false;
    double velH = 0, velV = 0;
    double lastUpdate = nowSeconds();
    bool tracking = false;
    bool hasDistance = false;
    double distance = 0;
    double lastClear = 0;
    double singleDueAt = 0;  // a TMC_DoMeasure distance in progress
    bool lastDelivered = false;
    int lastRpc = 0;
    int edmMode = 2;
    bool laser = false;
    bool userLock = false;
    bool locked = false;
};

bool parseList(const QString &text, int n, double *out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != n)
        return false;
    for (int i = 0; i < n; ++i) {
        bool ok = false;
        out[i] = parts[i].trimmed().toDouble(&ok);
        if (!ok)
            return false;
    }
    return true;
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

bool parseFault(const QString &text, Fault *f)
{
    // <rpc|any>:<kind>[=<value>][:<count>]
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    bool ok = true;
    f->rpc = parts[0] == QLatin1String("any") ? -1 : parts[0].toInt(&ok);
    if (!ok)
        return false;
    QString kind = parts[1];
    const int eq = kind.indexOf(QLatin1Char('='));
    if (eq >= 0) {
        f->value = kind.mid(eq + 1).toInt(&ok);
        if (!ok)
            return false;
        kind.truncate(eq);
    }
    static const QStringList kinds = {"silent", "garbage", "split", "short", "close", "error", "delay"};
    if (!kinds.contains(kind))
        return false;
    if ((kind == QLatin1String("error") || kind == QLatin1String("delay")) && eq < 0)
        return false;
    f->kind = kind;
    if (parts.size() == 3) {
        f->count = parts[2].toInt(&ok);
        if (!ok || f->count < 1)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("stadiolink-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kHelp));
    parser.addHelpOption();
    const QCommandLineOption sceneOpt("scene", "Scene file: one target a line, \"name x y z\" (blanks, commas or semicolons between; # starts a comment). Default: T1 10,5,1.2  T2 -8,12,0.5  T3 -15,-6,2  T4 20,-10,-0.8.", "file");
    const QCommandLineOption stationOpt("station", "Station position and orientation: x,y,z,orientation (metres, radians). Default 0,0,0,0.", "x,y,z,o", "0,0,0,0");
    const QCommandLineOption ccwOpt("counter-clockwise", "Count the horizontal angle counter-clockwise seen from above (default: clockwise, as real instruments do).");
    parser.addOption(ccwOpt);
    const QCommandLineOption delayOpt("delay", "Answer delay of every request in ms (default 30, with --fast 0).", "ms");
    const QCommandLineOption measOpt("measure-delay", "Time a single distance measurement (17017 mode 2, 2008 1 or 6) takes on top of the answer delay, in ms, whatever the EDM mode. Default: as the EDM mode, 2000 standard, 800 fast, 300 continuous, 3000 long range, averaging and precise; with --fast 0.", "ms");
    const QCommandLineOption fastOpt("fast", "No answer delay and no measuring time, for tests that do not care about timing; --delay and --measure-delay still apply when given.");
    const QCommandLineOption trackOpt("track-interval", "Time between tracking distances in ms (default 100).", "ms", "100");
    const QCommandLineOption tolOpt("aim-tolerance", "Largest angle in radians between the line of sight and a target that still returns its distance (default 0.01).", "rad", "0.01");
    const QCommandLineOption serialOpt("serial", "Serial number (default 1234567).", "n", "1234567");
    const QCommandLineOption nameOpt("name", "Instrument name (default \"TS16 R500 (simulated)\"); sent quoted and escaped.", "text", "TS16 R500 (simulated)");
    const QCommandLineOption tempOpt("temperature", "Internal temperature in degrees Celsius (default 21.3).", "deg", "21.3");
    const QCommandLineOption faultOpt("fault", "Fault injection, repeatable: <rpc|any>:<kind>[:<count>] with kind silent (no answer), garbage (a non-GeoCOM line), split (the reply in two writes 250 ms apart), short (last value left off), close (close the port and exit), error=<code> (that return code), delay=<ms> (answer late). The first matching fault with uses left applies; count limits its uses (default unlimited).", "rule");
    const QCommandLineOption logOpt("log", "Append every received request line (without CR LF) to this file, flushed at once.", "file");
    const QCommandLineOption linkOpt("link", "Also make a symbolic link to the terminal at this path.", "path");
    const QCommandLineOption verboseOpt("verbose", "Print requests and replies on stderr.");
    const QCommandLineOption directionsOpt("directions", "Print each target as the instrument sees it from the station, one \"name Hz V distance\" line each (radians, metres), and exit.");
    parser.addOptions({sceneOpt, stationOpt, delayOpt, measOpt, fastOpt, trackOpt, tolOpt, serialOpt, nameOpt, tempOpt, faultOpt, logOpt, linkOpt, verboseOpt});
    parser.addOption(directionsOpt);
    parser.process(app);

    auto fail = [](const QString &msg) {
        std::fprintf(stderr, "stadiolink-sim: %s\n", msg.toLocal8Bit().constData());
        return 2;
    };

    Instrument inst;
    if (parser.isSet(sceneOpt)) {
        QString error;
        if (!loadScene(parser.value(sceneOpt), &inst.targets, &error))
            return fail(error);
    } else {
        inst.targets = {{"T1", 10, 5, 1.2}, {"T2", -8, 12, 0.5}, {"T3", -15, -6, 2.0}, {"T4", 20, -10, -0.8}};
    }
    double st[4];
    if (!parseList(parser.value(stationOpt), 4, st))
        return fail(QStringLiteral("--station wants x,y,z,orientation"));
    inst.sx = st[0];
    inst.sy = st[1];
    inst.sz = st[2];
    inst.orientation = st[3];
    inst.clockwise = !parser.isSet(ccwOpt);
    const bool fast = parser.isSet(fastOpt);
    bool ok[6] = {true, true, true, true, true, true};
    if (parser.isSet(delayOpt))
        inst.delayMs = parser.value(delayOpt).toInt(&ok[0]);
    else if (fast)
        inst.delayMs = 0;
    if (parser.isSet(measOpt))
        inst.measureDelayMs = parser.value(measOpt).toInt(&ok[1]);
    else if (fast)
        inst.measureDelayMs = 0;
    inst.trackIntervalMs = parser.value(trackOpt).toInt(&ok[2]);
    inst.aimTolerance = parser.value(tolOpt).toDouble(&ok[3]);
    inst.serial = parser.value(serialOpt).toInt(&ok[4]);
    inst.temperature = parser.value(tempOpt).toDouble(&ok[5]);
    for (bool b : ok)
        if (!b)
            return fail(QStringLiteral("a numeric option has a non-numeric value"));
    if (inst.delayMs < 0 || (parser.isSet(measOpt) && inst.measureDelayMs < 0))
        return fail(QStringLiteral("delays cannot be negative"));
    inst.name = parser.value(nameOpt);
    for (const QString &f : parser.values(faultOpt)) {
        Fault fault;
        if (!parseFault(f, &fault))
            return fail(QStringLiteral("bad --fault %1").arg(f));
        inst.faults.append(fault);
    }
    inst.verbose = parser.isSet(verboseOpt);
    if (parser.isSet(logOpt)) {
        inst.log = std::fopen(parser.value(logOpt).toLocal8Bit().constData(), "a");
        if (!inst.log)
            return fail(QStringLiteral("cannot open log %1").arg(parser.value(logOpt)));
    }
    inst.aimAtFirstTarget();
    if (parser.isSet(directionsOpt)) {
        for (const Target &t : inst.targets) {
            double h, zen, d;
            inst.polar(t, &h, &zen, &d);
            std::printf("%s %s %s %s\n", t.name.toLocal8Bit().constData(), qPrintable(Instrument::num(h)),
                        qPrintable(Instrument::num(zen)), qPrintable(Instrument::num(d)));
        }
        return 0;
    }

    int master = -1, slave = -1;
    char path[256] = {0};
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0)
        return fail(QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    // Raw terminal: no echo, no line-end translation until the driver
    // configures its side. Keeping the terminal side open ourselves means a
    // driver that closes and reopens the port does not hang up the pty.
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    inst.master = master;
    if (parser.isSet(linkOpt)) {
        const QByteArray link = parser.value(linkOpt).toLocal8Bit();
        ::unlink(link.constData());
        if (::symlink(path, link.constData()) != 0)
            return fail(QStringLiteral("cannot link %1").arg(parser.value(linkOpt)));
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("%s\n", path);
    std::fflush(stdout);

    QByteArray pending;
    bool open = true;
    while (open && !g_quit) {
        pollfd pfd{master, POLLIN, 0};
        const int r = ::poll(&pfd, 1, 200);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (r == 0 || !(pfd.revents & POLLIN)) {
            if (pfd.revents & (POLLERR | POLLNVAL))
                break;
            continue;
        }
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            sleepMs(10);  // terminal side momentarily closed
            continue;
        }
        pending.append(buf, int(n));
        int nl;
        while (open && (nl = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(nl);
            pending.remove(0, nl + 1);
            open = inst.handleLine(line);
        }
    }
    if (parser.isSet(linkOpt))
        ::unlink(parser.value(linkOpt).toLocal8Bit().constData());
    ::close(master);
    ::close(slave);
    if (inst.log)
        std::fclose(inst.log);
    return 0;
}
