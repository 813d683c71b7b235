#pragma once
// The subcommands of the velmora command-line program.

#include <CLI/CLI.hpp>
#include <filesystem>

#include "app/run_config.hpp"

namespace velmora::cli {

// Options that say what series to model and how large the problem is, shared
// by `run` and `fit`: --course-file, --n-oss, --n-comp, --min-oss-reg, --m,
// --workdir. Defaults come from config as passed in.
void add_problem_options(CLI::App& command, RunConfig& config, std::filesystem::path& workdir);

void add_run_command(CLI::App& app);
void add_fit_command(CLI::App& app);

}  // namespace velmora::cli
