// velmora fit: estimate one model structure that the user names and append its
// report to the result files.

#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/reported_inference.hpp"
#include "app/run_driver.hpp"
#include "app/threshold_app.hpp"
#include "app/threshold_value.hpp"
#include "cli/analysis_options.hpp"
#include "cli/charts_option.hpp"
#include "cli/command_steps.hpp"
#include "cli/commands.hpp"
#include "cli/inference_options.hpp"
#include "cli/interrupt.hpp"
#include "cli/mpi_executor.hpp"
#include "cli/progress_line.hpp"
#include "cli/rolling_options.hpp"
#include "data/number.hpp"
#include "data/series.hpp"
#include "model/estimate.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"
#include "output/chart_input.hpp"
#include "output/output_files.hpp"
#include "output/report/model_report.hpp"
#include "output/run_summary.hpp"
#include "support/console.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/text_file.hpp"

namespace velmora::cli {

namespace {

struct FitCommandState : CommandChoices {
    // One threshold variable.
    std::optional<int> component;
    std::optional<int> lag;
    // Two threshold variables.
    std::vector<int> components;
    // The threshold variables as typed: component numbers, or with
    // --threshold-columns the listed columns' names or file column numbers.
    std::optional<std::string> component_text;
    std::vector<std::string> components_text;
    std::vector<int> lags;
    std::optional<int> type_model;
    // Either form.
    std::optional<int> regimes;
    std::vector<int> positions;
    std::vector<double> thresholds;  // by value instead of positions
    std::vector<int> orders;         // one per regime; empty: --m for every regime
    // Raw chromosome fields, as typed: comma or blank separated.
    std::vector<std::string> codes_text;
    std::vector<long long> codes;
    std::uint64_t seed = 0;
    int threads = options::fit_threads.default_int();
};

// "0,0,1" or "0 0 1" or several arguments: the codes as the summary of a
// run prints them, or comma separated.
std::vector<long long> parse_codes(const std::vector<std::string>& pieces) {
    std::vector<long long> codes;
    for (const std::string& piece : pieces) {
        std::size_t pos = 0;
        while (pos < piece.size()) {
            while (
                pos < piece.size() &&
                (piece[pos] == ',' || std::isspace(static_cast<unsigned char>(piece[pos])) != 0)) {
                ++pos;
            }
            const std::size_t start = pos;
            while (pos < piece.size() && piece[pos] != ',' &&
                   std::isspace(static_cast<unsigned char>(piece[pos])) == 0) {
                ++pos;
            }
            if (pos == start) {
                break;
            }
            const std::string token = piece.substr(start, pos - start);
            long long code = 0;
            const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), code);
            if (ec != std::errc() || ptr != token.data() + token.size()) {
                throw ConfigError(
                    strprintf("--codes: \"%s\" is not a whole number", token.c_str()));
            }
            codes.push_back(code);
        }
    }
    return codes;
}

[[noreturn]] void refuse(const std::string& text) {
    throw ConfigError(text);
}

void check_component(int value, int n_comp, const char* option) {
    if (value < 1 || value > n_comp) {
        refuse(strprintf("%s: component %d does not exist; the series has components 1 to %d",
                         option, value, n_comp));
    }
}

void check_lag(int value, const char* option) {
    if (value < 1 || value > kMaxLag) {
        refuse(strprintf("%s: lag %d is outside 1 to %d", option, value, kMaxLag));
    }
}

void check_position(int value, int n_oss) {
    if (value < 0 || value >= n_oss) {
        refuse(strprintf(
            "--positions: position %d is outside 0 to %d (0 stands for the default time: 30 "
            "with one threshold variable, 1 with two)",
            value, n_oss - 1));
    }
}

ModelStructure structure_from_codes(const std::vector<long long>& codes, int n_oss,
                                    const std::vector<int>& listed) {
    if (codes.size() != static_cast<std::size_t>(kNumFields)) {
        refuse(
            strprintf("--codes needs exactly %d field codes, got %zu", kNumFields, codes.size()));
    }
    const auto sizes = structure_field_sizes(n_oss);
    FieldCodes fields{};
    for (int i = 0; i < kNumFields; ++i) {
        const long long code = codes[static_cast<std::size_t>(i)];
        const int size = sizes[static_cast<std::size_t>(i)];
        if (code < 0 || code >= size) {
            refuse(strprintf("--codes: code %lld of field %d is outside its range 0 to %d", code, i,
                             size - 1));
        }
        fields[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(code);
    }
    return decode_structure(fields, listed);
}

// A threshold variable as typed: a component number, or with
// --threshold-columns one of the listed columns by its name or file column
// number (an external column becomes series column n_comp + j).
int threshold_column_of(const std::string& text, const SeriesInfo& info, const char* option) {
    if (info.threshold_components.empty()) {
        int number = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (ec != std::errc() || ptr != text.data() + text.size()) {
            refuse(
                strprintf("%s: \"%s\" is not a component number (names need "
                          "--threshold-columns)",
                          option, data::shown_text(text).c_str()));
        }
        return number;
    }
    const int column = info.column_named(text);
    for (int listed : info.threshold_components) {
        if (column != 0 && listed == column) {
            return column;
        }
    }
    refuse(strprintf("%s: %s is not among the columns of --threshold-columns", option,
                     data::shown_text(text).c_str()));
}

void resolve_threshold_columns(FitCommandState& s, const SeriesInfo& info) {
    if (s.component_text) {
        s.component = threshold_column_of(*s.component_text, info, "--component");
    }
    s.components.clear();
    for (const std::string& text : s.components_text) {
        s.components.push_back(threshold_column_of(text, info, "--components"));
    }
}

ModelStructure structure_from_options(const FitCommandState& s, const SeriesInfo& info) {
    const int n_oss = s.config.n_oss;
    // With --threshold-columns every listed column has been checked.
    const int n_comp = info.threshold_components.empty()
                           ? s.config.n_comp
                           : s.config.n_comp + static_cast<int>(info.external_columns.size());
    const bool one_form = s.component.has_value() || s.lag.has_value();
    const bool two_form = !s.components.empty() || !s.lags.empty() || s.type_model.has_value();
    const bool code_form = !s.codes.empty();
    const int forms = (one_form ? 1 : 0) + (two_form ? 1 : 0) + (code_form ? 1 : 0);
    if (forms == 0 && s.regimes == 1) {
        // One regime: the linear VAR, which has no threshold to place.
        if (!s.positions.empty() || !s.thresholds.empty()) {
            refuse(
                "--regimes 1 is the linear VAR: it has no thresholds; drop --positions and "
                "--thresholds");
        }
        return make_linear_structure();
    }
    if (forms == 0) {
        refuse(
            "Name a structure: --component, --lag, --regimes and --positions for one threshold "
            "variable; --components, --lags, --positions and --regimes (or --type-model) for "
            "two; --regimes 1 alone for the linear VAR; or --codes with the sixteen field codes");
    }
    if (forms > 1) {
        refuse(
            "Name the structure in one way only: the one-threshold options (--component, "
            "--lag), the two-threshold options (--components, --lags, --type-model) and --codes "
            "cannot be mixed");
    }
    if (code_form) {
        if (s.regimes.has_value() || !s.positions.empty()) {
            refuse(
                "--codes already holds the regimes and positions; drop --regimes and "
                "--positions");
        }
        return structure_from_codes(s.codes, n_oss, info.threshold_components);
    }

    ModelStructure out;
    if (one_form) {
        if (!s.component || !s.lag || !s.regimes || s.positions.empty()) {
            refuse("One threshold variable needs --component, --lag, --regimes and --positions");
        }
        check_component(*s.component, n_comp, "--component");
        check_lag(*s.lag, "--lag");
        if (*s.regimes < 2 || *s.regimes > 4) {
            refuse(strprintf("--regimes: %d regimes; one threshold variable allows 2, 3 or 4",
                             *s.regimes));
        }
        if (static_cast<int>(s.positions.size()) != *s.regimes - 1) {
            if (!s.thresholds.empty()) {
                refuse(strprintf("--thresholds: %d regimes need %d threshold value%s, got %zu",
                                 *s.regimes, *s.regimes - 1, *s.regimes == 2 ? "" : "s",
                                 s.thresholds.size()));
            }
            refuse(strprintf("--positions: %d regimes need %d threshold position%s, got %zu",
                             *s.regimes, *s.regimes - 1, *s.regimes == 2 ? "" : "s",
                             s.positions.size()));
        }
        out.threshold_variables = 1;
        out.one.which_serie = *s.component;
        out.one.threshold_lag = *s.lag;
        out.one.n_regime = *s.regimes;
        for (std::size_t i = 0; i < s.positions.size(); ++i) {
            check_position(s.positions[i], n_oss);
            out.one.pos_threshold[i] = s.positions[i];
        }
        return out;
    }

    if (s.components.size() != 2 || s.lags.size() != 2 || s.positions.size() != 2) {
        refuse(
            "Two threshold variables need --components C1,C2, --lags D1,D2 and --positions "
            "P1,P2, two values each");
    }
    check_component(s.components[0], n_comp, "--components");
    check_component(s.components[1], n_comp, "--components");
    // One listed threshold column stands for both of the search's codes: it
    // may then serve twice, at two lags.
    if (s.components[0] == s.components[1] &&
        (info.threshold_components.size() != 1 || s.lags[0] == s.lags[1])) {
        refuse("--components: the two threshold variables must be different components");
    }
    check_lag(s.lags[0], "--lags");
    check_lag(s.lags[1], "--lags");
    check_position(s.positions[0], n_oss);
    check_position(s.positions[1], n_oss);
    const int type = s.type_model.value_or(0);
    if (type < 0 || type > 3) {
        refuse(
            strprintf("--type-model: %d is not a type; use 0 (four regimes) or 1, 2, 3 "
                      "(three regimes)",
                      type));
    }
    const int regimes = s.regimes.value_or(type == 0 ? 4 : 3);
    if (regimes != 3 && regimes != 4) {
        refuse(strprintf("--regimes: %d regimes; two threshold variables allow 3 or 4", regimes));
    }
    if (regimes == 4 && type != 0) {
        refuse(
            "--regimes 4 goes with --type-model 0; types 1 to 3 merge two quadrants into "
            "three regimes");
    }
    if (regimes == 3 && type == 0) {
        refuse("--regimes 3 needs --type-model 1, 2 or 3 to say which quadrants merge");
    }
    out.threshold_variables = 2;
    out.two.which_serie1 = s.components[0];
    out.two.which_serie2 = s.components[1];
    out.two.Ritardo1 = s.lags[0];
    out.two.Ritardo2 = s.lags[1];
    out.two.pos_thres_1 = s.positions[0];
    out.two.pos_thres_2 = s.positions[1];
    out.two.n_regime = regimes;
    out.two.type_model = type;
    return out;
}

// --orders: one per regime, each 1..m; below m only with an information
// criterion.
std::array<int, 4> orders_from_options(const FitCommandState& s, int regimes) {
    const int m = s.config.model.max_order;
    if (static_cast<int>(s.orders.size()) != regimes) {
        refuse(strprintf("--orders: %d regime%s need%s %d order%s, got %zu", regimes,
                         regimes == 1 ? "" : "s", regimes == 1 ? "s" : "", regimes,
                         regimes == 1 ? "" : "s", s.orders.size()));
    }
    std::array<int, 4> out{};
    for (int r = 0; r < regimes; ++r) {
        const int p = s.orders[static_cast<std::size_t>(r)];
        if (p < 1 || p > m) {
            refuse(strprintf("--orders: %d is not an order from 1 to --m (%d)", p, m));
        }
        if (p != m && s.config.model.criterion == Criterion::classic) {
            refuse(
                "--orders below --m need --criterion aic, bic or hq: the classic criterion "
                "scores each order on rows of its own");
        }
        out[static_cast<std::size_t>(r)] = p;
    }
    return out;
}

// --thresholds by value: the positions whose values split the series the
// same way, one per value, with a line for the summary on each.
std::string map_thresholds(FitCommandState& s, const LoadedSeries& series) {
    const bool two = !s.components.empty() || !s.lags.empty() || s.type_model.has_value();
    if (!s.codes.empty()) {
        refuse("--codes already holds the threshold positions; drop --thresholds");
    }
    if (!s.positions.empty()) {
        refuse("Give the thresholds as --positions or as --thresholds, not both");
    }
    std::vector<int> components;
    std::vector<int> lags;
    if (two) {
        if (s.components.size() != 2 || s.lags.size() != 2 || s.thresholds.size() != 2) {
            refuse(
                "Two threshold variables need --components C1,C2, --lags D1,D2 and "
                "--thresholds X1,X2, two values each");
        }
        components = s.components;
        lags = s.lags;
    } else {
        if (!s.component || !s.lag) {
            refuse("--thresholds needs the threshold variable: --component and --lag");
        }
        components.assign(s.thresholds.size(), *s.component);
        lags.assign(s.thresholds.size(), *s.lag);
    }
    std::string text;
    for (std::size_t i = 0; i < s.thresholds.size(); ++i) {
        check_component(components[i], series.serie.col_hi(), two ? "--components" : "--component");
        check_lag(lags[i], two ? "--lags" : "--lag");
        const PositionForValue found = position_for_threshold(
            series.serie, series.info, components[i], lags[i], s.thresholds[i]);
        s.positions.push_back(found.position);
        text += threshold_position_line(s.thresholds[i], components[i], found.position, found.value,
                                        series.info);
    }
    return text;
}

// The choices that need the structure and the series: the inference's and
// the files', and the threshold variables' values for what is asked of them.
void check_fit_choices(const FitCommandState& state, const LoadedSeries& series,
                       const ModelStructure& structure) {
    check_inference_choices(state.inference);
    check_tables_path(state.tables_path);
    check_charts_available(state.charts_dir);
    check_threshold_magnitudes(series.serie, series.info, threshold_components(structure));
    for (int c : threshold_components(structure)) {
        if (series.info.external(c) && state.analysis.forecast > 0) {
            throw external_threshold_refusal(Term::forecast_horizon);
        }
        if (series.info.external(c) && state.analysis.girf > 0) {
            throw external_threshold_refusal(Term::impulse_responses);
        }
    }
}

// The end of a fit that a signal stopped.
int stopped_by_signal(const InterruptGuard& interrupts, bool report_written) {
    std::fflush(stdout);
    std::fputs(report_written ? "Fit stopped after its report was appended; no JSON or CSV file "
                                "was written.\n"
                              : "Fit stopped before its report; nothing was written.\n",
               stderr);
    return interrupted_status(interrupts.signal_received());
}

int execute(FitCommandState& state, const Spread& spread) {
    put_files_aside(state, spread);
    RunConfig& c = state.config;
    state.codes = parse_codes(state.codes_text);
    refuse_course_file_among_own_files(c.course_file, state.workdir);
    std::optional<LoadedSeries> loaded = load_for_sizes(c, state.given);
    // With --holdout the model is fitted on the rows before those held out.
    validate_analysis(state.analysis, c.n_oss, c.n_comp);
    prepare_rolling(state.rolling, state.analysis, c.n_oss);
    const int rows_read = c.n_oss;
    c.n_oss -= state.analysis.holdout;
    check_model(c.model, c.n_oss, c.n_comp);
    // Read once, the rows held out with the others: the course file may be
    // a pipe.
    const auto rows = std::make_shared<const SplitSeries>(
        read_with_held_out(std::move(loaded), c, rows_read, c.n_oss));
    const SplitSeries& split = *rows;
    const LoadedSeries& series = split.fit_rows();
    std::string text;
    resolve_threshold_columns(state, series.info);
    if (!state.thresholds.empty()) {
        text += map_thresholds(state, series);
    }
    ModelStructure structure = structure_from_options(state, series.info);
    if (!state.orders.empty()) {
        structure.orders = orders_from_options(state, regime_count(structure));
    }
    check_fit_choices(state, series, structure);

    // Output files that are not regular, would replace a file of the fit's,
    // or cannot be created are refused before estimating.
    const CommandFiles files = command_files_of(state);
    ExtraOutputs outputs(command_files(c.course_file, state.workdir));
    add_command_outputs(outputs, files);
    outputs.check_paths();
    ensure_workdir(state.workdir);
    for (const auto& file : model_report_paths(state.workdir, structure.threshold_variables)) {
        if (const std::string what = special_file_kind(file); !what.empty()) {
            refuse(strprintf("%s is %s, not a regular file; a fit appends only to regular files",
                             file.c_str(), what.c_str()));
        }
    }
    outputs.check_creatable();

    InterruptGuard interrupts(stage::fit);
    const std::atomic<bool>* stop = &interrupts.stop_requested();
    StdConsole console;
    PipelineRequest request;
    request.config = c;
    request.config.n_oss = rows_read;
    request.rows = rows;
    request.structure = structure;
    request.search.workdir = state.workdir;
    request.search.console = &console;
    request.search.stop = stop;
    StageProgress stage_line;
    request_after_model(request, state.inference, state.analysis, state.rolling, state.seed,
                        state.threads, stop, stage_line, spread);
    ReportOutcome report;
    bool report_reached = false;
    request.searched = [&](const RunResult& fitted) {
        const StructureSummary& summary = fitted.best;
        // Formatted before the last look at the signals: a signal that came
        // while the report was formatted still means no report.
        const auto report_texts = format_model_report(summary.model, 1);
        if (interrupts.signal_received() != 0) {
            return false;
        }
        report_reached = true;
        interrupts.set_stage(stage::after_report);
        report = append_model_report(report_texts, summary.model.threshold_variables(),
                                     state.workdir, &console);
        text += fit_report_text(summary, series.info, report);
        console.out(text);
        return true;
    };
    request.stage = [&](PipelineStage stage, const PipelineResult& so_far) {
        if (stage != PipelineStage::inferred) {
            return true;
        }
        stage_line.finish();
        if (interrupts.signal_received() != 0) {
            return false;
        }
        if (const auto& inference = so_far.best_inference) {
            console.out(fit_inference_text(c, *inference, series.info));
        }
        return true;
    };

    PipelineResult pipeline = run_pipeline(request);
    stage_line.finish();
    if (!report_reached) {
        return stopped_by_signal(interrupts, false);
    }
    if (interrupts.signal_received() != 0) {
        return stopped_by_signal(interrupts, true);
    }
    const StructureSummary& summary = pipeline.search.best;
    std::vector<StepFailure>& analysis_errors = pipeline.analysis_errors;
    AnalysisResult& analysis = pipeline.analysis;
    if (summary.model.estimated()) {
        name_analysis(analysis, split.all.info);
    }

    CommandResults results;
    results.fit = true;
    results.pipeline = &pipeline;
    results.parameters = state.bindings.parameters_json();
    results.series = &series.info;
    results.rolling_series = &split.all.info;
    results.codes = state.codes;
    results.report = &report;
    results.failure_text = shown_message;
    const FilesWritten written = write_command_files(results, files, outputs);
    console.out(command_closing_text(results, files, written));
    if (!report.ok()) {
        throw WriteError(report_failures_text(report));
    }
    if (!summary.model.estimated()) {
        throw NotEstimable("The structure could not be estimated");
    }
    bool charts_written = true;
    if (!state.charts_dir.empty()) {
        ChartInput charts;
        charts.series = &split.all.info;
        charts.rows = &split.all.serie;
        charts.rows_read = rows_read;
        charts.model = &summary.model;
        charts.analysis = &analysis;
        charts_written = write_charts(state.charts_dir, chart_input_json(charts));
    }
    if (!charts_written || !outputs.failed().empty() || std::fflush(stdout) != 0) {
        return kWriteFailureStatus;
    }
    return analysis_errors.empty() ? 0 : kAnalysisFailureStatus;
}

}  // namespace

void add_fit_command(CLI::App& app, int& exit_status) {
    auto state = std::make_shared<FitCommandState>();
    CLI::App* fit = app.add_subcommand(
        "fit",
        "Estimate one threshold model that you name, with every autoregressive order up to "
        "--m, and append its report (coefficients, fitted values, residuals, covariances, "
        "criterion) to the result files in --workdir. Prints the criterion and the fitness "
        "exp(-criterion/100) that a search would give it.");
    options::Bindings& b = state->bindings;
    bind_problem(b, state->config, state->workdir);
    b.bind(options::component, state->component_text);
    b.bind(options::lag, state->lag);
    b.bind(options::components, state->components_text);
    b.bind(options::lags, state->lags);
    b.bind(options::type_model, state->type_model);
    b.bind(options::regimes, state->regimes);
    b.bind(options::positions, state->positions);
    b.bind(options::thresholds, state->thresholds);
    b.bind(options::codes, state->codes_text);
    b.bind(options::orders, state->orders);
    bind_model_output_options(b, *state);
    b.bind(options::fit_json, state->json_path);
    b.bind(options::fit_regimes_csv, state->regimes_csv_path);
    b.bind(options::fit_seed, state->seed);
    b.bind(options::fit_threads, state->threads);
    finish_command(*fit, state, exit_status, execute);
}

}  // namespace velmora::cli
