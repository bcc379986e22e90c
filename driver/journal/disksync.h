#pragma once
// Flushes a file's written data from the operating system to the disk from
// a thread of its own, at most `intervalMs` after it was marked dirty, so
// that the writer never waits for the disk.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class DiskSync
{
public:
    explicit DiskSync(int intervalMs = 500);
    ~DiskSync(); // syncs what is pending, then ends the thread

    // The C runtime descriptor to sync from now on; -1 for none. Waits for a
    // sync of the previous descriptor in progress, so that the caller may
    // close it afterwards. The previous one is synced first when dirty.
    void setDescriptor(int fd);
    // Data were written to the current descriptor.
    void markDirty() { dirty.store(true, std::memory_order_release); }
    // Syncs now in the caller's thread when dirty.
    void syncNow();
    // Completed syncs (for tests).
    int syncCount() const { return syncs.load(); }

    // fsync on POSIX, FlushFileBuffers (via _commit) on Windows.
    static bool syncDescriptor(int fd);

private:
    void run();
    void syncLocked();

    const int intervalMs;
    std::mutex mutex; // guards fd and the sync itself
    std::condition_variable wake;
    int fd = -1;
    bool quit = false;
    std::atomic<bool> dirty{false};
    std::atomic<int> syncs{0};
    std::thread worker;
};
