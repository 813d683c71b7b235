#include "parameter_dialog.hpp"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "app/methods.hpp"
#include "data/table_reader.hpp"
#include "support/errors.hpp"

namespace velmora::gui {

QString label_of(const options::OptionRow& row) {
    return QString::fromLatin1(row.dialog_label.data(),
                               static_cast<qsizetype>(row.dialog_label.size()));
}

namespace {

constexpr int kNumberEditWidth = 90;

std::string text_of(const QLineEdit* edit) {
    return edit->text().toStdString();
}

int checked_index(const QButtonGroup* group) {
    return group->checkedId();
}

void check_index(QButtonGroup* group, int index) {
    if (QAbstractButton* button = group->button(index)) {
        button->setChecked(true);
        return;
    }
    // No button for this index: show none checked, which reads back as -1.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) {
        button->setChecked(false);
    }
    group->setExclusive(true);
}

// The dialog's control ids of the edits that hold the methods' constants
// (0: none).
int constant_edit(SelectionMethod method) {
    switch (method) {
        case SelectionMethod::tournament:
            return control::kTourneySize;
        case SelectionMethod::roulette:
        case SelectionMethod::remainder:
        case SelectionMethod::universal_sampling:
            return 0;
    }
    return 0;
}

int constant_edit(ScalingMethod method) {
    switch (method) {
        case ScalingMethod::linear:
            return control::kScaleMult;
        case ScalingMethod::boltzmann:
            return control::kBeta;
        case ScalingMethod::autocontrol:
            return 0;
        case ScalingMethod::sigma_truncation:
            return control::kSigmaTrunc;
        case ScalingMethod::window:
            return control::kScalingWindow;
    }
    return 0;
}

}  // namespace

QLineEdit* ParGenAlgDlg::add_edit(int id) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QStringLiteral("edit%1").arg(id));
    e->setFixedWidth(kNumberEditWidth);
    controls_.insert(id, e);
    return e;
}

QLineEdit* ParGenAlgDlg::edit(int id) const {
    return static_cast<QLineEdit*>(controls_.value(id));
}

ParGenAlgDlg::ParGenAlgDlg(const ParameterValues& initial, QWidget* parent)
    : QDialog(parent), values_(initial) {
    namespace c = control;
    setWindowTitle(QStringLiteral("Dialog"));

    // A radio button per row of a method table, in the table's order, so
    // that a button's index in its group is the choice number.
    const auto radio = [this](QButtonGroup* group, int id, const char* text) {
        auto* r = new QRadioButton(QString::fromLatin1(text), this);
        r->setObjectName(QStringLiteral("radio%1").arg(id));
        group->addButton(r, group->buttons().size());
        controls_.insert(id, r);
        return r;
    };

    // Selection: a radio per method, the tournament size beside its button.
    selection_ = new QButtonGroup(this);
    auto* selection_box = new QGroupBox(QStringLiteral("Selection"), this);
    auto* selection_grid = new QGridLayout(selection_box);
    for (int i = 0; i < static_cast<int>(selection_methods.size()); ++i) {
        const auto& row = selection_methods[static_cast<std::size_t>(i)];
        QRadioButton* button = radio(selection_, c::radio_id(row.method), row.dialog_label);
        if (const int id = constant_edit(row.method)) {
            selection_grid->addWidget(button, i, 0);
            selection_grid->addWidget(add_edit(id), i, 1);
        } else {
            // A button without an edit spans the row, so the size edit stays
            // right beside its own button.
            selection_grid->addWidget(button, i, 0, 1, 3);
        }
    }
    selection_grid->setColumnStretch(2, 1);

    crossover_ = new QButtonGroup(this);
    auto* crossover_box = new QGroupBox(QStringLiteral("Crossover Methods"), this);
    auto* crossover_row = new QHBoxLayout(crossover_box);
    for (const auto& row : crossover_methods) {
        crossover_row->addWidget(radio(crossover_, c::radio_id(row.method), row.dialog_label));
    }
    crossover_row->addStretch();

    scaling_ = new QButtonGroup(this);
    auto* scaling_box = new QGroupBox(QStringLiteral("Fitness Scaling Methods"), this);
    auto* scaling_grid = new QGridLayout(scaling_box);
    for (int i = 0; i < static_cast<int>(scaling_methods.size()); ++i) {
        const auto& row = scaling_methods[static_cast<std::size_t>(i)];
        scaling_grid->addWidget(radio(scaling_, c::radio_id(row.method), row.dialog_label), i, 0);
        if (const int id = constant_edit(row.method)) {
            scaling_grid->addWidget(add_edit(id), i, 1);
        }
    }
    scaling_grid->setColumnStretch(0, 1);

    // An edit with its option's label.
    const auto labelled = [this](QFormLayout* form, const options::OptionRow& row) {
        form->addRow(new QLabel(label_of(row), this), add_edit(c::edit_id(row)));
    };

    auto* others_box = new QGroupBox(QStringLiteral("Others Parameters"), this);
    auto* others = new QFormLayout(others_box);
    labelled(others, options::crowding);
    labelled(others, options::incest_reduction);
    labelled(others, options::pcross);
    labelled(others, options::pmutation);
    labelled(others, options::popsize);
    labelled(others, options::maxgen);

    auto* series_box = new QGroupBox(QStringLiteral("Time Series Parameter"), this);
    auto* series = new QFormLayout(series_box);
    labelled(series, options::n_obs);
    labelled(series, options::n_comp);
    labelled(series, options::min_obs_per_regime);
    labelled(series, options::max_order);
    // The course file: its edit and a "Browse…" button that fills it.
    QLineEdit* course = add_edit(c::kCourseFile);
    course->setMinimumWidth(3 * kNumberEditWidth);
    course->setMaximumWidth(QWIDGETSIZE_MAX);
    auto* browse = new QPushButton(tr("Browse…"), this);
    browse->setObjectName(QStringLiteral("courseFileBrowse"));
    browse->setAutoDefault(false);
    browse->setToolTip(tr("Choose the file that holds the series"));
    connect(browse, &QPushButton::clicked, this, &ParGenAlgDlg::browse_course_file);
    auto* course_row = new QHBoxLayout;
    course_row->addWidget(course, 1);
    course_row->addWidget(browse);
    series->addRow(new QLabel(label_of(options::course_file), this), course_row);
    series->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    for (QFormLayout* form : {others, series}) {
        form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

    // Left column: Selection, Crossover, Time Series; right column: Fitness
    // Scaling, Others; OK and Cancel at the right edge.
    auto* left = new QVBoxLayout;
    left->addWidget(selection_box);
    left->addWidget(crossover_box);
    left->addWidget(series_box);
    left->addStretch();

    auto* right = new QVBoxLayout;
    right->addWidget(scaling_box);
    right->addWidget(others_box);
    right->addStretch();

    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    // Choosing a file fills the sizes from it; sizes the user typed stay.
    connect(edit(c::kNoss), &QLineEdit::textEdited, this, [this] { n_oss_typed_ = true; });
    connect(edit(c::kNcomp), &QLineEdit::textEdited, this, [this] { n_comp_typed_ = true; });
    connect(edit(c::kCourseFile), &QLineEdit::editingFinished, this,
            &ParGenAlgDlg::describe_course_file);
    connect(buttons, &QDialogButtonBox::accepted, this, &ParGenAlgDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ParGenAlgDlg::reject);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addSpacing(12);
    layout->addLayout(right, 1);
    layout->addSpacing(12);
    layout->addWidget(buttons, 0, Qt::AlignTop);

    set_fields(fields_from_values(values_));
}

ParameterFields ParGenAlgDlg::fields() const {
    namespace c = control;
    ParameterFields f;
    f.selection = checked_index(selection_);
    f.tourneysize = text_of(edit(c::kTourneySize));
    f.crossover = checked_index(crossover_);
    f.scaling = checked_index(scaling_);
    f.scalemult = text_of(edit(c::kScaleMult));
    f.beta = text_of(edit(c::kBeta));
    f.sigma_trunc = text_of(edit(c::kSigmaTrunc));
    f.scaling_window = text_of(edit(c::kScalingWindow));
    f.crowding = text_of(edit(c::kCrowding));
    f.incest_reduction = text_of(edit(c::kIncestReduction));
    f.maxgen = text_of(edit(c::kMaxgen));
    f.pcross = text_of(edit(c::kPcross));
    f.pmutation = text_of(edit(c::kPmutation));
    f.popsize = text_of(edit(c::kPopsize));
    f.n_oss = text_of(edit(c::kNoss));
    f.n_comp = text_of(edit(c::kNcomp));
    f.min_oss_reg = text_of(edit(c::kMinOssReg));
    f.course_file = text_of(edit(c::kCourseFile));
    f.max_order = text_of(edit(c::kMaxOrder));
    return f;
}

void ParGenAlgDlg::set_fields(const ParameterFields& f) {
    namespace c = control;
    const auto put = [this](int id, const std::string& text) {
        edit(id)->setText(QString::fromStdString(text));
    };
    check_index(selection_, f.selection);
    put(c::kTourneySize, f.tourneysize);
    check_index(crossover_, f.crossover);
    check_index(scaling_, f.scaling);
    put(c::kScaleMult, f.scalemult);
    put(c::kBeta, f.beta);
    put(c::kSigmaTrunc, f.sigma_trunc);
    put(c::kScalingWindow, f.scaling_window);
    put(c::kCrowding, f.crowding);
    put(c::kIncestReduction, f.incest_reduction);
    put(c::kMaxgen, f.maxgen);
    put(c::kPcross, f.pcross);
    put(c::kPmutation, f.pmutation);
    put(c::kPopsize, f.popsize);
    put(c::kNoss, f.n_oss);
    put(c::kNcomp, f.n_comp);
    put(c::kMinOssReg, f.min_oss_reg);
    put(c::kCourseFile, f.course_file);
    put(c::kMaxOrder, f.max_order);
}

void ParGenAlgDlg::browse_course_file() {
    QLineEdit* course = edit(control::kCourseFile);
    // A name without a directory is read from the current directory, so the
    // chooser starts there, or where the named file lies.
    const QFileInfo current(course->text().trimmed());
    QFileDialog dialog(this, tr("Course file"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({tr("Text files (*.txt *.dat *.csv)"), tr("All files (*)")});
    dialog.setDirectory(current.absoluteDir().exists() ? current.absolutePath()
                                                       : QDir::currentPath());
    if (current.exists()) {
        dialog.selectFile(current.absoluteFilePath());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    // A file of the current directory keeps the short name the run log shows.
    const QString chosen = dialog.selectedFiles().constFirst();
    const QString relative = QDir::current().relativeFilePath(chosen);
    course->setText(relative.contains(QLatin1Char('/')) ? QDir::toNativeSeparators(chosen)
                                                        : relative);
}

void ParGenAlgDlg::accept() {
    const ExchangeResult result = exchange_from_fields(fields());
    if (const auto* failure = std::get_if<ExchangeFailure>(&result)) {
        QMessageBox::warning(this, QStringLiteral("Velmora"),
                             QString::fromStdString(failure->message));
        QWidget* bad = control(failure->control_id);
        bad->setFocus(Qt::OtherFocusReason);
        if (auto* line = qobject_cast<QLineEdit*>(bad)) {
            line->selectAll();
        }
        return;
    }
    values_ = std::get<ParameterValues>(result);
    QDialog::accept();
}

void ParGenAlgDlg::describe_course_file() {
    namespace c = control;
    const QString file = edit(c::kCourseFile)->text();
    if (file == described_ || file.isEmpty()) {
        return;
    }
    described_ = file;
    if (n_oss_typed_ && n_comp_typed_) {
        return;
    }
    data::TableRequest request;
    request.path = std::filesystem::path(file.toStdString());
    // A pipe or a device would hold the window until it is written to or
    // without end: only a regular file is read here; the run reads the
    // others on its own thread.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(request.path, ec)) {
        return;
    }
    // A stream of numbers can be cut into rows only with a width.
    bool width_ok = false;
    const int width = edit(c::kNcomp)->text().trimmed().toInt(&width_ok);
    if (n_comp_typed_ && width_ok && width >= 1) {
        request.width = width;
    }
    try {
        const data::Table table = data::read_table(request);
        if (!n_oss_typed_) {
            edit(c::kNoss)->setText(QString::number(table.rows));
        }
        if (!n_comp_typed_) {
            edit(c::kNcomp)->setText(QString::number(table.columns));
        }
    } catch (const ConfigError&) {
        // The run refuses such a file with its message when OK is pressed.
    }
}

}  // namespace velmora::gui
