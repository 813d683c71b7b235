#pragma once
// The column picker: which columns of the course file a run models, chosen
// by their names (or numbers, when the file has no header), in the file's
// order. What it picks becomes RunConfig::columns and n_comp, as --columns
// does on the command line.

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

class QLabel;
class QListWidget;

namespace velmora::gui {

// The columns a run reads: those modelled, and those that may serve as
// threshold variables (--threshold-columns), modelled or not.
struct ColumnChoice {
    std::vector<std::string> modelled;   // empty: every column of numbers
    std::vector<std::string> threshold;  // empty: the first two components
};

// The columns of numbers of a course file: their header names, or their
// 1-based numbers as text without a header. Empty with *problem set when the
// file cannot be read.
std::vector<std::string> course_file_columns(const QString& course_file, QString* problem);

class ColumnPicker : public QDialog {
    Q_OBJECT
  public:
    // Lists the file's columns, those in `current` checked (all of them when
    // `current` is empty).
    ColumnPicker(const QString& course_file, const ColumnChoice& current,
                 QWidget* parent = nullptr);

    // The columns checked, in the file's order; empty when every column is.
    ColumnChoice choice() const;
    QListWidget* modelled_list() const { return modelled_; }
    QListWidget* threshold_list() const { return threshold_; }
    // Why the file's columns could not be listed; empty when they could.
    const QString& problem() const { return problem_; }

  public slots:
    void accept() override;

  private:
    QListWidget* modelled_ = nullptr;
    QListWidget* threshold_ = nullptr;
    QLabel* note_ = nullptr;
    QString problem_;
};

// "all columns", or the names chosen: "DAX, CAC"; with threshold columns,
// "DAX, CAC; threshold variables VIX, DAX".
QString describe_columns(const ColumnChoice& choice);

}  // namespace velmora::gui
