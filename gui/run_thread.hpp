#pragma once
// Runs one search at a time off the GUI thread, so that the window keeps
// repainting and can ask the run to stop. The course file is read here once,
// before any file is written: a file the run refuses leaves the previous
// run's files alone, and a pipe or a slow disk never blocks the window. The
// run is checked for a stop request between generations; the destructor asks
// for a stop and waits.

#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "progress_queue.hpp"
#include "results_tab.hpp"
#include "signal_console.hpp"

namespace velmora::gui {

// What carries out a run: velmora::run_search in the program; tests may put a
// scripted stand-in here.
using RunFunction = std::function<RunResult(const RunConfig&, const RunOptions&)>;

class RunThread : public QThread {
    Q_OBJECT
  public:
    // seedings: the process's seeding count, passed to every run; it must
    // outlive the thread.
    RunThread(RunFunction run_function, SeedingCounter& seedings, QObject* parent = nullptr);
    ~RunThread() override;

    // Starts a run unless one is under way; returns whether it started. The
    // run's files go to `workdir`. The window's validation of the searched
    // configuration, when given, is the run's: the search does not repeat it.
    bool start_run(const RunConfig& config, int threads, const std::filesystem::path& workdir,
                   std::optional<Validation> validated = std::nullopt);

    // Replications and refinement of the next run started.
    void set_search(int replications, bool refine) {
        replications_ = replications;
        refine_ = refine;
    }

    // The inference and the analyses asked of the next run's models.
    void set_analyses(const AnalysisChoices& choices) { analyses_ = choices; }

    // Asks the run under way to stop before its next generation; a run still
    // waiting for a pipe named as its course file is released at once.
    void request_stop();

    // A pipe whose writer has not yet opened it blocks its reader in the
    // system; this opens and closes the pipe's writing end so that the read
    // ends with the data sent so far. Call again while reading() stays true:
    // a reader that had not yet opened the pipe is only released by the next
    // call.
    void release_reading();
    // The course file is being read (nothing has been written yet).
    bool reading() const { return reading_.load(); }

    // Valid once finished() has been delivered.
    RunOutcome outcome() const;
    // The same, handed over: the thread keeps nothing of the run (a run of
    // many replications holds much), and outcome() is empty afterwards.
    RunOutcome take_outcome();

    // What the run writes to standard output and standard error.
    SignalConsole* console() { return &console_; }

    // The figures of every generation bred, for the Search chart.
    ProgressQueue* progress() { return &progress_; }

    // The generation under way (counting from 0), or -1 before the first.
    int latest_generation() const { return latest_generation_.load(); }
    // The receiver of generation_started calls this once it has shown the
    // generation, so that the next one is announced again.
    void generation_shown() { generation_announced_ = false; }

  signals:
    // A generation has started (its number counting from 0). While the last
    // announcement has not been shown, further generations are not announced
    // again, so a fast search cannot flood the window with events; the
    // receiver shows latest_generation() or the number given.
    void generation_started(int generation);
    // With each progress report: the replication (from 1) it comes from.
    void replication_started(int replication);
    // The course file has been read and the search is about to start: from
    // here on the run writes its files. Emitted once per run, before any
    // generation is announced.
    void run_began();

  protected:
    void run() override;

  private:
    void set_outcome(RunOutcome outcome);

    const RunFunction run_function_;
    SeedingCounter& seedings_;

    // Written by start_run() only while no run is under way, read by run().
    RunConfig config_;
    std::optional<Validation> validated_;
    int threads_ = 1;
    int replications_ = 1;
    bool refine_ = true;
    AnalysisChoices analyses_;
    std::filesystem::path workdir_;

    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{false};
    std::filesystem::path reading_path_;  // set while no run is under way
    std::atomic<int> latest_generation_{-1};
    std::atomic<bool> generation_announced_{false};
    SignalConsole console_;
    ProgressQueue progress_;

    mutable QMutex mutex_;
    RunOutcome outcome_;
};

}  // namespace velmora::gui
