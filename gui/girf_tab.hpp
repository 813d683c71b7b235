#pragma once
// The GIRF page: generalized impulse responses of the reported model by
// regime. For the shock chosen (one standard deviation of a component,
// orthogonalised by the Cholesky factor of the regime's residual
// covariance), a chart per responding component with each regime's mean
// response over horizons 0..H and its 5 %–95 % band across histories. With
// more than two regimes the bands of all would hide one another: the page
// then shows the regimes' means together, and one regime with its band when
// chosen.

#include <QString>

#include <optional>
#include <vector>

#include "results_tab.hpp"

class QComboBox;
class QGridLayout;
class QLabel;

namespace velmora::gui {

class ChartView;

class GirfTab : public ResultsTab {
    Q_OBJECT
  public:
    explicit GirfTab(QWidget* parent = nullptr);

    QString title() const override { return tr("GIRF"); }
    void run_started(const RunConfig& config) override;
    void run_finished(const RunOutcome& outcome) override;

    QComboBox* shock_chooser() const { return chooser_; }
    // "All regimes", then each regime with responses; its data is the
    // regime's number (0 for all).
    QComboBox* regime_chooser() const { return regime_chooser_; }
    // One chart per responding component (in component order). In each, the
    // line "Regime r" holds the mean response at horizons 0..H and the band
    // "Regime r: 5 %–95 %" its quantiles.
    const std::vector<ChartView*>& charts() const { return charts_; }

  private:
    void draw(int shock);
    void redraw();
    void clear_charts();

    QLabel* note_ = nullptr;
    QComboBox* chooser_ = nullptr;
    QComboBox* regime_chooser_ = nullptr;
    QGridLayout* grid_ = nullptr;
    std::vector<ChartView*> charts_;
    std::optional<GirfResult> girf_;
    SeriesInfo info_;
};

}  // namespace velmora::gui
