#pragma once
// A fitted threshold VAR as a value: everything an estimate computed, for
// reports, tables, forecasts and inference to read without estimating again.
//
// Coefficient layout (kept from the report's Phi lines): at order p a regime
// has q = p*k regressors, regressor i = (lag-1)*k + variable (1-based), and
// Phi holds q*k values with Phi[(i-1)*k + c] (1-based) the coefficient of
// regressor i in the equation of component c, so
//   phi[((lag-1)*k + variable-1)*k + equation-1]   (0-based storage).
// Use FittedModel::coefficient rather than decoding it by hand.

#include <array>
#include <vector>

#include "model/criterion.hpp"
#include "model/design.hpp"
#include "model/structure.hpp"

namespace velmora {

enum class EstimateStatus {
    estimated,
    too_few_observations,                  // a regime below the least observations per regime
    fewer_observations_than_coefficients,  // a regime with fewer observations than p*k
    singular_regression,                   // a regime's Z_Z could not be inverted
    singular_covariance,                   // a regime or the overall covariance has an all-zero row
    non_finite_criterion,                  // the criterion came out infinite or NaN
};

// Short name of a status ("estimated", "too_few_observations", ...), as the
// JSON summary shows it.
const char* status_name(EstimateStatus status);

// The criterion alone, for the search's hot path.
struct CriterionResult {
    EstimateStatus status = EstimateStatus::estimated;
    // aic_global; exactly 0.0 when a regime or covariance stopped the estimate,
    // the non-finite value itself for non_finite_criterion.
    double criterion = 0.0;
    bool estimated() const noexcept { return status == EstimateStatus::estimated; }
};

// One regime's regression at one order. Vectors of a regression the estimate
// did not reach are empty.
struct RegimeFit {
    int observations = 0;
    std::vector<int> times;   // the 1-based times it was estimated on, ascending
    std::vector<double> phi;  // q*k coefficients, layout above
    // d*k coefficients of the deterministic terms (const, then trend):
    // [term*k + equation-1]. Empty without them.
    std::vector<double> deterministic;
    // (Z'Z)^-1 of the regression, (d + q) x (d + q), deterministic
    // regressors first, then the lags as in phi.
    std::vector<double> zz_inverse;
    std::vector<double> fitted;      // observations x k: [n*k + c-1], n in time order
    std::vector<double> residuals;   // observations x k, same layout
    std::vector<double> covariance;  // k x k residual covariance (divisor: observations)
};

struct FittedModel {
    EstimateStatus status = EstimateStatus::estimated;
    int order_reached = 0;  // order whose pass the estimate ended in (m when complete)
    int failed_regime = 0;  // regime that stopped it; 0 when none or the overall covariance

    ModelStructure given;  // the structure as asked for
    // As estimated: threshold positions with 0 replaced (time 30 with one
    // threshold variable, time 1 with two).
    ModelStructure used;

    int n_oss = 0;
    int k = 0;  // components
    // The file's column of each external threshold column (series column
    // k + j): the number the reports give it.
    std::vector<int> external_columns;
    int m = 0;  // largest order
    // Each regime's order in the model ([r-1]): m for every regime unless
    // the structure gave others or the problem chose them. Every order
    // 1..m is estimated for every regime all the same (passes below).
    std::array<int, 4> orders{};
    Include include = Include::none;  // deterministic terms of every regime
    int trend_origin = 0;             // the trend of time t is trend_origin + t
    int n_regime = 0;
    // One threshold variable: the ascending thresholds 1..n_regime-1 (slots
    // beyond hold 1000000.0). Two: t1 and t2 in [0] and [1].
    std::array<double, 3> thresholds{};
    // Value of each threshold variable at every time 1..n_oss ([t-1]): the
    // component lagged by its lag, NaN where the lag reaches before time 1.
    // The second is empty with one threshold variable.
    std::vector<double> threshold_variable;
    std::vector<double> threshold_variable2;

    // passes[p-1][r-1]: regime r at order p, for the orders and regimes the
    // estimate reached.
    std::vector<std::vector<RegimeFit>> passes;
    std::vector<double> overall_covariance;  // k x k over every residual row; empty if not reached

    // Two threshold variables: n_r ln det + (2/n_r) m k^2 per regime at order m
    // (-10000 for det <= 0), and their sum over n_oss. Zero with one.
    std::array<double, 4> regime_aic{};
    double aic_total = 0.0;
    double criterion = 0.0;  // the problem's criterion as the search uses it (see CriterionResult)
    Criterion criterion_kind = Criterion::classic;
    // aic_global, the classic criterion of these regressions, which the
    // report files show whatever criterion was chosen.
    double classic_criterion = 0.0;

    // Regime of every time 1..n_oss at order m ([t-1]); 0 where none applies
    // (before the first usable time, or a value above the last threshold when
    // the one-threshold model has fewer than four regimes).
    std::vector<int> regime_of_time;

    bool estimated() const noexcept { return status == EstimateStatus::estimated; }
    int threshold_variables() const noexcept { return given.threshold_variables; }
    // The threshold variables' series columns (one or two).
    std::vector<int> threshold_columns() const;
    // Whether a threshold variable is an external column, and the number the
    // reports give series column c: a component's own, an external column's
    // number in the file.
    bool external_threshold() const;
    int reported_column(int c) const;

    // Order of regime r in the model (m when orders were not set).
    int order(int r) const noexcept;
    // Whether some regime's order is below m.
    bool mixed_orders() const noexcept;
    // Regime r (1..n_regime) at order p (1..m, default the regime's own).
    // Throws std::out_of_range when the estimate did not reach it.
    const RegimeFit& regime(int r, int p = 0) const;
    // Coefficient of component `variable` lagged `lag` in the equation of
    // component `equation` (all 1-based), regime r, order p (default the
    // regime's own, whose lags beyond it are 0 up to lag m).
    double coefficient(int r, int lag, int equation, int variable, int p = 0) const;
    // Residual covariance entry [row][col] (1-based) of regime r at order p.
    double covariance(int r, int row, int col, int p = 0) const;
    // Coefficient of deterministic term `term` (0-based, const before trend)
    // in the equation of component `equation` (1-based), regime r, order p.
    double deterministic_coefficient(int r, int term, int equation, int p = 0) const;
    int deterministic_terms() const noexcept { return deterministic_count(include); }
    // Observations of regime r in the last pass reached (order m when
    // complete); 0 when that pass did not reach the regime.
    int observations(int r) const noexcept;
};

class ByteWriter;
class ByteReader;

// A fitted model as bytes and back, whole, for a result computed in another
// process of the same program (support/executor.hpp).
void write_structure(ByteWriter& out, const ModelStructure& structure);
ModelStructure read_structure(ByteReader& in);
void write_fitted_model(ByteWriter& out, const FittedModel& model);
FittedModel read_fitted_model(ByteReader& in);

// Fitness of a criterion result: exp(-criterion/100) when estimated, else 0.
double fitness_of(const CriterionResult& result);

}  // namespace velmora
