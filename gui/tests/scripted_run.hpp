#pragma once
// A stand-in for the core's run_search, so that the main window's handling of
// progress, stop requests, console lines and failures can be driven exactly.
// It runs on the window's worker thread, like the real run.

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/run_driver.hpp"
#include "exchange.hpp"
#include "run_thread.hpp"
#include "support/errors.hpp"

namespace velmora::gui::test {

struct ScriptedRun {
    enum class Mode { complete, until_stopped, config_error, engine_fault, numeric_error };

    Mode mode = Mode::complete;
    std::string failure_text;
    int generation_pause_ms = 0;

    // Applied to the result before it is returned, however the run ended.
    std::function<void(RunResult&)> finish;

    std::atomic<int> calls{0};
    std::atomic<bool> on_gui_thread{false};

    // What the last call received.
    std::mutex mutex;
    RunConfig config;
    int threads = 0;
    std::filesystem::path workdir;
    bool had_console = false;
    bool had_stop_flag = false;
    int replications = 0;
    bool refine = false;

    // Generations follow each other every few milliseconds until a stop.
    void run_until_stopped() {
        mode = Mode::until_stopped;
        generation_pause_ms = 5;
    }

    RunResult run(const RunConfig& cfg, const RunOptions& options) {
        ++calls;
        on_gui_thread = QThread::currentThread() == QCoreApplication::instance()->thread();
        {
            std::lock_guard lock(mutex);
            config = cfg;
            threads = options.threads;
            workdir = options.workdir;
            had_console = options.console != nullptr;
            had_stop_flag = options.stop != nullptr;
            replications = options.replications;
            refine = options.refine;
        }
        switch (mode) {
            case Mode::config_error:
                throw ConfigError(failure_text);
            case Mode::engine_fault:
                options.console->err("OOPS, Automatic control of selection uses ");
                throw EngineFault(failure_text);
            case Mode::numeric_error:
                throw NumericError(failure_text);
            case Mode::complete:
            case Mode::until_stopped:
                break;
        }
        options.console->out("lchrom =70\n");
        RunResult result;
        const int last = mode == Mode::complete ? cfg.maxgen : 1000000;
        const auto ended = [this, &result] {
            if (finish) {
                finish(result);
            }
            return result;
        };
        for (int gen = 0; gen < last; ++gen) {
            if (options.stop->load()) {
                return ended();
            }
            RunProgress progress;
            progress.generation = gen;
            progress.maxgen = cfg.maxgen;
            // The last replication reports last.
            progress.replication = options.replications;
            if (!options.progress(progress)) {
                return ended();
            }
            if (generation_pause_ms > 0) {
                QThread::msleep(static_cast<unsigned long>(generation_pause_ms));
            }
            ++result.generations;
            if (options.generation_bred) {
                RunProgress bred = progress;
                bred.generation = gen + 1;
                bred.best_criterion = -1.0 - 0.01 * gen;
                bred.best_fitness = std::exp(-bred.best_criterion / 100.0);
                bred.mean_criterion = bred.best_criterion + 0.5;
                bred.mean_fitness = std::exp(-bred.mean_criterion / 100.0);
                options.generation_bred(bred);
            }
        }
        result.completed = true;
        result.reported = true;
        return ended();
    }
};

inline RunFunction function_of(const std::shared_ptr<ScriptedRun>& script) {
    return [script](const RunConfig& config, const RunOptions& options) {
        return script->run(config, options);
    };
}

}  // namespace velmora::gui::test
