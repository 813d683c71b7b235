#pragma once
// Everything one replication of the genetic search works on. The run owns it
// and passes it by reference; nothing here is process-wide, so engines can run
// side by side (tests, the desktop program's worker thread). The operations
// on it are declared beside their sources: population.hpp, selection.hpp,
// crossover.hpp, mutation.hpp, generation.hpp, startup.hpp.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/hooks.hpp"
#include "engine/individual.hpp"
#include "engine/params.hpp"
#include "support/console.hpp"
#include "support/random.hpp"
#include "support/statistics.hpp"
#include "support/text_file.hpp"

namespace velmora {

struct SelectionState {
    std::vector<int> choices;  // mating pool (universal sampling, remainder)
    int nremain = 0;
    std::vector<float> fraction;   // remainder
    std::vector<int> tourneylist;  // tournament
    int tourneypos = 0;
    double roulette_total = 0.0;
    std::vector<float> roulette_sums;  // running sums of the wheel, one per member
    bool roulette_sums_sorted = true;  // non-decreasing, so a draw may bisect
};

struct MutationState {
    double mutation_rate_seen = 0.0;
    float chrom_mutation_rate = 0.0f;
};

struct EngineState {
    EngineState(const EngineParams& params_, AppHooks& hooks_, RandomGenerator& rng_,
                TextFile& output_file_, Console& console_)
        : params(params_), hooks(hooks_), rng(rng_), output_file(output_file_), console(console_) {}

    // Read only: what changes during a replication is held below.
    const EngineParams& params;
    AppHooks& hooks;
    RandomGenerator& rng;
    TextFile& output_file;  // "Output.txt"
    Console& console;

    ChromosomeLayout layout;
    Statistics stats;

    // Populations: two stores; oldpop/newpop point at them and are exchanged
    // after every generation without copying any record.
    std::vector<individual> pop_store_a;
    std::vector<individual> pop_store_b;
    individual* oldpop = nullptr;
    individual* newpop = nullptr;
    std::vector<std::uint32_t> chrom_space;  // 2*popsize*chromsize words
    std::vector<int> evaluate;               // per newpop member
    // Owner of the application's per-member data blocks (app_data_size bytes
    // each); the records' utility pointers point into them.
    std::vector<std::unique_ptr<std::byte[]>> utility_blocks;

    int ncross = 0;
    int nmutation = 0;
    int nevals = 0;
    // The generation being bred (start_gen .. maxgen-1), advanced by the run.
    int current_gen = 0;

    SelectionState selection;
    MutationState mutation;

    float randomseed = 0.0f;
    // When set, the replication is seeded from this casual value (0..999)
    // instead of the clock.
    std::optional<int> fixed_casual;

    // Members whose evaluation was requested but not yet carried out, in
    // eval_number order (see evaluate_individual).
    std::vector<individual*> pending;
};

}  // namespace velmora
