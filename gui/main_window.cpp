#include "main_window.hpp"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

#include <malloc.h>

#include <filesystem>
#include <initializer_list>
#include <system_error>

#include "about_box.hpp"
#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "app/validate.hpp"
#include "best_model_tab.hpp"
#include "chart_view.hpp"
#include "column_picker.hpp"
#include "forecast_tab.hpp"
#include "girf_tab.hpp"
#include "icon.hpp"
#include "options/option_table.hpp"
#include "output/run_summary.hpp"
#include "parameter_dialog.hpp"
#include "regimes_tab.hpp"
#include "search_tab.hpp"
#include "support/errors.hpp"

namespace velmora::gui {

namespace {

// Enough for the layout and seed lines and the messages of many runs; the
// oldest lines go first.
constexpr int kMessageLines = 20000;

// The Search chart is redrawn at most every kChartRefreshMs while a run goes
// on, and less often when drawing takes long: the interval is kept at least
// kDrawShare times the last drawing's duration, so drawing takes at most
// about 1/kDrawShare of the time from the search.
constexpr int kChartRefreshMs = 200;
constexpr int kDrawShare = 50;
// The generation display is rewritten at most this often.
constexpr int kLabelRefreshMs = 100;
// How often a stopped run that still reads its course file is released.
constexpr int kReleaseMs = 100;

QLabel* make_display(QWidget* parent, const char* name) {
    auto* display = new QLabel(parent);
    display->setObjectName(QString::fromLatin1(name));
    display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    display->setMinimumSize(80, 30);
    display->setAlignment(Qt::AlignCenter);
    return display;
}

// A spin box whose 0 means "not asked", shown as "off".
QSpinBox* make_count(QWidget* parent, const char* name, int maximum, const QString& tip) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(0, maximum);
    spin->setSpecialValueText(QObject::tr("off"));
    spin->setToolTip(tip);
    return spin;
}

// A caption for a control, placed before it in a row.
void add_labelled(QHBoxLayout* row, QWidget* control, const QString& caption) {
    auto* label = new QLabel(caption, control->parentWidget());
    label->setBuddy(control);
    row->addWidget(label);
    row->addWidget(control);
}

QLabel* make_caption(QWidget* parent, const char* text) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setWordWrap(true);
    label->setMaximumWidth(90);
    return label;
}

}  // namespace

VelmoraDlg::VelmoraDlg(RunFunction run_function, SeedingCounter& seedings, QWidget* parent)
    : QDialog(parent), runner_(std::move(run_function), seedings) {
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(program_icon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("okButton"));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Annulla"), this);
    cancel_->setObjectName(QStringLiteral("cancelButton"));
    cancel_->setAutoDefault(false);
    stop_ = new QPushButton(tr("Stop"), this);
    stop_->setObjectName(QStringLiteral("stopButton"));
    stop_->setAutoDefault(false);
    stop_->setToolTip(tr("Stop the run before its next generation"));
    parameter_ = new QPushButton(QStringLiteral("Parameter"), this);
    parameter_->setObjectName(QStringLiteral("parameterButton"));
    parameter_->setAutoDefault(false);
    columns_ = new QPushButton(tr("Columns…"), this);
    columns_->setObjectName(QStringLiteral("columnsButton"));
    columns_->setAutoDefault(false);
    columns_->setToolTip(tr("Choose the columns of the course file that the model is fitted to"));
    columns_label_ = new QLabel(this);
    columns_label_->setObjectName(QStringLiteral("columnsLabel"));

    generation_ = make_display(this, "generationDisplay");
    replication_ = make_display(this, "replicationDisplay");

    threads_ = new QSpinBox(this);
    threads_->setObjectName(QStringLiteral("threadsSpin"));
    const int cores = std::max(1, QThread::idealThreadCount());
    threads_->setRange(1, std::min(kMaxThreads, std::max(64, cores)));
    threads_->setValue(cores);
    threads_->setToolTip(tr("Threads that evaluate the individuals of a generation"));
    auto* threads_label = new QLabel(tr("Threads"), this);
    threads_label->setBuddy(threads_);

    replications_ = new QSpinBox(this);
    replications_->setObjectName(QStringLiteral("replicationsSpin"));
    replications_->setRange(1, 1000);
    replications_->setValue(1);
    replications_->setToolTip(
        tr("Complete searches, each with its own seed; the best of their best models is kept"));
    auto* replications_label = new QLabel(tr("Replications"), this);
    replications_label->setBuddy(replications_);

    refine_ = new QCheckBox(tr("Refine"), this);
    refine_->setObjectName(QStringLiteral("refineCheck"));
    refine_->setChecked(true);
    refine_->setToolTip(
        tr("Refine the best model's thresholds and structure after the search; its report "
           "goes to the folder refined"));

    include_ = new QComboBox(this);
    include_->setObjectName(QStringLiteral("includeCombo"));
    for (Include i : kIncludeChoices) {
        include_->addItem(QString::fromLatin1(include_name(i)), static_cast<int>(i));
    }
    include_->setToolTip(
        tr("Deterministic terms of every regime's equations: none, a constant, a linear trend "
           "in the row number, or both"));

    criterion_ = new QComboBox(this);
    criterion_->setObjectName(QStringLiteral("criterionCombo"));
    for (Criterion c : kCriterionChoices) {
        criterion_->addItem(QString::fromLatin1(criterion_name(c)), static_cast<int>(c));
    }
    criterion_->setToolTip(
        tr("Criterion the search minimises: classic (the program's own, each structure on its "
           "own rows), or aic, bic, hq (every structure on the same rows)"));
    select_order_ = new QCheckBox(label_of(options::select_order), this);
    select_order_->setObjectName(QStringLiteral("selectOrderCheck"));
    select_order_->setToolTip(
        tr("The refinement chooses each regime's order, 1 to Max Order VAR, by the criterion "
           "(aic, bic or hq, with Refine)"));
    connect(criterion_, &QComboBox::currentIndexChanged, this, &VelmoraDlg::enable_order_selection);
    connect(refine_, &QCheckBox::toggled, this, &VelmoraDlg::enable_order_selection);
    enable_order_selection();

    // Beyond the search: the inference of the reported models and their
    // forecasts, all computed on the run's thread from the run's seed.
    linearity_ = make_count(this, "linearitySpin", 100000,
                            tr("Bootstrap series for the test of the threshold models against the "
                               "linear VAR (off: no test)"));
    test_regimes_ = make_count(this, "testRegimesSpin", 100000,
                               tr("Bootstrap series for each test of 1 vs 2, 2 vs 3 and 3 vs 4 "
                                  "regimes on the reported model's threshold variable (off: no "
                                  "tests)"));
    confidence_ = new QDoubleSpinBox(this);
    confidence_->setObjectName(QStringLiteral("confidenceSpin"));
    confidence_->setDecimals(3);
    confidence_->setRange(0.5, 0.999);
    confidence_->setSingleStep(0.01);
    confidence_->setValue(0.95);
    confidence_->setToolTip(tr("Level of the confidence set of each threshold"));
    forecast_ = make_count(this, "forecastSpin", 1000,
                           tr("Steps forecast after the last row, with bands from simulated "
                              "paths (off: no forecast)"));
    paths_ = new QSpinBox(this);
    paths_->setObjectName(QStringLiteral("pathsSpin"));
    paths_->setRange(1, 1000000);
    paths_->setValue(2000);
    paths_->setToolTip(tr("Simulated paths of the forecasts and of the hold-out check"));
    girf_ = make_count(this, "girfSpin", 1000,
                       tr("Largest horizon of the impulse responses by regime (off: none)"));
    holdout_ = make_count(this, "holdoutSpin", max_n_oss,
                          tr("Rows held out of the search and forecast from rolling origins, "
                             "against the linear VAR (off: no check)"));

    messages_ = new QPlainTextEdit(this);
    messages_->setObjectName(QStringLiteral("messageArea"));
    messages_->setReadOnly(true);
    messages_->setMaximumBlockCount(kMessageLines);
    messages_->setLineWrapMode(QPlainTextEdit::NoWrap);
    messages_->setPlaceholderText(tr("Messages of the run"));
    messages_->setMinimumHeight(110);

    // The run's files go to the output folder; the current folder unless the
    // user picks another.
    output_folder_ = new QLineEdit(this);
    output_folder_->setObjectName(QStringLiteral("outputFolderEdit"));
    output_folder_->setText(QDir::currentPath());
    output_folder_->setToolTip(tr("Folder that receives Output.txt and the result files"));
    output_browse_ = new QPushButton(tr("Browse…"), this);
    output_browse_->setObjectName(QStringLiteral("outputFolderButton"));
    output_browse_->setAutoDefault(false);
    auto* output_label = new QLabel(tr("Output folder"), this);
    output_label->setBuddy(output_folder_);
    auto* output_row = new QHBoxLayout;
    output_row->addWidget(output_label);
    output_row->addWidget(output_folder_, 1);
    output_row->addWidget(output_browse_);

    results_ = new QTabWidget(this);
    results_->setObjectName(QStringLiteral("resultsTabs"));
    results_->addTab(messages_, tr("Messages"));

    auto* left = new QVBoxLayout;
    left->addWidget(parameter_);
    auto* columns_row = new QHBoxLayout;
    columns_row->addWidget(columns_);
    columns_row->addWidget(columns_label_, 1);
    left->addLayout(columns_row);
    left->addSpacing(16);
    auto* threads_row = new QHBoxLayout;
    threads_row->addWidget(threads_label);
    threads_row->addWidget(threads_);
    threads_row->addStretch();
    left->addLayout(threads_row);
    auto* search_row = new QHBoxLayout;
    search_row->addWidget(replications_label);
    search_row->addWidget(replications_);
    search_row->addWidget(refine_);
    add_labelled(search_row, include_, tr("Terms"));
    add_labelled(search_row, criterion_, label_of(options::criterion));
    search_row->addWidget(select_order_);
    search_row->addStretch();
    left->addLayout(search_row);
    auto* inference_row = new QHBoxLayout;
    add_labelled(inference_row, linearity_, tr("Linearity test B"));
    add_labelled(inference_row, test_regimes_, tr("Test regimes B"));
    add_labelled(inference_row, confidence_, tr("Confidence"));
    inference_row->addStretch();
    left->addLayout(inference_row);
    auto* forecast_row = new QHBoxLayout;
    add_labelled(forecast_row, forecast_, tr("Forecast"));
    add_labelled(forecast_row, paths_, tr("Paths"));
    add_labelled(forecast_row, girf_, tr("GIRF"));
    add_labelled(forecast_row, holdout_, tr("Hold-out"));
    forecast_row->addStretch();
    left->addLayout(forecast_row);
    left->addStretch();

    auto* displays = new QGridLayout;
    displays->addWidget(make_caption(this, "Number of Generation"), 0, 0);
    displays->addWidget(generation_, 0, 1);
    displays->setRowMinimumHeight(1, 16);
    displays->addWidget(make_caption(this, "Number of replication"), 2, 0);
    displays->addWidget(replication_, 2, 1);
    displays->setRowStretch(3, 1);

    auto* right = new QVBoxLayout;
    right->addWidget(ok_);
    right->addWidget(cancel_);
    right->addSpacing(12);
    right->addWidget(stop_);
    right->addStretch();

    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addStretch(1);
    top->addLayout(displays);
    top->addStretch(1);
    top->addLayout(right);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(output_row);
    layout->addWidget(results_, 1);
    setSizeGripEnabled(true);
    resize(900, 680);

    add_results_tab(new SearchTab(this));
    add_results_tab(new BestModelTab(this));
    add_results_tab(new RegimesTab(this));
    add_results_tab(new ForecastTab(this));
    add_results_tab(new GirfTab(this));

    // Linux has no system menu to extend: the About entry lives in the
    // window's context menu, with F1 as its shortcut.
    auto* about = new QAction(QStringLiteral("Infor&mazioni su Velmora..."), this);
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setShortcut(QKeySequence(Qt::Key_F1));
    about->setShortcutContext(Qt::WindowShortcut);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(about, &QAction::triggered, this, &VelmoraDlg::show_about);

    connect(ok_, &QPushButton::clicked, this, &VelmoraDlg::start_run);
    connect(cancel_, &QPushButton::clicked, this, &VelmoraDlg::reject);
    connect(stop_, &QPushButton::clicked, this, &VelmoraDlg::stop_run);
    connect(parameter_, &QPushButton::clicked, this, &VelmoraDlg::open_parameters);
    connect(columns_, &QPushButton::clicked, this, &VelmoraDlg::choose_columns);
    connect(output_browse_, &QPushButton::clicked, this, &VelmoraDlg::choose_output_folder);

    connect(&runner_, &RunThread::generation_started, this, &VelmoraDlg::show_generation);
    connect(&runner_, &RunThread::replication_started, this, &VelmoraDlg::show_replication);
    connect(runner_.console(), &SignalConsole::written, this, &VelmoraDlg::append_message);
    connect(&runner_, &QThread::finished, this, &VelmoraDlg::run_finished);
    connect(&runner_, &RunThread::run_began, this, &VelmoraDlg::begin_pages);
    connect(runner_.progress(), &ProgressQueue::ready, this, &VelmoraDlg::progress_ready);
    refresh_timer_.setSingleShot(true);
    connect(&refresh_timer_, &QTimer::timeout, this, &VelmoraDlg::draw_progress);
    since_draw_.start();
    refresh_ms_ = kChartRefreshMs;
    label_timer_.setSingleShot(true);
    connect(&label_timer_, &QTimer::timeout, this, &VelmoraDlg::show_latest_generation);
    since_label_.start();
    release_timer_.setInterval(kReleaseMs);
    connect(&release_timer_, &QTimer::timeout, this, [this] {
        if (runner_.reading()) {
            runner_.release_reading();
        } else {
            release_timer_.stop();
        }
    });

    set_running(false);
    show_columns();
}

VelmoraDlg::~VelmoraDlg() {
    // The runner must not deliver anything to a half-destroyed window.
    runner_.disconnect(this);
    runner_.console()->disconnect(this);
    runner_.progress()->disconnect(this);
}

QString VelmoraDlg::output_folder() const {
    const QString folder = output_folder_->text().trimmed();
    return folder.isEmpty() ? QDir::currentPath() : folder;
}

void VelmoraDlg::set_output_folder(const QString& folder) {
    output_folder_->setText(folder);
}

void VelmoraDlg::add_results_tab(ResultsTab* tab) {
    tab->setParent(results_);
    results_->addTab(tab, tab->title());
    tabs_.push_back(tab);
}

void VelmoraDlg::choose_output_folder() {
    QFileDialog dialog(this, tr("Output folder"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(output_folder());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        output_folder_->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
    }
}

void VelmoraDlg::progress_ready() {
    if (refresh_timer_.isActive()) {
        return;
    }
    const qint64 waited = since_draw_.elapsed();
    refresh_timer_.start(waited >= refresh_ms_ ? 0 : static_cast<int>(refresh_ms_ - waited));
}

void VelmoraDlg::draw_progress() {
    refresh_timer_.stop();
    const std::vector<RunProgress> bred = runner_.progress()->take();
    since_draw_.restart();
    if (bred.empty()) {
        return;
    }
    auto* search = results_tab<SearchTab>();
    if (search == nullptr) {
        return;
    }
    QElapsedTimer drawing;
    drawing.start();
    search->add_generations(bred);
    if (search->isVisible()) {
        // Painted now, so that the next interval can follow its cost.
        search->chart_view()->viewport()->repaint();
    }
    refresh_ms_ = std::max<int>(kChartRefreshMs, kDrawShare * drawing.elapsed());
}

AnalysisChoices VelmoraDlg::analysis_choices() const {
    AnalysisChoices choices;
    choices.test_linearity = linearity_->value();
    choices.test_regimes = test_regimes_->value();
    choices.confidence = confidence_->value();
    choices.request.forecast = forecast_->value();
    choices.request.paths = paths_->value();
    choices.request.girf = girf_->value();
    choices.request.holdout = holdout_->value();
    return choices;
}

void VelmoraDlg::set_analysis_choices(const AnalysisChoices& choices) {
    linearity_->setValue(choices.test_linearity);
    test_regimes_->setValue(choices.test_regimes);
    confidence_->setValue(choices.confidence);
    forecast_->setValue(choices.request.forecast);
    paths_->setValue(choices.request.paths);
    girf_->setValue(choices.request.girf);
    holdout_->setValue(choices.request.holdout);
}

bool VelmoraDlg::run_under_way() const {
    return runner_.isRunning() || !ok_->isEnabled();
}

void VelmoraDlg::set_running(bool running) {
    ok_->setEnabled(!running);
    parameter_->setEnabled(!running);
    columns_->setEnabled(!running);
    threads_->setEnabled(!running);
    replications_->setEnabled(!running);
    refine_->setEnabled(!running);
    include_->setEnabled(!running);
    criterion_->setEnabled(!running);
    select_order_->setEnabled(!running && orders_selectable());
    for (QWidget* control : std::initializer_list<QWidget*>{linearity_, test_regimes_, confidence_,
                                                            forecast_, paths_, girf_, holdout_}) {
        control->setEnabled(!running);
    }
    output_folder_->setEnabled(!running);
    output_browse_->setEnabled(!running);
    stop_->setEnabled(running);
}

bool VelmoraDlg::orders_selectable() const {
    return refine_->isChecked() &&
           static_cast<Criterion>(criterion_->currentData().toInt()) != Criterion::classic;
}

void VelmoraDlg::enable_order_selection() {
    select_order_->setEnabled(refine_->isEnabled() && orders_selectable());
}

void VelmoraDlg::open_parameters() {
    if (run_under_way()) {
        return;
    }
    ParGenAlgDlg dialog(parameters_, this);
    if (dialog.exec() == QDialog::Accepted) {
        const RunConfig before = parameters_.config;
        parameters_ = dialog.values();
        // The columns picked stay while they still fit the file and its
        // component count.
        RunConfig& now = parameters_.config;
        if (now.course_file == before.course_file && now.n_comp == before.n_comp) {
            now.columns = before.columns;
            now.threshold_columns = before.threshold_columns;
        }
        show_columns();
    }
}

void VelmoraDlg::choose_columns() {
    if (run_under_way()) {
        return;
    }
    RunConfig& config = parameters_.config;
    ColumnChoice current;
    current.modelled = config.columns;
    current.threshold = config.threshold_columns;
    ColumnPicker picker(QString::fromStdString(config.course_file), current, this);
    if (!picker.problem().isEmpty()) {
        show_error(picker.problem());
        return;
    }
    if (picker.exec() != QDialog::Accepted) {
        return;
    }
    const ColumnChoice chosen = picker.choice();
    config.columns = chosen.modelled;
    config.threshold_columns = chosen.threshold;
    config.n_comp = chosen.modelled.empty() ? picker.modelled_list()->count()
                                            : static_cast<int>(chosen.modelled.size());
    show_columns();
}

void VelmoraDlg::show_columns() {
    ColumnChoice choice;
    choice.modelled = parameters_.config.columns;
    choice.threshold = parameters_.config.threshold_columns;
    columns_label_->setText(describe_columns(choice));
}

void VelmoraDlg::start_run() {
    if (run_under_way()) {
        return;
    }
    // A configuration the run would refuse is refused here, before any file
    // is touched; the window stays as it was.
    const AnalysisChoices choices = analysis_choices();
    // The terms belong to the model the run fits: part of its configuration.
    parameters_.config.model.include = static_cast<Include>(include_->currentData().toInt());
    parameters_.config.model.criterion = static_cast<Criterion>(criterion_->currentData().toInt());
    parameters_.config.select_orders = select_order_->isChecked() && orders_selectable();
    Validation validation;
    try {
        validation = validate(searched_config(parameters_.config, choices));
        validation.enforce(CheckPoint::configuration);
    } catch (const ConfigError& e) {
        show_error(QString::fromStdString(e.what()));
        return;
    }
    // The run's files go to the output folder (created when missing); a
    // course file named without a directory is read from the directory the
    // program was started in.
    const QString folder = output_folder();
    if (!QDir().mkpath(folder)) {
        show_error(tr("Output folder %1 could not be created").arg(folder));
        return;
    }
    std::error_code ec;
    std::filesystem::path workdir = std::filesystem::absolute(folder.toStdString(), ec);
    if (ec) {
        workdir = folder.toStdString();
    }
    runner_.progress()->take();  // nothing of an earlier run may reach the new chart
    // The pages keep the previous results until the course file has been
    // read and the search begins (begin_pages).
    pending_config_ = parameters_.config;
    pages_begun_ = false;
    set_running(true);
    // A single replication leaves the replication display empty, as it
    // always was; with several it shows the one under way.
    replication_->clear();
    runner_.set_search(replications_->value(), refine_->isChecked());
    runner_.set_analyses(choices);
    const RunConfig& c = parameters_.config;
    append_message(tr("Run started: %1 generations of %2 structures on %3 (%4 rows, %5 "
                      "components, order %6); files in %7.\n")
                       .arg(c.maxgen)
                       .arg(c.popsize)
                       .arg(QString::fromStdString(c.course_file))
                       .arg(c.n_oss)
                       .arg(c.n_comp)
                       .arg(c.model.max_order)
                       .arg(QString::fromStdString(workdir.string())),
                   false);
    if (!runner_.start_run(parameters_.config, threads_->value(), workdir, std::move(validation))) {
        set_running(false);
    }
}

void VelmoraDlg::stop_run() {
    if (!runner_.isRunning()) {
        return;
    }
    runner_.request_stop();
    stop_->setEnabled(false);
    if (runner_.reading()) {
        release_timer_.start();
    }
}

void VelmoraDlg::begin_pages() {
    if (pages_begun_) {
        return;
    }
    pages_begun_ = true;
    for (ResultsTab* tab : tabs_) {
        tab->run_started(pending_config_);
    }
}

void VelmoraDlg::show_generation(int generation) {
    const qint64 waited = since_label_.elapsed();
    if (waited < kLabelRefreshMs) {
        // Shown a moment ago: the latest generation follows when the interval
        // is over; the run announces no other one meanwhile.
        if (!label_timer_.isActive()) {
            label_timer_.start(static_cast<int>(kLabelRefreshMs - waited));
        }
        return;
    }
    // A fast search may be several generations further on by now.
    const int latest = runner_.latest_generation();
    generation_->setText(QString::number(latest >= 0 ? latest : generation));
    since_label_.restart();
    runner_.generation_shown();
}

void VelmoraDlg::show_latest_generation() {
    const int latest = runner_.latest_generation();
    if (latest >= 0) {
        generation_->setText(QString::number(latest));
    }
    since_label_.restart();
    runner_.generation_shown();
}

void VelmoraDlg::show_replication(int replication) {
    if (replications_->value() > 1) {
        replication_->setText(QString::number(replication));
    }
}

void VelmoraDlg::append_message(const QString& text, bool error) {
    // The core writes pieces that need not end a line; keep them as written.
    // What went to standard error is shown in red.
    QScrollBar* bar = messages_->verticalScrollBar();
    const bool at_end = bar->value() == bar->maximum();
    QTextCharFormat format;
    if (error) {
        format.setForeground(QColor(0xb0, 0x00, 0x20));
    }
    QTextCursor cursor(messages_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text, format);
    if (at_end) {
        bar->setValue(bar->maximum());
    }
}

void VelmoraDlg::run_finished() {
    // Handed over and dropped at the end of this function: the window keeps
    // only what its pages show.
    const RunOutcome outcome = runner_.take_outcome();
    set_running(false);
    release_timer_.stop();
    if (quit_after_run_) {
        QDialog::reject();
        return;
    }
    label_timer_.stop();
    refresh_ms_ = kChartRefreshMs;
    if (outcome.began) {
        // A run that ends without breeding a generation (maxgen 0) never
        // announced its start.
        begin_pages();
        draw_progress();
        if (runner_.latest_generation() >= 0) {
            generation_->setText(QString::number(runner_.latest_generation()));
        }
        for (ResultsTab* tab : tabs_) {
            tab->run_finished(outcome);
        }
    } else {
        runner_.progress()->take();
    }
    switch (outcome.status) {
        case RunOutcome::Status::completed:
            // What the command line prints at the end of a run: the models,
            // the evaluations, the files and the seed to replay it.
            append_message(QString::fromStdString(format_run_summary(outcome.result)), false);
            break;
        case RunOutcome::Status::stopped:
            append_message(stop_message(outcome), false);
            break;
        case RunOutcome::Status::failed:
            show_error(outcome.message);
            break;
    }
    // The command line fails with status 3 for these; here they must not
    // pass for a success either.
    const std::vector<FileFailure>& failed = outcome.result.files_failed;
    if (!failed.empty()) {
        QString text = failed.size() == 1
                           ? tr("A file of the run could not be written:")
                           : tr("%1 files of the run could not be written:").arg(failed.size());
        for (const FileFailure& f : failed) {
            text += QStringLiteral("\n") + tr("%1 could not be written: %2")
                                               .arg(QString::fromStdString(f.path.string()),
                                                    QString::fromStdString(f.reason));
        }
        show_error(text);
    }
    // A run of many replications frees hundreds of megabytes on its worker
    // thread; once the outcome above is gone, give them back to the system
    // instead of keeping them in the allocator's free lists.
    QTimer::singleShot(0, this, [] { malloc_trim(0); });
}

QString VelmoraDlg::stop_message(const RunOutcome& outcome) {
    const RunResult& r = outcome.result;
    if (!outcome.began) {
        return tr("Run stopped before its search began: no file was written.\n");
    }
    if (r.refinement_stopped) {
        return tr("Refinement stopped after the search's %1: Output.txt holds the search's "
                  "log and the result files its best-model report; no refined model was "
                  "reported.\n")
            .arg(outcome.generations == 1 ? tr("1 generation")
                                          : tr("%1 generations").arg(outcome.generations));
    }
    int reported = 0;
    for (const ReplicationResult& rep : r.replications) {
        reported += rep.reported ? 1 : 0;
    }
    const int replications = static_cast<int>(r.replications.size());
    if (replications <= 1 || reported == 0) {
        return tr("Run stopped before generation %1: Output.txt holds the header, layout and "
                  "seed lines; no best-model report was written.\n")
            .arg(outcome.generations);
    }
    return tr("Run stopped: %1 of %2 replications had ended and appended their best-model "
              "reports; the others stopped before generation %3 at the latest.\n")
        .arg(reported)
        .arg(replications)
        .arg(outcome.generations);
}

void VelmoraDlg::show_error(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

void VelmoraDlg::reject() {
    if (quit_after_run_) {
        return;  // already waiting for the run to stop
    }
    if (!run_under_way()) {
        QDialog::reject();
        return;
    }
    const auto answer = QMessageBox::question(this, QStringLiteral("Velmora"),
                                              tr("A run is under way. Stop it and quit Velmora?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        return;
    }
    quit_after_run_ = true;
    stop_run();
    cancel_->setEnabled(false);
    // The run may have ended while the question was open.
    if (!runner_.isRunning()) {
        QDialog::reject();
    }
}

void VelmoraDlg::show_about() {
    AboutBox about(this);
    about.exec();
}

}  // namespace velmora::gui
