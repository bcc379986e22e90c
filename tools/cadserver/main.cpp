// stadiolink-cadserver: a stand-in for the CAD application's server.

#include "cadserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("stadiolink-cadserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the CAD side of the driver's server link.\n"
        "On the driver's greeting it sends 1 (connected) and 9 (identify). After the\n"
        "identification it sends the base points of --basepoints as messages 6 (or,\n"
        "with --send-basepoints-after N, after the N-th point of the connection).\n"
        "Session names (4) new in this run are accepted (7); a known one gets 0 with a\n"
        "free proposal. Points (3) go to the CSV file and are answered with 2 (session,\n"
        "group, next point name, device). A base point set (8) - measured points, their\n"
        "known coordinates and one weight (> 0) per point, aligned with the points - is\n"
        "solved for a levelled instrument (rotation about the vertical, horizontal\n"
        "shift, scale 1 unless --estimate-scale; height as the weighted mean offset)\n"
        "and answered with the 4x4 matrix (8). The measured frame is fitted as it is\n"
        "and mirrored (an instrument counting its horizontal angle clockwise); the\n"
        "better fit is taken and logged. A set with differing counts, fewer than two\n"
        "points, a weight not > 0, points on one spot, points that cannot tell the two\n"
        "frames apart (two points, points on a line) or that fit in neither (plane rms\n"
        "above 5 % of their spread plus 1 cm) is refused: logged, no answer. The first\n"
        "line on stdout is \"listening on PORT\"."));
    parser.addHelpOption();
    QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("TCP port; 0 picks a free one (default 5544)."),
                               QStringLiteral("port"), QStringLiteral("5544"));
    QCommandLineOption baseOpt(QStringLiteral("basepoints"),
                               QStringLiteral("Known points, one \"name x y z\" a line (space or comma separated, '#' comments)."),
                               QStringLiteral("file"));
    QCommandLineOption afterOpt(QStringLiteral("send-basepoints-after"),
                                QStringLiteral("Send the base points after the N-th point instead of after identification."),
                                QStringLiteral("N"), QStringLiteral("0"));
    QCommandLineOption csvOpt(QStringLiteral("csv"), QStringLiteral("Append every received point to this CSV file."),
                              QStringLiteral("file"));
    QCommandLineOption logOpt(QStringLiteral("log"), QStringLiteral("Log file (default: stderr)."), QStringLiteral("file"));
    QCommandLineOption scaleOpt(QStringLiteral("estimate-scale"), QStringLiteral("Estimate the scale of the station solve."));
    QCommandLineOption handOpt(QStringLiteral("handedness"),
                               QStringLiteral("Instrument frame: either (default: the better fit), rotation (not "
                                              "mirrored) or reflection (mirrored)."),
                               QStringLiteral("which"), QStringLiteral("either"));
    QCommandLineOption sessionOpt(QStringLiteral("session"),
                                  QStringLiteral("A session name that already exists (repeatable)."), QStringLiteral("name"));
    parser.addOptions({portOpt, baseOpt, afterOpt, csvOpt, logOpt, scaleOpt, handOpt, sessionOpt});
    parser.process(app);

    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOpt).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "stadiolink-cadserver: bad port " << parser.value(portOpt) << '\n';
        return 2;
    }
    CadServer::Options opts;
    opts.sendBasePointsAfter = parser.value(afterOpt).toInt(&ok);
    if (!ok || opts.sendBasePointsAfter < 0) {
        err << "stadiolink-cadserver: bad count " << parser.value(afterOpt) << '\n';
        return 2;
    }
    if (parser.isSet(baseOpt)) {
        QString error;
        if (!readBasePoints(parser.value(baseOpt), &opts.basePoints, &error)) {
            err << "stadiolink-cadserver: " << error << '\n';
            return 2;
        }
    }
    opts.csvPath = parser.value(csvOpt);
    opts.estimateScale = parser.isSet(scaleOpt);
    const QString hand = parser.value(handOpt);
    if (hand == QLatin1String("rotation")) {
        opts.handedness = Station::Handedness::Rotation;
    } else if (hand == QLatin1String("reflection")) {
        opts.handedness = Station::Handedness::Reflection;
    } else if (hand != QLatin1String("either")) {
        err << "stadiolink-cadserver: bad handedness " << hand << '\n';
        return 2;
    }
    opts.sessions = parser.values(sessionOpt);

    QFile logFile;
    QTextStream log(stderr);
    if (parser.isSet(logOpt)) {
        logFile.setFileName(parser.value(logOpt));
        if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            err << "stadiolink-cadserver: " << logFile.fileName() << ": " << logFile.errorString() << '\n';
            return 2;
        }
        log.setDevice(&logFile);
    }
    log.setCodec("UTF-8");

    CadServer server(opts, &log);
    QString error;
    if (!server.listen(quint16(port), &error)) {
        err << "stadiolink-cadserver: " << error << '\n';
        return 1;
    }
    std::printf("listening on %u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
