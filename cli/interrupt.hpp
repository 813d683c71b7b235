#pragma once
// SIGINT and SIGTERM during a command: the first asks the work under way to
// stop at its next step (a search before its next generation, as the desktop
// program's Stop does; a refinement, a bootstrap or a simulation between its
// tasks) and says so on standard error; a second one ends the process at
// once.

#include <atomic>

namespace velmora::cli {

// Installs the handlers for its lifetime and restores the previous ones
// afterwards. One at a time per process: a signal handler can reach only
// process-wide state, so the request lives in this file's statics.
// What the first signal stops, as its line on standard error says it
// ("Interrupted (SIGINT): <stage>; a second signal ends it at once.").
namespace stage {
inline constexpr const char* search =
    "the search stops before its next generation and writes no best-model report";
inline constexpr const char* search_replications =
    "the search stops before its next generation; replications that finished keep their "
    "reports";
inline constexpr const char* refinement =
    "the refinement stops; the search's reports stay, no refined model, summary or JSON is "
    "written";
inline constexpr const char* after_search =
    "the run stops; the reports written stay, no JSON or CSV file is written";
inline constexpr const char* fit = "the fit stops and writes no report";
inline constexpr const char* after_report =
    "the fit stops; its report stays, no JSON or CSV file is written";
}  // namespace stage

class InterruptGuard {
  public:
    explicit InterruptGuard(const char* first_stage);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // Says what a signal stops from now on: one of the texts above (the
    // handler reads it, so it must outlive the guard).
    void set_stage(const char* text);

    // Set by the first signal; the work checks it between its steps.
    const std::atomic<bool>& stop_requested() const;
    // The first signal received (SIGINT or SIGTERM), 0 while none came.
    int signal_received() const;
};

}  // namespace velmora::cli
