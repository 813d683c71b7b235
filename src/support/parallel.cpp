#include "support/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace velmora {

WorkerPool::WorkerPool(int threads) {
    const int extra = std::max(0, threads - 1);
    threads_.reserve(static_cast<std::size_t>(extra));
    try {
        for (int i = 1; i <= extra; ++i) {
            threads_.emplace_back([this, i] { worker_loop(i); });
        }
    } catch (...) {
        // A thread that cannot be started must not leave the ones already
        // running joinable (std::terminate) or pointing at a dead pool.
        shut_down();
        throw;
    }
}

WorkerPool::~WorkerPool() {
    shut_down();
}

void WorkerPool::shut_down() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
    threads_.clear();
}

void WorkerPool::worker_loop(int worker) {
    long long seen = 0;
    for (;;) {
        const std::function<void(int)>* batch = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || batch_number_ != seen; });
            if (stopping_) {
                return;
            }
            seen = batch_number_;
            batch = batch_;
        }
        (*batch)(worker);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
        done_.notify_one();
    }
}

bool WorkerPool::run(long long count, const std::function<void(long long, int)>& task,
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
    const std::function<void(int)> work = [&](int worker) {
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

    // A single task stays on the caller's thread: no wake-up for the others.
    const bool shared = !threads_.empty() && count > 1;
    if (shared) {
        std::lock_guard<std::mutex> lock(mutex_);
        batch_ = &work;
        busy_ = static_cast<int>(threads_.size());
        ++batch_number_;
    }
    if (shared) {
        wake_.notify_all();
    }
    work(0);
    if (shared) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
        batch_ = nullptr;
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (progress && !stopped_by_user) {
        stopped_by_user = !progress(done.load(), count);
    }
    return !stopped_by_user && done.load() == count;
}

bool run_tasks(long long count, int threads, const std::function<void(long long, int)>& task,
               const SimulationProgress& progress) {
    if (count <= 0) {
        return true;
    }
    WorkerPool pool(static_cast<int>(std::min<long long>(std::max(threads, 1), count)));
    return pool.run(count, task, progress);
}

}  // namespace velmora
