#pragma once
// The generation cycle: breeding newpop from oldpop, evaluation, elitism,
// the statistics of a population and the final report.

namespace velmora {

struct EngineState;
struct individual;

// Requests the objective for ind: nevals += 1, eval_number = nevals, and the
// member joins state.pending. flush_evaluations hands the pending members to
// the objective in one batch; generation flushes before elitism and start-up
// before the statistics, so every fitness is in place when it is read.
void evaluate_individual(EngineState& state, individual& ind);
void flush_evaluations(EngineState& state);
void generation(EngineState& state);
void elitism_step(EngineState& state);
void inherit_utilities(EngineState& state);

// Statistics of pop (popsize evaluated members) and its scaled fitness with
// the run's method, then the application's app_after_statistics. Raises
// negative raw fitness to 0 in place. May throw EngineFault (Boltzmann
// overflow).
void population_statistics(EngineState& state, individual* pop);

// Calls app_final_report on newpop[best_index].
void engine_report(EngineState& state);

}  // namespace velmora
