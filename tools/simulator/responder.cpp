#include "responder.h"

#include "timing.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

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

// A log field: control characters, tabs and bytes above 0x7E as \xHH.
QByteArray field(const QString &text)
{
    QByteArray out;
    for (const char c : text.toLatin1()) {
        const uchar u = uchar(c);
        if (u < 0x20 || u > 0x7e)
            out += QByteArray("\\x") + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

} // namespace

ReplyLog::~ReplyLog()
{
    if (m_file)
        std::fclose(m_file);
}

bool ReplyLog::open(const QString &path)
{
    m_file = std::fopen(path.toLocal8Bit().constData(), "a");
    m_start = nowSeconds();
    return m_file != nullptr;
}

qint64 ReplyLog::elapsedMs() const
{
    return qint64((nowSeconds() - m_start) * 1000.0);
}

void ReplyLog::request(int n, const char *via, const QString &request, const QString &fault, bool answered,
                       const QString &detail)
{
    if (!m_file)
        return;
    std::fprintf(m_file, "%d\t%lld\t%s\t%s\t%s\t%s\t%s\n", n, elapsedMs(), via, field(request).constData(),
                 fault.isEmpty() ? "-" : field(fault).constData(), answered ? "reply" : "none",
                 field(detail).constData());
    std::fflush(m_file);
}

void ReplyLog::event(const char *via, const QString &what)
{
    if (!m_file)
        return;
    std::fprintf(m_file, "#\t%lld\t%s\t%s\n", elapsedMs(), via, field(what).constData());
    std::fflush(m_file);
}

QString Responder::frame(int comRc, const QString &trId, const QString &body, bool withCrc)
{
    const QString head = QStringLiteral("%R1P,%1,%2").arg(comRc).arg(trId);
    const QString tail = QLatin1Char(':') + body;
    if (!withCrc)
        return head + tail;
    return head + QLatin1Char(',') + QString::number(crc16((head + tail).toLatin1())) + tail;
}

void Responder::answer(Channel &channel, const QString &text, const QString &request, const QString &fault)
{
    if (replyLog)
        replyLog->request(requests, channel.via(), request, fault, true, text);
    if (verbose)
        std::fprintf(stderr, "sim > %s\n", text.toLatin1().constData());
    channel.write((text + QStringLiteral("\r\n")).toLatin1());
}

Responder::Outcome Responder::handle(const QByteArray &raw, Channel &channel)
{
    const QString line = QString::fromLatin1(raw).trimmed();
    if (line.isEmpty())
        return Continue;
    if (requestLog) {
        std::fprintf(requestLog, "%s\n", line.toLatin1().constData());
        std::fflush(requestLog);
    }
    if (verbose)
        std::fprintf(stderr, "sim < %s\n", line.toLatin1().constData());
    ++requests;

    // %R1Q,<rpc>[,<trid>[,<crc>]]:<params>
    static const QRegularExpression re(QStringLiteral("^%R1Q,(\\d+)(?:,(\\d+)(?:,(\\d+))?)?:(.*)$"));
    const QRegularExpressionMatch m = re.match(line);
    if (!m.hasMatch()) {
        answer(channel, QStringLiteral("%R1P,3074,0:3074"), line, QString());  // cannot decode
        return Continue;
    }
    const int rpc = m.captured(1).toInt();
    const QString trId = m.captured(2).isEmpty() || ignoreTransactionIds ? QStringLiteral("0") : m.captured(2);
    const bool withCrc = !m.captured(3).isEmpty();
    if (withCrc) {
        const QString unsignedLine = line.left(m.capturedStart(3) - 1) + line.mid(m.capturedEnd(3));
        if (m.captured(3).toUInt() != crc16(unsignedLine.toLatin1())) {
            // The checksum is wrong at the instrument.
            answer(channel, frame(3101, trId, QStringLiteral("3101"), true), line, QString());
            return Continue;
        }
    }
    const QString paramText = m.captured(4).trimmed();
    const QStringList params = paramText.isEmpty() ? QStringList() : paramText.split(QLatin1Char(','));

    const Fault *fault = faults->pick(rpc);
    const QString kind = fault ? fault->kind : QString();
    const QString effect = fault ? fault->effect() : QString();
    if (kind == QLatin1String("close") || kind == QLatin1String("reset")) {
        sleepMs(fault->value);
        const bool reset = kind == QLatin1String("reset");
        if (replyLog)
            replyLog->request(requests, channel.via(), line, effect, false,
                              reset ? QStringLiteral("connection reset") : QStringLiteral("connection closed"));
        if (verbose)
            std::fprintf(stderr, "sim: %s\n", reset ? "connection reset" : "connection closed");
        return reset ? Reset : Close;
    }
    if (kind == QLatin1String("silent")) {
        if (replyLog)
            replyLog->request(requests, channel.via(), line, effect, false, QStringLiteral("silent"));
        return Continue;
    }
    if (kind == QLatin1String("garbage")) {
        answer(channel, QStringLiteral("\x07?#garbage!@"), line, effect);
        return Continue;
    }
    if (kind == QLatin1String("error")) {
        answer(channel, frame(0, trId, QString::number(fault->value), withCrc), line, effect);
        return Continue;
    }

    QString body = inst->respond(rpc, params);
    if (kind == QLatin1String("short")) {
        const int comma = body.lastIndexOf(QLatin1Char(','));
        if (comma >= 0)
            body.truncate(comma);
    }
    const QString text = frame(0, trId, body, withCrc);
    sleepMs(inst->delayMs);
    if (kind == QLatin1String("delay"))
        sleepMs(fault->value);
    if (kind == QLatin1String("split")) {
        if (replyLog)
            replyLog->request(requests, channel.via(), line, effect, true, text);
        const QByteArray bytes = (text + QStringLiteral("\r\n")).toLatin1();
        const int half = bytes.size() / 2;
        channel.write(bytes.left(half));
        sleepMs(250);
        channel.write(bytes.mid(half));
        if (verbose)
            std::fprintf(stderr, "sim > %s (split)\n", text.toLatin1().constData());
        return Continue;
    }
    answer(channel, text, line, effect);
    return Continue;
}
