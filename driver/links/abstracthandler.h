#pragma once
// Worker thread base of both links. The thread owns the device and runs an
// event loop: it sleeps until the device has bytes or an error, the owner
// posts work, one of the link's own timers is due, or it is asked to stop.
// Each of these runs serve() in the link's thread: what was posted is taken
// into the queue, exchange() does what can be done now (never waiting on
// the device), and checkError() may end the loop.
//
// The owner (GUI thread) never waits for the link: it posts items into an
// inbox behind a lock of its own, held only to append, and wakes the loop.
// requestStop() only raises a flag: the loop ends once drained() (the
// subclass says when that is). stop() raises the hard flag (subclasses cut
// their waits short) and waits for the thread to end.

#include <QAtomicInt>
#include <QAtomicPointer>
#include <QCoreApplication>
#include <QList>
#include <QMetaObject>
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

    // Lets the loop finish what it holds and end; returns at once. The
    // thread's finished() tells when the device is closed.
    virtual void requestStop()
    {
        stopLevel.testAndSetOrdered(0, 1);
        wake();
    }

    // Asks the loop to end promptly (waits are cut short) and waits for it
    // and for closeDevice() to have run. Returns at once if the loop ended.
    virtual void stop()
    {
        stopLevel.storeRelease(2);
        wake();
        wait();
    }

protected:
    // --- the link's thread --------------------------------------------------
    // Creates and opens (or starts opening) the device; false when that
    // failed at once (lastError says why): the loop is not entered.
    virtual bool openDevice() = 0;
    // One unit of work: write what should be written now, handle what has
    // come in. Never waits on the device.
    virtual void exchange() = 0;
    // Closes and deletes the device; runs once, when the loop has ended.
    virtual void closeDevice() = 0;
    virtual void readReply() = 0;
    virtual void writeNext() = 0;
    // True ends the loop (a fatal device error, already reported).
    virtual bool checkError() = 0;
    // Whether a stop request may end the loop now.
    virtual bool drained() const { return queue.isEmpty(); }
    // Moves the inbox into the queue, at the start of every serve().
    virtual void collectPosted() { queue.append(takeInbox()); }
    // What was still queued or posted when the loop ended by itself (an
    // error), before closeDevice().
    virtual void dropUnsent(const QList<T> &) {}

    // One pass: posted items, exchange(), the error check and the end of a
    // stop. Subclasses call it from their device and timer handlers.
    // A serve() reached from inside another (a device signal emitted while
    // writing) runs once the outer one is done.
    void serve()
    {
        if (serving) {
            serveAgain = true;
            return;
        }
        serving = true;
        do {
            serveAgain = false;
            wakePending.storeRelease(0);
            if (ended)
                break;
            collectPosted();
            exchange();
            if (checkError()) {
                ended = true;
                endedByError = true;
                exit(0);
                break;
            }
            if (stopLevel.loadAcquire() != 0 && drained()) {
                ended = true;
                exit(0);
                break;
            }
        } while (serveAgain);
        serving = false;
    }

    // Any thread: serve() runs soon in the link's thread. Repeated wakes
    // before it runs come to one pass.
    void wake()
    {
        if (QThread::currentThread() == this) {
            // The link's own thread: every handler there ends in serve(), and
            // a serve() under way goes round once more.
            if (serving)
                serveAgain = true;
            return;
        }
        QMutexLocker locker(&inboxMutex);
        if (wakePending.fetchAndStoreOrdered(1) != 0)
            return;
        if (QObject *c = context)
            QMetaObject::invokeMethod(c, [this] { serve(); }, Qt::QueuedConnection);
    }

    // An object living in the link's thread while the loop runs: the parent
    // of the link's timers and the context of its connections.
    QObject *loopContext() const { return context; }

    // Owner side: appends to the inbox and wakes the loop. False once the
    // loop has ended: nothing will take the item any more.
    bool post(const T &item)
    {
        {
            QMutexLocker locker(&inboxMutex);
            if (loopEnded)
                return false;
            inbox.append(item);
            inboxCount.storeRelease(inbox.size());
        }
        wake();
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
    bool isStopRequested() const { return stopLevel.loadAcquire() != 0; }
    // stop() rather than requestStop(): waits are to be cut short.
    bool isHardStop() const { return stopLevel.loadAcquire() == 2; }

    void setLastError(const QString &text)
    {
        QMutexLocker locker(&inboxMutex);
        lastError = text;
    }

    void run() override
    {
        QObject ctx;
        {
            QMutexLocker locker(&inboxMutex);
            context = &ctx;
        }
        ended = false;
        endedByError = false;
        if (openDevice()) {
            serve();
            if (!ended)
                exec();
        } else {
            endedByError = true;
        }
        QList<T> unsent;
        {
            QMutexLocker locker(&inboxMutex);
            context = nullptr;
            loopEnded = true;
            unsent.swap(inbox);
            inboxCount.storeRelease(0);
        }
        if (endedByError)
            dropUnsent(queue + unsent);
        queue.clear();
        closeDevice();
        // Timers and connections parented to ctx go with it, in this thread.
    }

    // The link's thread only.
    QList<T> queue;
    QString lastError;  // written under inboxMutex (setLastError)

private:
    mutable QMutex inboxMutex; // inbox, lastError, context, loopEnded
    QList<T> inbox;
    QAtomicInt inboxCount;
    QAtomicInt stopLevel;   // 0 running, 1 requestStop(), 2 stop()
    QAtomicInt wakePending;
    QObject *context = nullptr;
    bool loopEnded = false;
    bool ended = false;         // the link's thread
    bool endedByError = false;  // the link's thread
    bool serving = false;       // the link's thread
    bool serveAgain = false;    // the link's thread
};
