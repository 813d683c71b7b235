#include "best_model_tab.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "app/reported_inference.hpp"
#include "app/threshold_app.hpp"
#include "output/run_summary.hpp"
#include "support/format.hpp"

namespace velmora::gui {

namespace {

QString escaped(const std::string& text) {
    return QString::fromStdString(text).toHtmlEscaped();
}

QString number(const char* format, double value) {
    return QString::fromStdString(strprintf(format, value));
}

QString full_path(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return QString::fromStdString((ec ? path : absolute.lexically_normal()).string())
        .toHtmlEscaped();
}

QString cell(const QString& text) {
    return QStringLiteral("<td align=\"right\">%1</td>").arg(text);
}

QString row(const QString& head, const QString& value) {
    return QStringLiteral("<tr><th align=\"left\">%1</th>%2</tr>").arg(head, cell(value));
}

QString percent(double level) {
    return QString::fromStdString(strprintf("%g %%", 100.0 * level));
}

QTableWidgetItem* text_item(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QTableWidgetItem* number_item(const char* format, double value) {
    auto* item = text_item(number(format, value));
    item->setData(Qt::UserRole, value);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

}  // namespace

QString inference_html(const inference::ModelInference& inf,
                       const std::vector<std::string>& names) {
    QString html = QStringLiteral("<h4>%1</h4>").arg(QObject::tr("Beside the linear VAR"));
    if (inf.linear.status != EstimateStatus::estimated) {
        html += QObject::tr("<p>The linear VAR of order %1 could not be estimated (%2).</p>")
                    .arg(inf.order)
                    .arg(escaped(status_name(inf.linear.status)));
    } else {
        const double difference = inf.criterion - inf.linear.criterion;
        html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">");
        html += row(QObject::tr("Criterion of the threshold model"), number("%.6f", inf.criterion));
        html += row(QObject::tr("Criterion of the linear VAR of order %1").arg(inf.order),
                    number("%.6f", inf.linear.criterion));
        html += row(QObject::tr("Difference (threshold model − linear VAR)"),
                    number("%.6f", difference));
        html += QStringLiteral("</table>");
        html += inf.linear_as_good()
                    ? QObject::tr(
                          "<p><b>The linear VAR is as good as or better than this "
                          "threshold model: its criterion is not higher.</b></p>")
                    : QObject::tr(
                          "<p>The threshold model's criterion is %1 below the linear "
                          "VAR's.</p>")
                          .arg(number("%.6f", -difference));
    }
    if (inf.linearity && inf.linearity->stopped) {
        html += QObject::tr(
                    "<p>Linearity test: LR = %1; the bootstrap was stopped after %2 "
                    "series, so its p-value is not known.</p>")
                    .arg(number("%.4f", inf.linearity->lr))
                    .arg(inf.linearity->replicates + inf.linearity->failed);
    } else if (inf.linearity) {
        const inference::LinearityTest& t = *inf.linearity;
        html += QObject::tr(
            "<p>Linearity test (likelihood ratio against the linear VAR, "
            "p-value from residual-bootstrap series of the linear VAR):</p>");
        html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">");
        html += row(QObject::tr("LR"), number("%.4f", t.lr));
        html += row(QObject::tr("Bootstrap p-value"), number("%.4f", t.p_value));
        html += row(QObject::tr("Bootstrap series (B)"), QString::number(t.replicates));
        if (t.failed > 0) {
            html += row(QObject::tr("Series that could not be fitted"), QString::number(t.failed));
        }
        html += row(QObject::tr("Times compared (T)"), QString::number(t.observations));
        html += QStringLiteral("</table>");
    }
    if (inf.regime_tests) {
        const inference::RegimeTests& r = *inf.regime_tests;
        html += QObject::tr(
                    "<p>Tests of the number of regimes on %1 at lag %2 (likelihood ratio of n "
                    "against n + 1 regimes, p-value from residual-bootstrap series of the "
                    "n-regime model; level %3):</p>")
                    .arg(escaped(inference::component_text(r.component, names)))
                    .arg(r.lag)
                    .arg(number("%g", r.level));
        html += QObject::tr(
            "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr><th>Test</th>"
            "<th>LR</th><th>Bootstrap p-value</th><th>Series (B)</th><th>Not fitted</th>"
            "</tr>");
        for (const inference::RegimeTest& t : r.tests) {
            html += QStringLiteral("<tr><td>%1 vs %2</td>")
                        .arg(t.null_regimes)
                        .arg(t.alternative_regimes) +
                    cell(number("%.4f", t.lr)) + cell(number("%.4f", t.p_value)) +
                    cell(QString::number(t.replicates)) + cell(QString::number(t.failed)) +
                    QStringLiteral("</tr>");
        }
        html += QStringLiteral("</table>");
        html += r.stopped ? QObject::tr(
                                "<p>The tests were stopped: no number of regimes is "
                                "selected.</p>")
                          : QObject::tr("<p>Selected: %1 regime(s); the model has %2.</p>")
                                .arg(r.selected_regimes)
                                .arg(inf.model_regimes);
    }
    if (inf.confidence && !inf.confidence->intervals.empty()) {
        const inference::ThresholdConfidence& c = *inf.confidence;
        html += QObject::tr(
                    "<p>Confidence set of the threshold%1 at level %2: the candidate "
                    "thresholds whose likelihood ratio stays below %3%4.</p>")
                    .arg(c.intervals.size() == 1 ? QString() : QStringLiteral("s"))
                    .arg(percent(c.level))
                    .arg(number("%.4f", c.critical_value))
                    .arg(c.others_held ? QObject::tr(", each with the others held at their "
                                                     "estimates")
                                       : QString());
        html += QObject::tr(
            "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr><th>Threshold</th>"
            "<th>Estimate</th><th>Low</th><th>High</th><th>Candidates inside</th>"
            "<th>Candidates</th></tr>");
        for (std::size_t j = 0; j < c.intervals.size(); ++j) {
            const inference::ThresholdInterval& i = c.intervals[j];
            html += QStringLiteral("<tr><td>%1</td>").arg(j + 1) + cell(number("%f", i.estimate)) +
                    cell(number("%f", i.low)) + cell(number("%f", i.high)) +
                    cell(QString::number(i.inside)) + cell(QString::number(i.candidates)) +
                    QStringLiteral("</tr>");
        }
        html += QStringLiteral("</table>");
    }
    return html;
}

QString diagnostics_html(const diagnostics::ModelDiagnostics& d) {
    const auto figure = [](double value) {
        return std::isfinite(value) ? number("%.4f", value) : QObject::tr("n/a");
    };
    const auto test_row = [&figure](const QString& name, double statistic, int df, double p) {
        return QStringLiteral("<tr><th align=\"left\">%1</th>").arg(name) +
               cell(figure(statistic)) + cell(QString::number(df)) + cell(figure(p)) +
               QStringLiteral("</tr>");
    };
    QString html = QStringLiteral("<h4>%1</h4>").arg(QObject::tr("Residual diagnostics"));
    html += QObject::tr(
                "<p>On the %1 residuals of every regime in time order; normality also "
                "regime by regime.</p>")
                .arg(d.observations);
    html += QObject::tr(
        "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr><th>Test</th>"
        "<th>Statistic</th><th>Degrees of freedom</th><th>p-value</th></tr>");
    const diagnostics::PortmanteauTest& q = d.portmanteau;
    html += test_row(QObject::tr("Portmanteau, %1 lags").arg(q.lags), q.statistic,
                     q.degrees_of_freedom, q.p_value);
    html += test_row(QObject::tr("Adjusted portmanteau, %1 lags").arg(q.lags), q.adjusted_statistic,
                     q.degrees_of_freedom, q.adjusted_p_value);
    const diagnostics::NormalityTest& n = d.normality;
    html += test_row(QObject::tr("Normality (Jarque-Bera)"), n.statistic, n.degrees_of_freedom,
                     n.p_value);
    for (std::size_t r = 0; r < d.normality_by_regime.size(); ++r) {
        const diagnostics::NormalityTest& g = d.normality_by_regime[r];
        html += test_row(QObject::tr("Normality, regime %1").arg(r + 1), g.statistic,
                         g.degrees_of_freedom, g.p_value);
    }
    const diagnostics::ArchTest& a = d.arch;
    html += test_row(QObject::tr("ARCH-LM, %1 lags").arg(a.lags), a.statistic, a.degrees_of_freedom,
                     a.p_value);
    html += QStringLiteral("</table><p>%1</p><ul>")
                .arg(QObject::tr("Moduli of the companion matrix's eigenvalues, largest first:"));
    for (std::size_t r = 0; r < d.companion_moduli.size(); ++r) {
        QStringList moduli;
        for (double value : d.companion_moduli[r]) {
            moduli << figure(value);
        }
        html += QObject::tr("<li>Regime %1: %2%3</li>")
                    .arg(r + 1)
                    .arg(moduli.join(QStringLiteral(", ")))
                    .arg(d.explosive[r] ? QObject::tr(" <b>(explosive)</b>") : QString());
    }
    return html + QStringLiteral("</ul>");
}

QString model_html(const QString& title, const StructureSummary& summary, const SeriesInfo& series,
                   const QString& after_summary) {
    const FittedModel& model = summary.model;
    const ModelStructure& s = summary.structure;
    QString html = QStringLiteral("<h3>%1</h3>").arg(title.toHtmlEscaped());
    // The plain summary lines, as the command line prints them.
    html +=
        QStringLiteral("<pre>%1</pre>").arg(escaped(format_structure_summary(summary, &series)));
    html += after_summary;
    if (!model.estimated()) {
        return html;
    }
    const int k = model.k;
    const int m = model.m;
    html += QStringLiteral(
                "<p>Regime equations at order %1, without intercept: each component "
                "of time t is a combination of every component at lags 1 to %1. "
                "Coefficients are printed as the report prints Phi, covariances as "
                "it prints Sigma.</p>")
                .arg(m);
    const auto name = [&series](int c) { return escaped(series.component(c)); };
    for (int r = 1; r <= model.n_regime; ++r) {
        html +=
            QStringLiteral("<h4>Regime %1: %2 observations</h4>").arg(r).arg(model.observations(r));
        // Rows: variable and lag; columns: the equation of each component.
        html += QStringLiteral(
            "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">"
            "<tr><th>Variable, lag</th>");
        for (int e = 1; e <= k; ++e) {
            html += QStringLiteral("<th>Equation of %1</th>").arg(name(e));
        }
        html += QStringLiteral("</tr>");
        for (int lag = 1; lag <= m; ++lag) {
            for (int v = 1; v <= k; ++v) {
                html += QStringLiteral("<tr><td>%1 at lag %2</td>").arg(name(v)).arg(lag);
                for (int e = 1; e <= k; ++e) {
                    html += QStringLiteral("<td align=\"right\">%1</td>")
                                .arg(number("%.5f", model.coefficient(r, lag, e, v)));
                }
                html += QStringLiteral("</tr>");
            }
        }
        html += QStringLiteral("</table><p>Residual covariance of regime %1:</p>").arg(r);
        html +=
            QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr><th></th>");
        for (int c = 1; c <= k; ++c) {
            html += QStringLiteral("<th>%1</th>").arg(name(c));
        }
        html += QStringLiteral("</tr>");
        for (int i = 1; i <= k; ++i) {
            html += QStringLiteral("<tr><th>%1</th>").arg(name(i));
            for (int j = 1; j <= k; ++j) {
                html += QStringLiteral("<td align=\"right\">%1</td>")
                            .arg(number("%.10f", model.covariance(r, i, j)));
            }
            html += QStringLiteral("</tr>");
        }
        html += QStringLiteral("</table>");
    }
    (void)s;
    return html;
}

BestModelTab::BestModelTab(QWidget* parent) : ResultsTab(parent) {
    setObjectName(QStringLiteral("bestModelTab"));
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("bestModelText"));
    browser_->setOpenLinks(false);
    browser_->setPlaceholderText(tr("The best model appears here when a run has ended."));

    auto* lower = new QWidget(this);
    chooser_ = new QComboBox(lower);
    chooser_->setObjectName(QStringLiteral("coefficientModelChooser"));
    auto* caption = new QLabel(tr("Coefficients at the largest order with standard errors, "
                                  "t-values and two-sided p-values:"),
                               lower);
    caption->setWordWrap(true);
    caption->setBuddy(chooser_);
    table_note_ = new QLabel(lower);
    table_note_->setObjectName(QStringLiteral("coefficientNote"));
    table_note_->setWordWrap(true);
    table_ = new QTableWidget(0, 8, lower);
    table_->setObjectName(QStringLiteral("coefficientTable"));
    table_->setHorizontalHeaderLabels({tr("Regime"), tr("Equation"), tr("Variable"), tr("Lag"),
                                       tr("Coefficient"), tr("Std. error"), tr("t-value"),
                                       tr("p-value")});
    table_->verticalHeader()->setVisible(false);
    table_->setAlternatingRowColors(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* top_row = new QHBoxLayout;
    top_row->addWidget(caption, 1);
    top_row->addWidget(chooser_);
    auto* lower_layout = new QVBoxLayout(lower);
    lower_layout->setContentsMargins(0, 0, 0, 0);
    lower_layout->addLayout(top_row);
    lower_layout->addWidget(table_note_);
    lower_layout->addWidget(table_, 1);

    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->addWidget(browser_);
    splitter_->addWidget(lower);
    splitter_->setStretchFactor(0, 3);
    splitter_->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter_);
    connect(chooser_, &QComboBox::currentIndexChanged, this, &BestModelTab::show_coefficients);
}

void BestModelTab::showEvent(QShowEvent* event) {
    ResultsTab::showEvent(event);
    fit_upper_pane();
}

void BestModelTab::fit_upper_pane() {
    const int total = splitter_->height();
    if (head_html_.isEmpty() || total < 200) {
        return;
    }
    // The height the first model's summary and tests (the linearity test
    // and the confidence sets) take at the pane's width.
    QTextDocument head;
    head.setDefaultFont(browser_->document()->defaultFont());
    head.setDefaultStyleSheet(browser_->document()->defaultStyleSheet());
    head.setDocumentMargin(browser_->document()->documentMargin());
    head.setHtml(head_html_);
    head.setTextWidth(browser_->viewport()->width());
    const int frame = browser_->frameWidth() * 2 + 4;
    // The table keeps its caption and a few rows.
    constexpr int kLeastLower = 150;
    const int wanted = static_cast<int>(std::ceil(head.size().height())) + frame;
    const int upper = std::min(wanted, total - kLeastLower);
    if (upper > splitter_->sizes().value(0)) {
        splitter_->setSizes({upper, total - upper});
    }
}

void BestModelTab::run_started(const RunConfig&) {
    browser_->clear();
    shown_.clear();
    chooser_->clear();
    show_coefficients(-1);
}

void BestModelTab::show_coefficients(int index) {
    table_->setRowCount(0);
    table_note_->clear();
    if (index < 0 || index >= static_cast<int>(shown_.size())) {
        return;
    }
    const inference::ModelInference& inf = shown_[static_cast<std::size_t>(index)];
    const int k = inf.k;
    QStringList notes;
    for (std::size_t r = 0; r < inf.regimes.size(); ++r) {
        const inference::RegimeRegression& g = inf.regimes[r];
        if (!g.estimated) {
            notes << tr("Regime %1: %2 observations, no standard errors (too few observations "
                        "or a singular regression).")
                         .arg(r + 1)
                         .arg(g.observations);
            continue;
        }
        notes << tr("Regime %1: %2 observations, %3 degrees of freedom (residual covariance "
                    "divided by %2 − %4·%5).")
                     .arg(r + 1)
                     .arg(g.observations)
                     .arg(g.degrees_of_freedom)
                     .arg(inf.order)
                     .arg(k);
        for (int e = 1; e <= k; ++e) {
            for (int lag = 1; lag <= inf.order; ++lag) {
                for (int v = 1; v <= k; ++v) {
                    const std::size_t i =
                        static_cast<std::size_t>(((lag - 1) * k + v - 1) * k + e - 1);
                    const int at = table_->rowCount();
                    table_->insertRow(at);
                    table_->setItem(at, regime_column, text_item(QString::number(r + 1)));
                    table_->setItem(at, equation_column,
                                    text_item(QString::fromStdString(series_.component(e))));
                    table_->setItem(at, variable_column,
                                    text_item(QString::fromStdString(series_.component(v))));
                    table_->setItem(at, lag_column, text_item(QString::number(lag)));
                    table_->setItem(at, coefficient_column, number_item("%.6f", g.coefficients[i]));
                    table_->setItem(at, standard_error_column,
                                    number_item("%.6f", g.standard_errors[i]));
                    table_->setItem(at, t_value_column, number_item("%.3f", g.t_values[i]));
                    table_->setItem(at, p_value_column, number_item("%.4f", g.p_values[i]));
                }
            }
        }
    }
    table_note_->setText(notes.join(QLatin1Char('\n')));
    table_->resizeColumnsToContents();
}

void BestModelTab::run_finished(const RunOutcome& outcome) {
    const RunResult& r = outcome.result;
    head_html_.clear();
    if (outcome.status == RunOutcome::Status::failed || r.best_codes.empty()) {
        browser_->clear();
        return;
    }
    QString html;
    if (r.refinement_stopped) {
        html +=
            tr("<p>The refinement was stopped: the search's best model below was reported to "
               "the result files; no refined model.</p>");
    } else if (outcome.status == RunOutcome::Status::stopped) {
        html +=
            tr("<p>The run was stopped: the best structure found so far, no report "
               "files.</p>");
    }
    const ModelAnalyses& analyses = outcome.analyses;
    const std::vector<std::string> names = r.series.names();
    const auto beside_linear = [&names](const std::optional<inference::ModelInference>& inference,
                                        const StructureSummary& model) {
        QString html = inference ? inference_html(*inference, names) : QString();
        if (const auto diagnostics = diagnose_reported(model, {})) {
            html += diagnostics_html(*diagnostics);
        }
        return html;
    };
    const QString first_title = r.generations > 0 ? tr("Best model of the search (last generation)")
                                                  : tr("Best model of the start population");
    const QString first_tests = beside_linear(analyses.best, r.best);
    // What the pane must show without scrolling: the first model's summary
    // and its tests.
    head_html_ = html +
                 QStringLiteral("<h3>%1</h3><pre>%2</pre>")
                     .arg(first_title.toHtmlEscaped(),
                          escaped(format_structure_summary(r.best, &r.series))) +
                 first_tests;
    html += model_html(first_title, r.best, r.series, first_tests);
    if (r.refined) {
        html += model_html(
            tr("Refined model (criterion %1 lower than the search's)")
                .arg(QString::fromStdString(strprintf("%f", r.refined->improvement()))),
            r.refined->model, r.series, beside_linear(analyses.refined, r.refined->model));
    }
    std::vector<std::filesystem::path> files = r.files_written;
    if (r.refined) {
        files.insert(files.end(), r.refined->files.begin(), r.refined->files.end());
    }
    if (!files.empty()) {
        html += tr("<h3>Files written</h3><ul>");
        for (const auto& file : files) {
            html += QStringLiteral("<li>%1</li>").arg(full_path(file));
        }
        html += QStringLiteral("</ul>");
    }
    if (!r.files_failed.empty()) {
        html += tr("<h3>Files not written</h3><ul>");
        for (const FileFailure& failure : r.files_failed) {
            html += QStringLiteral("<li>%1: %2</li>")
                        .arg(full_path(failure.path), escaped(failure.reason));
        }
        html += QStringLiteral("</ul>");
    }
    browser_->setHtml(html);
    fit_upper_pane();

    series_ = r.series;
    shown_.clear();
    chooser_->clear();
    if (analyses.best) {
        shown_.push_back(*analyses.best);
        chooser_->addItem(tr("Best model"));
    }
    if (analyses.refined) {
        shown_.push_back(*analyses.refined);
        chooser_->addItem(tr("Refined model"));
    }
    // The reported model first: the refined one when refinement ran.
    chooser_->setCurrentIndex(static_cast<int>(shown_.size()) - 1);
}

QString BestModelTab::text() const {
    return browser_->toPlainText();
}

}  // namespace velmora::gui
