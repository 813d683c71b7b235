// The bootstrap linearity test: its speed on the sample, and its size and
// power on series simulated from known models.
//
//   ./bench_inference                     all three parts
//   ./bench_inference timing              --test-linearity 200 on the sample's first 1000 rows
//   ./bench_inference size [S] [B]        S series (default 200) from a linear VAR, B replicates
//   each
//   ./bench_inference power [S] [B]       S series from a two-regime VAR with a clear threshold
//
// Size and power use a VAR(2) of two components on 500 rows, the threshold
// variable component 1 at lag 1 and min_oss_reg 50 (the model a user would
// fit); the 5 % test rejects when the bootstrap p-value is below 0.05.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "data/series.hpp"
#include "inference/linearity_test.hpp"
#include "inference/model_inference.hpp"
#include "model/estimate.hpp"
#include "simulate/known_model.hpp"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void timing() {
    const int n = 1000;
    const int k = 4;
    const double_matrix serie = read_course_file(
        std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt", n, k);
    ModelProblem problem;
    problem.serie_matrix = &serie;
    problem.n_oss = n;
    problem.n_comp = k;
    problem.model.min_obs_per_regime = 50;
    problem.model.max_order = 2;
    // The best two-regime model of the sample: component 3 at lag 1.
    ModelStructure s;
    s.threshold_variables = 1;
    s.one.which_serie = 3;
    s.one.threshold_lag = 1;
    s.one.n_regime = 2;
    s.one.pos_threshold = {142, 0, 0};
    EstimationWorkspace ws(problem);
    const FittedModel summary = estimate(problem, ws, s);
    const double criterion = summary.criterion;

    std::printf(
        "Linearity test on the sample (n_oss 1000, 4 components, m 2, component 3 at lag 1, "
        "2 regimes), 200 replicates:\n");
    for (int threads : {1, 2}) {
        inference::InferenceOptions options;
        options.replicates = 200;
        options.seed = 1;
        options.threads = threads;
        double best = 1e9;
        double cpu = 1e9;
        inference::ModelInference result;
        for (int rep = 0; rep < 5; ++rep) {
            const auto start = Clock::now();
            const std::clock_t cpu_start = std::clock();
            result = inference::infer_model(problem, s, summary.thresholds, criterion, options);
            best = std::min(best, seconds_since(start));
            cpu = std::min(cpu, static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
        }
        // Processor time shows the work per replicate even on a busy machine.
        std::printf(
            "  threads %d: %.3f s wall (best of 5), %.2f ms wall and %.2f ms processor "
            "time per replicate; LR %.3f, p-value %.4f\n",
            threads, best, 1000.0 * best / 200, 1000.0 * cpu / 200, result.linearity->lr,
            result.linearity->p_value);
    }
}

// VAR(2) of two components; effect 0 is linear, otherwise the first-lag
// matrix is diag(0.2 -+ effect/2) below and above the threshold 0.
ThresholdVar model_with(double effect) {
    ThresholdVar model = one_variable_model(2, 1, 1, {0.0});
    for (double sign : {-1.0, 1.0}) {
        RegimeVar regime;
        regime.order = 2;
        const double a = 0.2 + sign * effect / 2;
        regime.coefficients = {a, 0.1, 0.0, a, 0.1, 0.0, 0.05, -0.1};
        model.regimes.push_back(regime);
    }
    return model;
}

void rejection_rate(const char* what, double effect, int series, int replicates,
                    std::uint64_t first_seed) {
    const ThresholdVar model = model_with(effect);
    inference::ThresholdRule rule;
    rule.component = {1, 1};
    rule.lag = {1, 1};
    const int threads = std::max(1U, std::thread::hardware_concurrency()) > 1 ? 2 : 1;
    int rejected = 0;
    double p_sum = 0.0;
    const auto start = Clock::now();
    for (int i = 0; i < series; ++i) {
        SimulationOptions options;
        options.n_obs = 500;
        options.burn_in = 200;
        options.seed = first_seed + static_cast<std::uint64_t>(i);
        const SimulatedSeries sim = simulate(model, options);
        inference::SeriesRows rows;
        rows.n = sim.n_obs;
        rows.k = sim.n_comp;
        rows.values = sim.values;
        // Start the sweep at the median; the test sweeps every candidate.
        const inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, 2);
        std::vector<double> z = data.z1;
        std::nth_element(z.begin(), z.begin() + static_cast<long>(z.size() / 2), z.end());
        inference::LinearityTestOptions test;
        test.replicates = replicates;
        test.seed = 77 + static_cast<std::uint64_t>(i);
        test.threads = threads;
        test.model.min_obs_per_regime = 50;
        const auto result =
            inference::test_linearity(rows, rule, {z[z.size() / 2], 1000000.0, 1000000.0}, 2, test);
        rejected += result.p_value < 0.05 ? 1 : 0;
        p_sum += result.p_value;
    }
    std::printf(
        "%s (effect %.2f): %d of %d series rejected at 5 %% (%.1f %%), mean p-value %.3f, "
        "%d replicates each, %.1f s\n",
        what, effect, rejected, series, 100.0 * rejected / series, p_sum / series, replicates,
        seconds_since(start));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string part = argc > 1 ? argv[1] : "all";
    const int series = argc > 2 ? std::atoi(argv[2]) : 500;
    const int replicates = argc > 3 ? std::atoi(argv[3]) : 199;
    const std::uint64_t first_seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1000;
    if (part == "all" || part == "timing") {
        timing();
    }
    if (part == "all" || part == "size") {
        rejection_rate("Size, linear VAR", 0.0, series, replicates, first_seed);
    }
    if (part == "all" || part == "power") {
        rejection_rate("Power, clear threshold", 0.6, series, replicates, first_seed);
        rejection_rate("Power, weaker threshold", 0.3, series, replicates, first_seed);
    }
    return 0;
}
