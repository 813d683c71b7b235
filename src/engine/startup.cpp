// Start-up of one replication: chromosome layout, storage, seeding, and the
// evaluated, scaled start population.

#include "engine/startup.hpp"

#include <cstddef>
#include <string>

#include "engine/engine_state.hpp"
#include "engine/generation.hpp"
#include "engine/population.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/statistics.hpp"

namespace velmora {

namespace {

// Codes above this do not fit the widest field (17 bits) and would spill
// into the neighbouring field.
constexpr int kLargestFieldSize = 1 << 17;

// Reported first on standard error (by whoever catches the fault) and in the
// run log, where the run's other lines are.
[[noreturn]] void field_size_fault(EngineState& state, const std::string& text) {
    state.output_file.printf("%s", text.c_str());
    state.output_file.flush();
    throw EngineFault(text);
}

}  // namespace

void setup_field_layout(EngineState& state) {
    allocate_field_tables(state);
    ChromosomeLayout& layout = state.layout;
    const int numfields = layout.numfields;

    // An entry the application forgets stays at -1 and is caught below.
    for (int k = 0; k < numfields; ++k) {
        layout.field_sizes[static_cast<std::size_t>(k)] = -1;
    }
    state.hooks.app_set_field_sizes(layout.field_sizes);

    for (int k = 0; k < numfields; ++k) {
        if (layout.field_sizes[static_cast<std::size_t>(k)] < 2) {
            field_size_fault(
                state,
                strprintf(
                    "*** ERROR.  User set alpha_size < 2, indicating that field_sizes are\n"
                    "different from field to field.  However, user did NOT specify legal "
                    "field sizes\n"
                    "for all %d fields in function app_set_field_sizes() in the app-specific\n"
                    "file.  Run cannot continue.  ***\n",
                    numfields));
        }
    }
    for (int k = 0; k < numfields; ++k) {
        const int size = layout.field_sizes[static_cast<std::size_t>(k)];
        if (size > kLargestFieldSize) {
            field_size_fault(state, strprintf("*** ERROR.  Field %d has %d codes, more than the "
                                              "%d that a field of 17 bits can hold.  Run cannot "
                                              "continue.  ***\n",
                                              k, size, kLargestFieldSize));
        }
    }

    compute_field_layout(layout);
    state.output_file.printf("lchrom =%d\n", layout.lchrom);
    state.output_file.printf("chromsize =%d\n", layout.chromsize);
    state.output_file.printf("sizeof =%d\n", static_cast<int>(sizeof(std::uint32_t)));
}

void evaluate_new_individual(EngineState& state, int i) {
    individual& ind = state.oldpop[i];
    ind.parent1 = 0;
    ind.parent2 = 0;
    ind.xsite1 = 0;
    ind.xsite2 = 0;
    evaluate_individual(state, ind);
}

void init_field_population(EngineState& state, int first) {
    const ChromosomeLayout& layout = state.layout;
    for (int i = first; i < state.params.popsize; ++i) {
        state.console.out(strprintf("individual:%d\n", i));
        int pos = 1;
        for (int k = 0; k < layout.numfields; ++k) {
            const int end = layout.field_ends[static_cast<std::size_t>(k)];
            const int code =
                state.rng.random_int(0, layout.field_sizes[static_cast<std::size_t>(k)] - 1);
            int2ithruj(pos, end, static_cast<std::uint32_t>(code), state.oldpop[i].chrom);
            pos = end + 1;
        }
        evaluate_new_individual(state, i);
    }
    // The objective draws no random numbers, so scoring the whole start
    // population in one batch gives the same fitnesses as one by one.
    flush_evaluations(state);
}

void initialize_engine(EngineState& state) {
    setup_field_layout(state);
    allocate_population(state);
    allocate_utilities(state);
    state.hooks.app_after_alloc();

    if (state.fixed_casual) {
        state.rng.random_seed_from_casual(*state.fixed_casual, state.randomseed, state.output_file);
    } else {
        state.rng.random_seed_from_clock(state.randomseed, state.output_file);
    }
    // The layout and seed lines reach the disk before the start population is
    // evaluated, which may take long: an interrupted run keeps its seed.
    state.output_file.flush();

    state.nmutation = 0;
    state.ncross = 0;
    state.nevals = 0;

    Statistics& stats = state.stats;
    stats.window_oldest = 0;
    stats.window_newest = 0;
    // A replication's automatic control starts without a previous constant,
    // so that it does not depend on what an earlier replication ended with.
    stats.autocontrol_beta = 0.0;
    stats.autocontrol_beta_set = false;

    // Room for a whole population of pending evaluations, so that no
    // generation has to allocate.
    state.pending.clear();
    state.pending.reserve(static_cast<std::size_t>(state.params.popsize));

    init_field_population(state, 0);
    population_statistics(state, state.oldpop);
    stats.window_newest += 1;
}

}  // namespace velmora
