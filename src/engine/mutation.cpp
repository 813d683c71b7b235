// Mutation within each field's alphabet: a mutated field always receives a
// different legal code, so a child never leaves the decodable space.

#include "engine/mutation.hpp"

#include <cmath>
#include <stdexcept>

#include "engine/engine_state.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

void mutate_field(EngineState& state, int i, std::uint32_t* chrom) {
    const ChromosomeLayout& layout = state.layout;
    const int size = layout.field_sizes[i];
    // With a single code the redraw below could never find another one.
    if (size < 2) {
        throw std::logic_error(strprintf("bitmutat: field %d has %d codes", i, size));
    }
    const auto old_code = static_cast<int>(getfield(i, layout, chrom));
    int new_code = 0;
    do {
        new_code = state.rng.random_int(0, size - 1);
    } while (new_code == old_code);
    putfield(i, layout, static_cast<std::uint32_t>(new_code), chrom);
    state.nmutation += 1;
}

}  // namespace

void mutate(EngineState& state, std::uint32_t* chrom) {
    switch (state.params.mutation) {
        case MutationMethod::bit:
            bitmutat(state, chrom);
            return;
    }
    // Reached only with a value outside the enumeration.
    throw EngineFault(strprintf("No mutation operator has the code %d.\n",
                                static_cast<int>(state.params.mutation)));
}

void bitmutat(EngineState& state, std::uint32_t* chrom) {
    MutationState& rates = state.mutation;
    const float pmutation = state.params.pmutation;
    const int numfields = state.layout.numfields;

    if (static_cast<double>(pmutation) != rates.mutation_rate_seen) {
        // Refused before it is remembered, so a later call with the same rate
        // is refused again rather than mutating with a stale chromosome rate.
        if (pmutation >= 1.0f) {
            throw EngineFault("\n*** Bad mutation rate specified, exiting.\n");
        }
        rates.mutation_rate_seen = pmutation;
        rates.chrom_mutation_rate =
            static_cast<float>(1.0 - std::pow(1.0 - static_cast<double>(pmutation), numfields));
    }

    if (rates.chrom_mutation_rate >= 0.8f) {
        for (int i = 0; i < numfields; ++i) {
            if (state.rng.random_coin(pmutation)) {
                mutate_field(state, i, chrom);
            }
        }
        return;
    }
    while (state.rng.random_coin(rates.chrom_mutation_rate)) {
        mutate_field(state, state.rng.random_int(0, numfields - 1), chrom);
    }
}

}  // namespace velmora
