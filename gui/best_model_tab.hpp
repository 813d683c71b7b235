#pragma once
// The Best model page: the search's best model and, when refinement ran,
// the refined one — threshold variables and lags, thresholds, observations
// per regime, criterion, and per regime its coefficients labelled by
// equation, variable and lag and its residual covariance — then the files
// the run wrote, with their full paths. The numbers are printed as the
// report files print them. Beside each model: the linear VAR's criterion,
// the linearity test and the threshold confidence sets when asked, and below
// a table of every regime's coefficients with standard errors, t-values and
// p-values.

#include <QString>

#include <string>
#include <vector>

#include "diagnostics/model_diagnostics.hpp"
#include "results_tab.hpp"

class QComboBox;
class QLabel;
class QSplitter;
class QTableWidget;
class QTextBrowser;

namespace velmora::gui {

// One model as the page shows it, in HTML; `title` heads it. Other pages or
// later additions can reuse or extend it; `after_summary` follows the summary
// lines, before the tables.
QString model_html(const QString& title, const StructureSummary& model, const SeriesInfo& series,
                   const QString& after_summary = {});

// A model beside its linear benchmark, its linearity test and threshold
// confidence sets (those computed), in HTML; components by name when names
// holds one per component.
QString inference_html(const inference::ModelInference& inference,
                       const std::vector<std::string>& names = {});

// The residual diagnostics of a model (portmanteau, normality overall and by
// regime, ARCH-LM, companion eigenvalue moduli), in HTML.
QString diagnostics_html(const diagnostics::ModelDiagnostics& diagnostics);

class BestModelTab : public ResultsTab {
    Q_OBJECT
  public:
    explicit BestModelTab(QWidget* parent = nullptr);

    QString title() const override { return tr("Best model"); }
    void run_started(const RunConfig& config) override;
    void run_finished(const RunOutcome& outcome) override;

    // The page's text as plain text (for copying and tests).
    QString text() const;

    // The coefficient table of the model the chooser shows: a row per regime,
    // equation, lag and variable; columns kCoefficientColumns. Each number's
    // item holds the exact value under Qt::UserRole.
    QTableWidget* coefficient_table() const { return table_; }
    // "Best model", then "Refined model" when refinement ran.
    QComboBox* model_chooser() const { return chooser_; }

    enum Column {
        regime_column,
        equation_column,
        variable_column,
        lag_column,
        coefficient_column,
        standard_error_column,
        t_value_column,
        p_value_column
    };

    // The upper pane: the models, their tests and confidence sets.
    QTextBrowser* model_text() const { return browser_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void show_coefficients(int index);
    // Gives the upper pane the height its text needs, as far as the page
    // allows while the table keeps a few rows.
    void fit_upper_pane();

    QTextBrowser* browser_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QString head_html_;  // the first model's summary and tests
    QComboBox* chooser_ = nullptr;
    QLabel* table_note_ = nullptr;
    QTableWidget* table_ = nullptr;
    // The inference behind each entry of the chooser.
    std::vector<inference::ModelInference> shown_;
    SeriesInfo series_;
};

}  // namespace velmora::gui
