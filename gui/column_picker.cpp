#include "column_picker.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "data/table_reader.hpp"
#include "model/problem.hpp"

namespace velmora::gui {

std::vector<std::string> course_file_columns(const QString& course_file, QString* problem) {
    data::TableRequest request;
    request.path = std::filesystem::path(course_file.toStdString());
    // The header and a first row tell the columns.
    request.rows = 1;
    try {
        const data::Table table = data::read_table(request);
        if (table.has_header && !table.column_names.empty()) {
            return table.column_names;
        }
        std::vector<std::string> numbers;
        for (int c = 1; c <= table.columns; ++c) {
            numbers.push_back(std::to_string(c));
        }
        return numbers;
    } catch (const std::exception& e) {
        if (problem != nullptr) {
            *problem = QString::fromStdString(e.what());
        }
        return {};
    }
}

ColumnPicker::ColumnPicker(const QString& course_file, const ColumnChoice& current, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Columns"));
    setObjectName(QStringLiteral("columnPicker"));
    auto* caption = new QLabel(tr("Components the model is fitted to, from %1 (at least %2):")
                                   .arg(course_file)
                                   .arg(kMinComponents),
                               this);
    caption->setWordWrap(true);
    modelled_ = new QListWidget(this);
    modelled_->setObjectName(QStringLiteral("modelledColumns"));
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("columnNote"));
    note_->setWordWrap(true);
    const std::vector<std::string> columns = course_file_columns(course_file, &problem_);
    for (const std::string& name : columns) {
        auto* item = new QListWidgetItem(QString::fromStdString(name), modelled_);
        const bool chosen = current.modelled.empty() ||
                            std::find(current.modelled.begin(), current.modelled.end(), name) !=
                                current.modelled.end();
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
    }
    auto* threshold_caption =
        new QLabel(tr("Threshold variables, modelled or not (none checked: the first two "
                      "components; a column that is not modelled only splits the regimes):"),
                   this);
    threshold_caption->setWordWrap(true);
    threshold_ = new QListWidget(this);
    threshold_->setObjectName(QStringLiteral("thresholdColumns"));
    for (const std::string& name : columns) {
        auto* item = new QListWidgetItem(QString::fromStdString(name), threshold_);
        const bool chosen = std::find(current.threshold.begin(), current.threshold.end(), name) !=
                            current.threshold.end();
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
    }
    note_->setText(problem_.isEmpty()
                       ? tr("The order of the file is kept; the first two chosen can serve as "
                            "threshold variables, unless threshold variables are checked: the "
                            "search then codes the first two of those, the refinement may use "
                            "any.")
                       : problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(problem_.isEmpty());
    connect(buttons, &QDialogButtonBox::accepted, this, &ColumnPicker::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ColumnPicker::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(modelled_, 1);
    layout->addWidget(threshold_caption);
    layout->addWidget(threshold_, 1);
    layout->addWidget(note_);
    layout->addWidget(buttons);
}

ColumnChoice ColumnPicker::choice() const {
    ColumnChoice out;
    bool all = true;
    for (int i = 0; i < modelled_->count(); ++i) {
        const QListWidgetItem* item = modelled_->item(i);
        if (item->checkState() == Qt::Checked) {
            out.modelled.push_back(item->text().toStdString());
        } else {
            all = false;
        }
    }
    if (all) {
        out.modelled.clear();
    }
    for (int i = 0; i < threshold_->count(); ++i) {
        const QListWidgetItem* item = threshold_->item(i);
        if (item->checkState() == Qt::Checked) {
            out.threshold.push_back(item->text().toStdString());
        }
    }
    return out;
}

void ColumnPicker::accept() {
    int checked = 0;
    for (int i = 0; i < modelled_->count(); ++i) {
        checked += modelled_->item(i)->checkState() == Qt::Checked ? 1 : 0;
    }
    if (checked < kMinComponents) {
        QMessageBox::warning(this, QStringLiteral("Velmora"),
                             tr("Choose at least %1 columns.").arg(kMinComponents));
        return;
    }
    QDialog::accept();
}

QString describe_columns(const ColumnChoice& choice) {
    const auto joined = [](const std::vector<std::string>& list) {
        QStringList names;
        for (const std::string& name : list) {
            names << QString::fromStdString(name);
        }
        return names.join(QStringLiteral(", "));
    };
    const QString modelled =
        choice.modelled.empty() ? QObject::tr("all columns") : joined(choice.modelled);
    if (choice.threshold.empty()) {
        return modelled;
    }
    return QObject::tr("%1; threshold variables %2").arg(modelled, joined(choice.threshold));
}

}  // namespace velmora::gui
