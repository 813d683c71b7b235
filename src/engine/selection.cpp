// The four selection methods.
//
// Single-precision running sums are rounded exactly where the historical code
// rounded them (the quotient is added in double, the sum stored as float), so
// a seeded run picks the same parents on every build.

#include "engine/selection.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "engine/allocate_or_report.hpp"
#include "engine/engine_state.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

// Reached only with a value outside the enumeration.
[[noreturn]] void unknown_method(SelectionMethod method) {
    throw EngineFault(
        strprintf("No selection method has the code %d.\n", static_cast<int>(method)));
}

void identity_pool(EngineState& state) {
    for (int i = 0; i < state.params.popsize; ++i) {
        state.selection.choices[i] = i;
    }
}

// Places k .. popsize-1 of a pool that its method left short take the last
// individual placed (individual 0 when none was).
void fill_short_pool(EngineState& state, int k) {
    std::vector<int>& choices = state.selection.choices;
    for (; k < state.params.popsize; ++k) {
        choices[k] = k > 0 ? choices[k - 1] : 0;
    }
}

// --- roulette wheel ---

void preselect_roulette(EngineState& state) {
    SelectionState& sel = state.selection;
    const int popsize = state.params.popsize;
    double total = 0.0;
    for (int i = 0; i < popsize; ++i) {
        total += state.oldpop[i].scaled_fitness;
    }
    sel.roulette_total = total;
    // The wheel's running sums, rounded exactly as the turning wheel rounds
    // them, computed once per generation instead of once per draw.
    sel.roulette_sums.resize(static_cast<std::size_t>(popsize));
    sel.roulette_sums_sorted = true;
    if (total == 0.0) {
        return;
    }
    float s = 0.0f;
    for (int i = 0; i < popsize; ++i) {
        const float next = static_cast<float>(s + state.oldpop[i].scaled_fitness / total);
        // A negative share or a NaN breaks the order a search needs.
        sel.roulette_sums_sorted = sel.roulette_sums_sorted && next >= s;
        sel.roulette_sums[static_cast<std::size_t>(i)] = next;
        s = next;
    }
}

int select_roulette(EngineState& state) {
    const SelectionState& sel = state.selection;
    const int popsize = state.params.popsize;
    const double total = sel.roulette_total;
    const auto r = static_cast<float>(state.rng.random_uniform());
    if (total == 0.0) {
        return state.rng.random_int(0, popsize - 1);
    }
    if (r == 0.0f) {
        return 0;
    }
    // The wheel stops at the first member whose running sum is not below r,
    // or at the last member when none is. Over ordered sums that member is
    // found by bisection, so a draw costs log(popsize) steps, not popsize.
    if (sel.roulette_sums_sorted) {
        const auto first = sel.roulette_sums.begin();
        const auto last = first + popsize;
        const auto stop = std::lower_bound(first, last, r);
        return stop == last ? popsize - 1 : static_cast<int>(stop - first);
    }
    float s = 0.0f;
    int i = 0;
    while (s < r && i < popsize) {
        s = sel.roulette_sums[static_cast<std::size_t>(i)];
        ++i;
    }
    return i - 1;
}

// --- stochastic universal sampling ---

void preselect_sus(EngineState& state) {
    SelectionState& sel = state.selection;
    const int popsize = state.params.popsize;
    const double avg = state.stats.scaled_avg;
    if (avg == 0.0) {
        identity_pool(state);
    } else {
        auto p = static_cast<float>(state.rng.random_uniform());
        float s = 0.0f;
        int k = 0;
        for (int j = 0; j < popsize && k < popsize; ++j) {
            s = static_cast<float>(s + state.oldpop[j].scaled_fitness / avg);
            while (s > p) {
                sel.choices[k] = j;
                ++k;
                if (k == popsize) {
                    break;
                }
                p = static_cast<float>(p + 1.0);
            }
        }
        // A pointer that started close to 1.0 can leave the pool one short
        // after rounding; the last individual sampled takes the gap.
        fill_short_pool(state, k);
    }
    sel.nremain = popsize - 1;
}

int select_from_choices(EngineState& state) {
    SelectionState& sel = state.selection;
    if (sel.nremain < 0) {
        throw std::logic_error("select: the mating pool is exhausted for this generation");
    }
    const int i = state.rng.random_int(0, sel.nremain);
    const int chosen = sel.choices[i];
    sel.choices[i] = sel.choices[sel.nremain];
    sel.nremain -= 1;
    return chosen;
}

// --- tournament ---

void check_tourneysize(const EngineState& state) {
    // The run configuration refuses any other size; a larger one would read
    // past the end of the list.
    if (state.params.tourneysize < 1 || state.params.tourneysize > state.params.popsize) {
        throw std::logic_error(strprintf("tourneysize %d outside 1..popsize (%d)",
                                         state.params.tourneysize, state.params.popsize));
    }
}

void shuffle_tourneylist(EngineState& state) {
    std::vector<int>& list = state.selection.tourneylist;
    const int popsize = state.params.popsize;
    for (int i = 0; i < popsize; ++i) {
        list[i] = i;
    }
    for (int i = 0; i < popsize; ++i) {
        const int a = state.rng.random_int(i, popsize - 1);
        const int b = state.rng.random_int(i, popsize - 1);
        std::swap(list[a], list[b]);
    }
}

void preselect_tournament(EngineState& state) {
    check_tourneysize(state);
    shuffle_tourneylist(state);
    state.selection.tourneypos = 0;
}

int select_tournament(EngineState& state) {
    SelectionState& sel = state.selection;
    const int size = state.params.tourneysize;
    if (state.params.popsize - sel.tourneypos < size) {
        shuffle_tourneylist(state);
        sel.tourneypos = 0;
    }
    int winner = sel.tourneylist[sel.tourneypos];
    for (int m = 1; m < size; ++m) {
        const int entrant = sel.tourneylist[sel.tourneypos + m];
        if (state.oldpop[entrant].scaled_fitness > state.oldpop[winner].scaled_fitness) {
            winner = entrant;
        }
    }
    sel.tourneypos += size;
    return winner;
}

// --- stochastic remainder ---

void preselect_remainder(EngineState& state) {
    SelectionState& sel = state.selection;
    const int popsize = state.params.popsize;
    const double avg = state.stats.scaled_avg;
    if (avg == 0.0) {
        identity_pool(state);
        sel.nremain = popsize - 1;
        return;
    }
    int k = 0;
    for (int j = 0; j < popsize; ++j) {
        const double expected = state.oldpop[j].scaled_fitness / avg;
        const int whole = static_cast<int>(expected);
        sel.fraction[j] = static_cast<float>(expected) - static_cast<float>(whole);
        // Rounding can make the integer parts add up to more than popsize.
        for (int n = 0; n < whole && k < popsize; ++n) {
            sel.choices[k++] = j;
        }
    }
    int j = 0;
    while (k < popsize) {
        if (j >= popsize) {
            j = 0;
            // Remainders that are all used up (integer expected counts that fall
            // short of popsize) would otherwise cycle for ever; the last one
            // placed fills the gap.
            bool any_left = false;
            for (int i = 0; i < popsize; ++i) {
                any_left = any_left || sel.fraction[i] > 0.0f;
            }
            if (!any_left) {
                fill_short_pool(state, k);
                break;
            }
        }
        if (sel.fraction[j] > 0.0f && state.rng.random_coin(sel.fraction[j])) {
            sel.choices[k++] = j;
            sel.fraction[j] -= 1.0f;
        }
        ++j;
    }
    sel.nremain = popsize - 1;
}

}  // namespace

void allocate_selection(EngineState& state) {
    SelectionState& sel = state.selection;
    const auto popsize = static_cast<std::size_t>(state.params.popsize);
    switch (state.params.selection) {
        case SelectionMethod::roulette:
            allocate_or_report(state, "roulette_sums",
                               [&] { sel.roulette_sums.assign(popsize, 0.0f); });
            return;
        case SelectionMethod::universal_sampling:
            allocate_or_report(state, "choices", [&] { sel.choices.assign(popsize, 0); });
            return;
        case SelectionMethod::tournament:
            check_tourneysize(state);
            allocate_or_report(state, "tourneylist", [&] { sel.tourneylist.assign(popsize, 0); });
            return;
        case SelectionMethod::remainder:
            allocate_or_report(state, "choices", [&] { sel.choices.assign(popsize, 0); });
            allocate_or_report(state, "fraction", [&] { sel.fraction.assign(popsize, 0.0f); });
            return;
    }
    unknown_method(state.params.selection);
}

void release_selection(EngineState& state) {
    // Everything a method may have allocated goes, whatever the method is now,
    // so a following replication with another method starts clean.
    SelectionState& sel = state.selection;
    std::vector<int>().swap(sel.choices);
    std::vector<float>().swap(sel.fraction);
    std::vector<int>().swap(sel.tourneylist);
    std::vector<float>().swap(sel.roulette_sums);
    sel.nremain = 0;
    sel.tourneypos = 0;
    sel.roulette_total = 0.0;
}

void preselect(EngineState& state) {
    switch (state.params.selection) {
        case SelectionMethod::roulette:
            preselect_roulette(state);
            return;
        case SelectionMethod::universal_sampling:
            preselect_sus(state);
            return;
        case SelectionMethod::tournament:
            preselect_tournament(state);
            return;
        case SelectionMethod::remainder:
            preselect_remainder(state);
            return;
    }
    unknown_method(state.params.selection);
}

int select(EngineState& state) {
    switch (state.params.selection) {
        case SelectionMethod::roulette:
            return select_roulette(state);
        case SelectionMethod::universal_sampling:
        case SelectionMethod::remainder:
            return select_from_choices(state);
        case SelectionMethod::tournament:
            return select_tournament(state);
    }
    unknown_method(state.params.selection);
}

}  // namespace velmora
