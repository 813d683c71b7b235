#pragma once
// Selection of the parents of the next generation. Each method is a family:
// its storage, a preselect step once per generation and the choice of one
// parent; every entry point dispatches on the run's method.

namespace velmora {

struct EngineState;

enum class SelectionMethod { roulette, remainder, tournament, universal_sampling };

// The storage of the run's method (part of allocate_population).
void allocate_selection(EngineState& state);
// Everything any method may have allocated (part of free_all).
void release_selection(EngineState& state);
void preselect(EngineState& state);
int select(EngineState& state);  // index into oldpop

}  // namespace velmora
