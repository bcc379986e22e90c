// The worker-thread base: queue draining, the stop protocol and the owner's
// access to the lock between exchanges.

#include "abstracthandler.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

class FakeHandler : public AbstractHandler<int>
{
public:
    ~FakeHandler() override
    {
        if (isRunning())
            stop();
    }

    void enqueue(int item)
    {
        OwnerLocker locker(this);
        queue.append(item);
        log << QStringLiteral("enqueued %1").arg(item);
    }
    void setLastError(const QString &e) { lastError = e; }

    // Written items, in order; read after the thread finished or under lock.
    QList<int> written;
    QStringList log;
    std::atomic<int> passes{0};
    std::atomic<int> closes{0};
    std::atomic<bool> inExchange{false};
    int exchangeMs = 0;
    int spinUs = 0;  // busy work under the lock, without any system call
    int failAfterPasses = -1;

protected:
    void exchange() override
    {
        ++passes;
        if (spinUs > 0) {
            QElapsedTimer t;
            t.start();
            while (t.nsecsElapsed() < spinUs * 1000LL) {
            }
        }
        if (exchangeMs > 0) {
            log << QStringLiteral("begin");
            inExchange = true;
            QThread::msleep(exchangeMs);
            inExchange = false;
            log << QStringLiteral("end");
        }
        writeNext();
    }
    void writeNext() override
    {
        if (queue.isEmpty())
            return;
        const int item = queue.takeFirst();
        written << item;
        log << QStringLiteral("write %1").arg(item);
    }
    void readReply() override {}
    bool checkError() override { return failAfterPasses >= 0 && passes >= failAfterPasses; }
    void closeDevice() override { ++closes; }
};

} // namespace

class TestHandler : public QObject
{
    Q_OBJECT

private slots:
    void stopDrainsTheQueue()
    {
        FakeHandler h;
        h.enqueue(1);
        h.enqueue(2);
        h.enqueue(3);
        h.exchangeMs = 20;
        h.start();
        h.stop();
        QVERIFY(h.isFinished());
        QCOMPARE(h.written, (QList<int>{1, 2, 3}));
        QCOMPARE(h.closes.load(), 1);
    }

    void stopOnAnIdleHandlerReturns()
    {
        FakeHandler h;
        h.start();
        QTRY_VERIFY(h.passes > 0);
        h.stop();
        QVERIFY(h.isFinished());
        QCOMPARE(h.closes.load(), 1);
    }

    void stopAfterTheLoopEndedByItselfReturnsAtOnce()
    {
        FakeHandler h;
        h.failAfterPasses = 1;
        h.enqueue(7);
        h.enqueue(8);
        h.start();
        QTRY_VERIFY(h.isFinished());
        QCOMPARE(h.closes.load(), 1);
        QCOMPARE(h.written, QList<int>{7});  // the rest stays queued
        QElapsedTimer clock;
        clock.start();
        h.stop();
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(h.closes.load(), 1);
    }

    void enqueueWaitsForTheCurrentExchange()
    {
        FakeHandler h;
        h.exchangeMs = 200;
        h.start();
        QTRY_VERIFY(h.inExchange.load());
        h.enqueue(42);
        h.stop();
        // The item landed after a whole exchange and was written in a later one.
        const int enq = h.log.indexOf(QStringLiteral("enqueued 42"));
        const int wr = h.log.indexOf(QStringLiteral("write 42"));
        QVERIFY(enq > 0 && wr > enq);
        QCOMPARE(h.log.at(enq - 1), QStringLiteral("end"));
        QVERIFY(h.log.mid(enq, wr - enq).contains(QStringLiteral("begin")));
    }

    void ownerIsNotStarvedByBackToBackExchanges()
    {
        FakeHandler h;
        h.spinUs = 1000;  // the lock is held nearly all the time
        h.start();
        int worst = 0;
        for (int i = 0; i < 100; ++i) {
            const int before = h.passes;
            h.enqueue(i);
            worst = qMax(worst, h.passes - before);
            QThread::usleep(200);
        }
        h.stop();
        QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
        QCOMPARE(h.written.size(), 100);
    }

    void errorString()
    {
        FakeHandler h;
        QCOMPARE(h.errorString(), QStringLiteral("There are no errors"));
        h.setLastError(QStringLiteral("Port error COM3: gone"));
        QCOMPARE(h.errorString(), QStringLiteral("Port error COM3: gone"));
    }
};

QTEST_GUILESS_MAIN(TestHandler)
#include "test_handler.moc"
