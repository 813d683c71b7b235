// Charts against the file's dates and names, and every page of a model with
// four regimes read whole: each legend entry and axis title as it is named,
// not cut short.

#include <QAbstractAxis>
#include <QAreaSeries>
#include <QChart>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QLegendMarker>
#include <QLineSeries>
#include <QListWidget>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QValueAxis>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <utility>

#include "app/threshold_app.hpp"
#include "best_model_tab.hpp"
#include "chart_view.hpp"
#include "column_picker.hpp"
#include "data/series.hpp"
#include "forecast/analysis.hpp"
#include "forecast/fitted_var.hpp"
#include "forecast_tab.hpp"
#include "girf_tab.hpp"
#include "inference/model_inference.hpp"
#include "model/problem.hpp"
#include "regimes_tab.hpp"
#include "search_tab.hpp"
#include "suites.hpp"
#include "threshold_series.hpp"
#include "time_axis.hpp"

namespace velmora::gui::test {

namespace {

// Every text the chart's scene draws inside the view (a text laid out past
// the view's edge is cut as surely as an elided one), with where it lies.
QList<std::pair<QString, QRectF>> scene_texts(const QChartView* view) {
    QList<std::pair<QString, QRectF>> out;
    const QRectF visible =
        view->mapToScene(view->viewport()->rect()).boundingRect().adjusted(-1, -1, 1, 1);
    for (QGraphicsItem* item : view->scene()->items()) {
        if (!item->isVisible() || !visible.contains(item->sceneBoundingRect())) {
            continue;
        }
        if (const auto* text = dynamic_cast<const QGraphicsTextItem*>(item)) {
            out.append({text->toPlainText(), item->sceneBoundingRect()});
        } else if (const auto* simple = dynamic_cast<const QGraphicsSimpleTextItem*>(item)) {
            out.append({simple->text(), item->sceneBoundingRect()});
        }
    }
    return out;
}

// Fails unless every visible legend entry and every axis title of the chart
// is drawn exactly as named, and no two legend entries overlap.
void verify_whole(const ChartView* view, const QString& where) {
    const auto texts = scene_texts(view);
    QStringList shown;
    for (const auto& [text, rect] : texts) {
        shown << text;
    }
    QList<QRectF> labels;
    QList<qsizetype> used;
    for (QLegendMarker* marker : view->chart()->legend()->markers()) {
        if (!marker->isVisible() || marker->label().isEmpty()) {
            continue;
        }
        QVERIFY2(shown.contains(marker->label()),
                 qPrintable(where + ": legend entry \"" + marker->label() +
                            "\" is cut; shown: " + shown.join(" | ")));
        // Entries of the same name are different texts of the scene.
        qsizetype at = shown.indexOf(marker->label());
        while (used.contains(at) && shown.indexOf(marker->label(), at + 1) >= 0) {
            at = shown.indexOf(marker->label(), at + 1);
        }
        used.append(at);
        const QRectF rect = texts[at].second.adjusted(1, 1, -1, -1);
        for (const QRectF& other : labels) {
            QVERIFY2(!rect.intersects(other),
                     qPrintable(where + ": legend entry \"" + marker->label() + "\" overlaps"));
        }
        labels.append(rect);
    }
    QVERIFY2(!labels.isEmpty(), qPrintable(where + ": no legend entry"));
    for (QAbstractAxis* axis : view->chart()->axes()) {
        if (axis->titleText().isEmpty()) {
            continue;
        }
        QVERIFY2(shown.contains(axis->titleText()),
                 qPrintable(where + ": axis title \"" + axis->titleText() +
                            "\" is cut; shown: " + shown.join(" | ")));
    }
}

// A three-component series with daily dates, the first component switching
// its dynamics at three levels, as a CSV file with a header.
void write_dated_series(const QString& path, int n) {
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "w");
    QVERIFY(f);
    std::fprintf(f, "date,Alpha index,Beta rate,Gamma\n");
    unsigned state = 4242;
    const auto noise = [&state] { return lcg_noise(state); };
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    const QDate first(2001, 1, 1);
    for (int t = 0; t < n; ++t) {
        const double a = x < -0.3 ? -0.6 : x < 0.0 ? 0.2 : x < 0.3 ? 0.5 : -0.2;
        const double nx = 0.4 * x + noise();
        const double ny = a * y + noise();
        const double nz = 0.3 * z + 0.2 * y + noise();
        x = nx;
        y = ny;
        z = nz;
        std::fprintf(f, "%s,%.6f,%.6f,%.6f\n",
                     first.addDays(t).toString(Qt::ISODate).toLatin1().constData(), x, y, z);
    }
    std::fclose(f);
}

}  // namespace

class ChartsTest : public QObject {
    Q_OBJECT
  private slots:
    void time_axis_reads_dates_numbers_and_text() {
        const TimeAxis dates({"2020-01-30", "2020-01-31", "2020-02-03"});
        QCOMPARE(dates.kind(), TimeAxis::Kind::dates);
        QCOMPARE(dates.x(2) - dates.x(1), 86400000.0);
        QCOMPARE(dates.x(3) - dates.x(2), 3 * 86400000.0);
        // After the last label, the labels' average spacing: two days.
        QCOMPARE(dates.x(4) - dates.x(3), 2 * 86400000.0);

        const TimeAxis years({"1991.5", "1991.50384615385", "1991.5076923077"});
        QCOMPARE(years.kind(), TimeAxis::Kind::numbers);
        QCOMPARE(years.x(1), 1991.5);

        // Dates out of order, or a label that is no date, give text.
        QCOMPARE(TimeAxis({"2020-02-01", "2020-01-01"}).kind(), TimeAxis::Kind::text);
        QCOMPARE(TimeAxis({"2020-02-01", "later"}).kind(), TimeAxis::Kind::text);
        QCOMPARE(TimeAxis({"Q1", "Q2", "Q3"}).x(2), 2.0);
        QCOMPARE(TimeAxis(std::vector<std::string>{}).kind(), TimeAxis::Kind::rows);
        QCOMPARE(TimeAxis(std::vector<std::string>{}).x(7), 7.0);

        double msecs = 0.0;
        QVERIFY(label_as_date("31.12.1999", &msecs));
        QCOMPARE(msecs,
                 static_cast<double>(
                     QDateTime(QDate(1999, 12, 31), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch()));
        QVERIFY(!label_as_date("2024", &msecs));
        QVERIFY(!label_as_date("2024-13-01", &msecs));
    }

    void round_ticks_fall_on_round_values() {
        QValueAxis axis;
        axis.setRange(-2.4436, -2.4188);
        round_ticks(&axis);
        QCOMPARE(axis.tickType(), QValueAxis::TicksDynamic);
        const double step = axis.tickInterval();
        // 1, 2 or 5 times a power of ten, about six ticks over the range.
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
        QVERIFY2(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 ||
                     std::abs(mantissa - 5) < 1e-9,
                 qPrintable(QString::number(step)));
        QVERIFY(step <= 0.0248 / 3 && step >= 0.0248 / 12);
        const double anchor = axis.tickAnchor() / step;
        QCOMPARE(anchor, std::round(anchor));
        QVERIFY(axis.tickAnchor() >= axis.min());
        QCOMPARE(axis.labelFormat(), QString("%.3f"));
    }

    // Labels are laid out by adding the interval until the maximum is
    // passed: the interval must advance at the range's magnitude, and an
    // infinite range must not reach the axis.
    void ticks_of_a_narrow_range_far_from_zero_stay_few() {
        QValueAxis axis;
        set_round_range(&axis, 1e10, 1e10 + 1e-6);
        const double step = axis.tickInterval();
        QVERIFY2(axis.tickAnchor() + step > axis.tickAnchor(), qPrintable(QString::number(step)));
        QVERIFY((axis.max() - axis.min()) / step <= 12.0);
        set_round_range(&axis, -1.0, std::numeric_limits<double>::infinity());
        QCOMPARE(axis.max(), 1e10 + 1e-6);
        set_round_range(&axis, -1.5e308, 1.5e308);
        QCOMPARE(axis.max(), 1e10 + 1e-6);
    }

    void every_page_of_a_four_regime_model_reads_whole() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath("dated.csv");
        write_dated_series(file, 320);
        SeriesRequest request;
        request.path = file.toStdString();
        const LoadedSeries loaded = load_series(request);
        QCOMPARE(loaded.n_comp(), 3);
        QVERIFY(loaded.info.has_names);

        ModelProblem problem;
        problem.serie_matrix = &loaded.serie;
        problem.n_oss = loaded.n_oss();
        problem.n_comp = 3;
        problem.model.min_obs_per_regime = 10;
        problem.model.max_order = 1;
        OneThresholdStructure one;
        one.which_serie = 1;
        one.threshold_lag = 1;
        one.n_regime = 4;
        one.pos_threshold = {60, 140, 220};
        const StructureSummary summary = summarize_structure(problem, make_structure(one));
        QVERIFY(summary.model.estimated());
        QCOMPARE(summary.model.n_regime, 4);

        RunOutcome outcome;
        outcome.status = RunOutcome::Status::completed;
        outcome.config.maxgen = 20;
        outcome.result.best = summary;
        outcome.result.best_codes = {1};
        outcome.result.generations = 20;
        outcome.result.series = loaded.info;
        outcome.series = make_run_series(loaded, loaded.n_oss());
        auto rows = std::make_shared<double_matrix>(1, loaded.n_oss(), 1, 3);
        for (int t = 1; t <= loaded.n_oss(); ++t) {
            for (int c = 1; c <= 3; ++c) {
                (*rows)[t][c] = loaded.serie[t][c];
            }
        }
        AnalysisRequest asked;
        asked.forecast = 6;
        asked.paths = 200;
        asked.girf = 4;
        asked.girf_histories = 30;
        asked.girf_repetitions = 5;
        AnalysisSettings settings;
        settings.seed = 11;
        outcome.analyses.analysis = run_analysis(model_from_fit(summary.model), loaded.serie,
                                                 loaded.n_oss(), asked, settings);
        outcome.analyses.rows_read = rows;
        inference::InferenceOptions tests;
        tests.replicates = 4;
        outcome.analyses.best = inference::infer_model(
            problem, summary.structure, summary.model.thresholds, summary.criterion, tests);
        QVERIFY(outcome.analyses.best->linearity.has_value());
        QVERIFY(outcome.analyses.analysis.girf.has_value());

        QTabWidget pages;
        auto* search = new SearchTab;
        auto* best = new BestModelTab;
        auto* regimes = new RegimesTab;
        auto* forecast = new ForecastTab;
        auto* girf = new GirfTab;
        for (ResultsTab* page :
             std::initializer_list<ResultsTab*>{search, best, regimes, forecast, girf}) {
            pages.addTab(page, page->title());
            page->run_started(outcome.config);
        }
        std::vector<RunProgress> bred;
        for (int g = 1; g <= 20; ++g) {
            RunProgress p;
            p.generation = g;
            p.maxgen = 20;
            p.best_criterion = -2.4188 - 0.0012 * g;
            p.mean_criterion = -2.40 - 0.001 * g;
            p.best_fitness = 1.0;
            bred.push_back(p);
        }
        search->add_generations(bred);
        for (ResultsTab* page :
             std::initializer_list<ResultsTab*>{search, best, regimes, forecast, girf}) {
            page->run_finished(outcome);
        }
        pages.resize(1100, 760);
        pages.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pages));

        const auto settle = [&pages](QWidget* page) {
            pages.setCurrentWidget(page);
            QTest::qWait(60);
        };
        settle(search);
        verify_whole(search->chart_view(), "Search");

        settle(regimes);
        QCOMPARE(static_cast<int>(regimes->charts().size()), 1 + 3);
        for (ChartView* view : regimes->charts()) {
            // The page scrolls: each chart is checked where it is drawn.
            view->ensurePolished();
            QTest::qWait(10);
            verify_whole(view, "Regimes: " + view->chart()->title());
            // Times are the file's dates.
            QVERIFY(qobject_cast<QDateTimeAxis*>(view->chart()->axes(Qt::Horizontal).value(0)));
        }
        // The threshold variable's legend: four regimes and three thresholds.
        int entries = 0;
        for (QLegendMarker* marker : regimes->charts().front()->chart()->legend()->markers()) {
            entries += marker->isVisible() ? 1 : 0;
        }
        QCOMPARE(entries, 4 + 3);

        settle(forecast);
        for (int c = 0; c < 3; ++c) {
            forecast->component_chooser()->setCurrentIndex(c);
            QTest::qWait(20);
            verify_whole(forecast->chart_view(), "Forecast");
        }
        QVERIFY(qobject_cast<QDateTimeAxis*>(
            forecast->chart_view()->chart()->axes(Qt::Horizontal).value(0)));

        settle(girf);
        // All regimes: their means, without the bands that would hide one
        // another; one regime: its mean and band.
        QCOMPARE(girf->regime_chooser()->count(), 1 + 4);
        for (int choice = 0; choice < girf->regime_chooser()->count(); ++choice) {
            girf->regime_chooser()->setCurrentIndex(choice);
            QTest::qWait(20);
            QCOMPARE(static_cast<int>(girf->charts().size()), 3);
            for (ChartView* view : girf->charts()) {
                int bands = 0;
                int means = 0;
                for (QAbstractSeries* s : view->chart()->series()) {
                    bands += qobject_cast<QAreaSeries*>(s) != nullptr ? 1 : 0;
                    means +=
                        s->name().startsWith("Regime ") && qobject_cast<QLineSeries*>(s) ? 1 : 0;
                }
                QCOMPARE(bands, choice == 0 ? 0 : 1);
                QCOMPARE(means, choice == 0 ? 4 : 1);
                verify_whole(view, "GIRF " + girf->regime_chooser()->currentText());
            }
        }

        // A smaller window: the upper pane still shows the tests.
        pages.resize(1000, 520);
        settle(best);
        QVERIFY(best->text().contains("Alpha index"));
        // The upper pane shows the model's linearity test without
        // scrolling.
        QTextBrowser* text = best->model_text();
        QCOMPARE(text->verticalScrollBar()->value(), 0);
        const QTextCursor found = text->document()->find("Bootstrap p-value");
        QVERIFY(!found.isNull());
        QVERIFY2(text->cursorRect(found).bottom() < text->viewport()->height(),
                 qPrintable(QString("test at %1, pane %2")
                                .arg(text->cursorRect(found).bottom())
                                .arg(text->viewport()->height())));
    }

    void column_picker_lists_the_files_columns_and_keeps_their_order() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString named = dir.filePath("named.csv");
        write_dated_series(named, 40);
        QString problem;
        QCOMPARE(course_file_columns(named, &problem),
                 (std::vector<std::string>{"Alpha index", "Beta rate", "Gamma"}));
        QVERIFY(problem.isEmpty());

        ColumnChoice current;
        current.modelled = {"Gamma", "Alpha index"};
        ColumnPicker picker(named, current);
        QListWidget* list = picker.modelled_list();
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(1)->checkState(), Qt::Unchecked);
        // The file's order, whatever the order given.
        QCOMPARE(picker.choice().modelled, (std::vector<std::string>{"Alpha index", "Gamma"}));
        list->item(1)->setCheckState(Qt::Checked);
        QVERIFY(picker.choice().modelled.empty());  // every column
        QCOMPARE(describe_columns(picker.choice()), QString("all columns"));
        // Threshold variables: none checked by default, then in the file's order.
        QCOMPARE(picker.threshold_list()->count(), 3);
        QVERIFY(picker.choice().threshold.empty());
        picker.threshold_list()->item(2)->setCheckState(Qt::Checked);
        picker.threshold_list()->item(0)->setCheckState(Qt::Checked);
        QCOMPARE(picker.choice().threshold, (std::vector<std::string>{"Alpha index", "Gamma"}));
        QCOMPARE(describe_columns(picker.choice()),
                 QString("all columns; threshold variables Alpha index, Gamma"));

        // Without a header the columns are numbered.
        const QString plain = dir.filePath("plain.txt");
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1 2 3 4\n5 6 7 8\n");
        file.close();
        QCOMPARE(course_file_columns(plain, &problem),
                 (std::vector<std::string>{"1", "2", "3", "4"}));
        QVERIFY(course_file_columns(dir.filePath("missing.csv"), &problem).empty());
        QVERIFY(problem.contains("could not be opened"));
        ColumnPicker refused(dir.filePath("missing.csv"), {});
        QVERIFY(!refused.problem().isEmpty());
        QCOMPARE(refused.modelled_list()->count(), 0);
    }
};

int run_charts_tests(int argc, char** argv) {
    ChartsTest test;
    return QTest::qExec(&test, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_charts.moc"
