#pragma once
// Worker thread base of both links. The run loop owns the device: each pass
// holds the mutex for one whole exchange, so GUI-thread enqueues never land
// in the middle of a write/read; signals carry the results out.

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
        if (!lastError.isEmpty())
            return lastError;
        return QCoreApplication::translate("AbstractHandler", "There are no errors");
    }

    // Lets the loop drain what is queued, then waits for it to finish and
    // for closeDevice() to have run. Returns at once if the loop has ended.
    virtual void stop()
    {
        {
            OwnerLocker locker(this);
            stopRequested = true;
        }
        quit();
        wait();
    }

protected:
    // Takes the mutex from the owner's side. The run loop re-takes the mutex
    // right after each exchange; an owner that announced itself here gets it
    // first, so an enqueue waits for one exchange at most, never for many.
    class OwnerLocker
    {
    public:
        explicit OwnerLocker(AbstractHandler *handler) : h(handler)
        {
            h->ownersWaiting.fetchAndAddOrdered(1);
            h->mutex.lock();
            h->ownersWaiting.fetchAndAddOrdered(-1);
        }
        ~OwnerLocker() { h->mutex.unlock(); }
        OwnerLocker(const OwnerLocker &) = delete;
        OwnerLocker &operator=(const OwnerLocker &) = delete;

    private:
        AbstractHandler *h;
    };

    virtual void exchange() = 0;
    virtual void closeDevice() = 0;
    virtual void readReply() = 0;
    virtual void writeNext() = 0;
    virtual bool checkError() = 0;

    void run() override
    {
        mutex.lock();
        for (;;) {
            if (stopRequested && queue.isEmpty())
                break;
            exchange();
            if (checkError())
                break;
            mutex.unlock();
            while (ownersWaiting.loadAcquire() > 0)
                QThread::yieldCurrentThread();
            mutex.lock();
        }
        mutex.unlock();
        closeDevice();
    }

    QList<T> queue;
    QMutex mutex;
    QString lastError;
    bool stopRequested = false;
    QAtomicInt ownersWaiting; // owner threads blocked in OwnerLocker
};
