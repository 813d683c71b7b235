#pragma once
// The command-line side of the inference on a reported model: --test-linearity,
// --confidence, --test-regimes, --test-level and the residual diagnostics'
// --portmanteau-lags and --arch-lags on `run` and `fit`.

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdint>

#include <optional>
#include <string>

#include "app/run_config.hpp"
#include "app/threshold_app.hpp"
#include "cli/progress_line.hpp"
#include "diagnostics/model_diagnostics.hpp"
#include "inference/model_inference.hpp"
#include "options/bindings.hpp"

namespace velmora::cli {

struct InferenceChoices {
    int test_linearity = options::test_linearity.default_int();  // bootstrap replicates; 0: none
    double confidence = options::confidence.default_number;
    diagnostics::DiagnosticsOptions diagnostics;
    // Bootstrap replicates per test of the number of regimes; 0: none.
    int test_regimes = options::test_regimes.default_int();
    double test_level = options::test_level.default_number;
};

// --test-linearity, --confidence, --portmanteau-lags, --arch-lags.
void bind_inference_options(options::Bindings& bindings, InferenceChoices& choices);

// Throws ConfigError for a level outside (0, 1).
void check_inference_choices(const InferenceChoices& choices);

// The bootstrap stops between replicates once *stop is set, and shows its
// count on progress's line (both may be null).
inference::InferenceOptions inference_options(const InferenceChoices& choices, std::uint64_t seed,
                                              int threads, const std::atomic<bool>* stop = nullptr,
                                              StageProgress* progress = nullptr);

// Throws ConfigError unless path is empty or ends in .tex, .md or .csv.
void check_tables_path(const std::string& path);

}  // namespace velmora::cli
