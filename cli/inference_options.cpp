#include "cli/inference_options.hpp"

#include "data/series.hpp"
#include "output/paper_table.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

namespace {
constexpr int kMaxReplicates = 1000000;
constexpr int kMaxDiagnosticLags = 1000;
}  // namespace

void add_inference_options(CLI::App& command, InferenceChoices& choices) {
    command
        .add_option("--test-linearity", choices.test_linearity,
                    "Test the reported threshold model against the linear VAR of the same "
                    "order: the likelihood ratio with a p-value from this many residual-bootstrap "
                    "series of the linear VAR, on each of which the thresholds are searched "
                    "again (0: no test)")
        ->check(CLI::NonNegativeNumber)
        ->type_name("B")
        ->capture_default_str();
    command
        .add_option("--confidence", choices.confidence,
                    "Level of the confidence set of each threshold, between 0 and 1 (inverts "
                    "the likelihood ratio in the threshold)")
        ->capture_default_str();
    command
        .add_option("--portmanteau-lags", choices.diagnostics.portmanteau_lags,
                    "Residual autocorrelations the portmanteau test of the reported model sums "
                    "(H, 1 to 1000; its degrees of freedom k^2 (H - m) need H above m)")
        ->check(CLI::Range(1, kMaxDiagnosticLags))
        ->type_name("H")
        ->capture_default_str();
    command
        .add_option("--arch-lags", choices.diagnostics.arch_lags,
                    "Lags of the residuals' cross products in the ARCH-LM test of the reported "
                    "model (q, 1 to 1000)")
        ->check(CLI::Range(1, kMaxDiagnosticLags))
        ->type_name("Q")
        ->capture_default_str();
    command
        .add_option("--test-regimes", choices.test_regimes,
                    "Test the number of regimes on the reported model's threshold variable: "
                    "1 vs 2, 2 vs 3 and 3 vs 4 regimes in turn, each a likelihood ratio with a "
                    "p-value from this many residual-bootstrap series of the smaller model, on "
                    "each of which the thresholds are searched again; the sequence stops at the "
                    "first test not rejected (0: no tests)")
        ->check(CLI::NonNegativeNumber)
        ->type_name("B")
        ->capture_default_str();
    command
        .add_option("--test-level", choices.test_level,
                    "Level of the tests of the number of regimes, between 0 and 1: a test is "
                    "rejected when its p-value is at most this")
        ->capture_default_str();
}

void check_inference_choices(const InferenceChoices& choices) {
    // Each replicate keeps its statistic: far more than anyone needs would
    // exhaust memory after the search.
    if (choices.test_linearity > kMaxReplicates) {
        throw ConfigError(strprintf("--test-linearity: %d bootstrap series; at most %d",
                                    choices.test_linearity, kMaxReplicates));
    }
    if (choices.test_regimes > kMaxReplicates) {
        throw ConfigError(strprintf("--test-regimes: %d bootstrap series; at most %d",
                                    choices.test_regimes, kMaxReplicates));
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

void add_tables_option(CLI::App& command, std::string& path) {
    command
        .add_option("--tables", path,
                    "Also write the reported model as a table for a paper, chosen by the "
                    "extension: a LaTeX tabular (.tex), Markdown (.md) or CSV (.csv); "
                    "coefficients with standard errors and significance stars, thresholds "
                    "with their confidence sets, criteria, tests and residual diagnostics")
        ->type_name("PATH");
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
