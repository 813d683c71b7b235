#pragma once
// Runs one allocation of the engine's storage and turns exhausted memory into
// the engine's out-of-memory report naming what was being allocated.

#include <new>
#include <stdexcept>

#include "engine/population.hpp"

namespace velmora {

template <typename Allocate>
void allocate_or_report(EngineState& state, const char* name, Allocate&& allocate) {
    try {
        allocate();
    } catch (const std::bad_alloc&) {
        out_of_memory(state, name);
    } catch (const std::length_error&) {
        out_of_memory(state, name);
    }
}

}  // namespace velmora
