// A whole replication replayed from the rules of the search, with chromosomes
// held as lists of field codes rather than packed words, its own subtractive
// generator and its own statistics and scaling. The engine must produce the
// very same populations: every draw, its order and every single-precision
// rounding are visible in the result.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/methods.hpp"
#include "engine/engine_state.hpp"
#include "engine_test_helpers.hpp"
#include "support/statistics.hpp"

namespace velmora {
namespace {

// --- the generator ---

struct Stream {
    std::array<double, 55> t{};
    int cursor = 0;

    explicit Stream(int casual) {
        const float seed = static_cast<float>(casual) / 1000.0f;
        t[54] = seed;
        double fresh = 1.0e-9;
        double prev = seed;
        for (int i = 1; i <= 54; ++i) {
            const int k = (21 * i) % 54;
            t[k] = fresh;
            fresh = prev - fresh;
            if (fresh < 0.0) {
                fresh += 1.0;
            }
            prev = t[k];
        }
        refill();
        refill();
        refill();
    }
    void refill() {
        for (int j = 0; j < 55; ++j) {
            const double v = t[j] - (j < 24 ? t[j + 31] : t[j - 24]);
            t[j] = v < 0.0 ? v + 1.0 : v;
        }
    }
    double uniform() {
        if (++cursor >= 55) {
            cursor = 1;
            refill();
        }
        return t[cursor];
    }
    int coin(float prob) { return uniform() <= prob ? 1 : 0; }
    int integer(int low, int high) {
        if (low >= high) {
            return low;
        }
        int v = static_cast<int>(uniform() * (high - low + 1) + low);
        return v > high ? high : v;
    }
};

// --- the search ---

struct Member {
    std::vector<int> codes;
    double raw = 0.0;
    double scaled = 0.0;
    int eval_number = 0;
    int parent1 = 0;
    int parent2 = 0;
    int xsite1 = 0;
    int xsite2 = 0;
};

// The reference's rules read the historical encoding of the scaling method
// (beta -1, window -1, sigma 0 and a ratio of 1 or less switch a method off);
// the engine receives the method itself.
struct Settings {
    ScalingMethod method = ScalingMethod::linear;
    SelectionMethod selection = SelectionMethod::roulette;
    CrossoverMethod crossover = CrossoverMethod::one_point;
    float pcross = 0.7f;
    float pmutation = 0.02f;
    int tourneysize = 3;
    float scalemult = 0.0f;
    double beta = -1.0;
    int autocontrol = 0;
    float beta_s_tilde = 0.0f;
    float sigma_trunc = 0.0f;
    int scaling_window = -1;
};

double weighted_fitness(const std::vector<int>& codes) {
    // Different weights per field so that crossing changes the fitness.
    double sum = 1.0;
    for (std::size_t k = 0; k < codes.size(); ++k) {
        sum += static_cast<double>(codes[k]) * static_cast<double>(k % 5 + 1) / 7.0;
    }
    return sum;
}

struct Replay {
    Replay(const Settings& settings, const std::vector<int>& sizes, int popsize, int casual)
        : cfg(settings),
          sizes(sizes),
          popsize(popsize),
          rng(casual),
          layout(testing::make_layout(sizes)),
          beta(settings.beta) {
        nf = static_cast<int>(sizes.size());
        oldpop.resize(static_cast<std::size_t>(popsize));
        newpop.resize(static_cast<std::size_t>(popsize));
        for (Member& m : oldpop) {
            m.codes.assign(sizes.size(), 0);
            for (int k = 0; k < nf; ++k) {
                m.codes[static_cast<std::size_t>(k)] = rng.integer(0, sizes[k] - 1);
            }
            m.eval_number = ++nevals;
            m.raw = weighted_fitness(m.codes);
        }
        statistics(oldpop);
        ++window_newest;
    }

    // Statistics and scaling of a population.
    void statistics(std::vector<Member>& pop) {
        double sum = 0.0;
        double squares = 0.0;
        raw_min = pop[0].raw < 0.0 ? 0.0 : pop[0].raw;
        fitness_max = pop[0].raw;
        best = 0;
        for (int j = 0; j < popsize; ++j) {
            Member& m = pop[static_cast<std::size_t>(j)];
            sum += m.raw;
            squares += m.raw * m.raw;
            if (m.raw > fitness_max) {
                fitness_max = m.raw;
                best = j;
            }
            if (m.raw < raw_min) {
                raw_min = m.raw;
            }
        }
        const double raw_avg = sum / popsize;
        window[static_cast<std::size_t>(window_newest % 20)] = raw_min;
        if (cfg.autocontrol || cfg.sigma_trunc != 0.0f) {
            sigma = static_cast<float>(std::sqrt(std::fabs(squares / popsize - raw_avg * raw_avg)));
        }
        if (cfg.autocontrol) {
            beta = static_cast<double>(cfg.beta_s_tilde) / sigma;
        }
        if (beta >= 0.0 || cfg.autocontrol) {
            const double limit = std::log(1.0e308 / popsize);
            double total = 0.0;
            for (Member& m : pop) {
                const double t = (m.raw - raw_avg) * beta;
                EXPECT_LE(t, limit);
                m.scaled = std::exp(t);
                total += m.scaled;
            }
            for (Member& m : pop) {
                m.scaled /= total;
            }
            fitness_max = std::max(0.0, pop[static_cast<std::size_t>(best)].scaled);
            scaled_min = std::max(0.0, std::exp((raw_min - raw_avg) * beta) / total);
            scaled_avg = 1.0 / popsize;
        } else if (cfg.scaling_window > -1) {
            window_newest %= 20;
            int span = window_newest - window_oldest;
            if (span < 0) {
                span += 20;
            }
            if (span >= cfg.scaling_window + 1) {
                window_oldest = (window_oldest + 1) % 20;
            }
            double fmin = window[static_cast<std::size_t>(window_oldest)];
            for (int p = window_oldest; p != window_newest;) {
                p = (p + 1) % 20;
                fmin = std::min(fmin, window[static_cast<std::size_t>(p)]);
            }
            for (Member& m : pop) {
                m.scaled = std::max(0.0, m.raw - fmin);
            }
            scaled_avg = std::max(0.0, raw_avg - fmin);
            fitness_max = std::max(0.0, fitness_max - fmin);
            scaled_avg = std::min(scaled_avg, fitness_max);
            scaled_min = std::max(0.0, raw_min - fmin);
        } else if (cfg.sigma_trunc != 0.0f) {
            const double offset = raw_avg - cfg.sigma_trunc * sigma;
            double total = 0.0;
            for (Member& m : pop) {
                m.scaled = std::max(0.0, m.raw - offset);
                total += m.scaled;
            }
            fitness_max = std::max(0.0, fitness_max - offset);
            scaled_min = std::max(0.0, raw_min - offset);
            scaled_avg = std::max(0.0, total / popsize);
        } else {
            for (Member& m : pop) {
                m.scaled = m.raw;
            }
            scaled_min = raw_min;
            scaled_avg = raw_avg;
        }
        if (cfg.scalemult > 1.0f && !cfg.autocontrol && beta < 0.0) {
            const double mult = cfg.scalemult;
            const double u = scaled_avg;
            double a = 1.0;
            double b = 0.0;
            if ((mult * u - fitness_max) / (mult - 1.0) < scaled_min) {
                const double d = fitness_max - u;
                if (d >= 1.0e-6 * u) {
                    a = (mult - 1.0) * u / d;
                    b = u * (fitness_max - mult * u) / d;
                }
            } else {
                const double d = u - scaled_min;
                if (d > 1.0e-6 * u) {
                    a = u / d;
                    b = -scaled_min * u / d;
                }
            }
            for (Member& m : pop) {
                m.scaled = std::max(0.0, a * m.scaled + b);
            }
            scaled_min = std::max(0.0, a * scaled_min + b);
            fitness_max = std::max(0.0, a * fitness_max + b);
        }
    }

    void preselect() {
        pool.clear();
        const double avg = scaled_avg;
        switch (cfg.selection) {
            case SelectionMethod::roulette:
                total = 0.0;
                for (const Member& m : oldpop) {
                    total += m.scaled;
                }
                return;
            case SelectionMethod::tournament:
                shuffle();
                return;
            case SelectionMethod::universal_sampling:
                if (avg == 0.0) {
                    for (int i = 0; i < popsize; ++i) {
                        pool.push_back(i);
                    }
                    return;
                } else {
                    float p = static_cast<float>(rng.uniform());
                    float s = 0.0f;
                    for (int j = 0; j < popsize && static_cast<int>(pool.size()) < popsize; ++j) {
                        s += oldpop[static_cast<std::size_t>(j)].scaled / avg;
                        while (s > p) {
                            pool.push_back(j);
                            if (static_cast<int>(pool.size()) == popsize) {
                                break;
                            }
                            p += 1.0;
                        }
                    }
                    while (static_cast<int>(pool.size()) < popsize) {
                        pool.push_back(pool.empty() ? 0 : pool.back());
                    }
                }
                return;
            case SelectionMethod::remainder:
                if (avg == 0.0) {
                    for (int i = 0; i < popsize; ++i) {
                        pool.push_back(i);
                    }
                    return;
                } else {
                    std::vector<float> fraction(static_cast<std::size_t>(popsize));
                    for (int j = 0; j < popsize; ++j) {
                        const double e = oldpop[static_cast<std::size_t>(j)].scaled / avg;
                        const int n = static_cast<int>(e);
                        fraction[static_cast<std::size_t>(j)] = static_cast<float>(e) - n;
                        for (int c = 0; c < n; ++c) {
                            if (static_cast<int>(pool.size()) < popsize) {
                                pool.push_back(j);
                            }
                        }
                    }
                    int j = 0;
                    while (static_cast<int>(pool.size()) < popsize) {
                        if (j >= popsize) {
                            j = 0;
                        }
                        float& f = fraction[static_cast<std::size_t>(j)];
                        if (f > 0.0f && rng.coin(f)) {
                            pool.push_back(j);
                            f -= 1.0f;
                        }
                        ++j;
                    }
                }
                return;
        }
    }

    void shuffle() {
        list.resize(static_cast<std::size_t>(popsize));
        for (int i = 0; i < popsize; ++i) {
            list[static_cast<std::size_t>(i)] = i;
        }
        for (int i = 0; i < popsize; ++i) {
            const int a = rng.integer(i, popsize - 1);
            const int b = rng.integer(i, popsize - 1);
            std::swap(list[static_cast<std::size_t>(a)], list[static_cast<std::size_t>(b)]);
        }
        pos = 0;
    }

    int select() {
        switch (cfg.selection) {
            case SelectionMethod::roulette: {
                const float r = static_cast<float>(rng.uniform());
                if (total == 0.0) {
                    return rng.integer(0, popsize - 1);
                }
                float s = 0.0f;
                int i = 0;
                while (s < r && i < popsize) {
                    s += oldpop[static_cast<std::size_t>(i)].scaled / total;
                    ++i;
                }
                return r == 0.0f ? 0 : i - 1;
            }
            case SelectionMethod::tournament: {
                if (popsize - pos < cfg.tourneysize) {
                    shuffle();
                }
                int winner = list[static_cast<std::size_t>(pos)];
                for (int m = 1; m < cfg.tourneysize; ++m) {
                    const int entrant = list[static_cast<std::size_t>(pos + m)];
                    if (oldpop[static_cast<std::size_t>(entrant)].scaled >
                        oldpop[static_cast<std::size_t>(winner)].scaled) {
                        winner = entrant;
                    }
                }
                pos += cfg.tourneysize;
                return winner;
            }
            default: {
                const int last = static_cast<int>(pool.size()) - 1;
                const int i = rng.integer(0, last);
                const int chosen = pool[static_cast<std::size_t>(i)];
                pool[static_cast<std::size_t>(i)] = pool.back();
                pool.pop_back();
                return chosen;
            }
        }
    }

    // Returns whether the pair crossed.
    bool cross(const Member& p1, const Member& p2, Member& c1, Member& c2, int sites[2]) {
        c1.codes = p1.codes;
        c2.codes = p2.codes;
        sites[0] = sites[1] = 0;
        if (!rng.coin(cfg.pcross)) {
            return false;
        }
        ++ncross;
        std::vector<bool> straight(static_cast<std::size_t>(nf));
        if (cfg.crossover == CrossoverMethod::one_point) {
            const int a = layout.field_ends[static_cast<std::size_t>(rng.integer(0, nf - 2))];
            sites[0] = a;
            for (int k = 0; k < nf; ++k) {
                straight[static_cast<std::size_t>(k)] = layout.field_ends[k] <= a;
            }
        } else if (cfg.crossover == CrossoverMethod::two_point) {
            int a = layout.field_ends[static_cast<std::size_t>(rng.integer(0, nf - 1))];
            int b = layout.field_ends[static_cast<std::size_t>(rng.integer(0, nf - 1))];
            if (a > b) {
                std::swap(a, b);
            }
            sites[0] = a;
            sites[1] = b;
            for (int k = 0; k < nf; ++k) {
                const int first = k == 0 ? 1 : layout.field_ends[k - 1] + 1;
                straight[static_cast<std::size_t>(k)] = layout.field_ends[k] <= a || first > b;
            }
        } else {
            for (int k = 0; k < nf; ++k) {
                straight[static_cast<std::size_t>(k)] = rng.coin(0.5f) != 0;
            }
        }
        for (int k = 0; k < nf; ++k) {
            if (!straight[static_cast<std::size_t>(k)]) {
                std::swap(c1.codes[static_cast<std::size_t>(k)],
                          c2.codes[static_cast<std::size_t>(k)]);
            }
        }
        return true;
    }

    // Returns the number of field mutations.
    int mutate(Member& child) {
        if (static_cast<double>(cfg.pmutation) != rate_seen) {
            rate_seen = cfg.pmutation;
            chrom_rate = static_cast<float>(1.0 - std::pow(1.0 - cfg.pmutation, nf));
        }
        int count = 0;
        auto change = [&](int k) {
            int& code = child.codes[static_cast<std::size_t>(k)];
            int fresh = code;
            while (fresh == code) {
                fresh = rng.integer(0, sizes[static_cast<std::size_t>(k)] - 1);
            }
            code = fresh;
            ++count;
        };
        if (chrom_rate >= 0.8) {
            for (int k = 0; k < nf; ++k) {
                if (rng.coin(cfg.pmutation)) {
                    change(k);
                }
            }
        } else {
            while (rng.coin(chrom_rate)) {
                change(rng.integer(0, nf - 1));
            }
        }
        return count;
    }

    void evaluate(Member& m) {
        m.eval_number = ++nevals;
        m.raw = weighted_fitness(m.codes);
    }

    void generation() {
        preselect();
        std::vector<int> flags(static_cast<std::size_t>(popsize), 0);
        for (int j = 0; j + 1 < popsize; j += 2) {
            const int mate1 = select();
            const int mate2 = select();
            Member& c1 = newpop[static_cast<std::size_t>(j)];
            Member& c2 = newpop[static_cast<std::size_t>(j + 1)];
            const Member& p1 = oldpop[static_cast<std::size_t>(mate1)];
            const Member& p2 = oldpop[static_cast<std::size_t>(mate2)];
            int sites[2];
            const bool crossed = cross(p1, p2, c1, c2, sites);
            const bool mutated1 = mutate(c1) > 0;
            const bool mutated2 = mutate(c2) > 0;
            if (crossed) {
                for (Member* c : {&c1, &c2}) {
                    evaluate(*c);
                    c->parent1 = mate1 + 1;
                    c->parent2 = mate2 + 1;
                    c->xsite1 = sites[0];
                    c->xsite2 = sites[1];
                }
                continue;
            }
            const std::pair<Member*, const Member*> pairs[2] = {{&c1, &p1}, {&c2, &p2}};
            const bool mutated[2] = {mutated1, mutated2};
            const int mates[2] = {mate1, mate2};
            for (int h = 0; h < 2; ++h) {
                Member& c = *pairs[h].first;
                const Member& parent = *pairs[h].second;
                c.parent1 = mates[h] + 1;
                c.parent2 = c.xsite1 = c.xsite2 = 0;
                if (mutated[h]) {
                    evaluate(c);
                } else {
                    c.raw = parent.raw;
                    c.eval_number = parent.eval_number;
                    c.scaled = parent.scaled;
                }
            }
        }
        // Elitism.
        const Member& elite = oldpop[static_cast<std::size_t>(best)];
        bool present = false;
        for (const Member& m : newpop) {
            present = present || (m.raw == elite.raw && m.codes == elite.codes);
        }
        if (!present) {
            Member& target = newpop[static_cast<std::size_t>(rng.integer(0, popsize - 1))];
            target = elite;
            target.parent1 = best + 1;
            target.parent2 = target.xsite1 = target.xsite2 = 0;
        }
        statistics(newpop);
        ++window_newest;
        std::swap(oldpop, newpop);
    }

    Settings cfg;
    std::vector<int> sizes;
    int popsize;
    int nf = 0;
    Stream rng;
    ChromosomeLayout layout;
    std::vector<Member> oldpop;
    std::vector<Member> newpop;
    int nevals = 0;
    int ncross = 0;
    double rate_seen = 0.0;
    float chrom_rate = 0.0f;
    double beta;
    float sigma = 0.0f;
    double raw_min = 0.0, fitness_max = 0.0, scaled_min = 0.0, scaled_avg = 0.0;
    int best = 0;
    std::array<double, 20> window{};
    int window_newest = 0;
    int window_oldest = 0;
    double total = 0.0;
    std::vector<int> pool;
    std::vector<int> list;
    int pos = 0;
};

// --- the engine under the same settings ---

class WeightedHooks : public testing::FakeHooks {
  public:
    void objfunc(std::span<individual* const> members, const ChromosomeLayout& layout) override {
        for (individual* member : members) {
            std::vector<int> codes;
            for (int k = 0; k < layout.numfields; ++k) {
                codes.push_back(static_cast<int>(getfield(k, layout, member->chrom)));
            }
            member->raw_fitness = weighted_fitness(codes);
        }
    }
};

struct Engine {
    Engine(const Settings& cfg, const std::vector<int>& sizes, int popsize, int casual) {
        hooks.field_sizes = sizes;
        params.numfields = static_cast<int>(sizes.size());
        params.popsize = popsize;
        params.selection = cfg.selection;
        params.crossover = cfg.crossover;
        params.pcross = cfg.pcross;
        params.pmutation = cfg.pmutation;
        params.tourneysize = cfg.tourneysize;
        params.scaling.method = cfg.method;
        params.scaling.scalemult = cfg.scalemult;
        params.scaling.beta = cfg.beta;
        params.scaling.Beta_s_tilde = cfg.beta_s_tilde;
        params.scaling.sigma_trunc = cfg.sigma_trunc;
        params.scaling.scaling_window = cfg.scaling_window;
        state.fixed_casual = casual;
        initialize_engine(state);
    }
    void step() { testing::advance_generation(state); }

    EngineParams params;
    WeightedHooks hooks;
    RandomGenerator rng;
    testing::TempLog log;
    NullConsole console;
    EngineState state{params, hooks, rng, log.file, console};
};

void expect_same(const Engine& e, const Replay& r, const std::string& where) {
    for (int i = 0; i < r.popsize; ++i) {
        const individual& got = e.state.oldpop[i];
        const Member& want = r.oldpop[static_cast<std::size_t>(i)];
        for (int k = 0; k < r.nf; ++k) {
            ASSERT_EQ(getfield(k, e.state.layout, got.chrom),
                      static_cast<std::uint32_t>(want.codes[static_cast<std::size_t>(k)]))
                << where << " member " << i << " field " << k;
        }
        ASSERT_EQ(got.raw_fitness, want.raw) << where << " member " << i;
        ASSERT_EQ(got.scaled_fitness, want.scaled) << where << " member " << i;
        ASSERT_EQ(got.eval_number, want.eval_number) << where << " member " << i;
        ASSERT_EQ(got.parent1, want.parent1) << where << " member " << i;
        ASSERT_EQ(got.parent2, want.parent2) << where << " member " << i;
        ASSERT_EQ(got.xsite1, want.xsite1) << where << " member " << i;
        ASSERT_EQ(got.xsite2, want.xsite2) << where << " member " << i;
    }
    ASSERT_EQ(e.state.stats.best_index, r.best) << where;
    ASSERT_EQ(e.state.stats.scaled_avg, r.scaled_avg) << where;
    ASSERT_EQ(e.state.nevals, r.nevals) << where;
    ASSERT_EQ(e.state.ncross, r.ncross) << where;
    if (e.params.scaling.method == ScalingMethod::autocontrol) {
        ASSERT_EQ(e.state.stats.autocontrol_beta, r.beta) << where;
    }
    ASSERT_EQ(e.rng.cursor(), r.rng.cursor) << where;
}

Settings scaled_by(int method) {
    Settings s;
    s.method = *method_of_choice(scaling_methods, method);
    switch (method) {
        case 0:  // linear
            s.scalemult = 1.7f;
            break;
        case 1:               // Boltzmann
            s.beta = 0.0002;  // small: the widest field spreads the fitness far
            break;
        case 2:  // automatic control
            s.autocontrol = 1;
            s.beta = 0.0;
            s.beta_s_tilde = 1.39857f;
            break;
        case 3:  // sigma truncation
            s.sigma_trunc = 1.3f;
            break;
        default:  // window
            s.scaling_window = 3;
            break;
    }
    return s;
}

class Replayed
    : public ::testing::TestWithParam<std::tuple<SelectionMethod, CrossoverMethod, int>> {};

TEST_P(Replayed, EngineBreedsTheSamePopulationsAsTheRules) {
    const auto [selection, crossover_code, method] = GetParam();
    // Small alphabets next to wide fields across word boundaries; the last
    // field ends inside the third word.
    const std::vector<int> sizes = {2, 3, 4, 1000, 1000, 1000, 5, 2, 6, 65537, 3};
    for (int casual : {0, 271, 999}) {
        for (float pmutation : {0.02f, 0.15f}) {
            Settings cfg = scaled_by(method);
            cfg.selection = selection;
            cfg.crossover = crossover_code;
            cfg.pmutation = pmutation;
            const int popsize = 14;
            Replay replay(cfg, sizes, popsize, casual);
            Engine engine(cfg, sizes, popsize, casual);
            const std::string tag =
                "casual " + std::to_string(casual) + " pmutation " + std::to_string(pmutation);
            expect_same(engine, replay, tag + " start");
            for (int g = 0; g < 12; ++g) {
                replay.generation();
                engine.step();
                expect_same(engine, replay, tag + " generation " + std::to_string(g));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllMethods, Replayed,
    ::testing::Combine(::testing::Values(SelectionMethod::roulette,
                                         SelectionMethod::universal_sampling,
                                         SelectionMethod::tournament, SelectionMethod::remainder),
                       ::testing::Values(CrossoverMethod::one_point, CrossoverMethod::two_point,
                                         CrossoverMethod::uniform),
                       ::testing::Values(0, 1, 2, 3, 4)));

}  // namespace
}  // namespace velmora
