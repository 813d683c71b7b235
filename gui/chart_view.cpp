#include "chart_view.hpp"

#include <QAreaSeries>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QImage>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSvgGenerator>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace velmora::gui {

namespace {

const QString kPngFilter = QStringLiteral("PNG image (*.png)");
const QString kSvgFilter = QStringLiteral("SVG drawing (*.svg)");

// A chart that was never laid out (its tab not yet shown) is drawn at a size
// that reads well rather than at the widget's initial few pixels.
QSize picture_size(const QWidget& view) {
    const QSize size = view.size();
    return size.width() < 320 || size.height() < 240 ? QSize(900, 520) : size;
}

void attach_to_axes(QChart* chart, QAbstractSeries* series) {
    chart->addSeries(series);
    for (Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        const QList<QAbstractAxis*> axes = chart->axes(orientation);
        if (!axes.isEmpty()) {
            series->attachAxis(axes.constFirst());
        }
    }
}

}  // namespace

double nice_step(double span, int ticks) {
    if (!(span > 0.0) || !std::isfinite(span)) {
        return 1.0;
    }
    const double raw = span / std::max(1, ticks);
    const double unit = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * unit >= raw * (1 - 1e-9)) {
            return m * unit;
        }
    }
    return 10.0 * unit;
}

void set_round_range(QValueAxis* axis, double low, double high, int ticks, double least_step) {
    // No tick can be laid out towards an infinite end: keep the range drawn.
    if (!std::isfinite(low) || !std::isfinite(high) || !std::isfinite(high - low)) {
        return;
    }
    // The interval first: a dynamic axis lays out one item per tick, and the
    // old interval over a range a million times wider would make a million.
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickInterval(std::max(least_step, nice_step(high - low, ticks)));
    axis->setRange(low, high);
    round_ticks(axis, ticks, least_step);
}

void round_ticks(QValueAxis* axis, int ticks, double least_step) {
    // The axis lays out its labels by adding the interval to the anchor
    // until it passes the maximum; on a narrow range far from zero an
    // interval below the spacing of doubles there adds nothing, and the
    // labels pile up without end. A floor well above that spacing keeps the
    // count small.
    const double magnitude = std::max(std::abs(axis->min()), std::abs(axis->max()));
    const double floor_step = magnitude > 0.0 ? nice_step(1e-9 * magnitude, 1) : 0.0;
    const double step =
        std::max({least_step, floor_step, nice_step(axis->max() - axis->min(), ticks)});
    axis->setTickType(QValueAxis::TicksDynamic);
    // Anchored at zero when the range holds it, so that zero is a tick
    // exactly (never "-0.00").
    const bool spans_zero = axis->min() <= 0.0 && axis->max() >= 0.0;
    axis->setTickAnchor(spans_zero ? 0.0 : std::ceil(axis->min() / step) * step);
    axis->setTickInterval(step);
    const int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
}

QColor regime_colour(int r) {
    static const QColor colours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                                     QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd)};
    return colours[(r - 1) % 4];
}

QAreaSeries* add_band(QChart* chart, const QString& name, const QColor& colour,
                      const QList<QPointF>& low, const QList<QPointF>& high) {
    auto* upper = new QLineSeries(chart);
    upper->replace(high);
    auto* lower = new QLineSeries(chart);
    lower->replace(low);
    auto* band = new QAreaSeries(upper, lower);
    band->setName(name);
    QColor fill = colour;
    fill.setAlpha(60);
    band->setBrush(fill);
    QColor edge = colour;
    edge.setAlpha(110);
    band->setPen(QPen(edge, 0.8));
    attach_to_axes(chart, band);
    return band;
}

QLineSeries* add_line(QChart* chart, const QString& name, const QPen& pen,
                      const QList<QPointF>& points) {
    auto* line = new QLineSeries(chart);
    line->setName(name);
    line->setPen(pen);
    line->replace(points);
    attach_to_axes(chart, line);
    return line;
}

ChartView::ChartView(QChart* chart, const QString& file_stem, QWidget* parent)
    : QChartView(chart, parent), file_stem_(file_stem) {
    setRenderHint(QPainter::Antialiasing);
    setMinimumSize(240, 160);
}

bool ChartView::save(const QString& path) {
    const QSize size = picture_size(*this);
    if (size != this->size()) {
        resize(size);
    }
    // A view never shown (a page not yet opened, or the chart program's
    // pages) has neither laid its chart out nor sized its viewport: the
    // chart is laid out at the picture's size and drawn from the scene.
    const bool shown = isVisible();
    if (!shown) {
        chart()->resize(QSizeF(size));
        scene()->setSceneRect(QRectF(QPointF(0, 0), QSizeF(size)));
        if (chart()->layout() != nullptr) {
            chart()->layout()->activate();
        }
    }
    const auto draw = [this, shown, size](QPainter* painter) {
        if (shown) {
            render(painter);
        } else {
            const QRectF area(QPointF(0, 0), QSizeF(size));
            scene()->render(painter, area, area);
        }
    };
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator generator;
        generator.setFileName(path);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(chart()->title().isEmpty() ? file_stem_ : chart()->title());
        generator.setDescription(QStringLiteral("Drawn by Velmora"));
        QPainter painter;
        if (!painter.begin(&generator)) {
            return false;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        draw(&painter);
        painter.end();
        // QSvgGenerator reports no write errors; a file that is missing or
        // empty afterwards is the sign of one.
        return QFileInfo(path).size() > 0;
    }
    QImage image(size * devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio());
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(&painter);
    painter.end();
    return image.save(path, "PNG");
}

QPushButton* ChartView::make_save_button(QWidget* parent) {
    auto* button = new QPushButton(tr("Save chart…"), parent);
    button->setObjectName(file_stem_ + QStringLiteral("-save"));
    button->setToolTip(tr("Save this chart as a PNG picture or an SVG drawing"));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this] { save_with_dialog(false); });
    return button;
}

void ChartView::save_with_dialog(bool svg) {
    QFileDialog dialog(this, tr("Save chart"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({kPngFilter, kSvgFilter});
    dialog.selectNameFilter(svg ? kSvgFilter : kPngFilter);
    dialog.setDefaultSuffix(svg ? QStringLiteral("svg") : QStringLiteral("png"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == kSvgFilter ? QStringLiteral("svg")
                                                     : QStringLiteral("png"));
    });
    dialog.setDirectory(QDir::current());
    dialog.selectFile(file_stem_ + (svg ? QStringLiteral(".svg") : QStringLiteral(".png")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog.selectedFiles().constFirst();
    if (!save(path)) {
        QMessageBox::warning(this, QStringLiteral("Velmora"),
                             tr("The chart could not be saved to %1.").arg(path));
    }
}

void ChartView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("Save as PNG…"), this, [this] { save_with_dialog(false); });
    menu.addAction(tr("Save as SVG…"), this, [this] { save_with_dialog(true); });
    menu.exec(event->globalPos());
}

}  // namespace velmora::gui
