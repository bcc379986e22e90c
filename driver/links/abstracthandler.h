#pragma once
// Worker thread base of both links. The run loop owns the device: each pass
// holds the mutex for one whole exchange, so nothing lands in the middle of
// a write/read; signals carry the results out.
//
// The owner (GUI thread) never waits for an exchange: it posts items into an
// inbox behind a lock of its own, held only to append, and the loop moves
// them into the queue, in the order posted, at the start of its next pass.
// requestStop() only raises a flag; stop() also waits for the loop to end.

#include <QAtomicInt>
#include <QCoreApplication>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QThread>

template <typename T>
class AbstractHandler : public QThread
{
public:
    explicit AbstractHandler(QObject *parent = nullptr) : QThread(parent) {}

    QString errorString() const
    {
        QMutexLocker locker(&inboxMutex);
        if (!lastError.isEmpty())
            return lastError;
        return QCoreApplication::translate("AbstractHandler", "There are no errors");
    }

    // Lets the loop drain what is queued and end; returns at once. The
    // thread's finished() tells when the device is closed.
    virtual void requestStop()
    {
        stopRequested.storeRelease(1);
        quit();
    }

    // requestStop(), then waits for the loop to finish and for closeDevice()
    // to have run. Returns at once if the loop has ended.
    virtual void stop()
    {
        requestStop();
        wait();
    }

protected:
    virtual void exchange() = 0;
    virtual void closeDevice() = 0;
    virtual void readReply() = 0;
    virtual void writeNext() = 0;
    virtual bool checkError() = 0;

    // Loop thread, mutex held, at the start of every pass: moves the inbox
    // into the queue. Handlers with more to take over extend it.
    virtual void collectPosted()
    {
        const QList<T> posted = takeInbox();
        queue.append(posted);
    }

    // Loop thread, after the loop has ended, before closeDevice(): what was
    // still queued or posted when the loop ended by itself (an error).
    virtual void dropUnsent(const QList<T> &) {}

    // Owner side: appends to the inbox without touching the loop's mutex.
    // False once the loop has ended: nothing will take the item any more.
    bool post(const T &item)
    {
        QMutexLocker locker(&inboxMutex);
        if (loopEnded)
            return false;
        inbox.append(item);
        inboxCount.storeRelease(inbox.size());
        return true;
    }

    QList<T> takeInbox()
    {
        QMutexLocker locker(&inboxMutex);
        QList<T> out;
        out.swap(inbox);
        inboxCount.storeRelease(0);
        return out;
    }

    bool hasPosted() const { return inboxCount.loadAcquire() > 0; }
    bool isStopRequested() const { return stopRequested.loadAcquire() != 0; }

    void setLastError(const QString &text)
    {
        QMutexLocker locker(&inboxMutex);
        lastError = text;
    }

    void run() override
    {
        mutex.lock();
        bool ended = false;
        for (;;) {
            // Read the flag before collecting: what the owner posted before
            // it asked to stop is then sure to be collected.
            const bool stopNow = isStopRequested();
            collectPosted();
            if (stopNow && queue.isEmpty())
                break;
            exchange();
            if (checkError()) {
                ended = true;
                break;
            }
            mutex.unlock();
            mutex.lock();
        }
        QList<T> unsent;
        {
            QMutexLocker locker(&inboxMutex);
            loopEnded = true;
            unsent.swap(inbox);
            inboxCount.storeRelease(0);
        }
        if (ended)
            dropUnsent(queue + unsent);
        queue.clear();
        mutex.unlock();
        closeDevice();
    }

    QList<T> queue;
    QMutex mutex;
    QString lastError;  // written under inboxMutex (setLastError)

private:
    mutable QMutex inboxMutex;
    QList<T> inbox;
    QAtomicInt inboxCount;
    QAtomicInt stopRequested;
    bool loopEnded = false;
};
