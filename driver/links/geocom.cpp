#include "geocom.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>
#include <stdexcept>

namespace GeoCom {

QString buildRequest(RPC rpc, const QList<QVariant> &parameters)
{
    QStringList texts;
    for (const QVariant &p : parameters) {
        switch (int(p.type())) {
        case QMetaType::Int:
            texts << QString::number(p.toInt(), 10);
            break;
        case QMetaType::Double:
            texts << QString::number(p.toDouble(), 'f', 6);
            break;
        default:
            throw std::runtime_error(
                QCoreApplication::translate("SerialPortHandler", "Unexpected type of QVariant: %1")
                    .arg(QString::fromLatin1(p.typeName()))
                    .toStdString());
        }
    }
    return QStringLiteral("%R1Q,%1:").arg(qint32(rpc)) + texts.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

namespace {

bool readDoubles(const QStringList &fields, int count, double *out)
{
    if (fields.size() < count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = fields.at(i).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(out[i]))
            return false;
    }
    return true;
}

bool readInt(const QString &field, int *out)
{
    bool ok = false;
    *out = field.trimmed().toInt(&ok, 10);
    return ok;
}

} // namespace

Reply decodeReply(RPC rpc, const QString &text)
{
    Reply reply;
    const int colon = text.indexOf(QLatin1Char(':'));
    QString rest = (colon < 0 ? text : text.mid(colon + 1)).trimmed();

    QString codeText;
    bool hasValues = false;
    const int comma = rest.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        codeText = rest.left(comma);
        rest = rest.mid(comma + 1).trimmed();
        hasValues = true;
    } else {
        codeText = rest;
    }

    if (!readInt(codeText, &reply.returnCode)) {
        reply.returnCode = 0;
        reply.status = Reply::Unreadable;
        return reply;
    }
    if (reply.returnCode != 0) {
        reply.status = Reply::ErrorCode;
        return reply;
    }

    const QStringList fields = hasValues ? rest.split(QLatin1Char(','), Qt::KeepEmptyParts) : QStringList();
    reply.status = Reply::Incomplete;
    double v[3];
    switch (rpc) {
    case TMC_GetAngle5:
        if (!readDoubles(fields, 2, v))
            return reply;
        reply.payload = QVariant::fromValue(TMC_HZ_V_ANG{v[0], v[1]});
        break;
    case TMC_GetSimpleMea:
        if (!readDoubles(fields, 3, v))
            return reply;
        reply.payload = QVariant::fromValue(GetSimpleMea{v[0], v[1], v[2]});
        break;
    case BAP_MeasDistanceAngle: {
        int mode = 0;
        if (!readDoubles(fields, 3, v) || fields.size() < 4 || !readInt(fields.at(3), &mode))
            return reply;
        reply.payload = QVariant::fromValue(MeasDistanceAngle{v[0], v[1], v[2], mode});
        break;
    }
    case CSV_GetInstrumentNo:
    case TMC_GetEdmMode: {
        int value = 0;
        if (fields.isEmpty() || !readInt(fields.first(), &value))
            return reply;
        reply.payload = value;
        break;
    }
    case CSV_GetInstrumentName:
        if (!hasValues)
            return reply;
        reply.payload = rest;
        break;
    case CSV_GetIntTemp:
        if (!readDoubles(fields, 1, v))
            return reply;
        reply.payload = QString::number(v[0], 'f', 3);
        break;
    case TMC_SetEdmMode:
        reply.payload = true;
        break;
    default:
        break;
    }
    reply.status = Reply::Ok;
    return reply;
}

bool fitsRequest(RPC rpc, const QString &text)
{
    const Reply reply = decodeReply(rpc, text);
    if (reply.status != Reply::ErrorCode)
        return reply.status == Reply::Ok;
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString rest = text.mid(colon + 1).trimmed();
    const int comma = rest.indexOf(QLatin1Char(','));
    if (comma < 0)
        return true;
    return decodeReply(rpc, QStringLiteral("0") + rest.mid(comma)).status == Reply::Ok;
}

QByteArray lastCompleteLine(const QByteArray &buffer)
{
    int end = buffer.lastIndexOf('\n');
    while (end >= 0) {
        const int start = (end > 0 ? buffer.lastIndexOf('\n', end - 1) : -1) + 1;
        const QByteArray line = buffer.mid(start, end - start).trimmed();
        if (!line.isEmpty())
            return line;
        end = start - 1;
    }
    return QByteArray();
}

QString withTransactionId(const QString &requestLine, int id)
{
    const int colon = requestLine.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return requestLine;
    return requestLine.left(colon) + QLatin1Char(',') + QString::number(id) + requestLine.mid(colon);
}

int replyTransactionId(const QByteArray &line)
{
    const int start = line.indexOf("%R1P,");
    if (start < 0)
        return -1;
    const int colon = line.indexOf(':', start);
    if (colon < 0)
        return -1;
    const QList<QByteArray> head = line.mid(start + 5, colon - start - 5).split(',');
    if (head.size() < 2)
        return head.size() == 1 ? 0 : -1;
    bool ok = false;
    const int id = head.at(1).trimmed().toInt(&ok, 10);
    return ok && id >= 0 ? id : -1;
}

QByteArray withoutTransactionId(const QByteArray &requestLine)
{
    const int colon = requestLine.indexOf(':');
    const int first = requestLine.indexOf(',');
    if (colon < 0 || first < 0 || first > colon)
        return requestLine;
    const int second = requestLine.indexOf(',', first + 1);
    if (second < 0 || second > colon)
        return requestLine;
    return requestLine.left(second) + requestLine.mid(colon);
}

bool isPoll(RPC rpc)
{
    return rpc == TMC_GetAngle5 || rpc == TMC_GetSimpleMea || rpc == CSV_GetIntTemp;
}

} // namespace GeoCom
