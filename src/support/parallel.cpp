#include "support/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

bool run_tasks(long long count, int threads, const std::function<void(long long, int)>& task,
               const SimulationProgress& progress) {
    if (count <= 0) {
        return true;
    }
    std::atomic<long long> next{0};
    std::atomic<long long> done{0};
    std::atomic<bool> stop{false};
    bool stopped_by_user = false;
    std::exception_ptr failure;
    std::mutex failure_mutex;

    // The caller's thread also reports progress, between its own tasks.
    auto work = [&](int worker) {
        const bool reporter = worker == 0;
        auto last = std::chrono::steady_clock::now();
        for (;;) {
            if (stop.load(std::memory_order_relaxed)) {
                return;
            }
            const long long i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count) {
                return;
            }
            try {
                task(i, worker);
            } catch (...) {
                std::lock_guard<std::mutex> lock(failure_mutex);
                if (!failure) {
                    failure = std::current_exception();
                }
                stop.store(true);
                return;
            }
            done.fetch_add(1, std::memory_order_relaxed);
            if (reporter && progress) {
                const auto now = std::chrono::steady_clock::now();
                if (now - last >= std::chrono::milliseconds(100)) {
                    last = now;
                    if (!progress(done.load(), count)) {
                        stopped_by_user = true;
                        stop.store(true);
                        return;
                    }
                }
            }
        }
    };

    const long long extra = threads > 1 ? std::min<long long>(threads - 1, count - 1) : 0;
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(extra));
    try {
        for (long long t = 0; t < extra; ++t) {
            pool.emplace_back(work, static_cast<int>(t + 1));
        }
    } catch (...) {
        stop.store(true);
        for (std::thread& thread : pool) {
            thread.join();
        }
        throw;
    }
    work(0);
    for (std::thread& thread : pool) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (progress && !stopped_by_user) {
        stopped_by_user = !progress(done.load(), count);
    }
    return !stopped_by_user && done.load() == count;
}

}  // namespace velmora
