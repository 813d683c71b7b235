#pragma once
// The subcommands of the velmora command-line program.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>

#include "app/run_config.hpp"
#include "data/series.hpp"

namespace velmora::cli {

// Options that say what series to model and how large the problem is, shared
// by `run` and `fit`: --course-file, --n-oss, --n-comp, --min-oss-reg, --m,
// --workdir, --columns. Defaults come from config as passed in, except the
// sizes: without --n-oss or --n-comp they are taken from the file.
struct ProblemOptions {
    CLI::Option* n_oss = nullptr;
    CLI::Option* n_comp = nullptr;
};
ProblemOptions add_problem_options(CLI::App& command, RunConfig& config,
                                   std::filesystem::path& workdir);

// When a size was not given, reads the series to take it from the file and
// sets config's n_oss and n_comp; returns the series read (empty when both
// sizes were given, so that the run reads the file as it always did).
std::optional<LoadedSeries> load_for_sizes(RunConfig& config, const ProblemOptions& given);

// Refuses an empty value ("--maxgen ''") for every option of command that
// takes one; call it after the options are added.
void refuse_empty_values(CLI::App& command);

// A whole number in low..high, with a short message for anything else.
CLI::Validator whole_number_in(int low, int high);

// exit_status receives a command's status when it completes its work but
// must not end with 0 (a file not written whole, an interrupted search).
void add_run_command(CLI::App& app, int& exit_status);
void add_fit_command(CLI::App& app, int& exit_status);
void add_batch_command(CLI::App& app, int& exit_status);

// In a job that `velmora batch` started: dies with the batch's process, so
// that no job writes on into a folder that a later --resume clears.
void follow_batch_parent();

}  // namespace velmora::cli
