#pragma once
// Test scaffolding for the genetic engine: an EngineState wired to a fake
// application, a run log in a private temporary file, and a chromosome layout
// built from alphabet sizes without going through the start-up code.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/crossover.hpp"
#include "engine/engine_state.hpp"
#include "engine/generation.hpp"
#include "engine/hooks.hpp"
#include "engine/individual.hpp"
#include "engine/mutation.hpp"
#include "engine/params.hpp"
#include "engine/population.hpp"
#include "engine/selection.hpp"
#include "engine/startup.hpp"
#include "support/console.hpp"
#include "support/random.hpp"
#include "support/statistics.hpp"
#include "support/text_file.hpp"

namespace velmora::testing {

// Bits needed for a field of `codes` codes, as the start-up lays fields out.
inline int field_width(int codes) {
    for (int b = 1; b <= 16; ++b) {
        if ((1 << b) >= codes) {
            return b;
        }
    }
    return 17;
}

// A layout of fields with the given alphabet sizes, laid end to end from bit 1.
inline ChromosomeLayout make_layout(const std::vector<int>& field_sizes) {
    ChromosomeLayout layout;
    layout.numfields = static_cast<int>(field_sizes.size());
    layout.field_sizes = field_sizes;
    int total = 0;
    for (int size : field_sizes) {
        total += field_width(size);
        layout.field_ends.push_back(total);
    }
    layout.lchrom = total;
    layout.chromsize = total / 32 + (total % 32 != 0 ? 1 : 0);
    return layout;
}

// Velmora's own alphabet sizes with n_oss = 1000: 70 bits in 3 words, with
// fields crossing both word boundaries.
inline std::vector<int> velmora_field_sizes() {
    return {2, 2, 2, 2, 4, 1000, 1000, 1000, 1000, 1000, 2, 4, 4, 6, 6, 6};
}

// An application that answers the hooks from plain data. The objective is a
// function of the chromosome only; by default one plus the sum of the codes.
class FakeHooks : public AppHooks {
  public:
    std::vector<int> field_sizes = velmora_field_sizes();
    int data_size = 0;
    int objfunc_calls = 0;  // batches
    int evaluated = 0;      // members
    std::function<double(const individual&, const ChromosomeLayout&)> objective;

    void app_init(EngineParams& params) override {
        params.stochastic_fitness = 0;
        params.elitist = 1;
    }
    void app_set_field_sizes(std::vector<int>& sizes) override {
        for (std::size_t k = 0; k < sizes.size() && k < field_sizes.size(); ++k) {
            sizes[k] = field_sizes[k];
        }
    }
    int app_data_size() const override { return data_size; }
    void objfunc(std::span<individual* const> members, const ChromosomeLayout& layout) override {
        ++objfunc_calls;
        for (individual* member : members) {
            ++evaluated;
            member->raw_fitness =
                objective ? objective(*member, layout) : default_objective(*member, layout);
        }
    }
    void app_final_report(const individual&, const ChromosomeLayout&) override {}

    static double default_objective(const individual& member, const ChromosomeLayout& layout) {
        double sum = 1.0;
        for (int k = 0; k < layout.numfields; ++k) {
            sum += getfield(k, layout, member.chrom);
        }
        return sum;
    }
};

// A run log in a fresh temporary file, removed again with the object.
class TempLog {
  public:
    TempLog() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
        int fd = ::mkstemp(pattern.data());
        if (fd >= 0) {
            ::close(fd);
        }
        path_ = pattern;
        file = TextFile(path_, "w");
    }
    ~TempLog() {
        file.close();
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    TempLog(const TempLog&) = delete;
    TempLog& operator=(const TempLog&) = delete;

    // Everything written so far.
    std::string contents() {
        file.flush();
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    TextFile file;

  private:
    std::filesystem::path path_;
};

// Linear scaling with a ratio of 1, which stretches nothing: raw and scaled
// fitness agree.
inline void switch_scaling_off(EngineParams& params) {
    params.scaling = ScalingSettings{};
    params.scaling.method = ScalingMethod::linear;
    params.scaling.scalemult = 1.0f;
}

// What the run driver does after each generation: the statistics of the new
// population, one step of the scaling window, and the exchange of roles.
inline void finish_generation(EngineState& state) {
    population_statistics(state, state.newpop);
    ++state.stats.window_newest;
    std::swap(state.oldpop, state.newpop);
}

// One generation followed by what the run driver does after it.
inline void advance_generation(EngineState& state) {
    generation(state);
    finish_generation(state);
}

// A complete engine for one test: parameters, fake application, generator,
// log and console, plus the state that refers to them. The layout is installed
// from the fake application's field sizes; allocate() builds the populations.
struct EngineFixture {
    explicit EngineFixture(int popsize = 4, std::vector<int> sizes = velmora_field_sizes()) {
        hooks.field_sizes = sizes;
        params.popsize = popsize;
        params.numfields = static_cast<int>(sizes.size());
        state.layout = make_layout(sizes);
    }
    EngineFixture(const EngineFixture&) = delete;
    EngineFixture& operator=(const EngineFixture&) = delete;

    // Seeds the generator from a fixed casual value so draws are repeatable.
    void seed(int casual = 123) { rng.random_seed_from_casual(casual, state.randomseed, log.file); }

    // oldpop, newpop, chromosome space and the selection storage.
    void allocate() { allocate_population(state); }

    // Writes the codes into a member's chromosome field by field.
    void set_codes(individual& member, const std::vector<std::uint32_t>& codes) {
        for (std::size_t k = 0; k < codes.size(); ++k) {
            putfield(static_cast<int>(k), state.layout, codes[k], member.chrom);
        }
    }

    EngineParams params;
    FakeHooks hooks;
    RandomGenerator rng;
    TempLog log;
    NullConsole console;
    EngineState state{params, hooks, rng, log.file, console};
};

}  // namespace velmora::testing
