#include "journalindex.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <cstring>

namespace {

const char magic[8] = {'S', 'L', 'J', 'I', 'D', 'X', '\r', '\n'};
const quint32 layout = 1;
const quint64 byteOrderMark = 0x0102030405060708ULL; // the entries are native
const qint64 fingerprintBytes = 4096;
const char headerStart[] = "\xEF\xBB\xBFrecord,";

quint64 rotl(quint64 v, int r)
{
    return (v << r) | (v >> (64 - r));
}

quint64 mix(quint64 h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

// A 64-bit hash of bytes (one lane of MurmurHash3's x64 mixing): for
// checksums and lookups, never trusted alone where an answer depends on it.
quint64 hashBytes(const void *data, size_t n, quint64 seed = 0)
{
    const quint64 c1 = 0x87c37b91114253d5ULL, c2 = 0x4cf5ad432745937fULL;
    const uchar *p = static_cast<const uchar *>(data);
    quint64 h = seed ^ (quint64(n) * c1);
    for (; n >= 8; n -= 8, p += 8) {
        quint64 w;
        memcpy(&w, p, 8);
        w = rotl(w * c1, 31) * c2;
        h = rotl(h ^ w, 27) * 5 + 0x52dce729;
    }
    quint64 w = 0;
    for (size_t i = 0; i < n; ++i)
        w |= quint64(p[i]) << (8 * i);
    h ^= rotl(w * c1, 31) * c2;
    return mix(h);
}

quint64 hashString(const QString &s, quint64 seed)
{
    return hashBytes(s.constData(), size_t(s.size()) * sizeof(QChar), seed);
}

bool isBlank(const char *p, int n)
{
    for (int i = 0; i < n; ++i)
        if (!(p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r')))
            return false;
    return true;
}

// The hashes of the first and the last 4 KiB of a file's first `size` bytes.
bool fingerprint(QFile &f, qint64 size, quint64 *head, quint64 *tail)
{
    const qint64 headSize = qMin(size, fingerprintBytes);
    if (!f.seek(0))
        return false;
    const QByteArray h = f.read(headSize);
    const qint64 tailStart = qMax<qint64>(0, size - fingerprintBytes);
    if (h.size() != headSize || !f.seek(tailStart))
        return false;
    const QByteArray t = f.read(size - tailStart);
    if (t.size() != size - tailStart)
        return false;
    *head = hashBytes(h.constData(), size_t(h.size()));
    *tail = hashBytes(t.constData(), size_t(t.size()));
    return true;
}

// Reads the lines of f from `from` to `to` into s; the bytes after the last
// line end go to `rest`.
void readLines(QFile &f, qint64 from, qint64 to, FileSummary *s, QByteArray *rest)
{
    rest->clear();
    if (from >= to || !f.seek(from))
        return;
    qint64 offset = from; // of buf's first byte
    qint64 left = to - from;
    QByteArray buf;
    while (left > 0) {
        const QByteArray block = f.read(qMin<qint64>(left, 1 << 20));
        if (block.isEmpty())
            break;
        left -= block.size();
        buf += block;
        const char *data = buf.constData();
        int start = 0;
        for (;;) {
            const void *nl = memchr(data + start, '\n', size_t(buf.size() - start));
            if (!nl)
                break;
            const int end = int(static_cast<const char *>(nl) - data) + 1;
            s->addLine(data + start, end - start, offset + start);
            start = end;
        }
        buf.remove(0, start);
        offset += start;
    }
    s->size = offset;
    *rest = buf;
}

void save(const QString &folder, const FileSummary &s)
{
    if (!QDir().mkpath(JournalIndex::folderOf(folder)))
        return;
    QSaveFile out(JournalIndex::summaryPath(folder, s.name));
    if (!out.open(QIODevice::WriteOnly))
        return;
    out.write(JournalIndex::encode(s));
    out.commit(); // a summary not written is rebuilt next time
}

} // namespace

void StateSummary::add(JournalState state, qint64 timeMs)
{
    if (confirmed)
        return;
    confirmed = state == JournalState::Confirmed;
    last = state;
    lastMs = timeMs;
    maxMs = qMax(maxMs, timeMs);
}

void FileSummary::addLine(const char *data, int n, qint64 offset)
{
    const int number = ++lines;
    if (isBlank(data, n))
        return;
    if (number == 1 && n >= 10 && memcmp(data, headerStart, 10) == 0)
        return;
    JournalLine line;
    if (!decodeJournalLine(data, n, &line)) {
        damaged << number;
        return;
    }
    if (line.kind == JournalRecord::StateChange) {
        states[line.id].add(line.state, line.timeMs);
        return;
    }
    entries.append({JournalIndex::nameHash(line.point), JournalIndex::idHash(line.id), offset});
    points.append({std::move(line), offset});
}

void FileSummary::settle()
{
    QSet<QString> confirmed;
    QVector<OpenPoint> open; // usually few: no room kept for the others
    for (OpenPoint &p : points) {
        const auto it = states.constFind(p.line.id);
        if (it != states.constEnd() && it->confirmed)
            confirmed.insert(p.line.id);
        else
            open.append(std::move(p));
    }
    for (const QString &id : qAsConst(confirmed))
        states.remove(id);
    points = std::move(open);
}

namespace JournalIndex {

quint64 nameHash(const MeasuringPoint &p)
{
    quint64 h = hashString(p.sessionName, 1);
    h = hashString(p.groupName, h);
    return hashString(p.pointName, h);
}

quint64 idHash(const QString &id)
{
    return hashString(id, 2);
}

QString folderOf(const QString &journalFolder)
{
    return QDir(journalFolder).filePath(QStringLiteral("index"));
}

QString summaryPath(const QString &journalFolder, const QString &name)
{
    return QDir(folderOf(journalFolder)).filePath(name + QStringLiteral(".idx"));
}

QByteArray encode(const FileSummary &s)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_5_15);
        out.writeRawData(magic, sizeof magic);
        out << layout << s.name << s.size << s.mtimeMs << s.headHash << s.tailHash << qint32(s.lines)
            << s.damaged;
        out << quint32(s.points.size());
        for (const OpenPoint &p : s.points) {
            const JournalLine &l = p.line;
            out << l.id << l.timeMs << l.point.sessionName << l.point.groupName << l.point.pointName
                << l.hzAngle << l.vAngle << l.slopeDistance << qint32(l.edmMode) << l.point.x
                << l.point.y << l.point.z << quint8(l.state) << p.offset;
        }
        out << quint32(s.states.size());
        for (auto it = s.states.constBegin(); it != s.states.constEnd(); ++it)
            out << it.key() << quint8(it->confirmed) << quint8(it->last) << it->lastMs << it->maxMs;
        out.writeRawData(reinterpret_cast<const char *>(&byteOrderMark), sizeof byteOrderMark);
        out << quint32(s.entries.size());
        out.writeRawData(reinterpret_cast<const char *>(s.entries.constData()),
                         int(s.entries.size() * sizeof(PointEntry)));
    }
    const quint64 sum = hashBytes(bytes.constData(), size_t(bytes.size()), 3);
    bytes.append(reinterpret_cast<const char *>(&sum), sizeof sum);
    return bytes;
}

bool decode(const QByteArray &bytes, FileSummary *summary)
{
    const int body = bytes.size() - int(sizeof(quint64));
    if (body < int(sizeof magic) || memcmp(bytes.constData(), magic, sizeof magic) != 0)
        return false;
    quint64 sum;
    memcpy(&sum, bytes.constData() + body, sizeof sum);
    if (sum != hashBytes(bytes.constData(), size_t(body), 3))
        return false;

    QByteArray data = QByteArray::fromRawData(bytes.constData(), body);
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_5_15);
    in.skipRawData(sizeof magic);
    quint32 version = 0;
    in >> version;
    if (version != layout)
        return false;
    FileSummary s;
    qint32 lines = 0;
    in >> s.name >> s.size >> s.mtimeMs >> s.headHash >> s.tailHash >> lines >> s.damaged;
    s.lines = lines;
    quint32 count = 0;
    in >> count;
    // Each point takes far more than 16 bytes: a count beyond that is damage.
    if (in.status() != QDataStream::Ok || count > quint32(body / 16))
        return false;
    s.points.resize(int(count));
    for (OpenPoint &p : s.points) {
        JournalLine &l = p.line;
        qint32 edm = 0;
        quint8 state = 0;
        in >> l.id >> l.timeMs >> l.point.sessionName >> l.point.groupName >> l.point.pointName
            >> l.hzAngle >> l.vAngle >> l.slopeDistance >> edm >> l.point.x >> l.point.y >> l.point.z
            >> state >> p.offset;
        if (state > quint8(JournalState::Skipped))
            return false;
        l.kind = JournalRecord::Point;
        l.edmMode = edm;
        l.state = JournalState(state);
    }
    in >> count;
    if (in.status() != QDataStream::Ok || count > quint32(body / 16))
        return false;
    s.states.reserve(int(count));
    for (quint32 i = 0; i < count; ++i) {
        QString id;
        quint8 confirmed = 0, last = 0;
        StateSummary st;
        in >> id >> confirmed >> last >> st.lastMs >> st.maxMs;
        if (last > quint8(JournalState::Skipped))
            return false;
        st.confirmed = confirmed != 0;
        st.last = JournalState(last);
        s.states.insert(id, st);
    }
    quint64 order = 0;
    in.readRawData(reinterpret_cast<char *>(&order), sizeof order);
    in >> count;
    if (in.status() != QDataStream::Ok || order != byteOrderMark
        || qint64(count) * qint64(sizeof(PointEntry)) != body - in.device()->pos())
        return false;
    s.entries.resize(int(count));
    in.readRawData(reinterpret_cast<char *>(s.entries.data()), int(count * sizeof(PointEntry)));
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    *summary = std::move(s);
    return true;
}

Read summarise(const QString &folder, const QString &name)
{
    Read r;
    const QString path = QDir(folder).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return r;
    r.opened = true;
    // Taken before reading: lines appended meanwhile are read next time.
    const qint64 mtime = QFileInfo(path).lastModified().toMSecsSinceEpoch();
    const qint64 size = f.size();

    FileSummary &s = r.summary;
    QFile stored(summaryPath(folder, name));
    bool usable = stored.open(QIODevice::ReadOnly) && decode(stored.readAll(), &s) && s.name == name
                  && s.size <= size && (s.size < size || s.mtimeMs == mtime);
    if (usable) {
        quint64 head = 0, tail = 0;
        usable = fingerprint(f, s.size, &head, &tail) && head == s.headHash && tail == s.tailHash;
    }
    if (!usable) {
        s = FileSummary();
        s.name = name;
        r.readInFull = true;
    }

    const qint64 covered = s.size;
    QByteArray rest;
    readLines(f, covered, size, &s, &rest);
    s.settle();
    if (r.readInFull || s.size != covered) {
        s.mtimeMs = mtime;
        if (fingerprint(f, s.size, &s.headHash, &s.tailHash))
            save(folder, s);
    }
    // A last line without its line end: read now, summarised once it has one.
    if (!rest.isEmpty()) {
        s.addLine(rest.constData(), rest.size(), s.size);
        s.settle();
    }
    return r;
}

void prune(const QString &journalFolder)
{
    const QDir index(folderOf(journalFolder));
    const QDir journal(journalFolder);
    for (const QString &name : index.entryList({QStringLiteral("*.idx")}, QDir::Files)) {
        if (!QFileInfo::exists(journal.filePath(name.chopped(4))))
            QFile::remove(index.filePath(name));
    }
}

} // namespace JournalIndex
