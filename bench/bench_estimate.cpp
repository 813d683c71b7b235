// Estimations per second of the threshold-model estimators, and the cost of
// the search's evaluation phase with one and two threads.
//
//   ./bench_estimate                       every benchmark
//   ./bench_estimate --benchmark_filter=Default   the default problem size only

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "app/threshold_app.hpp"
#include "data/series.hpp"
#include "model/estimate.hpp"

// The replacement operators below pair malloc with free; GCC cannot see that
// and warns at every inlined delete of this file.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Every heap allocation of the process is counted, so the benchmarks can show
// that an estimate allocates nothing once its workspace exists.
namespace {
std::atomic<long long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace velmora;

// A stable VAR(1) with Gaussian innovations: every regime regression is well
// posed, like returns series.
double_matrix synthetic_series(int n, int k, std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    double_matrix s(1, n, 1, k);
    for (int t = 1; t <= n; ++t) {
        for (int c = 1; c <= k; ++c) {
            const double prev = t > 1 ? s[t - 1][c] : 0.0;
            const double spill = t > 1 && c > 1 ? s[t - 1][c - 1] : 0.0;
            s[t][c] = 0.3 * prev + 0.1 * spill + normal(gen);
        }
    }
    return s;
}

struct BenchProblem {
    double_matrix serie;
    ModelProblem problem;
};

// The sample series when it is large enough, a synthetic one otherwise.
std::unique_ptr<BenchProblem> make_problem(int n_oss, int n_comp, int m) {
    auto bp = std::make_unique<BenchProblem>();
    if (n_oss <= 1859 && n_comp <= 4) {
        // The file's first n_comp components: a file of four numbers a line
        // is not read as a stream of pairs.
        SeriesRequest request;
        request.path = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";
        request.n_oss = n_oss;
        request.n_comp = n_comp;
        for (int c = 1; c <= n_comp; ++c) {
            request.columns.push_back(std::to_string(c));
        }
        bp->serie = load_series(request).serie;
    } else {
        bp->serie = synthetic_series(n_oss, n_comp, 12345);
    }
    bp->problem.serie_matrix = &bp->serie;
    bp->problem.n_oss = n_oss;
    bp->problem.n_comp = n_comp;
    bp->problem.model.max_order = m;
    bp->problem.model.min_obs_per_regime = 50;
    return bp;
}

// Random structures of the given kind (1 or 2 threshold variables, 0 for
// either) that can be estimated, so each call does the full work.
std::vector<ModelStructure> estimable_structures(const ModelProblem& problem, int kind, int count,
                                                 std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    const auto sizes = structure_field_sizes(problem.n_oss);
    EstimationWorkspace ws(problem);
    std::vector<ModelStructure> out;
    for (int tries = 0; tries < 100000 && static_cast<int>(out.size()) < count; ++tries) {
        FieldCodes codes{};
        for (int i = 0; i < kNumFields; ++i) {
            codes[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(
                gen() % static_cast<std::uint64_t>(sizes[static_cast<std::size_t>(i)]));
        }
        if (kind != 0) {
            codes[0] = static_cast<std::uint32_t>(kind - 1);
        }
        const ModelStructure s = decode_structure(codes);
        if (estimate_criterion(problem, ws, s).estimated()) {
            out.push_back(s);
        }
    }
    return out;
}

void run_estimates(benchmark::State& state, int n_oss, int n_comp, int m, int kind) {
    const auto bp = make_problem(n_oss, n_comp, m);
    const auto structures = estimable_structures(bp->problem, kind, 32, 7);
    if (structures.empty()) {
        state.SkipWithError("no estimable structure");
        return;
    }
    EstimationWorkspace ws(bp->problem);
    std::size_t next = 0;
    const long long allocations_before = g_allocations.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(estimate_criterion(bp->problem, ws, structures[next]));
        next = (next + 1) % structures.size();
    }
    state.counters["allocs_per_estimate"] =
        static_cast<double>(g_allocations.load() - allocations_before) /
        static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations());
    state.counters["n_oss"] = n_oss;
    state.counters["n_comp"] = n_comp;
    state.counters["m"] = m;
}

// Default problem: the sample series, n_oss 1000, n_comp 4, m 2, min_oss_reg 50.
void BM_DefaultOneThreshold(benchmark::State& state) {
    run_estimates(state, 1000, 4, 2, 1);
}
void BM_DefaultTwoThresholds(benchmark::State& state) {
    run_estimates(state, 1000, 4, 2, 2);
}
void BM_OrderFourOneThreshold(benchmark::State& state) {
    run_estimates(state, 1000, 4, 4, 1);
}
void BM_OrderFourTwoThresholds(benchmark::State& state) {
    run_estimates(state, 1000, 4, 4, 2);
}
void BM_LongSeriesOneThreshold(benchmark::State& state) {
    run_estimates(state, 10000, 4, 2, 1);
}
void BM_LongSeriesTwoThresholds(benchmark::State& state) {
    run_estimates(state, 10000, 4, 2, 2);
}

// The whole fitted model (coefficients, fitted values, residuals and
// covariances of every regime and order kept), as `velmora fit` and the
// final report build it; the search does not pay this.
void BM_FittedModelDefault(benchmark::State& state) {
    const auto bp = make_problem(1000, 4, 2);
    const auto structures = estimable_structures(bp->problem, 0, 32, 7);
    EstimationWorkspace ws(bp->problem);
    std::size_t next = 0;
    for (auto _ : state) {
        FittedModel model = estimate(bp->problem, ws, structures[next]);
        benchmark::DoNotOptimize(model.criterion);
        next = (next + 1) % structures.size();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_DefaultOneThreshold);
BENCHMARK(BM_DefaultTwoThresholds);
BENCHMARK(BM_OrderFourOneThreshold);
BENCHMARK(BM_OrderFourTwoThresholds);
BENCHMARK(BM_LongSeriesOneThreshold);
BENCHMARK(BM_LongSeriesTwoThresholds);
BENCHMARK(BM_FittedModelDefault);

// Growth of the cost with n_oss, n_comp and m, one structure mix of both kinds.
void BM_Scaling(benchmark::State& state) {
    run_estimates(state, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                  static_cast<int>(state.range(2)), 0);
}
BENCHMARK(BM_Scaling)
    ->ArgNames({"n_oss", "n_comp", "m"})
    ->Args({1000, 4, 2})
    ->Args({10000, 4, 2})
    ->Args({100000, 4, 2})
    ->Args({1000, 2, 2})
    ->Args({1000, 8, 2})
    ->Args({1000, 4, 1})
    ->Args({1000, 4, 4});

// The evaluation phase of one generation: a batch of 50 structures through
// ThresholdApp::objfunc (cache off, so every member is estimated), with 1 or
// 2 threads. Real time, since the work runs on the pool's threads.
void BM_EvaluationPhase(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    const auto bp = make_problem(1000, 4, 2);
    const auto sizes = structure_field_sizes(1000);
    ChromosomeLayout layout;
    layout.numfields = kNumFields;
    layout.field_sizes.assign(sizes.begin(), sizes.end());
    compute_field_layout(layout);

    const int batch_size = 50;
    std::mt19937_64 gen(99);
    std::vector<std::uint32_t> chroms(static_cast<std::size_t>(batch_size * layout.chromsize));
    std::vector<individual> members(static_cast<std::size_t>(batch_size));
    std::vector<individual*> batch;
    for (int i = 0; i < batch_size; ++i) {
        std::uint32_t* chrom = chroms.data() + static_cast<std::ptrdiff_t>(i) * layout.chromsize;
        for (int f = 0; f < kNumFields; ++f) {
            putfield(f, layout,
                     static_cast<std::uint32_t>(
                         gen() % static_cast<std::uint64_t>(sizes[static_cast<std::size_t>(f)])),
                     chrom);
        }
        members[static_cast<std::size_t>(i)].chrom = chrom;
        batch.push_back(&members[static_cast<std::size_t>(i)]);
    }
    ThresholdApp app(bp->problem, threads, false);
    for (auto _ : state) {
        app.objfunc(batch, layout);
        benchmark::DoNotOptimize(members[0].raw_fitness);
    }
    state.SetItemsProcessed(state.iterations() * batch_size);
    state.counters["threads"] = threads;
}
BENCHMARK(BM_EvaluationPhase)->Arg(1)->Arg(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
