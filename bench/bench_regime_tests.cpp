// The tests of the number of regimes: their speed on the sample, their size
// and power on series simulated from known models, and how often the
// conditional search for three regimes misses the full two-threshold grid.
//
//   ./bench_regime_tests                       every part
//   ./bench_regime_tests timing [B]            1 vs 2 and 2 vs 3 on the sample's first 1000 rows
//   ./bench_regime_tests size12 [S] [B]        S linear VARs, the 1-vs-2 test
//   ./bench_regime_tests size12-order1 [S] [B] the same, second lag at zero, every
//                                              regime at order 1 on the rows of m 2
//   ./bench_regime_tests size23 [S] [B]        S two-regime VARs, the 2-vs-3 test
//   ./bench_regime_tests power23 [S] [B]       S clear three-regime VARs, the 2-vs-3 test
//   ./bench_regime_tests grid [S]              conditional search against the full grid
//
// The simulated series are VAR(2)s of two components with an intercept, in
// levels around (2, 1), on 500 rows (after 200 dropped), threshold variable
// component 1 at lag 1; every model compared has an intercept, min_oss_reg
// 50; a test rejects at 5 % when its bootstrap p-value is at most 0.05.

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "data/series.hpp"
#include "inference/regime_tests.hpp"
#include "simulate/known_model.hpp"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 2;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void timing(int replicates) {
    const int n = 1000;
    const int k = 4;
    const double_matrix serie = read_course_file(
        std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt", n, k);
    const inference::SeriesRows rows = inference::SeriesRows::from_matrix(serie, n, k);
    inference::RegimeTestOptions options;
    options.replicates = replicates;
    options.seed = 1;
    options.threads = kThreads;
    options.model.min_obs_per_regime = 50;
    options.last_null = 2;
    // Both tests whatever the first one says.
    options.level = 0.9999;
    const auto start = Clock::now();
    const std::clock_t cpu_start = std::clock();
    const inference::RegimeTests t = inference::test_regimes(rows, 3, 1, 2, options);
    const double wall = seconds_since(start);
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    std::printf(
        "Tests 1 vs 2 and 2 vs 3 on the sample (n_oss 1000, 4 components, m 2, component 3 at "
        "lag 1), %d replicates each, %d threads: %.2f s wall, %.2f s processor time\n",
        replicates, kThreads, wall, cpu);
    for (const inference::RegimeTest& test : t.tests) {
        std::printf("  %d vs %d: LR %.3f, p-value %.4f, %d failed\n", test.null_regimes,
                    test.alternative_regimes, test.lr, test.p_value, test.failed);
    }
}

// VAR(2) of two components with an intercept, switched by component 1 at
// lag 1: the first-lag diagonal and the mean of each regime (the intercept
// (I - A1 - A2) mean), the rest shared.
ThresholdVar model_with(const std::vector<double>& thresholds, const std::vector<double>& diag,
                        const std::vector<std::array<double, 2>>& means, int order = 2) {
    ThresholdVar model = one_variable_model(2, 1, 1, thresholds);
    for (std::size_t r = 0; r < diag.size(); ++r) {
        const double a = diag[r];
        RegimeVar regime;
        regime.order = 2;
        regime.coefficients = {a, 0.1, 0.0, a, 0.1, 0.0, 0.05, -0.1};
        if (order == 1) {
            std::fill(regime.coefficients.begin() + 4, regime.coefficients.end(), 0.0);
        }
        const std::array<double, 2>& mu = means[r];
        for (int i = 0; i < 2; ++i) {
            double c = mu[static_cast<std::size_t>(i)];
            for (int l = 0; l < 2; ++l) {
                for (int j = 0; j < 2; ++j) {
                    c -= regime.coefficients[static_cast<std::size_t>((l * 2 + i) * 2 + j)] *
                         mu[static_cast<std::size_t>(j)];
                }
            }
            regime.intercept.push_back(c);
        }
        model.regimes.push_back(regime);
    }
    return model;
}

// The series of the size and power parts, in levels around (2, 1).
ThresholdVar linear_model() {
    return model_with({2.0}, {0.2, 0.2}, {{{2.0, 1.0}}, {{2.0, 1.0}}});
}

// The same VAR with its second lag at zero.
ThresholdVar linear_order1_model() {
    return model_with({2.0}, {0.2, 0.2}, {{{2.0, 1.0}}, {{2.0, 1.0}}}, 1);
}

ThresholdVar two_regime_model() {
    return model_with({2.0}, {-0.1, 0.5}, {{{2.2, 1.2}}, {{1.8, 0.8}}});
}

ThresholdVar three_regime_model() {
    return model_with({1.4, 2.6}, {-0.4, 0.6, -0.4}, {{{2.0, 1.0}}, {{2.0, 1.0}}, {{2.0, 1.0}}});
}

inference::SeriesRows simulated(const ThresholdVar& model, std::uint64_t seed) {
    SimulationOptions options;
    options.n_obs = 500;
    options.burn_in = 200;
    options.seed = seed;
    const SimulatedSeries sim = simulate(model, options);
    inference::SeriesRows rows;
    rows.n = sim.n_obs;
    rows.k = sim.n_comp;
    rows.values = sim.values;
    return rows;
}

// regime_order: every regime's order in the models compared (0: m = 2).
void rejection_rate(const char* what, const ThresholdVar& model, int null_regimes, int series,
                    int replicates, int regime_order = 0) {
    int rejected = 0;
    int failed = 0;
    double p_sum = 0.0;
    const auto start = Clock::now();
    for (int i = 0; i < series; ++i) {
        const inference::SeriesRows rows = simulated(model, 1000 + static_cast<std::uint64_t>(i));
        inference::RegimeTestOptions options;
        options.replicates = replicates;
        options.seed = 77 + static_cast<std::uint64_t>(i);
        options.threads = kThreads;
        options.model.min_obs_per_regime = 50;
        options.model.include = Include::constant;
        options.first_null = null_regimes;
        options.last_null = null_regimes;
        options.regime_order = regime_order;
        const inference::RegimeTests t = inference::test_regimes(rows, 1, 1, 2, options);
        const inference::RegimeTest& test = t.tests.front();
        rejected += test.rejected(0.05) ? 1 : 0;
        failed += test.failed;
        p_sum += test.p_value;
    }
    std::printf(
        "%s, %d vs %d: %d of %d series rejected at 5 %% (%.1f %%), mean p-value %.3f, %d of %d "
        "replicates failed, %d replicates each, %.1f s\n",
        what, null_regimes, null_regimes + 1, rejected, series, 100.0 * rejected / series,
        p_sum / series, failed, series * replicates, replicates, seconds_since(start));
}

void grid(int series) {
    struct Kind {
        const char* name;
        ThresholdVar model;
    };
    const std::vector<Kind> kinds = {
        {"linear", linear_model()},
        {"two regimes", two_regime_model()},
        {"three regimes", three_regime_model()},
    };
    for (const Kind& kind : kinds) {
        int differ = 0;
        double worst = 0.0;
        const auto start = Clock::now();
        for (int i = 0; i < series; ++i) {
            const inference::SeriesRows rows =
                simulated(kind.model, 5000 + static_cast<std::uint64_t>(i));
            inference::ThresholdRule rule;
            rule.component = {1, 1};
            rule.lag = {1, 1};
            const inference::ThresholdData data =
                inference::prepare_threshold_data(rows, rule, 2, Include::constant);
            const int min_count =
                ModelDefinition{.min_obs_per_regime = 50}.least_sweep_regime(data.q);
            const inference::RegimeSequence seq =
                inference::fit_regime_sequence(data, 3, min_count);
            const double full = inference::three_regime_grid_log_det(data, min_count);
            // In LR units: T times the difference of ln det Sigma.
            const double gap = data.count() * (seq.log_det[3] - full);
            if (gap > 1e-6) {
                ++differ;
                worst = std::max(worst, gap);
            }
        }
        std::printf(
            "Three regimes on %d %s series: the conditional search differs from the full grid "
            "on %d (largest shortfall %.4f LR units), %.1f s\n",
            series, kind.name, differ, worst, seconds_since(start));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string part = argc > 1 ? argv[1] : "all";
    const bool all = part == "all";
    const int first = argc > 2 ? std::atoi(argv[2]) : 0;
    const int second = argc > 3 ? std::atoi(argv[3]) : 199;
    if (all || part == "timing") {
        timing(first > 0 ? first : 199);
    }
    const int series = first > 0 ? first : 500;
    if (all || part == "size12") {
        rejection_rate("Size, linear VAR", linear_model(), 1, series, second);
    }
    if (all || part == "size12-order1") {
        rejection_rate("Size, linear VAR(1), every regime at order 1 of m 2", linear_order1_model(),
                       1, series, second, 1);
    }
    if (all || part == "size23") {
        rejection_rate("Size, two regimes", two_regime_model(), 2, series, second);
    }
    if (all || part == "power23") {
        rejection_rate("Power, three regimes", three_regime_model(), 2, series, second);
    }
    if (all || part == "grid") {
        grid(first > 0 ? first : 100);
    }
    return 0;
}
