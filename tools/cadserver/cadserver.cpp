#include "cadserver.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

using namespace ServerMessages;

namespace CadServerNames {

QString nextPointName(const QString &name)
{
    int start = name.size();
    while (start > 0 && name[start - 1].isDigit() && name[start - 1].unicode() < 128)
        --start;
    if (start == name.size())
        return name + QLatin1Char('1');
    const QString digits = name.mid(start);
    // Counting on the digit string keeps any number of digits exact.
    QString next = digits;
    int i = next.size() - 1;
    while (i >= 0 && next[i] == QLatin1Char('9')) {
        next[i] = QLatin1Char('0');
        --i;
    }
    if (i < 0)
        next.prepend(QLatin1Char('1'));
    else
        next[i] = QChar(next[i].unicode() + 1);
    return name.left(start) + next;
}

QString freeSessionName(const QString &name, const QSet<QString> &taken)
{
    const bool numbered = !name.isEmpty() && name.back().isDigit() && name.back().unicode() < 128;
    if (numbered) {
        QString candidate = nextPointName(name);
        while (taken.contains(candidate))
            candidate = nextPointName(candidate);
        return candidate;
    }
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("%1_%2").arg(name).arg(n);
        if (!taken.contains(candidate))
            return candidate;
    }
}

} // namespace CadServerNames

bool readBasePoints(const QString &path, QVector<KnownPoint> *points, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    int lineNo = 0;
    QVector<KnownPoint> out;
    while (!f.atEnd()) {
        ++lineNo;
        QString line = QString::fromUtf8(f.readLine());
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList fields = line.trimmed().split(separators, Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        if (fields.size() != 4) {
            *error = QStringLiteral("%1 line %2: expected \"name x y z\"").arg(path).arg(lineNo);
            return false;
        }
        KnownPoint p;
        p.name = fields[0];
        bool okX, okY, okZ;
        p.x = fields[1].toDouble(&okX);
        p.y = fields[2].toDouble(&okY);
        p.z = fields[3].toDouble(&okZ);
        if (!okX || !okY || !okZ || !qIsFinite(p.x) || !qIsFinite(p.y) || !qIsFinite(p.z)) {
            *error = QStringLiteral("%1 line %2: coordinates are not numbers").arg(path).arg(lineNo);
            return false;
        }
        out << p;
    }
    *points = out;
    return true;
}

CadServer::CadServer(const Options &options, QTextStream *log, QObject *parent)
    : QObject(parent), opts(options), log(log), server(new QTcpServer(this))
{
    for (const QString &s : options.sessions)
        sessions.insert(s);
    connect(server, &QTcpServer::newConnection, this, &CadServer::accept);
}

CadServer::~CadServer() { qDeleteAll(connections); }

bool CadServer::listen(quint16 port, QString *error)
{
    if (!opts.csvPath.isEmpty()) {
        csv.setFileName(opts.csvPath);
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            *error = QStringLiteral("%1: %2").arg(opts.csvPath, csv.errorString());
            return false;
        }
        if (csv.size() == 0) {
            csv.write("session,group,point,x,y,z,device\n");
            csv.flush();
        }
    }
    if (!server->listen(QHostAddress::Any, port)) {
        *error = server->errorString();
        return false;
    }
    return true;
}

quint16 CadServer::port() const { return server->serverPort(); }

void CadServer::logLine(const Connection *c, const QString &text)
{
    *log << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << ' '
         << (c ? c->peer : QStringLiteral("-")) << ' ' << text << '\n';
    log->flush();
}

void CadServer::accept()
{
    while (QTcpSocket *s = server->nextPendingConnection()) {
        auto *c = new Connection;
        c->socket = s;
        c->peer = QStringLiteral("%1:%2").arg(s->peerAddress().toString()).arg(s->peerPort());
        connections.insert(s, c);
        logLine(c, QStringLiteral("connected"));
        connect(s, &QTcpSocket::readyRead, this, [this, c] { readFrom(c); });
        connect(s, &QTcpSocket::disconnected, this, [this, c] {
            logLine(c, QStringLiteral("disconnected"));
            connections.remove(c->socket);
            c->socket->deleteLater();
            delete c;
        });
    }
}

void CadServer::readFrom(Connection *c)
{
    c->reader.feed(c->socket->readAll());
    QByteArray payload;
    while (c->reader.next(&payload))
        handle(c, payload);
}

void CadServer::send(Connection *c, const QByteArray &block, const QString &what)
{
    logLine(c, QStringLiteral("out ") + what);
    c->socket->write(block);
}

static QString xyz(double x, double y, double z)
{
    return QStringLiteral("%1 %2 %3").arg(x, 0, 'f', 4).arg(y, 0, 'f', 4).arg(z, 0, 'f', 4);
}

void CadServer::handle(Connection *c, const QByteArray &payload)
{
    DriverMessage m;
    if (!decodeDriverMessage(payload, &m)) {
        const quint16 type = payload.size() >= 2 ? (uchar(payload[0]) << 8 | uchar(payload[1])) : 0xFFFF;
        logLine(c, QStringLiteral("in skipped block of %1 bytes (type %2)").arg(payload.size()).arg(type));
        return;
    }
    switch (m.kind) {
    case DriverMessage::Greeting:
        logLine(c, QStringLiteral("in greeting"));
        send(c, encodeEmpty(ConnectedToServer), QStringLiteral("1 connected"));
        send(c, encodeEmpty(Identify), QStringLiteral("9 identify"));
        break;
    case DriverMessage::Identification:
        c->deviceName = m.texts[3];
        logLine(c, QStringLiteral("in 1 identification app=%1 session=%2 group=%3 device=%4")
                       .arg(m.texts[0], m.texts[1], m.texts[2], m.texts[3]));
        if (opts.sendBasePointsAfter <= 0)
            sendBasePoints(c);
        break;
    case DriverMessage::SessionName: {
        const QString name = m.texts[0];
        logLine(c, QStringLiteral("in 4 session %1").arg(name));
        if (sessions.contains(name)) {
            const QString proposal = CadServerNames::freeSessionName(name, sessions);
            send(c, encodeSessionExists(proposal), QStringLiteral("0 session exists, proposed %1").arg(proposal));
        } else {
            sessions.insert(name);
            send(c, encodeEmpty(SessionAccepted), QStringLiteral("7 session accepted"));
        }
        break;
    }
    case DriverMessage::Point: {
        const MeasuringPoint &p = m.point;
        ++c->points;
        logLine(c, QStringLiteral("in 3 point %1/%2/%3 %4")
                       .arg(p.sessionName, p.groupName, p.pointName, xyz(p.x, p.y, p.z)));
        writeCsv(p, c->deviceName);
        const QString next = CadServerNames::nextPointName(p.pointName);
        send(c, encodePointInfo(p.sessionName, p.groupName, next, c->deviceName),
             QStringLiteral("2 info %1/%2/%3 device %4").arg(p.sessionName, p.groupName, next, c->deviceName));
        if (opts.sendBasePointsAfter > 0 && c->points == opts.sendBasePointsAfter)
            sendBasePoints(c);
        break;
    }
    case DriverMessage::BasePointSet:
        handleBasePointSet(c, m);
        break;
    case DriverMessage::Invalid:
        break;
    }
}

void CadServer::sendBasePoints(Connection *c)
{
    if (c->basePointsSent)
        return;
    c->basePointsSent = true;
    for (const KnownPoint &p : opts.basePoints)
        send(c, encodeBasePoint(p.name, p.x, p.y, p.z),
             QStringLiteral("6 base point %1 %2").arg(p.name, xyz(p.x, p.y, p.z)));
}

void CadServer::handleBasePointSet(Connection *c, const DriverMessage &m)
{
    logLine(c, QStringLiteral("in 8 base point set: %1 measured, %2 known, %3 weights")
                   .arg(m.measured.size()).arg(m.known.size()).arg(m.weights.size()));
    QVector<Station::Point3> measured, known;
    for (const MeasuringPoint &p : m.measured)
        measured.append({p.x, p.y, p.z});
    for (const MeasuringPoint &p : m.known)
        known.append({p.x, p.y, p.z});
    Station::Options so;
    so.estimateScale = opts.estimateScale;
    so.handedness = opts.handedness;
    const Station::Solution s = Station::solve(measured, known, m.weights, so);
    if (!s.ok) {
        logLine(c, QStringLiteral("refused base point set: %1; no matrix sent").arg(s.error));
        return;
    }
    QString frame = s.reflected ? QStringLiteral("mirrored (horizontal angle counted clockwise)")
                                : QStringLiteral("turned only (horizontal angle counted counter-clockwise)");
    frame += QStringLiteral(", plane rms %1 m").arg(s.planeRms, 0, 'f', 4);
    if (s.otherPlaneRms >= 0)
        frame += QStringLiteral("; the other handedness would leave %1 m").arg(s.otherPlaneRms, 0, 'f', 4);
    else
        frame += QStringLiteral("; handedness fixed by the options");
    logLine(c, QStringLiteral("instrument frame: ") + frame);
    for (int i = 0; i < s.residuals.size(); ++i) {
        const Station::Residual &r = s.residuals[i];
        logLine(c, QStringLiteral("residual %1: %2 %3 %4")
                       .arg(i + 1)
                       .arg(r.dx, 0, 'f', 6)
                       .arg(r.dy, 0, 'f', 6)
                       .arg(r.dz, 0, 'f', 6));
    }
    logLine(c, QStringLiteral("solution: rotation %1 rad, scale %2, shift %3, rms %4 (plane %5, height %6)")
                   .arg(s.omega, 0, 'f', 9).arg(s.scale, 0, 'f', 9).arg(xyz(s.tx, s.ty, s.tz))
                   .arg(s.rms, 0, 'f', 4).arg(s.rmsHorizontal, 0, 'f', 4).arg(s.rmsHeight, 0, 'f', 4));
    double values[16];
    s.matrix(values);
    QStringList text;
    for (double v : values)
        text << QString::number(v, 'g', 12);
    send(c, encodeMatrix(values), QStringLiteral("8 matrix ") + text.join(' '));
}

static QString csvField(const QString &s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')))
        return s;
    QString q = s;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

void CadServer::writeCsv(const MeasuringPoint &p, const QString &device)
{
    if (!csv.isOpen())
        return;
    const QString line = QStringList{csvField(p.sessionName), csvField(p.groupName), csvField(p.pointName),
                                     QString::number(p.x, 'f', 4), QString::number(p.y, 'f', 4),
                                     QString::number(p.z, 'f', 4), csvField(device)}
                             .join(QLatin1Char(','));
    csv.write(line.toUtf8() + '\n');
    csv.flush();
}
