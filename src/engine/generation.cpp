// One generation of the search: breeding newpop from oldpop, evaluation of
// the children that changed, elitism.

#include "engine/generation.hpp"

#include <algorithm>
#include <span>

#include "engine/crossover.hpp"
#include "engine/engine_state.hpp"
#include "engine/mutation.hpp"
#include "engine/population.hpp"
#include "engine/selection.hpp"
#include "support/fitness_view.hpp"
#include "support/statistics.hpp"

namespace velmora {

namespace {

// A child that is an unchanged copy of its parent takes over its fitness
// instead of costing another model estimation.
void inherit_from_parent(EngineState& state, individual& child, const individual& parent) {
    child.raw_fitness = parent.raw_fitness;
    child.eval_number = parent.eval_number;
    copy_utility(state, child.utility, parent.utility);
}

// Bookkeeping of one child of a pair that was not crossed.
void record_uncrossed_child(EngineState& state, int j, int mate) {
    individual& child = state.newpop[j];
    const individual& parent = state.oldpop[mate];
    if (state.evaluate[static_cast<std::size_t>(j)]) {
        evaluate_individual(state, child);
        child.parent1 = mate + 1;
        child.xsite1 = 0;
        child.xsite2 = 0;
        child.parent2 = 0;
        return;
    }
    child.parent1 = mate + 1;
    child.xsite1 = 0;
    child.xsite2 = 0;
    child.parent2 = 0;
    if (state.params.stochastic_fitness) {
        evaluate_individual(state, child);
    } else {
        inherit_from_parent(state, child, parent);
    }
    child.scaled_fitness = parent.scaled_fitness;
}

void breed(EngineState& state) {
    const int popsize = state.params.popsize;
    int sites[2] = {0, 0};

    preselect(state);
    for (int j = 0; j < popsize - 1; j += 2) {
        const int mate1 = select(state);
        const int mate2 = select(state);

        int& evaluate1 = state.evaluate[static_cast<std::size_t>(j)];
        int& evaluate2 = state.evaluate[static_cast<std::size_t>(j + 1)];
        evaluate1 = 0;
        evaluate2 = 0;

        // Whether the pair was crossed is read from the counter, not from a
        // comparison of chromosomes: a crossing that happens to reproduce the
        // parents still counts as a new individual.
        const int ncross_before = state.ncross;
        crossover(state, state.oldpop[mate1].chrom, state.oldpop[mate2].chrom,
                  state.newpop[j].chrom, state.newpop[j + 1].chrom, sites);
        const bool crossed = state.ncross != ncross_before;
        if (crossed) {
            evaluate1 = 1;
            evaluate2 = 1;
        }

        int nmutation_before = state.nmutation;
        mutate(state, state.newpop[j].chrom);
        if (state.nmutation != nmutation_before) {
            evaluate1 = 1;
        }
        nmutation_before = state.nmutation;
        mutate(state, state.newpop[j + 1].chrom);
        if (state.nmutation != nmutation_before) {
            evaluate2 = 1;
        }

        if (crossed) {
            for (individual* child : {&state.newpop[j], &state.newpop[j + 1]}) {
                evaluate_individual(state, *child);
                child->parent1 = mate1 + 1;
                child->xsite1 = sites[0];
                child->xsite2 = sites[1];
                child->parent2 = mate2 + 1;
            }
        } else {
            record_uncrossed_child(state, j, mate1);
            record_uncrossed_child(state, j + 1, mate2);
        }
    }
}

}  // namespace

void evaluate_individual(EngineState& state, individual& ind) {
    ++state.nevals;
    ind.eval_number = state.nevals;
    state.pending.push_back(&ind);
}

void flush_evaluations(EngineState& state) {
    if (state.pending.empty()) {
        return;
    }
    state.hooks.objfunc(std::span<individual* const>(state.pending.data(), state.pending.size()),
                        state.layout);
    state.pending.clear();
}

void elitism_step(EngineState& state) {
    const int popsize = state.params.popsize;
    const int chromsize = state.layout.chromsize;
    const int best = state.stats.best_index;
    const individual& elite = state.oldpop[best];

    for (int j = 0; j < popsize; ++j) {
        const individual& member = state.newpop[j];
        if (member.raw_fitness == elite.raw_fitness &&
            std::equal(elite.chrom, elite.chrom + chromsize, member.chrom)) {
            return;
        }
    }

    const int j = state.rng.random_int(0, popsize - 1);
    individual& target = state.newpop[j];
    std::copy(elite.chrom, elite.chrom + chromsize, target.chrom);
    target.parent1 = best + 1;
    target.xsite1 = 0;
    target.xsite2 = 0;
    target.parent2 = 0;
    target.raw_fitness = elite.raw_fitness;
    target.eval_number = elite.eval_number;
    target.scaled_fitness = elite.scaled_fitness;
    copy_utility(state, target.utility, elite.utility);
}

void inherit_utilities(EngineState& state) {
    if (state.hooks.app_data_size() <= 0) {
        return;
    }
    for (int j = 0; j < state.params.popsize; ++j) {
        if (state.evaluate[static_cast<std::size_t>(j)] == 0) {
            individual& member = state.newpop[j];
            copy_utility(state, member.utility, state.oldpop[member.parent1 - 1].utility);
        }
    }
}

void generation(EngineState& state) {
    breed(state);
    // Elitism compares raw fitness of newpop, so every child must be scored
    // first.
    flush_evaluations(state);
    if (state.params.elitist) {
        elitism_step(state);
    }
    inherit_utilities(state);
    state.hooks.app_after_generation();
}

void population_statistics(EngineState& state, individual* pop) {
    const int popsize = state.params.popsize;
    compute_statistics(FitnessView(pop, popsize), state.params.scaling, state.stats);
    state.hooks.app_after_statistics(pop, popsize);
}

void engine_report(EngineState& state) {
    state.hooks.app_final_report(state.newpop[state.stats.best_index], state.layout);
}

}  // namespace velmora
