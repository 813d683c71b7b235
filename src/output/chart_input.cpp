#include "output/chart_input.hpp"
#include "output/analysis_text.hpp"

#include <cmath>

namespace velmora {

namespace {

// NaN and infinities have no JSON form; null stands for them.
nlohmann::json number(double value) {
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

nlohmann::json numbers(const std::vector<double>& values) {
    nlohmann::json out = nlohmann::json::array();
    for (double v : values) {
        out.push_back(number(v));
    }
    return out;
}

}  // namespace

nlohmann::json chart_input_json(const ChartInput& in) {
    using nlohmann::json;
    json out = json::object();
    json values = json::array();
    const SeriesInfo empty;
    const SeriesInfo& s = in.series != nullptr ? *in.series : empty;
    if (in.rows != nullptr) {
        // The components; an external threshold column is drawn from the
        // model's threshold variable.
        const int k = in.rows->col_hi() - static_cast<int>(s.external_columns.size());
        for (int t = 1; t <= in.rows_read; ++t) {
            json row = json::array();
            for (int c = 1; c <= k; ++c) {
                row.push_back(number((*in.rows)[t][c]));
            }
            values.push_back(std::move(row));
        }
    }
    out["series"] = {{"file", s.file},
                     {"names", s.names()},
                     {"labels", s.row_labels},
                     {"label_name", s.label_name},
                     {"values", std::move(values)}};
    if (!s.external_columns.empty()) {
        std::vector<std::string> names;
        for (std::size_t j = 1; j <= s.external_columns.size(); ++j) {
            names.push_back(s.component(s.n_comp() + static_cast<int>(j)));
        }
        out["series"]["file_columns"] = s.file_columns;
        out["series"]["external_columns"] = s.external_columns;
        out["series"]["external_names"] = names;
    }

    out["model"] = nullptr;
    if (in.model != nullptr && in.model->estimated()) {
        const FittedModel& m = *in.model;
        const ModelStructure& st = m.used;
        json model = {{"threshold_variables", st.threshold_variables},
                      {"regimes", m.n_regime},
                      {"order", m.m},
                      {"n_oss", m.n_oss},
                      {"refined", in.refined},
                      {"threshold_variable", numbers(m.threshold_variable)},
                      {"threshold_variable2", numbers(m.threshold_variable2)},
                      {"regime_of_time", m.regime_of_time}};
        json thresholds = json::array();
        const int count = is_linear(st) ? 0 : st.threshold_variables == 1 ? m.n_regime - 1 : 2;
        for (int i = 0; i < count && i < 3; ++i) {
            thresholds.push_back(m.thresholds[static_cast<std::size_t>(i)]);
        }
        model["thresholds"] = std::move(thresholds);
        if (is_linear(st)) {
            model["components"] = json::array();
            model["lags"] = json::array();
            model["type_model"] = 0;
        } else if (st.threshold_variables == 1) {
            model["components"] = {st.one.which_serie};
            model["lags"] = {st.one.threshold_lag};
            model["type_model"] = 0;
        } else {
            model["components"] = {st.two.which_serie1, st.two.which_serie2};
            model["lags"] = {st.two.Ritardo1, st.two.Ritardo2};
            model["type_model"] = st.two.type_model;
        }
        out["model"] = std::move(model);
    }

    out["search"] = nullptr;
    if (!in.history.empty()) {
        json generations = json::array();
        for (const RunProgress& p : in.history) {
            generations.push_back({p.replication, p.generation, number(p.best_criterion),
                                   number(p.mean_criterion), number(p.best_fitness)});
        }
        out["search"] = {{"maxgen", in.maxgen}, {"generations", std::move(generations)}};
    }

    json analysis = json::object();
    if (in.analysis != nullptr) {
        const AnalysisResult& a = *in.analysis;
        analysis = {{"fit_rows", a.fit_rows}, {"rows", a.rows}, {"seed", a.seed}};
        add_analysis_json(analysis, a);
    }
    out["analysis"] = std::move(analysis);
    return out;
}

}  // namespace velmora
