#pragma once
// The engine parameter set: what the genetic search reads while a run is under
// way. The run preparation derives it from the user's RunConfig and nothing
// changes it afterwards; what changes during a run (the generation, the
// automatically controlled Boltzmann constant) is engine state.

#include "engine/crossover.hpp"
#include "engine/mutation.hpp"
#include "engine/selection.hpp"
#include "support/scaling.hpp"

namespace velmora {

struct EngineParams {
    int maxgen = 100;
    int popsize = 50;  // made even and at least 2 by the engine initialisation
    float pcross = 0.9f;
    float pmutation = 0.001f;
    int tourneysize = 0;
    SelectionMethod selection = SelectionMethod::roulette;
    CrossoverMethod crossover = CrossoverMethod::one_point;
    MutationMethod mutation = MutationMethod::bit;
    ScalingSettings scaling;

    int numfields = 16;
    int report_level = 0;
    int start_gen = 0;
    int n_replications = 1;
    int replication = 0;

    // Set by the application's app_init.
    int stochastic_fitness = 0;
    int elitist = 1;
};

}  // namespace velmora
