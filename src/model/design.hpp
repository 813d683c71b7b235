#pragma once
// The regression design every least-squares fit of Velmora reads: the
// responses y_t, the deterministic columns of time t and the lags
// y_t-1 ... y_t-m as one row per time,
//   row t = (y_t [k], deterministic terms [d], y_t-1 [k], ..., y_t-m [k]),
// so that the regressors of an order-p fit (d + p*k values, deterministic
// terms first) are one contiguous run after the responses for every p.
//
// Without deterministic terms the rows overlap: the series reversed in time
// is already such a design (row t starts k values before row t - 1), and the
// estimators read it in place.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/arrays.hpp"

namespace velmora {

// Deterministic terms of every regime's equations: a constant, a linear
// trend, both or neither.
enum class Include { none, constant, trend, both };
// Every choice, in the order the front ends list them.
inline constexpr std::array<Include, 4> kIncludeChoices{Include::none, Include::constant,
                                                        Include::trend, Include::both};

// Most deterministic columns a model has.
constexpr int kMaxDeterministic = 2;

// Number of deterministic columns (0, 1 or 2).
int deterministic_count(Include include) noexcept;
bool has_constant(Include include) noexcept;
bool has_trend(Include include) noexcept;
// "none", "const", "trend" or "both".
const char* include_name(Include include) noexcept;
std::optional<Include> parse_include(std::string_view name);
// The choices' names for a user: "none, const, trend or both".
std::string include_choices_text();
// Name of deterministic column j (0-based) of a model with these terms:
// "const" or "trend", in that order.
const char* deterministic_term_name(Include include, int j) noexcept;

// The deterministic values of time t (1-based) into out[0 .. d-1]: the
// constant 1 and the trend trend_origin + t, the row number of time t in the
// data read (a window of the data keeps counting from the data's first row).
void deterministic_values(Include include, int t, int trend_origin, double* out) noexcept;

// A read-only view of design rows: responses(t) is y_t, regressors(t) the
// d + p*k regressors of an order-p fit.
struct DesignView {
    const double* data = nullptr;
    std::ptrdiff_t origin = 0;  // offset of row 0 (may lie outside the data)
    std::ptrdiff_t step = 0;    // offset from row t to row t + 1
    int k = 0;
    int d = 0;

    const double* responses(int t) const noexcept {
        return data + (origin + static_cast<std::ptrdiff_t>(t) * step);
    }
    const double* regressors(int t) const noexcept { return responses(t) + k; }
    // Values per row: responses, deterministic terms and m lags.
    int width(int m) const noexcept { return k + d + m * k; }
};

// Rows 1..n of the design of series rows 1..n, components 1..k, lags up to
// m. Lags reaching before time 1 are 0 (no fit reads them).
class Design {
  public:
    Design() = default;
    Design(const double_matrix& series, int n, int k, int m, Include include, int trend_origin);
    // The same from row-major values: component c of time t at
    // values[(t-1)*k + c-1].
    Design(const double* values, int n, int k, int m, Include include, int trend_origin);

    // Over the series reversed in time (rows n-1 .. 0 hold times 1 .. n, k
    // values each), without deterministic terms.
    static DesignView over_reversed(const double* reversed, int n, int k) noexcept;

    DesignView view() const noexcept;
    const std::vector<double>& rows() const noexcept { return rows_; }

  private:
    template <class Value>
    void build(int n, int m, Include include, int trend_origin, const Value& value);
    std::vector<double> rows_;
    int k_ = 0;
    int d_ = 0;
    int width_ = 0;
};

// The classic criterion's penalty: (2 / n_oss) times the coefficients of
// all regimes' equations, regimes * k * (m * k + d).
double criterion_penalty(int n_oss, int n_regime, int k, int m, int d) noexcept;

}  // namespace velmora
