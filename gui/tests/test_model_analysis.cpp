// The inference and the forecasts of a real run, driven from the window's
// controls: what the Best model, Forecast and GIRF pages show must be what
// the core computes for the same model and the run's seed, here called
// directly on one thread while the window's run used two.

#include <QAreaSeries>
#include <QChart>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineSeries>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>
#include <memory>

#include "app/reported_inference.hpp"
#include "best_model_tab.hpp"
#include "chart_view.hpp"
#include "data/series.hpp"
#include "diagnostics/model_diagnostics.hpp"
#include "forecast/fitted_var.hpp"
#include "forecast/forecast.hpp"
#include "forecast/forecast_paths.hpp"
#include "forecast/girf.hpp"
#include "forecast/holdout.hpp"
#include "forecast_tab.hpp"
#include "girf_tab.hpp"
#include "inference/linear_var.hpp"
#include "inference/model_inference.hpp"
#include "kept_run.hpp"
#include "main_window.hpp"
#include "scripted_run.hpp"
#include "suites.hpp"
#include "support/format.hpp"
#include "threshold_series.hpp"
#include "window_probe.hpp"

namespace velmora::gui::test {

namespace {

constexpr int kRunTimeoutMs = 120000;
constexpr int kRows = 150;
constexpr int kWindowThreads = 2;

ParameterValues small_run() {
    return short_search(4, kRows);
}

// The problem small_run searches, on its series read afresh.
ModelProblem searched_problem(const double_matrix& serie) {
    return problem_of(small_run().config, serie);
}

QString formatted(const char* format, double value) {
    return QString::fromStdString(strprintf(format, value));
}

std::size_t at(int i) {
    return static_cast<std::size_t>(i);
}

// Starts the window's run with these choices on kWindowThreads threads and
// waits for its end.
void run_from_window(VelmoraDlg& w, const AnalysisChoices& choices) {
    w.set_parameters(small_run());
    w.set_analysis_choices(choices);
    w.findChild<QSpinBox*>("threadsSpin")->setValue(kWindowThreads);
    w.show();
    QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
}

QLineSeries* line_named(const ChartView* view, const QString& name) {
    for (QAbstractSeries* s : view->chart()->series()) {
        if (s->name() == name && s->type() == QAbstractSeries::SeriesTypeLine) {
            return static_cast<QLineSeries*>(s);
        }
    }
    return nullptr;
}

QAreaSeries* band_named(const ChartView* view, const QString& name) {
    for (QAbstractSeries* s : view->chart()->series()) {
        if (s->name() == name && s->type() == QAbstractSeries::SeriesTypeArea) {
            return static_cast<QAreaSeries*>(s);
        }
    }
    return nullptr;
}

// The forecast line leaves from the last fitted value, then steps 1..H.
void expect_steps(const QLineSeries* line, const double_matrix& rows, int origin, int c,
                  const std::vector<std::vector<double>>& table) {
    QVERIFY(line != nullptr);
    const QList<QPointF> points = line->points();
    QCOMPARE(points.size(), static_cast<qsizetype>(table.size() + 1));
    QCOMPARE(points[0], QPointF(origin, rows[origin][c]));
    for (std::size_t h = 1; h <= table.size(); ++h) {
        QCOMPARE(points[static_cast<qsizetype>(h)].x(), static_cast<double>(origin + h));
        QCOMPARE(points[static_cast<qsizetype>(h)].y(), table[h - 1][at(c - 1)]);
    }
}

double cell_value(const QTableWidget* table, int row, int column) {
    return table->item(row, column)->data(Qt::UserRole).toDouble();
}

}  // namespace

class ModelAnalysisTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        workdir_ = enter_series_folder(kRows);
        QVERIFY(workdir_ != nullptr);
    }

    void cleanup() { leave_folder(workdir_); }

    void best_model_page_shows_the_core_inference_of_every_reported_model() {
        const KeptRun kept;
        SeedingCounter seedings;
        VelmoraDlg w(kept.function(), seedings);
        AnalysisChoices choices;
        choices.test_linearity = 29;
        choices.confidence = 0.9;
        run_from_window(w, choices);
        if (QTest::currentTestFailed()) {
            return;
        }
        const RunResult r = kept.last();
        QVERIFY(r.best.model.estimated());

        // The core on the series read afresh, on one thread, at the run's seed.
        const double_matrix serie = read_course_file("serie.txt", kRows, 2);
        const ModelProblem problem = searched_problem(serie);
        inference::InferenceOptions options;
        options.replicates = 29;
        options.confidence = 0.9;
        options.seed = static_cast<std::uint64_t>(r.casual);
        std::vector<const StructureSummary*> models{&r.best};
        if (r.refined) {
            models.push_back(&r.refined->model);
        }

        BestModelTab* tab = w.results_tab<BestModelTab>();
        const QString text = tab->text();
        QCOMPARE(tab->model_chooser()->count(), static_cast<int>(models.size()));
        bool any_linear_as_good = false;
        for (std::size_t i = 0; i < models.size(); ++i) {
            const StructureSummary& model = *models[i];
            const inference::ModelInference inf = inference::infer_model(
                problem, model.structure, model.model.thresholds, model.criterion, options);
            QCOMPARE(inf.linear.status, EstimateStatus::estimated);
            QVERIFY2(text.contains(formatted("%.6f", inf.linear.criterion)), qPrintable(text));
            QVERIFY(text.contains(formatted("%.6f", inf.criterion - inf.linear.criterion)));
            any_linear_as_good = any_linear_as_good || inf.linear_as_good();
            if (!inf.linear_as_good()) {
                QVERIFY(text.contains(formatted("criterion is %.6f below the linear",
                                                inf.linear.criterion - inf.criterion)));
            }
            QVERIFY(inf.linearity.has_value());
            QVERIFY(text.contains("LR\n" + formatted("%.4f", inf.linearity->lr)));
            QVERIFY(
                text.contains("Bootstrap p-value\n" + formatted("%.4f", inf.linearity->p_value)));
            QVERIFY(
                text.contains(QString("Bootstrap series (B)\n%1").arg(inf.linearity->replicates)));
            QVERIFY(inf.confidence.has_value());
            QVERIFY(text.contains("at level 90 %"));
            for (const inference::ThresholdInterval& set : inf.confidence->intervals) {
                QVERIFY(text.contains(formatted("%f", set.low) + "\n" + formatted("%f", set.high) +
                                      QString("\n%1\n%2").arg(set.inside).arg(set.candidates)));
            }

            // The table: every coefficient of every estimated regime, with
            // the standard error, t-value and p-value of the same cell.
            tab->model_chooser()->setCurrentIndex(static_cast<int>(i));
            const QTableWidget* table = tab->coefficient_table();
            int expected_rows = 0;
            for (const inference::RegimeRegression& g : inf.regimes) {
                expected_rows += g.estimated ? 4 : 0;  // k*k*order
            }
            QVERIFY(expected_rows > 0);
            QCOMPARE(table->rowCount(), expected_rows);
            const std::map<QString, int> component{{component_name(r.series, 1), 1},
                                                   {component_name(r.series, 2), 2}};
            for (int row = 0; row < table->rowCount(); ++row) {
                const int regime = table->item(row, BestModelTab::regime_column)->text().toInt();
                const int e = component.at(table->item(row, BestModelTab::equation_column)->text());
                const int v = component.at(table->item(row, BestModelTab::variable_column)->text());
                const int lag = table->item(row, BestModelTab::lag_column)->text().toInt();
                QCOMPARE(lag, 1);
                const inference::RegimeRegression& g = inf.regimes[at(regime - 1)];
                const std::size_t cell = at(((lag - 1) * 2 + v - 1) * 2 + e - 1);
                // The fitted model's own accessor labels its coefficients
                // independently of the inference's layout.
                const double phi = model.model.coefficient(regime, lag, e, v);
                const double shown = cell_value(table, row, BestModelTab::coefficient_column);
                QVERIFY2(std::abs(shown - phi) <= 1e-9 * (1.0 + std::abs(phi)),
                         qPrintable(QString("%1 against %2").arg(shown).arg(phi)));
                QCOMPARE(cell_value(table, row, BestModelTab::standard_error_column),
                         g.standard_errors[cell]);
                QCOMPARE(cell_value(table, row, BestModelTab::t_value_column), g.t_values[cell]);
                QCOMPARE(cell_value(table, row, BestModelTab::p_value_column), g.p_values[cell]);
                QCOMPARE(table->item(row, BestModelTab::p_value_column)->text(),
                         formatted("%.4f", g.p_values[cell]));
            }
        }
        QCOMPARE(text.contains("The linear VAR is as good as or better"), any_linear_as_good);

        // Beside each model, its residual diagnostics as the core computes them.
        QCOMPARE(text.count("Residual diagnostics"), static_cast<qsizetype>(models.size()));
        for (const StructureSummary* model : models) {
            const diagnostics::ModelDiagnostics d = diagnostics::diagnose(model->model);
            QVERIFY(d.portmanteau.computed);
            QVERIFY2(text.contains(QString("Portmanteau, 12 lags\n%1\n%2\n%3")
                                       .arg(formatted("%.4f", d.portmanteau.statistic))
                                       .arg(d.portmanteau.degrees_of_freedom)
                                       .arg(formatted("%.4f", d.portmanteau.p_value))),
                     qPrintable(text));
            QVERIFY(text.contains(QString("ARCH-LM, 5 lags\n%1\n%2\n")
                                      .arg(formatted("%.4f", d.arch.statistic))
                                      .arg(d.arch.degrees_of_freedom)));
            for (std::size_t r = 0; r < d.normality_by_regime.size(); ++r) {
                QVERIFY(
                    text.contains(QString("Normality, regime %1\n%2\n4\n")
                                      .arg(r + 1)
                                      .arg(formatted("%.4f", d.normality_by_regime[r].statistic))));
                QVERIFY(text.contains(QString("Regime %1: %2")
                                          .arg(r + 1)
                                          .arg(formatted("%.4f", d.companion_moduli[r][0]))));
            }
        }
    }

    void best_model_page_shows_the_tests_of_the_number_of_regimes_of_the_reported_model() {
        const KeptRun kept;
        SeedingCounter seedings;
        VelmoraDlg w(kept.function(), seedings);
        AnalysisChoices choices;
        choices.test_regimes = 19;
        run_from_window(w, choices);
        if (QTest::currentTestFailed()) {
            return;
        }
        const RunResult r = kept.last();
        const StructureSummary& reported = r.refined ? r.refined->model : r.best;
        QVERIFY(reported.model.estimated());

        const double_matrix serie = read_course_file("serie.txt", kRows, 2);
        const ModelProblem problem = searched_problem(serie);
        inference::InferenceOptions options;
        options.regime_replicates = 19;
        options.seed = static_cast<std::uint64_t>(r.casual);
        const inference::ModelInference inf = inference::infer_model(
            problem, reported.structure, reported.model.thresholds, reported.criterion, options);
        QVERIFY(inf.regime_tests.has_value());
        const QString text = w.results_tab<BestModelTab>()->text();
        QVERIFY(!inf.regime_tests->tests.empty());
        for (const inference::RegimeTest& t : inf.regime_tests->tests) {
            QVERIFY2(
                text.contains(QString("%1 vs %2\n").arg(t.null_regimes).arg(t.alternative_regimes) +
                              formatted("%.4f", t.lr) + "\n" + formatted("%.4f", t.p_value)),
                qPrintable(text));
        }
        QVERIFY(text.contains(QString("Selected: %1 regime(s); the model has %2.")
                                  .arg(inf.regime_tests->selected_regimes)
                                  .arg(inf.model_regimes)));
        // Only the reported model is tested.
        QCOMPARE(text.count("Tests of the number of regimes"), 1);
    }

    void forecast_and_girf_pages_show_the_core_simulations_of_the_reported_model() {
        const KeptRun kept;
        SeedingCounter seedings;
        VelmoraDlg w(kept.function(), seedings);
        constexpr int kHoldout = 20;
        constexpr int kFitRows = kRows - kHoldout;
        AnalysisChoices choices;
        choices.request.forecast = 5;
        choices.request.paths = 300;
        choices.request.girf = 4;
        choices.request.holdout = kHoldout;
        run_from_window(w, choices);
        if (QTest::currentTestFailed()) {
            return;
        }
        const RunResult r = kept.last();
        const FittedModel& fit = r.refined ? r.refined->model.model : r.best.model;
        QVERIFY(fit.estimated());
        // The search saw only the rows before those held out.
        QCOMPARE(fit.n_oss, kFitRows);

        const auto seed = static_cast<std::uint64_t>(r.casual);
        const double_matrix rows = read_course_file("serie.txt", kRows, 2);
        const ThresholdVarModel model = model_from_fit(fit);
        ForecastOptions fo;
        fo.horizon = 5;
        fo.paths = 300;
        fo.seed = seed;
        const ForecastResult f = forecast_threshold_var(
            model, series_history(rows, 2, kFitRows, model.history_rows()), fo);

        ForecastTab* forecast = w.results_tab<ForecastTab>();
        QCOMPARE(forecast->component_chooser()->count(), 2);
        for (int c = 1; c <= 2; ++c) {
            forecast->component_chooser()->setCurrentIndex(c - 1);
            expect_steps(forecast->mean(), rows, kFitRows, c, f.mean);
            expect_steps(forecast->median(), rows, kFitRows, c, f.median);
            expect_steps(forecast->no_shock(), rows, kFitRows, c, f.no_shock);
            expect_steps(forecast->band()->lowerSeries(), rows, kFitRows, c, f.q05);
            expect_steps(forecast->band()->upperSeries(), rows, kFitRows, c, f.q95);
            // The history runs on through the rows held out, as far as the
            // forecast reaches.
            QCOMPARE(forecast->history()->points().constLast(),
                     QPointF(kFitRows + 5, rows[kFitRows + 5][c]));
            if (QTest::currentTestFailed()) {
                return;
            }
        }

        // The hold-out table: both models fitted on the rows searched, errors
        // per horizon up to the forecast's.
        ModelProblem problem;
        problem.serie_matrix = &rows;
        problem.n_oss = kFitRows;
        problem.n_comp = 2;
        problem.model.min_obs_per_regime = 2;
        problem.model.max_order = model.p;
        const inference::LinearVar linear = inference::fit_linear_var(problem);
        HoldoutOptions ho;
        ho.horizon = 5;
        ho.paths = 300;
        ho.seed = seed;
        const HoldoutResult h = holdout_check(model, linear.regression, rows, kRows, kFitRows, ho);
        const QTableWidget* table = forecast->holdout_table();
        QVERIFY(!table->isHidden());
        QCOMPARE(table->rowCount(), 5);
        for (int s = 0; s < 5; ++s) {
            QCOMPARE(table->item(s, ForecastTab::forecasts_column)->text().toInt(),
                     h.forecasts[at(s)]);
            QCOMPARE(cell_value(table, s, ForecastTab::rmse_threshold_column),
                     h.threshold.rmse_all[at(s)]);
            QCOMPARE(cell_value(table, s, ForecastTab::rmse_linear_column),
                     h.linear.rmse_all[at(s)]);
            QCOMPARE(cell_value(table, s, ForecastTab::mae_threshold_column),
                     h.threshold.mae_all[at(s)]);
            QCOMPARE(cell_value(table, s, ForecastTab::mae_linear_column), h.linear.mae_all[at(s)]);
        }

        GirfOptions go;
        go.horizon = 4;
        go.histories = 500;  // the default: not a window control
        go.repetitions = 100;
        go.seed = seed;
        const GirfResult g = girf_threshold_var(model, rows, go);
        GirfTab* girf = w.results_tab<GirfTab>();
        QCOMPARE(girf->shock_chooser()->count(), 2);
        for (int shock = 1; shock <= 2; ++shock) {
            girf->shock_chooser()->setCurrentIndex(shock - 1);
            for (const GirfRegime& regime : g.regimes) {
                // Each regime on its own shows its mean and its band.
                const int choice = girf->regime_chooser()->findData(regime.regime);
                QCOMPARE(choice >= 1, !regime.mean.empty());
                girf->regime_chooser()->setCurrentIndex(std::max(choice, 0));
                QCOMPARE(static_cast<int>(girf->charts().size()), 2);
                for (int c = 1; c <= 2; ++c) {
                    const ChartView* view = girf->charts()[at(c - 1)];
                    const QString name = QString("Regime %1").arg(regime.regime);
                    const QLineSeries* mean = line_named(view, name);
                    const QAreaSeries* band = band_named(view, name + ": 5 %–95 %");
                    if (regime.mean.empty()) {
                        QVERIFY(mean == nullptr && band == nullptr);
                        continue;
                    }
                    QVERIFY(mean != nullptr && band != nullptr);
                    QCOMPARE(mean->count(), 5);
                    for (int step = 0; step <= 4; ++step) {
                        const std::size_t j = at(shock - 1);
                        const std::size_t hh = at(step);
                        QCOMPARE(mean->at(step), QPointF(step, regime.mean[j][hh][at(c - 1)]));
                        QCOMPARE(band->lowerSeries()->at(step).y(), regime.q05[j][hh][at(c - 1)]);
                        QCOMPARE(band->upperSeries()->at(step).y(), regime.q95[j][hh][at(c - 1)]);
                    }
                }
            }
        }
    }

    void stop_ends_a_long_bootstrap_and_the_page_says_so() {
        SeedingCounter seedings;
        VelmoraDlg w(&run_search, seedings);
        AnalysisChoices choices;
        choices.test_linearity = 100000;  // far longer than the test waits
        w.set_parameters(small_run());
        w.set_analysis_choices(choices);
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(messages(w).contains("Linearity test: 100000 bootstrap series"),
                                 kRunTimeoutMs);
        QVERIFY(button(w, "stopButton")->isEnabled());
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        const QString text = w.results_tab<BestModelTab>()->text();
        QVERIFY2(text.contains("the bootstrap was stopped after"), qPrintable(text));
        QVERIFY(text.contains("so its p-value is not known"));
        // The rest of the inference is there all the same.
        QVERIFY(text.contains("Criterion of the linear VAR of order 1"));
        QVERIFY(w.results_tab<BestModelTab>()->coefficient_table()->rowCount() > 0);
    }

    void requests_the_series_cannot_serve_are_refused_before_any_file_data() {
        QTest::addColumn<int>("holdout");
        QTest::addColumn<int>("forecast");
        QTest::addColumn<int>("paths");
        QTest::addColumn<QString>("text");
        QTest::newRow("hold-out leaving too few rows")
            << kRows - 20 << 0 << 2000
            << "Hold-out: 130 rows cannot be held out of 150; at least 30 must remain to fit on";
        QTest::newRow("forecast beyond memory")
            << 0 << 1000 << 1000000
            << "The forecast's paths would keep 3e+09 simulated values; at most "
               "1e+08 fit in memory: ask for fewer";
    }

    void requests_the_series_cannot_serve_are_refused_before_any_file() {
        QFETCH(int, holdout);
        QFETCH(int, forecast);
        QFETCH(int, paths);
        QFETCH(QString, text);
        SeedingCounter seedings;
        VelmoraDlg w(&run_search, seedings);
        w.set_parameters(small_run());
        AnalysisChoices choices;
        choices.request.holdout = holdout;
        choices.request.forecast = forecast;
        choices.request.paths = paths;
        w.set_analysis_choices(choices);
        w.show();
        expect_error_box_after_ok(w, text, kRunTimeoutMs);
        QVERIFY(!QFile::exists(workdir_->filePath("Output.txt")));
    }

    void the_search_gets_the_rows_before_the_hold_out_and_the_controls_wait_for_the_run() {
        auto script = std::make_shared<ScriptedRun>();
        script->run_until_stopped();
        SeedingCounter seedings;
        VelmoraDlg w(function_of(script), seedings);
        w.set_parameters(small_run());
        AnalysisChoices choices;
        choices.request.holdout = 25;
        choices.request.forecast = 3;
        w.set_analysis_choices(choices);
        start_and_wait_for_a_generation(w);
        if (QTest::currentTestFailed()) {
            return;
        }
        for (const char* name :
             {"linearitySpin", "forecastSpin", "pathsSpin", "girfSpin", "holdoutSpin"}) {
            QVERIFY2(!w.findChild<QSpinBox*>(name)->isEnabled(), name);
        }
        QVERIFY(!w.findChild<QDoubleSpinBox*>("confidenceSpin")->isEnabled());
        {
            std::lock_guard lock(script->mutex);
            QCOMPARE(script->config.n_oss, kRows - 25);
        }
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        QVERIFY(w.findChild<QSpinBox*>("holdoutSpin")->isEnabled());
        // A stopped run forecasts nothing.
        QVERIFY(w.results_tab<ForecastTab>()->mean() == nullptr);
        QCOMPARE(w.analysis_choices().request.holdout, 25);
    }

    void the_terms_control_reaches_the_runs_configuration_and_waits_for_the_run() {
        auto script = std::make_shared<ScriptedRun>();
        script->run_until_stopped();
        SeedingCounter seedings;
        VelmoraDlg w(function_of(script), seedings);
        w.set_parameters(small_run());
        auto* terms = w.findChild<QComboBox*>("includeCombo");
        QVERIFY(terms != nullptr);
        QCOMPARE(terms->currentText(), QString("none"));
        terms->setCurrentIndex(terms->findText("both"));
        start_and_wait_for_a_generation(w);
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(!terms->isEnabled());
        {
            std::lock_guard lock(script->mutex);
            QCOMPARE(script->config.model.include, Include::both);
        }
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        QVERIFY(terms->isEnabled());
        QCOMPARE(terms->currentText(), QString("both"));
    }

  private:
    std::unique_ptr<QTemporaryDir> workdir_;
};

int run_model_analysis_tests(int argc, char** argv) {
    ModelAnalysisTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_model_analysis.moc"
