#include "icon.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <array>

namespace velmora::gui {

namespace {

// A series that jumps between two regimes around a dashed threshold line:
// the picture of what the program looks for. Coordinates on a 0..1 square.
constexpr std::array<QPointF, 9> kSeries = {{{0.14, 0.62},
                                             {0.24, 0.70},
                                             {0.33, 0.58},
                                             {0.42, 0.66},
                                             {0.50, 0.34},
                                             {0.60, 0.26},
                                             {0.69, 0.38},
                                             {0.78, 0.24},
                                             {0.87, 0.32}}};
constexpr double kThreshold = 0.47;

}  // namespace

QPixmap program_pixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size, size);

    QLinearGradient background(0.0, 0.0, 0.0, 1.0);
    background.setColorAt(0.0, QColor(0x1f, 0x4e, 0x79));
    background.setColorAt(1.0, QColor(0x12, 0x2e, 0x48));
    p.setPen(Qt::NoPen);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(0.04, 0.04, 0.92, 0.92), 0.18, 0.18);

    QPen dashed(QColor(0xf2, 0xc1, 0x4e), 0.035, Qt::DashLine, Qt::FlatCap);
    dashed.setDashPattern({2.0, 1.5});
    p.setPen(dashed);
    p.drawLine(QPointF(0.10, kThreshold), QPointF(0.90, kThreshold));

    // The regime below the threshold in one colour, the one above in another.
    const auto draw_part = [&p](std::size_t from, std::size_t to, const QColor& colour) {
        QPainterPath path(kSeries[from]);
        for (std::size_t i = from + 1; i <= to; ++i) {
            path.lineTo(kSeries[i]);
        }
        p.setPen(QPen(colour, 0.06, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    draw_part(0, 4, QColor(0x8f, 0xd3, 0xff));
    draw_part(4, 8, QColor(0xff, 0xff, 0xff));
    return pixmap;
}

QIcon program_icon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(program_pixmap(size));
    }
    return icon;
}

}  // namespace velmora::gui
