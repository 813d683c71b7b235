#include "run_thread.hpp"

#include <QMutexLocker>

#include <exception>

#include "support/errors.hpp"

namespace velmora::gui {

RunThread::RunThread(RunFunction run_function, SeedingCounter& seedings, QObject* parent)
    : QThread(parent), run_function_(std::move(run_function)), seedings_(seedings) {}

RunThread::~RunThread() {
    stop_ = true;
    wait();
}

bool RunThread::start_run(const RunConfig& config, int threads,
                          const std::filesystem::path& workdir) {
    if (isRunning()) {
        return false;
    }
    config_ = config;
    threads_ = threads;
    workdir_ = workdir;
    stop_ = false;
    latest_generation_ = -1;
    generation_announced_ = false;
    set_outcome({});
    start();
    return true;
}

RunOutcome RunThread::outcome() const {
    QMutexLocker lock(&mutex_);
    return outcome_;
}

void RunThread::set_outcome(RunOutcome outcome) {
    QMutexLocker lock(&mutex_);
    outcome_ = std::move(outcome);
}

void RunThread::run() {
    RunOptions options;
    options.workdir = workdir_;
    options.threads = threads_;
    options.replications = replications_;
    options.refine = refine_;
    options.console = &console_;
    options.stop = &stop_;
    options.seedings = &seedings_;
    options.progress = [this](const RunProgress& progress) {
        emit replication_started(progress.replication);
        latest_generation_ = progress.generation;
        if (!generation_announced_.exchange(true)) {
            emit generation_started(progress.generation);
        }
        return !stop_.load();
    };
    options.generation_bred = [this](const RunProgress& bred) { progress_.push(bred); };

    RunOutcome outcome;
    outcome.config = config_;
    outcome.workdir = workdir_;
    try {
        // With a hold-out the search sees only the rows before it.
        outcome.config = searched_config(config_, analyses_);
        outcome.result = run_function_(outcome.config, options);
        outcome.status =
            outcome.result.completed ? RunOutcome::Status::completed : RunOutcome::Status::stopped;
        outcome.generations = outcome.result.generations;
        // The charts of the regimes draw the series itself; reading it here
        // keeps the window responsive.
        outcome.series = load_run_series(outcome.config);
        // The bootstrap and the simulations take a while: here too, off the
        // window's thread; a stop request ends them early.
        outcome.analyses =
            analyse_run(config_, outcome.result, analyses_, threads_, &stop_, &console_);
    } catch (const Failure& failure) {
        outcome.status = RunOutcome::Status::failed;
        outcome.message = QString::fromStdString(failure.what());
    } catch (const std::exception& e) {
        // Anything else (memory exhausted, a file system fault) must still
        // reach the user rather than end the program from a worker thread.
        outcome.status = RunOutcome::Status::failed;
        outcome.message = QString::fromStdString(e.what());
    }
    set_outcome(std::move(outcome));
}

}  // namespace velmora::gui
