#pragma once
// The criteria a search can minimise. The classic one is the program's own
// (its rows, its zero residuals before a structure's first usable time, its
// divisor n_oss and demeaned covariance). The information criteria compare
// every structure of a run on the same rows, so that a longer threshold lag
// is not rewarded for the rows it leaves out, and charge every estimated
// coefficient.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

enum class Criterion { classic, aic, bic, hq };

inline constexpr std::array<Criterion, 4> kCriterionChoices{Criterion::classic, Criterion::aic,
                                                            Criterion::bic, Criterion::hq};

// "classic", "aic", "bic", "hq".
const char* criterion_name(Criterion criterion);
std::optional<Criterion> parse_criterion(std::string_view name);
// "classic|aic|bic|hq", for help texts and messages.
std::string criterion_choices_text();

// First of the rows every structure of a run is scored on: the largest
// threshold lag or order any candidate may use, plus one.
int common_first_row(int m);
// The first row a criterion's regressions use: 1 for classic (each
// structure's own first usable time then decides), else the common one.
int criterion_first_row(Criterion criterion, int m);

// Coefficients a model estimates: every regime's k equations with m lags of
// k components and its deterministic terms. Thresholds are not counted.
int estimated_coefficients(int n_regime, int k, int m, int deterministic_terms);

// The same with an order per regime (orders[0 .. n_regime-1]).
int estimated_coefficients(const int* orders, int n_regime, int k, int deterministic_terms);

// ln det(E'E/T) + penalty * coefficients / T, the penalty being 2 (aic),
// ln T (bic) or 2 ln ln T (hq). Not for the classic criterion (throws
// std::invalid_argument).
double information_criterion(Criterion criterion, double log_det, int rows, int coefficients);

}  // namespace velmora
