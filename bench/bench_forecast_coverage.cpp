// Coverage of the forecasts' 90 % bands: series simulated from a known
// two-regime threshold VAR, the true structure fitted on the first rows, the
// rows after them forecast; prints how often the realised values fall within
// the 5 %-95 % band, per horizon and overall (about 0.90 is right).
//
//   ./bench_forecast_coverage [replications]

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "forecast/fitted_var.hpp"
#include "forecast/forecast.hpp"
#include "forecast/forecast_paths.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"
#include "simulate/known_model.hpp"

namespace {

using namespace velmora;

constexpr int kFitRows = 600;
constexpr int kHorizon = 10;
constexpr int kPaths = 1000;

// Two components, order 1, component 1 at lag 1 against 0: persistent below,
// mean-reverting and more volatile above.
ThresholdVar true_model() {
    ThresholdVar model = one_variable_model(2, 1, 1, {0.0});
    model.regimes.resize(2);
    model.regimes[0].order = 1;
    model.regimes[0].coefficients = {0.6, 0.1, 0.2, 0.4};  // A_1[i][j] at i*k + j
    model.regimes[0].shock_covariance = {1.0, 0.3, 0.3, 0.8};
    model.regimes[1].order = 1;
    model.regimes[1].coefficients = {-0.3, 0.0, 0.3, 0.5};
    model.regimes[1].shock_covariance = {2.0, -0.4, -0.4, 1.0};
    return model;
}

}  // namespace

int main(int argc, char** argv) {
    const int replications = argc > 1 ? std::atoi(argv[1]) : 500;
    const ThresholdVar truth = true_model();
    const auto start = std::chrono::steady_clock::now();
    std::vector<long long> inside(kHorizon, 0);
    long long per_horizon = 0;
    for (int rep = 0; rep < replications; ++rep) {
        SimulationOptions sim;
        sim.n_obs = kFitRows + kHorizon;
        sim.burn_in = 200;
        sim.seed = 1000 + static_cast<std::uint64_t>(rep);
        const SimulatedSeries series = simulate(truth, sim);
        const double_matrix data = series.to_matrix();

        ModelProblem problem;
        problem.serie_matrix = &data;
        problem.n_oss = kFitRows;
        problem.n_comp = 2;
        problem.model.min_obs_per_regime = 30;
        problem.model.max_order = 1;
        // The true structure; the threshold is the observed value nearest 0.
        int position = 1;
        for (int t = 1; t < kFitRows; ++t) {
            if (std::fabs(data[t][1]) < std::fabs(data[position][1])) {
                position = t;
            }
        }
        ModelStructure structure;
        structure.threshold_variables = 1;
        structure.one.which_serie = 1;
        structure.one.threshold_lag = 1;
        structure.one.n_regime = 2;
        structure.one.pos_threshold = {position, 0, 0};
        const std::optional<ThresholdVarModel> fitted = model_for_structure(problem, structure);
        if (!fitted) {
            continue;
        }
        const ThresholdVarModel& model = *fitted;
        ForecastOptions options;
        options.horizon = kHorizon;
        options.paths = kPaths;
        options.seed = static_cast<std::uint64_t>(rep);
        options.threads = 2;
        const ForecastResult f = forecast_threshold_var(
            model, series_history(data, 2, kFitRows, model.history_rows()), options);
        for (int h = 0; h < kHorizon; ++h) {
            for (int c = 0; c < 2; ++c) {
                const double actual = data[kFitRows + h + 1][c + 1];
                const auto hh = static_cast<std::size_t>(h);
                const auto cc = static_cast<std::size_t>(c);
                if (f.q05[hh][cc] <= actual && actual <= f.q95[hh][cc]) {
                    ++inside[hh];
                }
            }
        }
        per_horizon += 2;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Coverage of the 90 %% forecast bands: %d simulated series of %d rows, %d paths\n",
                replications, kFitRows, kPaths);
    std::printf("horizon  coverage\n");
    long long total = 0;
    for (int h = 0; h < kHorizon; ++h) {
        total += inside[static_cast<std::size_t>(h)];
        std::printf("%7d  %8.3f\n", h + 1,
                    static_cast<double>(inside[static_cast<std::size_t>(h)]) / per_horizon);
    }
    std::printf("overall  %8.3f  (%lld values; %.1f s)\n",
                static_cast<double>(total) / (per_horizon * kHorizon), per_horizon * kHorizon,
                seconds);
    return 0;
}
