#include "run_thread.hpp"

#include <QMutexLocker>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <system_error>

#include "data/series.hpp"
#include "pipeline/pipeline.hpp"
#include "support/errors.hpp"

namespace velmora::gui {

RunThread::RunThread(RunFunction run_function, SeedingCounter& seedings, QObject* parent)
    : QThread(parent), run_function_(std::move(run_function)), seedings_(seedings) {}

namespace {

// Replications run side by side: the furthest one's count, not their sum.
int generations_bred(const RunResult& result) {
    int most = result.replications.empty() ? result.generations : 0;
    for (const ReplicationResult& r : result.replications) {
        most = std::max(most, r.generations);
    }
    return most;
}

}  // namespace

RunThread::~RunThread() {
    stop_ = true;
    // A run waiting for a pipe's writer would never see the stop.
    while (!wait(100)) {
        release_reading();
    }
}

void RunThread::request_stop() {
    stop_ = true;
    release_reading();
}

void RunThread::release_reading() {
    if (!reading_.load()) {
        return;
    }
    std::error_code ec;
    if (!std::filesystem::is_fifo(reading_path_, ec)) {
        return;
    }
    // Without a reader this fails at once (ENXIO) instead of blocking.
    const int fd = ::open(reading_path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
    }
}

bool RunThread::start_run(const RunConfig& config, int threads,
                          const std::filesystem::path& workdir,
                          std::optional<Validation> validated) {
    if (isRunning()) {
        return false;
    }
    config_ = config;
    validated_ = std::move(validated);
    threads_ = threads;
    workdir_ = workdir;
    stop_ = false;
    reading_ = false;
    reading_path_ = config.course_file;
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

RunOutcome RunThread::take_outcome() {
    QMutexLocker lock(&mutex_);
    RunOutcome taken = std::move(outcome_);
    outcome_ = RunOutcome{};
    return taken;
}

void RunThread::set_outcome(RunOutcome outcome) {
    QMutexLocker lock(&mutex_);
    outcome_ = std::move(outcome);
}

void RunThread::run() {
    std::atomic<bool> began{false};
    RunOptions options;
    options.workdir = workdir_;
    options.threads = threads_;
    options.replications = replications_;
    options.refine = refine_;
    options.console = &console_;
    options.stop = &stop_;
    options.seedings = &seedings_;
    options.validated = validated_;
    options.progress = [this, &began](const RunProgress& progress) {
        if (!began.exchange(true)) {
            emit run_began();
        }
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
    outcome.choices = analyses_;
    try {
        // With a hold-out the search sees only the rows before it.
        outcome.config = searched_config(config_, analyses_);
        // Every row asked for, the held-out ones too, read once: the search,
        // the charts and the hold-out check all work on these values, and a
        // file the run refuses is refused before Output.txt is touched.
        SeriesRequest request;
        request.path = config_.course_file;
        request.columns = config_.columns;
        request.threshold_columns = config_.threshold_columns;
        request.n_oss = config_.n_oss;
        request.n_comp = config_.n_comp;
        reading_ = true;
        // A stop that came before the line above found nothing to release:
        // opening a pipe without a writer now would block for good.
        if (stop_.load()) {
            reading_ = false;
            outcome.status = RunOutcome::Status::stopped;
            set_outcome(std::move(outcome));
            return;
        }
        LoadedSeries all;
        try {
            all = load_series(request);
        } catch (...) {
            reading_ = false;
            throw;
        }
        reading_ = false;
        if (stop_.load()) {
            outcome.status = RunOutcome::Status::stopped;
            set_outcome(std::move(outcome));
            return;
        }
        PipelineRequest pipeline;
        pipeline.rows = std::make_shared<const SplitSeries>(
            split_held_out(std::move(all), outcome.config.n_oss));
        const LoadedSeries& searched = pipeline.rows->fit_rows();
        // The search's own check, made here so that it too leaves the files
        // alone.
        check_threshold_magnitudes(searched.serie, searched.info,
                                   search_threshold_components(searched.info.threshold_components));
        pipeline.config = config_;
        pipeline.search = options;
        pipeline.search_function = run_function_;
        // The bootstrap and the simulations take a while: here too, off the
        // window's thread; a stop request ends them early.
        request_analyses(pipeline, analyses_, threads_, &stop_, &console_);
        PipelineResult done = run_pipeline(pipeline);
        outcome.analyses = analyses_of(done);
        outcome.result = std::move(done.search);
        outcome.began = true;
        outcome.status =
            outcome.result.completed ? RunOutcome::Status::completed : RunOutcome::Status::stopped;
        outcome.generations = generations_bred(outcome.result);
        outcome.series = make_run_series(searched, outcome.config.n_oss);
    } catch (const Failure& failure) {
        outcome.began = began.load();
        outcome.status = RunOutcome::Status::failed;
        outcome.message = QString::fromStdString(failure.what());
        // A pipe released by Stop ends early: that is the stop, not a fault
        // of the file.
        if (!outcome.began && stop_.load()) {
            outcome.status = RunOutcome::Status::stopped;
            outcome.message.clear();
        }
    } catch (const std::exception& e) {
        // Anything else (memory exhausted, a file system fault) must still
        // reach the user rather than end the program from a worker thread.
        outcome.began = began.load();
        outcome.status = RunOutcome::Status::failed;
        outcome.message = QString::fromStdString(e.what());
    }
    set_outcome(std::move(outcome));
}

}  // namespace velmora::gui
