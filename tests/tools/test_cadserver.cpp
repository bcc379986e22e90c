// The reference CAD server as a process, spoken to with a plain socket:
// what it answers to each driver message, what it writes to its CSV file,
// and its name rules.

#include "cadserver.h"
#include "cadserverprocess.h"
#include "servermessages.h"

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace ServerMessages;

namespace {

// A driver stand-in: writes blocks, collects the server's replies.
class Speaker
{
public:
    bool connectTo(quint16 port)
    {
        sock.connectToHost("127.0.0.1", port);
        return sock.waitForConnected(5000);
    }
    void send(const QByteArray &block)
    {
        sock.write(block);
        sock.flush();
    }
    // Waits until n messages arrived (or 5 s passed); returns them.
    QList<ServerMessage> take(int n)
    {
        QElapsedTimer t;
        t.start();
        while (got.size() < n && t.elapsed() < 5000) {
            if (sock.waitForReadyRead(50))
                reader.feed(sock.readAll());
            QByteArray p;
            while (reader.next(&p)) {
                ServerMessage m;
                if (decodeServerMessage(p, &m))
                    got << m;
                else
                    got << ServerMessage(); // type 0xFFFF: not a server message
            }
        }
        QList<ServerMessage> out = got.mid(0, n);
        got = got.mid(qMin(n, got.size()));
        return out;
    }
    // True when nothing more arrives within ms.
    bool silentFor(int ms)
    {
        if (sock.waitForReadyRead(ms))
            reader.feed(sock.readAll());
        QByteArray p;
        return !reader.next(&p) && got.isEmpty();
    }
    QTcpSocket sock;
    BlockReader reader;
    QList<ServerMessage> got;
};

QList<quint16> types(const QList<ServerMessage> &ms)
{
    QList<quint16> t;
    for (const ServerMessage &m : ms)
        t << m.type;
    return t;
}

MeasuringPoint xyz(double x, double y, double z)
{
    MeasuringPoint p;
    p.x = x;
    p.y = y;
    p.z = z;
    return p;
}

} // namespace

class TestCadServer : public QObject
{
    Q_OBJECT

private slots:
    void nextPointNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("next");
        QTest::newRow("P7") << "P7" << "P8";
        QTest::newRow("P09") << "P09" << "P10";
        QTest::newRow("P99") << "P99" << "P100";
        QTest::newRow("A") << "A" << "A1";
        QTest::newRow("empty") << "" << "1";
        QTest::newRow("inner digits") << "W2-3" << "W2-4";
        QTest::newRow("long number") << "N99999999999999999999" << "N100000000000000000000";
    }
    void nextPointNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, next);
        QCOMPARE(CadServerNames::nextPointName(name), next);
    }

    void freeSessionNames()
    {
        QCOMPARE(CadServerNames::freeSessionName("S", {"S"}), QString("S_1"));
        QCOMPARE(CadServerNames::freeSessionName("S", {"S", "S_1", "S_2"}), QString("S_3"));
        QCOMPARE(CadServerNames::freeSessionName("S7", {"S7", "S8"}), QString("S9"));
    }

    void basePointFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("bp.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# known points\nB1 100 200 10\n\nB2,105.5,200,10.25  # pillar\n  B3 ;  1e3 2 3\n");
        f.close();
        QVector<KnownPoint> pts;
        QString error;
        QVERIFY2(readBasePoints(path, &pts, &error), qPrintable(error));
        QCOMPARE(pts.size(), 3);
        QCOMPARE(pts[1].name, QString("B2"));
        QCOMPARE(pts[1].x, 105.5);
        QCOMPARE(pts[1].z, 10.25);
        QCOMPARE(pts[2].x, 1000.0);

        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("B1 1 2 3\nB2 1 x 3\n");
        f.close();
        QVERIFY(!readBasePoints(path, &pts, &error));
        QVERIFY2(error.contains("line 2"), qPrintable(error));
    }

    // The whole conversation of one driver, in the order the driver has it.
    void conversation()
    {
        QTemporaryDir dir;
        const QString bp = dir.filePath("bp.txt");
        QFile f(bp);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("B1 100 200 10\nB2 110 200 11\n");
        f.close();
        const QString csv = dir.filePath("points.csv");
        CadServerProcess server;
        QString why;
        QVERIFY2(server.start({"--basepoints", bp, "--csv", csv, "--session", "Old", "--log",
                               dir.filePath("log.txt")}, &why), qPrintable(why));
        Speaker d;
        QVERIFY(d.connectTo(server.port));

        d.send(encodeGreeting());
        QCOMPARE(types(d.take(2)), (QList<quint16>{1, 9}));

        d.send(encodeIdentification("Stadiolink.exe", "S1", "G1", "TS16"));
        const QList<ServerMessage> bps = d.take(2);
        QCOMPARE(types(bps), (QList<quint16>{6, 6}));
        QCOMPARE(bps[1].texts, QStringList{"B2"});
        QCOMPARE(bps[1].xyz[0], 110.0);
        QCOMPARE(bps[1].xyz[2], 11.0);

        d.send(encodeSessionName("New"));
        QCOMPARE(types(d.take(1)), QList<quint16>{7});
        d.send(encodeSessionName("New"));
        QList<ServerMessage> conflict = d.take(1);
        QCOMPARE(types(conflict), QList<quint16>{0});
        QCOMPARE(conflict[0].texts, QStringList{"New_1"});
        d.send(encodeSessionName("Old"));
        QCOMPARE(d.take(1)[0].texts, QStringList{"Old_1"});

        MeasuringPoint p = xyz(1.5, -2.5, 0.125);
        p.sessionName = "New";
        p.groupName = "Walls, north";
        p.pointName = "P09";
        d.send(encodePoint(p));
        const QList<ServerMessage> info = d.take(1);
        QCOMPARE(types(info), QList<quint16>{2});
        QCOMPARE(info[0].texts, (QStringList{"New", "Walls, north", "P10", "TS16"}));

        // Broken and foreign blocks are skipped; the next one is answered.
        d.send(frame(QByteArray("\x00\x03\x00", 3)) + frame(QByteArray("\x00\x2a", 2)) + frame(QByteArray())
               + encodeEmpty(9) + encodeSessionName("Third"));
        const QList<ServerMessage> after = d.take(1);
        QCOMPARE(types(after), QList<quint16>{7});

        auto contents = [&csv] {
            QFile out(csv);
            return out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
        };
        QTRY_COMPARE(contents().count('\n'), 2);
        const QList<QByteArray> lines = contents().split('\n');
        QCOMPARE(lines[0], QByteArray("session,group,point,x,y,z,device"));
        QCOMPARE(lines[1], QByteArray("New,\"Walls, north\",P09,1.5000,-2.5000,0.1250,TS16"));
    }

    // A known station (rotation 30°, shift, height offset) is recovered and
    // sent as the 4x4 matrix, row by row.
    void stationMatrix()
    {
        CadServerProcess server;
        QString why;
        QVERIFY2(server.start({"--log", "/dev/null"}, &why), qPrintable(why));
        Speaker d;
        QVERIFY(d.connectTo(server.port));
        const double w = M_PI / 6, tx = 1000, ty = 2000, tz = 50;
        QVector<MeasuringPoint> measured, known;
        const double pts[4][3] = {{10, 0, 1}, {0, 20, 2}, {-15, -5, 0.5}, {30, 40, 3}};
        for (const auto &q : pts) {
            measured << xyz(q[0], q[1], q[2]);
            known << xyz(std::cos(w) * q[0] - std::sin(w) * q[1] + tx,
                         std::sin(w) * q[0] + std::cos(w) * q[1] + ty, q[2] + tz);
        }
        d.send(encodeBasePointSet(measured, known, {1, 1, 1, 1}));
        const QList<ServerMessage> m = d.take(1);
        QCOMPARE(types(m), QList<quint16>{8});
        const QMatrix4x4 &M = m[0].matrix;
        QVERIFY(qAbs(M(0, 0) - std::cos(w)) < 1e-6);
        QVERIFY(qAbs(M(0, 1) + std::sin(w)) < 1e-6);
        QVERIFY(qAbs(M(1, 0) - std::sin(w)) < 1e-6);
        QVERIFY(qAbs(M(0, 3) - tx) < 1e-3);
        QVERIFY(qAbs(M(1, 3) - ty) < 1e-3);
        QVERIFY(qAbs(M(2, 3) - tz) < 1e-4);
        QCOMPARE(M(2, 2), 1.0f);
        QCOMPARE(M.row(3), QVector4D(0, 0, 0, 1));
    }

    // Refused sets get no answer; the connection goes on.
    void refusedSets()
    {
        CadServerProcess server;
        QString why;
        QVERIFY2(server.start({"--log", "/dev/null"}, &why), qPrintable(why));
        Speaker d;
        QVERIFY(d.connectTo(server.port));
        const MeasuringPoint a = xyz(1, 1, 0), b = xyz(5, 1, 0);
        d.send(encodeBasePointSet({a}, {a}, {1}));                 // one point
        d.send(encodeBasePointSet({a, b}, {a, b}, {1, 1, 1}));     // weights not aligned
        d.send(encodeBasePointSet({a, a, a}, {a, b, b}, {1, 1, 1})); // measured on one spot
        d.send(encodeBasePointSet({a, b}, {a, b}, {1, 0}));        // weight 0
        d.send(encodeSessionName("after"));
        QCOMPARE(types(d.take(1)), QList<quint16>{7});
        QVERIFY(d.silentFor(100));
    }

    void sendBasePointsAfterPoints()
    {
        QTemporaryDir dir;
        const QString bp = dir.filePath("bp.txt");
        QFile f(bp);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("B1 1 2 3\n");
        f.close();
        CadServerProcess server;
        QString why;
        QVERIFY2(server.start({"--basepoints", bp, "--send-basepoints-after", "2", "--log", "/dev/null"}, &why),
                 qPrintable(why));
        Speaker d;
        QVERIFY(d.connectTo(server.port));
        d.send(encodeGreeting() + encodeIdentification("A", "S", "G", "D"));
        MeasuringPoint p;
        p.pointName = "P1";
        d.send(encodePoint(p));
        QCOMPARE(types(d.take(3)), (QList<quint16>{1, 9, 2}));
        d.send(encodePoint(p));
        QCOMPARE(types(d.take(2)), (QList<quint16>{2, 6}));
    }

    void badOptionsFail()
    {
        QProcess p;
        p.start(CadServerProcess::program(), {"--port", "70000"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        p.start(CadServerProcess::program(), {"--basepoints", "/nonexistent/bp.txt"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("nonexistent"));
    }
};

QTEST_GUILESS_MAIN(TestCadServer)
#include "test_cadserver.moc"
