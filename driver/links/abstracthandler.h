#pragma once
// Worker thread base of both links. The run loop owns the device: each pass
// holds the mutex for one whole exchange, so GUI-thread enqueues never land
// in the middle of a write/read; signals carry the results out.

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
            QMutexLocker locker(&mutex);
            stopRequested = true;
        }
        quit();
        wait();
    }

protected:
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
            mutex.lock();
        }
        mutex.unlock();
        closeDevice();
    }

    QList<T> queue;
    QMutex mutex;
    QString lastError;
    bool stopRequested = false;
};
