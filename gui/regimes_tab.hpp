#pragma once
// The Regimes page: each threshold variable against time, its threshold as a
// horizontal line and every observation coloured by its regime; below, each
// component against time with its regime shown the same way. It draws the
// reported model: the refined one when refinement ran.

#include <QString>

#include <vector>

#include "results_tab.hpp"

class QLabel;
class QVBoxLayout;

namespace velmora::gui {

class ChartView;

class RegimesTab : public ResultsTab {
    Q_OBJECT
  public:
    explicit RegimesTab(QWidget* parent = nullptr);

    QString title() const override { return tr("Regimes"); }
    void run_started(const RunConfig& config) override;
    void run_finished(const RunOutcome& outcome) override;

    // The charts drawn: the threshold variables' first, then one per
    // component.
    const std::vector<ChartView*>& charts() const { return charts_; }
    // Points coloured by regime in a chart (one per time with a regime).
    static int regime_points(const ChartView* chart);

  private:
    void clear_charts();

    QVBoxLayout* charts_layout_ = nullptr;
    QLabel* note_ = nullptr;
    std::vector<ChartView*> charts_;
};

}  // namespace velmora::gui
