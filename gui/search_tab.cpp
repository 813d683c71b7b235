#include "search_tab.hpp"

#include <QChart>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "app/threshold_app.hpp"
#include "chart_view.hpp"
#include "output/run_summary.hpp"

namespace velmora::gui {

namespace {

// Colours of the replications' lines, repeated when there are more.
const QColor kColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                           QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
                           QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b),
                           QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f)};

// Enough for a line to look continuous at any window size.
constexpr int kMaxPoints = 4000;
// Beyond this many replications the page draws them together (a dot per
// replication and generation, the lowest and the average as lines): a line
// and a legend entry each would leave a thousand unlabelled squares.
constexpr std::size_t kLegendReplications = 4;
// Enough dots to show the replications' spread; each dot is an item of the
// chart's scene, so they are thinned beyond this.
constexpr int kMaxDots = 5000;
const QColor kBestColour(0x1f, 0x77, 0xb4);
const QColor kMeanColour(0xff, 0x7f, 0x0e);

QColor colour_of(int replication) {
    constexpr int count = static_cast<int>(std::size(kColours));
    return kColours[(replication - 1) % count];
}

}  // namespace

SearchTab::SearchTab(QWidget* parent) : ResultsTab(parent) {
    setObjectName(QStringLiteral("searchTab"));
    auto* chart = new QChart;
    chart->setTitle(tr("Criterion per generation"));
    chart->legend()->setAlignment(Qt::AlignBottom);
    x_axis_ = new QValueAxis(chart);
    x_axis_->setTitleText(tr("Generation"));
    x_axis_->setLabelFormat(QStringLiteral("%d"));
    set_round_range(x_axis_, 0, 1, 6, 1.0);
    y_axis_ = new QValueAxis(chart);
    y_axis_->setTitleText(tr("Criterion"));
    y_axis_->setLabelFormat(QStringLiteral("%.4f"));
    chart->addAxis(x_axis_, Qt::AlignBottom);
    chart->addAxis(y_axis_, Qt::AlignLeft);

    view_ = new ChartView(chart, QStringLiteral("search-chart"), this);
    view_->setObjectName(QStringLiteral("searchChart"));

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("searchSummary"));
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setWordWrap(true);
    QFont fixed(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    summary_->setFont(fixed);

    // Why this page and the Best model page may show different models.
    auto* explanation = new QLabel(
        tr("This page follows the genetic search: the chart shows each generation's best and "
           "mean criterion, and below it is the best structure the search itself found, before "
           "any refinement. The refinement then adjusts that structure's thresholds and fields "
           "step by step while the criterion falls; the Best model page shows the model "
           "reported in the end (the refined one when refinement ran), so its criterion may "
           "be lower and its structure different."),
        this);
    explanation->setObjectName(QStringLiteral("searchExplanation"));
    explanation->setWordWrap(true);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(summary_, 1);
    bottom->addWidget(view_->make_save_button(this), 0, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addWidget(explanation);
    layout->addLayout(bottom);
}

void SearchTab::run_started(const RunConfig& config) {
    view_->chart()->removeAllSeries();
    spread_.reset();
    // Drawn plainly while the run goes on, smoothly once it has ended.
    view_->setRenderHint(QPainter::Antialiasing, false);
    lines_.clear();
    maxgen_ = config.maxgen;
    last_generation_ = 0;
    have_y_ = false;
    set_round_range(x_axis_, 0, std::max(1, maxgen_), 6, 1.0);
    set_round_range(y_axis_, 0, 1);
    summary_->clear();
}

SearchTab::Lines& SearchTab::lines_of(int replication) {
    auto found = lines_.find(replication);
    if (found != lines_.end()) {
        return found->second;
    }
    Lines lines;
    QChart* chart = view_->chart();
    const QColor colour = colour_of(replication);
    lines.best.series = new QLineSeries(chart);
    lines.best.series->setPen(QPen(colour, 2.0));
    lines.mean.series = new QLineSeries(chart);
    // One replication: two colours. Several: a colour per replication, its
    // mean dashed.
    QPen dashed(replication == 1 && lines_.empty() ? kMeanColour : colour, 1.2);
    dashed.setStyle(Qt::DashLine);
    lines.mean.series->setPen(dashed);
    for (QLineSeries* series : {lines.best.series, lines.mean.series}) {
        chart->addSeries(series);
        series->attachAxis(x_axis_);
        series->attachAxis(y_axis_);
    }
    Lines& stored = lines_.emplace(replication, lines).first->second;
    name_lines();
    return stored;
}

void SearchTab::name_lines() {
    const bool several = lines_.size() > 1;
    for (auto& [replication, lines] : lines_) {
        lines.best.series->setName(several ? tr("Best, replication %1").arg(replication)
                                           : tr("Best criterion"));
        lines.mean.series->setName(several ? tr("Mean, replication %1").arg(replication)
                                           : tr("Mean criterion"));
    }
}

void SearchTab::draw_as_spread() {
    QChart* chart = view_->chart();
    spread_ = std::make_unique<Spread>();
    spread_->dots = new QScatterSeries(chart);
    spread_->dots->setName(tr("Best criterion of each replication"));
    spread_->dots->setMarkerSize(5.0);
    QColor dot = kBestColour;
    dot.setAlpha(90);
    spread_->dots->setColor(dot);
    spread_->dots->setBorderColor(Qt::transparent);
    spread_->lowest = new QLineSeries(chart);
    spread_->lowest->setPen(QPen(kBestColour.darker(130), 2.0));
    spread_->average = new QLineSeries(chart);
    QPen dashed(kMeanColour, 1.5);
    dashed.setStyle(Qt::DashLine);
    spread_->average->setPen(dashed);
    spread_->average->setName(tr("Mean criterion, average of the replications"));
    for (auto& [replication, lines] : lines_) {
        add_to_spread(replication, lines.best.series->points(), lines.mean.series->points());
        for (QLineSeries* series : {lines.best.series, lines.mean.series}) {
            chart->removeSeries(series);
            delete series;
        }
    }
    lines_.clear();
    for (QXYSeries* series :
         std::initializer_list<QXYSeries*>{spread_->dots, spread_->lowest, spread_->average}) {
        chart->addSeries(series);
        series->attachAxis(x_axis_);
        series->attachAxis(y_axis_);
    }
}

void SearchTab::add_to_spread(int replication, const QList<QPointF>& best,
                              const QList<QPointF>& mean) {
    Spread& s = *spread_;
    s.replications.insert(replication);
    const auto on = [](const QPointF& p, int stride) {
        return static_cast<long long>(p.x()) % stride == 0;
    };
    for (const QPointF& p : best) {
        if (on(p, s.dot_stride)) {
            s.dot_points.append(p);
        }
        if (on(p, s.line_stride)) {
            const int g = static_cast<int>(p.x());
            const auto [at, added] = s.lowest_of.emplace(g, p.y());
            at->second = added ? p.y() : std::min(at->second, p.y());
        }
    }
    for (const QPointF& p : mean) {
        if (on(p, s.line_stride)) {
            auto& [sum, count] = s.mean_of[static_cast<int>(p.x())];
            sum += p.y();
            ++count;
        }
    }
    while (s.dot_points.size() > kMaxDots) {
        s.dot_stride *= 2;
        s.dot_points.removeIf([&](const QPointF& p) { return !on(p, s.dot_stride); });
    }
    while (std::max(s.lowest_of.size(), s.mean_of.size()) > static_cast<std::size_t>(kMaxPoints)) {
        s.line_stride *= 2;
        std::erase_if(s.lowest_of, [&](const auto& e) { return e.first % s.line_stride != 0; });
        std::erase_if(s.mean_of, [&](const auto& e) { return e.first % s.line_stride != 0; });
    }
}

void SearchTab::draw_spread() {
    Spread& s = *spread_;
    s.dots->replace(s.dot_points);
    QList<QPointF> lowest;
    lowest.reserve(static_cast<qsizetype>(s.lowest_of.size()));
    for (const auto& [g, y] : s.lowest_of) {
        lowest.append(QPointF(g, y));
    }
    s.lowest->replace(lowest);
    s.lowest->setName(tr("Lowest best criterion of %1 replications")
                          .arg(static_cast<int>(s.replications.size())));
    QList<QPointF> average;
    average.reserve(static_cast<qsizetype>(s.mean_of.size()));
    for (const auto& [g, sum_count] : s.mean_of) {
        average.append(QPointF(g, sum_count.first / sum_count.second));
    }
    s.average->replace(average);
}

void SearchTab::add_generations(const std::vector<RunProgress>& bred) {
    if (bred.empty()) {
        return;
    }
    // One append per line and batch: the chart redraws once for the batch.
    std::map<int, std::pair<QList<QPointF>, QList<QPointF>>> points;
    for (const RunProgress& p : bred) {
        auto& [best, mean] = points[p.replication];
        const double x = p.generation;
        if (p.best_fitness > 0.0 && std::isfinite(p.best_criterion)) {
            best.append(QPointF(x, p.best_criterion));
        }
        if (std::isfinite(p.mean_criterion)) {
            mean.append(QPointF(x, p.mean_criterion));
        }
        for (double y : {p.best_fitness > 0.0 ? p.best_criterion : NAN, p.mean_criterion}) {
            if (!std::isfinite(y)) {
                continue;
            }
            y_low_ = have_y_ ? std::min(y_low_, y) : y;
            y_high_ = have_y_ ? std::max(y_high_, y) : y;
            have_y_ = true;
        }
        last_generation_ = std::max(last_generation_, p.generation);
        maxgen_ = std::max(maxgen_, p.maxgen);
    }
    for (auto& [replication, pair] : points) {
        if (!spread_ && !lines_.contains(replication) && lines_.size() >= kLegendReplications) {
            draw_as_spread();
        }
        if (spread_) {
            add_to_spread(replication, pair.first, pair.second);
            continue;
        }
        Lines& lines = lines_of(replication);
        extend(lines.best, pair.first);
        extend(lines.mean, pair.second);
    }
    if (spread_) {
        draw_spread();
    }
    fit_axes();
}

void SearchTab::extend(Line& line, const QList<QPointF>& points) {
    if (points.isEmpty()) {
        return;
    }
    QList<QPointF> drawn = line.series->points();
    if (line.tail_off_stride) {
        drawn.removeLast();
    }
    const auto on_stride = [&line](const QPointF& p) {
        return static_cast<long long>(p.x()) % line.stride == 0;
    };
    for (const QPointF& p : points) {
        if (on_stride(p)) {
            drawn.append(p);
        }
    }
    while (drawn.size() > kMaxPoints) {
        line.stride *= 2;
        QList<QPointF> thinned;
        thinned.reserve(drawn.size() / 2 + 1);
        for (const QPointF& p : drawn) {
            if (on_stride(p)) {
                thinned.append(p);
            }
        }
        drawn.swap(thinned);
    }
    line.tail_off_stride = !on_stride(points.constLast());
    if (line.tail_off_stride) {
        drawn.append(points.constLast());
    }
    line.series->replace(drawn);
}

void SearchTab::fit_axes() {
    // Axes change only when the data leave them: a change lays the whole
    // chart out again.
    const int x_high = std::max({1, maxgen_, last_generation_});
    if (x_axis_->max() != x_high) {
        set_round_range(x_axis_, 0, x_high, 6, 1.0);
    }
    if (have_y_) {
        const double span = y_high_ - y_low_;
        const double pad = span > 0.0 ? 0.05 * span : std::max(1e-3, 0.01 * std::abs(y_low_));
        if (y_low_ - pad != y_axis_->min() || y_high_ + pad != y_axis_->max()) {
            set_round_range(y_axis_, y_low_ - pad, y_high_ + pad);
        }
    }
}

void SearchTab::run_finished(const RunOutcome& outcome) {
    view_->setRenderHint(QPainter::Antialiasing, true);
    QString text;
    // A stop during the refinement leaves the search whole.
    const RunOutcome::Status status =
        outcome.result.refinement_stopped ? RunOutcome::Status::completed : outcome.status;
    switch (status) {
        case RunOutcome::Status::completed:
            if (!outcome.result.best_codes.empty()) {
                text = outcome.result.generations > 0
                           ? tr("Best model of the last generation:\n")
                           : tr("Best model of the start population (no generation bred):\n");
            }
            break;
        case RunOutcome::Status::stopped:
            text = (outcome.generations == 1
                        ? tr("Run stopped after 1 generation. Best structure found so far:\n")
                        : tr("Run stopped after %1 generations. Best structure found so far:\n")
                              .arg(outcome.generations));
            break;
        case RunOutcome::Status::failed:
            text = tr("The run failed: %1").arg(outcome.message);
            break;
    }
    if (outcome.status != RunOutcome::Status::failed && !outcome.result.best_codes.empty()) {
        text += QString::fromStdString(
            format_structure_summary(outcome.result.best, &outcome.result.series));
    }
    summary_->setText(text.trimmed());
}

int SearchTab::best_points(int replication) const {
    const auto found = lines_.find(replication);
    return found == lines_.end() ? 0 : static_cast<int>(found->second.best.series->count());
}

int SearchTab::mean_points(int replication) const {
    const auto found = lines_.find(replication);
    return found == lines_.end() ? 0 : static_cast<int>(found->second.mean.series->count());
}

}  // namespace velmora::gui

namespace velmora::gui {

QList<QPointF> SearchTab::best_line(int replication) const {
    const auto found = lines_.find(replication);
    return found == lines_.end() ? QList<QPointF>() : found->second.best.series->points();
}

int SearchTab::spread_dots() const {
    return spread_ ? static_cast<int>(spread_->dots->count()) : 0;
}

QList<QPointF> SearchTab::lowest_line() const {
    return spread_ ? spread_->lowest->points() : QList<QPointF>();
}

QList<QPointF> SearchTab::average_line() const {
    return spread_ ? spread_->average->points() : QList<QPointF>();
}

}  // namespace velmora::gui
