// The serial link driven byte for byte over a real pseudo-terminal: the test
// plays the instrument.

#include "instrumentport.h"
#include "linktesting.h"
#include "ptypeer.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {
const QByteArray kPoll = "%R1Q,2108:0,1\r\n";
const QByteArray kClear = "%R1Q,2008:3,1\r\n";
const QByteArray kNoDistance = "%R1P,0,0:1285,0.5,1.5,0";
const QByteArray kDistance = "%R1P,0,0:0,0.5,1.5,12.25";
const QByteArray kOk = "%R1P,0,0:0";
} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private:
    PtyPeer *peer = nullptr;
    TestableHandler *link = nullptr;
    LinkRecorder *rec = nullptr;

    // Opens the link on the pty; with startup the six start-up requests go
    // first. Items queued before start go out in the first passes.
    void open(bool startup, int replyTimeoutMs = 5000)
    {
        peer = new PtyPeer;
        QVERIFY(peer->isOpen());
        link = new TestableHandler;
        link->setReplyTimeout(replyTimeoutMs);
        rec = new LinkRecorder(link);
        QVERIFY2(link->openPort(ptySettings(peer->portName())), qPrintable(link->errorString()));
        if (startup)
            link->queueStartupRequests();
    }
    void start() { link->start(); }

    // Answers the start-up requests with plausible values.
    void answerStartup()
    {
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        peer->reply("%R1P,0,0:0,3216936");
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5004:\r\n"));
        peer->reply("%R1P,0,0:0,\"TS16 A 1\\\" R500\"");
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5011:\r\n"));
        peer->reply("%R1P,0,0:0,23.47");
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,2021:\r\n"));
        peer->reply("%R1P,0,0:0,6");
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,1004:0\r\n"));
        peer->reply(kOk);
        startupAnswered = true;
    }

    // Starts tracking. Without the start-up requests, the distance the
    // instrument may hold is cleared before the first poll.
    void startTracking()
    {
        link->enqueue(TMC_QuickDist, {});
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,2117:\r\n"));
        peer->reply(kOk);
        if (!startupAnswered) {
            QCOMPARE(peer->readLine(), kClear);
            peer->reply(kOk);
            startupAnswered = true;
        }
    }
    bool startupAnswered = false;

    // Answers polls without a distance until another request comes; returns it.
    QByteArray nextNonPoll(int maxPolls = 50)
    {
        for (int i = 0; i < maxPolls; ++i) {
            const QByteArray line = peer->readLine();
            if (line != kPoll)
                return line;
            peer->reply(kNoDistance);
        }
        return QByteArray("(only polls)");
    }

private slots:
    void cleanup()
    {
        if (link && link->isRunning()) {
            // Keep the peer answering so a drain never waits for a reply.
            std::atomic<bool> done{false};
            std::thread answer([&] {
                while (!done) {
                    const QByteArray l = peer->readLine(50);
                    if (!l.isEmpty())
                        peer->reply(kNoDistance);
                }
            });
            link->stop();
            done = true;
            answer.join();
        }
        delete rec;
        delete link;
        delete peer;
        startupAnswered = false;
        rec = nullptr;
        link = nullptr;
        peer = nullptr;
    }

    // --- opening -----------------------------------------------------------

    // The port is opened in the link's thread; the failure comes as a signal.
    void openFailureKeepsItsText()
    {
        TestableHandler h;
        QString failure;
        connect(&h, &SerialPortHandler::openFailed, this, [&](QString e) { failure = e; },
                Qt::QueuedConnection);
        QVERIFY(h.openPort(ptySettings(QStringLiteral("/dev/no-such-tty"))));
        h.start();
        QVERIFY(h.wait(5000));
        QTRY_VERIFY(!failure.isEmpty());
        QVERIFY2(failure.startsWith(QLatin1String("Port error /dev/no-such-tty: ")), qPrintable(failure));
        QCOMPARE(h.errorString(), failure);

        for (const char *bad : {"tcp://host", "host:", "host:0", "192.168.1.9:70000"}) {
            TestableHandler n;
            QVERIFY2(!n.openPort(ptySettings(QString::fromLatin1(bad))), bad);
            QVERIFY(n.errorString().startsWith(QStringLiteral("Port error %1: not a network address").arg(bad)));
        }
    }

    void networkPortNames()
    {
        QString host;
        quint16 port = 0;
        QVERIFY(InstrumentPort::parseNetworkName(" tcp://ts16.local:4001 ", &host, &port));
        QCOMPARE(host, QStringLiteral("ts16.local"));
        QCOMPARE(port, quint16(4001));
        QVERIFY(InstrumentPort::parseNetworkName("[::1]:65535", &host, &port));
        QCOMPARE(host, QStringLiteral("::1"));
        QCOMPARE(port, quint16(65535));
        for (const char *serial : {"COM3", "/dev/ttyUSB0", "\\\\.\\COM10", "/dev/serial/by-id/usb-FTDI:1"})
            QVERIFY2(!InstrumentPort::isNetworkName(serial) && !InstrumentPort::isMalformedNetworkName(serial),
                     serial);
        for (const char *bad : {"host:0", "host:65536", "tcp://host", "host:", "[::1:4001"})
            QVERIFY2(!InstrumentPort::isNetworkName(bad) && InstrumentPort::isMalformedNetworkName(bad), bad);
    }

    // --- start-up ----------------------------------------------------------

    // Outside tracking nothing polls for a distance: the link sleeps.
    void startupSequenceThenNothing()
    {
        open(true);
        start();
        answerStartup();
        QVERIFY(peer->staysSilent(300));

        QTRY_COMPARE(rec->responses.size(), 4);
        QCOMPARE(rec->responses[0].first, CSV_GetInstrumentNo);
        QCOMPARE(rec->responses[0].second, QVariant(3216936));
        QCOMPARE(rec->responses[1].first, CSV_GetInstrumentName);
        QCOMPARE(rec->responses[1].second.toString(), QStringLiteral("\"TS16 A 1\\\" R500\""));
        QCOMPARE(rec->responses[2].first, CSV_GetIntTemp);
        QCOMPARE(rec->responses[2].second.userType(), int(QMetaType::QString));
        QCOMPARE(rec->responses[2].second.toString(), QStringLiteral("23.470"));
        QCOMPARE(rec->responses[3].first, TMC_GetEdmMode);
        QCOMPARE(rec->responses[3].second, QVariant(6));
        QVERIFY(rec->errors.isEmpty());
    }

    // While tracking, each polled distance is delivered once and cleared
    // before the next poll.
    void trackingPollsDeliverEachDistanceOnce()
    {
        open(true);
        start();
        answerStartup();
        startTracking();
        QCOMPARE(peer->readLine(), kPoll);
        peer->reply(kDistance);
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), kPoll);
        peer->reply(kNoDistance);
        QTRY_COMPARE(rec->responsesFor(TMC_GetSimpleMea).size(), 1);
        const GetSimpleMea m = rec->responsesFor(TMC_GetSimpleMea).first().second.value<GetSimpleMea>();
        QCOMPARE(m.hzAngle, 0.5);
        QCOMPARE(m.vAngle, 1.5);
        QCOMPARE(m.slopeDistance, 12.25);
        // The owner's clear ends tracking: no more polls.
        link->enqueue(TMC_DoMeasure, {3, 1});
        QCOMPARE(nextNonPoll(), kClear);
        peer->reply(kOk);
        QVERIFY(peer->staysSilent(300));
    }

    // A clear that fails is retried, told once; until one succeeds no
    // polled distance is delivered (it could be the old one again).
    void failedClearIsRetriedAndHoldsBackDistances()
    {
        open(true);
        start();
        for (const char *l : {"%R1Q,5003:\r\n", "%R1Q,5004:\r\n", "%R1Q,5011:\r\n", "%R1Q,2021:\r\n"}) {
            QCOMPARE(peer->readLine(), QByteArray(l));
            peer->reply(kOk + ",1");
        }
        QCOMPARE(peer->readLine(), kClear);
        peer->reply("%R1P,0,0:1293");
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,1004:0\r\n"));
        peer->reply(kOk);
        QCOMPARE(peer->readLine(3000), kClear);   // retried while idle
        // never answered
        startupAnswered = true; // the clears below are checked here
        startTracking();
        // The poll's place goes to the clear while it fails.
        QCOMPARE(peer->readLine(), kClear);
        peer->reply("%R1P,0,0:1293");
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), kPoll);
        peer->reply(kDistance);
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QTRY_COMPARE(rec->responsesFor(TMC_GetSimpleMea).size(), 1);
        QCOMPARE(rec->errors, QStringList{QStringLiteral("Command error 2008: error code 1293")});
    }

    // --- polling and the queue ---------------------------------------------

    // A tracked distance's clear goes ahead of what is queued.
    void trackingClearsGoAheadOfTheQueue()
    {
        open(false);
        start();
        startTracking();
        QCOMPARE(peer->readLine(), kPoll);
        link->enqueue(EDM_Laserpointer, {1});
        QTest::qWait(50);
        peer->reply(kDistance);
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,1004:1\r\n"));
        peer->reply(kOk);
        QTRY_COMPARE(rec->responsesFor(TMC_GetSimpleMea).size(), 1);
    }

    void queuedRequestsKeepTheirOrder()
    {
        open(false);
        link->enqueue(TMC_SetEdmMode, {5});
        link->enqueue(MOT_StopController, {});
        link->enqueue(AUS_SetUserLockState, {0});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,2020:5\r\n"));
        peer->reply(kOk);
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6002:\r\n"));
        peer->reply(kOk);
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,18007:0\r\n"));
        peer->reply(kOk);
        QTRY_COMPARE(rec->responsesFor(TMC_SetEdmMode).size(), 1);
        QCOMPARE(rec->responsesFor(TMC_SetEdmMode).first().second, QVariant(true));
    }

    void motorSuppressesAllPolls()
    {
        open(false);
        start();
        startTracking();
        link->enqueue(MOT_StartController, {1});
        link->enqueue(MOT_SetVelocity, {0.1, -0.25});
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);
        // The motor runs: no poll goes ahead of the velocity any more.
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,6004:0.100000,-0.250000\r\n"));
        peer->reply(kOk);
        link->enqueue(TMC_GetAngle5, {1});
        link->enqueue(CSV_GetIntTemp, {});
        QVERIFY(peer->staysSilent(400));
        link->enqueue(MOT_StopController, {});
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,6002:\r\n"));
        peer->reply(kOk);
        // Stopped: the link polls again; the window's polls were dropped.
        QCOMPARE(peer->readLine(), kPoll);
        peer->reply(kNoDistance);
        QCOMPARE(peer->readLine(), kPoll);
        peer->reply(kNoDistance);
    }

    void windowPollGoesOutWhenIdle()
    {
        open(false);
        start();
        QVERIFY(peer->staysSilent(100));
        link->enqueue(TMC_GetAngle5, {1});
        link->enqueue(CSV_GetIntTemp, {});
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,2107:1\r\n"));
        peer->reply("%R1P,0,0:0,1.069995191213058,1.000012316348839");
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5011:\r\n"));
        peer->reply("%R1P,0,0:0,23.5");
        QTRY_COMPARE(rec->responsesFor(CSV_GetIntTemp).size(), 1);
        QCOMPARE(rec->responsesFor(CSV_GetIntTemp).first().second.toString(), QStringLiteral("23.500"));
        const TMC_HZ_V_ANG a = rec->responsesFor(TMC_GetAngle5).first().second.value<TMC_HZ_V_ANG>();
        QCOMPARE(a.hzAngle, 1.069995191213058);
        QCOMPARE(a.vAngle, 1.000012316348839);
    }

    void windowPollDroppedWhileSomethingIsQueued()
    {
        open(false);
        link->enqueue(CSV_GetInstrumentNo, {});
        start();
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        // While the reply is awaited neither request waits for the link:
        // the window's poll is parked, the laser request posted.
        std::atomic<bool> returned{false};
        std::thread gui([&] {
            link->enqueue(TMC_GetAngle5, {1});
            link->enqueue(EDM_Laserpointer, {1});
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 2000);
        gui.join();
        peer->reply("%R1P,0,0:0,7");
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,1004:1\r\n"));
        peer->reply(kOk);
        QVERIFY(peer->staysSilent(300));  // no 2107: it was dropped
    }

    // --- replies -----------------------------------------------------------

    void failedRepliesOfPollsAreSilent()
    {
        open(false);
        start();
        startTracking();
        link->enqueue(AUS_SetUserLockState, {1});
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,18007:1\r\n"));
        peer->reply("%R1P,0,0:1285");
        QCOMPARE(peer->readLine(), kPoll);
        peer->reply("%R1P,0,0:1285");
        QTRY_COMPARE(rec->errors, QStringList{QStringLiteral("Command error 18007: error code 1285")});
        QVERIFY(rec->responses.isEmpty());
    }

    void fineAdjustQueuesLockInAtTheEnd()
    {
        open(false);
        link->enqueue(AUS_SetUserLockState, {1});
        link->enqueue(AUT_FineAdjust, {0.7853981633974483, 0.7853981633974483, 0});
        link->enqueue(EDM_Laserpointer, {1});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,18007:1\r\n"));
        peer->reply(kOk);
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,9037:0.785398,0.785398,0\r\n"));
        peer->reply(kOk);
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,1004:1\r\n"));
        peer->reply(kOk);
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,9013:\r\n"));
        peer->reply(kOk);
        QVERIFY(rec->errors.isEmpty());
    }

    void failedFineAdjustQueuesNothing()
    {
        open(false);
        link->enqueue(AUT_FineAdjust, {0.7853981633974483, 0.7853981633974483, 0});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,9037:0.785398,0.785398,0\r\n"));
        peer->reply("%R1P,0,0:8710");
        QVERIFY(peer->staysSilent(300));
        QTRY_COMPARE(rec->errors, QStringList{QStringLiteral("Command error 9037: error code 8710")});
    }

    void measurementIsClearedInTheSameExchangeInBothModes()
    {
        open(false);
        link->setBasePointMode(true);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));
        peer->reply("%R1P,0,0:0,0.25,1.25,30.5,2");
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        startupAnswered = true;
        startTracking();
        QCOMPARE(peer->readLine(), kPoll);
        peer->reply(kDistance);  // a polled distance goes the same way
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QTRY_COMPARE(rec->basePoints.size(), 2);
        QCOMPARE(rec->basePoints[0].first, BAP_MeasDistanceAngle);
        const MeasDistanceAngle m = rec->basePoints[0].second.value<MeasDistanceAngle>();
        QCOMPARE(m.hzAngle, 0.25);
        QCOMPARE(m.vAngle, 1.25);
        QCOMPARE(m.slopeDistance, 30.5);
        QCOMPARE(m.distMode, 2);
        QCOMPARE(rec->basePoints[1].first, TMC_GetSimpleMea);
        QVERIFY(rec->responses.isEmpty());

        link->setBasePointMode(false);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));
        peer->reply("%R1P,0,0:0,0.25,1.25,31.5,2");
        // Cleared next, so a poll cannot report it again; the measurement
        // ended tracking.
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QVERIFY(peer->staysSilent(300));
        QTRY_COMPARE(rec->responsesFor(BAP_MeasDistanceAngle).size(), 1);
        QCOMPARE(rec->basePoints.size(), 2);
    }

    // A failed distance goes where its answer would have gone: to the
    // base-point path in base-point mode, a command error otherwise.
    void failedMeasurementFollowsTheBasePointMode()
    {
        open(false, 400);
        link->setBasePointMode(true);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));
        peer->reply("%R1P,0,0:1292");
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));  // never answered
        QTRY_COMPARE(rec->basePointFailures.size(), 2);
        QCOMPARE(rec->basePointFailures[0],
                 qMakePair(1292, QStringLiteral("Command error 17017: error code 1292")));
        QCOMPARE(rec->basePointFailures[1],
                 qMakePair(3077, QStringLiteral("Command error 17017: error code 3077")));
        QVERIFY(rec->errors.isEmpty());

        link->setBasePointMode(false);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));
        peer->reply("%R1P,0,0:8710");
        QTRY_COMPARE(rec->errors, QStringList{QStringLiteral("Command error 17017: error code 8710")});
        QCOMPARE(rec->basePointFailures.size(), 2);
        // Failures in and out of base-point mode carry the procedure and code.
        QCOMPARE(rec->failedCommands, (QList<QPair<int, int>>{{17017, 1292},
                                                              {17017, 3077}, {17017, 8710}}));
    }

    // A base-point measurement followed at once by the end of base-point
    // mode is still a base point: the mode change keeps its place in line.
    void modeChangeKeepsItsPlaceAmongTheRequests()
    {
        open(false);
        link->setBasePointMode(true);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        link->setBasePointMode(false);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        for (const QByteArray distance : {"30.5", "31.5"}) {
            QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));
            peer->reply("%R1P,0,0:0,0.25,1.25," + distance + ",2");
            QCOMPARE(peer->readLine(), kClear);
            peer->reply(kOk);
        }
        QTRY_COMPARE(rec->responses.size(), 1);
        QCOMPARE(rec->basePoints.size(), 1);
        QCOMPARE(rec->basePoints[0].second.value<MeasDistanceAngle>().slopeDistance, 30.5);
        QCOMPARE(rec->responses[0].second.value<MeasDistanceAngle>().slopeDistance, 31.5);
    }

    void splitReplyIsAssembled()
    {
        open(false);
        link->enqueue(CSV_GetInstrumentNo, {});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,5003:\r\n"));
        peer->write("%R1P,0,0");
        QTest::qWait(250);  // longer than one read slice
        peer->write(":0,32");
        QTest::qWait(150);
        peer->write("16936\r\n");
        QTRY_COMPARE(rec->responses.size(), 1);
        QCOMPARE(rec->responses[0].second, QVariant(3216936));
    }

    void shortSuccessRepliesCountAsFailed()
    {
        open(false);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        link->enqueue(CSV_GetInstrumentNo, {});
        start();
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,17017:2\r\n"));
        peer->reply("%R1P,0,0:0,0.1,1.5,20.0");  // distance mode missing: no clear follows
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        peer->reply("%R1P,0,0:0");
        QTRY_COMPARE(rec->errors.size(), 2);
        QCOMPARE(rec->errors[0], QStringLiteral("Command error 17017: error code 3074"));
        QCOMPARE(rec->errors[1], QStringLiteral("Command error 5003: error code 3074"));
        QVERIFY(rec->responses.isEmpty());
    }

    void garbageIsNotASuccess()
    {
        open(false);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));
        peer->reply("\x07?#garbage,1,2,3,4");
        QTRY_COMPARE(rec->errors, QStringList{QStringLiteral("Command error 17017: error code 3074")});
        QVERIFY(rec->responses.isEmpty());
    }

    // --- bounded waits and stale input --------------------------------------

    void unansweredRequestTimesOutAndTheNextGoesOut()
    {
        open(false, 400);
        link->enqueue(CSV_GetInstrumentName, {});
        link->enqueue(CSV_GetInstrumentNo, {});
        start();
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5004:\r\n"));  // unanswered
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        peer->reply("%R1P,0,0:0,42");
        QTRY_COMPARE(rec->responses.size(), 1);
        QCOMPARE(rec->responses[0].second, QVariant(42));
        QCOMPARE(rec->errors, QStringList{QStringLiteral("Command error 5004: error code 3077")});
    }

    void lateReplyIsNotTakenForTheNextOne()
    {
        open(false, 400);
        peer->echoIds = false; // an instrument that ignores ids
        link->enqueue(MOT_StartController, {1});
        link->enqueue(CSV_GetInstrumentNo, {});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);  // the motor runs: no polls, the link idles after this
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        QTRY_COMPARE(rec->errors.size(), 1);  // timed out
        peer->reply("%R1P,0,0:0,999");        // ... and answered late
        QTest::qWait(200);
        link->enqueue(CSV_GetInstrumentName, {});
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5004:\r\n"));  // never answered
        QTRY_COMPARE(rec->errors.size(), 2);
        QCOMPARE(rec->errors[1], QStringLiteral("Command error 5004: error code 3077"));
        QVERIFY(rec->responses.isEmpty());
    }

    void lateReplyRightBeforeTheNextAnswer()
    {
        open(false, 400);
        peer->echoIds = false; // an instrument that ignores ids
        link->enqueue(MOT_StartController, {1});  // no polls in between
        link->enqueue(CSV_GetInstrumentNo, {});
        link->enqueue(CSV_GetInstrumentName, {});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));  // times out
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5004:\r\n"));
        // The instrument finishes the old request first, then answers the new one.
        peer->reply("%R1P,0,0:0,999");
        QThread::msleep(30);
        peer->reply("%R1P,0,0:0,\"TS30\"");
        QTRY_COMPARE(rec->responses.size(), 1);
        QCOMPARE(rec->responses[0].first, CSV_GetInstrumentName);
        QCOMPARE(rec->responses[0].second.toString(), QStringLiteral("\"TS30\""));
        QCOMPARE(rec->errors, QStringList{QStringLiteral("Command error 5003: error code 3077")});
    }

    // The late answer comes while a distance is measured: it is skipped and
    // the distance that follows within the bound is the answer.
    void lateReplyDuringAMeasurement()
    {
        open(false, 5000);
        peer->echoIds = false; // an instrument that ignores ids
        link->enqueue(MOT_StartController, {1});  // no polls in between
        link->enqueue(CSV_GetInstrumentNo, {});
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));  // times out
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,17017:2\r\n"));
        QThread::msleep(300);
        peer->reply("%R1P,0,0:0,999");
        QThread::msleep(500);
        peer->reply("%R1P,0,0:0,0.25,1.25,30.5,2");
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QTRY_COMPARE(rec->responsesFor(BAP_MeasDistanceAngle).size(), 1);
        QCOMPARE(rec->responsesFor(BAP_MeasDistanceAngle)[0].second.value<MeasDistanceAngle>().slopeDistance, 30.5);
        QCOMPARE(rec->errors, QStringList{QStringLiteral("Command error 5003: error code 3077")});
    }

    // The tail of a reply that timed out half read is not the next answer,
    // even when the next answer comes well after it.
    void tailOfATimedOutReplyIsDiscarded()
    {
        open(false, 400);
        peer->echoIds = false; // an instrument that ignores ids
        link->enqueue(MOT_StartController, {1});  // no polls in between
        link->enqueue(CSV_GetInstrumentNo, {});
        link->enqueue(CSV_GetInstrumentName, {});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        peer->write("%R1P,0,0:0,12");  // the head only: times out
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5004:\r\n"));
        peer->write("34\r\n");
        QThread::msleep(300);
        peer->reply("%R1P,0,0:0,\"TS30\"");
        QTRY_COMPARE(rec->responses.size(), 1);
        QCOMPARE(rec->responses[0].first, CSV_GetInstrumentName);
        QCOMPARE(rec->errors, QStringList{QStringLiteral("Command error 5003: error code 3077")});
    }

    // Quick requests give up after the short bound; a distance may take
    // longer than that.
    void replyBoundsFitTheRequest()
    {
        open(false, 10000);
        QCOMPARE(link->quickReplyTimeout(), 1000);
        link->enqueue(MOT_StartController, {1});
        link->enqueue(CSV_GetInstrumentNo, {});
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));  // never answered
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(peer->readLine(8000), QByteArray("%R1Q,17017:2\r\n"));
        QVERIFY2(clock.elapsed() >= 900 && clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QThread::msleep(1500);
        peer->reply("%R1P,0,0:0,0.25,1.25,30.5,2");
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QTRY_COMPARE(rec->responsesFor(BAP_MeasDistanceAngle).size(), 1);
        QCOMPARE(rec->errors, QStringList{QStringLiteral("Command error 5003: error code 3077")});
    }

    // requestStop() returns at once and lets a distance being measured
    // arrive; what was queued before it still goes out.
    void requestStopLetsTheDistanceArrive()
    {
        open(false, 10000);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,17017:2\r\n"));
        link->enqueue(EDM_Laserpointer, {0});
        QElapsedTimer clock;
        clock.start();
        link->requestStop();
        QVERIFY(clock.elapsed() < 100);
        QThread::msleep(600);
        peer->reply("%R1P,0,0:0,0.25,1.25,30.5,2");
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,1004:0\r\n"));
        peer->reply(kOk);
        QTRY_VERIFY(link->isFinished());
        QCOMPARE(rec->responsesFor(BAP_MeasDistanceAngle).size(), 1);
        QVERIFY(rec->errors.isEmpty());
    }

    // With ids, a late reply is told from the answer whatever its shape and
    // wherever it comes: before the answer, together with it, or alone.
    void lateRepliesAreMatchedById()
    {
        open(false, 400);
        link->enqueue(MOT_StartController, {1});  // no polls in between
        link->enqueue(BAP_MeasDistanceAngle, {2});
        link->enqueue(BAP_MeasDistanceAngle, {2});
        link->enqueue(CSV_GetInstrumentNo, {});
        link->enqueue(CSV_GetInstrumentNo, {});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,17017:2\r\n"));  // times out
        const int first = peer->lastId();
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,17017:2\r\n"));
        QVERIFY(peer->lastId() != first);
        // The first distance comes late, in the shape of the second's answer.
        peer->replyWithId(first, "%R1P,0,0:0,0.25,1.25,30.5,2");
        QVERIFY(peer->staysSilent(150));
        peer->reply("%R1P,0,0:0,0.75,1.5,42.5,2");
        QCOMPARE(peer->readLine(), kClear);
        peer->reply(kOk);
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        const QByteArray late = PtyPeer::withId("%R1P,0,0:0,111", first);
        peer->write(late + "\r\n" + PtyPeer::withId("%R1P,0,0:0,222", peer->lastId()) + "\r\n");
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        peer->write(PtyPeer::withId("%R1P,0,0:0,333", peer->lastId()) + "\r\n" + late + "\r\n");
        QTRY_COMPARE(rec->responses.size(), 3);
        QCOMPARE(rec->responses[0].second.value<MeasDistanceAngle>().slopeDistance, 42.5);
        QCOMPARE(rec->responses[1].second, QVariant(222));
        QCOMPARE(rec->responses[2].second, QVariant(333));
        QCOMPARE(rec->errors, QStringList{QStringLiteral("Command error 17017: error code 3077")});
    }

    // --- stopping and failing ports -----------------------------------------

    void stopEndsAPendingWaitPromptly()
    {
        open(false, 10000);
        link->enqueue(BAP_MeasDistanceAngle, {2});
        start();
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,17017:2\r\n"));  // never answered
        QElapsedTimer clock;
        clock.start();
        link->stop();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(link->isFinished());
        QVERIFY(rec->errors.isEmpty());
    }

    void stopDrainsQuicklyFromASilentInstrument()
    {
        open(false, 5000);
        link->enqueue(CSV_GetInstrumentNo, {});
        for (int i = 0; i < 8; ++i)
            link->enqueue(EDM_Laserpointer, {i % 2});
        start();
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));  // the instrument answers nothing more
        QElapsedTimer clock;
        clock.start();
        link->stop();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        // Everything queued was still written.
        for (int i = 0; i < 8; ++i)
            QCOMPARE(peer->readLine(1000), QByteArray(i % 2 ? "%R1Q,1004:1\r\n" : "%R1Q,1004:0\r\n"));
        QVERIFY(rec->errors.isEmpty());
    }

    void stopDrainsWhatIsQueued()
    {
        open(false);
        link->enqueue(MOT_StartController, {1});
        start();
        QCOMPARE(nextNonPoll(), QByteArray("%R1Q,6001:1\r\n"));
        peer->reply(kOk);
        QTest::qWait(100);
        QList<QByteArray> lines;
        std::atomic<bool> done{false};
        std::thread answer([&] {
            while (!done) {
                const QByteArray l = peer->readLine(50);
                if (!l.isEmpty()) {
                    lines << l;
                    peer->reply(kOk);
                }
            }
        });
        // Queued while the link holds its lock in an idle pass.
        link->enqueue(EDM_Laserpointer, {0});
        link->enqueue(AUS_SetUserLockState, {0});
        link->enqueue(MOT_StopController, {});
        link->stop();
        done = true;
        answer.join();
        QCOMPARE(lines, (QList<QByteArray>{"%R1Q,1004:0\r\n", "%R1Q,18007:0\r\n", "%R1Q,6002:\r\n"}));
    }

    void unpluggedPortEndsTheLoopWithOneError()
    {
        open(false);
        link->enqueue(CSV_GetInstrumentNo, {});
        start();
        QCOMPARE(peer->readLine(), QByteArray("%R1Q,5003:\r\n"));
        peer->reply("%R1P,0,0:0,7");
        QTRY_COMPARE(rec->responses.size(), 1);
        peer->hangUp();  // while the link idles
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 5000);
        QTRY_COMPARE(rec->lost.size(), 1);
        const QString text = rec->lost[0];
        QVERIFY2(text.startsWith(QStringLiteral("Port error %1: the port is gone").arg(peer->portName())),
                 qPrintable(text));
        QCOMPARE(link->errorString(), text);
        QTest::qWait(200);
        QCOMPARE(rec->lost.size(), 1);
        QVERIFY(rec->errors.isEmpty());
        QElapsedTimer clock;
        clock.start();
        link->stop();
        QVERIFY(clock.elapsed() < 1000);
    }

    void portFailureTextNamesACause()
    {
        QCOMPARE(SerialPortHandler::portFailureText("COM4", QSerialPort::ResourceError, "Unknown error", false),
                 QStringLiteral("Port error COM4: the port is gone (USB adapter unplugged or terminal closed)"));
        QCOMPARE(SerialPortHandler::portFailureText("COM4", QSerialPort::ResourceError, "Input/output error", false),
                 QStringLiteral("Port error COM4: the port is gone (USB adapter unplugged or terminal closed): "
                                "Input/output error"));
        QCOMPARE(SerialPortHandler::portFailureText("COM4", QSerialPort::ResourceError, "", true),
                 QStringLiteral("Port error COM4: the device stopped answering (cable or adapter disconnected?)"));
        QCOMPARE(SerialPortHandler::portFailureText("COM4", QSerialPort::WriteError, "unknown error", true),
                 QStringLiteral("Port error COM4: the port failed (error %1)").arg(int(QSerialPort::WriteError)));
        QCOMPARE(SerialPortHandler::portFailureText("COM4", QSerialPort::ResourceError, "Access denied", true),
                 QStringLiteral("Port error COM4: Access denied"));
    }

    void badParameterTypeThrows()
    {
        open(false);
        QVERIFY_EXCEPTION_THROWN(link->enqueue(EDM_Laserpointer, {QStringLiteral("1")}), std::runtime_error);
        QVERIFY_EXCEPTION_THROWN(link->enqueue(TMC_GetAngle5, {true}), std::runtime_error);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "test_serial_link.moc"
