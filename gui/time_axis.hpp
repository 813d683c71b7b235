#pragma once
// The time axis of a chart against the rows of a series: the file's row
// labels as dates when every one of them reads as a date, as numbers when
// every one reads as a number (a decimal year, say), otherwise as the label
// text at a few rows; row numbers when the file has no labels.

#include <QString>

#include <string>
#include <vector>

class QAbstractAxis;
class QChart;

namespace velmora::gui {

class TimeAxis {
  public:
    enum class Kind { rows, dates, numbers, text };

    TimeAxis() = default;
    // One label per row 1..n (empty: row numbers).
    explicit TimeAxis(const std::vector<std::string>& labels, const QString& label_name = {});

    Kind kind() const noexcept { return kind_; }
    // Where time t (1-based) lies on the axis: milliseconds since the epoch
    // for dates, the number for numbers, t itself otherwise. Times after the
    // last label (a forecast's) continue at the labels' average spacing.
    double x(int t) const;
    // A horizontal axis for times first..last, added to the chart at its
    // bottom; its title is the label column's name, or "Time".
    QAbstractAxis* add_to(QChart* chart, int first, int last) const;

  private:
    Kind kind_ = Kind::rows;
    std::vector<double> positions_;    // of times 1..n for dates and numbers
    std::vector<std::string> labels_;  // for text
    QString title_;
};

// The date a label stands for, when it reads as one (2024-03-01, 2024-03,
// 2024/03/01, 01.03.2024, 01/03/2024, an ISO date and time); its
// milliseconds since the epoch (UTC) in *msecs.
bool label_as_date(const std::string& label, double* msecs);

}  // namespace velmora::gui
