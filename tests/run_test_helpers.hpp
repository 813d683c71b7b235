#pragma once
// Short searches on the sample series for the tests of whole runs.

#include <optional>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "test_helpers.hpp"

namespace velmora::testing {

// A population of 12 for maxgen generations on the first n_oss rows of the
// sample, a tenth of them at least in every regime.
inline RunConfig small_search_config(int n_oss, int maxgen) {
    RunConfig c;
    c.course_file = sample_series();
    c.n_oss = n_oss;
    c.model.min_obs_per_regime = n_oss / 10;
    c.popsize = 12;
    c.maxgen = maxgen;
    c.pmutation = 0.05;
    return c;
}

// A run in dir that reports to console.
inline RunOptions run_options(const TempDir& dir, Console& console, std::optional<int> seed) {
    RunOptions o;
    o.workdir = dir.path();
    o.console = &console;
    o.seed = seed;
    return o;
}

}  // namespace velmora::testing
