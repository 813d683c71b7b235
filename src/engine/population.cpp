// Chromosome packing, field access and the storage of one replication.

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "engine/allocate_or_report.hpp"
#include "engine/engine_state.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

// The low `bits` bits set, 1 <= bits <= 32; a shift by 32 is undefined, so the
// full word is spelled out.
std::uint32_t low_mask(int bits) {
    return bits >= UINTSIZE ? 0xFFFFFFFFu : ((std::uint32_t{1} << bits) - 1u);
}

void check_range(int i, int j) {
    if (j < i) {
        throw EngineFault("Error in ithruj2int: j < i\n");
    }
    if (static_cast<unsigned>(j - i + 1) > static_cast<unsigned>(UINTSIZE)) {
        throw EngineFault("Error in ithruj2int: j-i+1 > UINTSIZE\n");
    }
}

// First and last bit of field n, after the caller has checked n.
int field_first_bit(int n, const ChromosomeLayout& layout) {
    return n == 0 ? 1 : layout.field_ends[n - 1] + 1;
}

// n is never negative from a correct caller; a negative n would index before
// field_ends, so it is refused with the same message as one past the end.
void check_field(const char* operation, int n, const ChromosomeLayout& layout) {
    if (n >= layout.numfields || n < 0 || static_cast<std::size_t>(n) >= layout.field_ends.size()) {
        throw EngineFault(strprintf(" Error in call to %s, n (= %d) >= nbroffields (= %d)",
                                    operation, n, layout.numfields));
    }
}

template <typename T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

}  // namespace

std::uint32_t ithruj2int(int i, int j, const std::uint32_t* chrom) {
    check_range(i, j);
    const int wi = (i - 1) / UINTSIZE;
    const int wj = (j - 1) / UINTSIZE;
    const int bi = i - UINTSIZE * wi;
    const int bj = j - UINTSIZE * wj;
    if (wi == wj) {
        return (chrom[wi] >> (bi - 1)) & low_mask(j - i + 1);
    }
    // Two words: bi >= 2 and bj <= 31 here, so every shift is below 32.
    const std::uint32_t low = chrom[wi] >> (bi - 1);
    const std::uint32_t high = chrom[wj] & low_mask(bj);
    return low | (high << (33 - bi));
}

void int2ithruj(int i, int j, std::uint32_t value, std::uint32_t* chrom) {
    check_range(i, j);
    const int wi = (i - 1) / UINTSIZE;
    const int wj = (j - 1) / UINTSIZE;
    const int bi = i - UINTSIZE * wi;
    const int bj = j - UINTSIZE * wj;
    if (wi == wj) {
        const std::uint32_t mask = low_mask(j - i + 1) << (bi - 1);
        chrom[wi] = (chrom[wi] & ~mask) | (value << (bi - 1));
        return;
    }
    chrom[wj] = (chrom[wj] & ~low_mask(bj)) | (value >> (33 - bi));
    const std::uint32_t mask = low_mask(33 - bi) << (bi - 1);
    chrom[wi] = (chrom[wi] & ~mask) | (value << (bi - 1));
}

std::uint32_t getfield(int n, const ChromosomeLayout& layout, const std::uint32_t* chrom) {
    check_field("getfield", n, layout);
    return ithruj2int(field_first_bit(n, layout), layout.field_ends[n], chrom);
}

void putfield(int n, const ChromosomeLayout& layout, std::uint32_t value, std::uint32_t* chrom) {
    check_field("putfield", n, layout);
    int2ithruj(field_first_bit(n, layout), layout.field_ends[n], value, chrom);
}

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
