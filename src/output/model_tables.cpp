#include "output/model_tables.hpp"

namespace velmora {

namespace {

// One element a regime; empty for a model that was not estimated.
template <class OfRegime>
nlohmann::json per_regime(const FittedModel& model, const OfRegime& of_regime) {
    nlohmann::json regimes = nlohmann::json::array();
    if (!model.estimated()) {
        return regimes;
    }
    for (int r = 1; r <= model.n_regime; ++r) {
        regimes.push_back(of_regime(r));
    }
    return regimes;
}

// Rows 1..rows of cell(i, j) for the columns j = 1..columns.
template <class Cell>
nlohmann::json grid(int rows, int columns, const Cell& cell) {
    nlohmann::json out = nlohmann::json::array();
    for (int i = 1; i <= rows; ++i) {
        nlohmann::json row = nlohmann::json::array();
        for (int j = 1; j <= columns; ++j) {
            row.push_back(cell(i, j));
        }
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace

nlohmann::json coefficients_json(const FittedModel& model) {
    return per_regime(model, [&model](int r) {
        nlohmann::json lags = nlohmann::json::array();
        for (int lag = 1; lag <= model.m; ++lag) {
            lags.push_back(grid(model.k, model.k, [&](int equation, int variable) {
                return model.coefficient(r, lag, equation, variable);
            }));
        }
        return lags;
    });
}

nlohmann::json deterministic_json(const FittedModel& model) {
    return per_regime(model, [&model](int r) {
        return grid(model.deterministic_terms(), model.k, [&](int term, int equation) {
            return model.deterministic_coefficient(r, term - 1, equation);
        });
    });
}

nlohmann::json sigma_json(const FittedModel& model) {
    return per_regime(model, [&model](int r) {
        return grid(model.k, model.k, [&](int i, int j) { return model.covariance(r, i, j); });
    });
}

}  // namespace velmora
