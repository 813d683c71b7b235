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
        emit generation_started(progress.generation);
        return !stop_.load();
    };

    RunOutcome outcome;
    try {
        const RunResult result = run_function_(config_, options);
        outcome.status =
            result.completed ? RunOutcome::Status::completed : RunOutcome::Status::stopped;
        outcome.generations = result.generations;
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
