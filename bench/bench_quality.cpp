// Quality of Velmora's answer: how often a search ends within 0.002 of the
// least criterion known for a series, with the defaults and --no-refine, the
// defaults (refinement on) and --replications 8, on series simulated from
// known threshold VARs and on the sample. Also the threshold sweep's cost per
// candidate against a full estimation.
//
//   bench_quality [--seeds K] [--threads T] [--only NAME]
//   bench_quality --least [--seeds K]   long searches; prints the least
//                                        criteria to store in
//                                        bench/quality_least_known.txt
//
// The least known criteria live in bench/quality_least_known.txt ("name
// value" per line). A benchmark run that finds a smaller one says so.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/run_driver.hpp"
#include "data/series.hpp"
#include "model/estimate.hpp"
#include "search/refine.hpp"
#include "search/threshold_sweep.hpp"
#include "simulate/known_model.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

const fs::path source_dir = VELMORA_SOURCE_DIR;
const fs::path least_file = source_dir / "bench" / "quality_least_known.txt";

struct Series {
    std::string name;
    std::string description;
    fs::path file;
    int n_oss = 1000;
    int n_comp = 3;
    int m = 2;
    int min_oss_reg = 50;
};

// A stable regime VAR(1) whose dynamics differ with r.
RegimeVar regime_var(int k, int r) {
    RegimeVar v;
    v.order = 1;
    v.coefficients.assign(static_cast<std::size_t>(k * k), 0.0);
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j < k; ++j) {
            const double x =
                i == j ? 0.6 * std::cos(1.7 * r + i) : 0.15 * std::sin(2.3 * r + i - j);
            v.coefficients[static_cast<std::size_t>(i * k + j)] = x;
        }
    }
    return v;
}

Series simulated(const fs::path& dir, const std::string& name, const std::string& description,
                 ThresholdRule rule, std::uint64_t seed) {
    ThresholdVar model;
    model.n_comp = 3;
    model.rule = rule;
    for (int r = 1; r <= rule.regimes(); ++r) {
        model.regimes.push_back(regime_var(3, r));
    }
    SimulationOptions options;
    options.n_obs = 1000;
    options.seed = seed;
    Series s;
    s.name = name;
    s.description = description;
    s.file = dir / (name + ".txt");
    simulate(model, options).write(s.file);
    return s;
}

std::vector<Series> make_series(const fs::path& dir) {
    std::vector<Series> out;
    ThresholdRule r;
    r.variables = 1;
    r.component = 2;
    r.lag = 1;
    r.thresholds = {0.0};
    out.push_back(simulated(dir, "sim-1var-2reg", "one variable (2 at lag 1), 2 regimes", r, 101));
    r.component = 1;
    r.lag = 3;
    r.thresholds = {-0.5, 0.5};
    out.push_back(simulated(dir, "sim-1var-3reg", "one variable (1 at lag 3), 3 regimes", r, 102));
    r.component = 3;
    r.lag = 2;
    r.thresholds = {-0.7, 0.0, 0.7};
    out.push_back(simulated(dir, "sim-1var-4reg", "one variable (3 at lag 2), 4 regimes", r, 103));
    ThresholdRule t;
    t.variables = 2;
    t.component1 = 1;
    t.lag1 = 1;
    t.threshold1 = 0.0;
    t.component2 = 3;
    t.lag2 = 2;
    t.threshold2 = 0.0;
    t.type_model = 0;
    out.push_back(simulated(dir, "sim-2var-4reg",
                            "two variables (1 at lag 1, 3 at lag 2), 4 regimes", t, 104));
    t.component1 = 2;
    t.lag1 = 1;
    t.component2 = 1;
    t.lag2 = 1;
    t.type_model = 2;
    out.push_back(simulated(dir, "sim-2var-3reg",
                            "two variables (2 and 1 at lag 1), 3 regimes (type 2)", t, 105));
    Series sample;
    sample.name = "sample";
    sample.description = "the sample, first 1000 rows, 4 components";
    sample.file = source_dir / "data" / "eustockmarkets_returns.txt";
    sample.n_comp = 4;
    out.push_back(sample);
    return out;
}

std::map<std::string, double> read_least() {
    std::map<std::string, double> least;
    std::ifstream in(least_file);
    std::string name;
    double value = 0.0;
    while (in >> name >> value) {
        least[name] = value;
    }
    return least;
}

struct Outcome {
    double criterion = 0.0;
    double seconds = 0.0;
    double cpu_seconds = 0.0;  // all threads of the process
    double refine_seconds = 0.0;
};

Outcome run_once(const Series& s, int casual, int replications, bool refine, int threads,
                 bool long_search) {
    RunConfig c;
    c.course_file = s.file.string();
    c.n_oss = s.n_oss;
    c.n_comp = s.n_comp;
    c.model.max_order = s.m;
    c.model.min_obs_per_regime = s.min_oss_reg;
    if (long_search) {
        c.popsize = 200;
        c.maxgen = 400;
        c.selection_choice = 2;  // tournament
        c.tourneysize = 3;
        c.pmutation = 0.02;
    }
    char pattern[] = "/tmp/velmora-quality-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    NullConsole console;
    RunOptions o;
    o.workdir = dir;
    o.seed = casual;
    o.threads = threads;
    o.replications = replications;
    o.refine = refine;
    o.console = &console;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    const RunResult r = run_search(c, o);
    Outcome out;
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    out.criterion = r.refined ? r.refined->model.criterion : r.best_criterion;
    out.refine_seconds = r.refined ? r.refined->seconds : 0.0;
    fs::remove_all(dir);
    return out;
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return std::nan("");
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Seconds per screened candidate of a sweep and per full estimation, on the
// sample at the default sizes (two-regime model of component 3 at lag 1).
void sweep_speed() {
    const double_matrix serie =
        read_course_file(source_dir / "data" / "eustockmarkets_returns.txt", 1000, 4);
    ModelProblem p;
    p.serie_matrix = &serie;
    p.n_oss = 1000;
    p.n_comp = 4;
    p.model.max_order = 2;
    p.model.min_obs_per_regime = 50;
    ThresholdSweeper sweeper(p);
    EstimationWorkspace ws(p);
    ModelStructure s;
    s.one = {3, 2, {142, 0, 0}, 1};
    using clock = std::chrono::steady_clock;
    const long long before = sweeper.candidates_screened();
    const auto t0 = clock::now();
    for (int i = 0; i < 50; ++i) {
        sweeper.sweep(s, 0, 1);
    }
    const auto t1 = clock::now();
    const long long candidates = sweeper.candidates_screened() - before;
    double sink = 0.0;
    const int estimates = 1000;
    for (int i = 0; i < estimates; ++i) {
        s.one.pos_threshold[0] = 1 + i % 999;
        sink += estimate_criterion(p, ws, s).criterion;
    }
    const auto t2 = clock::now();
    const double per_candidate = std::chrono::duration<double>(t1 - t0).count() / candidates;
    const double per_estimate = std::chrono::duration<double>(t2 - t1).count() / estimates;
    std::printf(
        "Sweep on the sample (n=1000, 4 components, m=2, 2 regimes): %.2f us per candidate "
        "(%lld candidates in 50 sweeps), full estimation %.1f us: %.0fx faster%s\n\n",
        per_candidate * 1e6, candidates, per_estimate * 1e6, per_estimate / per_candidate,
        sink == 0.0 ? " " : "");
}

// Refinement alone on the sample from the best structures of ten default
// searches: processor time with one thread, wall time with two.
void refinement_speed(int threads) {
    const fs::path file = source_dir / "data" / "eustockmarkets_returns.txt";
    const double_matrix serie = read_course_file(file, 1000, 4);
    ModelProblem p;
    p.serie_matrix = &serie;
    p.n_oss = 1000;
    p.n_comp = 4;
    p.model.max_order = 2;
    p.model.min_obs_per_regime = 50;
    std::vector<double> cpu;
    std::vector<double> wall;
    for (int k = 0; k < 10; ++k) {
        RunConfig c;
        c.course_file = file.string();
        char pattern[] = "/tmp/velmora-quality-XXXXXX";
        const fs::path dir = ::mkdtemp(pattern);
        NullConsole console;
        RunOptions o;
        o.workdir = dir;
        o.seed = (17 + 37 * k) % 1000;
        o.refine = false;
        o.console = &console;
        const RunResult r = run_search(c, o);
        fs::remove_all(dir);
        RefineOptions one;
        const std::clock_t c0 = std::clock();
        refine(p, r.best.structure, one);
        cpu.push_back(static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
        RefineOptions many;
        many.threads = threads;
        const auto w0 = std::chrono::steady_clock::now();
        refine(p, r.best.structure, many);
        wall.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
    }
    std::printf(
        "Refinement alone on the sample, from the best models of 10 default searches: median "
        "%.3f s processor time with 1 thread, median %.3f s wall time with %d threads\n\n",
        median(cpu), median(wall), threads);
}

}  // namespace

int main(int argc, char** argv) {
    int seeds = 20;
    int threads = 2;
    bool least_mode = false;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seeds" && i + 1 < argc) {
            seeds = std::atoi(argv[++i]);
        } else if (a == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--least") {
            least_mode = true;
        } else {
            std::fprintf(stderr, "usage: %s [--seeds K] [--threads T] [--only NAME] [--least]\n",
                         argv[0]);
            return 2;
        }
    }
    char pattern[] = "/tmp/velmora-quality-series-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const std::vector<Series> all = make_series(dir);

    if (least_mode) {
        for (const Series& s : all) {
            if (!only.empty() && s.name != only) {
                continue;
            }
            double least = std::numeric_limits<double>::infinity();
            for (int k = 0; k < seeds; ++k) {
                least = std::min(least, run_once(s, 500 + 7 * k, 8, true, threads, true).criterion);
                least =
                    std::min(least, run_once(s, 600 + 7 * k, 8, true, threads, false).criterion);
            }
            std::printf("%s %.9f\n", s.name.c_str(), least);
            std::fflush(stdout);
        }
        fs::remove_all(dir);
        return 0;
    }

    sweep_speed();
    if (only.empty() || only == "sample") {
        refinement_speed(threads);
    }
    const std::map<std::string, double> least = read_least();
    struct Setup {
        const char* name;
        int replications;
        bool refine;
    };
    const Setup setups[] = {
        {"defaults --no-refine", 1, false}, {"defaults", 1, true}, {"--replications 8", 8, true}};
    std::printf("%d seeds per set-up, %d threads; gap = criterion - least known\n\n", seeds,
                threads);
    std::printf(
        "| series | least known | set-up | within 0.002 | median gap | median time (s) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const Series& s : all) {
        if (!only.empty() && s.name != only) {
            continue;
        }
        const auto found = least.find(s.name);
        if (found == least.end()) {
            std::printf("| %s | (none stored: run --least) | | | | | |\n", s.name.c_str());
            continue;
        }
        const double best_known = found->second;
        for (const Setup& setup : setups) {
            std::vector<double> gaps;
            std::vector<double> times;
            std::vector<double> cpu_times;
            std::vector<double> refine_times;
            int within = 0;
            for (int k = 0; k < seeds; ++k) {
                const Outcome o = run_once(s, (17 + 37 * k) % 1000, setup.replications,
                                           setup.refine, threads, false);
                if (o.criterion < best_known - 1e-9) {
                    std::printf("(new least for %s: %.9f)\n", s.name.c_str(), o.criterion);
                }
                const double gap = o.criterion - best_known;
                gaps.push_back(gap);
                times.push_back(o.seconds);
                cpu_times.push_back(o.cpu_seconds);
                refine_times.push_back(o.refine_seconds);
                within += gap <= 0.002 ? 1 : 0;
            }
            std::string time = std::to_string(median(times));
            time.resize(5);
            if (setup.refine) {
                std::string refine_time = std::to_string(median(refine_times));
                refine_time.resize(5);
                time += " (" + refine_time + ")";
            }
            std::printf("| %s | %.6f | %s | %d/%d | %.4f | %s | %.3f |\n", s.name.c_str(),
                        best_known, setup.name, within, seeds, median(gaps), time.c_str(),
                        median(cpu_times));
            std::fflush(stdout);
        }
    }
    std::printf("\nSeries: ");
    for (const Series& s : all) {
        std::printf("%s = %s; ", s.name.c_str(), s.description.c_str());
    }
    std::printf("\n");
    fs::remove_all(dir);
    return 0;
}
