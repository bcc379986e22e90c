// GeoCOM request lines and reply decoding, without a device.

#include "geocom.h"

#include <QtTest>

#include <stdexcept>

using GeoCom::Reply;

class TestSerialCodec : public QObject
{
    Q_OBJECT

private slots:
    void requestLines_data()
    {
        QTest::addColumn<int>("rpc");
        QTest::addColumn<QVariantList>("params");
        QTest::addColumn<QString>("line");
        QTest::newRow("none") << int(CSV_GetInstrumentNo) << QVariantList{} << "%R1Q,5003:\r\n";
        QTest::newRow("two ints") << int(TMC_DoMeasure) << QVariantList{3, 1} << "%R1Q,2008:3,1\r\n";
        QTest::newRow("negative int") << int(TMC_SetEdmMode) << QVariantList{-7} << "%R1Q,2020:-7\r\n";
        QTest::newRow("doubles round to 6") << int(AUT_FineAdjust)
                                            << QVariantList{0.7853981633974483, 0.7853981633974483, 0}
                                            << "%R1Q,9037:0.785398,0.785398,0\r\n";
        QTest::newRow("double pads to 6") << int(MOT_SetVelocity) << QVariantList{0.1, -0.25}
                                          << "%R1Q,6004:0.100000,-0.250000\r\n";
        QTest::newRow("double zero") << int(MOT_SetVelocity) << QVariantList{0.0, -0.0000004}
                                     << "%R1Q,6004:0.000000,-0.000000\r\n";
        QTest::newRow("large rpc") << int(AUS_SetUserLockState) << QVariantList{1} << "%R1Q,18007:1\r\n";
    }
    void requestLines()
    {
        QFETCH(int, rpc);
        QFETCH(QVariantList, params);
        QFETCH(QString, line);
        QCOMPARE(GeoCom::buildRequest(RPC(rpc), params), line);
    }

    void unexpectedParameterTypeThrows()
    {
        for (const QVariant &bad : {QVariant(QStringLiteral("1")), QVariant(true), QVariant(1u),
                                    QVariant(qint64(1)), QVariant(1.0f), QVariant()}) {
            try {
                GeoCom::buildRequest(EDM_Laserpointer, {bad});
                QFAIL(qPrintable(QStringLiteral("no exception for %1").arg(bad.typeName())));
            } catch (const std::runtime_error &e) {
                QVERIFY(QString::fromUtf8(e.what()).startsWith(QLatin1String("Unexpected type of QVariant: ")));
            }
        }
        try {
            GeoCom::buildRequest(EDM_Laserpointer, {QVariant(QStringLiteral("x"))});
        } catch (const std::runtime_error &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Unexpected type of QVariant: QString"));
        }
    }

    void returnCodes_data()
    {
        QTest::addColumn<int>("rpc");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("code");
        QTest::newRow("1285 alone") << int(TMC_GetSimpleMea) << "%R1P,0,0:1285\r\n" << int(Reply::ErrorCode) << 1285;
        QTest::newRow("1285 with angles") << int(TMC_GetSimpleMea) << "%R1P,0,0:1285,0.1,1.5,0" << int(Reply::ErrorCode) << 1285;
        QTest::newRow("negative") << int(AUS_SetUserLockState) << "%R1P,0,0:-1" << int(Reply::ErrorCode) << -1;
        QTest::newRow("com error ignored") << int(AUS_SetUserLockState) << "%R1P,3077,0:0" << int(Reply::Ok) << 0;
        QTest::newRow("no colon") << int(AUS_SetUserLockState) << "8710\r\n" << int(Reply::ErrorCode) << 8710;
        QTest::newRow("garbage") << int(AUS_SetUserLockState) << "hello\r\n" << int(Reply::Unreadable) << 0;
        QTest::newRow("empty") << int(EDM_Laserpointer) << "" << int(Reply::Unreadable) << 0;
        QTest::newRow("code with blanks") << int(EDM_Laserpointer) << "%R1P,0,0: 0 \r\n" << int(Reply::Ok) << 0;
        QTest::newRow("hex is no number") << int(EDM_Laserpointer) << "%R1P,0,0:0x10" << int(Reply::Unreadable) << 0;
    }
    void returnCodes()
    {
        QFETCH(int, rpc);
        QFETCH(QString, text);
        QFETCH(int, status);
        QFETCH(int, code);
        const Reply r = GeoCom::decodeReply(RPC(rpc), text);
        QCOMPARE(int(r.status), status);
        QCOMPARE(r.returnCode, code);
        if (r.status != Reply::Ok)
            QVERIFY(!r.payload.isValid());
    }

    void recordPayloads()
    {
        Reply r = GeoCom::decodeReply(TMC_GetAngle5, "%R1P,0,0:0,1.069995191213058,1.000012316348839\r\n");
        QCOMPARE(int(r.status), int(Reply::Ok));
        const TMC_HZ_V_ANG a = r.payload.value<TMC_HZ_V_ANG>();
        QCOMPARE(a.hzAngle, 1.069995191213058);
        QCOMPARE(a.vAngle, 1.000012316348839);

        r = GeoCom::decodeReply(TMC_GetSimpleMea, "%R1P,0,0:0,0.5,1.5,12.25,99\r\n");  // extra field ignored
        QCOMPARE(int(r.status), int(Reply::Ok));
        const GetSimpleMea g = r.payload.value<GetSimpleMea>();
        QCOMPARE(g.hzAngle, 0.5);
        QCOMPARE(g.vAngle, 1.5);
        QCOMPARE(g.slopeDistance, 12.25);

        r = GeoCom::decodeReply(BAP_MeasDistanceAngle, "%R1P,0,0:0,6.2,1.6,100.0,2");
        const MeasDistanceAngle m = r.payload.value<MeasDistanceAngle>();
        QCOMPARE(m.hzAngle, 6.2);
        QCOMPARE(m.vAngle, 1.6);
        QCOMPARE(m.slopeDistance, 100.0);
        QCOMPARE(m.distMode, 2);
    }

    void incompleteRecords_data()
    {
        QTest::addColumn<int>("rpc");
        QTest::addColumn<QString>("text");
        QTest::newRow("2108 one value") << int(TMC_GetSimpleMea) << "%R1P,0,0:0,1.2";
        QTest::newRow("2108 no values") << int(TMC_GetSimpleMea) << "%R1P,0,0:0";
        QTest::newRow("2108 empty field") << int(TMC_GetSimpleMea) << "%R1P,0,0:0,1.2,,3";
        QTest::newRow("2108 word") << int(TMC_GetSimpleMea) << "%R1P,0,0:0,1.2,x,3";
        QTest::newRow("2108 nan") << int(TMC_GetSimpleMea) << "%R1P,0,0:0,nan,1,3";
        QTest::newRow("2108 inf") << int(TMC_GetSimpleMea) << "%R1P,0,0:0,1,inf,3";
        QTest::newRow("2107 one value") << int(TMC_GetAngle5) << "%R1P,0,0:0,1.0";
        QTest::newRow("17017 no mode") << int(BAP_MeasDistanceAngle) << "%R1P,0,0:0,1,2,3";
        QTest::newRow("17017 mode not int") << int(BAP_MeasDistanceAngle) << "%R1P,0,0:0,1,2,3,2.5";
        QTest::newRow("5003 no value") << int(CSV_GetInstrumentNo) << "%R1P,0,0:0";
        QTest::newRow("5003 word") << int(CSV_GetInstrumentNo) << "%R1P,0,0:0,abc";
        QTest::newRow("2021 empty") << int(TMC_GetEdmMode) << "%R1P,0,0:0,";
        QTest::newRow("5011 no value") << int(CSV_GetIntTemp) << "%R1P,0,0:0";
        QTest::newRow("5004 no value") << int(CSV_GetInstrumentName) << "%R1P,0,0:0";
    }
    void incompleteRecords()
    {
        QFETCH(int, rpc);
        QFETCH(QString, text);
        const Reply r = GeoCom::decodeReply(RPC(rpc), text);
        QCOMPARE(int(r.status), int(Reply::Incomplete));
        QVERIFY(!r.payload.isValid());
    }

    void scalarPayloads()
    {
        Reply r = GeoCom::decodeReply(CSV_GetIntTemp, "%R1P,0,0:0,23.47\r\n");
        QCOMPARE(r.payload.userType(), int(QMetaType::QString));
        QCOMPARE(r.payload.toString(), QStringLiteral("23.470"));
        QCOMPARE(GeoCom::decodeReply(CSV_GetIntTemp, "%R1P,0,0:0,23.5").payload.toString(), QStringLiteral("23.500"));
        QCOMPARE(GeoCom::decodeReply(CSV_GetIntTemp, "%R1P,0,0:0,-4.25").payload.toString(), QStringLiteral("-4.250"));

        r = GeoCom::decodeReply(CSV_GetInstrumentName, "%R1P,0,0:0,\"TS16 A 1\\\" R500\"\r\n");
        QCOMPARE(r.payload.toString(), QStringLiteral("\"TS16 A 1\\\" R500\""));
        // A comma inside the name stays: the whole rest is the name.
        QCOMPARE(GeoCom::decodeReply(CSV_GetInstrumentName, "%R1P,0,0:0,\"A,B\"").payload.toString(),
                 QStringLiteral("\"A,B\""));

        r = GeoCom::decodeReply(CSV_GetInstrumentNo, "%R1P,0,0:0,3216936\r\n");
        QCOMPARE(r.payload.userType(), int(QMetaType::Int));
        QCOMPARE(r.payload.toInt(), 3216936);
        QCOMPARE(GeoCom::decodeReply(TMC_GetEdmMode, "%R1P,0,0:0,14").payload, QVariant(14));
        QCOMPARE(GeoCom::decodeReply(TMC_SetEdmMode, "%R1P,0,0:0").payload, QVariant(true));
    }

    void noPayloadProcedures()
    {
        for (RPC rpc : {EDM_Laserpointer, TMC_DoMeasure, TMC_QuickDist, MOT_StartController, MOT_StopController,
                        MOT_SetVelocity, AUT_LockIn, AUT_FineAdjust, AUS_SetUserLockState}) {
            const Reply r = GeoCom::decodeReply(rpc, "%R1P,0,0:0,1,2,3\r\n");
            QCOMPARE(int(r.status), int(Reply::Ok));
            QVERIFY(!r.payload.isValid());
            QCOMPARE(int(GeoCom::decodeReply(rpc, "%R1P,0,0:0").status), int(Reply::Ok));
        }
    }

    // Which lines can answer a distance measurement, and which are a late
    // answer to another request.
    void fitsRequest()
    {
        const RPC d = BAP_MeasDistanceAngle;
        QVERIFY(GeoCom::fitsRequest(d, "%R1P,0,0:0,0.25,1.25,30.5,2"));
        QVERIFY(GeoCom::fitsRequest(d, "%R1P,0,0:1292"));                   // its own error
        QVERIFY(GeoCom::fitsRequest(d, "%R1P,0,0:1292,0.25,1.25,0,2"));     // error with its values
        QVERIFY(!GeoCom::fitsRequest(d, "%R1P,0,0:1285,0.25,1.25"));        // a poll's angles
        QVERIFY(!GeoCom::fitsRequest(d, "%R1P,0,0:0,999"));                 // a serial number
        QVERIFY(!GeoCom::fitsRequest(d, "garbage"));
        QVERIFY(GeoCom::fitsRequest(CSV_GetInstrumentNo, "%R1P,0,0:0,999"));
    }

    void lastCompleteLine()
    {
        QCOMPARE(GeoCom::lastCompleteLine("%R1P,0,0:0,1\r\n"), QByteArray("%R1P,0,0:0,1"));
        QCOMPARE(GeoCom::lastCompleteLine("%R1P,0,0:0,1\r\n%R1P,0,0:0,2\r\n"), QByteArray("%R1P,0,0:0,2"));
        QCOMPARE(GeoCom::lastCompleteLine("old\r\nnew\r\npartial"), QByteArray("new"));
        QCOMPARE(GeoCom::lastCompleteLine("line\r\n\r\n \n"), QByteArray("line"));
        QCOMPARE(GeoCom::lastCompleteLine("\nx\n"), QByteArray("x"));
        QCOMPARE(GeoCom::lastCompleteLine("\n"), QByteArray());
        QCOMPARE(GeoCom::lastCompleteLine("no line end"), QByteArray());
        QCOMPARE(GeoCom::lastCompleteLine(""), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestSerialCodec)
#include "test_serial_codec.moc"
