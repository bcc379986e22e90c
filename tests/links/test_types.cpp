// Reply records and points as they cross threads in QVariants.

#include "types.h"

#include <QThread>
#include <QtTest>

namespace {
class Emitter : public QObject
{
    Q_OBJECT
signals:
    void reply(QPair<RPC, QVariant> pair);
};
} // namespace

class TestTypes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerInstrumentMetaTypes();
        registerInstrumentMetaTypes();  // repeating is harmless
        registerServerMetaTypes();
        registerServerMetaTypes();
    }

    void namesAreRegistered()
    {
        for (const char *name : {"RPC", "TMC_HZ_V_ANG", "GetSimpleMea", "MeasDistanceAngle", "QPair<RPC,QVariant>",
                                 "ErrorInfo", "MeasuringPoint", "QMatrix4x4"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
        QCOMPARE(QMetaType::type("QPair<RPC,QVariant>"), qMetaTypeId<ReplyPair>());
        QVERIFY(QMetaType::typeFlags(qMetaTypeId<RPC>()) & QMetaType::IsEnumeration);
    }

    void recordSurvivesAQueuedSignalBetweenThreads()
    {
        Emitter emitter;
        QThread worker;
        emitter.moveToThread(&worker);
        worker.start();
        ReplyPair received;
        QObject receiver;
        int count = 0;
        connect(&emitter, &Emitter::reply, &receiver, [&](ReplyPair p) { received = p; ++count; },
                Qt::QueuedConnection);
        QMetaObject::invokeMethod(&emitter, [&] {
            emit emitter.reply(ReplyPair(TMC_GetSimpleMea, QVariant::fromValue(GetSimpleMea{0.1, 1.2, 34.5})));
        }, Qt::QueuedConnection);
        QTRY_COMPARE(count, 1);
        worker.quit();
        worker.wait();
        QCOMPARE(received.first, TMC_GetSimpleMea);
        const GetSimpleMea g = received.second.value<GetSimpleMea>();
        QCOMPARE(g.hzAngle, 0.1);
        QCOMPARE(g.vAngle, 1.2);
        QCOMPARE(g.slopeDistance, 34.5);
        // Asking for the wrong record yields a zero record, not reinterpreted fields.
        const MeasDistanceAngle wrong = received.second.value<MeasDistanceAngle>();
        QCOMPARE(wrong.hzAngle, 0.0);
        QCOMPARE(wrong.vAngle, 0.0);
        QCOMPARE(wrong.slopeDistance, 0.0);
        QCOMPARE(wrong.distMode, 0);
        QVERIFY(!received.second.canConvert<MeasDistanceAngle>());
    }

    void defaults()
    {
        const MeasuringPoint p;
        QVERIFY(p.sessionName.isEmpty() && p.groupName.isEmpty() && p.pointName.isEmpty());
        QCOMPARE(p.x + p.y + p.z, 0.0);
        const ErrorInfo e{};
        QCOMPARE(int(e.buttons), 0);
        QVERIFY(e.args.isEmpty());
        QCOMPARE(int(sizeof(RPC)), 4);
        QCOMPARE(int(BAP_MeasDistanceAngle), 17017);
    }
};

QTEST_GUILESS_MAIN(TestTypes)
#include "test_types.moc"
