// The main window with a scripted run: parameters kept across the dialog,
// buttons during and after a run, stopping, quitting during a run, failure
// boxes, the message area and the About box.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include "about_box.hpp"
#include "app/validate.hpp"
#include "main_window.hpp"
#include "modal.hpp"
#include "parameter_dialog.hpp"
#include "scripted_run.hpp"
#include "signal_console.hpp"
#include "suites.hpp"
#include "threshold_series.hpp"
#include "window_probe.hpp"

namespace velmora::gui::test {

namespace {

constexpr int kRunTimeoutMs = 20000;

// Opens the parameter dialog from the window, lets `act` work on it and
// returns what it showed when it opened.
ParameterFields through_parameter_dialog(VelmoraDlg& window,
                                         const std::function<void(ParGenAlgDlg*)>& act) {
    ParameterFields shown;
    auto done = when_modal<ParGenAlgDlg>([&](ParGenAlgDlg* dialog) {
        shown = dialog->fields();
        act(dialog);
    });
    QTest::mouseClick(button(window, "parameterButton"), Qt::LeftButton);
    if (!*done) {
        qWarning("the parameter dialog did not open");
    }
    return shown;
}

void set_edit(ParGenAlgDlg* dialog, int id, const QString& text) {
    qobject_cast<QLineEdit*>(dialog->control(id))->setText(text);
}

void click(ParGenAlgDlg* dialog, const char* name) {
    dialog->findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        script_ = std::make_shared<ScriptedRun>();
        QVERIFY(workdir_.isValid());
        QVERIFY(QDir::setCurrent(workdir_.path()));
        write_default_course_file(workdir_.path());
    }

    void starts_with_empty_displays_and_the_dialog_defaults() {
        VelmoraDlg w(function_of(script_), seedings_);
        QCOMPARE(w.windowTitle(), QString("Velmora"));
        QVERIFY(!w.windowIcon().isNull());
        QCOMPARE(button(w, "okButton")->text(), QString("OK"));
        QVERIFY(button(w, "okButton")->isDefault());
        QCOMPARE(button(w, "cancelButton")->text(), QString("Annulla"));
        QCOMPARE(button(w, "parameterButton")->text(), QString("Parameter"));
        QVERIFY(!button(w, "stopButton")->isEnabled());
        QCOMPARE(generation_text(w), QString());
        QCOMPARE(w.findChild<QLabel*>("replicationDisplay")->text(), QString());
        QCOMPARE(w.findChild<QSpinBox*>("threadsSpin")->value(),
                 std::max(1, QThread::idealThreadCount()));
        QVERIFY(w.parameters() == ParameterValues{});
    }

    // OK of the dialog copies, Cancel leaves the settings alone, and the
    // dialog always opens with what the window holds.
    void parameter_dialog_opens_with_the_current_values() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.show();
        const ParameterFields first = through_parameter_dialog(w, [](ParGenAlgDlg* d) {
            set_edit(d, control::kPopsize, "20");
            set_edit(d, control::kCrowding, "3");
            d->control(control::kTournament)->setProperty("checked", true);
            set_edit(d, control::kTourneySize, "4");
            click(d, "okButton");
        });
        QVERIFY(first == fields_from_values(ParameterValues{}));
        QCOMPARE(w.parameters().config.popsize, 20);
        QCOMPARE(w.parameters().config.selection_choice, 2);
        QCOMPARE(w.parameters().config.tourneysize, 4);
        QCOMPARE(w.parameters().crowding, 3);
        const ParameterValues chosen = w.parameters();

        const ParameterFields second = through_parameter_dialog(w, [](ParGenAlgDlg* d) {
            set_edit(d, control::kPopsize, "30");
            set_edit(d, control::kMaxOrder, "1");
            click(d, "cancelButton");
        });
        QVERIFY(second == fields_from_values(chosen));
        QVERIFY(w.parameters() == chosen);

        const ParameterFields third =
            through_parameter_dialog(w, [](ParGenAlgDlg* d) { click(d, "cancelButton"); });
        QCOMPARE(third.popsize, std::string("20"));
        QCOMPARE(third.max_order, std::string("2"));
    }

    void ok_runs_with_the_defaults_before_the_dialog_was_opened() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.findChild<QSpinBox*>("threadsSpin")->setValue(3);
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        QCOMPARE(script_->calls.load(), 1);
        QVERIFY(!script_->on_gui_thread.load());
        std::lock_guard lock(script_->mutex);
        QVERIFY(same_config(script_->config, RunConfig{}));
        QCOMPARE(script_->threads, 3);
        QCOMPARE(script_->workdir, std::filesystem::current_path());
        QVERIFY(script_->had_console);
        QVERIFY(script_->had_stop_flag);
    }

    // Replications and Refine reach the run; the replication display shows
    // the replication under way only when there are several.
    void replications_and_refine_reach_the_run() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(with_generations(2));
        QCOMPARE(w.findChild<QSpinBox*>("replicationsSpin")->value(), 1);
        QVERIFY(w.findChild<QCheckBox*>("refineCheck")->isChecked());
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        {
            std::lock_guard lock(script_->mutex);
            QCOMPARE(script_->replications, 1);
            QVERIFY(script_->refine);
        }
        QCOMPARE(w.findChild<QLabel*>("replicationDisplay")->text(), QString());

        w.findChild<QSpinBox*>("replicationsSpin")->setValue(3);
        w.findChild<QCheckBox*>("refineCheck")->setChecked(false);
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        {
            std::lock_guard lock(script_->mutex);
            QCOMPARE(script_->replications, 3);
            QVERIFY(!script_->refine);
        }
        QCOMPARE(w.findChild<QLabel*>("replicationDisplay")->text(), QString("3"));
    }

    // Select orders is offered only where the command line takes
    // --select-order: with an information criterion and the refinement.
    void order_selection_needs_an_information_criterion_and_reaches_the_run() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(with_generations(2));
        auto* criterion = w.findChild<QComboBox*>("criterionCombo");
        auto* select = w.findChild<QCheckBox*>("selectOrderCheck");
        auto* refine = w.findChild<QCheckBox*>("refineCheck");
        QVERIFY(criterion != nullptr && select != nullptr);
        QCOMPARE(criterion->currentText(), QString("classic"));
        QVERIFY(!select->isEnabled());
        criterion->setCurrentIndex(criterion->findText("bic"));
        QVERIFY(select->isEnabled());
        select->setChecked(true);
        refine->setChecked(false);
        QVERIFY(!select->isEnabled());
        refine->setChecked(true);
        QVERIFY(select->isEnabled());
        w.show();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        {
            std::lock_guard lock(script_->mutex);
            QCOMPARE(script_->config.model.criterion, Criterion::bic);
            QVERIFY(script_->config.select_orders);
        }
        // Back to the classic criterion, the box still checked counts for
        // nothing.
        criterion->setCurrentIndex(criterion->findText("classic"));
        QVERIFY(select->isChecked());
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        {
            std::lock_guard lock(script_->mutex);
            QCOMPARE(script_->config.model.criterion, Criterion::classic);
            QVERIFY(!script_->config.select_orders);
        }
    }

    void generation_display_follows_the_run_and_ok_works_again() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.set_parameters(with_generations(3));
        w.show();
        for (int run = 1; run <= 2; ++run) {
            QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
            QCOMPARE(generation_text(w), QString("2"));
            QVERIFY(w.isVisible());
            QVERIFY(button(w, "parameterButton")->isEnabled());
            QVERIFY(!button(w, "stopButton")->isEnabled());
            QCOMPARE(script_->calls.load(), run);
        }
        QVERIFY(messages(w).contains("lchrom =70\n"));
        QVERIFY(!messages(w).contains("stopped"));
    }

    void buttons_are_locked_while_a_run_is_under_way() {
        script_->run_until_stopped();
        VelmoraDlg w(function_of(script_), seedings_);
        start_and_wait_for_a_generation(w);
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(w.run_under_way());
        QVERIFY(!button(w, "okButton")->isEnabled());
        QVERIFY(!button(w, "parameterButton")->isEnabled());
        QVERIFY(!w.findChild<QSpinBox*>("threadsSpin")->isEnabled());
        QVERIFY(!w.findChild<QSpinBox*>("replicationsSpin")->isEnabled());
        QVERIFY(!w.findChild<QCheckBox*>("refineCheck")->isEnabled());
        QVERIFY(button(w, "stopButton")->isEnabled());
        // A second start while one runs is ignored, not queued.
        w.start_run();
        QCOMPARE(script_->calls.load(), 1);

        QTest::mouseClick(button(w, "stopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "okButton")->isEnabled(), kRunTimeoutMs);
        QVERIFY(!w.run_under_way());
        QVERIFY(w.isVisible());
        QVERIFY(messages(w).contains("Run stopped before generation "));
        QVERIFY(messages(w).contains("no best-model report"));
    }

    // Refused configurations, course files and the engine's fault are covered
    // with the real run; a singular matrix is hard to provoke with real data.
    void numeric_failure_shows_an_error_box() {
        const QString text =
            "Numerical Recipes run-time error...\nsingular matrix in routine ludcmp\n"
            "...now exiting to system...\n";
        script_->mode = ScriptedRun::Mode::numeric_error;
        script_->failure_text = text.toStdString();
        VelmoraDlg w(function_of(script_), seedings_);
        w.show();
        expect_error_box_after_ok(w, text, kRunTimeoutMs);
    }

    // The window's own check refuses a configuration before a run starts,
    // with the text of the configuration check.
    void rejected_configuration_shows_the_box_and_keeps_the_window() {
        VelmoraDlg w(function_of(script_), seedings_);
        ParameterValues p;
        p.config.n_comp = 1;
        p.config.popsize = 12;
        w.set_parameters(p);
        w.show();
        QString expected;
        try {
            validate(p.config).enforce(CheckPoint::configuration);
        } catch (const ConfigError& e) {
            expected = QString::fromStdString(e.what());
        }
        QVERIFY(!expected.isEmpty());
        auto seen = answer_box();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QCOMPARE(seen->title, QString("Error"));
        QCOMPARE(seen->icon, QMessageBox::Critical);
        QCOMPARE(seen->text, expected);
        QCOMPARE(script_->calls.load(), 0);
        QVERIFY(w.isVisible());
        QVERIFY(button(w, "okButton")->isEnabled());
        QCOMPARE(w.parameters().config.popsize, 12);
    }

    void console_lines_reach_the_message_area_as_written() {
        script_->mode = ScriptedRun::Mode::engine_fault;
        script_->failure_text = "Please load that and rerun.";
        VelmoraDlg w(function_of(script_), seedings_);
        w.show();
        auto seen = answer_box();
        QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!seen->text.isEmpty(), kRunTimeoutMs);
        // The run's start is announced; a piece without a line end stays
        // unbroken after it.
        QVERIFY(messages(w).startsWith("Run started: "));
        QVERIFY(messages(w).endsWith("\nOOPS, Automatic control of selection uses "));
    }

    void annulla_during_a_run_asks_first() {
        script_->run_until_stopped();
        VelmoraDlg w(function_of(script_), seedings_);
        start_and_wait_for_a_generation(w);
        if (QTest::currentTestFailed()) {
            return;
        }

        auto no = answer_box(QMessageBox::No);
        QTest::mouseClick(button(w, "cancelButton"), Qt::LeftButton);
        QVERIFY(!no->text.isEmpty());
        QVERIFY(w.isVisible());
        QVERIFY(w.run_under_way());

        QSignalSpy finished(&w, &QDialog::finished);
        auto yes = answer_box(QMessageBox::Yes);
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!yes->text.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kRunTimeoutMs);
        QVERIFY(!w.isVisible());
        QVERIFY(!w.run_under_way());
    }

    void annulla_without_a_run_closes_at_once() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.show();
        QTest::mouseClick(button(w, "cancelButton"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.result(), int(QDialog::Rejected));
    }

    void window_closed_during_a_run_stops_it() {
        script_->run_until_stopped();
        {
            VelmoraDlg w(function_of(script_), seedings_);
            start_and_wait_for_a_generation(w);
            if (QTest::currentTestFailed()) {
                return;
            }
        }
        // The destructor asked the run to stop and waited for it.
        QCOMPARE(script_->calls.load(), 1);
    }

    void about_box_opens_from_f1_and_the_context_menu_entry() {
        VelmoraDlg w(function_of(script_), seedings_);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* about = w.findChild<QAction*>("aboutAction");
        QVERIFY(about);
        QCOMPARE(about->text(), QString("Infor&mazioni su Velmora..."));
        QCOMPARE(about->shortcut(), QKeySequence(Qt::Key_F1));
        QVERIFY(w.actions().contains(about));
        QCOMPARE(w.contextMenuPolicy(), Qt::ActionsContextMenu);

        QString title;
        QStringList texts;
        auto opened = when_modal<AboutBox>([&](AboutBox* box) {
            title = box->windowTitle();
            for (const QLabel* label : box->findChildren<QLabel*>()) {
                texts << label->text();
            }
            box->findChild<QPushButton*>("okButton")->click();
        });
        QTest::keyClick(&w, Qt::Key_F1);
        QVERIFY(*opened);
        QCOMPARE(title, QString("Informazioni su Velmora"));
        QVERIFY(texts.contains("Velmora Versione 1.0"));
    }

    // Text written on other threads arrives on the GUI thread, in order.
    void signal_console_forwards_across_threads_in_order() {
        SignalConsole console;
        QStringList received;
        bool all_on_gui_thread = true;
        QObject receiver;
        QObject::connect(&console, &SignalConsole::written, &receiver,
                         [&](const QString& text, bool error) {
                             all_on_gui_thread &= QThread::currentThread() == qApp->thread();
                             received << (error ? "E:" : "O:") + text;
                         });
        std::thread writer([&console] {
            for (int i = 0; i < 200; ++i) {
                console.out("individual:" + std::to_string(i) + "\n");
                if (i % 50 == 0) {
                    console.err("piece");
                }
            }
        });
        writer.join();
        QTRY_COMPARE(received.size(), 204);
        QVERIFY(all_on_gui_thread);
        QCOMPARE(received.front(), QString("O:individual:0\n"));
        QCOMPARE(received.at(1), QString("E:piece"));
        QCOMPARE(received.back(), QString("O:individual:199\n"));
    }

  private:
    SeedingCounter seedings_;
    std::shared_ptr<ScriptedRun> script_;
    QTemporaryDir workdir_;
};

int run_main_window_tests(int argc, char** argv) {
    MainWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_main_window.moc"
