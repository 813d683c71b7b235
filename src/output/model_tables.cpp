#include "output/model_tables.hpp"

namespace velmora {

nlohmann::json coefficients_json(const FittedModel& model) {
    nlohmann::json regimes = nlohmann::json::array();
    if (!model.estimated()) {
        return regimes;
    }
    for (int r = 1; r <= model.n_regime; ++r) {
        nlohmann::json lags = nlohmann::json::array();
        for (int lag = 1; lag <= model.m; ++lag) {
            nlohmann::json equations = nlohmann::json::array();
            for (int e = 1; e <= model.k; ++e) {
                nlohmann::json variables = nlohmann::json::array();
                for (int v = 1; v <= model.k; ++v) {
                    variables.push_back(model.coefficient(r, lag, e, v));
                }
                equations.push_back(std::move(variables));
            }
            lags.push_back(std::move(equations));
        }
        regimes.push_back(std::move(lags));
    }
    return regimes;
}

nlohmann::json deterministic_json(const FittedModel& model) {
    nlohmann::json regimes = nlohmann::json::array();
    if (!model.estimated()) {
        return regimes;
    }
    for (int r = 1; r <= model.n_regime; ++r) {
        nlohmann::json terms = nlohmann::json::array();
        for (int j = 0; j < model.deterministic_terms(); ++j) {
            nlohmann::json equations = nlohmann::json::array();
            for (int e = 1; e <= model.k; ++e) {
                equations.push_back(model.deterministic_coefficient(r, j, e));
            }
            terms.push_back(std::move(equations));
        }
        regimes.push_back(std::move(terms));
    }
    return regimes;
}

nlohmann::json sigma_json(const FittedModel& model) {
    nlohmann::json regimes = nlohmann::json::array();
    if (!model.estimated()) {
        return regimes;
    }
    for (int r = 1; r <= model.n_regime; ++r) {
        nlohmann::json rows = nlohmann::json::array();
        for (int i = 1; i <= model.k; ++i) {
            nlohmann::json row = nlohmann::json::array();
            for (int j = 1; j <= model.k; ++j) {
                row.push_back(model.covariance(r, i, j));
            }
            rows.push_back(std::move(row));
        }
        regimes.push_back(std::move(rows));
    }
    return regimes;
}

}  // namespace velmora
