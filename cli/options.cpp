#include <charconv>
#include <cstdio>
#include <exception>
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

void check_model(const ModelDefinition& model, int n_obs, int n_comp) {
    if (const std::optional<ModelFault> fault = validate(model, n_obs, n_comp)) {
        throw ConfigError(std::string(term_row(fault->term).name) + ": " + fault->message);
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

void bind_problem(options::Bindings& bindings, RunConfig& config, std::filesystem::path& workdir) {
    bind_problem_options(bindings, config);
    bindings.bind(options::workdir, workdir);
}

ProblemOptions problem_options_of(const CLI::App& command) {
    return {command.get_option(std::string(options::n_obs.name)),
            command.get_option(std::string(options::n_comp.name))};
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
    request.threshold_columns = config.threshold_columns;
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

int report_failure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Failure& e) {
        std::fputs(e.what(), stderr);
        const std::string text = e.what();
        if (!e.verbatim() && !text.empty() && text.back() != '\n') {
            std::fputc('\n', stderr);
        }
        return e.exit_status();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora: %s\n", e.what());
        return 1;
    }
}

}  // namespace velmora::cli
