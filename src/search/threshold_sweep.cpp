#include "search/threshold_sweep.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <tuple>
#include <utility>

#include "model/incremental_least_squares.hpp"
#include "model/regime_rule.hpp"
#include "numeric/cholesky.hpp"

namespace velmora {

namespace {

using detail::add_outer;
using detail::AddFn;
using detail::MoveFn;
using detail::outer_for;
using detail::regress_for;
using detail::RegressFn;
using std::size_t;

inline size_t idx(int i) {
    return static_cast<size_t>(i);
}

// The value the one-threshold estimator gives thresholds it does not use.
constexpr double kUnusedThreshold = 1000000.0;

int first_time(const ModelStructure& s) {
    return s.threshold_variables == 1 ? s.one.threshold_lag + 1
                                      : std::max(s.two.Ritardo1, s.two.Ritardo2) + 1;
}

// ln det of a symmetric positive definite k x k matrix (destroyed), or NaN.
double log_det(double* a, int k) {
    double ld = 0.0;
    for (int i = 0; i < k; ++i) {
        double* ai = a + idx(i) * idx(k);
        for (int j = 0; j <= i; ++j) {
            const double* aj = a + idx(j) * idx(k);
            double s = ai[j];
            for (int l = 0; l < j; ++l) {
                s -= ai[l] * aj[l];
            }
            if (i == j) {
                if (!(s > 0.0)) {
                    return std::nan("");
                }
                ai[i] = std::sqrt(s);
                ld += std::log(s);
            } else {
                ai[j] = s / aj[j];
            }
        }
    }
    return ld;
}

}  // namespace

struct ThresholdSweeper::Scratch {
    const ModelProblem* problem = nullptr;
    const EstimationWorkspace* ws = nullptr;
    int n = 0, k = 0, m = 0, d = 0, q = 0, dim = 0;
    DesignView design;
    // Times 1..n_oss of each threshold column (index 1..), ordered by (value,
    // time); sorted when a sweep first needs the component.
    std::vector<std::vector<int>> by_value;

    // Per regime 1..4 in [0..3]: cross products of v_t over the regime's times
    // of the order-m pass (upper triangle), their sums and count, and the
    // regression results derived from them while the regime is unchanged.
    std::array<std::vector<double>, 4> g;
    std::array<std::vector<double>, 4> sum;
    std::array<int, 4> count{};
    std::array<bool, 4> dirty{};
    std::array<bool, 4> solvable{};
    std::array<std::vector<double>, 4> sse;
    std::array<std::vector<double>, 4> sres;

    // The structure being evaluated.
    int n_regime = 2;
    int start = 2;                    // first time of the regimes' lists
    int full = 3;                     // first time of the order-m pass: max(start, m + 1)
    std::vector<int> low, high, now;  // regimes per time (0: in no regime)
    double penalty = 0.0;

    std::vector<double> chol, w, u, gp, sp, tmp_sse, tmp_sres, total, tsum, e;
    // Cross products of all times from a first time on ([first]), on demand.
    std::array<std::vector<double>, kMaxLag + kMaxOrder + 2> totals;
    std::array<std::vector<double>, kMaxLag + kMaxOrder + 2> total_sums;
    RegressFn regress_m = nullptr;                     // order m, k components
    std::array<RegressFn, kMaxOrder + 1> regress_p{};  // lower orders
    AddFn add = nullptr;                               // dim wide
    MoveFn move = nullptr;
    std::vector<SweepCandidate> best;
    // The likelihood-ratio measure: times placed, each regime's regressors
    // (the deterministic terms and its own order's lags), and its scratch.
    int placed = 0;
    std::array<int, 4> lq{};
    std::vector<double> lfactor, lw, ltotal, lsigma;

    const std::vector<int>& order_of(int c) {
        std::vector<int>& order = by_value[idx(c)];
        if (order.empty()) {
            order.resize(idx(n));
            std::iota(order.begin(), order.end(), 1);
            std::stable_sort(order.begin(), order.end(),
                             [&](int a, int b) { return ws->value(a, c) < ws->value(b, c); });
        }
        return order;
    }

    const double* v(int t) const { return design.responses(t); }

    // Regimes of every time for a sweep of threshold `which` (which < 0: the
    // structure as it stands). Sets the swept variable's component and lag.
    void layout(const ModelStructure& s, int which, int& component, int& lag) {
        // The information criteria score every structure from the
        // problem's common first row.
        start = std::max(first_time(s), problem->first_row());
        full = std::max(start, m + 1);
        n_regime = regime_count(s);
        penalty = criterion_penalty(n, n_regime, k, m, d);
        const EstimationWorkspace& x = *ws;
        if (s.threshold_variables == 1) {
            const OneThresholdStructure& o = s.one;
            component = o.which_serie;
            lag = o.threshold_lag;
            std::array<double, 3> others{kUnusedThreshold, kUnusedThreshold, kUnusedThreshold};
            for (int i = 0; i < o.n_regime - 1; ++i) {
                if (i != which) {
                    const int pos = o.pos_threshold[idx(i)] == 0 ? 30 : o.pos_threshold[idx(i)];
                    others[idx(i)] = x.value(pos, o.which_serie);
                }
            }
            for (int t = start; t <= n; ++t) {
                const double z = x.value(t - lag, component);
                int base = 1;
                for (int i = 0; i < 3; ++i) {
                    if (i != which && others[idx(i)] < z) {
                        ++base;
                    }
                }
                const int hi = which >= 0 ? base + 1 : base;
                low[idx(t)] = base <= n_regime ? base : 0;
                high[idx(t)] = hi <= n_regime ? hi : 0;
            }
            return;
        }
        const TwoThresholdStructure& tw = s.two;
        const double t1 = x.value(tw.pos_thres_1 == 0 ? 1 : tw.pos_thres_1, tw.which_serie1);
        const double t2 = x.value(tw.pos_thres_2 == 0 ? 1 : tw.pos_thres_2, tw.which_serie2);
        component = which == 1 ? tw.which_serie2 : tw.which_serie1;
        lag = which == 1 ? tw.Ritardo2 : tw.Ritardo1;
        for (int t = start; t <= n; ++t) {
            const double a = x.value(t - tw.Ritardo1, tw.which_serie1);
            const double b = x.value(t - tw.Ritardo2, tw.which_serie2);
            int lo_q = 0;
            int hi_q = 0;
            if (which == 0) {
                lo_q = b <= t2 ? 2 : 3;
                hi_q = b <= t2 ? 0 : 1;
            } else if (which == 1) {
                lo_q = a > t1 ? 0 : 2;
                hi_q = a > t1 ? 1 : 3;
            } else {
                lo_q = hi_q = quadrant_of(a, b, t1, t2);
            }
            low[idx(t)] = quadrant_regime(tw.n_regime, tw.type_model, lo_q);
            high[idx(t)] = quadrant_regime(tw.n_regime, tw.type_model, hi_q);
        }
    }

    // Regime of threshold values z1 (and z2) with thresholds ts, 0 when
    // none applies.
    int value_regime(const ModelStructure& s, const std::array<double, 3>& ts, double z1,
                     double z2) const {
        if (s.threshold_variables == 1) {
            const int r = regime_below(ts.data(), 3, z1);
            return r <= n_regime ? r : 0;
        }
        return quadrant_regime(n_regime, s.two.type_model, quadrant_of(z1, z2, ts[0], ts[1]));
    }

    // The likelihood-ratio layout: regimes of the times max(lags, m) + 1 .. n
    // for thresholds given as values, threshold `which` swept between its
    // neighbours (which < 0: as they stand; linear: one regime). Counts the
    // times placed at all. Sets the swept variable's component and lag.
    void layout_values(const ModelStructure& s, const std::array<double, 3>& ts, int which,
                       bool linear, int& component, int& lag) {
        constexpr double kInf = std::numeric_limits<double>::infinity();
        const bool one = s.threshold_variables == 1;
        start = first_time(s);
        full = std::max(start, m + 1);
        n_regime = regime_count(s);
        for (int r = 0; r < 4; ++r) {
            const int p = s.orders[idx(r)];
            lq[idx(r)] = d + (p >= 1 && p <= m ? p : m) * k;
        }
        const int c1 = one ? s.one.which_serie : s.two.which_serie1;
        const int d1 = one ? s.one.threshold_lag : s.two.Ritardo1;
        const int c2 = one ? c1 : s.two.which_serie2;
        const int d2 = one ? d1 : s.two.Ritardo2;
        component = !one && which == 1 ? c2 : c1;
        lag = !one && which == 1 ? d2 : d1;
        std::array<double, 3> low_side = ts;
        std::array<double, 3> high_side = ts;
        if (which >= 0) {
            low_side[idx(which)] = one && which < 2 ? ts[idx(which + 1)] : kInf;
            high_side[idx(which)] = one && which > 0 ? ts[idx(which - 1)] : -kInf;
        }
        const std::array<double, 3> widest{kUnusedThreshold, kUnusedThreshold, kUnusedThreshold};
        std::fill(low.begin(), low.end(), 0);
        std::fill(high.begin(), high.end(), 0);
        std::fill(now.begin(), now.end(), 0);
        placed = 0;
        for (int t = full; t <= n; ++t) {
            const double z1 = ws->value(t - d1, c1);
            const double z2 = one ? 0.0 : ws->value(t - d2, c2);
            // Above the unused slots' value no regime of a smaller model applies.
            if (one && value_regime(s, widest, z1, z2) == 0) {
                continue;
            }
            ++placed;
            if (linear) {
                low[idx(t)] = high[idx(t)] = 1;
            } else {
                low[idx(t)] = value_regime(s, low_side, z1, z2);
                high[idx(t)] = value_regime(s, high_side, z1, z2);
            }
        }
        if (linear) {
            n_regime = 1;
        }
    }

    // Every time in its high regime, the cross products accumulated in time
    // order (no shortcut through the total: the sums must be those of a
    // plain accumulation).
    void place_high_in_order() {
        for (int r = 0; r < 4; ++r) {
            count[idx(r)] = 0;
            dirty[idx(r)] = true;
            std::fill(g[idx(r)].begin(), g[idx(r)].end(), 0.0);
            std::fill(sum[idx(r)].begin(), sum[idx(r)].end(), 0.0);
        }
        for (int t = full; t <= n; ++t) {
            const int r = high[idx(t)];
            now[idx(t)] = r;
            if (r > 0) {
                ++count[idx(r - 1)];
                add(g[idx(r - 1)].data(), sum[idx(r - 1)].data(), dim, v(t), dim, 1.0);
            }
        }
    }

    // ln det of the regimes' residual cross products over T; kNotFeasible
    // when a regime is under min_count (min_count > 0) or a matrix singular.
    double log_det_now(int min_count, int T) {
        if (min_count > 0) {
            for (int r = 0; r < n_regime; ++r) {
                if (count[idx(r)] < min_count) {
                    return kNotFeasible;
                }
            }
        }
        std::fill(ltotal.begin(), ltotal.end(), 0.0);
        for (int r = 0; r < n_regime; ++r) {
            if (count[idx(r)] == 0) {
                continue;
            }
            // g holds (y, z) cross products above the diagonal: Z'Z at
            // [k + j][k + i], Z'Y at [c][k + i], Y'Y at [b][a] (j <= i, b <= a).
            // The leading block of the regressors is the regime's own order.
            const int qr = lq[idx(r)];
            const double* gr = g[idx(r)].data();
            for (int i = 0; i < qr; ++i) {
                for (int j = 0; j <= i; ++j) {
                    lfactor[idx(i) * idx(qr) + idx(j)] = gr[idx(k + j) * idx(dim) + idx(k + i)];
                }
            }
            if (!cholesky_in_place(lfactor.data(), qr)) {
                return kNotFeasible;
            }
            // W = L^-1 Z'Y, so that (Z'Y)'(Z'Z)^-1 Z'Y = W'W.
            for (int i = 0; i < qr; ++i) {
                const double* li = lfactor.data() + idx(i) * idx(qr);
                for (int c = 0; c < k; ++c) {
                    double x = gr[idx(c) * idx(dim) + idx(k + i)];
                    for (int l = 0; l < i; ++l) {
                        x -= li[l] * lw[idx(l) * idx(k) + idx(c)];
                    }
                    lw[idx(i) * idx(k) + idx(c)] = x / li[i];
                }
            }
            for (int a = 0; a < k; ++a) {
                for (int b = 0; b <= a; ++b) {
                    double x = gr[idx(b) * idx(dim) + idx(a)];
                    for (int i = 0; i < qr; ++i) {
                        x -= lw[idx(i) * idx(k) + idx(a)] * lw[idx(i) * idx(k) + idx(b)];
                    }
                    ltotal[idx(a) * idx(k) + idx(b)] += x;
                }
            }
        }
        for (int a = 0; a < k; ++a) {
            for (int b = 0; b <= a; ++b) {
                lsigma[idx(a) * idx(k) + idx(b)] = ltotal[idx(a) * idx(k) + idx(b)] / T;
            }
        }
        if (!cholesky_in_place(lsigma.data(), k)) {
            return kNotFeasible;
        }
        double ld = 0.0;
        for (int a = 0; a < k; ++a) {
            ld += std::log(lsigma[idx(a) * idx(k) + idx(a)]);
        }
        return 2.0 * ld;
    }

    // Every time in its high regime; cross products built afresh.
    // Cross products of every time from `first` on (all regimes together),
    // built once per first time.
    const std::vector<double>& total_from(int first) {
        std::vector<double>& t = totals[idx(first)];
        std::vector<double>& ts = total_sums[idx(first)];
        if (t.empty()) {
            t.assign(idx(dim) * idx(dim), 0.0);
            ts.assign(idx(dim), 0.0);
            for (int time = first; time <= n; ++time) {
                add(t.data(), ts.data(), dim, v(time), dim, 1.0);
            }
        }
        return t;
    }

    void place_high() {
        for (int r = 0; r < 4; ++r) {
            count[idx(r)] = 0;
            dirty[idx(r)] = true;
        }
        bool dropped = false;
        for (int t = start; t <= n; ++t) {
            const int r = high[idx(t)];
            now[idx(t)] = r;
            if (t >= full) {
                if (r > 0) {
                    ++count[idx(r - 1)];
                } else {
                    dropped = true;
                }
            }
        }
        // The fullest regime is the total less the others: one pass over the
        // times of the smaller regimes instead of all.
        int fullest = 0;
        for (int r = 1; r < 4; ++r) {
            fullest = count[idx(r)] > count[idx(fullest)] ? r : fullest;
        }
        if (dropped) {
            fullest = -1;
        }
        for (int r = 0; r < 4; ++r) {
            std::fill(g[idx(r)].begin(), g[idx(r)].end(), 0.0);
            std::fill(sum[idx(r)].begin(), sum[idx(r)].end(), 0.0);
        }
        for (int t = full; t <= n; ++t) {
            const int r = high[idx(t)];
            if (r > 0 && r - 1 != fullest) {
                add(g[idx(r - 1)].data(), sum[idx(r - 1)].data(), dim, v(t), dim, 1.0);
            }
        }
        if (fullest >= 0) {
            const std::vector<double>& t = total_from(full);
            const std::vector<double>& ts = total_sums[idx(full)];
            std::vector<double>& gf = g[idx(fullest)];
            std::vector<double>& sf = sum[idx(fullest)];
            for (int i = 0; i < dim; ++i) {
                for (int j = i; j < dim; ++j) {
                    double x = t[idx(i) * idx(dim) + idx(j)];
                    for (int r = 0; r < 4; ++r) {
                        if (r != fullest) {
                            x -= g[idx(r)][idx(i) * idx(dim) + idx(j)];
                        }
                    }
                    gf[idx(i) * idx(dim) + idx(j)] = x;
                }
                double y = ts[idx(i)];
                for (int r = 0; r < 4; ++r) {
                    if (r != fullest) {
                        y -= sum[idx(r)][idx(i)];
                    }
                }
                sf[idx(i)] = y;
            }
        }
    }

    // Moves time t to its low regime.
    void move_low(int t) {
        const int from = now[idx(t)];
        const int to = low[idx(t)];
        if (from == to) {
            return;
        }
        now[idx(t)] = to;
        if (t >= full) {
            if (from > 0 && to > 0) {
                move(g[idx(from - 1)].data(), sum[idx(from - 1)].data(), g[idx(to - 1)].data(),
                     sum[idx(to - 1)].data(), dim, v(t), dim);
            } else if (from > 0) {
                add(g[idx(from - 1)].data(), sum[idx(from - 1)].data(), dim, v(t), dim, -1.0);
            } else if (to > 0) {
                add(g[idx(to - 1)].data(), sum[idx(to - 1)].data(), dim, v(t), dim, 1.0);
            }
            if (from > 0) {
                --count[idx(from - 1)];
                dirty[idx(from - 1)] = true;
            }
            if (to > 0) {
                ++count[idx(to - 1)];
                dirty[idx(to - 1)] = true;
            }
        } else if (n_regime > 0) {
            // A time of the lower orders only: it can change the last
            // regime's lower-order fits.
            dirty[idx(n_regime - 1)] = true;
        }
    }

    // The residual of the last regime's order-p fit at that regime's latest
    // time, added to total/tsum: the one row of pass p that no later pass
    // overwrites. False when that fit is singular.
    bool add_leftover(int p) {
        const int last = n_regime;
        int t_last = 0;
        for (int t = n; t >= start; --t) {
            if (now[idx(t)] == last) {
                t_last = t;
                break;
            }
        }
        if (t_last == 0) {
            return false;
        }
        const int dp = k + d + p * k;
        // Leading block of the order-m cross products, plus the regime's
        // times p+1..full-1 that the order-m pass leaves out.
        const std::vector<double>& gr = g[idx(last - 1)];
        for (int i = 0; i < dp; ++i) {
            for (int j = i; j < dp; ++j) {
                gp[idx(i) * idx(dim) + idx(j)] = gr[idx(i) * idx(dim) + idx(j)];
            }
            sp[idx(i)] = sum[idx(last - 1)][idx(i)];
        }
        for (int t = std::max(start, p + 1); t < full; ++t) {
            if (now[idx(t)] == last) {
                add_outer<0>(gp.data(), sp.data(), dim, v(t), dp, 1.0);
            }
        }
        if (!regress_p[idx(p)](gp.data(), sp.data(), dim, k, p, d, chol.data(), w.data(), u.data(),
                               tmp_sse.data(), tmp_sres.data())) {
            return false;
        }
        // e = y - W' L^-1 z at t_last.
        const int qp = d + p * k;
        const double* vt = v(t_last);
        for (int i = 0; i < qp; ++i) {
            double s = vt[k + i];
            for (int j = 0; j < i; ++j) {
                s -= chol[idx(i) * idx(qp) + idx(j)] * u[idx(j)];
            }
            u[idx(i)] = s / chol[idx(i) * idx(qp) + idx(i)];
        }
        for (int c = 0; c < k; ++c) {
            double s = vt[c];
            for (int i = 0; i < qp; ++i) {
                s -= w[idx(i) * idx(k) + idx(c)] * u[idx(i)];
            }
            e[idx(c)] = s;
        }
        for (int c = 0; c < k; ++c) {
            for (int l = 0; l < k; ++l) {
                total[idx(c) * idx(k) + idx(l)] += e[idx(c)] * e[idx(l)];
            }
            tsum[idx(c)] += e[idx(c)];
        }
        return true;
    }

    // The screened criterion of the regimes as they stand, or kNotFeasible.
    double evaluate() {
        for (int r = 0; r < n_regime; ++r) {
            if (!problem->model.admits_regime(count[idx(r)])) {
                return kNotFeasible;
            }
        }
        for (int r = 0; r < n_regime; ++r) {
            if (dirty[idx(r)]) {
                solvable[idx(r)] =
                    regress_m(g[idx(r)].data(), sum[idx(r)].data(), dim, k, m, d, chol.data(),
                              w.data(), u.data(), sse[idx(r)].data(), sres[idx(r)].data());
                dirty[idx(r)] = false;
            }
            if (!solvable[idx(r)]) {
                return kNotFeasible;
            }
        }
        std::fill(total.begin(), total.end(), 0.0);
        std::fill(tsum.begin(), tsum.end(), 0.0);
        for (int r = 0; r < n_regime; ++r) {
            for (size_t i = 0; i < total.size(); ++i) {
                total[i] += sse[idx(r)][i];
            }
            for (int c = 0; c < k; ++c) {
                tsum[idx(c)] += sres[idx(r)][idx(c)];
            }
        }
        if (problem->model.criterion != Criterion::classic) {
            return information_value();
        }
        // Pass p's last row survives when the lists start before time p + 1.
        for (int p = std::max(start - 1, 1); p < m; ++p) {
            if (!add_leftover(p)) {
                return kNotFeasible;
            }
        }
        const double nn = n;
        for (int c = 0; c < k; ++c) {
            for (int l = 0; l < k; ++l) {
                total[idx(c) * idx(k) + idx(l)] = total[idx(c) * idx(k) + idx(l)] / nn -
                                                  (tsum[idx(c)] / nn) * (tsum[idx(l)] / nn);
            }
        }
        const double ld = log_det(total.data(), k);
        if (!std::isfinite(ld)) {
            return kNotFeasible;
        }
        return ld + penalty;
    }

    // An information criterion of the order-m residual cross products in
    // total: not demeaned, over the rows the regimes hold.
    double information_value() {
        int rows = 0;
        for (int r = 0; r < n_regime; ++r) {
            rows += count[idx(r)];
        }
        for (double& x : total) {
            x /= rows;
        }
        const double ld = log_det(total.data(), k);
        if (!std::isfinite(ld)) {
            return kNotFeasible;
        }
        return information_criterion(problem->model.criterion, ld, rows,
                                     estimated_coefficients(n_regime, k, m, d));
    }

    void offer(std::size_t keep, int position, double threshold, double criterion, int rank) {
        if (!(criterion < kNotFeasible)) {
            return;
        }
        if (best.size() == keep && !(criterion < best.back().criterion)) {
            return;
        }
        SweepCandidate c{position, threshold, criterion, rank};
        auto at = std::upper_bound(best.begin(), best.end(), c,
                                   [](const SweepCandidate& a, const SweepCandidate& b) {
                                       return a.criterion < b.criterion;
                                   });
        best.insert(at, c);
        if (best.size() > keep) {
            best.pop_back();
        }
    }
};

ThresholdSweeper::ThresholdSweeper(const ModelProblem& problem)
    : problem_(problem), workspace_(problem), scratch_(std::make_unique<Scratch>()) {
    Scratch& sc = *scratch_;
    sc.problem = &problem_;
    sc.ws = &workspace_;
    sc.n = problem.n_oss;
    sc.k = problem.n_comp;
    sc.m = problem.model.max_order;
    sc.d = workspace_.d;
    sc.design = workspace_.design();
    sc.q = sc.d + sc.m * sc.k;
    sc.dim = sc.q + sc.k;
    sc.regress_m = regress_for(sc.k, sc.m, sc.d);
    for (int p = 1; p <= kMaxOrder; ++p) {
        sc.regress_p[idx(p)] = regress_for(sc.k, p, sc.d);
    }
    std::tie(sc.add, sc.move) = outer_for(sc.dim);
    const size_t d2 = idx(sc.dim) * idx(sc.dim);
    const size_t kk = idx(sc.k) * idx(sc.k);
    for (int r = 0; r < 4; ++r) {
        sc.g[idx(r)].assign(d2, 0.0);
        sc.sum[idx(r)].assign(idx(sc.dim), 0.0);
        sc.sse[idx(r)].assign(kk, 0.0);
        sc.sres[idx(r)].assign(idx(sc.k), 0.0);
    }
    sc.low.assign(idx(sc.n) + 1, 0);
    sc.high.assign(idx(sc.n) + 1, 0);
    sc.now.assign(idx(sc.n) + 1, 0);
    sc.chol.assign(idx(sc.q) * idx(sc.q), 0.0);
    sc.w.assign(idx(sc.q) * idx(sc.k), 0.0);
    sc.u.assign(idx(sc.q), 0.0);
    sc.gp.assign(d2, 0.0);
    sc.sp.assign(idx(sc.dim), 0.0);
    sc.tmp_sse.assign(kk, 0.0);
    sc.tmp_sres.assign(idx(sc.k), 0.0);
    sc.total.assign(kk, 0.0);
    sc.tsum.assign(idx(sc.k), 0.0);
    sc.e.assign(idx(sc.k), 0.0);
    sc.lfactor.assign(idx(sc.q) * idx(sc.q), 0.0);
    sc.lw.assign(idx(sc.q) * idx(sc.k), 0.0);
    sc.ltotal.assign(kk, 0.0);
    sc.lsigma.assign(kk, 0.0);
    sc.by_value.resize(idx(problem.threshold_columns()) + 1);
}

ThresholdSweeper::~ThresholdSweeper() = default;

int ThresholdSweeper::threshold_count(const ModelStructure& s) {
    return s.threshold_variables == 1 ? s.one.n_regime - 1 : 2;
}

std::span<const SweepCandidate> ThresholdSweeper::sweep(const ModelStructure& s, int which,
                                                        int keep, int stride) {
    return sweep_windows(s, which, keep, stride, {});
}

std::span<const SweepCandidate> ThresholdSweeper::sweep_windows(
    const ModelStructure& s, int which, int keep, int stride,
    std::span<const std::pair<int, int>> windows) {
    Scratch& sc = *scratch_;
    sc.best.clear();
    int component = 1;
    int lag = 1;
    sc.layout(s, which, component, lag);
    sc.place_high();
    const std::vector<int>& order = sc.order_of(component);
    const std::size_t want = static_cast<std::size_t>(std::max(1, keep));
    bool moved = true;  // the all-high split has not been scored
    const int every = std::max(1, stride);
    int group = 0;
    std::size_t i = 0;
    while (i < order.size()) {
        // One group of equal values: every time whose threshold variable
        // takes it moves below the threshold together.
        const double value = workspace_.value(order[i], component);
        int position = 0;
        for (; i < order.size() && workspace_.value(order[i], component) == value; ++i) {
            const int source = order[i];
            const int t = source + lag;
            if (t >= sc.start && t <= sc.n && sc.low[idx(t)] != sc.now[idx(t)]) {
                sc.move_low(t);
                moved = true;
            }
            if (position == 0 && source <= sc.n - 1) {
                position = source;
            }
        }
        if (position == 0 || !moved) {
            continue;
        }
        const int rank = group++;
        bool wanted = rank % every == 0;
        for (const auto& [lo, hi] : windows) {
            wanted = wanted || (rank >= lo && rank <= hi);
        }
        if (!wanted) {
            continue;
        }
        moved = false;
        ++candidates_;
        sc.offer(want, position, value, sc.evaluate(), rank);
    }
    return sc.best;
}

double ThresholdSweeper::screened(const ModelStructure& s) {
    Scratch& sc = *scratch_;
    int component = 1;
    int lag = 1;
    sc.layout(s, -1, component, lag);
    sc.place_high();
    ++candidates_;
    return sc.evaluate();
}

double ThresholdSweeper::log_det_sigma(const ModelStructure& shape,
                                       const std::array<double, 3>& thresholds, int min_count) {
    Scratch& sc = *scratch_;
    int component = 1;
    int lag = 1;
    sc.layout_values(shape, thresholds, -1, false, component, lag);
    sc.place_high_in_order();
    int T = 0;
    for (int r = 0; r < sc.n_regime; ++r) {
        T += sc.count[idx(r)];
    }
    return sc.log_det_now(min_count, T);
}

double ThresholdSweeper::log_det_sigma_linear(const ModelStructure& shape, int order) {
    Scratch& sc = *scratch_;
    int component = 1;
    int lag = 1;
    ModelStructure linear = shape;
    linear.orders = {order, 0, 0, 0};
    sc.layout_values(linear, {}, -1, true, component, lag);
    sc.place_high_in_order();
    return sc.log_det_now(0, sc.placed);
}

std::vector<LogDetPoint> ThresholdSweeper::log_det_sweep(const ModelStructure& shape,
                                                         const std::array<double, 3>& thresholds,
                                                         int which, int min_count) {
    Scratch& sc = *scratch_;
    int component = 1;
    int lag = 1;
    sc.layout_values(shape, thresholds, which, false, component, lag);
    sc.place_high_in_order();
    const int T = sc.placed;
    std::vector<LogDetPoint> points;
    const std::vector<int>& order = sc.order_of(component);
    std::size_t i = 0;
    while (i < order.size()) {
        // Every time whose threshold variable takes this value moves below
        // the threshold together.
        const double value = workspace_.value(order[i], component);
        bool moved = false;
        for (; i < order.size() && workspace_.value(order[i], component) == value; ++i) {
            const int t = order[i] + lag;
            if (t <= sc.n && sc.low[idx(t)] != sc.now[idx(t)]) {
                sc.move_low(t);
                moved = true;
            }
        }
        if (!moved) {
            continue;
        }
        const double ld = sc.log_det_now(min_count, T);
        if (std::isfinite(ld)) {
            points.push_back({value, ld});
        }
    }
    return points;
}

double ThresholdSweeper::exact(const ModelStructure& s, FittedModel* model) {
    ++exact_estimates_;
    CriterionResult result;
    if (model != nullptr) {
        *model = estimate(problem_, workspace_, s);
        result = {model->status, model->criterion};
    } else {
        result = estimate_criterion(problem_, workspace_, s);
    }
    if (!result.estimated() || result.criterion == 0.0) {
        return kNotFeasible;
    }
    return result.criterion;
}

namespace {

int& position_of(ModelStructure& s, int which) {
    if (s.threshold_variables == 1) {
        return s.one.pos_threshold[idx(which)];
    }
    return which == 0 ? s.two.pos_thres_1 : s.two.pos_thres_2;
}

}  // namespace

double ThresholdSweeper::descend(ModelStructure& s, int max_rounds, int stride) {
    // A coarse descent only screens: it takes each sweep's best split even
    // when the structure's own split was better.
    double current = stride > 1 ? kNotFeasible : screened(s);
    const int count = threshold_count(s);
    for (int round = 0; round < max_rounds; ++round) {
        bool improved = false;
        for (int j = 0; j < count; ++j) {
            std::span<const SweepCandidate> found;
            if (stride > 1) {
                found = sweep(s, j, 1, stride);
            } else {
                // Coarse, then fine around the three best coarse splits.
                constexpr int kCoarse = 12;
                const auto coarse = sweep(s, j, 3, kCoarse);
                std::array<std::pair<int, int>, 3> windows{};
                std::size_t count_windows = 0;
                for (const SweepCandidate& c : coarse) {
                    windows[count_windows++] = {c.rank - kCoarse, c.rank + kCoarse};
                }
                found = sweep_windows(s, j, 1, 1 << 30, std::span(windows.data(), count_windows));
            }
            // A relative margin keeps rounding noise from cycling.
            const double margin = current < kNotFeasible ? 1e-12 * (1.0 + std::fabs(current)) : 0.0;
            if (!found.empty() && found[0].criterion < current - margin) {
                position_of(s, j) = found[0].position;
                current = found[0].criterion;
                improved = true;
            }
        }
        if (!improved || count == 1) {
            break;
        }
    }
    return current;
}

ThresholdFit ThresholdSweeper::confirm(const ModelStructure& start, int keep) {
    const long long candidates_before = candidates_;
    const long long exact_before = exact_estimates_;
    ThresholdFit fit;
    fit.structure = start;
    double best = exact(start);
    const int count = threshold_count(start);
    for (int round = 0; round < 4; ++round) {
        bool improved = false;
        for (int j = 0; j < count; ++j) {
            // A copy: the sweeper's list is reused by the next sweep.
            const auto found = sweep(fit.structure, j, keep);
            const std::vector<SweepCandidate> list(found.begin(), found.end());
            for (const SweepCandidate& c : list) {
                ModelStructure trial = fit.structure;
                if (position_of(trial, j) == c.position) {
                    continue;
                }
                position_of(trial, j) = c.position;
                const double aic = exact(trial);
                if (aic < best) {
                    best = aic;
                    fit.structure = trial;
                    improved = true;
                }
            }
        }
        if (!improved) {
            break;
        }
    }
    fit.estimable = best < kNotFeasible;
    fit.criterion = fit.estimable ? best : 0.0;
    fit.screened = screened(fit.structure);
    fit.candidates = candidates_ - candidates_before;
    fit.exact_estimates = static_cast<int>(exact_estimates_ - exact_before);
    return fit;
}

ModelStructure ThresholdSweeper::with_quantile_thresholds(ModelStructure s) const {
    Scratch& sc = *scratch_;
    auto quantile = [&](int component, int num, int den) {
        // Ranks among positions 1..n_oss-1, skipping time n_oss.
        const std::vector<int>& order = sc.order_of(component);
        const int target = static_cast<int>((static_cast<long long>(sc.n - 1) * num) / den);
        int rank = 0;
        for (int t : order) {
            if (t > sc.n - 1) {
                continue;
            }
            if (rank == target) {
                return t;
            }
            ++rank;
        }
        return 1;
    };
    if (s.threshold_variables == 1) {
        for (int i = 0; i < s.one.n_regime - 1; ++i) {
            s.one.pos_threshold[idx(i)] = quantile(s.one.which_serie, i + 1, s.one.n_regime);
        }
    } else {
        s.two.pos_thres_1 = quantile(s.two.which_serie1, 1, 2);
        s.two.pos_thres_2 = quantile(s.two.which_serie2, 1, 2);
    }
    return s;
}

ThresholdFit ThresholdSweeper::fit_thresholds(const ModelStructure& shape, bool from_quantiles) {
    const long long candidates_before = candidates_;
    const long long exact_before = exact_estimates_;
    ModelStructure s = from_quantiles ? with_quantile_thresholds(shape) : shape;
    descend(s);
    ThresholdFit fit = confirm(s);
    fit.candidates = candidates_ - candidates_before;
    fit.exact_estimates = static_cast<int>(exact_estimates_ - exact_before);
    return fit;
}

}  // namespace velmora
