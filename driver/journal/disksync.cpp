#include "disksync.h"

#include <chrono>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

DiskSync::DiskSync(int intervalMs) : intervalMs(intervalMs)
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
    std::lock_guard<std::mutex> lock(mutex);
    syncLocked();
}

bool DiskSync::syncDescriptor(int fd)
{
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

void DiskSync::syncLocked()
{
    if (fd < 0 || !dirty.exchange(false, std::memory_order_acq_rel))
        return;
    syncDescriptor(fd);
    ++syncs;
}

void DiskSync::setDescriptor(int newFd)
{
    std::lock_guard<std::mutex> lock(mutex);
    syncLocked();
    fd = newFd;
}

void DiskSync::syncNow()
{
    std::lock_guard<std::mutex> lock(mutex);
    syncLocked();
}

void DiskSync::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
        wake.wait_for(lock, std::chrono::milliseconds(intervalMs), [this] { return quit; });
        syncLocked();
    }
}
