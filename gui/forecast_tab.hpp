#pragma once
// The Forecast page: the history of a chosen component and the forecast fan
// of the reported model from the end of the rows it was fitted on (mean and
// median of the simulated paths, their 5 %–95 % band, the path without
// shocks), and, with a hold-out check, the errors per horizon of the
// threshold model and of the linear VAR side by side.

#include <QString>

#include <memory>
#include <optional>

#include "results_tab.hpp"

class QComboBox;
class QLabel;
class QLineSeries;
class QAreaSeries;
class QTableWidget;

namespace velmora::gui {

class ChartView;

class ForecastTab : public ResultsTab {
    Q_OBJECT
  public:
    explicit ForecastTab(QWidget* parent = nullptr);

    QString title() const override { return tr("Forecast"); }
    void run_started(const RunConfig& config) override;
    void run_finished(const RunOutcome& outcome) override;

    ChartView* chart_view() const { return view_; }
    QComboBox* component_chooser() const { return chooser_; }
    // The drawn series of the chosen component; the forecast lines and the
    // band start with the last fitted row's value, then steps 1..H.
    QLineSeries* history() const { return history_; }
    QLineSeries* mean() const { return mean_; }
    QLineSeries* median() const { return median_; }
    QLineSeries* no_shock() const { return no_shock_; }
    QAreaSeries* band() const { return band_; }
    // Horizon, forecasts, RMSE and MAE of each model over all components;
    // hidden without a hold-out check. Numbers hold their value under
    // Qt::UserRole.
    QTableWidget* holdout_table() const { return holdout_; }

    enum HoldoutColumn {
        horizon_column,
        forecasts_column,
        rmse_threshold_column,
        rmse_linear_column,
        mae_threshold_column,
        mae_linear_column
    };

  private:
    void draw(int component);
    void show_holdout(const HoldoutResult& holdout);
    void clear_chart();

    QLabel* note_ = nullptr;
    QComboBox* chooser_ = nullptr;
    ChartView* view_ = nullptr;
    QLabel* holdout_caption_ = nullptr;
    QTableWidget* holdout_ = nullptr;
    QLineSeries* history_ = nullptr;
    QLineSeries* mean_ = nullptr;
    QLineSeries* median_ = nullptr;
    QLineSeries* no_shock_ = nullptr;
    QAreaSeries* band_ = nullptr;

    // What the last run gave.
    std::optional<ForecastResult> forecast_;
    std::shared_ptr<const double_matrix> rows_;
    int rows_read_ = 0;
    int origin_ = 0;  // last row the model was fitted on
    SeriesInfo info_;
};

}  // namespace velmora::gui
