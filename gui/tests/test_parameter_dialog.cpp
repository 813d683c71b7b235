// The parameter dialog as the user meets it: what it shows, when OK refuses
// to close and where the focus goes, and what Cancel leaves behind.

#include <QAbstractButton>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "modal.hpp"
#include "parameter_dialog.hpp"
#include "suites.hpp"

namespace velmora::gui::test {

namespace {

QLineEdit* edit_of(const ParGenAlgDlg& dialog, int id) {
    return qobject_cast<QLineEdit*>(dialog.control(id));
}

QAbstractButton* radio_of(const ParGenAlgDlg& dialog, int id) {
    return qobject_cast<QAbstractButton*>(dialog.control(id));
}

void type_into(const ParGenAlgDlg& dialog, int id, const QString& text) {
    QLineEdit* edit = edit_of(dialog, id);
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->text(), text);
}

ParameterValues chosen_values() {
    ParameterValues v;
    v.config.selection_choice = 3;
    v.config.crossover_choice = 2;
    v.config.scaling_method = 4;
    v.config.scaling_window = 5.0;
    v.config.popsize = 20;
    v.config.course_file = "cambi.txt";
    v.config.model.max_order = 3;
    v.crowding = 1;
    return v;
}

}  // namespace

class ParameterDialogTest : public QObject {
    Q_OBJECT
  private slots:
    void shows_the_captions_of_its_groups_and_buttons() {
        ParGenAlgDlg dialog{ParameterValues{}};
        QCOMPARE(dialog.windowTitle(), QString("Dialog"));
        QStringList groups;
        for (const QGroupBox* box : dialog.findChildren<QGroupBox*>()) {
            groups << box->title();
        }
        groups.sort();
        QCOMPARE(groups, QStringList({"Crossover Methods", "Fitness Scaling Methods",
                                      "Others Parameters", "Selection", "Time Series Parameter"}));
        // The trailing blanks belong to the captions.
        QCOMPARE(radio_of(dialog, control::kTournament)->text(), QString("Tournament "));
        QCOMPARE(radio_of(dialog, control::kUniform)->text(), QString("Uniform "));
        QCOMPARE(radio_of(dialog, control::kLinear)->text(), QString("Linear "));
        QCOMPARE(radio_of(dialog, control::kBoltzmann)->text(), QString("Boltzmann "));
        QCOMPARE(radio_of(dialog, control::kAutoControl)->text(), QString("AutoControll "));
        QCOMPARE(radio_of(dialog, control::kWindow)->text(), QString("Window "));
    }

    // The buttons come from the method tables: each choice number checks the
    // button of its method, whose caption is the historical one.
    void every_choice_number_checks_its_own_captioned_button() {
        struct Button {
            int choice;
            int id;
            const char* caption;
        };
        const Button selection[] = {
            {0, control::kRoulette, "Roulette Wheel"},
            {1, control::kStochasticRemainder, "Stochastic Remainder"},
            {2, control::kTournament, "Tournament "},
            {3, control::kUniversalSampling, "Stochastic Universal Sampling"}};
        const Button crossover[] = {{0, control::kOnePoint, "One Point"},
                                    {1, control::kTwoPoint, "Two Point"},
                                    {2, control::kUniform, "Uniform "}};
        const Button scaling[] = {{0, control::kLinear, "Linear "},
                                  {1, control::kBoltzmann, "Boltzmann "},
                                  {2, control::kAutoControl, "AutoControll "},
                                  {3, control::kSigmaTruncation, "Sigma Truncation"},
                                  {4, control::kWindow, "Window "}};
        const auto check = [](const auto& buttons, int ParameterFields::*field,
                              int RunConfig::*choice) {
            for (const Button& b : buttons) {
                ParameterValues v;
                v.config.*choice = b.choice;
                ParGenAlgDlg dialog{v};
                QCOMPARE(radio_of(dialog, b.id)->text(), QString(b.caption));
                QVERIFY2(radio_of(dialog, b.id)->isChecked(), b.caption);
                QCOMPARE(dialog.fields().*field, b.choice);
                for (const Button& other : buttons) {
                    QCOMPARE(radio_of(dialog, other.id)->isChecked(), other.id == b.id);
                }
            }
        };
        check(selection, &ParameterFields::selection, &RunConfig::selection_choice);
        check(crossover, &ParameterFields::crossover, &RunConfig::crossover_choice);
        check(scaling, &ParameterFields::scaling, &RunConfig::scaling_method);
    }

    void groups_sit_where_the_layout_puts_them() {
        ParGenAlgDlg dialog{ParameterValues{}};
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QHash<QString, QRect> at;
        for (const QGroupBox* box : dialog.findChildren<QGroupBox*>()) {
            at.insert(box->title(), box->geometry());
        }
        const QRect selection = at.value("Selection");
        const QRect crossover = at.value("Crossover Methods");
        const QRect series = at.value("Time Series Parameter");
        const QRect scaling = at.value("Fitness Scaling Methods");
        const QRect others = at.value("Others Parameters");
        QVERIFY(selection.bottom() < crossover.top());
        QVERIFY(crossover.bottom() < series.top());
        QVERIFY(scaling.bottom() < others.top());
        QVERIFY(selection.right() < scaling.left());
        QVERIFY(series.right() < others.left());
        const QWidget* ok = dialog.findChild<QWidget*>("okButton");
        QVERIFY(ok->mapTo(&dialog, QPoint(0, 0)).x() > scaling.right());
    }

    void opens_with_the_values_it_is_given() {
        ParGenAlgDlg dialog(chosen_values());
        QVERIFY(radio_of(dialog, control::kUniversalSampling)->isChecked());
        QVERIFY(!radio_of(dialog, control::kRoulette)->isChecked());
        QVERIFY(radio_of(dialog, control::kUniform)->isChecked());
        QVERIFY(radio_of(dialog, control::kWindow)->isChecked());
        QCOMPARE(edit_of(dialog, control::kScalingWindow)->text(), QString("5"));
        QCOMPARE(edit_of(dialog, control::kPopsize)->text(), QString("20"));
        QCOMPARE(edit_of(dialog, control::kCourseFile)->text(), QString("cambi.txt"));
        QCOMPARE(edit_of(dialog, control::kMaxOrder)->text(), QString("3"));
        QCOMPARE(edit_of(dialog, control::kCrowding)->text(), QString("1"));
    }

    // Several wrong fields: each OK stops at the earliest one, says why and
    // puts the focus there; the dialog stays open and keeps its old values.
    void ok_stops_at_the_first_bad_field_each_time() {
        ParGenAlgDlg dialog{ParameterValues{}};
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        type_into(dialog, control::kPopsize, "fifty");
        type_into(dialog, control::kNoss, "1000.5");
        type_into(dialog, control::kMaxOrder, "5");
        type_into(dialog, control::kPcross, "0,9");

        const struct {
            int id;
            QString fix;
            const char* message;
        } steps[] = {
            {control::kPcross, "0.8", "Please enter a number."},
            {control::kPopsize, "30", "Please enter an integer."},
            {control::kNoss, "900", "Please enter an integer."},
            {control::kMaxOrder, "4", "Please enter an integer between 1 and 4."},
        };
        for (const auto& step : steps) {
            auto seen = answer_box();
            QTest::mouseClick(dialog.findChild<QAbstractButton*>("okButton"), Qt::LeftButton);
            QCOMPARE(seen->text, QString(step.message));
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(dialog.focusWidget(), dialog.control(step.id));
            QCOMPARE(edit_of(dialog, step.id)->selectedText(), edit_of(dialog, step.id)->text());
            QVERIFY(dialog.values() == ParameterValues{});
            type_into(dialog, step.id, step.fix);
        }

        QTest::mouseClick(dialog.findChild<QAbstractButton*>("okButton"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.values().config.pcross, 0.8);
        QCOMPARE(dialog.values().config.popsize, 30);
        QCOMPARE(dialog.values().config.n_oss, 900);
        QCOMPARE(dialog.values().config.model.max_order, 4);
    }

    void max_order_var_five_is_refused() {
        ParGenAlgDlg dialog{ParameterValues{}};
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        type_into(dialog, control::kPopsize, "10");
        type_into(dialog, control::kMaxOrder, "5");
        auto seen = answer_box();
        QTest::mouseClick(dialog.findChild<QAbstractButton*>("okButton"), Qt::LeftButton);
        QCOMPARE(seen->text, QString("Please enter an integer between 1 and 4."));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.focusWidget(), dialog.control(control::kMaxOrder));
        // Nothing is copied, not even the fields that did convert.
        QCOMPARE(dialog.values().config.popsize, 50);
        QCOMPARE(dialog.values().config.model.max_order, 2);
        dialog.reject();
    }

    void choosing_a_file_fills_the_sizes_but_keeps_typed_ones() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto write = [&dir](const char* name, const QByteArray& text) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        QByteArray csv = "date,a,b,c\n";
        for (int t = 1; t <= 45; ++t) {
            csv += QByteArray::number(t) + "," + QByteArray::number(t % 3) + ",1,2\n";
        }
        write("three.csv", csv);
        write("pairs.txt", "1 2\n3 4\n5 6\n7 8\n");
        write("stream.txt", "1\n2\n3\n4\n5\n6\n");

        ParGenAlgDlg dialog{ParameterValues{}};
        QLineEdit* course = edit_of(dialog, control::kCourseFile);
        const auto choose = [&](const char* name) {
            course->setText(dir.filePath(QString::fromLatin1(name)));
            emit course->editingFinished();
        };
        choose("three.csv");
        QCOMPARE(edit_of(dialog, control::kNoss)->text(), QString("45"));
        QCOMPARE(edit_of(dialog, control::kNcomp)->text(), QString("3"));
        // A file that cannot be cut into rows leaves the fields alone.
        choose("stream.txt");
        QCOMPARE(edit_of(dialog, control::kNoss)->text(), QString("45"));
        // A typed observation count stays; the components still follow.
        type_into(dialog, control::kNoss, "30");
        choose("pairs.txt");
        QCOMPARE(edit_of(dialog, control::kNoss)->text(), QString("30"));
        QCOMPARE(edit_of(dialog, control::kNcomp)->text(), QString("2"));
        // With both typed, choosing a file changes neither.
        type_into(dialog, control::kNcomp, "3");
        choose("stream.txt");
        QCOMPARE(edit_of(dialog, control::kNoss)->text(), QString("30"));
        QCOMPARE(edit_of(dialog, control::kNcomp)->text(), QString("3"));
    }

    void stream_is_cut_by_typed_components() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath("stream.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1\n2\n3\n4\n5\n6\n");
        file.close();
        ParGenAlgDlg dialog{ParameterValues{}};
        type_into(dialog, control::kNcomp, "2");
        QLineEdit* course = edit_of(dialog, control::kCourseFile);
        course->setText(file.fileName());
        emit course->editingFinished();
        QCOMPARE(edit_of(dialog, control::kNoss)->text(), QString("3"));
        QCOMPARE(edit_of(dialog, control::kNcomp)->text(), QString("2"));
    }

    void cancel_keeps_the_values_it_was_opened_with() {
        const ParameterValues before = chosen_values();
        ParGenAlgDlg dialog(before);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        type_into(dialog, control::kPopsize, "99");
        radio_of(dialog, control::kTournament)->click();
        QTest::mouseClick(dialog.findChild<QAbstractButton*>("cancelButton"), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(dialog.values() == before);
    }
};

int run_parameter_dialog_tests(int argc, char** argv) {
    ParameterDialogTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_parameter_dialog.moc"
