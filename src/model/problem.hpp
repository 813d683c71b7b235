#pragma once
// The read-only description of one estimation problem: the observed series and
// the sizes every estimate of a run shares. Estimators, the objective and the
// final report all take it by const reference; nothing in it changes while a
// search is under way.

#include <climits>
#include <filesystem>
#include <optional>

#include "model/criterion.hpp"
#include "model/design.hpp"
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
    // Deterministic terms of every regime's equations, and the row number in
    // the data read of the row before time 1 (the trend of time t is
    // trend_origin + t).
    Include include = Include::none;
    int trend_origin = 0;
    // The criterion every estimate of the problem reports and a search
    // minimises; with the information criteria the regressions start at
    // first_row().
    Criterion criterion = Criterion::classic;
    int first_row() const { return criterion_first_row(criterion, m); }
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
// The threshold variables are components 1 and 2.
constexpr int kMinComponents = 2;
// A regime needs two observations before any coefficient can be estimated.
constexpr int kMinRegimeObservations = 2;

constexpr bool order_allowed(int m) {
    return m >= 1 && m <= kMaxOrder;
}

// The size rules of a problem, in the order they are checked. Each front end
// words a broken rule for its own users; the bounds live here only.
enum class SizeRule { components, few_observations, many_observations, order, regime_observations };

// The first rule the sizes break, if any. max_n_oss bounds the series from
// above where a caller needs it (the search's position fields).
std::optional<SizeRule> broken_size_rule(int n_oss, int n_comp, int m, int min_oss_reg,
                                         int max_n_oss = INT_MAX);

// Checks what the estimators rely on (a series present and as large as the
// sizes say, n_comp >= 2, n_oss >= 30, m in 1..4, min_oss_reg >= 2). Throws
// ConfigError with a message a user can act on.
void validate_problem(const ModelProblem& problem);
// The size rules alone, before a series has been read.
void validate_problem_sizes(int n_oss, int n_comp, int m, int min_oss_reg);

}  // namespace velmora
