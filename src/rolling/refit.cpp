#include "rolling/refit.hpp"

#include <system_error>

#include "app/reported_inference.hpp"
#include "app/threshold_value.hpp"
#include "inference/lr_sweep.hpp"
#include "support/console.hpp"
#include "support/errors.hpp"

namespace velmora::rolling {

namespace {

// The searches at the origins say nothing: their summary is the rolling one.
class SilentConsole final : public Console {
  public:
    void out(std::string_view) override {}
    void err(std::string_view) override {}
};

}  // namespace

std::optional<StructureSummary> refit_thresholds(const RunConfig& config,
                                                 const ModelStructure& structure,
                                                 const std::array<double, 3>& start,
                                                 const LoadedSeries& rows, int trend_origin) {
    const int n = rows.n_oss();
    const int k = rows.n_comp();
    RunConfig sized = config;
    sized.n_oss = n;
    sized.n_comp = k;
    const auto fit_on_rows = [&](const ModelStructure& s) -> std::optional<StructureSummary> {
        ModelProblem problem = problem_of(sized, rows);
        problem.trend_origin = trend_origin;
        StructureSummary summary = summarize_structure(problem, s);
        if (!summary.model.estimated()) {
            return std::nullopt;
        }
        return summary;
    };
    if (is_linear(structure)) {
        return fit_on_rows(structure);  // no threshold to place
    }
    const inference::ThresholdRule rule = inference::rule_of(structure);
    const inference::ThresholdData data = inference::prepare_threshold_data(
        inference::SeriesRows::from_matrix(rows.serie, n, k), rule, config.model.max_order,
        config.model.include, trend_origin);
    const int min_count = config.model.least_sweep_regime(data.q);
    inference::SweepOptimum optimum = inference::minimise_thresholds(data, rule, start, min_count);
    if (!(optimum.log_det < inference::kInfeasible)) {
        // The thresholds of every row can leave a regime of the origin's rows
        // too small: start again from thresholds that share the times out
        // evenly.
        std::array<int, 3> ranks{};
        const int thresholds = rule.threshold_count();
        for (int j = 0; j < thresholds; ++j) {
            ranks[static_cast<std::size_t>(j)] =
                rule.variables == 1 ? data.count() * (j + 1) / (thresholds + 1) : data.count() / 2;
        }
        optimum = inference::minimise_thresholds(
            data, rule, inference::thresholds_at_ranks(data, rule, ranks), min_count);
        if (!(optimum.log_det < inference::kInfeasible)) {
            return std::nullopt;
        }
    }
    ModelStructure moved = structure;
    try {
        for (int j = 0; j < rule.threshold_count(); ++j) {
            const int component = rule.variables == 1 ? rule.component[0] : rule.component[j];
            const int lag = rule.variables == 1 ? rule.lag[0] : rule.lag[j];
            const int position =
                position_for_threshold(rows.serie, rows.info, component, lag, optimum.thresholds[j])
                    .position;
            if (rule.variables == 1) {
                moved.one.pos_threshold[j] = position;
            } else if (j == 0) {
                moved.two.pos_thres_1 = position;
            } else {
                moved.two.pos_thres_2 = position;
            }
        }
    } catch (const ConfigError&) {
        return std::nullopt;
    }
    return fit_on_rows(moved);
}

std::optional<StructureSummary> search_again(const RunConfig& config, const RunOptions& base,
                                             const LoadedSeries& rows, int trend_origin,
                                             const std::filesystem::path& dir) {
    RunConfig sized = config;
    sized.n_oss = rows.n_oss();
    sized.n_comp = rows.n_comp();
    SilentConsole console;
    RunOptions options;
    options.workdir = dir;
    options.seed = base.seed;
    options.threads = 1;
    options.cache = base.cache;
    options.replications = base.replications;
    options.refine = base.refine;
    options.console = &console;
    options.stop = base.stop;
    options.series = &rows;
    options.trend_origin = trend_origin;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::optional<StructureSummary> found;
    try {
        RunResult result = run_search(sized, options);
        if (result.refined) {
            found = std::move(result.refined->model);
        } else if (result.reported) {
            found = std::move(result.best);
        }
    } catch (...) {
        std::filesystem::remove_all(dir, ec);
        throw;
    }
    std::filesystem::remove_all(dir, ec);
    if (found && !found->model.estimated()) {
        found.reset();
    }
    return found;
}

}  // namespace velmora::rolling
