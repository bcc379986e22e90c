// The server link against a QTcpServer on port 0 played by the test: what
// goes on the wire, what each server message yields, broken input, refusals,
// stalls, closing and the link's pace.

#include "client.h"
#include "clientwire.h"
#include "servermessages.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

using namespace ServerMessages;
using namespace Wire;

namespace {

// Records every signal of the link in arrival order (queued into the test
// thread, as the main window gets them).
class Recorder : public QObject
{
public:
    explicit Recorder(Client *c)
    {
        connect(c, &Client::connected, this, [this] { log << "connected"; });
        connect(c, &Client::disconnected, this, [this] { log << "disconnected"; });
        connect(c, &Client::newInfoMeasurement, this,
                [this](QString s, QString g, QString p, QString d) {
                    log << QStringList{"info", s, g, p, d}.join('|');
                });
        connect(c, &Client::errorInfo, this, [this](ErrorInfo e) {
            errors << e;
            log << "error|" + e.text;
        });
        connect(c, &Client::successSetSessionName, this, [this] { log << "sessionOk"; });
        connect(c, &Client::newGroupName, this, [this](QString g) { log << "group|" + g; });
        connect(c, &Client::newBasePoint, this, [this](MeasuringPoint p) {
            basePoints << p;
            log << "base|" + p.pointName;
        });
        connect(c, &Client::newMatrix, this, [this](QMatrix4x4 m) {
            matrices << m;
            log << "matrix";
        });
    }
    QStringList log;
    QList<ErrorInfo> errors;
    QList<MeasuringPoint> basePoints;
    QList<QMatrix4x4> matrices;
};

// The server side: accepts one connection and collects what arrives.
class Peer : public QObject
{
public:
    Peer()
    {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            sock = server.nextPendingConnection();
            if (readLimit > 0)
                sock->setReadBufferSize(readLimit);
            connect(sock, &QTcpSocket::readyRead, this, [this] {
                if (!paused)
                    received += sock->readAll();
            });
        });
    }
    quint16 port() const { return server.serverPort(); }
    void send(const QByteArray &bytes)
    {
        sock->write(bytes);
        sock->flush();
    }
    // Payloads of the complete blocks received so far.
    QList<QByteArray> blocks() const
    {
        BlockReader r;
        r.feed(received);
        QList<QByteArray> out;
        QByteArray p;
        while (r.next(&p))
            out << p;
        return out;
    }
    QTcpServer server;
    QTcpSocket *sock = nullptr;
    QByteArray received;
    bool paused = false;
    qint64 readLimit = 0;
};

// A link that, once asked, stays inside its next exchange until released.
class HeldClient : public Client
{
public:
    HeldClient() : Client("Stadiolink.exe") {}
    std::atomic<bool> hold{false};
    QSemaphore entered, release;

protected:
    void exchange() override
    {
        if (hold.exchange(false)) {
            entered.release();
            release.acquire();
        }
        Client::exchange();
    }
};

struct Link {
    std::unique_ptr<Peer> peer{new Peer};
    std::unique_ptr<Client> client{new Client("Stadiolink.exe")};
    std::unique_ptr<Recorder> rec;
    Link() { rec.reset(new Recorder(client.get())); }
    ~Link()
    {
        if (client->isRunning())
            client->stop();
    }
    // Connects, queues the greeting and starts; returns once the peer has
    // it and, with `identify`, has asked for the identification (9) and got
    // it, as a server does.
    bool open(const QString &session = "S1", const QString &group = "G1",
              const QString &device = "TS16", bool identify = true)
    {
        if (!client->connectToServer("127.0.0.1", peer->port()))
            return false;
        client->sendDevice(session, group, device);
        client->start();
        if (!waitFor(encodeGreeting()))
            return false;
        if (!identify)
            return true;
        peer->send(encodeEmpty(Identify));
        return waitFor(encodeGreeting() + identification(session, group, device));
    }
    bool waitFor(const QByteArray &bytes)
    {
        QElapsedTimer t;
        t.start();
        while (peer->received.size() < bytes.size() && t.elapsed() < 5000)
            QTest::qWait(5);
        return peer->received == bytes;
    }
    static QByteArray identification(const QString &session = "S1", const QString &group = "G1",
                                     const QString &device = "TS16")
    {
        return block(u16(1) + str("Stadiolink.exe") + str(session) + str(group) + str(device));
    }
};

} // namespace

class TestClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerServerMetaTypes(); }

    void connectFailsWithoutListener()
    {
        quint16 port;
        {
            QTcpServer s;
            QVERIFY(s.listen(QHostAddress::LocalHost, 0));
            port = s.serverPort();
        }
        // The connection is made in the link's thread; the caller never waits.
        Client c("Stadiolink.exe");
        Recorder rec(&c);
        QStringList failures;
        connect(&c, &Client::connectFailed, this, [&](QString why) { failures << why; });
        QVERIFY(c.connectToServer("127.0.0.1", port));
        c.start();
        QTRY_COMPARE(failures, QStringList{"Connection rejected"});
        QVERIFY(c.wait(5000));
        QCOMPARE(c.errorString(), QString("Connection rejected"));
        QVERIFY(rec.errors.isEmpty());
        Client empty("Stadiolink.exe");
        QVERIFY(!empty.connectToServer(" ", 5544));
    }

    // The greeting first; then nothing but the identification, asked for
    // or not, goes out before what was posted meanwhile.
    void nothingBeforeTheIdentification()
    {
        MeasuringPoint p;
        p.pointName = "P";
        for (bool asked : {true, false}) {
            Link l;
            l.client->setIdentifyWait(asked ? 60000 : 300);
            l.client->sendPoint(p, true);
            l.client->sendSessionName("S2");
            QVERIFY(l.open("S1", "G1", "TS16", false));
            QCOMPARE(l.peer->received.toHex(' '), QByteArray("00 06 64 65 76 69 63 65"));
            if (asked) {
                QTest::qWait(300);
                QCOMPARE(l.peer->received, encodeGreeting());
                l.peer->send(encodeEmpty(Identify));
            }
            QTRY_COMPARE(l.peer->received, encodeGreeting() + Link::identification() + encodePoint(p)
                                               + encodeSessionName("S2"));
        }
    }

    // 9 twice in one segment: two identical identifications with the names
    // of the moment; 2 changes them for the next one.
    void identificationFollowsTheNames()
    {
        Link l;
        QVERIFY(l.open("S1", "G1", "TS16"));
        l.peer->received.clear();
        l.peer->send(encodeEmpty(Identify) + encodeEmpty(Identify));
        const QByteArray ident = block(u16(1) + str("Stadiolink.exe") + str("S1") + str("G1") + str("TS16"));
        QTRY_COMPARE(l.peer->received, ident + ident);

        l.peer->received.clear();
        l.peer->send(encodePointInfo("S2", "G2", "P8", "TS60") + encodeEmpty(Identify));
        QTRY_COMPARE(l.peer->received,
                     block(u16(1) + str("Stadiolink.exe") + str("S2") + str("G2") + str("TS60")));
        // The answer's signal is queued to this thread apart from the bytes
        // on the socket: either may be handled first.
        QTRY_COMPARE(l.rec->log.value(0), QString("info|S2|G2|P8|TS60"));
        QCOMPARE(l.client->sessionNameValue(), QString("S2"));

        l.client->setSessionName("S3");
        QCOMPARE(l.client->sessionNameValue(), QString("S3"));
        l.peer->received.clear();
        l.peer->send(encodeGroupName("G9") + encodeEmpty(Identify));
        QTRY_COMPARE(l.peer->received,
                     block(u16(1) + str("Stadiolink.exe") + str("S3") + str("G9") + str("TS60")));
    }

    void everyServerMessageInOneSegment()
    {
        Link l;
        QVERIFY(l.open());
        double v[16];
        for (int i = 0; i < 16; ++i)
            v[i] = i + 1;
        l.peer->send(encodeSessionExists("S1_1") + encodeEmpty(ConnectedToServer)
                     + encodePointInfo("S", "G", "P2", "D") + encodeGroupName("Walls")
                     + encodeBasePoint("B1", 10.5, 20.25, 3.125) + encodeEmpty(SessionAccepted)
                     + encodeMatrix(v));
        QTRY_COMPARE(l.rec->log.size(), 7);
        QCOMPARE(l.rec->log, (QStringList{"error|A session with that name already exists. Replace with: S1_1 ?",
                                           "connected", "info|S|G|P2|D", "group|Walls", "base|B1",
                                           "sessionOk", "matrix"}));
        const ErrorInfo e = l.rec->errors.first();
        QCOMPARE(e.title, QString("Session error"));
        QCOMPARE(int(e.icon), 4);
        QCOMPARE(int(e.buttons), 4210688);
        QCOMPARE(e.kind, 2);
        QCOMPARE(e.args, QStringList{"S1_1"});
        const MeasuringPoint b = l.rec->basePoints.first();
        QVERIFY(b.sessionName.isEmpty() && b.groupName.isEmpty());
        QCOMPARE(b.x, 10.5);
        QCOMPARE(b.y, 20.25);
        QCOMPARE(b.z, 3.125);
        const QMatrix4x4 m = l.rec->matrices.first();
        QCOMPARE(m.row(0), QVector4D(1, 2, 3, 4));
        QCOMPARE(m(1, 0), 5.0f);
        QCOMPARE(m(3, 2), 15.0f);
        QVERIFY(l.rec->errors.size() == 1);
    }

    void splitBlockWaitsForItsLastByte()
    {
        Link l;
        QVERIFY(l.open());
        const QByteArray msg = encodeBasePoint("B7", 1, 2, 3);
        l.peer->send(msg.left(1));
        QTest::qWait(30);
        l.peer->send(msg.mid(1, 10));
        QTest::qWait(30);
        l.peer->send(msg.mid(11, msg.size() - 12));
        QTest::qWait(150); // more than one read pass
        QVERIFY(l.rec->log.isEmpty());
        l.peer->send(msg.right(1) + encodeEmpty(SessionAccepted).left(1));
        QTRY_COMPARE(l.rec->log, QStringList{"base|B7"});
        l.peer->send(encodeEmpty(SessionAccepted).mid(1));
        QTRY_COMPARE(l.rec->log, (QStringList{"base|B7", "sessionOk"}));
    }

    // Each bad block is skipped whole; the good blocks around it still count.
    void malformedBlocksAreSkipped()
    {
        Link l;
        QVERIFY(l.open());
        QByteArray bad;
        bad += block(u16(3) + str("S") + str("G") + str("P") + f64(1) + f64(2) + f64(3));
        bad += block(u16(4) + str("S"));
        bad += block(u16(10) + str("x"));
        bad += block(u16(6) + str("B") + f64(1));                // runs short
        bad += block(u16(7) + u16(1));                           // runs past: taken
        bad += block(u16(0) + u32(1000) + QByteArray(8, 'a'));   // string past the block
        bad += block(u16(5) + str("G") + encodeEmpty(1));        // taken, the inner block skipped
        bad += block(QByteArray());
        bad += block(QByteArray(1, '\x09'));                     // half a type
        l.peer->send(encodeGroupName("before") + bad + encodeGroupName("after"));
        QTRY_COMPARE(l.rec->log.size(), 4);
        QTest::qWait(150);
        // Blocks longer than their message are acted on, the rest skipped.
        QCOMPARE(l.rec->log, (QStringList{"group|before", "sessionOk", "group|G", "group|after"}));
        QCOMPARE(l.peer->received, encodeGreeting() + Link::identification()); // no answer to a broken 9
    }

    void sendsGoOutInOrder()
    {
        Link l;
        QVERIFY(l.open());
        MeasuringPoint p;
        p.sessionName = "S";
        p.groupName = "G";
        p.pointName = "P1";
        p.x = 1;
        p.y = 2;
        p.z = 3;
        MeasuringPoint k = p;
        k.x = 100;
        QVERIFY(l.client->sendPoint(p));
        QVERIFY(l.client->sendSessionName(""));
        QVERIFY(l.client->sendBasePointSet({p, p}, {k, k}, {1.0, 0.5}));
        const QByteArray want = encodeGreeting() + Link::identification() + encodePoint(p) + QByteArray::fromHex("0006000400000000")
                                + encodeBasePointSet({p, p}, {k, k}, {1.0, 0.5});
        QTRY_COMPARE(l.peer->received, want);
    }

    // Too large for one block: refused to the caller, nothing on the wire,
    // the link goes on.
    void oversizedSetIsRefused()
    {
        Link l;
        QVERIFY(l.open());
        QVector<MeasuringPoint> pts(MaxBasePointSet + 1);
        QVector<double> w(MaxBasePointSet + 1, 1.0);
        QSignalSpy errors(l.client.get(), &Client::errorInfo);
        QVERIFY(!l.client->sendBasePointSet(pts, pts, w));
        // Reported from the event loop, never inside the caller.
        QCOMPARE(errors.count(), 0);
        QTRY_COMPARE(errors.count(), 1);
        const ErrorInfo e = errors.first().first().value<ErrorInfo>();
        QVERIFY2(e.text.contains("1171"), qPrintable(e.text));
        QCOMPARE(e.kind, 1); // a warning: the connection stays up
        QCOMPARE(int(e.buttons), 1024);
        QCOMPARE(l.client->errorString(), e.text);
        MeasuringPoint named;
        named.pointName = QString(40000, 'x');
        QVERIFY(!l.client->sendPoint(named));
        QVERIFY(!l.client->sendSessionName(QString(33000, 's')));

        pts.removeLast();
        w.removeLast();
        QVERIFY(l.client->sendBasePointSet(pts, pts, w));
        QTRY_COMPARE(l.peer->received.size(), 8 + Link::identification().size() + 2 + 65534);
        const QList<QByteArray> blocks = l.peer->blocks();
        QCOMPARE(blocks.size(), 3);
        DriverMessage m;
        QVERIFY(decodeDriverMessage(blocks[2], &m));
        QCOMPARE(m.measured.size(), MaxBasePointSet);
        QVERIFY(l.client->isRunning());
    }

    void serverClosingIsReportedInOrder()
    {
        Link l;
        QVERIFY(l.open());
        l.peer->sock->disconnectFromHost();
        QTRY_COMPARE(l.rec->log.size(), 2);
        QCOMPARE(l.rec->log, (QStringList{"disconnected", "error|The server has closed the connection"}));
        const ErrorInfo e = l.rec->errors.first();
        QCOMPARE(e.title, QString("Network information"));
        QCOMPARE(int(e.icon), 3);
        QCOMPARE(int(e.buttons), 1024);
        QCOMPARE(e.kind, -1);
        QVERIFY(e.args.isEmpty());
        QTRY_VERIFY(l.client->isFinished());
        l.client->stop(); // returns at once
    }

    // Messages that arrive with the close are still handled first.
    void lastWordsBeforeClosing()
    {
        Link l;
        QVERIFY(l.open());
        l.peer->send(encodeGroupName("last"));
        l.peer->sock->disconnectFromHost();
        QTRY_COMPARE(l.rec->log.size(), 3);
        QCOMPARE(l.rec->log.first(), QString("group|last"));
    }

    // The same while the link is busy writing: the close is noticed inside
    // the write, and the message that came with it still counts.
    void lastWordsWhileWriting()
    {
        Link l;
        l.peer->readLimit = 1;
        // Where the system does not report the reset to a writer at once
        // (wine), the stalled write ends the link; soon, for this test.
        l.client->setWriteTimeout(2000);
        QVERIFY(l.open());
        l.peer->paused = true;
        QVector<MeasuringPoint> pts(MaxBasePointSet);
        QVector<double> w(MaxBasePointSet, 1.0);
        for (int i = 0; i < 60; ++i)
            l.client->sendBasePointSet(pts, pts, w);
        QTest::qWait(300);
        l.peer->send(encodeGroupName("last"));
        l.peer->sock->abort();
        QTRY_VERIFY_WITH_TIMEOUT(l.client->isFinished(), 15000);
        QTRY_VERIFY(!l.rec->log.isEmpty());
        QCOMPARE(l.rec->log.first(), QString("group|last"));
    }

    // A server that stops reading: the write gives up after its bound and is
    // reported as a network error instead of blocking the link (and with it
    // every send of the GUI thread) for good.
    void stalledWriteIsANetworkError()
    {
        Link l;
        l.peer->readLimit = 1;
        l.client->setWriteTimeout(1000);
        l.client->setIdentifyWait(0);
        QVERIFY(l.client->connectToServer("127.0.0.1", l.peer->port()));
        l.peer->paused = true;
        QVector<MeasuringPoint> pts(MaxBasePointSet);
        QVector<double> w(MaxBasePointSet, 1.0);
        for (int i = 0; i < 300; ++i) // ~20 MB, far more than the socket buffers
            QVERIFY(l.client->sendBasePointSet(pts, pts, w));
        QList<MeasuringPoint> unsent;
        connect(l.client.get(), &Client::pointNotSent, this, [&](MeasuringPoint p) { unsent << p; });
        for (const char *name : {"A", "B"}) {
            MeasuringPoint p;
            p.pointName = name;
            QVERIFY(l.client->sendPoint(p));
        }
        l.client->start();
        // While the write hangs, the GUI thread can still queue at once.
        QTest::qWait(100);
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            l.client->sendSessionName("S");
            QVERIFY2(t.elapsed() < 200 || l.client->isFinished(), qPrintable(QString::number(t.elapsed())));
        }
        QTRY_VERIFY_WITH_TIMEOUT(l.client->isFinished(), 20000);
        QTRY_COMPARE(l.rec->errors.size(), 1);
        QCOMPARE(l.rec->errors.first().text, QString("The server does not accept data"));
        QCOMPARE(l.rec->errors.first().kind, -1);
        // The points that never went out are given back, in order.
        QTRY_COMPARE(unsent.size(), 2);
        QCOMPARE(unsent[0].pointName, QString("A"));
        QCOMPARE(unsent[1].pointName, QString("B"));
        MeasuringPoint late;
        QVERIFY(!l.client->sendPoint(late)); // nothing takes it any more
        QCOMPARE(l.client->errorString(), QString("There is no connection to the server"));
    }

    // An accepted name (7) becomes the link's session name, so the next
    // measurement in that session sends no second message 4.
    void acceptedSessionNameIsRecorded()
    {
        Link l;
        QVERIFY(l.open("S1"));
        l.client->sendSessionName("S2");
        QTRY_COMPARE(l.peer->blocks().size(), 3);
        QCOMPARE(l.client->sessionNameValue(), QString("S1"));
        // A name refused as too long was never sent: S2 is still the one
        // the acceptance is for.
        QVERIFY(!l.client->sendSessionName(QString(40000, 'x')));
        l.peer->send(encodeEmpty(SessionAccepted));
        QTRY_VERIFY(l.rec->log.contains("sessionOk"));
        QCOMPARE(l.client->sessionNameValue(), QString("S2"));
    }

    void stopDrainsTheQueue()
    {
        Link l;
        QVERIFY(l.open());
        for (int i = 0; i < 3; ++i) {
            MeasuringPoint p;
            p.pointName = QString("P%1").arg(i);
            l.client->sendPoint(p);
        }
        QVector<MeasuringPoint> pts(MaxBasePointSet);
        QVector<double> w(MaxBasePointSet, 1.0);
        for (int i = 0; i < 100; ++i) // more than the socket buffers take
            l.client->sendBasePointSet(pts, pts, w);
        QTest::qWait(20); // let the test's event loop fall behind on reading
        // requestStop() returns at once; the link drains, then closes.
        QElapsedTimer t;
        t.start();
        l.client->requestStop();
        QVERIFY(t.elapsed() < 100);
        QTRY_VERIFY_WITH_TIMEOUT(l.client->isFinished(), 20000);
        QTRY_COMPARE(l.peer->blocks().size(), 105);
        QTRY_COMPARE(l.peer->sock->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(l.rec->errors.isEmpty());
    }

    // With a silent server a pass must not wait out its read slice while
    // points are queued: at one point per 100 ms slice 1000 points would take
    // 100 s; back to back they take well under a second. The bound only
    // catches the slow pace, never a loaded machine. (Pace figures come from
    // bench_client.)
    void queuedPointsDoNotWaitForReplies()
    {
        Link l;
        QVERIFY(l.open());
        for (int i = 0; i < 1000; ++i) {
            MeasuringPoint p;
            p.pointName = QString("P%1").arg(i);
            l.client->sendPoint(p);
        }
        QTRY_COMPARE_WITH_TIMEOUT(l.peer->blocks().size(), 1002, 40000);
    }

    // The window's destruction: stop() does not wait for a server that
    // reads nothing.
    void stopDoesNotWaitForAServerThatReadsNothing()
    {
        Link l;
        l.peer->readLimit = 1;
        QVERIFY(l.open());
        l.peer->paused = true;
        QVector<MeasuringPoint> pts(MaxBasePointSet);
        QVector<double> w(MaxBasePointSet, 1.0);
        for (int i = 0; i < 300; ++i)
            QVERIFY(l.client->sendBasePointSet(pts, pts, w));
        QTest::qWait(200);
        QElapsedTimer t;
        t.start();
        l.client->stop();
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(l.rec->errors.isEmpty());
    }

    // The answer to a point sent again names that old point: the link's
    // names stay those of the live measurements.
    void answerToAPointSentAgainLeavesTheNames()
    {
        Link l;
        QVERIFY(l.open("S1", "G1", "TS16"));
        MeasuringPoint old;
        old.sessionName = "OLD";
        old.pointName = "X";
        MeasuringPoint now = old;
        now.sessionName = "S1";
        l.client->sendPoint(old, true);
        l.client->sendPoint(now);
        QTRY_COMPARE(l.peer->blocks().size(), 4);
        l.peer->send(encodePointInfo("OLD", "GX", "X1", "TS01"));
        QTRY_COMPARE(l.rec->log.size(), 1);
        QCOMPARE(l.client->sessionNameValue(), QString("S1"));
        QCOMPARE(l.client->names().group, QString("G1"));
        l.peer->send(encodePointInfo("S1", "G2", "X1", "TS16"));
        QTRY_COMPARE(l.rec->log.size(), 2);
        QCOMPARE(l.client->names().group, QString("G2"));
    }

    // The GUI thread's sends and name accessors never wait for the link:
    // they return while the link is held inside an exchange.
    void sendsDoNotWaitForTheLink()
    {
        Link l;
        auto *held = new HeldClient;
        l.client.reset(held);
        l.rec.reset(new Recorder(held));
        QVERIFY(l.open());
        held->hold = true;
        l.peer->send(encodeGroupName("G")); // wakes the link
        QVERIFY(held->entered.tryAcquire(1, 20000));
        std::atomic<bool> returned{false};
        {
            std::thread gui([&] {
                held->setSessionName("S");
                held->sessionNameValue();
                held->sendSessionName("S2");
                MeasuringPoint p;
                p.pointName = "P";
                held->sendPoint(p);
                returned = true;
            });
            struct Release {
                HeldClient *h;
                std::thread &t;
                ~Release()
                {
                    h->release.release();
                    t.join();
                }
            } release{held, gui};
            QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 20000);
        } // releases the link
        QTRY_COMPARE(l.peer->blocks().size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestClient)
#include "test_client.moc"
