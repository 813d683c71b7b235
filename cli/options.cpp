#include <charconv>
#include <cstdio>
#include <exception>
#include <string>

#include "cli/commands.hpp"
#include "model/problem.hpp"
#include "options/option_table.hpp"
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

std::string flag_text(Term term) {
    using namespace options;
    const auto flag = [](const OptionRow& row) { return std::string(row.name); };
    switch (term) {
        case Term::columns:
            return flag(columns);
        case Term::threshold_columns:
            return flag(threshold_columns);
        case Term::thresholds:
            return flag(thresholds);
        case Term::forecast_horizon:
            return flag(forecast);
        case Term::forecast_paths:
            return flag(forecast_paths);
        case Term::forecast_file_needs_horizon:
            return flag(forecast_csv) + " needs " + flag(forecast) + " H";
        case Term::forecasts_with_paths:
            return flag(forecast) + " with " + flag(forecast_paths);
        case Term::hold_out:
            return flag(holdout);
        case Term::hold_out_in_passing:
            return "the hold-out check, " + flag(holdout) + ",";
        case Term::impulse_responses:
            return flag(girf);
        case Term::impulse_response_histories:
            return flag(girf_histories);
        case Term::impulse_response_repetitions:
            return flag(girf_repetitions);
        case Term::impulse_response_file_needs_horizon:
            return flag(girf_csv) + " needs " + flag(girf) + " H";
        case Term::impulse_responses_with_histories:
            return flag(girf) + " with " + flag(girf_histories);
        case Term::rolling_origins:
            return flag(rolling);
        case Term::rolling_window:
            return flag(rolling_window);
        case Term::rolling_needs_origins:
            return flag(rolling_window) + " and " + flag(rolling_csv) + " need " + flag(rolling) +
                   " K";
    }
    return {};  // not reached: every term has its case
}

std::string shown_message(const StepFailure& failure) {
    return failure.parts.empty() ? failure.message : term_text(failure.parts, flag_text);
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
    } catch (const TermError& e) {
        std::fprintf(stderr, "%s\n", term_text(e.parts(), flag_text).c_str());
        return e.exit_status();
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
