#include "girf_tab.hpp"

#include <QAreaSeries>
#include <QChart>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "chart_view.hpp"

namespace velmora::gui {

namespace {

// Charts side by side in the grid.
constexpr int kGridColumns = 2;

}  // namespace

GirfTab::GirfTab(QWidget* parent) : ResultsTab(parent) {
    setObjectName(QStringLiteral("girfTab"));
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("girfNote"));
    note_->setWordWrap(true);
    chooser_ = new QComboBox(this);
    chooser_->setObjectName(QStringLiteral("girfShock"));
    auto* chooser_label = new QLabel(tr("Shock to"), this);
    chooser_label->setBuddy(chooser_);
    regime_chooser_ = new QComboBox(this);
    regime_chooser_->setObjectName(QStringLiteral("girfRegime"));
    auto* regime_label = new QLabel(tr("Regimes"), this);
    regime_label->setBuddy(regime_chooser_);
    auto* top = new QHBoxLayout;
    top->addWidget(chooser_label);
    top->addWidget(chooser_);
    top->addSpacing(12);
    top->addWidget(regime_label);
    top->addWidget(regime_chooser_);
    top->addStretch();

    auto* inner = new QWidget;
    grid_ = new QGridLayout(inner);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(inner);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note_);
    layout->addLayout(top);
    layout->addWidget(scroll, 1);
    connect(chooser_, &QComboBox::currentIndexChanged, this,
            [this](int index) { draw(index + 1); });
    connect(regime_chooser_, &QComboBox::currentIndexChanged, this, [this] { redraw(); });
    run_started({});
}

void GirfTab::redraw() {
    draw(chooser_->currentIndex() + 1);
}

void GirfTab::clear_charts() {
    for (ChartView* chart : charts_) {
        grid_->removeWidget(chart);
        delete chart;
    }
    charts_.clear();
}

void GirfTab::run_started(const RunConfig&) {
    girf_.reset();
    chooser_->clear();
    {
        const QSignalBlocker quiet(regime_chooser_);
        regime_chooser_->clear();
    }
    clear_charts();
    note_->setText(
        tr("Set GIRF (the largest horizon) before a run to see the impulse "
           "responses of the reported model by regime here."));
}

void GirfTab::run_finished(const RunOutcome& outcome) {
    const AnalysisResult& analysis = outcome.analyses.analysis;
    if (!analysis.girf) {
        if (!outcome.analyses.failure.empty()) {
            note_->setText(tr("No impulse responses: %1")
                               .arg(QString::fromStdString(outcome.analyses.failure)));
        } else if (const QString reason = missing_analysis_reason(
                       outcome, outcome.choices.request.girf > 0, tr("impulse responses"));
                   !reason.isEmpty()) {
            note_->setText(reason);
        }
        return;
    }
    girf_ = analysis.girf;
    info_ = outcome.result.series;
    const GirfResult& g = *girf_;
    QStringList without;
    for (const GirfRegime& regime : g.regimes) {
        if (regime.mean.empty()) {
            without << QString::number(regime.regime);
        }
    }
    note_->setText(
        tr("%1 model: mean difference between paths with and without a shock of one standard "
           "deviation (Cholesky factor of the residual covariance of the history's regime), "
           "over %2 histories per regime × %3 shock sequences; bands: 5 % and 95 % across "
           "histories (with more than two regimes, for the regime chosen).%4")
            .arg(outcome.result.refined ? tr("Refined") : tr("Best"))
            .arg(g.histories)
            .arg(g.repetitions)
            .arg(without.isEmpty()
                     ? QString()
                     : tr(" No history in regime %1.").arg(without.join(QStringLiteral(", ")))));
    {
        const QSignalBlocker quiet(chooser_);
        for (int c = 1; c <= g.k; ++c) {
            chooser_->addItem(component_name(info_, c));
        }
        const QSignalBlocker quiet_regimes(regime_chooser_);
        regime_chooser_->addItem(tr("All regimes"), 0);
        for (const GirfRegime& regime : g.regimes) {
            if (!regime.mean.empty()) {
                regime_chooser_->addItem(tr("Regime %1").arg(regime.regime), regime.regime);
            }
        }
        regime_chooser_->setCurrentIndex(0);
    }
    chooser_->setCurrentIndex(0);
    draw(1);
}

void GirfTab::draw(int shock) {
    clear_charts();
    if (!girf_ || shock < 1 || shock > girf_->k) {
        return;
    }
    const GirfResult& g = *girf_;
    const auto j = static_cast<std::size_t>(shock - 1);
    const int chosen = regime_chooser_->currentData().toInt();
    int with_responses = 0;
    for (const GirfRegime& regime : g.regimes) {
        with_responses += regime.mean.empty() ? 0 : 1;
    }
    // Bands overlap into a grey mass beyond two regimes.
    const bool bands = chosen != 0 || with_responses <= 2;
    for (int c = 1; c <= g.k; ++c) {
        auto* chart = new QChart;
        chart->setTitle(tr("Response of %1 to a shock to %2")
                            .arg(component_name(info_, c), component_name(info_, shock)));
        chart->legend()->setAlignment(Qt::AlignBottom);
        auto* x = new QValueAxis(chart);
        x->setTitleText(tr("Horizon"));
        x->setLabelFormat(QStringLiteral("%d"));
        // Horizons are whole steps.
        set_round_range(x, 0, std::max(1, g.horizon), std::min(std::max(1, g.horizon), 8), 1.0);
        auto* y = new QValueAxis(chart);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        double low = 0.0;
        double high = 0.0;
        const auto widen = [&low, &high](const QList<QPointF>& points) {
            for (const QPointF& p : points) {
                if (std::isfinite(p.y())) {
                    low = std::min(low, p.y());
                    high = std::max(high, p.y());
                }
            }
        };
        for (const GirfRegime& regime : g.regimes) {
            if (regime.mean.empty() || (chosen != 0 && regime.regime != chosen)) {
                continue;
            }
            const auto c0 = static_cast<std::size_t>(c - 1);
            const auto curve = [&](const std::vector<std::vector<std::vector<double>>>& table) {
                QList<QPointF> points;
                for (int h = 0; h <= g.horizon; ++h) {
                    points.append(QPointF(h, table[j][static_cast<std::size_t>(h)][c0]));
                }
                widen(points);
                return points;
            };
            const QColor colour = regime_colour(regime.regime);
            if (bands) {
                QAreaSeries* band = add_band(chart, tr("Regime %1: 5 %–95 %").arg(regime.regime),
                                             colour, curve(regime.q05), curve(regime.q95));
                // The legend names the regimes once, by their lines.
                for (QLegendMarker* marker : chart->legend()->markers(band)) {
                    marker->setVisible(false);
                }
            }
            add_line(chart, tr("Regime %1").arg(regime.regime), QPen(colour, 2.0),
                     curve(regime.mean));
        }
        // The zero line, so that the sign of a response reads at a glance.
        QPen zero(QColor(0x80, 0x80, 0x80), 1.0);
        zero.setStyle(Qt::DashLine);
        add_line(chart, QString(), zero, {QPointF(0, 0), QPointF(g.horizon, 0)});
        chart->legend()->markers().constLast()->setVisible(false);
        const double pad = high > low ? 0.05 * (high - low) : 1.0;
        set_round_range(y, low - pad, high + pad);
        auto* view = new ChartView(chart, QStringLiteral("girf-%1-%2").arg(shock).arg(c), this);
        view->setMinimumHeight(260);
        grid_->addWidget(view, (c - 1) / kGridColumns, (c - 1) % kGridColumns);
        charts_.push_back(view);
    }
}

}  // namespace velmora::gui
