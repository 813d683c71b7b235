#pragma once
// What the chart program (velmora-charts) draws, as one JSON document: the
// series with its names and labels, the reported model's regimes over time,
// the course of the search and the forecasts and impulse responses. The
// command line hands it over only when charts are asked for, so that the
// drawing code is never loaded otherwise.

#include <nlohmann/json.hpp>
#include <vector>

#include "app/run_driver.hpp"
#include "data/series.hpp"
#include "forecast/analysis.hpp"
#include "model/fitted_model.hpp"
#include "numeric/arrays.hpp"

namespace velmora {

struct ChartInput {
    const SeriesInfo* series = nullptr;   // names and labels of every row read
    const double_matrix* rows = nullptr;  // rows 1..rows_read, the held-out ones included
    int rows_read = 0;
    // The reported model (null or not estimated: no regime charts).
    const FittedModel* model = nullptr;
    bool refined = false;  // the model is the refinement's
    // Generations bred (empty for a fit: no search chart); maxgen of the run.
    std::vector<RunProgress> history;
    int maxgen = 0;
    const AnalysisResult* analysis = nullptr;  // forecasts and responses, when computed
};

// The document velmora-charts reads: keys `series` {names, labels,
// label_name, values [row][component]}, `model` {threshold_variables,
// components, lags, regimes, order, thresholds, threshold_variable,
// threshold_variable2, regime_of_time, type_model, refined} or null,
// `search` {maxgen, generations [[replication, generation, best_criterion,
// mean_criterion, best_fitness]...]} or null, `analysis` {fit_rows, rows,
// seed and the forecast, holdout and girf objects of the JSON summaries}.
nlohmann::json chart_input_json(const ChartInput& input);

}  // namespace velmora
