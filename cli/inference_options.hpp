#pragma once
// The command-line side of the inference on a reported model: --test-linearity
// and --confidence on `run` and `fit`.

#include <CLI/CLI.hpp>
#include <cstdint>

#include "inference/model_inference.hpp"

namespace velmora::cli {

struct InferenceChoices {
    int test_linearity = 0;  // bootstrap replicates; 0: no test
    double confidence = 0.95;
};

void add_inference_options(CLI::App& command, InferenceChoices& choices);

// Throws ConfigError for a level outside (0, 1).
void check_inference_choices(const InferenceChoices& choices);

inference::InferenceOptions inference_options(const InferenceChoices& choices, std::uint64_t seed,
                                              int threads);

}  // namespace velmora::cli
