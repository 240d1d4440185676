#include "worker_pool.h"

#include <system_error>

namespace inkrow::render {
namespace {

// About 20 to 50 microseconds of waiting before a thread sleeps: longer than the gap
// between two lines' work on a busy page, far shorter than a page without work.
constexpr int kSpins = 4000;

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

void Finish(WorkerPool* pool) {
    if (pool->pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        // Taking the lock orders this wake-up after the caller's check of `pending`.
        const std::lock_guard<std::mutex> lock(pool->mutex);
        pool->done.notify_one();
    }
}

void WorkerLoop(WorkerPool* pool, int share) {
    unsigned seen = 0;
    for (;;) {
        unsigned now = pool->generation.load(std::memory_order_acquire);
        for (int spin = 0; now == seen && spin < kSpins; ++spin) {
            Relax();
            now = pool->generation.load(std::memory_order_acquire);
        }
        if (now == seen) {
            std::unique_lock<std::mutex> lock(pool->mutex);
            pool->wake.wait(
                lock, [&] { return pool->generation.load(std::memory_order_acquire) != seen; });
            now = pool->generation.load(std::memory_order_acquire);
        }
        seen = now;
        if (pool->stopping.load(std::memory_order_acquire)) return;
        pool->work(pool->context, share);
        Finish(pool);
    }
}

}  // namespace

int ChooseThreadCount(int requested) {
    int count = requested;
    if (count <= 0) {
        const unsigned cores = std::thread::hardware_concurrency();
        count = cores == 0 ? 1 : static_cast<int>(cores);
    }
    return count > kMaxShares ? kMaxShares : count;
}

bool StartWorkerPool(WorkerPool* pool, int count) {
    for (int share = 1; share < count; ++share) {
        try {
            pool->threads.emplace_back(WorkerLoop, pool, share);
        } catch (const std::system_error&) {
            StopWorkerPool(pool);
            return false;
        }
    }
    return true;
}

void RunShares(WorkerPool* pool, ShareFn work, void* context, AsideFn aside, void* asideContext) {
    const int helpers = static_cast<int>(pool->threads.size());
    if (helpers == 0) {
        work(context, 0);
        if (aside != nullptr) aside(asideContext);
        return;
    }
    pool->work = work;
    pool->context = context;
    pool->pending.store(helpers, std::memory_order_relaxed);
    {
        // Under the lock, so that a worker between its last check and its sleep cannot
        // miss the new generation.
        const std::lock_guard<std::mutex> lock(pool->mutex);
        pool->generation.fetch_add(1, std::memory_order_release);
    }
    pool->wake.notify_all();
    work(context, 0);
    if (aside != nullptr) aside(asideContext);
    for (int spin = 0; pool->pending.load(std::memory_order_acquire) != 0 && spin < kSpins; ++spin)
        Relax();
    if (pool->pending.load(std::memory_order_acquire) != 0) {
        std::unique_lock<std::mutex> lock(pool->mutex);
        pool->done.wait(lock, [&] { return pool->pending.load(std::memory_order_acquire) == 0; });
    }
}

void StopWorkerPool(WorkerPool* pool) {
    if (pool->threads.empty()) return;
    {
        const std::lock_guard<std::mutex> lock(pool->mutex);
        pool->stopping.store(true, std::memory_order_release);
        pool->generation.fetch_add(1, std::memory_order_release);
    }
    pool->wake.notify_all();
    for (std::thread& thread : pool->threads)
        thread.join();
    pool->threads.clear();
    pool->stopping.store(false, std::memory_order_relaxed);
}

}  // namespace inkrow::render
