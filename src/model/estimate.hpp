#pragma once
// Least-squares estimation of a threshold VAR (one VAR without intercept per
// regime, every order 1..m) and its information criterion.
//
// Both estimators return aic_global after the pass of order m, or exactly 0.0
// when the structure cannot be estimated: a regime with fewer than
// min_oss_reg observations, a regime whose regression cross-product matrix is
// singular, or a residual covariance with an all-zero row. The objective maps
// 0.0 to fitness 0.
//
// With printing on they append their report to three result files in
// problem.result_dir.

#include <array>
#include <span>

#include "model/problem.hpp"
#include "model/structure.hpp"
#include "model/workspace.hpp"

namespace velmora {

enum class EstimateStatus {
    estimated,
    too_few_observations,  // a regime below min_oss_reg
    singular_regression,   // a regime's Z_Z could not be inverted
    singular_covariance,   // a regime or the overall covariance has an all-zero row
};

// What a user wants to read about one estimate. Observation counts are those
// of the last pass reached (order m when the estimate completed).
struct EstimateSummary {
    EstimateStatus status = EstimateStatus::estimated;
    int n_regime = 0;
    int order_reached = 0;  // pass in which the estimate ended
    int failed_regime = 0;  // regime that stopped it, 0 when none
    // One-threshold model: the sorted thresholds 1..n_regime-1 (entries
    // beyond hold 1000000.0). Two-threshold model: t1 and t2 in [0], [1].
    std::array<double, 3> thresholds{};
    std::array<int, 4> observations{};  // per regime 1..n_regime in [0..3]
    double criterion = 0.0;             // aic_global, 0.0 when not estimated
    double aic_total = 0.0;             // two-threshold model only
};

// print_flag 1 writes the report; any other value is silent.
// pos_threshold needs n_regime-1 entries (0..n_oss-1, 0 meaning time 30).
// Throws std::invalid_argument when an argument is outside what the problem
// allows (a caller's fault: component above n_comp, lag outside 1..6,
// position outside 0..n_oss-1, a regime count other than 2..4).
double estimate_one_threshold(const ModelProblem& problem, EstimationWorkspace& workspace,
                              int which_serie, int n_regime, std::span<const int> pos_threshold,
                              int print_flag, int threshold_lag,
                              EstimateSummary* summary = nullptr);

// Positions 0..n_oss-1, 0 meaning time 1. n_regime 4 with type_model 0, or 3
// with type_model 1..3.
double estimate_two_thresholds(const ModelProblem& problem, EstimationWorkspace& workspace,
                               int which_serie1, int which_serie2, int pos_thres_1, int pos_thres_2,
                               int n_regime, int type_model, int print_level, int Ritardo1,
                               int Ritardo2, EstimateSummary* summary = nullptr);

// Calls the estimator that matches the structure.
double estimate_structure(const ModelProblem& problem, EstimationWorkspace& workspace,
                          const ModelStructure& structure, bool print,
                          EstimateSummary* summary = nullptr);

}  // namespace velmora
