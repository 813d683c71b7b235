#include "search/refine.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "model/fitted_model.hpp"
#include "search/threshold_sweep.hpp"
#include "support/executor.hpp"
#include "support/parallel.hpp"

namespace velmora {

namespace {

using std::size_t;

inline size_t idx(int i) {
    return static_cast<size_t>(i);
}

// Position of the median of a component among positions 1..n_oss-1.
int median_position(const ThresholdSweeper& sweeper, int component) {
    ModelStructure probe;
    probe.threshold_variables = 1;
    probe.one.which_serie = component;
    probe.one.n_regime = 2;
    return sweeper.with_quantile_thresholds(probe).one.pos_threshold[0];
}

ModelStructure one_variable(int component, int lag, int n_regime) {
    ModelStructure s;
    s.threshold_variables = 1;
    s.one.which_serie = component;
    s.one.threshold_lag = lag;
    s.one.n_regime = n_regime;
    return s;
}

ModelStructure two_variables(int c1, int d1, int p1, int c2, int d2, int p2, int type_model) {
    ModelStructure s;
    s.threshold_variables = 2;
    s.two.which_serie1 = c1;
    s.two.Ritardo1 = d1;
    s.two.pos_thres_1 = p1;
    s.two.which_serie2 = c2;
    s.two.Ritardo2 = d2;
    s.two.pos_thres_2 = p2;
    s.two.type_model = type_model;
    s.two.n_regime = type_model == 0 ? 4 : 3;
    return s;
}

// Whether column c may serve as a threshold variable: any component when
// none are listed, an external column only when listed.
bool serves(const ModelProblem& problem, const std::vector<int>& components, int c) {
    if (components.empty()) {
        return c <= problem.n_comp;
    }
    return std::find(components.begin(), components.end(), c) != components.end();
}

std::vector<ModelStructure> neighbours(const ThresholdSweeper& sweeper, const ModelStructure& s,
                                       const std::vector<int>& components) {
    const ModelProblem& problem = sweeper.problem();
    const int k = problem.threshold_columns();
    std::vector<ModelStructure> out;
    if (s.threshold_variables == 1) {
        const OneThresholdStructure& o = s.one;
        const int used = o.n_regime - 1;
        // Another component or lag: the same component keeps its thresholds'
        // values, another starts from quantiles.
        for (int c = 1; c <= k; ++c) {
            if (c != o.which_serie && !serves(problem, components, c)) {
                continue;
            }
            for (int d = 1; d <= kMaxLag; ++d) {
                if (c == o.which_serie && d == o.threshold_lag) {
                    continue;
                }
                ModelStructure n = s;
                n.one.which_serie = c;
                n.one.threshold_lag = d;
                if (c != o.which_serie) {
                    n = sweeper.with_quantile_thresholds(n);
                }
                out.push_back(n);
            }
        }
        // One regime more: the present thresholds plus one at each quantile.
        if (o.n_regime < 4) {
            const ModelStructure spread = sweeper.with_quantile_thresholds(
                one_variable(o.which_serie, o.threshold_lag, o.n_regime + 1));
            for (int i = 0; i < o.n_regime; ++i) {
                ModelStructure n = s;
                n.one.n_regime = o.n_regime + 1;
                n.one.pos_threshold[idx(used)] = spread.one.pos_threshold[idx(i)];
                out.push_back(n);
            }
        }
        // One regime fewer: drop each threshold in turn.
        if (o.n_regime > 2) {
            for (int drop = 0; drop < used; ++drop) {
                ModelStructure n = s;
                n.one.n_regime = o.n_regime - 1;
                int at = 0;
                for (int i = 0; i < used; ++i) {
                    if (i != drop) {
                        n.one.pos_threshold[idx(at++)] = o.pos_threshold[idx(i)];
                    }
                }
                n.one.pos_threshold[idx(used - 1)] = 0;
                out.push_back(n);
            }
        }
        // A second threshold variable, before or after this one, every type.
        const int p1 = o.pos_threshold[0];
        for (int c = 1; c <= k; ++c) {
            if (c == o.which_serie || !serves(problem, components, c)) {
                continue;
            }
            const int median = median_position(sweeper, c);
            for (int d = 1; d <= kMaxLag; ++d) {
                for (int type = 0; type <= 3; ++type) {
                    out.push_back(
                        two_variables(o.which_serie, o.threshold_lag, p1, c, d, median, type));
                    out.push_back(
                        two_variables(c, d, median, o.which_serie, o.threshold_lag, p1, type));
                }
            }
        }
        return out;
    }

    const TwoThresholdStructure& t = s.two;
    // Another component or lag of either variable; the two stay different
    // components.
    for (int which = 0; which < 2; ++which) {
        const int own_c = which == 0 ? t.which_serie1 : t.which_serie2;
        const int own_d = which == 0 ? t.Ritardo1 : t.Ritardo2;
        const int other_c = which == 0 ? t.which_serie2 : t.which_serie1;
        for (int c = 1; c <= k; ++c) {
            if (c == other_c || (c != own_c && !serves(problem, components, c))) {
                continue;
            }
            for (int d = 1; d <= kMaxLag; ++d) {
                if (c == own_c && d == own_d) {
                    continue;
                }
                ModelStructure n = s;
                int& nc = which == 0 ? n.two.which_serie1 : n.two.which_serie2;
                int& nd = which == 0 ? n.two.Ritardo1 : n.two.Ritardo2;
                int& np = which == 0 ? n.two.pos_thres_1 : n.two.pos_thres_2;
                nc = c;
                nd = d;
                if (c != own_c) {
                    np = median_position(sweeper, c);
                }
                out.push_back(n);
            }
        }
    }
    // The other types of model.
    for (int type = 0; type <= 3; ++type) {
        if (type != t.type_model) {
            out.push_back(two_variables(t.which_serie1, t.Ritardo1, t.pos_thres_1, t.which_serie2,
                                        t.Ritardo2, t.pos_thres_2, type));
        }
    }
    // One threshold variable: either of the two, two or three regimes.
    for (int which = 0; which < 2; ++which) {
        const int c = which == 0 ? t.which_serie1 : t.which_serie2;
        const int d = which == 0 ? t.Ritardo1 : t.Ritardo2;
        const int p = which == 0 ? t.pos_thres_1 : t.pos_thres_2;
        ModelStructure two_regimes = one_variable(c, d, 2);
        two_regimes.one.pos_threshold[0] = p == 0 ? 1 : p;
        out.push_back(two_regimes);
        out.push_back(sweeper.with_quantile_thresholds(one_variable(c, d, 3)));
    }
    return out;
}

double relative_margin(double criterion) {
    return 1e-12 * (1.0 + std::fabs(criterion));
}

// Screens the neighbours on `threads` threads, each with its own sweeper:
// a one-round descent for every neighbour, written to its own slot, so the
// outcome is the same for any thread count.
void screen_neighbours(std::vector<ThresholdSweeper*>& sweepers, std::vector<ModelStructure>& list,
                       std::vector<double>& screened, int stride, const std::atomic<bool>* stop) {
    screened.assign(list.size(), kNotFeasible);
    const int threads = list.size() < 2 ? 1 : static_cast<int>(sweepers.size());
    run_tasks(static_cast<long long>(list.size()), threads, [&](long long i, int member) {
        if (stop == nullptr || !stop->load()) {
            screened[static_cast<size_t>(i)] = sweepers[static_cast<size_t>(member)]->descend(
                list[static_cast<size_t>(i)], 1, stride);
        }
    });
}

}  // namespace

std::vector<ModelStructure> neighbour_structures(const ModelProblem& problem,
                                                 const ModelStructure& s,
                                                 const std::vector<int>& components) {
    ThresholdSweeper sweeper(problem);
    return neighbours(sweeper, s, components);
}

namespace {

struct Descent {
    ModelStructure structure;
    double criterion = kNotFeasible;  // exact
    int steps = 0;
    int rounds = 0;
};

bool stop_requested(const RefineOptions& options) {
    return options.stop != nullptr && options.stop->load();
}

// The descents' common count, and the thread that may call the progress
// hook (the caller's: a front end draws from one thread).
struct Tracker {
    std::atomic<int> done{0};
    int total = 0;
    std::thread::id caller = std::this_thread::get_id();

    void report(const RefineOptions& options, const Descent& d) const {
        if (options.progress && std::this_thread::get_id() == caller) {
            options.progress(RefineProgress{done.load(), total, d.steps, d.criterion});
        }
    }
};

// One descent from `start` (exact criterion `current`), screening neighbours
// with every sweeper given. Ends early, where it stands, on a stop.
Descent descend_from(std::vector<ThresholdSweeper*>& sweepers, const ModelStructure& start,
                     double current, const RefineOptions& options, const Tracker& tracker) {
    ThresholdSweeper& main = *sweepers[0];
    Descent d;
    d.structure = start;
    d.criterion = current;
    // The start's own thresholds first.
    {
        ModelStructure s = start;
        main.descend(s);
        const ThresholdFit fit = main.confirm(s);
        if (fit.estimable && fit.criterion < d.criterion - relative_margin(fit.criterion)) {
            d.structure = fit.structure;
            d.criterion = fit.criterion;
            ++d.steps;
        }
    }
    std::vector<double> screened;
    while (d.steps < options.max_steps && !stop_requested(options)) {
        ++d.rounds;
        tracker.report(options, d);
        std::vector<ModelStructure> list =
            neighbours(main, d.structure, options.threshold_components);
        screen_neighbours(sweepers, list, screened, options.screen_stride, options.stop);
        if (stop_requested(options)) {
            break;
        }

        // The most promising, by screened criterion then by their order.
        std::vector<size_t> order;
        for (size_t i = 0; i < list.size(); ++i) {
            if (screened[i] < kNotFeasible) {
                order.push_back(i);
            }
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return screened[a] < screened[b]; });
        order.resize(std::min(order.size(), idx(std::max(1, options.shortlist))));
        for (size_t i : order) {
            if (stop_requested(options)) {
                return d;
            }
            screened[i] = main.descend(list[i]);
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return screened[a] < screened[b]; });

        // Confirm in that order; the first that improves exactly is taken.
        // With orders chosen per regime the screens (every regime at m)
        // lie above the exact criteria, so none of them is ruled out by its
        // screen alone.
        const bool comparable = !main.problem().select_orders;
        bool accepted = false;
        for (size_t i : order) {
            if (comparable &&
                !(screened[i] < d.criterion + 1e-9 * (1.0 + std::fabs(d.criterion)))) {
                break;
            }
            const ThresholdFit fit = main.confirm(list[i]);
            if (fit.estimable && fit.criterion < d.criterion - relative_margin(fit.criterion)) {
                d.structure = fit.structure;
                d.criterion = fit.criterion;
                ++d.steps;
                accepted = true;
                break;
            }
        }
        if (!accepted) {
            break;
        }
    }
    return d;
}

bool same_shape(const ModelStructure& a, const ModelStructure& b) {
    if (a.threshold_variables != b.threshold_variables) {
        return false;
    }
    if (a.threshold_variables == 1) {
        return a.one.which_serie == b.one.which_serie &&
               a.one.threshold_lag == b.one.threshold_lag && a.one.n_regime == b.one.n_regime;
    }
    return a.two.which_serie1 == b.two.which_serie1 && a.two.which_serie2 == b.two.which_serie2 &&
           a.two.Ritardo1 == b.two.Ritardo1 && a.two.Ritardo2 == b.two.Ritardo2 &&
           a.two.type_model == b.two.type_model;
}

// The best two-regime models of one threshold variable, over every component
// and lag, each with its best threshold.
std::vector<ModelStructure> scanned_starts(ThresholdSweeper& sweeper, int count,
                                           const RefineOptions& options) {
    std::vector<std::pair<double, ModelStructure>> found;
    const ModelProblem& problem = sweeper.problem();
    for (int c = 1; c <= problem.threshold_columns(); ++c) {
        if (!serves(problem, options.threshold_components, c)) {
            continue;
        }
        for (int d = 1; d <= kMaxLag && !stop_requested(options); ++d) {
            ModelStructure s = sweeper.with_quantile_thresholds(one_variable(c, d, 2));
            const double criterion = sweeper.descend(s, 1, 4);
            if (criterion < kNotFeasible) {
                found.emplace_back(criterion, s);
            }
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ModelStructure> out;
    for (size_t i = 0; i < found.size() && static_cast<int>(i) < count; ++i) {
        out.push_back(found[i].second);
    }
    return out;
}

// The descents shared out by an executor (over the ranks of mpirun, say),
// one per task on the sweeper of the thread that runs it. Each comes back as
// bytes with the work its sweeper did, so that the counts are those of one
// process; `adjust` is what to add to this process's own sweepers' counts.
// Nothing when a stop cut a descent short.
std::optional<std::vector<Descent>> shared_descents(
    std::vector<std::unique_ptr<ThresholdSweeper>>& owned,
    const std::vector<ModelStructure>& starts, double start_exact, const RefineOptions& options,
    Tracker& tracker, std::array<long long, 2>& adjust) {
    auto counts = [&] {
        std::array<long long, 2> sum{0, 0};
        for (const auto& s : owned) {
            sum[0] += s->candidates_screened();
            sum[1] += s->exact_estimates();
        }
        return sum;
    };
    const std::array<long long, 2> before = counts();
    const long long jobs = static_cast<long long>(starts.size());
    const TaskResults ran = options.executor->run(
        jobs, options.threads,
        [&](long long j, int worker) -> std::optional<std::string> {
            ThresholdSweeper& mine = *owned[static_cast<size_t>(worker)];
            const long long candidates = mine.candidates_screened();
            const long long estimates = mine.exact_estimates();
            std::vector<ThresholdSweeper*> one{&mine};
            const ModelStructure& from = starts[static_cast<size_t>(j)];
            const double exact = j == 0 ? start_exact : mine.exact(from);
            const Descent d = descend_from(one, from, exact, options, tracker);
            ++tracker.done;
            if (stop_requested(options)) {
                return std::nullopt;
            }
            ByteWriter out;
            write_structure(out, d.structure);
            out.f64(d.criterion);
            out.u64(static_cast<std::uint64_t>(d.steps));
            out.u64(static_cast<std::uint64_t>(d.rounds));
            out.u64(static_cast<std::uint64_t>(mine.candidates_screened() - candidates));
            out.u64(static_cast<std::uint64_t>(mine.exact_estimates() - estimates));
            return std::move(out.bytes());
        },
        [&](long long, long long) { return !stop_requested(options); });
    if (!ran.completed) {
        return std::nullopt;
    }
    const std::array<long long, 2> after = counts();
    adjust = {before[0] - after[0], before[1] - after[1]};
    std::vector<Descent> descents(starts.size());
    for (size_t j = 0; j < descents.size(); ++j) {
        ByteReader in(ran.results[j]);
        Descent& d = descents[j];
        d.structure = read_structure(in);
        d.criterion = in.f64();
        d.steps = static_cast<int>(in.u64());
        d.rounds = static_cast<int>(in.u64());
        adjust[0] += static_cast<long long>(in.u64());
        adjust[1] += static_cast<long long>(in.u64());
    }
    return descents;
}

}  // namespace

RefineResult refine(const ModelProblem& problem, const ModelStructure& start,
                    const RefineOptions& options) {
    if (options.threads < 1) {
        throw std::invalid_argument("refine: threads must be >= 1");
    }
    std::vector<std::unique_ptr<ThresholdSweeper>> owned;
    for (int i = 0; i < options.threads; ++i) {
        owned.push_back(std::make_unique<ThresholdSweeper>(problem));
    }
    ThresholdSweeper& main = *owned[0];

    RefineResult result;
    result.start = start;
    const double start_exact = main.exact(start);
    result.start_criterion = start_exact < kNotFeasible ? start_exact : 0.0;

    // Descents from the start, the caller's other starts and the best
    // two-regime models of every component and lag: a descent ends in the
    // basin it starts in, and these reach the others.
    std::vector<ModelStructure> starts{start};
    std::vector<ModelStructure> candidates = options.extra_starts;
    if (options.scan_starts > 0) {
        const auto scanned = scanned_starts(main, options.scan_starts, options);
        candidates.insert(candidates.end(), scanned.begin(), scanned.end());
    }
    for (const ModelStructure& c : candidates) {
        bool seen = false;
        for (const ModelStructure& s : starts) {
            seen = seen || same_shape(s, c);
        }
        if (!seen) {
            starts.push_back(c);
        }
    }

    std::vector<Descent> descents(starts.size());
    const int jobs = static_cast<int>(starts.size());
    Tracker tracker;
    tracker.total = jobs;
    std::array<long long, 2> adjust{0, 0};
    bool cut_short = false;
    if (options.executor != nullptr && jobs > 1) {
        std::optional<std::vector<Descent>> shared =
            shared_descents(owned, starts, start_exact, options, tracker, adjust);
        cut_short = !shared;
        if (shared) {
            descents = std::move(*shared);
        }
    } else if (options.threads > 1 && jobs > 1) {
        // One descent per thread, each screening on its own sweeper.
        run_tasks(jobs, std::min(options.threads, jobs), [&](long long j, int member) {
            std::vector<ThresholdSweeper*> mine{owned[static_cast<size_t>(member)].get()};
            const int job = static_cast<int>(j);
            const double exact = job == 0 ? start_exact : mine[0]->exact(starts[idx(job)]);
            descents[idx(job)] = descend_from(mine, starts[idx(job)], exact, options, tracker);
            ++tracker.done;
        });
    } else {
        std::vector<ThresholdSweeper*> all;
        for (const auto& s : owned) {
            all.push_back(s.get());
        }
        for (int j = 0; j < jobs; ++j) {
            const double exact = j == 0 ? start_exact : main.exact(starts[idx(j)]);
            descents[idx(j)] = descend_from(all, starts[idx(j)], exact, options, tracker);
            ++tracker.done;
        }
    }
    if (cut_short || stop_requested(options)) {
        // Descents cut short would make the outcome depend on the moment.
        result.stopped = true;
        result.structure = start;
        result.criterion = result.start_criterion;
        return result;
    }

    // The least criterion, the earliest start on ties; the start's own
    // descent never ends above the start, so neither does the winner.
    size_t win = 0;
    for (size_t j = 1; j < descents.size(); ++j) {
        if (descents[j].criterion < descents[win].criterion) {
            win = j;
        }
    }
    const Descent& best = descents[win];
    result.structure = best.structure;
    result.steps = best.steps;
    for (const Descent& d : descents) {
        result.rounds += d.rounds;
    }
    result.starts = jobs;
    result.criterion = best.criterion < kNotFeasible ? best.criterion : 0.0;
    result.best_threshold = best.structure;
    result.best_threshold_criterion = result.criterion;
    if (options.linear_candidate && problem.model.criterion != Criterion::classic) {
        const ModelStructure linear = make_linear_structure();
        const double linear_exact = main.exact(linear);
        if (linear_exact < kNotFeasible) {
            result.linear_criterion = linear_exact;
            if (!(best.criterion < kNotFeasible) || linear_exact < best.criterion) {
                result.structure = linear;
                result.criterion = linear_exact;
                result.steps = 0;
            }
        }
    }
    main.exact(result.structure, &result.estimate);
    if (problem.select_orders) {
        // The orders chosen belong to the structure: estimated with them,
        // it gives the same model without choosing again.
        result.structure.orders = result.estimate.orders;
    }
    result.candidates = adjust[0];
    result.exact_estimates = adjust[1];
    for (const auto& s : owned) {
        result.candidates += s->candidates_screened();
        result.exact_estimates += s->exact_estimates();
    }
    return result;
}

}  // namespace velmora
