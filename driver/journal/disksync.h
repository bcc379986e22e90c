#pragma once
// Flushes a file's written data from the operating system to the disk from
// a thread of its own, at most `intervalMs` after it was marked dirty, so
// that the writer never waits for the disk.
//
// The thread syncs a duplicate of the writer's descriptor that it owns: the
// writer may close its own at any time, and handing over a new descriptor
// never waits for a sync in progress. A descriptor handed over is synced
// once more when it was dirty, then closed, by the thread.
//
// A failed sync is told to `failed` (on the thread, with errno) once, and
// again only after a sync has succeeded meanwhile.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class DiskSync
{
public:
    // `sync` replaces syncDescriptor (tests: a disk that stalls or fails);
    // it leaves errno set when it fails.
    explicit DiskSync(int intervalMs = 500, std::function<bool(int)> sync = syncDescriptor,
                      std::function<void(int error)> failed = nullptr);
    // Syncs what is pending, then ends the thread (waits for a sync in
    // progress: for the end of the program only).
    ~DiskSync();

    // The C runtime descriptor to sync from now on; -1 for none. Duplicates
    // it; the caller keeps its own and may close it at once. Never waits for
    // the disk: the previous descriptor's pending sync is left to the thread.
    void setDescriptor(int fd);
    // Data were written to the current descriptor.
    void markDirty() { dirty.store(true, std::memory_order_release); }
    // Syncs done, failed ones included (for tests).
    int syncCount() const { return syncs.load(); }

    // fsync on POSIX, FlushFileBuffers (via _commit) on Windows.
    static bool syncDescriptor(int fd);

private:
    struct Retired {
        int fd;
        bool dirty;
    };
    void run();
    void syncOwned(int fd);

    const int intervalMs;
    const std::function<bool(int)> sync;
    const std::function<void(int)> failed;
    bool failing = false; // the last sync failed (thread only)
    std::mutex mutex; // guards fd, retired and quit; never held during a sync
    std::condition_variable wake;
    int fd = -1;                  // owned duplicate
    std::vector<Retired> retired; // owned duplicates to sync and close
    bool quit = false;
    std::atomic<bool> dirty{false}; // about fd
    std::atomic<int> syncs{0};
    std::thread worker;
};
