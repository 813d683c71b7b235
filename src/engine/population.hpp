#pragma once
// The storage of one replication: field tables, the two populations, the
// chromosome space, the application's per-member blocks.

namespace velmora {

struct EngineState;

// Allocates field_sizes and field_ends (numfields entries each) if not yet.
void allocate_field_tables(EngineState& state);
// oldpop, newpop, chrom_space (chrom pointers assigned), evaluate, then the
// selection method's storage.
void allocate_population(EngineState& state);
void allocate_utilities(EngineState& state);
void copy_utility(EngineState& state, void* destination, const void* source);
// Releases every engine array of the replication.
void free_all(EngineState& state);
// Writes "malloc: out of memory making %s!!\n" to the run log and throws EngineFault.
[[noreturn]] void out_of_memory(EngineState& state, const char* name);

}  // namespace velmora
