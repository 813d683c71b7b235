#include "cli/inference_options.hpp"

#include "data/series.hpp"
#include "output/paper_table.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

void bind_inference_options(options::Bindings& bindings, InferenceChoices& choices) {
    bindings.bind(options::test_linearity, choices.test_linearity);
    bindings.bind(options::confidence, choices.confidence);
    bindings.bind(options::portmanteau_lags, choices.diagnostics.portmanteau_lags);
    bindings.bind(options::arch_lags, choices.diagnostics.arch_lags);
    bindings.bind(options::test_regimes, choices.test_regimes);
    bindings.bind(options::test_level, choices.test_level);
}

void check_inference_choices(const InferenceChoices& choices) {
    if (!options::test_linearity.bounds->allows(choices.test_linearity)) {
        throw ConfigError(strprintf("--test-linearity: %d bootstrap series; at most %d",
                                    choices.test_linearity,
                                    options::high_int(options::test_linearity)));
    }
    if (!options::test_regimes.bounds->allows(choices.test_regimes)) {
        throw ConfigError(strprintf("--test-regimes: %d bootstrap series; at most %d",
                                    choices.test_regimes,
                                    options::high_int(options::test_regimes)));
    }
    if (!(choices.test_level > 0.0 && choices.test_level < 1.0)) {
        throw ConfigError(
            strprintf("--test-level must lie between 0 and 1, both excluded (test-level = %g)",
                      choices.test_level));
    }
    if (!(choices.confidence > 0.0 && choices.confidence < 1.0)) {
        throw ConfigError(
            strprintf("--confidence must lie between 0 and 1, both excluded "
                      "(confidence = %g)",
                      choices.confidence));
    }
}

void check_tables_path(const std::string& path) {
    if (!path.empty() && !table_format_of(path)) {
        throw ConfigError(
            strprintf("--tables %s: the extension must be .tex (LaTeX), .md (Markdown) or .csv",
                      path.c_str()));
    }
}

inference::InferenceOptions inference_options(const InferenceChoices& choices, std::uint64_t seed,
                                              int threads, const std::atomic<bool>* stop,
                                              StageProgress* progress) {
    inference::InferenceOptions options;
    options.replicates = choices.test_linearity;
    options.confidence = choices.confidence;
    options.regime_replicates = choices.test_regimes;
    options.test_level = choices.test_level;
    options.seed = seed;
    options.threads = threads;
    options.stop = stop;
    if (progress != nullptr) {
        const char* label = choices.test_regimes > 0 ? "bootstrap" : "linearity test";
        options.progress = [progress, label](int done, int total) {
            progress->update(label, done, total);
        };
    }
    return options;
}

}  // namespace velmora::cli
