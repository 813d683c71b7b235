#pragma once
// Runs independent tasks (estimates of a generation, replications, simulations,
// bootstrap replicates, screenings) on several threads. Tasks write their
// results to slots of their own; which thread runs which task never changes a
// result, so the output does not depend on the thread count.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

// Called now and then from the calling thread with the tasks done so far;
// return false to stop early (tasks not yet started are skipped).
using SimulationProgress = std::function<bool(long long done, long long total)>;

// Threads kept between batches of tasks, for a caller that runs many small
// batches (a generation's estimates): the calling thread works as worker 0,
// the others wait for the next batch.
class WorkerPool {
  public:
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Threads of the pool, the caller's included.
    int size() const noexcept { return static_cast<int>(threads_.size()) + 1; }

    // Runs task(i, worker) for i in 0..count-1, worker 0..size()-1 naming the
    // thread, so that a task can use scratch storage of its own thread.
    // Returns false when progress asked to stop. An exception thrown by a
    // task stops the others and is rethrown here.
    bool run(long long count, const std::function<void(long long, int)>& task,
             const SimulationProgress& progress = {});

  private:
    void shut_down();
    void worker_loop(int worker);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(int)>* batch_ = nullptr;
    long long batch_number_ = 0;
    int busy_ = 0;
    bool stopping_ = false;
};

// run on a pool of min(threads, count) threads made for the call.
bool run_tasks(long long count, int threads, const std::function<void(long long, int)>& task,
               const SimulationProgress& progress = {});

}  // namespace velmora
