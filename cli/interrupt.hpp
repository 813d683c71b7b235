#pragma once
// SIGINT and SIGTERM during a search: the first asks the run to stop before
// its next generation, as the desktop program's Stop does, and says so on
// standard error; a second one ends the process at once.

#include <atomic>

namespace velmora::cli {

// Installs the handlers for its lifetime and restores the previous ones
// afterwards. One at a time per process: a signal handler can reach only
// process-wide state, so the request lives in this file's statics.
class InterruptGuard {
  public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // Set by the first signal; the run checks it between generations.
    const std::atomic<bool>& stop_requested() const;
    // The first signal received (SIGINT or SIGTERM), 0 while none came.
    int signal_received() const;
};

}  // namespace velmora::cli
