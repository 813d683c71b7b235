#pragma once
// Runs independent tasks (simulations, bootstrap replicates, screenings) on
// several threads. Tasks write their
// results to slots of their own; which thread runs which task never changes a
// result, so the output does not depend on the thread count.

#include <functional>

namespace velmora {

// Called now and then from the calling thread with the tasks done so far;
// return false to stop early (tasks not yet started are skipped).
using SimulationProgress = std::function<bool(long long done, long long total)>;

// Runs task(i, worker) for i in 0..count-1 on `threads` threads (the caller's
// thread among them); worker 0..threads-1 names the thread, so that a task can
// use scratch storage of its own thread. Returns false when progress asked to stop. An exception
// thrown by a task stops the others and is rethrown here.
bool run_tasks(long long count, int threads, const std::function<void(long long, int)>& task,
               const SimulationProgress& progress = {});

}  // namespace velmora
