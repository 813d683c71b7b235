#pragma once
// A page of the main window's results area. The window tells every page
// when a run starts and when it has ended; a page shows what it can of the
// outcome. A new page is a subclass in its own files, added to the window
// with VelmoraDlg::add_results_tab.

#include <QString>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <vector>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "data/series.hpp"
#include "model_analysis.hpp"

namespace velmora::gui {

// The rows a run searched, as the run read them, for the charts.
struct RunSeries {
    int n_oss = 0;
    int k = 0;
    std::vector<double> values;  // time t, component c (1-based) at [(t-1)*k + c-1]
    SeriesInfo info;             // names and row labels

    double value(int t, int c) const {
        return values[static_cast<std::size_t>(t - 1) * static_cast<std::size_t>(k) +
                      static_cast<std::size_t>(c - 1)];
    }
};

// The first `rows` rows of a series read (all of them when it holds fewer).
std::shared_ptr<const RunSeries> make_run_series(const LoadedSeries& series, int rows);

// The name a chart or table gives component c (1-based): the file's name
// for it, or "component c".
QString component_name(const SeriesInfo& info, int c);

struct RunOutcome {
    enum class Status { completed, stopped, failed };
    Status status = Status::completed;
    // Generations bred by the replication that went furthest (with one
    // replication, the run's count).
    int generations = 0;
    QString message;  // the failure's text when failed
    // The search started (RunThread::run_began was emitted) or the run
    // returned. False for a run refused or stopped before its first
    // generation: the pages of the previous run stay as they were (and when
    // the course file was refused or a stop came while reading it, every
    // file too).
    bool began = false;
    // What the run was asked to compute after the search.
    AnalysisChoices choices;

    // What the run was asked to do (with a hold-out, the rows searched) and
    // where its files went.
    RunConfig config;
    std::filesystem::path workdir;
    // The run's result; meaningful unless the run failed.
    RunResult result;
    // The rows searched, as read for the run; null when it was not read.
    std::shared_ptr<const RunSeries> series;
    // The inference and the forecasts of the reported models; empty unless
    // the run completed with an estimated model.
    ModelAnalyses analyses;
};

// Why a run's forecasts and impulse responses are missing although they were
// asked for (`asked`), or an empty text when the run computed them (or a
// failure of theirs is in analyses.failure). `what` names them in the
// sentence: "forecast", "impulse responses".
QString missing_analysis_reason(const RunOutcome& outcome, bool asked, const QString& what);

class ResultsTab : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;

    // The tab's caption in the results area.
    virtual QString title() const = 0;
    // A run with this configuration is about to start.
    virtual void run_started(const RunConfig& config) { (void)config; }
    // The run has ended, however it ended.
    virtual void run_finished(const RunOutcome& outcome) = 0;
};

}  // namespace velmora::gui
