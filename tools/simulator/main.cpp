// stadiolink-sim: a motorised GeoCOM total station on a pseudo-terminal and,
// when asked, on a raw TCP connection.
//
// Prints where it can be reached on its first lines of stdout and answers
// GeoCOM ASCII requests until it is terminated. The instrument stands at a
// known station in a scene of named 3D targets, so a caller knows the truth
// behind every measurement.

#include "faults.h"
#include "instrument.h"
#include "responder.h"
#include "timing.h"
#include "transports.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

void onSignal(int) { g_quit = 1; }

const char *kHelp =
    "A simulated motorised total station speaking GeoCOM ASCII on a pseudo-terminal\n"
    "or over TCP.\n"
    "\n"
    "Ports and the first lines on stdout: without --tcp, the first line is the path\n"
    "of the terminal to open as the serial port (baud rate and framing do not\n"
    "matter). With --tcp the first line is the address it listens on,\n"
    "ADDRESS:PORT (for example 127.0.0.1:40123; [ADDRESS]:PORT for IPv6), and the\n"
    "second the terminal's path unless --no-pty. Over TCP the same lines go to and\n"
    "fro as over the serial line, as a serial device server carries them; one\n"
    "client is served at a time: a connection made while one is open is closed at\n"
    "once, and when the client goes the next one may connect. Both ports reach the\n"
    "same instrument, and it answers each request on the port it came from. The\n"
    "instrument answers until it gets SIGINT or SIGTERM.\n"
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
    "transaction id (0 without one, always 0 with --ignore-transaction-ids) and,\n"
    "when the request had a checksum field, its own:\n"
    "%R1P,<com>,<trid>,<crc>:<rc>,... The checksum is CRC-16/ARC over the line\n"
    "without the field and without CR LF, in decimal; a request whose checksum does\n"
    "not match is answered with 3101. Numbers go out in fixed-point notation.\n"
    "\n"
    "Faults: each --fault rule names a procedure (or any) and what happens to its\n"
    "requests. Rules are tried in order; the first that matches, has uses left and,\n"
    "with a probability, wins its draw applies. Each rule with a probability has\n"
    "its own random stream started from --seed and draws once for every request of\n"
    "its procedure, so the same seed and the same requests give the same faults.\n"
    "close and reset end a TCP client's connection (FIN or RST; the instrument\n"
    "then waits for the next client) after the given ms, reading nothing meanwhile;\n"
    "on the pty both close the port and end the simulator.\n"
    "\n"
    "Reply log (--reply-log): one line a request, fields separated by tabs: the\n"
    "request's number (from 1), ms since the start, the port (pty or tcp), the\n"
    "request line, the fault applied (- for none; silent, error=1292, delay=4000\n"
    "...), then either \"reply\" and the reply line as written (without CR LF) or\n"
    "\"none\" and why (silent, connection closed, connection reset). A line is\n"
    "written before its reply goes out. Lines beginning with # are connection\n"
    "events: #, ms, tcp, then \"connected ADDR\", \"refused ADDR: ADDR is connected\",\n"
    "\"disconnected ADDR\", \"closed ADDR\" or \"reset ADDR\". Control characters come\n"
    "as \\xHH.";

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
    const QCommandLineOption faultOpt("fault", "Fault injection, repeatable: <rpc|any>:<kind>[:<count>][:<percent>%] with kind silent (no answer), garbage (a non-GeoCOM line), split (the reply in two writes 250 ms apart), short (last value left off), close[=<ms>] (close the connection; on the pty close the port and exit), reset[=<ms>] (reset the TCP connection), error=<code> (that return code), delay=<ms> (answer late). count limits the rule's uses (default unlimited); percent makes it apply to a matching request with that probability, drawn with --seed (default always). Example: 17017:error=1292:20% 17017:silent:10% 2008:silent:10%.", "rule");
    const QCommandLineOption seedOpt("seed", "Seed of the random fault rules (default 1).", "n", "1");
    const QCommandLineOption logOpt("log", "Append every received request line (without CR LF) to this file, flushed at once.", "file");
    const QCommandLineOption replyLogOpt("reply-log", "Append each request with its reply, or why it got none, to this file, flushed at once (format above).", "file");
    const QCommandLineOption tcpOpt("tcp", "Also serve the instrument over TCP on [ADDRESS:]PORT (address 127.0.0.1 unless given; port 0: any free port); the address is the first line on stdout.", "[address:]port");
    const QCommandLineOption noPtyOpt("no-pty", "With --tcp: serve over TCP only, without a pseudo-terminal.");
    const QCommandLineOption idsOpt("ignore-transaction-ids", "Answer every request with transaction id 0, as an instrument that ignores the ids.");
    const QCommandLineOption linkOpt("link", "Also make a symbolic link to the terminal at this path.", "path");
    const QCommandLineOption verboseOpt("verbose", "Print requests, replies and connections on stderr.");
    const QCommandLineOption directionsOpt("directions", "Print each target as the instrument sees it from the station, one \"name Hz V distance\" line each (radians, metres), and exit.");
    parser.addOptions({sceneOpt, stationOpt, delayOpt, measOpt, fastOpt, trackOpt, tolOpt, serialOpt, nameOpt, tempOpt,
                       faultOpt, seedOpt, logOpt, replyLogOpt, tcpOpt, noPtyOpt, idsOpt, linkOpt, verboseOpt});
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
    bool ok[7] = {true, true, true, true, true, true, true};
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
    const quint64 seed = parser.value(seedOpt).toULongLong(&ok[6]);
    for (bool b : ok)
        if (!b)
            return fail(QStringLiteral("a numeric option has a non-numeric value"));
    if (inst.delayMs < 0 || (parser.isSet(measOpt) && inst.measureDelayMs < 0))
        return fail(QStringLiteral("delays cannot be negative"));
    inst.name = parser.value(nameOpt);
    FaultPlan faults;
    faults.setSeed(seed);
    for (const QString &f : parser.values(faultOpt)) {
        QString error;
        if (!faults.add(f, &error))
            return fail(error);
    }
    const bool withPty = !parser.isSet(noPtyOpt);
    if (!withPty && !parser.isSet(tcpOpt))
        return fail(QStringLiteral("--no-pty needs --tcp"));
    if (!withPty && parser.isSet(linkOpt))
        return fail(QStringLiteral("--link needs the pseudo-terminal"));

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

    Responder responder(&inst, &faults);
    responder.verbose = parser.isSet(verboseOpt);
    responder.ignoreTransactionIds = parser.isSet(idsOpt);
    std::FILE *requestLog = nullptr;
    if (parser.isSet(logOpt)) {
        requestLog = std::fopen(parser.value(logOpt).toLocal8Bit().constData(), "a");
        if (!requestLog)
            return fail(QStringLiteral("cannot open log %1").arg(parser.value(logOpt)));
        responder.requestLog = requestLog;
    }
    ReplyLog replyLog;
    if (parser.isSet(replyLogOpt)) {
        if (!replyLog.open(parser.value(replyLogOpt)))
            return fail(QStringLiteral("cannot open reply log %1").arg(parser.value(replyLogOpt)));
        responder.replyLog = &replyLog;
    }

    TcpPort tcp;
    if (parser.isSet(tcpOpt)) {
        QString error;
        if (!tcp.listen(parser.value(tcpOpt), &error))
            return fail(error);
    }
    PtyPort pty;
    if (withPty) {
        QString error;
        if (!pty.open(&error))
            return fail(error);
    }
    if (parser.isSet(linkOpt)) {
        const QByteArray link = parser.value(linkOpt).toLocal8Bit();
        ::unlink(link.constData());
        if (::symlink(pty.path().toLocal8Bit().constData(), link.constData()) != 0)
            return fail(QStringLiteral("cannot link %1").arg(parser.value(linkOpt)));
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    if (parser.isSet(tcpOpt))
        std::printf("%s\n", tcp.address().toLocal8Bit().constData());
    if (withPty)
        std::printf("%s\n", pty.path().toLocal8Bit().constData());
    std::fflush(stdout);

    serve(withPty ? &pty : nullptr, parser.isSet(tcpOpt) ? &tcp : nullptr, responder,
          responder.replyLog, responder.verbose);

    if (parser.isSet(linkOpt))
        ::unlink(parser.value(linkOpt).toLocal8Bit().constData());
    if (requestLog)
        std::fclose(requestLog);
    return 0;
}
