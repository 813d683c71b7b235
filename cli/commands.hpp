#pragma once
// The subcommands of the velmora command-line program.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>

#include "app/run_config.hpp"
#include "app/series.hpp"

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

void add_run_command(CLI::App& app);
void add_fit_command(CLI::App& app);

}  // namespace velmora::cli
