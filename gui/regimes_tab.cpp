#include "regimes_tab.hpp"

#include <QChart>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "chart_view.hpp"
#include "support/format.hpp"
#include "time_axis.hpp"

namespace velmora::gui {

namespace {

const char* const kRegimeSeries = "regime";

// A chart of values against time 1..n: the values as a thin grey line and,
// for each regime, its times as coloured points. The legend, at the right,
// names the regimes and the thresholds; the grey line needs no entry (the
// title names it), which leaves room for four regimes and three thresholds.
ChartView* time_chart(const QString& title, const QString& y_title, const QString& stem,
                      const std::vector<double>& values, const std::vector<int>& regime_of_time,
                      int n_regime, const TimeAxis& time, QWidget* parent) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignRight);
    const int n = std::max(2, static_cast<int>(values.size()));
    QAbstractAxis* x = time.add_to(chart, 1, n);
    auto* y = new QValueAxis(chart);
    y->setTitleText(y_title);
    chart->addAxis(y, Qt::AlignLeft);

    auto* line = new QLineSeries(chart);
    line->setName(y_title);
    line->setPen(QPen(QColor(0xa0, 0xa0, 0xa0), 1.0));
    std::vector<QList<QPointF>> points(static_cast<std::size_t>(n_regime));
    QList<QPointF> all;
    double low = 0.0;
    double high = 0.0;
    bool any = false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        if (!std::isfinite(v)) {
            continue;
        }
        const QPointF p(time.x(static_cast<int>(i) + 1), v);
        all.append(p);
        low = any ? std::min(low, v) : v;
        high = any ? std::max(high, v) : v;
        any = true;
        const int r = i < regime_of_time.size() ? regime_of_time[i] : 0;
        if (r >= 1 && r <= n_regime) {
            points[static_cast<std::size_t>(r - 1)].append(p);
        }
    }
    line->replace(all);
    chart->addSeries(line);
    line->attachAxis(x);
    line->attachAxis(y);
    for (QLegendMarker* marker : chart->legend()->markers(line)) {
        marker->setVisible(false);
    }
    for (int r = 1; r <= n_regime; ++r) {
        auto* scatter = new QScatterSeries(chart);
        scatter->setObjectName(QString::fromLatin1(kRegimeSeries));
        scatter->setName(QObject::tr("Regime %1").arg(r));
        scatter->setMarkerSize(5.0);
        const QColor colour = regime_colour(r);
        scatter->setColor(colour);
        scatter->setBorderColor(colour);
        scatter->replace(points[static_cast<std::size_t>(r - 1)]);
        chart->addSeries(scatter);
        scatter->attachAxis(x);
        scatter->attachAxis(y);
    }
    if (any) {
        const double pad = high > low ? 0.05 * (high - low) : 1.0;
        set_round_range(y, low - pad, high + pad);
    }
    auto* view = new ChartView(chart, stem, parent);
    // Tall enough for the legend's regimes and thresholds and for the
    // vertical axis's title.
    view->setMinimumHeight(n_regime > 2 ? 300 : 240);
    return view;
}

// A dashed horizontal line at `value` across times 1..n.
void add_threshold_line(ChartView* view, double value, int n, const TimeAxis& time,
                        const QString& name) {
    QChart* chart = view->chart();
    auto* line = new QLineSeries(chart);
    line->setName(name);
    QPen pen(Qt::black, 1.5);
    pen.setStyle(Qt::DashLine);
    line->setPen(pen);
    line->append(time.x(1), value);
    line->append(time.x(std::max(2, n)), value);
    chart->addSeries(line);
    for (QAbstractAxis* axis : chart->axes()) {
        line->attachAxis(axis);
    }
    // The line must show even when it lies outside the values' range.
    auto* y = qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).value(0));
    if (y != nullptr && (value < y->min() || value > y->max())) {
        set_round_range(y, std::min(y->min(), value), std::max(y->max(), value));
    }
}

}  // namespace

RegimesTab::RegimesTab(QWidget* parent) : ResultsTab(parent) {
    setObjectName(QStringLiteral("regimesTab"));
    auto* inner = new QWidget;
    charts_layout_ = new QVBoxLayout(inner);
    note_ = new QLabel(tr("The regimes appear here when a run has ended."), inner);
    note_->setObjectName(QStringLiteral("regimesNote"));
    note_->setWordWrap(true);
    charts_layout_->addWidget(note_);
    charts_layout_->addStretch();
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(inner);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
}

void RegimesTab::clear_charts() {
    for (ChartView* chart : charts_) {
        charts_layout_->removeWidget(chart);
        delete chart;
    }
    charts_.clear();
}

void RegimesTab::run_started(const RunConfig&) {
    clear_charts();
    note_->setText(tr("The regimes appear here when a run has ended."));
}

void RegimesTab::run_finished(const RunOutcome& outcome) {
    clear_charts();
    const RunResult& r = outcome.result;
    if (outcome.status == RunOutcome::Status::failed || r.best_codes.empty()) {
        note_->setText(tr("No model to show."));
        return;
    }
    const bool refined = r.refined.has_value();
    const StructureSummary& summary = refined ? r.refined->model : r.best;
    const FittedModel& model = summary.model;
    const SeriesInfo& series = r.series;
    note_->setText(refined ? tr("The refined model's regimes at order %1.").arg(model.m)
                           : tr("The best model's regimes at order %1.").arg(model.m));
    const int n = model.n_oss;
    const auto name = [&series](int c) { return QString::fromStdString(series.component(c)); };

    const auto add = [this](ChartView* view) {
        charts_layout_->insertWidget(charts_layout_->count() - 1, view);
        charts_.push_back(view);
    };
    const ModelStructure& s = model.used;
    const TimeAxis time(series.row_labels, QString::fromStdString(series.label_name));
    // Each threshold on its own legend line, numbered, so that three stay
    // apart.
    const auto threshold_name = [this](int i, int count, double t) {
        const QString value = QString::fromStdString(strprintf("%.6g", t));
        return count == 1 ? tr("Threshold %1").arg(value)
                          : tr("Threshold %1: %2").arg(i + 1).arg(value);
    };
    if (is_linear(s)) {
        // The linear VAR: one regime, no threshold variable to chart.
    } else if (s.threshold_variables == 1) {
        const QString z = tr("%1 at lag %2").arg(name(s.one.which_serie)).arg(s.one.threshold_lag);
        ChartView* view = time_chart(tr("Threshold variable: %1").arg(z), name(s.one.which_serie),
                                     QStringLiteral("threshold-variable"), model.threshold_variable,
                                     model.regime_of_time, model.n_regime, time, this);
        for (int i = 0; i < model.n_regime - 1; ++i) {
            const double t = model.thresholds[static_cast<std::size_t>(i)];
            add_threshold_line(view, t, n, time, threshold_name(i, model.n_regime - 1, t));
        }
        add(view);
    } else {
        const int components[2] = {s.two.which_serie1, s.two.which_serie2};
        const int lags[2] = {s.two.Ritardo1, s.two.Ritardo2};
        const std::vector<double>* values[2] = {&model.threshold_variable,
                                                &model.threshold_variable2};
        for (int i = 0; i < 2; ++i) {
            const QString z = tr("%1 at lag %2").arg(name(components[i])).arg(lags[i]);
            ChartView* view =
                time_chart(tr("Threshold variable %1: %2").arg(i + 1).arg(z), name(components[i]),
                           QStringLiteral("threshold-variable-%1").arg(i + 1), *values[i],
                           model.regime_of_time, model.n_regime, time, this);
            const double t = model.thresholds[static_cast<std::size_t>(i)];
            add_threshold_line(view, t, n, time, threshold_name(0, 1, t));
            add(view);
        }
    }
    if (outcome.series) {
        const RunSeries& data = *outcome.series;
        for (int c = 1; c <= data.k; ++c) {
            std::vector<double> values(static_cast<std::size_t>(data.n_oss));
            for (int t = 1; t <= data.n_oss; ++t) {
                values[static_cast<std::size_t>(t - 1)] = data.value(t, c);
            }
            ChartView* view = time_chart(name(c), name(c), QStringLiteral("component-%1").arg(c),
                                         values, model.regime_of_time, model.n_regime, time, this);
            add(view);
        }
    }
}

int RegimesTab::regime_points(const ChartView* chart) {
    int count = 0;
    for (QAbstractSeries* series : chart->chart()->series()) {
        if (series->objectName() == QLatin1String(kRegimeSeries)) {
            count += static_cast<int>(static_cast<QScatterSeries*>(series)->count());
        }
    }
    return count;
}

}  // namespace velmora::gui
