// The render stage's threads: a fixed pool that lives as long as the raster (and so as
// long as its job) and runs one piece of work per thread, many times a page. A line's
// work is short (well under a millisecond), so the threads wait for the next line by
// spinning a little before they sleep, and no thread is ever started per line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace inkrow::render {

// The most threads a raster uses: a line has at most a handful of independent pieces.
inline constexpr int kMaxShares = 4;

// Threads for a request: 0 means one per core; at most kMaxShares.
int ChooseThreadCount(int requested);

// Work for one share: share 0 runs on the calling thread, 1 .. count - 1 on the pool's.
using ShareFn = void (*)(void* context, int share);

struct WorkerPool {
    std::vector<std::thread> threads;  // count - 1 of them
    std::mutex mutex;
    std::condition_variable wake;  // the next piece of work is there, or stop
    std::condition_variable done;  // the last worker finished its share
    std::atomic<unsigned> generation{0};
    std::atomic<int> pending{0};
    std::atomic<bool> stopping{false};
    ShareFn work = nullptr;
    void* context = nullptr;
};

// Starts count - 1 threads (count 1: none). False when a thread could not be started;
// the pool is then stopped and holds none.
bool StartWorkerPool(WorkerPool* pool, int count);

// Work for the calling thread alone, once it has done its share.
using AsideFn = void (*)(void* context);

// Runs work(context, share) for every share 0 .. count - 1 and returns when all are done.
// `aside`, when not null, runs on the calling thread after its share, while the others
// may still be at theirs: work that must stay on the caller's thread fills its wait.
void RunShares(WorkerPool* pool, ShareFn work, void* context, AsideFn aside = nullptr,
               void* asideContext = nullptr);

// Stops and joins the threads; safe on a pool that never started.
void StopWorkerPool(WorkerPool* pool);

}  // namespace inkrow::render
