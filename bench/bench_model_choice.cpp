// Does Velmora report the model that generated a series? Twenty series in
// levels drawn from known models with intercepts (6 linear VARs, 7 two-regime
// and 7 three-regime threshold VARs on one threshold variable, 2 or 3
// components, 300 to 1000 rows, clear regimes) are searched by the command
// line as a user would run it:
//
//   velmora run --course-file F --include const --criterion bic --seed S
//               --test-regimes 99
//
// with every other setting at its default. Per series it prints the truth,
// the reported model (regimes, threshold components, threshold lags) and the
// number of regimes the tests select, then how often each equals the truth.
// The tests run after the search and do not change it, so one run gives both
// counts. It also counts how often the conditional search for three regimes
// (one threshold fixed, the other swept, until neither moves) ends above the
// least ln det Sigma of the full two-threshold grid, on each series' true
// threshold variable and lag.
//
//   bench_model_choice [--velmora PATH] [--replicates B] [--no-tests]
//                      [--only NAME] [--keep DIR] [--threads T] [--set S]
//                      [--run-options TEXT]
//
// PATH defaults to the velmora beside this program; B to 99. Set S (default
// 0) draws the same twenty models from other seeds. --run-options replaces
// "--include const --criterion bic" ("" for the defaults).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>
#include <nlohmann/json.hpp>

#include "inference/regime_tests.hpp"
#include "simulate/known_model.hpp"

namespace {

using namespace velmora;
namespace fs = std::filesystem;
using std::size_t;
using Clock = std::chrono::steady_clock;

// One regime: y_t = c + A y_{t-1} + e_t with A = diag(a) + off beside the
// diagonal, c chosen so that the regime's own mean is `mean`.
struct RegimeSetup {
    double a = 0.5;
    double off = 0.0;
    std::vector<double> mean;
};

struct Case {
    std::string name;
    int k = 2;
    int n = 500;
    // Truth: 1 regime (linear) or the threshold variable and its thresholds.
    int component = 1;
    int lag = 1;
    std::vector<double> thresholds;
    std::vector<RegimeSetup> regimes;
    std::uint64_t seed = 1;

    int true_regimes() const { return static_cast<int>(regimes.size()); }
};

RegimeVar regime_var(int k, const RegimeSetup& s) {
    RegimeVar v;
    v.order = 1;
    v.coefficients.assign(static_cast<size_t>(k * k), 0.0);
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j < k; ++j) {
            v.coefficients[static_cast<size_t>(i * k + j)] =
                i == j ? s.a : (j == (i + 1) % k ? s.off : 0.0);
        }
    }
    // c = (I - A) mean.
    v.intercept.assign(static_cast<size_t>(k), 0.0);
    for (int i = 0; i < k; ++i) {
        double c = s.mean[static_cast<size_t>(i)];
        for (int j = 0; j < k; ++j) {
            c -= v.coefficients[static_cast<size_t>(i * k + j)] * s.mean[static_cast<size_t>(j)];
        }
        v.intercept[static_cast<size_t>(i)] = c;
    }
    // Shocks of standard deviation 0.5, mildly correlated.
    v.shock_covariance.assign(static_cast<size_t>(k * k), 0.0);
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j < k; ++j) {
            v.shock_covariance[static_cast<size_t>(i * k + j)] = i == j ? 0.25 : 0.05;
        }
    }
    return v;
}

ThresholdVar model_of(const Case& c) {
    ThresholdVar model;
    if (c.regimes.size() == 1) {
        // A linear VAR: two identical regimes split anywhere.
        model = one_variable_model(c.k, 1, 1, {0.0});
        model.regimes = {regime_var(c.k, c.regimes[0]), regime_var(c.k, c.regimes[0])};
        return model;
    }
    model = one_variable_model(c.k, c.component, c.lag, c.thresholds);
    for (const RegimeSetup& s : c.regimes) {
        model.regimes.push_back(regime_var(c.k, s));
    }
    return model;
}

// Levels: means of 4 to 9 per component, the threshold component's regimes
// pulling it across its thresholds.
std::vector<double> levels(int k, double first, double shift) {
    std::vector<double> m;
    for (int i = 0; i < k; ++i) {
        m.push_back(i == 0 ? first : 5.0 + 2.0 * i + shift);
    }
    return m;
}

std::vector<double> with_component(std::vector<double> m, int component, double value) {
    // The threshold component's mean in first place of levels() moves to
    // `component`.
    std::swap(m[0], m[static_cast<size_t>(component - 1)]);
    m[static_cast<size_t>(component - 1)] = value;
    return m;
}

// Set s draws every series again from seeds shifted by 1000 s (the runs keep
// their seeds: velmora takes 0 to 999).
std::vector<Case> cases(int set) {
    std::vector<Case> out;
    // Linear VARs with intercept.
    const int lin_k[] = {2, 3, 2, 3, 2, 3};
    const int lin_n[] = {300, 500, 800, 1000, 400, 600};
    const double lin_a[] = {0.5, 0.6, 0.7, 0.4, 0.8, 0.55};
    for (int i = 0; i < 6; ++i) {
        Case c;
        c.name = "linear-" + std::to_string(i + 1);
        c.k = lin_k[i];
        c.n = lin_n[i];
        c.regimes = {{lin_a[i], 0.15, levels(c.k, 5.0, 0.0)}};
        c.seed = 100 + static_cast<std::uint64_t>(i);
        out.push_back(c);
    }
    // Two regimes at threshold 5 of the threshold component: below it the
    // component is pulled up to 6 with little memory, above it down to 4
    // with much; the other components shift their level and dynamics.
    const int two_k[] = {2, 3, 2, 3, 2, 3, 2};
    const int two_n[] = {300, 500, 800, 1000, 400, 600, 700};
    const int two_comp[] = {1, 2, 1, 1, 2, 2, 1};
    const int two_lag[] = {1, 1, 2, 3, 1, 2, 4};
    for (int i = 0; i < 7; ++i) {
        Case c;
        c.name = "two-regime-" + std::to_string(i + 1);
        c.k = two_k[i];
        c.n = two_n[i];
        c.component = two_comp[i];
        c.lag = two_lag[i];
        c.thresholds = {5.0};
        c.regimes = {{0.5, 0.3, with_component(levels(c.k, 6.0, -1.0), c.component, 6.0)},
                     {0.7, -0.1, with_component(levels(c.k, 4.2, 1.0), c.component, 4.2)}};
        c.seed = 200 + static_cast<std::uint64_t>(i);
        out.push_back(c);
    }
    // Three regimes at 4 and 6: the outer regimes pull the component back to
    // the middle and swing it, the middle one lets it drift.
    const int three_k[] = {2, 3, 2, 3, 2, 3, 2};
    const int three_n[] = {500, 600, 800, 1000, 700, 900, 1000};
    const int three_comp[] = {1, 2, 1, 1, 2, 1, 2};
    const int three_lag[] = {1, 1, 2, 1, 3, 2, 1};
    for (int i = 0; i < 7; ++i) {
        Case c;
        c.name = "three-regime-" + std::to_string(i + 1);
        c.k = three_k[i];
        c.n = three_n[i];
        c.component = three_comp[i];
        c.lag = three_lag[i];
        c.thresholds = {4.7, 5.3};
        c.regimes = {{0.3, 0.3, with_component(levels(c.k, 5.5, -1.0), c.component, 5.5)},
                     {0.85, 0.0, with_component(levels(c.k, 5.0, 0.0), c.component, 5.0)},
                     {0.0, -0.3, with_component(levels(c.k, 4.5, 1.0), c.component, 4.5)}};
        c.seed = 300 + static_cast<std::uint64_t>(i);
        out.push_back(c);
    }
    for (Case& c : out) {
        c.seed += 1000 * static_cast<std::uint64_t>(set);
    }
    return out;
}

// A CSV with a header and a row label, as a user's file would be.
SimulatedSeries write_case(const Case& c, const fs::path& file) {
    SimulationOptions options;
    options.n_obs = c.n;
    options.burn_in = 300;
    options.seed = c.seed;
    const SimulatedSeries sim = simulate(model_of(c), options);
    std::ofstream out(file);
    out << "date";
    for (int j = 1; j <= c.k; ++j) {
        out << ",y" << j;
    }
    out << '\n';
    char buffer[64];
    for (int t = 1; t <= sim.n_obs; ++t) {
        out << t;
        for (int j = 1; j <= c.k; ++j) {
            std::snprintf(buffer, sizeof buffer, ",%.17g", sim.at(t, j));
            out << buffer;
        }
        out << '\n';
    }
    return sim;
}

struct Reported {
    bool ok = false;
    int regimes = 0;
    std::vector<int> components;
    std::vector<int> lags;
    int selected = 0;  // 0: no tests
    std::string tests;
    double seconds = 0.0;
};

std::string shell_arg(const fs::path& p) {
    return "'" + p.string() + "'";
}

Reported run_velmora(const std::string& velmora, const std::string& run_options, const Case& c,
                     const fs::path& file, const fs::path& dir, int replicates, int threads) {
    const fs::path json = dir / "summary.json";
    std::string command = shell_arg(velmora) + " run --course-file " + shell_arg(file) + " " +
                          run_options + " --seed " + std::to_string(c.seed % 1000) + " --threads " +
                          std::to_string(threads) + " --workdir " + shell_arg(dir) + " --json " +
                          shell_arg(json);
    if (replicates > 0) {
        command += " --test-regimes " + std::to_string(replicates);
    }
    command += " > " + shell_arg(dir / "stdout.txt") + " 2> " + shell_arg(dir / "stderr.txt");
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    Reported r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::ifstream in(json);
    if (status != 0 || !in) {
        std::fprintf(stderr, "%s: velmora failed (status %d), see %s\n", c.name.c_str(), status,
                     dir.c_str());
        return r;
    }
    const nlohmann::json j = nlohmann::json::parse(in);
    const nlohmann::json& model = j["refined"].is_null() ? j["best"] : j["refined"];
    r.ok = true;
    r.regimes = model.value("regimes", 0);
    if (model.contains("components")) {
        r.components = model["components"].get<std::vector<int>>();
        r.lags = model["lags"].get<std::vector<int>>();
    }
    if (j.contains("selected_regimes") && !j["selected_regimes"].is_null()) {
        r.selected = j["selected_regimes"].get<int>();
        for (const auto& t : j["regime_tests"]) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%s%d:%.2f", r.tests.empty() ? "" : " ",
                          t["null_regimes"].get<int>(), t["p_value"].get<double>());
            r.tests += buffer;
        }
    }
    return r;
}

std::string list(const std::vector<int>& v) {
    if (v.empty()) {
        return "-";
    }
    std::string s;
    for (int x : v) {
        if (!s.empty()) {
            s += ',';
        }
        s += std::to_string(x);
    }
    return s;
}

// T (ln det of the conditional search - ln det of the full grid) for three
// regimes on the case's threshold variable (component 1 at lag 1 for a
// linear case), with the run's defaults: order 2, an intercept, at least 50
// observations per regime.
double conditional_shortfall(const Case& c, const SimulatedSeries& sim) {
    inference::SeriesRows rows;
    rows.n = sim.n_obs;
    rows.k = sim.n_comp;
    rows.values = sim.values;
    inference::ThresholdRule rule;
    rule.component = {c.component, c.component};
    rule.lag = {c.lag, c.lag};
    const inference::ThresholdData data =
        inference::prepare_threshold_data(rows, rule, 2, Include::constant);
    const int min_count = ModelDefinition{.min_obs_per_regime = 50}.least_sweep_regime(data.q);
    const inference::RegimeSequence seq = inference::fit_regime_sequence(data, 3, min_count);
    return data.count() * (seq.log_det[3] - inference::three_regime_grid_log_det(data, min_count));
}

}  // namespace

int main(int argc, char** argv) {
    std::string velmora = (fs::absolute(argv[0]).parent_path() / "velmora").string();
    int replicates = 99;
    int threads = 2;
    int set = 0;
    std::string run_options = "--include const --criterion bic";
    std::string only;
    fs::path keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--velmora" && has_value) {
            velmora = argv[++i];
        } else if (a == "--replicates" && has_value) {
            replicates = std::atoi(argv[++i]);
        } else if (a == "--threads" && has_value) {
            threads = std::atoi(argv[++i]);
        } else if (a == "--run-options" && has_value) {
            run_options = argv[++i];
        } else if (a == "--set" && has_value) {
            set = std::atoi(argv[++i]);
        } else if (a == "--no-tests") {
            replicates = 0;
        } else if (a == "--only" && has_value) {
            only = argv[++i];
        } else if (a == "--keep" && has_value) {
            keep = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: bench_model_choice [--velmora PATH] [--replicates B] "
                         "[--no-tests] [--only NAME] [--keep DIR] [--threads T] [--set S] "
                         "[--run-options TEXT]\n");
            return 2;
        }
    }
    fs::path root = keep;
    if (root.empty()) {
        char pattern[] = "/tmp/velmora-choice-XXXXXX";
        root = ::mkdtemp(pattern);
    }
    fs::create_directories(root);

    std::printf(
        "velmora run %s%s, defaults otherwise (m 2, min-oss-reg 50, 100 generations of 50); "
        "seed set %d\n",
        run_options.c_str(),
        replicates > 0 ? (" --test-regimes " + std::to_string(replicates)).c_str() : "", set);
    std::printf("%-16s %2s %5s  %-22s %-12s %-22s %-5s %-4s %-22s %-9s %6s\n", "series", "k",
                "rows", "truth", "shares %", "reported", "match", "sel", "p-values (null:p)",
                "cond-gap", "sec");
    int matched = 0;
    int selected_right = 0;
    int tested = 0;
    int cond_differs = 0;
    double cond_worst = 0.0;
    int by_kind_total[4] = {};
    int by_kind_matched[4] = {};
    int by_kind_selected[4] = {};
    for (const Case& c : cases(set)) {
        if (!only.empty() && c.name.find(only) == std::string::npos) {
            continue;
        }
        const fs::path dir = root / c.name;
        fs::create_directories(dir);
        const fs::path file = dir / (c.name + ".csv");
        const SimulatedSeries sim = write_case(c, file);
        const int truth_regimes = c.true_regimes();
        std::string shares;
        if (truth_regimes > 1) {
            for (int r = 1; r <= truth_regimes; ++r) {
                const long count = std::count(sim.regime.begin(), sim.regime.end(), r);
                if (!shares.empty()) {
                    shares += '/';
                }
                shares += std::to_string(100 * count / c.n);
            }
        } else {
            shares = "-";
        }
        const std::string truth = truth_regimes == 1 ? "linear"
                                                     : std::to_string(truth_regimes) + " on y" +
                                                           std::to_string(c.component) + " lag " +
                                                           std::to_string(c.lag);
        const Reported r = run_velmora(velmora, run_options, c, file, dir, replicates, threads);
        const bool match = r.ok && r.regimes == truth_regimes &&
                           (truth_regimes == 1 ? r.components.empty()
                                               : r.components == std::vector<int>{c.component} &&
                                                     r.lags == std::vector<int>{c.lag});
        const std::string reported =
            !r.ok ? "failed"
            : r.components.empty()
                ? std::to_string(r.regimes) + (r.regimes == 1 ? " (linear)" : "")
                : std::to_string(r.regimes) + " on y" + list(r.components) + " lag " + list(r.lags);
        const double gap = conditional_shortfall(c, sim);
        if (gap > 1e-6) {
            ++cond_differs;
            cond_worst = std::max(cond_worst, gap);
        }
        const int kind = truth_regimes;
        ++by_kind_total[kind];
        matched += match ? 1 : 0;
        by_kind_matched[kind] += match ? 1 : 0;
        if (r.selected > 0) {
            ++tested;
            selected_right += r.selected == truth_regimes ? 1 : 0;
            by_kind_selected[kind] += r.selected == truth_regimes ? 1 : 0;
        }
        std::printf("%-16s %2d %5d  %-22s %-12s %-22s %-5s %-4s %-22s %-9.4f %6.1f\n",
                    c.name.c_str(), c.k, c.n, truth.c_str(), shares.c_str(), reported.c_str(),
                    match ? "yes" : "no", r.selected > 0 ? std::to_string(r.selected).c_str() : "-",
                    r.tests.c_str(), std::max(gap, 0.0), r.seconds);
        std::fflush(stdout);
    }
    const int total = by_kind_total[1] + by_kind_total[2] + by_kind_total[3];
    std::printf(
        "\nReported model equals the truth (regimes, threshold components and lags): "
        "%d of %d (linear %d/%d, two regimes %d/%d, three regimes %d/%d)\n",
        matched, total, by_kind_matched[1], by_kind_total[1], by_kind_matched[2], by_kind_total[2],
        by_kind_matched[3], by_kind_total[3]);
    if (replicates > 0) {
        std::printf(
            "selected_regimes equals the true number of regimes: %d of %d (linear %d/%d, "
            "two regimes %d/%d, three regimes %d/%d)\n",
            selected_right, tested, by_kind_selected[1], by_kind_total[1], by_kind_selected[2],
            by_kind_total[2], by_kind_selected[3], by_kind_total[3]);
    }
    std::printf(
        "Conditional three-regime search above the full two-threshold grid on %d of %d "
        "series (largest shortfall %.4f LR units; true threshold variable and lag, m 2, "
        "intercept, 50 observations per regime)\n",
        cond_differs, total, cond_worst);
    if (keep.empty()) {
        fs::remove_all(root);
    }
    return 0;
}
