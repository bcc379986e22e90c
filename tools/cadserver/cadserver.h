#pragma once
// Reference CAD server: plays the CAD side of the driver's server link, so
// the driver can be used and tested without the CAD application.
//
// Per connection: the greeting is answered with 1 (connected) and 9
// (identify); the identification (1) is followed by the base points (6),
// unless they are to go out after a number of points; a session name (4) is
// accepted with 7 when new in this server run, or answered with 0 and a free
// proposal; each point (3) is written to the CSV file and answered with 2
// (session, group, next point name, device); a base point set (8) is solved
// in whichever handedness of the instrument frame fits (stationsolver.h) and
// answered with the station matrix (8), or refused in the log without an
// answer. Blocks the server does not take are skipped by their length, so
// the stream stays in step. Every message in and out is logged.

#include "servermessages.h"
#include "stationsolver.h"

#include <QFile>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTextStream>
#include <QVector>

class QTcpServer;
class QTcpSocket;

namespace CadServerNames {
// P7 → P8, P09 → P10, P99 → P100, "A" → "A1", "" → "1".
QString nextPointName(const QString &name);
// A name not in taken: a trailing number counted up (S7 → S8 ...), or else
// "_1", "_2", ... appended.
QString freeSessionName(const QString &name, const QSet<QString> &taken);
} // namespace CadServerNames

struct KnownPoint {
    QString name;
    double x = 0, y = 0, z = 0;
};

// "name x y z" per line, space or comma separated, '#' starts a comment.
// False with *error ("line N: ...") on a line that is not a point.
bool readBasePoints(const QString &path, QVector<KnownPoint> *points, QString *error);

class CadServer : public QObject
{
    Q_OBJECT

public:
    struct Options {
        QVector<KnownPoint> basePoints;
        int sendBasePointsAfter = 0; // 0: after identification; N: after the N-th point
        QString csvPath;             // empty: no CSV
        bool estimateScale = false;
        Station::Handedness handedness = Station::Handedness::Either;
        QStringList sessions;        // names that exist before the first driver comes
    };

    CadServer(const Options &options, QTextStream *log, QObject *parent = nullptr);
    ~CadServer() override;

    bool listen(quint16 port, QString *error);
    quint16 port() const;

private:
    struct Connection {
        QTcpSocket *socket = nullptr;
        ServerMessages::BlockReader reader;
        QString peer;
        QString deviceName;
        int points = 0;
        bool basePointsSent = false;
    };

    void accept();
    void readFrom(Connection *c);
    void handle(Connection *c, const QByteArray &payload);
    void handleBasePointSet(Connection *c, const ServerMessages::DriverMessage &m);
    void sendBasePoints(Connection *c);
    void send(Connection *c, const QByteArray &block, const QString &what);
    void writeCsv(const MeasuringPoint &p, const QString &device);
    void logLine(const Connection *c, const QString &text);

    Options opts;
    QTextStream *log;
    QTcpServer *server;
    QFile csv;
    QSet<QString> sessions;
    QHash<QTcpSocket *, Connection *> connections;
};
