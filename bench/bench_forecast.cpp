// Time of a forecast (20 steps, 2000 paths) and of the impulse responses
// (horizon 20, 500 histories x 100 repetitions per regime) for a two-regime
// model of the sample series, with one and two threads.
//
//   ./bench_forecast

#include <benchmark/benchmark.h>

#include <string>

#include "data/series.hpp"
#include "forecast/fitted_var.hpp"
#include "forecast/forecast.hpp"
#include "forecast/forecast_paths.hpp"
#include "forecast/girf.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"

namespace {

using namespace velmora;

struct SampleModel {
    double_matrix serie;
    ThresholdVarModel model;
};

// Component 3 at lag 1, two regimes, threshold at position 142, order 2: a
// two-regime model of the sample's first 1000 rows.
const SampleModel& sample_model() {
    static const SampleModel sample = [] {
        SampleModel s;
        SeriesRequest request;
        request.path = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";
        request.n_oss = 1000;
        request.n_comp = 4;
        s.serie = load_series(request).serie;
        ModelProblem problem;
        problem.serie_matrix = &s.serie;
        problem.n_oss = 1000;
        problem.n_comp = 4;
        problem.model.min_obs_per_regime = 50;
        problem.model.max_order = 2;
        ModelStructure structure;
        structure.threshold_variables = 1;
        structure.one.which_serie = 3;
        structure.one.threshold_lag = 1;
        structure.one.n_regime = 2;
        structure.one.pos_threshold = {142, 0, 0};
        s.model = *model_for_structure(problem, structure);
        return s;
    }();
    return sample;
}

void BM_Forecast20x2000(benchmark::State& state) {
    const SampleModel& s = sample_model();
    const std::vector<double> history = series_history(s.serie, 4, 1000, s.model.history_rows());
    ForecastOptions options;
    options.horizon = 20;
    options.paths = 2000;
    options.seed = 5;
    options.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        ForecastResult f = forecast_threshold_var(s.model, history, options);
        benchmark::DoNotOptimize(f.mean.data());
    }
}
BENCHMARK(BM_Forecast20x2000)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Girf20_500x100(benchmark::State& state) {
    const SampleModel& s = sample_model();
    GirfOptions options;
    options.horizon = 20;
    options.histories = 500;
    options.repetitions = 100;
    options.seed = 5;
    options.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        GirfResult g = girf_threshold_var(s.model, s.serie, options);
        benchmark::DoNotOptimize(g.regimes.data());
    }
}
BENCHMARK(BM_Girf20_500x100)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
