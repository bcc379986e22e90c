// The worker-thread base: queue draining, the stop protocol, and a loop that
// sleeps until it is woken.

#include "abstracthandler.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>

namespace {

class FakeHandler : public AbstractHandler<int>
{
public:
    ~FakeHandler() override
    {
        if (isRunning())
            stop();
    }

    void enqueue(int item) { post(item); }
    void setLastError(const QString &e) { lastError = e; }

    // Written items, in order; read after the thread finished or under lock.
    QList<int> written;
    std::atomic<int> passes{0};
    std::atomic<int> closes{0};
    int exchangeMs = 0;
    int failAfterPasses = -1;
    bool openFails = false;
    int perPass = -1;
    QList<int> dropped;

protected:
    bool openDevice() override { return !openFails; }
    void dropUnsent(const QList<int> &items) override { dropped = items; }
    void exchange() override
    {
        ++passes;
        if (exchangeMs > 0)
            QThread::msleep(exchangeMs);
        writeNext();
    }
    // Writes what is queued (at most perPass items when set).
    void writeNext() override
    {
        for (int n = 0; !queue.isEmpty() && n != perPass; ++n)
            written << queue.takeFirst();
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
        h.perPass = 1;
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

    // Nothing to do, nothing happens: the loop only runs when woken.
    void idleLoopSleepsUntilWoken()
    {
        FakeHandler h;
        h.start();
        QTRY_COMPARE(h.passes.load(), 1);
        QTest::qWait(100);
        QCOMPARE(h.passes.load(), 1);
        h.enqueue(1);
        QTRY_COMPARE(h.passes.load(), 2);
        QTest::qWait(100);
        QCOMPARE(h.passes.load(), 2);
        h.stop();
        QCOMPARE(h.written, QList<int>{1});
    }

    void failedOpenGivesBackWhatWasPosted()
    {
        FakeHandler h;
        h.openFails = true;
        h.enqueue(4);
        h.start();
        QVERIFY(h.wait(5000));
        QCOMPARE(h.passes.load(), 0);
        QCOMPARE(h.closes.load(), 1);
        QCOMPARE(h.dropped, QList<int>{4});
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
