#pragma once
// The boundary between the generic genetic engine and the application that
// uses it. The engine knows nothing of threshold models: it calls these hooks
// at fixed points and the objective through objfunc.

#include <span>
#include <vector>

#include "engine/individual.hpp"
#include "engine/params.hpp"

namespace velmora {

class AppHooks {
  public:
    virtual ~AppHooks() = default;

    virtual void app_before_init() {}
    // Sets the application-dependent flags (stochastic_fitness, then elitist).
    virtual void app_init(EngineParams& params) = 0;
    // field_sizes arrives filled with -1 (numfields entries); every entry must
    // end at 2 or more.
    virtual void app_set_field_sizes(std::vector<int>& field_sizes) = 0;
    virtual void app_after_alloc() {}
    virtual void app_before_generation() {}
    virtual void app_after_generation() {}
    virtual void app_after_statistics(const individual* population, int popsize) {
        (void)population;
        (void)popsize;
    }
    // Bytes of application data per individual; 0 means none is allocated.
    virtual int app_data_size() const { return 0; }

    // The objective. Sets raw_fitness of every listed member from its
    // chromosome. The engine has already advanced nevals and set each
    // eval_number, in list order. It must draw no random numbers; members may
    // be evaluated concurrently.
    virtual void objfunc(std::span<individual* const> members, const ChromosomeLayout& layout) = 0;

    // Report of the best individual at the end of a replication.
    virtual void app_final_report(const individual& best, const ChromosomeLayout& layout) = 0;
};

}  // namespace velmora
