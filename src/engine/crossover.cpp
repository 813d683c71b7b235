// Crossover at field boundaries only, so every child field holds a code one
// of its parents held there. The operators work on whole words with masks and
// never decode a field.

#include "engine/crossover.hpp"

#include <algorithm>
#include <cstddef>

#include "engine/engine_state.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

// Bits of word w (0-based) whose 1-based position is at most `site`.
std::uint32_t mask_up_to(int site, int w) {
    const int below = site - UINTSIZE * w;
    if (below >= UINTSIZE) {
        return 0xFFFFFFFFu;
    }
    if (below <= 0) {
        return 0u;
    }
    return (std::uint32_t{1} << below) - 1u;
}

// Bits of word w with 1-based positions first..last.
std::uint32_t mask_between(int first, int last, int w) {
    return mask_up_to(last, w) & ~mask_up_to(first - 1, w);
}

// Where `straight` has a bit set, child 1 takes parent 1 and child 2 parent 2;
// elsewhere they take the other parent.
void combine(std::uint32_t straight, std::uint32_t p1, std::uint32_t p2, std::uint32_t& c1,
             std::uint32_t& c2) {
    c1 = (p1 & straight) | (p2 & ~straight);
    c2 = (p2 & straight) | (p1 & ~straight);
}

// The common frame: one coin per pair. Returns whether the pair crosses; on
// failure the children are copies and the sites 0.
bool decide_to_cross(EngineState& state, const std::uint32_t* parent1, const std::uint32_t* parent2,
                     std::uint32_t* child1, std::uint32_t* child2, int sites[2]) {
    if (!state.rng.random_coin(state.params.pcross)) {
        const auto words = static_cast<std::size_t>(state.layout.chromsize);
        std::copy(parent1, parent1 + words, child1);
        std::copy(parent2, parent2 + words, child2);
        sites[0] = 0;
        sites[1] = 0;
        return false;
    }
    state.ncross += 1;
    return true;
}

void oneptx(EngineState& state, const std::uint32_t* parent1, const std::uint32_t* parent2,
            std::uint32_t* child1, std::uint32_t* child2, int sites[2]) {
    if (!decide_to_cross(state, parent1, parent2, child1, child2, sites)) {
        return;
    }
    const ChromosomeLayout& layout = state.layout;
    // The last field's end is excluded: a cut there would exchange nothing.
    const int a = layout.field_ends[state.rng.random_int(0, layout.numfields - 2)];
    sites[0] = a;
    sites[1] = 0;
    for (int w = 0; w < layout.chromsize; ++w) {
        combine(mask_up_to(a, w), parent1[w], parent2[w], child1[w], child2[w]);
    }
}

void twoptx(EngineState& state, const std::uint32_t* parent1, const std::uint32_t* parent2,
            std::uint32_t* child1, std::uint32_t* child2, int sites[2]) {
    if (!decide_to_cross(state, parent1, parent2, child1, child2, sites)) {
        return;
    }
    const ChromosomeLayout& layout = state.layout;
    int a = layout.field_ends[state.rng.random_int(0, layout.numfields - 1)];
    int b = layout.field_ends[state.rng.random_int(0, layout.numfields - 1)];
    if (a > b) {
        std::swap(a, b);
    }
    sites[0] = a;
    sites[1] = b;
    for (int w = 0; w < layout.chromsize; ++w) {
        const std::uint32_t straight = mask_up_to(a, w) | ~mask_up_to(b, w);
        combine(straight, parent1[w], parent2[w], child1[w], child2[w]);
    }
}

void unifx(EngineState& state, const std::uint32_t* parent1, const std::uint32_t* parent2,
           std::uint32_t* child1, std::uint32_t* child2, int sites[2]) {
    if (!decide_to_cross(state, parent1, parent2, child1, child2, sites)) {
        return;
    }
    sites[0] = 0;
    sites[1] = 0;
    const ChromosomeLayout& layout = state.layout;
    std::fill(child1, child1 + layout.chromsize, 0u);
    std::fill(child2, child2 + layout.chromsize, 0u);
    int first = 1;
    for (int k = 0; k < layout.numfields && first <= layout.lchrom; ++k) {
        const int last = layout.field_ends[k];
        // One draw decides every word the field touches.
        const bool straight = state.rng.random_coin(0.5f) != 0;
        const std::uint32_t* from1 = straight ? parent1 : parent2;
        const std::uint32_t* from2 = straight ? parent2 : parent1;
        for (int w = (first - 1) / UINTSIZE; w <= (last - 1) / UINTSIZE; ++w) {
            const std::uint32_t mask = mask_between(first, last, w);
            child1[w] |= from1[w] & mask;
            child2[w] |= from2[w] & mask;
        }
        first = last + 1;
    }
}

}  // namespace

void crossover(EngineState& state, const std::uint32_t* parent1, const std::uint32_t* parent2,
               std::uint32_t* child1, std::uint32_t* child2, int sites[2]) {
    switch (state.params.crossover) {
        case CrossoverMethod::one_point:
            oneptx(state, parent1, parent2, child1, child2, sites);
            return;
        case CrossoverMethod::two_point:
            twoptx(state, parent1, parent2, child1, child2, sites);
            return;
        case CrossoverMethod::uniform:
            unifx(state, parent1, parent2, child1, child2, sites);
            return;
    }
    // Reached only with a value outside the enumeration.
    throw EngineFault(strprintf("No crossover operator has the code %d.\n",
                                static_cast<int>(state.params.crossover)));
}

}  // namespace velmora
