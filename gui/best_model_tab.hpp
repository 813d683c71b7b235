#pragma once
// The Best model page: the search's best model and, when refinement ran,
// the refined one — threshold variables and lags, thresholds, observations
// per regime, criterion, and per regime its coefficients labelled by
// equation, variable and lag and its residual covariance — then the files
// the run wrote, with their full paths. The numbers are printed as the
// report files print them.

#include <QString>

#include "results_tab.hpp"

class QTextBrowser;

namespace velmora::gui {

// One model as the page shows it, in HTML; `title` heads it. Other pages or
// later additions (standard errors, a linear benchmark) can reuse or extend it.
QString model_html(const QString& title, const StructureSummary& model, const SeriesInfo& series);

class BestModelTab : public ResultsTab {
    Q_OBJECT
  public:
    explicit BestModelTab(QWidget* parent = nullptr);

    QString title() const override { return tr("Best model"); }
    void run_started(const RunConfig& config) override;
    void run_finished(const RunOutcome& outcome) override;

    // The page's text as plain text (for copying and tests).
    QString text() const;

  private:
    QTextBrowser* browser_ = nullptr;
};

}  // namespace velmora::gui
