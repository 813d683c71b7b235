#pragma once
// The read-only description of one estimation problem: the observed series and
// the sizes every estimate of a run shares. Estimators, the objective and the
// final report all take it by const reference; nothing in it changes while a
// search is under way.

#include <filesystem>

#include "numeric/arrays.hpp"
#include "support/console.hpp"

namespace velmora {

struct ModelProblem {
    // Rows 1..n_oss, columns 1..n_comp; [t][k] is component k at time t.
    const double_matrix* serie_matrix = nullptr;
    int n_oss = 0;
    int n_comp = 0;
    int min_oss_reg = 0;
    int m = 0;  // largest autoregressive order
    // The best-model report of a search (write_model_report): the replication
    // shown in the one-threshold header, the folder of the result files, and
    // where "File could not be opened\n" goes (dropped when null). The
    // estimators themselves write nothing.
    int replication = 1;
    std::filesystem::path result_dir = ".";
    Console* console = nullptr;
};

// Smallest series the estimators accept: a threshold position code of 0
// stands for time 30 in the one-threshold model.
constexpr int kMinObservations = 30;
constexpr int kMaxOrder = 4;
constexpr int kMaxLag = 6;

// Checks what the estimators rely on (a series present and as large as the
// sizes say, n_comp >= 2, n_oss >= 30, m in 1..4, min_oss_reg >= 2). Throws
// ConfigError with a message a user can act on.
void validate_problem(const ModelProblem& problem);
// The size rules alone, before a series has been read.
void validate_problem_sizes(int n_oss, int n_comp, int m, int min_oss_reg);

}  // namespace velmora
