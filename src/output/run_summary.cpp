#include "output/run_summary.hpp"

#include <sstream>

#include "app/replications.hpp"
#include "data/number.hpp"
#include "output/model_tables.hpp"
#include "output/output_files.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

using options::as_entered;

std::string indented(const std::string& lines) {
    std::istringstream in(lines);
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        out += "  " + line + "\n";
    }
    return out;
}

std::string shell_word(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_.,/=+:@") == std::string::npos;
    if (plain) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string shape_words(const ModelStructure& s, const SeriesInfo& series) {
    if (is_linear(s)) {
        return "the linear VAR";
    }
    const bool external = s.threshold_variables == 1 ? series.external(s.one.which_serie)
                                                     : series.external(s.two.which_serie1) ||
                                                           series.external(s.two.which_serie2);
    if (series.has_names || external) {
        if (s.threshold_variables == 1) {
            return strprintf("%s at lag %d, %d regimes",
                             series.shown_component(s.one.which_serie).c_str(), s.one.threshold_lag,
                             s.one.n_regime);
        }
        return strprintf("%s and %s at lags %d and %d, %d regimes",
                         series.shown_component(s.two.which_serie1).c_str(),
                         series.shown_component(s.two.which_serie2).c_str(), s.two.Ritardo1,
                         s.two.Ritardo2, s.two.n_regime);
    }
    if (s.threshold_variables == 1) {
        return strprintf("component %d at lag %d, %d regimes", s.one.which_serie,
                         s.one.threshold_lag, s.one.n_regime);
    }
    return strprintf("components %d and %d at lags %d and %d, %d regimes", s.two.which_serie1,
                     s.two.which_serie2, s.two.Ritardo1, s.two.Ritardo2, s.two.n_regime);
}

}  // namespace

std::string fit_command_line(const std::vector<std::string>& arguments) {
    std::string line = "velmora";
    for (const std::string& a : arguments) {
        line += ' ';
        line += shell_word(a);
    }
    return line;
}

std::vector<int> threshold_components(const ModelStructure& structure) {
    if (is_linear(structure)) {
        return {};
    }
    if (structure.threshold_variables == 1) {
        return {structure.one.which_serie};
    }
    return {structure.two.which_serie1, structure.two.which_serie2};
}

// A model object: the structure, its estimate and the given codes.
nlohmann::json model_json(const StructureSummary& m, double criterion, double fitness,
                          nlohmann::json codes) {
    using nlohmann::json;
    const ModelStructure& s = m.structure;
    const FittedModel& e = m.model;
    const int regimes = regime_count(s);
    json thresholds = json::array();
    json observations = json::array();
    if (e.estimated()) {
        const int count = is_linear(s) ? 0 : s.threshold_variables == 1 ? regimes - 1 : 2;
        for (int i = 0; i < count && i < 3; ++i) {
            thresholds.push_back(e.thresholds[static_cast<std::size_t>(i)]);
        }
        for (int i = 0; i < regimes && i < 4; ++i) {
            observations.push_back(e.observations(i + 1));
        }
    }
    json out = {
        {"threshold_variables", s.threshold_variables},
        {"regimes", regimes},
        {"thresholds", thresholds},
        {"observations_per_regime", observations},
        // No criterion for a structure that could not be estimated.
        {"criterion", e.estimated() ? json(criterion) : json(nullptr)},
        {"criterion_name", criterion_name(e.criterion_kind)},
        {"fitness", fitness},
        {"status", status_name(e.status)},
        {"field_codes", std::move(codes)},
        {"coefficients", coefficients_json(e)},
        {"include", include_name(e.include)},
        {"deterministic", deterministic_json(e)},
        {"sigma", sigma_json(e)},
    };
    json orders = json::array();
    for (int r = 1; r <= regimes && r <= 4; ++r) {
        orders.push_back(e.order(r));
    }
    out["orders"] = std::move(orders);
    if (is_linear(s)) {
        out["components"] = json::array();
        out["lags"] = json::array();
        out["threshold_positions"] = json::array();
    } else if (s.threshold_variables == 1) {
        json positions = json::array();
        for (int i = 0; i < regimes - 1; ++i) {
            positions.push_back(s.one.pos_threshold[static_cast<std::size_t>(i)]);
        }
        out["components"] = {e.reported_column(s.one.which_serie)};
        out["lags"] = {s.one.threshold_lag};
        out["threshold_positions"] = positions;
    } else {
        out["components"] = {e.reported_column(s.two.which_serie1),
                             e.reported_column(s.two.which_serie2)};
        out["lags"] = {s.two.Ritardo1, s.two.Ritardo2};
        out["threshold_positions"] = {s.two.pos_thres_1, s.two.pos_thres_2};
        out["type_model"] = s.two.type_model;
    }
    // An external threshold variable is named by its column of the file.
    if (e.external_threshold()) {
        json external = json::array();
        for (int c : e.threshold_columns()) {
            external.push_back(c > e.k);
        }
        out["external"] = external;
    }
    return out;
}

std::string format_series_line(const SeriesInfo& s) {
    const bool partial = !s.rows_in_file_exact || s.rows_read < s.rows_in_file;
    if (!partial && !s.has_names && s.row_labels.empty()) {
        return {};
    }
    std::string text = "Series: " + data::shown_text(s.file) + ", " + s.rows_text();
    if (!s.row_labels.empty()) {
        text += " (" + s.shown_label(1) + " to " +
                s.shown_label(static_cast<int>(s.row_labels.size())) + ")";
    }
    if (s.has_names) {
        text += "; components";
        for (std::size_t k = 1; k <= s.component_names.size(); ++k) {
            text += (k == 1 ? " " : ", ") + s.shown_component(static_cast<int>(k));
        }
    }
    return text + ".\n";
}

nlohmann::json series_json(const SeriesInfo& s) {
    using nlohmann::json;
    json names = nullptr;
    if (s.has_names) {
        names = json::array();
        for (std::size_t k = 1; k <= s.component_names.size(); ++k) {
            names.push_back(s.component(static_cast<int>(k)));
        }
    }
    json labels = nullptr;
    if (!s.row_labels.empty()) {
        labels = {
            {"name", s.label_name}, {"first", s.row_labels.front()}, {"last", s.row_labels.back()}};
    }
    return {
        {"file", s.file},
        {"format", s.format},
        {"component_names", names},
        {"file_columns", s.file_columns},
        {"row_labels", labels},
        {"rows_read", s.rows_read},
        {"rows_in_file", s.rows_in_file},
        {"rows_in_file_exact", s.rows_in_file_exact},
    };
}

std::string format_run_summary(const RunResult& r) {
    std::string text;
    if (r.completed) {
        text += strprintf("Search finished: %d generations of %d structures.\n", r.generations,
                          r.popsize);
    } else {
        text += strprintf("Search stopped after %d generations of %d structures.\n", r.generations,
                          r.popsize);
    }
    text += format_series_line(r.series);
    if (!r.best_codes.empty()) {
        text += r.generations > 0 ? "Best model of the last generation:\n"
                                  : "Best model of the start population (no generation bred):\n";
        text += indented(format_structure_summary(r.best, &r.series));
        if (!r.best.model.estimated()) {
            text += "  This structure could not be estimated: the search found no usable model.\n";
        }
        std::string codes;
        for (unsigned code : r.best_codes) {
            codes += strprintf("%s%u", codes.empty() ? "" : " ", code);
        }
        text += "  Field codes: " + codes + "\n";
    }
    if (r.replications.size() > 1) {
        text += strprintf("Replications: %zu; the best model above is replication %d's.\n",
                          r.replications.size(), r.best_replication);
        for (const ReplicationResult& rep : r.replications) {
            text += strprintf("  replication %d (casual=%d): criterion %f, %s\n", rep.replication,
                              rep.casual, rep.best_criterion,
                              shape_words(rep.best.structure, r.series).c_str());
        }
        text += strprintf(
            "%d of %zu replications ended at the same threshold variables, lags and regime "
            "count.\n",
            r.agreement, r.replications.size());
    }
    if (r.refined) {
        const RefinedModel& f = *r.refined;
        text += strprintf("Refined model (criterion %f, %f below the search's best; %d step%s):\n",
                          f.model.criterion, f.improvement(), f.steps, f.steps == 1 ? "" : "s");
        if (is_linear(f.model.structure)) {
            text += strprintf(
                "  The linear VAR scores below every threshold model the refinement found (the "
                "best of them: %f), so it is the model reported.\n",
                f.best_threshold_criterion);
        }
        text += indented(format_structure_summary(f.model, &r.series));
        text += "  Replay it: " + fit_command_line(f.fit_arguments) + "\n";
        if (f.files.empty()) {
            text += "  Its full report could not be written (see \"Files not written\").\n";
        } else {
            text += "  Its full report was appended to:\n";
        }
        for (const auto& file : f.files) {
            text += "    " + file.string() + "\n";
        }
    }
    text += strprintf("Evaluations: %d; estimations made: %lld, saved by the cache: %lld.\n",
                      r.nevals, r.estimations, r.estimations_saved);
    if (r.reported && !r.files_failed.empty()) {
        text += "The best model's report could not be written to every result file.\n";
    } else if (r.reported) {
        text += "The best model's full report was appended to its result files.\n";
    } else {
        text += "No best-model report was written.\n";
    }
    text += "Files written:\n";
    for (const auto& file : r.files_written) {
        text += "  " + file.string() + "\n";
    }
    if (!r.files_failed.empty()) {
        text += "Files not written:\n";
        for (const auto& failure : r.files_failed) {
            text += "  " + failure.path.string() + ": " + failure.reason + "\n";
        }
    }
    text += strprintf("Seed: casual=%d (replay this run with --seed %d).\n", r.casual, r.casual);
    return text;
}

nlohmann::json run_summary_json(const RunConfig& c, const RunOptions& run_options,
                                const RunResult& r) {
    using nlohmann::json;
    // The options as the run took them, echoed from their rows.
    RunConfig config = c;
    std::filesystem::path workdir = run_options.workdir;
    int threads = run_options.threads;
    bool no_cache = !run_options.cache;
    options::Bindings bound;
    bind_search_options(bound, config);
    bind_problem_options(bound, config);
    bound.bind(options::workdir, workdir);
    bound.bind(options::run_threads, threads);
    bound.bind(options::no_cache, no_cache);
    const json parameters = bound.parameters_json();

    json best = r.best_codes.empty()
                    ? json(nullptr)
                    : model_json(r.best, r.best_criterion, r.best_fitness, json(r.best_codes));
    json replication_results = json::array();
    for (const ReplicationResult& rep : r.replications) {
        replication_results.push_back(
            {{"replication", rep.replication},
             {"casual", rep.casual},
             {"completed", rep.completed},
             {"best", rep.best_codes.empty()
                          ? json(nullptr)
                          : model_json(rep.best, rep.best_criterion, rep.best_fitness,
                                       json(rep.best_codes))}});
    }
    json refined = nullptr;
    if (r.refined) {
        const RefinedModel& f = *r.refined;
        refined = model_json(f.model, f.model.criterion, f.model.fitness, json(nullptr));
        refined["fit_arguments"] = f.fit_arguments;
        refined["improvement"] = f.improvement();
        refined["steps"] = f.steps;
        refined["replication"] = f.replication;
        refined["best_threshold_criterion"] = f.best_threshold_criterion;
        json refined_files = json::array();
        for (const auto& file : f.files) {
            refined_files.push_back(file.string());
        }
        refined["files"] = refined_files;
    }
    // The names of each model's threshold components, when the file had them.
    const auto add_names = [&r](json& model) {
        if (model.is_null() || (!r.series.has_names && !model.contains("external"))) {
            return;
        }
        json names = json::array();
        for (std::size_t i = 0; i < model["components"].size(); ++i) {
            const bool external = model.contains("external") && model["external"][i].get<bool>();
            names.push_back(r.series.component(
                r.series.series_column(model["components"][i].get<int>(), external)));
        }
        model["component_names"] = names;
    };
    add_names(best);
    add_names(refined);
    for (json& rep : replication_results) {
        add_names(rep["best"]);
    }

    json files = json::array();
    for (const auto& file : r.files_written) {
        files.push_back(file.string());
    }
    return {
        {"completed", r.completed},
        {"generations", r.generations},
        {"popsize_used", r.popsize},
        {"seed", r.casual},
        {"randomseed", as_entered(r.randomseed)},
        {"parameters", parameters},
        {"best", best},
        {"refined", refined},
        {"replications", r.replications.size()},
        {"replication_results", replication_results},
        {"best_replication", r.best_replication},
        {"agreement", r.agreement},
        {"evaluations", r.nevals},
        {"estimations", r.estimations},
        {"estimations_saved", r.estimations_saved},
        {"report_appended", r.reported},
        {"files", files},
        {"series", series_json(r.series)},
        {"files_failed", files_failed_json(r.files_failed)},
    };
}

std::string format_structure_summary(const StructureSummary& summary, const SeriesInfo* series) {
    // An external column is named even in a file without names: "column 7".
    const auto component = [series](int k) {
        return series != nullptr && (series->has_names || series->external(k))
                   ? series->shown_component(k) + (series->external(k) ? " (external)" : "")
                   : strprintf("component %d", k);
    };
    std::string text;
    const ModelStructure& s = summary.structure;
    const FittedModel& e = summary.model;
    int n_regime = 0;
    if (is_linear(s)) {
        n_regime = 1;
        text += strprintf("Linear VAR of order %d: one regime, no threshold variable\n",
                          e.estimated() ? e.order(1) : e.m);
    } else if (s.threshold_variables == 1) {
        n_regime = s.one.n_regime;
        text += strprintf("Threshold variable: %s at lag %d, %d regimes\n",
                          component(s.one.which_serie).c_str(), s.one.threshold_lag, n_regime);
        text += "Thresholds:";
        for (int i = 0; i < n_regime - 1; ++i) {
            text += strprintf(" %f", e.thresholds[static_cast<std::size_t>(i)]);
        }
        text += "\n";
    } else {
        n_regime = s.two.n_regime;
        text += strprintf("Threshold variables: %s at lag %d and %s at lag %d, %d regimes",
                          component(s.two.which_serie1).c_str(), s.two.Ritardo1,
                          component(s.two.which_serie2).c_str(), s.two.Ritardo2, n_regime);
        if (s.two.type_model != 0) {
            text += strprintf(" (type of model %d)", s.two.type_model);
        }
        text += "\n";
        text += strprintf("Thresholds: %f %f\n", e.thresholds[0], e.thresholds[1]);
    }
    if (e.estimated() && e.mixed_orders()) {
        text += "Orders per regime:";
        for (int r = 1; r <= n_regime; ++r) {
            text += strprintf(" %d", e.order(r));
        }
        text += strprintf(" (of at most %d)\n", e.m);
    }
    text += "Observations per regime:";
    for (int r = 0; r < n_regime; ++r) {
        text += strprintf(" %d", e.observations(r + 1));
    }
    if (e.status != EstimateStatus::estimated) {
        text += strprintf(" (order %d)", e.order_reached);
    }
    text += "\n";
    if (e.estimated() && e.deterministic_terms() > 0) {
        text += "Deterministic terms per regime, by equation:\n";
        for (int r = 1; r <= e.n_regime; ++r) {
            text += strprintf("  regime %d:", r);
            for (int j = 0; j < e.deterministic_terms(); ++j) {
                text += strprintf("%s %s", j > 0 ? ";" : "", deterministic_term_name(e.include, j));
                for (int c = 1; c <= e.k; ++c) {
                    text += strprintf(" %f", e.deterministic_coefficient(r, j, c));
                }
            }
            text += "\n";
        }
    }
    switch (e.status) {
        case EstimateStatus::estimated:
            break;
        case EstimateStatus::too_few_observations:
            text += strprintf(
                "Not estimable: regime %d has fewer observations than the minimum per regime\n",
                e.failed_regime);
            break;
        case EstimateStatus::singular_regression:
            text += strprintf("Not estimable: the regression matrix of regime %d is singular\n",
                              e.failed_regime);
            break;
        case EstimateStatus::singular_covariance:
            if (e.failed_regime > 0) {
                text +=
                    strprintf("Not estimable: the residual covariance of regime %d is singular\n",
                              e.failed_regime);
            } else {
                text += "Not estimable: the overall residual covariance is singular\n";
            }
            break;
        case EstimateStatus::fewer_observations_than_coefficients:
            text += strprintf("Not estimable: regime %d has fewer observations than coefficients\n",
                              e.failed_regime);
            break;
        case EstimateStatus::non_finite_criterion:
            text += "Not estimable: the criterion is not a finite number\n";
            break;
    }
    const std::string named = e.criterion_kind == Criterion::classic
                                  ? std::string()
                                  : std::string(" (") + criterion_name(e.criterion_kind) + ")";
    text += strprintf("Criterion%s: %f  Fitness: %f\n", named.c_str(), summary.criterion,
                      summary.fitness);
    return text;
}

std::string regime_choice_note(const RunConfig& config, const inference::ModelInference& inference,
                               const SeriesInfo& series) {
    if (!inference.regime_tests || inference.regime_tests->stopped) {
        return "";
    }
    const inference::RegimeTests& tests = *inference.regime_tests;
    if (tests.selected_regimes == inference.model_regimes &&
        (tests.selected_threshold_variables == 2 || inference.threshold_variables == 1)) {
        return "";
    }
    if (tests.selected_regimes == 1) {
        return strprintf(
            "The tests of the number of regimes prefer the linear VAR of order %d to the "
            "reported model's %d regimes.\n",
            tests.regime_order > 0 ? tests.regime_order : inference.order, inference.model_regimes);
    }
    // An external threshold variable is not one of the components: named.
    const std::string name = series.external(tests.component)
                                 ? series.shown_component(tests.component)
                                 : inference::component_text(tests.component, series.shown_names());
    std::string text = strprintf(
        "The tests of the number of regimes prefer %d regimes on %s at lag %d to the reported "
        "model's %d%s. To fit that model:\n",
        tests.selected_regimes, name.c_str(), tests.lag, inference.model_regimes,
        inference.threshold_variables == 2 ? " on two threshold variables" : "");
    text +=
        "  " +
        fit_command_line(fit_arguments(config, tests.component, tests.lag, tests.selected_regimes,
                                       tests.selected_thresholds, &series, tests.regime_order)) +
        "\n";
    return text;
}

}  // namespace velmora
