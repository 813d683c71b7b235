// The storage of one replication.

#include "engine/population.hpp"

#include <cstddef>
#include <cstring>
#include <memory>

#include "engine/allocate_or_report.hpp"
#include "engine/engine_state.hpp"
#include "engine/selection.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

template <typename T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

}  // namespace

void allocate_field_tables(EngineState& state) {
    ChromosomeLayout& layout = state.layout;
    const auto count = static_cast<std::size_t>(state.params.numfields);
    if (layout.field_sizes.empty()) {
        allocate_or_report(state, "field_sizes", [&] { layout.field_sizes.assign(count, 0); });
    }
    if (layout.field_ends.empty()) {
        allocate_or_report(state, "field_ends", [&] { layout.field_ends.assign(count, 0); });
    }
    layout.numfields = state.params.numfields;
}

void allocate_population(EngineState& state) {
    const auto popsize = static_cast<std::size_t>(state.params.popsize);
    const auto chromsize = static_cast<std::size_t>(state.layout.chromsize);

    allocate_or_report(state, "oldpop", [&] { state.pop_store_a.assign(popsize, individual{}); });
    allocate_or_report(state, "newpop", [&] { state.pop_store_b.assign(popsize, individual{}); });
    state.oldpop = state.pop_store_a.data();
    state.newpop = state.pop_store_b.data();

    allocate_or_report(state, "Space for ALL chromosomes",
                       [&] { state.chrom_space.assign(2 * popsize * chromsize, 0u); });
    std::uint32_t* space = state.chrom_space.data();
    for (std::size_t i = 0; i < popsize; ++i) {
        state.oldpop[i].chrom = space + 2 * i * chromsize;
        state.newpop[i].chrom = space + (2 * i + 1) * chromsize;
    }

    allocate_or_report(state, "evaluate", [&] { state.evaluate.assign(popsize, 0); });

    allocate_selection(state);
}

void allocate_utilities(EngineState& state) {
    const int size = state.hooks.app_data_size();
    if (size <= 0) {
        return;
    }
    const int popsize = state.params.popsize;
    state.utility_blocks.reserve(2 * static_cast<std::size_t>(popsize));
    auto block = [&](const char* name) -> void* {
        void* data = nullptr;
        allocate_or_report(state, name, [&] {
            state.utility_blocks.push_back(
                std::make_unique<std::byte[]>(static_cast<std::size_t>(size)));
            data = state.utility_blocks.back().get();
        });
        return data;
    };
    for (int i = 0; i < popsize; ++i) {
        state.newpop[i].utility = block("newpop utility");
        state.oldpop[i].utility = block("oldpop utility");
    }
}

void copy_utility(EngineState& state, void* destination, const void* source) {
    const int size = state.hooks.app_data_size();
    // A record without a block has nothing to receive or give.
    if (size <= 0 || destination == nullptr || source == nullptr || destination == source) {
        return;
    }
    std::memcpy(destination, source, static_cast<std::size_t>(size));
}

void free_all(EngineState& state) {
    // Utility pointers first, while the records still exist.
    for (auto* store : {&state.pop_store_a, &state.pop_store_b}) {
        for (individual& member : *store) {
            member.utility = nullptr;
        }
    }
    release(state.utility_blocks);
    release(state.chrom_space);
    release(state.pop_store_a);
    release(state.pop_store_b);
    state.oldpop = nullptr;
    state.newpop = nullptr;
    release(state.evaluate);
    release(state.layout.field_sizes);
    release(state.layout.field_ends);
    // Nothing may read fields through the released tables.
    state.layout.numfields = 0;
    // Pending members pointed into the released records.
    state.pending.clear();
    release_selection(state);
}

void out_of_memory(EngineState& state, const char* name) {
    state.output_file.printf("malloc: out of memory making %s!!\n", name);
    state.output_file.flush();
    throw EngineFault(strprintf("malloc: out of memory making %s!!\n", name));
}

}  // namespace velmora
