#include "time_axis.hpp"

#include "chart_view.hpp"

#include <QCategoryAxis>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QValueAxis>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace velmora::gui {

namespace {

// Labels a text axis shows at most: more would overlap.
constexpr int kTextLabels = 6;

bool label_as_number(const std::string& label, double* value) {
    const char* first = label.data();
    const char* last = first + label.size();
    while (first < last && *first == ' ') {
        ++first;
    }
    while (last > first && last[-1] == ' ') {
        --last;
    }
    if (first < last && *first == '+') {
        ++first;
    }
    const auto [ptr, ec] = std::from_chars(first, last, *value);
    return ec == std::errc() && ptr == last && first < last && std::isfinite(*value);
}

bool increasing(const std::vector<double>& values) {
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (!(values[i] > values[i - 1])) {
            return false;
        }
    }
    return !values.empty();
}

}  // namespace

bool label_as_date(const std::string& label, double* msecs) {
    const QString text = QString::fromStdString(label).trimmed();
    // A plain number ("1991.5", "2024") is a number, not a date.
    if (text.isEmpty() || (!text.contains(QLatin1Char('-')) && !text.contains(QLatin1Char('/')) &&
                           !text.contains(QLatin1Char('.')))) {
        return false;
    }
    for (const char* format : {"yyyy-MM-dd", "yyyy/MM/dd", "dd.MM.yyyy", "dd/MM/yyyy", "yyyy-MM",
                               "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm"}) {
        const QDateTime when = QDateTime::fromString(text, QString::fromLatin1(format));
        if (when.isValid()) {
            *msecs = static_cast<double>(
                QDateTime(when.date(), when.time(), Qt::UTC).toMSecsSinceEpoch());
            return true;
        }
    }
    return false;
}

TimeAxis::TimeAxis(const std::vector<std::string>& labels, const QString& label_name)
    : title_(label_name.isEmpty() ? QObject::tr("Time") : label_name) {
    if (labels.empty()) {
        return;
    }
    std::vector<double> dates;
    std::vector<double> numbers;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::string& label = labels[i];
        double v = 0.0;
        // Dates only while every label so far was one.
        if (dates.size() == i && label_as_date(label, &v)) {
            dates.push_back(v);
        }
        if (label_as_number(label, &v)) {
            numbers.push_back(v);
        }
    }
    if (dates.size() == labels.size() && increasing(dates)) {
        kind_ = Kind::dates;
        positions_ = std::move(dates);
    } else if (numbers.size() == labels.size() && increasing(numbers)) {
        kind_ = Kind::numbers;
        positions_ = std::move(numbers);
    } else {
        kind_ = Kind::text;
        labels_ = labels;
    }
}

double TimeAxis::x(int t) const {
    if (positions_.empty()) {
        return t;
    }
    const auto n = static_cast<int>(positions_.size());
    if (t >= 1 && t <= n) {
        return positions_[static_cast<std::size_t>(t - 1)];
    }
    const double step = n > 1 ? (positions_.back() - positions_.front()) / (n - 1) : 1.0;
    return t < 1 ? positions_.front() - (1 - t) * step : positions_.back() + (t - n) * step;
}

QAbstractAxis* TimeAxis::add_to(QChart* chart, int first, int last) const {
    last = std::max(last, first + 1);
    QAbstractAxis* axis = nullptr;
    switch (kind_) {
        case Kind::dates: {
            auto* dates = new QDateTimeAxis(chart);
            const double span_days = (x(last) - x(first)) / 86400000.0;
            dates->setFormat(span_days > 3 * 365 ? QStringLiteral("yyyy")
                             : span_days > 90    ? QStringLiteral("yyyy-MM")
                                                 : QStringLiteral("yyyy-MM-dd"));
            dates->setTickCount(6);
            dates->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x(first)), Qt::UTC),
                            QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x(last)), Qt::UTC));
            axis = dates;
            break;
        }
        case Kind::numbers: {
            auto* values = new QValueAxis(chart);
            values->setRange(x(first), x(last));
            round_ticks(values);
            axis = values;
            break;
        }
        case Kind::text: {
            auto* text = new QCategoryAxis(chart);
            text->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
            text->setRange(first, last);
            const int n = static_cast<int>(labels_.size());
            const int stride = std::max(1, (last - first) / (kTextLabels - 1));
            for (int t = first; t <= last; t += stride) {
                const QString label =
                    t >= 1 && t <= n
                        ? QString::fromStdString(labels_[static_cast<std::size_t>(t - 1)])
                        : QStringLiteral("+%1").arg(t - n);
                // Category labels must be distinct.
                if (!text->categoriesLabels().contains(label)) {
                    text->append(label, t);
                }
            }
            axis = text;
            break;
        }
        case Kind::rows: {
            auto* rows = new QValueAxis(chart);
            rows->setRange(first, last);
            rows->setLabelFormat(QStringLiteral("%d"));
            axis = rows;
            break;
        }
    }
    axis->setTitleText(title_.isEmpty() ? QObject::tr("Time") : title_);
    chart->addAxis(axis, Qt::AlignBottom);
    return axis;
}

}  // namespace velmora::gui
