#include <charconv>
#include <cstdio>
#include <string>

#include "cli/commands.hpp"
#include "model/problem.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

void refuse_empty_values(CLI::App& command) {
    const CLI::Validator not_empty(
        [](std::string& value) -> std::string {
            return value.empty() ? std::string("an empty value is not accepted") : std::string();
        },
        "");
    for (CLI::Option* option : command.get_options()) {
        if (option->get_type_size_max() > 0) {
            option->check(not_empty);
        }
    }
}

CLI::Validator whole_number_in(int low, int high) {
    return CLI::Validator(
        [low, high](std::string& value) -> std::string {
            int parsed = 0;
            const char* end = value.data() + value.size();
            const auto [ptr, ec] = std::from_chars(value.data(), end, parsed);
            if (ec != std::errc() || ptr != end || parsed < low || parsed > high) {
                return strprintf("%s is not a whole number from %d to %d", value.c_str(), low,
                                 high);
            }
            return {};
        },
        strprintf("INT in %d..%d", low, high));
}

ProblemOptions add_problem_options(CLI::App& command, RunConfig& config,
                                   std::filesystem::path& workdir) {
    ProblemOptions given;
    command
        .add_option("--course-file", config.course_file,
                    "File holding the series: numbers separated by blanks or line ends, one "
                    "time point after another; or comma, semicolon or tab separated text with "
                    "an optional header row of names and an optional first column of labels "
                    "(a relative name is taken from the current directory)")
        ->capture_default_str();
    command
        .add_option("--columns", config.columns,
                    "Components to read, in this order: header names or 1-based column numbers "
                    "of the file, comma separated (default: every column of numbers). Only "
                    "components 1 and 2 can be threshold variables of the search: put the "
                    "candidates first")
        ->delimiter(',')
        ->type_name("NAME,...");
    given.n_oss = command.add_option(
        "--n-oss", config.n_oss,
        "Number of observations (time points) to read from the top of the series file "
        "(default: every row of the file)");
    given.n_comp = command.add_option(
        "--n-comp", config.n_comp,
        "Number of components: the values that make up one time point (default: the columns "
        "of the file, or those --columns picks)");
    command
        .add_option("--min-oss-reg", config.min_oss_reg,
                    "Least number of observations a regime must hold; a structure with a "
                    "smaller regime gets fitness 0")
        ->capture_default_str();
    command
        .add_option("--m", config.m,
                    "Largest autoregressive order (1 to 4); every order up to it is estimated")
        ->capture_default_str();
    command
        .add_option_function<std::string>(
            "--include",
            [&config](const std::string& name) { config.include = *parse_include(name); },
            "Deterministic terms of every regime's equations: " + include_choices_text() +
                " (const: an intercept; trend: a linear trend in the row number of the data "
                "read)")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                return parse_include(value) ? std::string()
                                            : value + " is not one of " + include_choices_text();
            },
            "WHAT"))
        ->default_str("none");
    command
        .add_option_function<std::string>(
            "--criterion",
            [&config](const std::string& name) { config.criterion = *parse_criterion(name); },
            "Criterion the search minimises and the summary reports: " + criterion_choices_text() +
                " (classic: the program's own, each structure on its own rows; aic, bic, hq: "
                "ln det of the residual covariance plus 2, ln T or 2 ln ln T per estimated "
                "coefficient over T, every structure on the same rows)")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                return parse_criterion(value)
                           ? std::string()
                           : value + " is not one of " + criterion_choices_text();
            },
            "WHAT"))
        ->default_str("classic");
    command
        .add_option("--workdir", workdir,
                    "Directory for the files written, created when missing: the result files "
                    "and, for a search, Output.txt (a search also opens inputonepop2.txt there "
                    "when it exists, without reading it)")
        ->capture_default_str();
    return given;
}

std::optional<LoadedSeries> load_for_sizes(RunConfig& config, const ProblemOptions& given) {
    const bool n_oss_given = given.n_oss->count() > 0;
    const bool n_comp_given = given.n_comp->count() > 0;
    if (n_oss_given && n_comp_given) {
        return std::nullopt;
    }
    SeriesRequest request;
    request.path = config.course_file;
    request.columns = config.columns;
    if (n_oss_given) {
        request.n_oss = config.n_oss;
    }
    if (n_comp_given) {
        request.n_comp = config.n_comp;
    }
    std::optional<LoadedSeries> series = load_series(request);
    for (const std::string& warning : series->info.warnings) {
        std::fprintf(stderr, "%s\n", warning.c_str());
    }
    config.n_oss = series->n_oss();
    config.n_comp = series->n_comp();
    if (!n_oss_given && config.n_oss < kMinObservations) {
        // The size came from the file: say which file is too short.
        throw ConfigError(strprintf(
            "Course file %s holds %d rows: Number of observations must be >= %d (n_oss = %d)",
            config.course_file.c_str(), config.n_oss, kMinObservations, config.n_oss));
    }
    return series;
}

}  // namespace velmora::cli
