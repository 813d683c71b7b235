#include "best_model_tab.hpp"

#include <QTextBrowser>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

#include "app/threshold_app.hpp"
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

}  // namespace

QString model_html(const QString& title, const StructureSummary& summary,
                   const SeriesInfo& series) {
    const FittedModel& model = summary.model;
    const ModelStructure& s = summary.structure;
    QString html = QStringLiteral("<h3>%1</h3>").arg(title.toHtmlEscaped());
    // The plain summary lines, as the command line prints them.
    html +=
        QStringLiteral("<pre>%1</pre>").arg(escaped(format_structure_summary(summary, &series)));
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
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_);
}

void BestModelTab::run_started(const RunConfig&) {
    browser_->clear();
}

void BestModelTab::run_finished(const RunOutcome& outcome) {
    const RunResult& r = outcome.result;
    if (outcome.status == RunOutcome::Status::failed || r.best_codes.empty()) {
        browser_->clear();
        return;
    }
    QString html;
    if (outcome.status == RunOutcome::Status::stopped) {
        html +=
            tr("<p>The run was stopped: the best structure found so far, no report "
               "files.</p>");
    }
    html += model_html(r.generations > 0 ? tr("Best model of the search (last generation)")
                                         : tr("Best model of the start population"),
                       r.best, r.series);
    if (r.refined) {
        html +=
            model_html(tr("Refined model (criterion %1 lower than the search's)")
                           .arg(QString::fromStdString(strprintf("%f", r.refined->improvement()))),
                       r.refined->model, r.series);
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
    browser_->setHtml(html);
}

QString BestModelTab::text() const {
    return browser_->toPlainText();
}

}  // namespace velmora::gui
