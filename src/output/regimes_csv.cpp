#include "output/regimes_csv.hpp"

#include <array>
#include <cmath>
#include <vector>

#include "output/csv.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

std::string column_name(const SeriesInfo& series, int c) {
    return series.has_names ? series.component(c) : std::to_string(c);
}

// Appends a field after a comma.
void field(std::string& line, const std::string& value) {
    line += ',';
    line += value;
}

}  // namespace

std::string regimes_csv_header(const FittedModel& model, const SeriesInfo& series) {
    std::string header = "time";
    if (!series.row_labels.empty()) {
        header += ",label";
    }
    // The linear VAR has no threshold variable: its one regime holds every time.
    if (model.threshold_variables() == 1) {
        header += ",threshold_variable";
    } else if (model.threshold_variables() == 2) {
        header += ",threshold_variable_1,threshold_variable_2";
    }
    header += ",regime";
    for (int c = 1; c <= model.k; ++c) {
        field(header, csv_text("fitted_" + column_name(series, c)));
        field(header, csv_text("residual_" + column_name(series, c)));
    }
    // With deterministic terms: the trend of each time, and per component
    // the part of the fitted value the regime's const and trend make.
    if (has_trend(model.include)) {
        header += ",trend";
    }
    if (model.deterministic_terms() > 0) {
        for (int c = 1; c <= model.k; ++c) {
            field(header, csv_text("deterministic_" + column_name(series, c)));
        }
    }
    return header;
}

std::string format_regimes_csv(const FittedModel& model, const SeriesInfo& series) {
    const int n = model.n_oss;
    const auto k = static_cast<std::size_t>(model.k);
    // Fitted values and residuals by time, from each regime's regression at its
    // order.
    std::vector<double> fitted(static_cast<std::size_t>(n) * k, NAN);
    std::vector<double> residual(static_cast<std::size_t>(n) * k, NAN);
    if (model.order_reached == model.m && !model.passes.empty()) {
        // Each regime at its own order in the model.
        for (int r = 1; r <= model.n_regime; ++r) {
            const auto& pass = model.passes[static_cast<std::size_t>(model.order(r) - 1)];
            if (r > static_cast<int>(pass.size())) {
                continue;  // a regime the estimate did not reach
            }
            const RegimeFit& fit = pass[static_cast<std::size_t>(r - 1)];
            if (fit.fitted.size() != fit.times.size() * k ||
                fit.residuals.size() != fit.times.size() * k) {
                continue;  // a regression the estimate did not finish
            }
            for (std::size_t i = 0; i < fit.times.size(); ++i) {
                const auto row = static_cast<std::size_t>(fit.times[i] - 1) * k;
                for (std::size_t c = 0; c < k; ++c) {
                    fitted[row + c] = fit.fitted[i * k + c];
                    residual[row + c] = fit.residuals[i * k + c];
                }
            }
        }
    }
    const auto value_at = [](const std::vector<double>& values, int t) {
        const auto i = static_cast<std::size_t>(t - 1);
        return i < values.size() ? values[i] : NAN;
    };

    std::string text = regimes_csv_header(model, series);
    text += '\n';
    for (int t = 1; t <= n; ++t) {
        std::string row = std::to_string(t);
        if (!series.row_labels.empty()) {
            field(row, csv_text(series.label(t)));
        }
        if (model.threshold_variables() != 0) {
            field(row, csv_number(value_at(model.threshold_variable, t)));
        }
        if (model.threshold_variables() == 2) {
            field(row, csv_number(value_at(model.threshold_variable2, t)));
        }
        const int regime = static_cast<std::size_t>(t - 1) < model.regime_of_time.size()
                               ? model.regime_of_time[static_cast<std::size_t>(t - 1)]
                               : 0;
        row += regime > 0 ? strprintf(",%d", regime) : std::string(",");
        const auto base = static_cast<std::size_t>(t - 1) * k;
        for (std::size_t c = 0; c < k; ++c) {
            field(row, csv_number(fitted[base + c]));
            field(row, csv_number(residual[base + c]));
        }
        const int d = model.deterministic_terms();
        if (has_trend(model.include)) {
            field(row, std::to_string(model.trend_origin + t));
        }
        if (d > 0) {
            std::array<double, kMaxDeterministic> terms{};
            deterministic_values(model.include, t, model.trend_origin, terms.data());
            const bool known = regime > 0 && !std::isnan(fitted[base]);
            for (std::size_t c = 0; c < k; ++c) {
                double part = NAN;
                if (known) {
                    part = 0.0;
                    for (int j = 0; j < d; ++j) {
                        part +=
                            model.deterministic_coefficient(regime, j, static_cast<int>(c) + 1) *
                            terms[static_cast<std::size_t>(j)];
                    }
                }
                field(row, csv_number(part));
            }
        }
        text += row;
        text += '\n';
    }
    return text;
}

}  // namespace velmora
