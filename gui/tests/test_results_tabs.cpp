// The results area: the Search chart during and after a run, saving charts,
// the choosers for the course file and the output folder, and the charts
// following the window's size.

#include <QChart>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>

#include "app/run_driver.hpp"
#include "best_model_tab.hpp"
#include "chart_view.hpp"
#include "kept_run.hpp"
#include "main_window.hpp"
#include "modal.hpp"
#include "output/run_summary.hpp"
#include "parameter_dialog.hpp"
#include "regimes_tab.hpp"
#include "scripted_run.hpp"
#include "search_tab.hpp"
#include "suites.hpp"
#include "support/format.hpp"
#include "threshold_series.hpp"
#include "window_probe.hpp"

namespace velmora::gui::test {

namespace {

constexpr int kRunTimeoutMs = 120000;

ParameterValues small_real_run(int maxgen) {
    return short_search(maxgen, 150);
}

SearchTab* search_tab(const VelmoraDlg& w) {
    return w.results_tab<SearchTab>();
}

QString search_summary(const VelmoraDlg& w) {
    return w.findChild<QLabel*>("searchSummary")->text();
}

}  // namespace

class ResultsTabsTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        workdir_ = enter_series_folder(150);
        QVERIFY(workdir_ != nullptr);
    }

    void cleanup() { leave_folder(workdir_); }

    void results_area_has_the_messages_first_then_the_pages() {
        auto script = std::make_shared<ScriptedRun>();
        SeedingCounter seedings;
        VelmoraDlg w(function_of(script), seedings);
        QTabWidget* tabs = w.results();
        QVERIFY(tabs->count() >= 2);
        QCOMPARE(tabs->tabText(0), QString("Messages"));
        QCOMPARE(tabs->widget(0)->objectName(), QString("messageArea"));
        QCOMPARE(tabs->tabText(1), QString("Search"));
    }

    void search_chart_draws_every_generation_and_starts_afresh() {
        auto script = std::make_shared<ScriptedRun>();
        SeedingCounter seedings;
        VelmoraDlg w(function_of(script), seedings);
        w.set_parameters(with_generations(40));
        w.show();
        for (int run = 0; run < 2; ++run) {
            QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
            // Everything is on the chart as soon as the run has ended.
            QCOMPARE(search_tab(w)->best_points(1), 40);
            QCOMPARE(search_tab(w)->mean_points(1), 40);
            QCOMPARE(search_tab(w)->best_points(2), 0);
        }
    }

    void stopped_run_keeps_its_chart_and_shows_the_best_structure_so_far() {
        SeedingCounter seedings;
        VelmoraDlg w(&run_search, seedings);
        w.set_parameters(small_real_run(1000000));
        start_and_wait_for_a_generation(w, kRunTimeoutMs);
        if (QTest::currentTestFailed()) {
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(generation_text(w).toInt() >= 3, kRunTimeoutMs);
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        // The chart reaches the last generation bred (a long run is drawn
        // thinned, so the points may be fewer than the generations).
        const QList<QPointF> drawn = search_tab(w)->best_line(1);
        QVERIFY(drawn.size() >= 2);
        const int bred = static_cast<int>(drawn.constLast().x());
        const QString summary = search_summary(w);
        QVERIFY2(summary.startsWith(QString("Run stopped after %1 generations. Best structure "
                                            "found so far:\n")
                                        .arg(bred)),
                 qPrintable(summary));
        QVERIFY2(summary.contains("Criterion: "), qPrintable(summary));
        QVERIFY(summary.contains("Threshold variable"));
    }

    void best_model_and_regimes_show_what_the_json_says() {
        const KeptRun kept;
        SeedingCounter seedings;
        VelmoraDlg w(kept.function(), seedings);
        const ParameterValues p = small_real_run(6);
        w.set_parameters(p);
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        const RunResult result = kept.last();
        RunOptions options;
        options.workdir = w.output_folder().toStdString();
        const nlohmann::json json = run_summary_json(p.config, options, result);
        QVERIFY(!json["best"].is_null());

        const QString text = w.results_tab<BestModelTab>()->text();
        for (const char* key : {"best", "refined"}) {
            const auto& model = json[key];
            if (model.is_null()) {
                continue;
            }
            const QString criterion = QString::fromStdString(
                strprintf("Criterion: %f", model["criterion"].get<double>()));
            QVERIFY2(text.contains(criterion), qPrintable(criterion + "\n" + text));
            for (const auto& threshold : model["thresholds"]) {
                QVERIFY(text.contains(
                    QString::fromStdString(strprintf("%f", threshold.get<double>()))));
            }
            QVERIFY(text.contains(QString::fromStdString(
                strprintf("%.5f", model["coefficients"][0][0][1][0].get<double>()))));
            QVERIFY(text.contains(
                QString::fromStdString(strprintf("%.10f", model["sigma"][0][1][1].get<double>()))));
        }
        for (const auto& file : json["files"]) {
            const auto path = std::filesystem::absolute(file.get<std::string>()).lexically_normal();
            QVERIFY2(text.contains(QString::fromStdString(path.string())), qPrintable(text));
        }

        // The Regimes chart colours one point per time that has a regime.
        const auto& reported = json["refined"].is_null() ? json["best"] : json["refined"];
        int with_regime = 0;
        for (const auto& count : reported["observations_per_regime"]) {
            with_regime += count.get<int>();
        }
        const auto* regimes = w.results_tab<RegimesTab>();
        const int threshold_charts = reported["threshold_variables"].get<int>();
        QCOMPARE(static_cast<int>(regimes->charts().size()), threshold_charts + 2);
        QCOMPARE(RegimesTab::regime_points(regimes->charts()[0]), with_regime);
        QCOMPARE(RegimesTab::regime_points(regimes->charts().back()), with_regime);
    }

    void charts_save_as_png_and_as_svg() {
        auto script = std::make_shared<ScriptedRun>();
        SeedingCounter seedings;
        VelmoraDlg w(function_of(script), seedings);
        w.set_parameters(with_generations(12));
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        w.results()->setCurrentWidget(search_tab(w));
        ChartView* view = search_tab(w)->chart_view();

        const QString png = workdir_->filePath("direct.png");
        const QString svg = workdir_->filePath("direct.svg");
        QVERIFY(view->save(png));
        QVERIFY(view->save(svg));
        const QImage image(png);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), view->size() * view->devicePixelRatio());
        QSvgRenderer drawing(svg);
        QVERIFY(drawing.isValid());
        QVERIFY(QFile(svg).size() > 1000);

        // The button is there and asks for a file.
        QVERIFY(w.findChild<QPushButton*>("search-chart-save"));

        // A folder that does not exist is reported, not ignored.
        QVERIFY(!view->save(workdir_->filePath("missing/chart.png")));
    }

    void output_folder_chooser_sends_the_files_there() {
        SeedingCounter seedings;
        VelmoraDlg w(&run_search, seedings);
        QCOMPARE(w.findChild<QLineEdit*>("outputFolderEdit")->text(), QDir::currentPath());
        QVERIFY(QDir().mkpath(workdir_->filePath("results")));
        const QString results = workdir_->filePath("results");
        auto picked = when_modal<QFileDialog>(
            [results](QFileDialog* dialog) {
                // A folder chooser answers with the folder it shows.
                dialog->setDirectory(results);
                static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
            },
            30000);
        button(w, "outputFolderButton")->click();
        QTRY_VERIFY(*picked);
        QCOMPARE(QDir(w.output_folder()), QDir(workdir_->filePath("results")));

        w.set_parameters(small_real_run(2));
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        QVERIFY(QFile::exists(workdir_->filePath("results/Output.txt")));
        QVERIFY(!QFile::exists(workdir_->filePath("Output.txt")));

        // A folder that does not exist yet is created.
        w.set_output_folder(workdir_->filePath("new/deeper"));
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        QVERIFY(QFile::exists(workdir_->filePath("new/deeper/Output.txt")));
    }

    void charts_follow_the_window_size() {
        auto script = std::make_shared<ScriptedRun>();
        SeedingCounter seedings;
        VelmoraDlg w(function_of(script), seedings);
        w.resize(800, 600);
        w.show();
        w.results()->setCurrentWidget(search_tab(w));
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize before = search_tab(w)->chart_view()->size();
        w.resize(1300, 950);
        QTRY_VERIFY(search_tab(w)->chart_view()->width() > before.width() + 300);
        QVERIFY(search_tab(w)->chart_view()->height() > before.height() + 200);
    }

  private:
    std::unique_ptr<QTemporaryDir> workdir_;
};

int run_results_tabs_tests(int argc, char** argv) {
    ResultsTabsTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_results_tabs.moc"
