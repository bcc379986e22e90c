#include "disksync.h"

#include <cerrno>
#include <chrono>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

int duplicate(int fd)
{
#ifdef _WIN32
    return _dup(fd);
#else
    return ::dup(fd);
#endif
}

void closeDescriptor(int fd)
{
#ifdef _WIN32
    _close(fd);
#else
    ::close(fd);
#endif
}

} // namespace

DiskSync::DiskSync(int intervalMs, std::function<bool(int)> sync, std::function<void(int)> failed)
    : intervalMs(intervalMs), sync(std::move(sync)), failed(std::move(failed))
{
    worker = std::thread([this] { run(); });
}

DiskSync::~DiskSync()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    wake.notify_all();
    worker.join();
}

bool DiskSync::syncDescriptor(int fd)
{
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

void DiskSync::syncOwned(int fd)
{
    errno = 0;
    const bool ok = sync(fd);
    const int error = errno;
    ++syncs;
    if (!ok && !failing && failed)
        failed(error);
    failing = !ok;
}

void DiskSync::setDescriptor(int newFd)
{
    // Without a duplicate nothing is synced for that file; the lines still
    // reach the operating system, which is what the writer relies on.
    const int own = newFd < 0 ? -1 : duplicate(newFd);
    bool handedOver = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (fd >= 0) {
            retired.push_back({fd, dirty.exchange(false, std::memory_order_acq_rel)});
            handedOver = true;
        } else {
            dirty.store(false, std::memory_order_release);
        }
        fd = own;
    }
    if (handedOver)
        wake.notify_all();
}

void DiskSync::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait_for(lock, std::chrono::milliseconds(intervalMs),
                      [this] { return quit || !retired.empty(); });
        const bool ending = quit;
        std::vector<Retired> done;
        done.swap(retired);
        const int current = fd;
        // Marks written before the exchange are covered by this sync.
        const bool currentDirty = current >= 0 && dirty.exchange(false, std::memory_order_acq_rel);
        if (ending)
            fd = -1;
        lock.unlock();

        // `current` stays open meanwhile: only this thread closes.
        for (const Retired &r : done) {
            if (r.dirty)
                syncOwned(r.fd);
            closeDescriptor(r.fd);
        }
        if (currentDirty)
            syncOwned(current);
        if (ending) {
            if (current >= 0)
                closeDescriptor(current);
            return;
        }
        lock.lock();
    }
}
