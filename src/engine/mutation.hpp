#pragma once
// Mutation of a freshly bred child within each field's alphabet.

#include <cstdint>

namespace velmora {

struct EngineState;

// Every run uses bit mutation; the choice is carried like the other
// operators' so that a further method is a case the compiler asks for.
enum class MutationMethod { bit };

// Dispatches on the run's method; nmutation counts the fields changed.
void mutate(EngineState& state, std::uint32_t* chrom);

// Bit mutation: each field mutates with probability pmutation and then takes
// a different code of its alphabet.
void bitmutat(EngineState& state, std::uint32_t* chrom);

}  // namespace velmora
