#pragma once
// The main window "Velmora": holds the parameters, opens the parameter
// dialog, starts a run on a worker thread and shows its progress and the
// lines it writes. It stays open after a run, whatever the run's end.

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;

#include "exchange.hpp"
#include "run_thread.hpp"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace velmora::gui {

class VelmoraDlg : public QDialog {
    Q_OBJECT
  public:
    // seedings: the process's seeding count, which every run of this window
    // continues; it must outlive the window.
    VelmoraDlg(RunFunction run_function, SeedingCounter& seedings, QWidget* parent = nullptr);
    ~VelmoraDlg() override;

    // The parameters the next run uses; the dialog defaults until the
    // parameter dialog is closed with OK.
    const ParameterValues& parameters() const { return parameters_; }
    void set_parameters(const ParameterValues& values) {
        parameters_ = values;
        show_columns();
    }

    bool run_under_way() const;

    // What the next run computes beyond the search, as the controls beside
    // Replications and Refine ask: linearity test, confidence level,
    // forecasts, hold-out check, impulse responses.
    AnalysisChoices analysis_choices() const;
    // Sets those controls (the CSV paths of the request are not used).
    void set_analysis_choices(const AnalysisChoices& choices);

    // The folder the run's files go to: the chooser's folder, or the current
    // folder when it is empty.
    QString output_folder() const;
    void set_output_folder(const QString& folder);

    // The results area: "Messages" first, then a page per ResultsTab.
    QTabWidget* results() const { return results_; }
    // Adds a page after those already there; the window tells it of every
    // run from then on.
    void add_results_tab(ResultsTab* tab);
    template <class Tab>
    Tab* results_tab() const {
        for (ResultsTab* tab : tabs_) {
            if (auto* found = qobject_cast<Tab*>(tab)) {
                return found;
            }
        }
        return nullptr;
    }

  public slots:
    void open_parameters();  // "Parameter"
    // "Columns…": the column picker on the course file of the parameters.
    void choose_columns();
    void start_run();  // OK
    void stop_run();   // "Stop"
    void show_about();
    // The output folder's "Browse…": Qt's own folder chooser.
    void choose_output_folder();
    // "Annulla", Escape and the close box. During a run it asks first.
    void reject() override;

  private slots:
    void show_generation(int generation);
    void show_replication(int replication);
    void append_message(const QString& text, bool error);
    void run_finished();
    // The run has read its course file and starts its search: the pages
    // make room for it.
    void begin_pages();
    // Generations bred: redrawn at most every kChartRefreshMs while the run
    // goes on, at once when it ends.
    void progress_ready();
    void draw_progress();
    void show_latest_generation();

  private:
    void set_running(bool running);
    // Orders can be chosen only by an information criterion, in the
    // refinement: Select orders is enabled with both, and counts only then.
    bool orders_selectable() const;
    void enable_order_selection();
    // The columns chosen, beside "Columns…".
    void show_columns();
    // A failure box: caption "Error", the error icon, one OK button.
    void show_error(const QString& text);
    // The line the Messages page gets when a run was stopped.
    static QString stop_message(const RunOutcome& outcome);

    ParameterValues parameters_;
    RunThread runner_;
    bool quit_after_run_ = false;

    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* parameter_ = nullptr;
    QPushButton* columns_ = nullptr;
    QLabel* columns_label_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* generation_ = nullptr;
    QLabel* replication_ = nullptr;
    QSpinBox* threads_ = nullptr;
    QSpinBox* replications_ = nullptr;
    QCheckBox* refine_ = nullptr;
    QComboBox* include_ = nullptr;  // deterministic terms of the regimes' equations
    QComboBox* criterion_ = nullptr;
    QCheckBox* select_order_ = nullptr;  // the refinement chooses each regime's order
    QSpinBox* linearity_ = nullptr;
    QSpinBox* test_regimes_ = nullptr;
    QDoubleSpinBox* confidence_ = nullptr;
    QSpinBox* forecast_ = nullptr;
    QSpinBox* paths_ = nullptr;
    QSpinBox* girf_ = nullptr;
    QSpinBox* holdout_ = nullptr;
    QPlainTextEdit* messages_ = nullptr;
    QLineEdit* output_folder_ = nullptr;
    QPushButton* output_browse_ = nullptr;
    QTabWidget* results_ = nullptr;
    std::vector<ResultsTab*> tabs_;
    QTimer refresh_timer_;
    QElapsedTimer since_draw_;
    int refresh_ms_ = 0;  // the chart's present refresh interval
    QTimer label_timer_;
    QElapsedTimer since_label_;
    // Told to the pages once the run has begun; until then they keep the
    // previous run's results.
    RunConfig pending_config_;
    bool pages_begun_ = false;
    // After Stop, releases a run still waiting to read a pipe.
    QTimer release_timer_;
};

}  // namespace velmora::gui
