#pragma once
// A chart view whose picture can be saved as PNG or as SVG, from its context
// menu or from a button that calls save_with_dialog(). Every chart of the
// results area is one of these.

#include <QChartView>
#include <QString>

#include <QColor>
#include <QList>
#include <QPointF>

class QAreaSeries;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace velmora::gui {

class ChartView : public QChartView {
    Q_OBJECT
  public:
    // `file_stem` names the file the save dialog proposes ("search-chart").
    ChartView(QChart* chart, const QString& file_stem, QWidget* parent = nullptr);

    // Writes the chart as SVG when the path ends in ".svg" (any case), as PNG
    // otherwise. False when the file could not be written.
    bool save(const QString& path);

    // A "Save chart…" button wired to save_with_dialog().
    QPushButton* make_save_button(QWidget* parent);

  public slots:
    // Asks for a file with Qt's own dialog (the same on every desktop, and
    // scriptable in tests) and saves there. `svg` preselects SVG.
    void save_with_dialog(bool svg = false);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    QString file_stem_;
};

// A round step for ticks over `span` (1, 2 or 5 times a power of ten), about
// `ticks` of them.
double nice_step(double span, int ticks);

// Ticks of a value axis at round values (multiples of nice_step, never
// below least_step) over its range, with as many decimals as the step needs.
void round_ticks(QValueAxis* axis, int ticks = 6, double least_step = 0.0);
// Sets the range and round ticks for it, the interval before the range.
void set_round_range(QValueAxis* axis, double low, double high, int ticks = 6,
                     double least_step = 0.0);

// The colour every chart gives regime r (1-based).
QColor regime_colour(int r);

// A 5 %–95 % band: the area between `low` and `high` (points at the same x),
// filled with a light shade of `colour`, added to the chart on its first
// horizontal and vertical axes. Its upper and lower series carry the values.
QAreaSeries* add_band(QChart* chart, const QString& name, const QColor& colour,
                      const QList<QPointF>& low, const QList<QPointF>& high);

// A line added to the chart on its first horizontal and vertical axes.
QLineSeries* add_line(QChart* chart, const QString& name, const QPen& pen,
                      const QList<QPointF>& points);

}  // namespace velmora::gui
