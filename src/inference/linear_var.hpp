#pragma once
// The linear benchmark of a threshold model: the VAR of the same order on the
// same series, one regime holding every time.
//
// Its criterion is computed by the estimators' own passes with a single
// regime whose time list holds every time, so it is exactly the number a
// threshold model's criterion is compared with (the log-determinant of the
// overall residual covariance as the estimators form it, plus
// 2 * m * k^2 / n_oss). Its coefficients, residuals and standard errors come
// from regress_regime at the largest order, over times m + 1 .. n_oss.

#include <vector>

#include "inference/regression.hpp"
#include "model/estimate.hpp"
#include "model/problem.hpp"

namespace velmora::inference {

struct LinearCriterion {
    EstimateStatus status = EstimateStatus::estimated;
    double criterion = 0.0;  // 0.0 when not estimable, as the estimators say it
};

struct LinearVar {
    int order = 0;  // the problem's m
    int k = 0;
    int n_oss = 0;
    LinearCriterion criterion;
    // Order m over times m + 1 .. n_oss: coefficients (layout of
    // regression.hpp), residuals in time order, covariance divided by
    // n - m*k, standard errors.
    RegimeRegression regression;
};

// Only the criterion (cheap; no allocation beyond one estimation workspace),
// its regressions on the times first_time .. n_oss (each pass from its order
// + 1 on, and from the problem's first row on). A threshold model whose
// lists start at first_time is scored on exactly these rows, so the two
// criteria compare exactly.
LinearCriterion linear_var_criterion(const ModelProblem& problem, int first_time = 1);

// The whole linear VAR of order problem.model.max_order on rows 1..problem.n_oss.
LinearVar fit_linear_var(const ModelProblem& problem);

// Iterated forecasts without shocks: from origin (the last time known, rows
// 1..origin of history are used, origin >= order), steps rows of k values,
// [(h-1)*k + c-1] for step h and component c.
std::vector<double> linear_var_forecast(const RegimeRegression& var, const SeriesRows& history,
                                        int origin, int steps);

}  // namespace velmora::inference
