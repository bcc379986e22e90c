// The server-link codec, byte for byte against hand-built wire data, and the
// block reader that keeps a stream in step.

#include "clientwire.h"
#include "servermessages.h"

#include <QtTest>

using namespace ServerMessages;
using namespace Wire;

class TestClientCodec : public QObject
{
    Q_OBJECT

private slots:
    void greetingIsEightBytes()
    {
        QCOMPARE(encodeGreeting().toHex(' '), QByteArray("00 06 64 65 76 69 63 65"));
    }

    void sessionNameEmptyAndNull()
    {
        QCOMPARE(encodeSessionName(QStringLiteral("")).toHex(' '),
                 QByteArray("00 06 00 04 00 00 00 00"));
        QCOMPARE(encodeSessionName(QString()).toHex(' '), QByteArray("00 06 00 04 ff ff ff ff"));
        QCOMPARE(encodeSessionName(QStringLiteral("Съёмка 1")),
                 block(u16(4) + str(QStringLiteral("Съёмка 1"))));
    }

    void identificationAndPoint()
    {
        QCOMPARE(encodeIdentification("Stadiolink.exe", "S1", "", "TS16"),
                 block(u16(1) + str("Stadiolink.exe") + str("S1") + str("") + str("TS16")));
        MeasuringPoint pt;
        pt.sessionName = "S";
        pt.groupName = "G";
        pt.pointName = "P7";
        pt.x = 1.5;
        pt.y = -2.25;
        pt.z = 1e6;
        const QByteArray b = encodePoint(pt);
        QCOMPARE(b, block(u16(3) + str("S") + str("G") + str("P7") + f64(1.5) + f64(-2.25) + f64(1e6)));
        QCOMPARE(b.size(), 2 + 2 + (6 + 6 + 8) + 24);
    }

    void basePointSetCarriesCoordinatesThenWeights()
    {
        MeasuringPoint a, b, k;
        a.pointName = "ignored";
        a.x = 1;
        a.y = 2;
        a.z = 3;
        b.x = 4;
        k.x = 10;
        k.y = 20;
        k.z = 30;
        const QByteArray got = encodeBasePointSet({a, b}, {k}, {1.0, 0.5, 0.0});
        const QByteArray want = block(u16(8) + u32(2) + f64(1) + f64(2) + f64(3) + f64(4) + f64(0)
                                      + f64(0) + u32(1) + f64(10) + f64(20) + f64(30) + u32(3)
                                      + f64(1.0) + f64(0.5) + f64(0.0));
        QCOMPARE(got, want);
        QCOMPARE(encodeBasePointSet({}, {}, {}), block(u16(8) + u32(0) + u32(0) + u32(0)));
    }

    // 14 + 56·n bytes: 1170 points fill 65534 of 65535, 1171 do not fit.
    void basePointSetSizeLimit()
    {
        QVector<MeasuringPoint> pts(MaxBasePointSet);
        QVector<double> w(MaxBasePointSet, 1.0);
        QString error;
        const QByteArray fits = encodeBasePointSet(pts, pts, w, &error);
        QCOMPARE(fits.size(), 2 + 65534);
        QCOMPARE(quint8(fits[0]), quint8(0xFF));
        QCOMPARE(quint8(fits[1]), quint8(0xFE));
        QVERIFY(error.isEmpty());

        pts.append(MeasuringPoint());
        QVERIFY(encodeBasePointSet(pts, pts, w, &error).isEmpty());
        QVERIFY2(error.contains("1171") && error.contains("1170"), qPrintable(error));
        // The weights alone can overflow the block too.
        pts.removeLast();
        w.append(QVector<double>(8, 1.0));
        QVERIFY(encodeBasePointSet(pts, pts, w).isEmpty());
    }

    void frameRefusesOversizedPayload()
    {
        QCOMPARE(frame(QByteArray(0xFFFF, 'a')).size(), 0x10001);
        QVERIFY(frame(QByteArray(0x10000, 'a')).isEmpty());
        MeasuringPoint pt;
        pt.pointName = QString(40000, 'x'); // 80000 bytes of text
        QVERIFY(encodePoint(pt).isEmpty());
    }

    void serverEncodersMatchWire()
    {
        QCOMPARE(encodeSessionExists("S_1"), block(u16(0) + str("S_1")));
        QCOMPARE(encodeEmpty(1).toHex(' '), QByteArray("00 02 00 01"));
        QCOMPARE(encodeEmpty(7).toHex(' '), QByteArray("00 02 00 07"));
        QCOMPARE(encodeEmpty(9).toHex(' '), QByteArray("00 02 00 09"));
        QCOMPARE(encodePointInfo("S", "G", "P8", "TS"),
                 block(u16(2) + str("S") + str("G") + str("P8") + str("TS")));
        QCOMPARE(encodeGroupName("Walls"), block(u16(5) + str("Walls")));
        QCOMPARE(encodeBasePoint("B1", 1, 2, 3), block(u16(6) + str("B1") + f64(1) + f64(2) + f64(3)));
        double v[16];
        QByteArray want = u16(8);
        for (int i = 0; i < 16; ++i) {
            v[i] = i + 1;
            want += f64(i + 1);
        }
        QCOMPARE(encodeMatrix(v), block(want));
    }

    void decodesEveryServerMessage()
    {
        ServerMessage m;
        QVERIFY(decodeServerMessage(u16(0) + str("S_2"), &m));
        QCOMPARE(m.type, quint16(0));
        QCOMPARE(m.texts, QStringList{"S_2"});
        for (quint16 t : {1, 7, 9}) {
            QVERIFY(decodeServerMessage(u16(t), &m));
            QCOMPARE(m.type, t);
        }
        QVERIFY(decodeServerMessage(u16(2) + str("S") + str("") + str("P8") + str(QString()), &m));
        QCOMPARE(m.texts, (QStringList{"S", "", "P8", ""}));
        QVERIFY(m.texts[3].isNull());
        QVERIFY(decodeServerMessage(u16(5) + str("Г1"), &m));
        QCOMPARE(m.texts, QStringList{"Г1"});
        QVERIFY(decodeServerMessage(u16(6) + str("B1") + f64(0.5) + f64(-1) + f64(123456.789), &m));
        QCOMPARE(m.texts, QStringList{"B1"});
        QCOMPARE(m.xyz[0], 0.5);
        QCOMPARE(m.xyz[1], -1.0);
        QCOMPARE(m.xyz[2], 123456.789);

        QByteArray mat = u16(8);
        for (int i = 1; i <= 16; ++i)
            mat += f64(i);
        QVERIFY(decodeServerMessage(mat, &m));
        QCOMPARE(m.matrix.row(0), QVector4D(1, 2, 3, 4));
        QCOMPARE(m.matrix(1, 0), 5.0f);
        QCOMPARE(m.matrix(3, 3), 16.0f);
    }

    void rejectsMalformedServerPayloads_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("half a type") << QByteArray(1, '\0');
        QTest::newRow("type 3 from server") << u16(3) + str("S") + str("G") + str("P") + f64(1) + f64(2) + f64(3);
        QTest::newRow("type 4 from server") << u16(4) + str("S");
        QTest::newRow("type 10") << u16(10);
        QTest::newRow("type 65535") << u16(65535) + str("x");
        QTest::newRow("0 without its string") << u16(0);
        QTest::newRow("0 string count past the end") << u16(0) + u32(100) + QByteArray(4, 'a');
        QTest::newRow("0 odd string count") << u16(0) + u32(3) + QByteArray(3, 'a');
        QTest::newRow("2 with three strings") << u16(2) + str("S") + str("G") + str("P");
        QTest::newRow("6 short one double") << u16(6) + str("B") + f64(1) + f64(2);
        QByteArray m15 = u16(8);
        for (int i = 0; i < 15; ++i)
            m15 += f64(i);
        QTest::newRow("8 with 15 values") << m15;
    }

    // A server message longer than its fields is taken; the rest is skipped.
    void serverMessageWithBytesPastItsFields()
    {
        ServerMessage m;
        QVERIFY(decodeServerMessage(u16(1) + QByteArray(1, 'x'), &m));
        QCOMPARE(m.type, quint16(1));
        QVERIFY(decodeServerMessage(u16(7) + str("S"), &m));
        QCOMPARE(m.type, quint16(7));
        QVERIFY(decodeServerMessage(u16(6) + str("B") + f64(1) + f64(2) + f64(3) + f64(4), &m));
        QCOMPARE(m.texts, QStringList{"B"});
        QCOMPARE(m.xyz[2], 3.0);
        QByteArray m17 = u16(8);
        for (int i = 1; i <= 17; ++i)
            m17 += f64(i);
        QVERIFY(decodeServerMessage(m17, &m));
        QCOMPARE(m.matrix(3, 3), 16.0f);
    }

    void rejectsMalformedServerPayloads()
    {
        QFETCH(QByteArray, payload);
        ServerMessage m;
        m.type = 4242;
        QVERIFY(!decodeServerMessage(payload, &m));
        QCOMPARE(m.type, quint16(4242)); // untouched on refusal
    }

    void decodesDriverMessages()
    {
        DriverMessage m;
        QVERIFY(decodeDriverMessage("device", &m));
        QCOMPARE(m.kind, DriverMessage::Greeting);
        QVERIFY(decodeDriverMessage(encodeIdentification("A", "S", "G", "D").mid(2), &m));
        QCOMPARE(m.kind, DriverMessage::Identification);
        QCOMPARE(m.texts, (QStringList{"A", "S", "G", "D"}));
        MeasuringPoint pt;
        pt.sessionName = "S";
        pt.pointName = "P1";
        pt.z = 9;
        QVERIFY(decodeDriverMessage(encodePoint(pt).mid(2), &m));
        QCOMPARE(m.kind, DriverMessage::Point);
        QCOMPARE(m.point.pointName, QString("P1"));
        QCOMPARE(m.point.z, 9.0);
        QVERIFY(decodeDriverMessage(encodeSessionName("S").mid(2), &m));
        QCOMPARE(m.kind, DriverMessage::SessionName);
        MeasuringPoint a;
        a.x = 7;
        QVERIFY(decodeDriverMessage(encodeBasePointSet({a, a}, {a}, {0.25}).mid(2), &m));
        QCOMPARE(m.kind, DriverMessage::BasePointSet);
        QCOMPARE(m.measured.size(), 2);
        QCOMPARE(m.known.size(), 1);
        QCOMPARE(m.weights, QVector<double>{0.25});
        QCOMPARE(m.known[0].x, 7.0);

        // A count that claims more points than the block holds is refused
        // without allocating for it.
        QVERIFY(!decodeDriverMessage(u16(8) + u32(0x7FFFFFFF), &m));
        QVERIFY(!decodeDriverMessage(u16(8) + u32(0xFFFFFFFF), &m));
        QVERIFY(!decodeDriverMessage(u16(8) + u32(0) + u32(0) + u32(1), &m));
        QVERIFY(!decodeDriverMessage(u16(2) + str("S"), &m));
        QVERIFY(!decodeDriverMessage("devicе", &m)); // Cyrillic e
    }

    // Blocks are cut by length: a bad one in the middle does not disturb the
    // ones after it, and a partial block waits for its last byte.
    void blockReaderStaysInStep()
    {
        const QByteArray stream = encodeEmpty(7) + block(u16(6) + str("B")) + block(u16(42))
                                  + block(QByteArray()) + encodeGroupName("G");
        BlockReader r;
        QByteArray payload;
        QList<QByteArray> got;
        for (int i = 0; i < stream.size(); ++i) {
            r.feed(stream.mid(i, 1));
            while (r.next(&payload))
                got << payload;
            if (i == stream.size() - 2)
                QCOMPARE(got.size(), 4); // last block still one byte short
        }
        QCOMPARE(got.size(), 5);
        ServerMessage m;
        QVERIFY(decodeServerMessage(got[0], &m));
        QVERIFY(!decodeServerMessage(got[1], &m));
        QVERIFY(!decodeServerMessage(got[2], &m));
        QVERIFY(got[3].isEmpty());
        QVERIFY(decodeServerMessage(got[4], &m));
        QCOMPARE(m.texts, QStringList{"G"});
        QCOMPARE(r.pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestClientCodec)
#include "test_client_codec.moc"
