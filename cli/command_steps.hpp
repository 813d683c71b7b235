#pragma once
// What `run` and `fit` do alike around their own structure options: the
// options they share, their files put aside on an MPI rank that does not
// write, and the steps after the model (inference, diagnostics, analysis)
// with their progress and failures on the terminal.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/run_config.hpp"
#include "cli/analysis_options.hpp"
#include "cli/commands.hpp"
#include "cli/inference_options.hpp"
#include "cli/mpi_executor.hpp"
#include "cli/progress_line.hpp"
#include "cli/rolling_options.hpp"
#include "options/bindings.hpp"
#include "options/option_table.hpp"
#include "pipeline/pipeline.hpp"

namespace velmora::cli {

// What `run` and `fit` both take: the problem, the working directory and the
// files and steps that follow the model. Each command's state adds its own.
struct CommandChoices {
    RunConfig config;
    std::filesystem::path workdir = std::string(options::workdir.default_text);
    std::string json_path;
    std::string regimes_csv_path;
    std::string tables_path;
    std::string charts_dir;
    InferenceChoices inference;
    AnalysisRequest analysis;
    rolling::RollingRequest rolling;
    ProblemOptions given;
    options::Bindings bindings;
};

// --test-linearity and the other inference options, --tables, the analysis'
// options, the rolling evaluation's and --charts, in the order both
// commands list them.
template <class CommandState>
void bind_model_output_options(options::Bindings& bindings, CommandState& state) {
    bind_inference_options(bindings, state.inference);
    bindings.bind(options::tables, state.tables_path);
    bind_analysis_options(bindings, state.analysis);
    bind_rolling_options(bindings, state.rolling);
    bindings.bind(options::charts, state.charts_dir);
}

// The last of a command's set-up: its bound options on the command line,
// which problem options were given, empty values refused, and execute run
// (spread over the ranks of an MPI launch) once the command is chosen.
template <class CommandState, class Execute>
void finish_command(CLI::App& command, const std::shared_ptr<CommandState>& state, int& exit_status,
                    Execute execute) {
    add_bound_options(command, state->bindings);
    state->given = problem_options_of(command);
    refuse_empty_values(command);
    command.callback([state, &exit_status, execute] {
        exit_status = run_spread([&](const Spread& spread) { return execute(*state, spread); });
    });
}

// On another rank of an MPI launch: the same course, its files aside.
template <class CommandState>
void put_files_aside(CommandState& state, const Spread& spread) {
    if (spread.writes) {
        return;
    }
    state.workdir = spread.scratch / "workdir";
    for (std::string* path : {&state.json_path, &state.regimes_csv_path, &state.tables_path}) {
        *path = spread.place(*path);
    }
    if constexpr (requires { state.history_path; }) {
        state.history_path = spread.place(state.history_path);
    }
    relocate_outputs(state.analysis, state.rolling, spread);
    state.charts_dir.clear();
}

// Creates the working directory when missing; ConfigError when it cannot be.
void ensure_workdir(const std::filesystem::path& workdir);

// The steps after the search or the fit with the command's settings (the
// rolling evaluation's too): their
// stages on stage_line, a stop through *stop, each failure named on
// standard error as it happens, overflowing figures warned of.
void request_after_model(PipelineRequest& request, const InferenceChoices& inference,
                         const AnalysisRequest& analysis, const rolling::RollingRequest& rolling,
                         std::uint64_t seed, int threads, const std::atomic<bool>* stop,
                         StageProgress& stage_line, const Spread& spread);

}  // namespace velmora::cli
