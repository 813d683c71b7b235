// What the window says and keeps when a run cannot write its files, is
// refused for its course file, is stopped (in the search, in the
// refinement, while it waits for a pipe) or has many replications: the
// messages, the error boxes, the pages and the run's files.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/run_driver.hpp"
#include "best_model_tab.hpp"
#include "chart_view.hpp"
#include "data/series.hpp"
#include "main_window.hpp"
#include "modal.hpp"
#include "parameter_dialog.hpp"
#include "scripted_run.hpp"
#include "search_tab.hpp"
#include "suites.hpp"
#include "threshold_series.hpp"
#include "window_probe.hpp"

namespace velmora::gui::test {

namespace {

constexpr int kRunTimeoutMs = 120000;
constexpr int kRows = 150;

// A page that only records what the window tells it.
class ProbeTab : public ResultsTab {
  public:
    using ResultsTab::ResultsTab;
    QString title() const override { return QStringLiteral("Probe"); }
    void run_started(const RunConfig&) override { ++started; }
    void run_finished(const RunOutcome& outcome) override {
        ++finished;
        last = outcome;
    }
    int started = 0;
    int finished = 0;
    RunOutcome last;
};

ParameterValues small_real_run(const std::string& course_file = "serie.txt") {
    return short_search(3, kRows, course_file);
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString best_model_text(const VelmoraDlg& w) {
    return w.results_tab<BestModelTab>()->text();
}

QString note(const VelmoraDlg& w, const char* name) {
    return w.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

void wait_for_the_end(VelmoraDlg& w) {
    QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
}

// Opens and closes the pipe's writing end after `ms` unless cancelled, so
// that a reader blocked on it ends: a faulty build fails its test instead of
// hanging the suite.
class PipeWatchdog {
  public:
    PipeWatchdog(std::string path, int ms) : path_(std::move(path)) {
        thread_ = std::thread([this, ms] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (!cancelled_.load()) {
                if (std::chrono::steady_clock::now() >= until) {
                    fired_ = true;
                    release();
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    continue;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~PipeWatchdog() {
        cancelled_ = true;
        thread_.join();
    }
    bool fired() const { return fired_.load(); }

  private:
    void release() const {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    std::string path_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

}  // namespace

class RunOutcomesTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        workdir_ = enter_series_folder(kRows);
        QVERIFY(workdir_ != nullptr);
        script_ = std::make_shared<ScriptedRun>();
    }

    void cleanup() { leave_folder(workdir_); }

    // The command line fails for the same folder; the window must not show
    // a success.
    void unwritten_result_files_are_named_in_an_error_box() {
        script_->finish = [](RunResult& r) {
            r.files_failed = {{"/full/OutputThresholdUnivariate.txt", "No space left on device"},
                              {"/full/PredictionThresholdUnivariate.txt", "File too large"}};
        };
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(with_generations(2));
        w.show();
        auto seen = answer_box();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!seen->text.isEmpty(), kRunTimeoutMs);
        QCOMPARE(seen->title, QString("Error"));
        QCOMPARE(seen->icon, QMessageBox::Critical);
        QVERIFY2(seen->text.contains("/full/OutputThresholdUnivariate.txt could not be written: "
                                     "No space left on device"),
                 qPrintable(seen->text));
        QVERIFY2(
            seen->text.contains(
                "/full/PredictionThresholdUnivariate.txt could not be written: File too large"),
            qPrintable(seen->text));
    }

    void a_run_that_wrote_every_file_shows_no_error_box() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(with_generations(2));
        w.show();
        // Any box is closed, and the watch is over before the next test.
        constexpr int kWatchMs = 2000;
        auto boxed = when_modal<QMessageBox>([](QMessageBox* box) { box->reject(); }, kWatchMs);
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        wait_for_the_end(w);
        QTest::qWait(kWatchMs + 100);
        QVERIFY(!*boxed);
    }

    // The search ends and appends its report; a stop during the refinement
    // leaves that report, and the search's model gets its inference.
    void stop_during_the_refinement_keeps_the_searchs_report_and_inference() {
        const RunFunction stopped_in_refinement = [](const RunConfig& c, const RunOptions& o) {
            RunOptions own = o;
            auto stop = std::make_shared<std::atomic<bool>>(false);
            own.stop = stop.get();
            own.refine_progress = [stop](const RefineProgress&) { *stop = true; };
            return run_search(c, own);
        };
        VelmoraDlg w(stopped_in_refinement, seedings_);
        w.set_parameters(small_real_run());
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        wait_for_the_end(w);
        const QString text = messages(w);
        QVERIFY2(text.contains("Refinement stopped after the search's 3 generations"),
                 qPrintable(text));
        QVERIFY(!text.contains("no best-model report was written"));
        QVERIFY(!QDir(workdir_->path()).entryList({"OutputThreshold*.txt"}, QDir::Files).isEmpty());
        QVERIFY(!QDir(workdir_->filePath("refined")).exists() ||
                QDir(workdir_->filePath("refined")).isEmpty());
        const QString page = best_model_text(w);
        QVERIFY2(page.contains("The refinement was stopped"), qPrintable(page));
        QVERIFY2(page.contains("Beside the linear VAR"), qPrintable(page));
        auto* chooser = w.findChild<QComboBox*>("coefficientModelChooser");
        QCOMPARE(chooser->count(), 1);
        QCOMPARE(chooser->itemText(0), QString("Best model"));
    }

    void refused_course_file_leaves_the_log_and_the_pages_data() {
        QTest::addColumn<QString>("course_file");
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("missing") << "assente.txt" << QByteArray();
        QByteArray comma;
        for (int t = 0; t < kRows; ++t) {
            comma += "0,25 -0,5\n";
        }
        QTest::newRow("decimal comma") << "virgola.txt" << comma;
    }

    void refused_course_file_leaves_the_log_and_the_pages() {
        QFETCH(QString, course_file);
        QFETCH(QByteArray, contents);
        if (!contents.isEmpty()) {
            QFile f(workdir_->filePath(course_file));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(contents);
        }
        VelmoraDlg w(&run_search, seedings_);
        auto* probe = new ProbeTab;
        w.add_results_tab(probe);
        w.set_parameters(small_real_run());
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        wait_for_the_end(w);
        const QByteArray log = ::velmora::gui::test::contents(workdir_->filePath("Output.txt"));
        QVERIFY(log.contains("casual="));
        const QString page = best_model_text(w);
        QVERIFY(!page.isEmpty());
        const int points = w.results_tab<SearchTab>()->best_points(1);
        QCOMPARE(points, 3);

        w.set_parameters(small_real_run(course_file.toStdString()));
        auto seen = answer_box();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!seen->text.isEmpty(), kRunTimeoutMs);
        QCOMPARE(seen->title, QString("Error"));
        QVERIFY2(seen->text.contains(course_file), qPrintable(seen->text));
        wait_for_the_end(w);
        // The seed line survives: the previous run can still be replayed.
        QCOMPARE(::velmora::gui::test::contents(workdir_->filePath("Output.txt")), log);
        QCOMPARE(best_model_text(w), page);
        QCOMPARE(w.results_tab<SearchTab>()->best_points(1), points);
        QCOMPARE(probe->started, 1);
        QCOMPARE(probe->finished, 1);
    }

    void after_stop_the_forecast_and_girf_pages_say_why() {
        script_->run_until_stopped();
        VelmoraDlg w(function_of(script_), seedings_);
        AnalysisChoices choices;
        choices.request.forecast = 5;
        choices.request.girf = 4;
        w.set_analysis_choices(choices);
        start_and_wait_for_a_generation(w);
        if (QTest::currentTestFailed()) {
            return;
        }
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        wait_for_the_end(w);
        for (const char* name : {"forecastNote", "girfNote"}) {
            const QString text = note(w, name);
            QVERIFY2(text.contains("stopped before its search ended"), qPrintable(text));
            QVERIFY2(!text.contains("before a run"), qPrintable(text));
        }
    }

    // 1000 rows, Min. Obs. Reg. 50 and order 2: two regimes need 102 rows.
    void holdout_leaving_too_few_rows_is_refused_before_the_run() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(with_generations(1));
        AnalysisChoices choices;
        choices.request.holdout = 899;
        w.set_analysis_choices(choices);
        w.show();
        auto seen = answer_box();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY(!seen->text.isEmpty());
        QVERIFY2(seen->text.startsWith("Hold-out: 899 of 1000 rows held out leaves 101 to search"),
                 qPrintable(seen->text));
        QCOMPARE(script_->calls.load(), 0);

        choices.request.holdout = 898;
        w.set_analysis_choices(choices);
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        wait_for_the_end(w);
        QCOMPARE(script_->calls.load(), 1);
        std::lock_guard lock(script_->mutex);
        QCOMPARE(script_->config.n_oss, 102);
    }

    // The file changes once the search has read it: the pages still show the
    // rows the run used, the held-out ones included.
    void pages_show_the_rows_read_for_the_run() {
        const double_matrix original = read_course_file("serie.txt", kRows, 2);
        const RunFunction then_rewrite = [](const RunConfig& c, const RunOptions& o) {
            RunResult r = run_search(c, o);
            std::FILE* f = std::fopen("serie.txt", "w");
            for (int t = 0; t < 2 * kRows; ++t) {
                std::fprintf(f, "%d %d\n", 100 + t, -t);
            }
            std::fclose(f);
            return r;
        };
        VelmoraDlg w(then_rewrite, seedings_);
        auto* probe = new ProbeTab;
        w.add_results_tab(probe);
        w.set_parameters(small_real_run());
        AnalysisChoices choices;
        choices.request.forecast = 3;
        choices.request.paths = 50;
        choices.request.holdout = 10;
        w.set_analysis_choices(choices);
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        wait_for_the_end(w);
        QCOMPARE(probe->finished, 1);
        const RunOutcome& o = probe->last;
        QVERIFY(o.series);
        QCOMPARE(o.series->n_oss, kRows - 10);
        QVERIFY(o.analyses.rows_read);
        QCOMPARE(o.analyses.rows_read->row_hi(), kRows);
        for (int t = 1; t <= kRows; ++t) {
            for (int c = 1; c <= 2; ++c) {
                QCOMPARE((*o.analyses.rows_read)[t][c], original[t][c]);
                if (t <= kRows - 10) {
                    QCOMPARE(o.series->value(t, c), original[t][c]);
                }
            }
        }
    }

    // A pipe nobody writes to: the window goes on, Stop ends the run, and
    // nothing was written.
    void pipe_without_a_writer_is_released_by_stop() {
        const std::string pipe = workdir_->filePath("pipe.txt").toStdString();
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        PipeWatchdog watchdog(pipe, 15000);
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(small_real_run("pipe.txt"));
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTest::qWait(300);
        QVERIFY(w.run_under_way());
        QVERIFY(button(w, "stopButton")->isEnabled());
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), 10000);
        QVERIFY(!watchdog.fired());
        QVERIFY2(messages(w).contains("Run stopped before its search began"),
                 qPrintable(messages(w)));
        QVERIFY(!QFile::exists(workdir_->filePath("Output.txt")));
        QCOMPARE(script_->calls.load(), 0);
    }

    // A pipe can be read once: the search, the charts and the analyses all
    // take what that one reading gave.
    void pipe_with_a_writer_is_read_once() {
        const std::string pipe = workdir_->filePath("pipe.txt").toStdString();
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        const QByteArray data = contents(workdir_->filePath("serie.txt"));
        std::thread writer([pipe, data] {
            std::FILE* f = std::fopen(pipe.c_str(), "w");
            if (f != nullptr) {
                std::fwrite(data.constData(), 1, static_cast<std::size_t>(data.size()), f);
                std::fclose(f);
            }
        });
        PipeWatchdog watchdog(pipe, 30000);
        VelmoraDlg w(&run_search, seedings_);
        auto* probe = new ProbeTab;
        w.add_results_tab(probe);
        w.set_parameters(small_real_run("pipe.txt"));
        w.findChild<QCheckBox*>("refineCheck")->setChecked(false);
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        wait_for_the_end(w);
        writer.join();
        QVERIFY(!watchdog.fired());
        QCOMPARE(probe->finished, 1);
        QCOMPARE(probe->last.status, RunOutcome::Status::completed);
        QVERIFY(probe->last.series);
        const double_matrix original = read_course_file("serie.txt", kRows, 2);
        QCOMPARE(probe->last.series->value(kRows, 2), original[kRows][2]);
    }

    void parameter_dialog_does_not_wait_for_a_pipe() {
        const std::string pipe = workdir_->filePath("pipe.txt").toStdString();
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        PipeWatchdog watchdog(pipe, 5000);
        ParGenAlgDlg dialog(ParameterValues{});
        dialog.show();
        auto* course = qobject_cast<QLineEdit*>(dialog.control(control::kCourseFile));
        QElapsedTimer timer;
        timer.start();
        course->setText(QString::fromStdString(pipe));
        emit course->editingFinished();
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(!watchdog.fired());
    }

    // The window hands every run's result to its pages and keeps none of it.
    void window_keeps_no_run_result_after_showing_it() {
        auto kept = std::make_shared<std::weak_ptr<const double_matrix>>();
        script_->finish = [kept](RunResult& r) {
            auto rows = std::make_shared<const double_matrix>(1, 10, 1, 2);
            *kept = rows;
            r.serie = rows;
        };
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(with_generations(2));
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        wait_for_the_end(w);
        QTRY_VERIFY(kept->expired());
    }

    // Replications run side by side: the message counts the generations of
    // the furthest one, not their sum.
    void stop_message_counts_the_generations_of_a_replication() {
        script_->run_until_stopped();
        script_->finish = [](RunResult& r) {
            r.generations = 18;
            for (int g : {5, 7, 6}) {
                ReplicationResult rep;
                rep.replication = static_cast<int>(r.replications.size()) + 1;
                rep.generations = g;
                rep.completed = false;
                r.replications.push_back(rep);
            }
        };
        VelmoraDlg w(function_of(script_), seedings_);
        w.findChild<QSpinBox*>("replicationsSpin")->setValue(3);
        start_and_wait_for_a_generation(w);
        if (QTest::currentTestFailed()) {
            return;
        }
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        wait_for_the_end(w);
        QVERIFY2(messages(w).contains("Run stopped before generation 7:"), qPrintable(messages(w)));
        const QString summary = w.findChild<QLabel*>("searchSummary")->text();
        QVERIFY2(summary.startsWith("Run stopped after 7 generations"), qPrintable(summary));
    }

    // Many replications: the legend names what the lines are instead of
    // squeezing one entry per line into unlabelled squares.
    void many_replications_keep_a_labelled_legend() {
        SearchTab tab;
        tab.resize(900, 500);
        tab.show();
        RunConfig config;
        config.maxgen = 3;
        tab.run_started(config);
        // Four replications keep a line each; the fifth turns the page to the
        // summary, which takes in the lines drawn so far. Replications arrive
        // out of order, as they do from several threads.
        const auto criterion = [](int r, int g) { return -1.0 - 0.01 * r - 0.001 * g; };
        const auto bred = [&](int from, int to) {
            std::vector<RunProgress> out;
            for (int r = to; r >= from; --r) {
                for (int g = 1; g <= 3; ++g) {
                    RunProgress p;
                    p.replication = r;
                    p.generation = g;
                    p.maxgen = 3;
                    p.best_criterion = criterion(r, g);
                    p.best_fitness = 1.0;
                    p.mean_criterion = p.best_criterion + 0.5 + 0.1 * (r % 2);
                    out.push_back(p);
                }
            }
            return out;
        };
        tab.add_generations(bred(1, 4));
        QCOMPARE(tab.best_points(4), 3);
        QVERIFY(!tab.shows_spread());
        tab.add_generations(bred(5, 40));
        QVERIFY(tab.shows_spread());
        QCOMPARE(tab.spread_dots(), 40 * 3);
        const QList<QPointF> lowest = tab.lowest_line();
        const QList<QPointF> average = tab.average_line();
        QCOMPARE(lowest.size(), 3);
        QCOMPARE(average.size(), 3);
        for (int g = 1; g <= 3; ++g) {
            QCOMPARE(lowest[g - 1].x(), double(g));
            QCOMPARE(lowest[g - 1].y(), criterion(40, g));
            double sum = 0.0;
            for (int r = 1; r <= 40; ++r) {
                sum += criterion(r, g) + 0.5 + 0.1 * (r % 2);
            }
            QVERIFY(std::abs(average[g - 1].y() - sum / 40.0) < 1e-12);
        }
        QApplication::processEvents();
        QStringList shown;
        for (QLegendMarker* marker : tab.chart_view()->chart()->legend()->markers()) {
            QVERIFY(marker->isVisible());
            shown << marker->label();
        }
        QCOMPARE(shown, QStringList({"Best criterion of each replication",
                                     "Lowest best criterion of 40 replications",
                                     "Mean criterion, average of the replications"}));
        // Each label is drawn whole, none elided.
        QStringList drawn;
        for (QGraphicsItem* item : tab.chart_view()->scene()->items()) {
            if (const auto* text = dynamic_cast<const QGraphicsTextItem*>(item)) {
                if (text->isVisible()) {
                    drawn << text->toPlainText();
                }
            }
        }
        for (const QString& label : shown) {
            QVERIFY2(drawn.contains(label), qPrintable(drawn.join(" | ")));
        }
        // A new run starts with lines again.
        tab.run_started(config);
        tab.add_generations(bred(1, 1));
        QVERIFY(!tab.shows_spread());
        QCOMPARE(tab.best_points(1), 3);
    }

    // Without any display: a platform that does not exist would end the
    // program if it made its application object.
    void help_and_version_need_no_display() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "no-such-platform");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        for (const QString& option : {QStringLiteral("--help"), QStringLiteral("--version")}) {
            QProcess program;
            program.setProcessEnvironment(env);
            program.start(VELMORA_GUI_PATH, {option});
            QVERIFY(program.waitForFinished(20000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
            const QString out = QString::fromUtf8(program.readAllStandardOutput());
            if (option == QLatin1String("--help")) {
                QVERIFY2(out.startsWith("Usage: velmora-gui"), qPrintable(out));
                QVERIFY(out.contains("--screenshots DIR [COURSE_FILE]"));
            } else {
                QCOMPARE(out, QString("velmora-gui 1.0\n"));
            }
        }
    }

  private:
    SeedingCounter seedings_;
    std::shared_ptr<ScriptedRun> script_;
    std::unique_ptr<QTemporaryDir> workdir_;
};

int run_run_outcomes_tests(int argc, char** argv) {
    RunOutcomesTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_run_outcomes.moc"
