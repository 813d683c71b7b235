#pragma once
// The Search page: the best and the mean criterion of every generation, drawn
// while the run goes on (one pair of lines per replication, or for many
// replications a dot per replication and generation with the lowest and the
// average as lines), and below the chart the best structure when the run has
// ended or was stopped.

#include <QList>
#include <QPointF>
#include <QString>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "results_tab.hpp"

class QLabel;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace velmora::gui {

class ChartView;

class SearchTab : public ResultsTab {
    Q_OBJECT
  public:
    explicit SearchTab(QWidget* parent = nullptr);

    QString title() const override { return tr("Search"); }
    void run_started(const RunConfig& config) override;
    void run_finished(const RunOutcome& outcome) override;

    // Generations just bred, oldest first; the chart is redrawn once.
    void add_generations(const std::vector<RunProgress>& bred);

    ChartView* chart_view() const { return view_; }
    // Points drawn so far for a replication (1-based): best and mean lines.
    int best_points(int replication) const;
    int mean_points(int replication) const;
    // The points of the best line of a replication, as drawn.
    QList<QPointF> best_line(int replication) const;
    // With many replications: whether the page has changed to the spread,
    // the dots of every replication's best criterion, and the lines of the
    // lowest best criterion and the average mean criterion per generation.
    bool shows_spread() const { return spread_ != nullptr; }
    int spread_dots() const;
    QList<QPointF> lowest_line() const;
    QList<QPointF> average_line() const;

  private:
    // A very long run is drawn thinned: every stride-th generation, the
    // stride doubling whenever a line would exceed kMaxPoints, plus the
    // latest generation so the line always reaches the present.
    struct Line {
        QLineSeries* series = nullptr;
        int stride = 1;
        bool tail_off_stride = false;  // the last point is only the latest one
    };
    struct Lines {
        Line best;
        Line mean;
    };
    // Past kLegendReplications replications a line each would need a
    // legend entry each (the legend loses its labels) and thousands of
    // series: the replications are drawn together instead, each thinned by
    // its own stride when it would exceed its limit.
    struct Spread {
        QScatterSeries* dots = nullptr;
        QLineSeries* lowest = nullptr;
        QLineSeries* average = nullptr;
        QList<QPointF> dot_points;
        std::map<int, double> lowest_of;                // generation: lowest best
        std::map<int, std::pair<double, int>> mean_of;  // generation: sum, count
        std::set<int> replications;
        int dot_stride = 1;
        int line_stride = 1;
    };
    static void extend(Line& line, const QList<QPointF>& points);
    Lines& lines_of(int replication);
    // Names the lines of every replication.
    void name_lines();
    // Changes the page to the spread, taking in the lines drawn so far.
    void draw_as_spread();
    void add_to_spread(int replication, const QList<QPointF>& best, const QList<QPointF>& mean);
    void draw_spread();
    void fit_axes();

    ChartView* view_ = nullptr;
    QValueAxis* x_axis_ = nullptr;
    QValueAxis* y_axis_ = nullptr;
    QLabel* summary_ = nullptr;
    std::map<int, Lines> lines_;
    std::unique_ptr<Spread> spread_;
    int maxgen_ = 0;
    int last_generation_ = 0;
    double y_low_ = 0.0;
    double y_high_ = 0.0;
    bool have_y_ = false;
};

}  // namespace velmora::gui
