#pragma once
// The subcommands of the velmora command-line program.

#include <CLI/CLI.hpp>
#include <exception>
#include <filesystem>
#include <optional>

#include "app/run_config.hpp"
#include "data/series.hpp"
#include "options/bindings.hpp"
#include "support/errors.hpp"

namespace velmora::cli {

// Adds an option for every row bound, in the order bound: help, default,
// placeholder and range check come from the row.
void add_bound_options(CLI::App& command, const options::Bindings& bindings);

// Binds the rows that say what series to model and how large the problem
// is, shared by `run` and `fit`: --course-file, --columns, --n-oss, --n-comp,
// --min-oss-reg, --m and --workdir.
void bind_problem(options::Bindings& bindings, RunConfig& config, std::filesystem::path& workdir);

// Whether the sizes were given, once the options are added: without --n-oss
// or --n-comp they are taken from the file.
struct ProblemOptions {
    const CLI::Option* n_oss = nullptr;
    const CLI::Option* n_comp = nullptr;
};
ProblemOptions problem_options_of(const CLI::App& command);

// When a size was not given, reads the series to take it from the file and
// sets config's n_oss and n_comp; returns the series read (empty when both
// sizes were given, so that the run reads the file as it always did).
std::optional<LoadedSeries> load_for_sizes(RunConfig& config, const ProblemOptions& given);

// A term of the model as the command line names it: by the flags that set it.
std::string flag_text(Term term);

// A step's failure as the command line words it, its terms named by their flags.
std::string shown_message(const StepFailure& failure);

// Refuses a model definition that does not hold on n_obs rows of n_comp
// components: the definition's message after the flag that sets the term.
void check_model(const ModelDefinition& model, int n_obs, int n_comp);

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

// Says a command's failure on standard error and returns its exit status;
// a failure that is not a velmora::Failure (memory exhausted, a file-system
// fault) is still a failure, never a silent abort.
int report_failure(const std::exception_ptr& failure);

// Whether this process is a job that `velmora batch` started (it runs alone,
// whatever launcher started the batch).
bool inside_batch_job();

}  // namespace velmora::cli
