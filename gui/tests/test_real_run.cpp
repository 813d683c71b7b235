// The main window driving the core's real run on a short series: the
// generation display, the files in the working directory, a stopped run, and
// the failures that must leave the window open.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>

#include "app/run_driver.hpp"
#include "main_window.hpp"
#include "modal.hpp"
#include "suites.hpp"
#include "threshold_series.hpp"
#include "window_probe.hpp"

namespace velmora::gui::test {

namespace {

constexpr int kRunTimeoutMs = 120000;
constexpr int kObservations = 60;

// Two components with a regime switch: the second follows the first with a
// coefficient whose sign depends on the first's level.
constexpr SwitchingDynamics kDynamics{12345, 0.6, 0.5, -0.4, 0.3};

ParameterValues small_run() {
    ParameterValues p = short_search(3, kObservations);
    p.config.popsize = 4;
    p.config.model.min_obs_per_regime = 5;
    return p;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool any_result_file(const QDir& dir) {
    return !dir.entryList({"OutputThreshold*.txt"}, QDir::Files).isEmpty();
}

}  // namespace

class RealRunTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        workdir_ = enter_fresh_folder();
        QVERIFY(workdir_ != nullptr);
        write_threshold_series(workdir_->filePath("serie.txt"), kObservations, kDynamics);
    }

    void cleanup() { leave_folder(workdir_); }

    void small_run_from_ok_ends_at_the_last_generation() {
        VelmoraDlg w(&run_search, seedings_);
        w.set_parameters(small_run());
        w.show();
        for (int run = 0; run < 2; ++run) {
            QFile::remove(workdir_->filePath("Output.txt"));
            QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
            QCOMPARE(generation_text(w), QString("2"));
            QVERIFY(w.isVisible());
            QVERIFY(button(w, "parameterButton")->isEnabled());
            const QByteArray log = contents(workdir_->filePath("Output.txt"));
            QVERIFY2(log.startsWith("MaxGen =3\npopsize =4\n"), log.constData());
            QVERIFY(log.contains("casual="));
            QVERIFY(any_result_file(QDir(workdir_->path())));
        }
        QCOMPARE(w.findChild<QLabel*>("replicationDisplay")->text(), QString());
    }

    void runs_of_one_process_continue_its_seeding_count() {
        VelmoraDlg w(&run_search, seedings_);
        w.set_parameters(small_run());
        w.show();
        const int before = seedings_.count;
        for (int run = 1; run <= 2; ++run) {
            const auto start = static_cast<std::uint32_t>(std::time(nullptr));
            QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
            const auto end = static_cast<std::uint32_t>(std::time(nullptr));
            const QByteArray log = contents(workdir_->filePath("Output.txt"));
            const qsizetype at = log.indexOf("casual=");
            QVERIFY(at >= 0);
            const int casual = log.mid(at + 7, log.indexOf('\n', at) - at - 7).toInt();
            // The clock seed of the n-th seeding of the process: the time
            // multiplied by n, whatever second the run started in.
            const std::uint32_t count = static_cast<std::uint32_t>(before + run);
            bool matches = false;
            for (std::uint32_t t = start; t <= end; ++t) {
                std::minstd_rand0 clock_generator(t * count);
                matches = matches || static_cast<int>(clock_generator() % 1000u) == casual;
            }
            QVERIFY2(matches, qPrintable(QString("run %1: casual=%2").arg(run).arg(casual)));
        }
        QCOMPARE(seedings_.count, before + 2);
    }

    void stopped_run_leaves_the_log_without_a_report() {
        VelmoraDlg w(&run_search, seedings_);
        ParameterValues p = small_run();
        p.config.maxgen = 1000000;
        w.set_parameters(p);
        start_and_wait_for_a_generation(w, kRunTimeoutMs);
        if (QTest::currentTestFailed()) {
            return;
        }
        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        const QByteArray log = contents(workdir_->filePath("Output.txt"));
        QVERIFY(log.startsWith("MaxGen =1000000\n"));
        QVERIFY(log.contains("lchrom ="));
        QVERIFY(log.contains("casual="));
        QVERIFY(!any_result_file(QDir(workdir_->path())));
        QVERIFY(messages(w).contains("stopped"));
    }

    void refused_runs_show_the_box_and_keep_the_window_data() {
        QTest::addColumn<QString>("course_file");
        QTest::addColumn<int>("scaling");
        QTest::addColumn<double>("beta");
        QTest::addColumn<int>("selection");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing course file")
            << "assente.txt" << 0 << 0.0 << 0 << "File assente.txt could not be opened";
        QTest::newRow("negative Boltzmann constant")
            << "serie.txt" << 1 << -1.0 << 0 << "Bolzman constant must be >= 0";
        QTest::newRow("automatic control without universal sampling")
            << "serie.txt" << 2 << 0.0 << 0
            << "OOPS, Automatic control of selection uses suselect.c, Stochastic Universal "
               "Sampling,\nand that is not the selection method loaded.\nPlease load that and "
               "rerun.";
    }

    void refused_runs_show_the_box_and_keep_the_window() {
        QFETCH(QString, course_file);
        QFETCH(int, scaling);
        QFETCH(double, beta);
        QFETCH(int, selection);
        QFETCH(QString, text);
        ParameterValues p = small_run();
        p.config.course_file = course_file.toStdString();
        p.config.scaling_method = scaling;
        p.config.beta = beta;
        p.config.selection_choice = selection;
        VelmoraDlg w(&run_search, seedings_);
        w.set_parameters(p);
        w.show();
        expect_error_box_after_ok(w, text, kRunTimeoutMs);
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(w.parameters() == p);

        // The same window runs again once the setting is put right.
        w.set_parameters(small_run());
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        QCOMPARE(generation_text(w), QString("2"));
    }

  private:
    SeedingCounter seedings_;
    std::unique_ptr<QTemporaryDir> workdir_;
};

int run_real_run_tests(int argc, char** argv) {
    RealRunTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_real_run.moc"
