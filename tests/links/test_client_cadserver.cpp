// The server link against the reference CAD server process: the whole road
// of a session, a point and a station set-up, as the main window drives it.

#include "../tools/cadserverprocess.h"
#include "client.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

class TestClientCadServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerServerMetaTypes(); }

    void sessionPointAndStation()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("bp.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        // A station at (500, 800, 20) turned by 90°: measured (x, y) is
        // known (500 - y, 800 + x).
        f.write("B1 500 810 21\nB2 490 800 20\nB3 480 830 22.5\n");
        f.close();
        CadServerProcess server;
        QString why;
        QVERIFY2(server.start({"--basepoints", f.fileName(), "--session", "Taken", "--log",
                               dir.filePath("log.txt"), "--csv", dir.filePath("p.csv")}, &why),
                 qPrintable(why));

        // The link's signals, taken in this thread as the main window takes
        // them (queued).
        Client c("Stadiolink.exe");
        QObject here;
        int connected = 0, accepted = 0;
        QList<MeasuringPoint> bases;
        QList<QStringList> infos;
        QList<ErrorInfo> errors;
        QList<QMatrix4x4> matrices;
        connect(&c, &Client::connected, &here, [&] { ++connected; });
        connect(&c, &Client::newBasePoint, &here, [&](MeasuringPoint p) { bases << p; });
        connect(&c, &Client::newInfoMeasurement, &here,
                [&](QString s, QString g, QString p, QString d) { infos << QStringList{s, g, p, d}; });
        connect(&c, &Client::errorInfo, &here, [&](ErrorInfo e) { errors << e; });
        connect(&c, &Client::successSetSessionName, &here, [&] { ++accepted; });
        connect(&c, &Client::newMatrix, &here, [&](QMatrix4x4 m) { matrices << m; });
        QVERIFY(c.connectToServer("127.0.0.1", server.port));
        c.sendDevice("Taken", "G1", "TS16");
        c.start();
        QTRY_COMPARE(connected, 1);
        QTRY_COMPARE(bases.size(), 3); // after the identification the server asked for
        QCOMPARE(bases[2].pointName, QString("B3"));

        c.sendSessionName("Taken");
        QTRY_COMPARE(errors.size(), 1);
        const ErrorInfo e = errors[0];
        QCOMPARE(e.kind, 2);
        QCOMPARE(e.args, QStringList{"Taken_1"});
        c.sendSessionName(e.args[0]);
        QTRY_COMPARE(accepted, 1);
        c.setSessionName(e.args[0]);

        MeasuringPoint p;
        p.sessionName = c.sessionNameValue();
        p.groupName = "G1";
        p.pointName = "P7";
        p.x = 1;
        c.sendPoint(p);
        QTRY_COMPARE(infos.size(), 1);
        QCOMPARE(infos[0], (QStringList{"Taken_1", "G1", "P8", "TS16"}));

        QVector<MeasuringPoint> measured, known;
        for (int i = 0; i < 3; ++i) {
            MeasuringPoint k = bases[i];
            MeasuringPoint m;
            m.x = k.y - 800;
            m.y = 500 - k.x;
            m.z = k.z - 20;
            measured << m;
            known << k;
        }
        QVERIFY(c.sendBasePointSet(measured, known, {1, 1, 0.5}));
        QTRY_COMPARE(matrices.size(), 1);
        const QMatrix4x4 M = matrices[0];
        const QVector3D mapped = M.map(QVector3D(float(measured[2].x), float(measured[2].y), float(measured[2].z)));
        QVERIFY(std::abs(mapped.x() - 480) < 1e-3);
        QVERIFY(std::abs(mapped.y() - 830) < 1e-3);
        QVERIFY(std::abs(mapped.z() - 22.5) < 1e-4);
        QCOMPARE(errors.size(), 1);
        c.stop();
    }
};

QTEST_GUILESS_MAIN(TestClientCadServer)
#include "test_client_cadserver.moc"
