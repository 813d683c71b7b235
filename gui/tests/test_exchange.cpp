// The parameter dialog's conversions and their order, without any window.

#include <QTest>

#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exchange.hpp"
#include "suites.hpp"

namespace velmora::gui::test {

namespace {

using Member = std::string ParameterFields::*;

struct EditField {
    int id;
    Member member;
    bool integer;  // else a floating-point number
};

// The edits that can fail, in the order the exchange converts them.
const std::vector<EditField>& edits_in_order() {
    namespace c = control;
    static const std::vector<EditField> order = {
        {c::kTourneySize, &ParameterFields::tourneysize, true},
        {c::kScalingWindow, &ParameterFields::scaling_window, true},
        {c::kBeta, &ParameterFields::beta, false},
        {c::kScaleMult, &ParameterFields::scalemult, false},
        {c::kSigmaTrunc, &ParameterFields::sigma_trunc, false},
        {c::kCrowding, &ParameterFields::crowding, true},
        {c::kIncestReduction, &ParameterFields::incest_reduction, true},
        {c::kMaxgen, &ParameterFields::maxgen, true},
        {c::kPcross, &ParameterFields::pcross, false},
        {c::kPmutation, &ParameterFields::pmutation, false},
        {c::kPopsize, &ParameterFields::popsize, true},
        {c::kNoss, &ParameterFields::n_oss, true},
        {c::kNcomp, &ParameterFields::n_comp, true},
        {c::kMinOssReg, &ParameterFields::min_oss_reg, true},
        {c::kMaxOrder, &ParameterFields::max_order, true},
    };
    return order;
}

ParameterFields default_fields() {
    return fields_from_values(ParameterValues{});
}

std::optional<ExchangeFailure> failure_of(const ExchangeResult& result) {
    if (const auto* failure = std::get_if<ExchangeFailure>(&result)) {
        return *failure;
    }
    return std::nullopt;
}

}  // namespace

class ExchangeTest : public QObject {
    Q_OBJECT
  private slots:
    void defaults_show_as_the_dialog_texts() {
        const ParameterFields f = default_fields();
        QCOMPARE(f.selection, 0);
        QCOMPARE(f.crossover, 0);
        QCOMPARE(f.scaling, 0);
        QCOMPARE(f.tourneysize, std::string("0"));
        QCOMPARE(f.scalemult, std::string("1.2"));
        QCOMPARE(f.beta, std::string("0"));
        QCOMPARE(f.sigma_trunc, std::string("0"));
        QCOMPARE(f.scaling_window, std::string("0"));
        QCOMPARE(f.crowding, std::string("0"));
        QCOMPARE(f.incest_reduction, std::string("0"));
        QCOMPARE(f.maxgen, std::string("100"));
        QCOMPARE(f.pcross, std::string("0.9"));
        QCOMPARE(f.pmutation, std::string("0.001"));
        QCOMPARE(f.popsize, std::string("50"));
        QCOMPARE(f.n_oss, std::string("1000"));
        QCOMPARE(f.n_comp, std::string("4"));
        QCOMPARE(f.min_oss_reg, std::string("50"));
        QCOMPARE(f.course_file, std::string("TassidiCambio.txt"));
        QCOMPARE(f.max_order, std::string("2"));
    }

    // Whatever the dialog shows must read back as exactly the value it was
    // given, or reopening the dialog and pressing OK would change settings.
    void values_survive_a_round_trip() {
        ParameterValues v;
        v.config.selection_choice = 2;
        v.config.tourneysize = 3;
        v.config.crossover_choice = 1;
        v.config.scaling_method = 3;
        v.config.scalemult = 1.0f / 3.0f;
        v.config.beta = 0.1 + 0.2;
        v.config.sigma_trunc = 2.0 / 3.0;
        v.config.scaling_window = 7.0;
        v.config.maxgen = 3;
        v.config.pcross = 0.7;
        v.config.pmutation = 1e-7;
        v.config.popsize = 51;
        v.config.n_oss = 60;
        v.config.n_comp = 2;
        v.config.model.min_obs_per_regime = 5;
        v.config.course_file = "serie 2.txt";
        v.config.model.max_order = 4;
        v.crowding = 9;
        v.incest_reduction = -2;

        const ExchangeResult back = exchange_from_fields(fields_from_values(v));
        QVERIFY(std::holds_alternative<ParameterValues>(back));
        QVERIFY(std::get<ParameterValues>(back) == v);
        QVERIFY(std::get<ParameterValues>(exchange_from_fields(default_fields())) ==
                ParameterValues{});
    }

    void window_is_shown_truncated_toward_zero() {
        ParameterValues v;
        v.config.scaling_window = 7.9;
        QCOMPARE(fields_from_values(v).scaling_window, std::string("7"));
        v.config.scaling_window = -3.5;
        QCOMPARE(fields_from_values(v).scaling_window, std::string("-3"));
    }

    void unchecked_radio_group_reads_as_minus_one() {
        ParameterFields f = default_fields();
        f.selection = -1;
        f.scaling = -1;
        const auto result = exchange_from_fields(f);
        QVERIFY(std::holds_alternative<ParameterValues>(result));
        QCOMPARE(std::get<ParameterValues>(result).config.selection_choice, -1);
        QCOMPARE(std::get<ParameterValues>(result).config.scaling_method, -1);
    }

    void course_file_is_taken_as_it_stands() {
        ParameterFields f = default_fields();
        f.course_file = std::string(" dati/serie 1.txt ");
        const auto result = exchange_from_fields(f);
        QCOMPARE(std::get<ParameterValues>(result).config.course_file,
                 std::string(" dati/serie 1.txt "));
    }

    void each_bad_field_is_named_with_its_message() {
        for (const EditField& field : edits_in_order()) {
            ParameterFields f = default_fields();
            f.*field.member = std::string("12abc");
            const auto failure = failure_of(exchange_from_fields(f));
            QVERIFY2(failure, std::to_string(field.id).c_str());
            QCOMPARE(failure->control_id, field.id);
            QCOMPARE(failure->message, std::string(field.integer ? kNotAnInteger : kNotANumber));
        }
    }

    // For every two bad fields, the one converted first is reported, so the
    // user is never sent past an earlier mistake.
    void first_bad_field_in_exchange_order_wins() {
        const auto& order = edits_in_order();
        for (std::size_t i = 0; i < order.size(); ++i) {
            for (std::size_t j = i + 1; j < order.size(); ++j) {
                ParameterFields f = default_fields();
                f.*order[j].member = std::string("x");
                f.*order[i].member = std::string("");
                const auto failure = failure_of(exchange_from_fields(f));
                QVERIFY(failure);
                QCOMPARE(failure->control_id, order[i].id);
            }
        }
    }

    void conversion_failure_comes_before_the_range_check() {
        ParameterFields f = default_fields();
        f.popsize = std::string("many");
        f.max_order = std::string("5");
        QCOMPARE(failure_of(exchange_from_fields(f))->control_id, control::kPopsize);
    }

    void max_order_var_must_lie_in_one_to_four() {
        for (const char* accepted : {"1", "4"}) {
            ParameterFields f = default_fields();
            f.max_order = std::string(accepted);
            QVERIFY(std::holds_alternative<ParameterValues>(exchange_from_fields(f)));
        }
        for (const char* rejected : {"0", "5", "-1"}) {
            ParameterFields f = default_fields();
            f.max_order = std::string(rejected);
            const auto failure = failure_of(exchange_from_fields(f));
            QVERIFY(failure);
            QCOMPARE(failure->control_id, control::kMaxOrder);
            QCOMPARE(failure->message, std::string(kMaxOrderRange));
        }
        ParameterFields f = default_fields();
        f.max_order = std::string("two");
        QCOMPARE(failure_of(exchange_from_fields(f))->message, std::string(kNotAnInteger));
    }

    void crowding_and_incest_reduction_stay_out_of_the_run() {
        ParameterFields f = default_fields();
        f.crowding = std::string("5");
        f.incest_reduction = std::string("6");
        const auto values = std::get<ParameterValues>(exchange_from_fields(f));
        QCOMPARE(values.crowding, 5);
        QCOMPARE(values.incest_reduction, 6);
        QVERIFY(same_config(values.config, RunConfig{}));
    }

    void parse_int_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "42" << true << 42;
        QTest::newRow("blanks around") << " \t42 " << true << 42;
        QTest::newRow("plus sign") << "+7" << true << 7;
        QTest::newRow("negative") << "-3" << true << -3;
        QTest::newRow("largest") << "2147483647" << true << std::numeric_limits<int>::max();
        QTest::newRow("smallest") << "-2147483648" << true << std::numeric_limits<int>::min();
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blank") << "   " << false << 0;
        QTest::newRow("trailing garbage") << "4x" << false << 0;
        QTest::newRow("inner blank") << "4 2" << false << 0;
        QTest::newRow("decimal point") << "4.0" << false << 0;
        QTest::newRow("exponent") << "1e3" << false << 0;
        QTest::newRow("hexadecimal") << "0x10" << false << 0;
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("too small") << "-2147483649" << false << 0;
        QTest::newRow("two signs") << "+-3" << false << 0;
        QTest::newRow("sign alone") << "+" << false << 0;
    }

    void parse_int() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        const auto parsed = gui::parse_int(text.toStdString());
        QCOMPARE(parsed.has_value(), ok);
        if (ok) {
            QCOMPARE(*parsed, value);
        }
    }

    void parse_double_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("decimal") << "0.9" << true << 0.9;
        QTest::newRow("no leading digit") << ".5" << true << 0.5;
        QTest::newRow("integer") << "3" << true << 3.0;
        QTest::newRow("exponent") << "1e-3" << true << 0.001;
        QTest::newRow("blanks and sign") << " +2.25 " << true << 2.25;
        QTest::newRow("negative") << "-0.125" << true << -0.125;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("comma") << "1,5" << false << 0.0;
        QTest::newRow("two points") << "1.2.3" << false << 0.0;
        QTest::newRow("trailing garbage") << "0.9p" << false << 0.0;
        QTest::newRow("overflow") << "1e400" << false << 0.0;
        QTest::newRow("infinity") << "inf" << false << 0.0;
        QTest::newRow("not a number") << "nan" << false << 0.0;
    }

    void parse_double() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const auto parsed = gui::parse_double(text.toStdString());
        QCOMPARE(parsed.has_value(), ok);
        if (ok) {
            QCOMPARE(*parsed, value);
        }
    }

    void parse_float_refuses_what_a_float_cannot_hold() {
        QCOMPARE(gui::parse_float("1.2"), std::optional<float>(1.2f));
        QVERIFY(gui::parse_float("3e38").has_value());
        QVERIFY(!gui::parse_float("1e39").has_value());
        QVERIFY(!gui::parse_float("-1e39").has_value());
    }
};

int run_exchange_tests(int argc, char** argv) {
    ExchangeTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_exchange.moc"
