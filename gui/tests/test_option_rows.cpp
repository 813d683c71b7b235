// The parameter dialog built from the option table: a control and its label
// for every row of the dialog, and the bounds of a row as the dialog's check.

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSet>
#include <QTest>

#include "options/bindings.hpp"
#include "parameter_dialog.hpp"
#include "suites.hpp"

namespace velmora::gui::test {

namespace {

QString label_text(const options::OptionRow& row) {
    return QString::fromLatin1(row.dialog_label.data(),
                               static_cast<qsizetype>(row.dialog_label.size()));
}

// The label a form shows beside a control, or null.
const QLabel* label_beside(const ParGenAlgDlg& dialog, QWidget* field) {
    for (const QFormLayout* form : dialog.findChildren<QFormLayout*>()) {
        if (const auto* label = qobject_cast<const QLabel*>(form->labelForField(field))) {
            return label;
        }
    }
    return nullptr;
}

}  // namespace

class OptionRowsTest : public QObject {
    Q_OBJECT
  private slots:
    void every_row_of_the_dialog_has_its_edit_and_its_label() {
        ParGenAlgDlg dialog{ParameterValues{}};
        QSet<QWidget*> seen;
        QStringList labels;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            labels << label->text();
        }
        for (const options::OptionRow* row : options::all_rows) {
            if (!row->on(options::kDialog)) {
                continue;
            }
            if (row->kind == options::Kind::choice) {
                continue;  // radio buttons: see below
            }
            QWidget* control = dialog.control(control::edit_id(*row));
            auto* edit = qobject_cast<QLineEdit*>(control);
            QVERIFY2(edit != nullptr, row->name.data());
            QVERIFY2(!seen.contains(edit), row->name.data());
            seen.insert(edit);
            if (row->dialog_label.empty()) {
                continue;
            }
            QVERIFY2(labels.contains(label_text(*row)), row->name.data());
            // The course file's edit shares its line with "Browse…".
            if (row != &options::course_file) {
                const QLabel* label = label_beside(dialog, edit);
                QVERIFY2(label != nullptr, row->name.data());
                QCOMPARE(label->text(), label_text(*row));
            }
        }
    }

    void radio_buttons_and_edits_have_ids_of_their_own() {
        ParGenAlgDlg dialog{ParameterValues{}};
        QSet<QWidget*> radios;
        for (QRadioButton* radio : dialog.findChildren<QRadioButton*>()) {
            radios.insert(radio);
        }
        QCOMPARE(radios.size(), 12);
        const int ids[] = {control::kRoulette,        control::kStochasticRemainder,
                           control::kTournament,      control::kUniversalSampling,
                           control::kOnePoint,        control::kTwoPoint,
                           control::kUniform,         control::kLinear,
                           control::kBoltzmann,       control::kAutoControl,
                           control::kSigmaTruncation, control::kWindow};
        QSet<QWidget*> named;
        for (const int id : ids) {
            QWidget* radio = dialog.control(id);
            QVERIFY(radios.contains(radio));
            named.insert(radio);
        }
        QCOMPARE(named.size(), 12);
        QCOMPARE(control::kSelection, control::kRoulette);
        QCOMPARE(control::kScaling, control::kLinear);
    }

    void the_largest_order_is_checked_against_its_rows_bounds() {
        const options::Bounds bounds = *options::max_order.bounds;
        const auto exchange_with = [](int m) {
            ParameterFields fields = fields_from_values(ParameterValues{});
            fields.max_order = std::to_string(m);
            return exchange_from_fields(fields);
        };
        for (const int m :
             {options::low_int(options::max_order), options::high_int(options::max_order)}) {
            const ExchangeResult accepted = exchange_with(m);
            QVERIFY(std::holds_alternative<ParameterValues>(accepted));
            QCOMPARE(std::get<ParameterValues>(accepted).config.model.max_order, m);
        }
        for (const double m : {bounds.low - 1, bounds.high + 1}) {
            const ExchangeResult refused = exchange_with(static_cast<int>(m));
            QVERIFY(std::holds_alternative<ExchangeFailure>(refused));
            const auto& failure = std::get<ExchangeFailure>(refused);
            QCOMPARE(failure.control_id, control::kMaxOrder);
            QCOMPARE(failure.message, options::dialog_range_message(options::max_order));
            QCOMPARE(failure.message, std::string(kMaxOrderRange));
        }
    }
};

int run_option_rows_tests(int argc, char** argv) {
    OptionRowsTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_option_rows.moc"
