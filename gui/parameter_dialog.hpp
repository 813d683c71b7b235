#pragma once
// The parameter dialog: opens showing the values it is given; OK converts the
// controls through exchange_from_fields() and closes only when every field
// converted, Cancel closes and leaves the values as they were.

#include <QDialog>
#include <QHash>

#include "exchange.hpp"

class QButtonGroup;
class QLineEdit;

namespace velmora::options {
struct OptionRow;
}

namespace velmora::gui {

// A row's label in the program's windows, from the option table.
QString label_of(const options::OptionRow& row);

class ParGenAlgDlg : public QDialog {
    Q_OBJECT
  public:
    explicit ParGenAlgDlg(const ParameterValues& initial, QWidget* parent = nullptr);

    // The values the dialog was opened with, or those accepted by OK.
    const ParameterValues& values() const { return values_; }

    // What the controls show right now.
    ParameterFields fields() const;
    void set_fields(const ParameterFields& fields);

    // The control with the given id (a radio button or an edit), or null.
    QWidget* control(int id) const { return controls_.value(id, nullptr); }

  public slots:
    void accept() override;
    // Fills Number of Observation and Number of Component from the file the
    // Course File field names, unless the user has typed them; a file that
    // cannot be read leaves them as they are (the run reports it).
    void describe_course_file();
    // Course File's "Browse…": Qt's own file chooser fills the field.
    void browse_course_file();

  private:
    QLineEdit* add_edit(int id);
    QLineEdit* edit(int id) const;

    ParameterValues values_;
    QHash<int, QWidget*> controls_;
    QButtonGroup* selection_ = nullptr;
    QButtonGroup* crossover_ = nullptr;
    QButtonGroup* scaling_ = nullptr;
    bool n_oss_typed_ = false;
    bool n_comp_typed_ = false;
    QString described_;  // the course file last described
};

}  // namespace velmora::gui
