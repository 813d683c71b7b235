#include "forecast_tab.hpp"

#include <QAreaSeries>
#include <QChart>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "chart_view.hpp"
#include "support/format.hpp"
#include "time_axis.hpp"

namespace velmora::gui {

namespace {

// Rows of history drawn before the forecast: enough to judge the fan
// against, few enough that the fan is not squeezed.
constexpr int kLeastHistoryRows = 40;
constexpr int kHistoryPerStep = 4;

const QColor kForecastColour(0xd6, 0x61, 0x0a);

QTableWidgetItem* table_number(const char* format, double value) {
    auto* item = new QTableWidgetItem(QString::fromStdString(strprintf(format, value)));
    item->setData(Qt::UserRole, value);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// "1 step ahead", "3 steps ahead"; `from_one` gives "1 to 3 steps ahead".
QString steps_ahead(int steps, bool from_one) {
    if (steps == 1) {
        return QObject::tr("1 step ahead");
    }
    return (from_one ? QObject::tr("1 to %1 steps ahead") : QObject::tr("%1 steps ahead"))
        .arg(steps);
}

QString simulated_paths(int paths) {
    return paths == 1 ? QObject::tr("1 simulated path")
                      : QObject::tr("%1 simulated paths").arg(paths);
}

}  // namespace

ForecastTab::ForecastTab(QWidget* parent) : ResultsTab(parent) {
    setObjectName(QStringLiteral("forecastTab"));
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("forecastNote"));
    note_->setWordWrap(true);
    chooser_ = new QComboBox(this);
    chooser_->setObjectName(QStringLiteral("forecastComponent"));
    auto* chooser_label = new QLabel(tr("Component"), this);
    chooser_label->setBuddy(chooser_);

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    view_ = new ChartView(chart, QStringLiteral("forecast-chart"), this);
    view_->setObjectName(QStringLiteral("forecastChart"));

    auto* top = new QHBoxLayout;
    top->addWidget(chooser_label);
    top->addWidget(chooser_);
    top->addStretch();
    top->addWidget(view_->make_save_button(this));

    holdout_caption_ = new QLabel(this);
    holdout_caption_->setObjectName(QStringLiteral("holdoutCaption"));
    holdout_caption_->setWordWrap(true);
    holdout_ = new QTableWidget(0, 6, this);
    holdout_->setObjectName(QStringLiteral("holdoutTable"));
    holdout_->setHorizontalHeaderLabels({tr("Horizon"), tr("Forecasts"), tr("RMSE threshold"),
                                         tr("RMSE linear"), tr("MAE threshold"), tr("MAE linear")});
    holdout_->verticalHeader()->setVisible(false);
    holdout_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    holdout_->setAlternatingRowColors(true);
    auto* lower = new QWidget(this);
    auto* lower_layout = new QVBoxLayout(lower);
    lower_layout->setContentsMargins(0, 0, 0, 0);
    lower_layout->addWidget(holdout_caption_);
    lower_layout->addWidget(holdout_, 1);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(view_);
    splitter->addWidget(lower);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note_);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    connect(chooser_, &QComboBox::currentIndexChanged, this,
            [this](int index) { draw(index + 1); });
    run_started({});
}

void ForecastTab::clear_chart() {
    QChart* chart = view_->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    chart->setTitle(QString());
    history_ = mean_ = median_ = no_shock_ = nullptr;
    band_ = nullptr;
}

void ForecastTab::run_started(const RunConfig&) {
    forecast_.reset();
    rows_.reset();
    chooser_->clear();
    clear_chart();
    holdout_->setRowCount(0);
    holdout_->hide();
    holdout_caption_->hide();
    note_->setText(
        tr("Set Forecast (steps ahead) before a run to see the forecast of the "
           "reported model here; Hold-out adds the check against the linear VAR."));
}

void ForecastTab::run_finished(const RunOutcome& outcome) {
    const ModelAnalyses& analyses = outcome.analyses;
    const AnalysisResult& analysis = analyses.analysis;
    const AnalysisRequest& asked = outcome.choices.request;
    if (!analyses.failure.empty()) {
        note_->setText(tr("No forecast: %1").arg(QString::fromStdString(analyses.failure)));
    } else if (const QString reason = missing_analysis_reason(
                   outcome, asked.forecast > 0 || asked.holdout > 0, tr("forecast"));
               !reason.isEmpty()) {
        note_->setText(reason);
    }
    if (analysis.holdout) {
        show_holdout(*analysis.holdout);
    }
    if (!analysis.forecast || !analyses.rows_read) {
        return;
    }
    forecast_ = analysis.forecast;
    rows_ = analyses.rows_read;
    rows_read_ = analysis.rows;
    origin_ = analysis.fit_rows;
    info_ = outcome.result.series;
    const ForecastResult& f = *forecast_;
    note_->setText(tr("%1 model: forecast from %2, %3, %4 (seed %5); "
                      "shocks resampled from the residuals of the regime in force.")
                       .arg(outcome.result.refined ? tr("Refined") : tr("Best"))
                       .arg(info_.label(origin_).empty()
                                ? tr("time %1").arg(origin_)
                                : tr("%1 (time %2)")
                                      .arg(QString::fromStdString(info_.label(origin_)))
                                      .arg(origin_))
                       .arg(steps_ahead(f.horizon, false))
                       .arg(simulated_paths(f.paths))
                       .arg(static_cast<qulonglong>(analysis.seed)));
    {
        const QSignalBlocker quiet(chooser_);
        for (int c = 1; c <= f.k; ++c) {
            chooser_->addItem(component_name(info_, c));
        }
    }
    chooser_->setCurrentIndex(0);
    draw(1);
}

void ForecastTab::draw(int component) {
    clear_chart();
    if (!forecast_ || !rows_ || component < 1 || component > forecast_->k) {
        return;
    }
    const ForecastResult& f = *forecast_;
    const double_matrix& rows = *rows_;
    QChart* chart = view_->chart();
    const QString name = component_name(info_, component);
    chart->setTitle(tr("Forecast of %1").arg(name));
    const int shown = std::max(kLeastHistoryRows, kHistoryPerStep * f.horizon);
    const int first = std::max(1, origin_ - shown + 1);
    const TimeAxis time(info_.row_labels, QString::fromStdString(info_.label_name));
    time.add_to(chart, first, origin_ + f.horizon);
    auto* y = new QValueAxis(chart);
    chart->addAxis(y, Qt::AlignLeft);
    QList<QPointF> past;
    // Rows held out are drawn as far as the forecast reaches, to compare.
    const int last = std::min(rows_read_, origin_ + f.horizon);
    for (int t = first; t <= last; ++t) {
        past.append(QPointF(time.x(t), rows[t][component]));
    }
    // Every forecast line leaves from the last fitted value.
    const QPointF start(time.x(origin_), rows[origin_][component]);
    const auto steps = [&](const std::vector<std::vector<double>>& table) {
        QList<QPointF> points{start};
        for (int h = 1; h <= f.horizon; ++h) {
            points.append(QPointF(
                time.x(origin_ + h),
                table[static_cast<std::size_t>(h - 1)][static_cast<std::size_t>(component - 1)]));
        }
        return points;
    };

    band_ =
        add_band(chart, tr("5 %–95 % of the paths"), kForecastColour, steps(f.q05), steps(f.q95));
    history_ = add_line(chart, tr("Observed"), QPen(QColor(0x40, 0x40, 0x40), 1.5), past);
    mean_ = add_line(chart, tr("Mean"), QPen(kForecastColour, 2.2), steps(f.mean));
    QPen dashed(kForecastColour.darker(140), 1.6);
    dashed.setStyle(Qt::DashLine);
    median_ = add_line(chart, tr("Median"), dashed, steps(f.median));
    QPen dotted(QColor(0x1f, 0x77, 0xb4), 1.8);
    dotted.setStyle(Qt::DotLine);
    no_shock_ = add_line(chart, tr("Without shocks"), dotted, steps(f.no_shock));

    double low = 0.0;
    double high = 0.0;
    bool any = false;
    for (const QLineSeries* line :
         {history_, band_->lowerSeries(), band_->upperSeries(), mean_, median_, no_shock_}) {
        for (const QPointF& p : line->points()) {
            if (std::isfinite(p.y())) {
                low = any ? std::min(low, p.y()) : p.y();
                high = any ? std::max(high, p.y()) : p.y();
                any = true;
            }
        }
    }
    if (any) {
        const double pad = high > low ? 0.05 * (high - low) : 1.0;
        set_round_range(y, low - pad, high + pad);
    }
}

void ForecastTab::show_holdout(const HoldoutResult& h) {
    holdout_caption_->setText(
        tr("Hold-out check: both models fitted on rows 1–%1; rows %2–%3 forecast from each "
           "origin, %4 (the threshold model by the mean of its paths, the "
           "linear VAR of the same order by its iterated forecast); errors over all "
           "components. The smaller error of each pair is in bold.")
            .arg(h.fit_rows)
            .arg(h.fit_rows + 1)
            .arg(h.fit_rows + h.holdout)
            .arg(steps_ahead(h.horizon, true)));
    holdout_->setRowCount(h.horizon);
    for (int s = 0; s < h.horizon; ++s) {
        const auto i = static_cast<std::size_t>(s);
        auto* step = new QTableWidgetItem(QString::number(s + 1));
        step->setData(Qt::UserRole, s + 1);
        holdout_->setItem(s, horizon_column, step);
        holdout_->setItem(s, forecasts_column,
                          new QTableWidgetItem(QString::number(h.forecasts[i])));
        const double pairs[2][2] = {{h.threshold.rmse_all[i], h.linear.rmse_all[i]},
                                    {h.threshold.mae_all[i], h.linear.mae_all[i]}};
        const int columns[2][2] = {{rmse_threshold_column, rmse_linear_column},
                                   {mae_threshold_column, mae_linear_column}};
        for (int e = 0; e < 2; ++e) {
            for (int model = 0; model < 2; ++model) {
                QTableWidgetItem* item = table_number("%.6f", pairs[e][model]);
                if (pairs[e][model] < pairs[e][1 - model]) {
                    QFont bold = item->font();
                    bold.setBold(true);
                    item->setFont(bold);
                }
                holdout_->setItem(s, columns[e][model], item);
            }
        }
    }
    holdout_->resizeColumnsToContents();
    holdout_caption_->show();
    holdout_->show();
}

}  // namespace velmora::gui
