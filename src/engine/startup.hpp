#pragma once
// Start-up of one replication: chromosome layout, storage, seeding, and the
// evaluated, scaled start population.

namespace velmora {

struct EngineState;

void initialize_engine(EngineState& state);
void setup_field_layout(EngineState& state);
void init_field_population(EngineState& state, int first);
void evaluate_new_individual(EngineState& state, int i);

}  // namespace velmora
