#include "output/inference_text.hpp"

#include <cmath>
#include <cstddef>

#include "support/format.hpp"

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

// A q x k block as [lag][equation][variable].
nlohmann::json by_lag(const std::vector<double>& block, int order, int k) {
    nlohmann::json lags = nlohmann::json::array();
    for (int lag = 1; lag <= order; ++lag) {
        nlohmann::json equations = nlohmann::json::array();
        for (int eq = 0; eq < k; ++eq) {
            nlohmann::json variables = nlohmann::json::array();
            for (int v = 0; v < k; ++v) {
                // A regime of a lower order has no value at the lags beyond it.
                const size_t i = at((lag - 1) * k + v) * at(k) + at(eq);
                const double value = i < block.size() ? block[i] : std::nan("");
                variables.push_back(std::isfinite(value) ? nlohmann::json(value)
                                                         : nlohmann::json(nullptr));
            }
            equations.push_back(std::move(variables));
        }
        lags.push_back(std::move(equations));
    }
    return lags;
}

// A d x k block as [term][equation]; nulls where the regression failed.
nlohmann::json by_term(const std::vector<double>& block, int d, int k) {
    nlohmann::json terms = nlohmann::json::array();
    for (int j = 0; j < d; ++j) {
        nlohmann::json equations = nlohmann::json::array();
        for (int eq = 0; eq < k; ++eq) {
            const double value = block.empty() ? std::nan("") : block[at(j) * at(k) + at(eq)];
            equations.push_back(std::isfinite(value) ? nlohmann::json(value)
                                                     : nlohmann::json(nullptr));
        }
        terms.push_back(std::move(equations));
    }
    return terms;
}

int threshold_count(const ModelInference& inf) {
    return inf.threshold_variables == 1 ? static_cast<int>(inf.regimes.size()) - 1 : 2;
}

// " with const and trend" and the like after "Linear VAR of order m"; empty
// without deterministic terms.
std::string terms_words(Include include) {
    std::string words;
    for (int j = 0; j < deterministic_count(include); ++j) {
        words += j == 0 ? " with " : " and ";
        words += deterministic_term_name(include, j);
    }
    return words;
}

std::string percent(double level) {
    return strprintf("%g%%", 100.0 * level);
}

}  // namespace

std::string format_inference_summary(const ModelInference& inf,
                                     const std::vector<std::string>& names,
                                     const std::string& indent) {
    std::string text;
    if (inf.threshold_variables == 0) {
        // Its own order, which order selection may have put below m.
        const int order = !inf.regimes.empty() && inf.regimes.front().order > 0
                              ? inf.regimes.front().order
                              : inf.order;
        text += indent + strprintf("The model is the linear VAR of order %d%s: criterion %.6f.\n",
                                   order, terms_words(inf.include).c_str(), inf.criterion);
    } else if (inf.linear.status != EstimateStatus::estimated) {
        text += indent + strprintf("Linear VAR of order %d%s: could not be estimated.\n", inf.order,
                                   terms_words(inf.include).c_str());
    } else {
        const double difference = inf.criterion - inf.linear.criterion;
        text += indent + strprintf(
                             "Linear VAR of order %d%s: criterion %.6f (threshold model %.6f, "
                             "difference %.6f).\n",
                             inf.order, terms_words(inf.include).c_str(), inf.linear.criterion,
                             inf.criterion, difference);
        if (inf.linear_as_good()) {
            text += indent +
                    "The linear VAR is as good as or better than this threshold model: its "
                    "criterion is not higher.\n";
        } else {
            text += indent + strprintf(
                                 "The threshold model's criterion is %.6f below the linear "
                                 "VAR's.\n",
                                 -difference);
        }
    }
    if (inf.linearity) {
        const LinearityTest& t = *inf.linearity;
        text += indent + strprintf(
                             "Linearity test: LR = %.4f over %d times, bootstrap p-value "
                             "%.4f from %d replicates",
                             t.lr, t.observations, t.p_value, t.replicates);
        if (t.replicates > 0 && t.exceedances == 0) {
            text += ", none of which reached it";
        }
        if (t.failed > 0) {
            text += strprintf(" (%d more could not be fitted)", t.failed);
        }
        text += ".\n";
        if (t.null_order != inf.order) {
            text += indent + strprintf(
                                 "  (each regime at its own order, against the linear VAR of "
                                 "order %d that the model nests)\n",
                                 t.null_order);
        }
        if (t.thresholds != inf.thresholds) {
            std::string values;
            for (int j = 0; j < threshold_count(inf); ++j) {
                values += strprintf(" %f", t.thresholds[at(j)]);
            }
            text += indent + "  (the supremum over the thresholds, reached at" + values + ")\n";
        }
    }
    if (inf.regime_tests) {
        text += format_regime_tests(*inf.regime_tests, inf.model_regimes, names, indent);
    }
    for (const std::string& line : inf.skipped) {
        text += indent + line + "\n";
    }
    const std::vector<int> off = inf.means_off_zero();
    if (!off.empty()) {
        std::string which;
        for (size_t i = 0; i < off.size(); ++i) {
            const size_t c = at(off[i] - 1);
            which += strprintf("%s%s (mean %g, %.1f standard errors)",
                               i == 0 ? "" : (i + 1 == off.size() ? " and " : ", "),
                               component_text(off[i], names).c_str(), inf.means[c],
                               inf.means[c] / inf.mean_standard_errors[c]);
        }
        text += indent + "The mean of " + which + (off.size() == 1 ? " is" : " are") +
                " more than three standard errors from zero, which regimes without an "
                "intercept cannot follow: consider --include const.\n";
    }
    if (inf.confidence) {
        const ThresholdConfidence& c = *inf.confidence;
        const int n = static_cast<int>(c.intervals.size());
        for (int j = 0; j < n; ++j) {
            const ThresholdInterval& i = c.intervals[at(j)];
            std::string name = n == 1 ? "Threshold" : strprintf("Threshold %d", j + 1);
            std::string held = n == 1 ? "" : ", the other thresholds held at their estimates";
            if (inf.threshold_variables == 2 && n == 2) {
                held = ", the other threshold held at its estimate";
            }
            text += indent + strprintf(
                                 "%s = %f: %s confidence set [%f, %f]%s; %d of %d candidate "
                                 "thresholds inside.\n",
                                 name.c_str(), i.estimate, percent(c.level).c_str(), i.low, i.high,
                                 held.c_str(), i.inside, i.candidates);
            if (i.pieces.size() > 1) {
                std::string pieces;
                for (const auto& piece : i.pieces) {
                    pieces +=
                        strprintf("%s[%f, %f]", pieces.empty() ? "" : ", ", piece[0], piece[1]);
                }
                text += indent + strprintf("  The set is not one interval: %zu pieces %s.\n",
                                           i.pieces.size(), pieces.c_str());
            }
            if (i.cut_at_bound) {
                text += indent +
                        "  The set reaches the least observations per regime: it is cut there "
                        "and may reach further.\n";
            }
        }
    }
    return text;
}

std::string format_regime_tests(const RegimeTests& tests, int model_regimes,
                                const std::vector<std::string>& names, const std::string& indent) {
    std::string text =
        indent + strprintf(
                     "Tests of the number of regimes (threshold variable %s at lag %d, "
                     "%d times, level %g%s):\n",
                     component_text(tests.component, names).c_str(), tests.lag, tests.observations,
                     tests.level,
                     tests.regime_order > 0
                         ? strprintf(", every regime at order %d", tests.regime_order).c_str()
                         : "");
    bool two_variables = false;
    for (const RegimeTest& t : tests.tests) {
        two_variables = two_variables || t.null_variable >= 0;
        const std::string which =
            t.null_variable < 0
                ? strprintf("%d vs %d regimes", t.null_regimes, t.alternative_regimes)
                : null_model_text(t, names) + " vs " + alternative_model_text(t, names);
        text += indent + strprintf("  %s: LR = %.4f, bootstrap p-value %.4f from %d replicates",
                                   which.c_str(), t.lr, t.p_value, t.replicates - t.failed);
        if (t.failed > 0) {
            text += strprintf(" (%d more could not be fitted)", t.failed);
        }
        text += t.rejected(tests.level) ? ": rejected.\n" : ": not rejected.\n";
    }
    if (tests.stopped) {
        text += indent + "  Stopped before the tests ended: no number of regimes is selected.\n";
        return text;
    }
    text += indent + strprintf("  Selected: %d regime%s", tests.selected_regimes,
                               tests.selected_regimes == 1 ? "" : "s");
    if (!two_variables) {
        text += tests.selected_regimes == model_regimes
                    ? ", as in the reported model.\n"
                    : strprintf(" (the reported model has %d).\n", model_regimes);
    } else if (tests.selected_threshold_variables == 2) {
        text += ", the reported model on two threshold variables.\n";
    } else if (tests.selected_threshold_variables == 1) {
        text += strprintf(
            " on %s at lag %d (the reported model has %d on two threshold "
            "variables).\n",
            component_text(tests.component, names).c_str(), tests.lag, model_regimes);
    } else {
        text += strprintf(" (the reported model has %d).\n", model_regimes);
    }
    return text;
}

std::string format_coefficient_tables(const ModelInference& inf,
                                      const std::vector<std::string>& names) {
    std::string text;
    const int k = inf.k;
    const bool named = names.size() == at(k);
    const auto name = [&](int v) { return named ? names[at(v)] : strprintf("y%d", v + 1); };
    // Columns as wide as the longest name needs, never narrower than the
    // numbered labels' columns.
    int equation_width = 8;
    int regressor_width = 12;
    for (int v = 0; v < k; ++v) {
        equation_width = std::max(equation_width, static_cast<int>(name(v).size()));
        regressor_width =
            std::max(regressor_width,
                     static_cast<int>(name(v).size() + strprintf("(t-%d)", inf.order).size()));
    }
    for (size_t r = 0; r < inf.regimes.size(); ++r) {
        const RegimeRegression& g = inf.regimes[r];
        // The regime's own order (the model's when the regression does not say).
        const int order = g.order > 0 ? g.order : inf.order;
        if (!g.estimated) {
            text += strprintf(
                "Regime %zu at order %d: %d observations, no standard errors (too "
                "few observations or a singular regression).\n",
                r + 1, order, g.observations);
            continue;
        }
        const int d = deterministic_count(g.include);
        if (d == 0) {
            text += strprintf(
                "Regime %zu at order %d: %d observations, %d degrees of freedom "
                "(residual covariance divided by %d - %d*%d).\n",
                r + 1, order, g.observations, g.degrees_of_freedom, g.observations, order, k);
        } else {
            text += strprintf(
                "Regime %zu at order %d: %d observations, %d degrees of freedom "
                "(residual covariance divided by %d - (%d + %d*%d)).\n",
                r + 1, order, g.observations, g.degrees_of_freedom, g.observations, d, order, k);
        }
        text += strprintf("  %-*s  %-*s   coefficient    std.error    t-value   p-value\n",
                          equation_width, "equation", regressor_width, "regressor");
        for (int eq = 0; eq < k; ++eq) {
            for (int j = 0; j < d; ++j) {
                const size_t i = at(j) * at(k) + at(eq);
                const std::string equation = name(eq);
                text += strprintf("  %-*s  %-*s %12.6f %12.6f %10.3f %9.4f\n", equation_width,
                                  equation.c_str(), regressor_width,
                                  deterministic_term_name(g.include, j), g.deterministic[i],
                                  g.deterministic_standard_errors[i], g.deterministic_t_values[i],
                                  g.deterministic_p_values[i]);
            }
            for (int lag = 1; lag <= order; ++lag) {
                for (int v = 0; v < k; ++v) {
                    const size_t i = at((lag - 1) * k + v) * at(k) + at(eq);
                    const std::string equation = name(eq);
                    const std::string regressor = strprintf("%s(t-%d)", name(v).c_str(), lag);
                    text += strprintf("  %-*s  %-*s %12.6f %12.6f %10.3f %9.4f\n", equation_width,
                                      equation.c_str(), regressor_width, regressor.c_str(),
                                      g.coefficients[i], g.standard_errors[i], g.t_values[i],
                                      g.p_values[i]);
                }
            }
        }
    }
    return text;
}

nlohmann::json regime_tests_json(const RegimeTests& tests) {
    using nlohmann::json;
    json list = json::array();
    auto number = [](double v) { return std::isfinite(v) ? json(v) : json(nullptr); };
    for (const RegimeTest& t : tests.tests) {
        list.push_back({
            {"null_regimes", t.null_regimes},
            {"alternative_regimes", t.alternative_regimes},
            {"lr", number(t.lr)},
            {"p_value", number(t.p_value)},
            {"replicates", t.replicates},
            {"failed", t.failed},
        });
        if (!t.null_model.empty()) {
            list.back()["null_model"] = t.null_model;
            list.back()["alternative_model"] = t.alternative_model;
        }
    }
    return list;
}

void add_regime_tests_json(nlohmann::json& out, const RegimeTests& tests) {
    using nlohmann::json;
    out["regime_tests"] = regime_tests_json(tests);
    if (tests.regime_order > 0) {
        out["regime_test_order"] = tests.regime_order;
    }
    out["selected_regimes"] = tests.stopped ? json(nullptr) : json(tests.selected_regimes);
    out["selected_threshold_variables"] =
        tests.stopped ? json(nullptr) : json(tests.selected_threshold_variables);
}

nlohmann::json inference_json(const ModelInference& inf) {
    using nlohmann::json;
    json out = json::object();
    out["linear_criterion"] =
        inf.linear.status == EstimateStatus::estimated ? json(inf.linear.criterion) : json(nullptr);
    out["difference_to_linear"] = inf.linear.status == EstimateStatus::estimated
                                      ? json(inf.criterion - inf.linear.criterion)
                                      : json(nullptr);
    out["linear_as_good_or_better"] = inf.linear_as_good();
    const RegimeRegression& lm = inf.linear_model;
    json linear_sigma = json::array();
    for (int r = 0; r < inf.k && lm.estimated; ++r) {
        json row = json::array();
        for (int c = 0; c < inf.k; ++c) {
            row.push_back(lm.sigma[at(r) * at(inf.k) + at(c)]);
        }
        linear_sigma.push_back(std::move(row));
    }
    out["linear_model"] = {
        {"order", lm.order > 0 ? lm.order : inf.order},
        {"first_row", lm.times.empty() ? json(nullptr) : json(lm.times.front())},
        {"observations", lm.observations},
        {"estimated", lm.estimated},
        {"coefficients",
         by_lag(lm.estimated ? lm.coefficients : std::vector<double>{}, inf.order, inf.k)},
        {"standard_errors",
         by_lag(lm.estimated ? lm.standard_errors : std::vector<double>{}, inf.order, inf.k)},
        {"deterministic", by_term(lm.estimated ? lm.deterministic : std::vector<double>{},
                                  deterministic_count(lm.include), inf.k)},
        {"sigma", std::move(linear_sigma)},
    };
    json se = json::array();
    json tv = json::array();
    json pv = json::array();
    json dof = json::array();
    json dse = json::array();
    json dtv = json::array();
    json dpv = json::array();
    for (const RegimeRegression& g : inf.regimes) {
        se.push_back(by_lag(g.standard_errors, inf.order, inf.k));
        tv.push_back(by_lag(g.t_values, inf.order, inf.k));
        pv.push_back(by_lag(g.p_values, inf.order, inf.k));
        const int d = deterministic_count(g.include);
        dse.push_back(by_term(g.deterministic_standard_errors, d, inf.k));
        dtv.push_back(by_term(g.deterministic_t_values, d, inf.k));
        dpv.push_back(by_term(g.deterministic_p_values, d, inf.k));
        dof.push_back(g.estimated ? json(g.degrees_of_freedom) : json(nullptr));
    }
    out["standard_errors"] = std::move(se);
    out["t_values"] = std::move(tv);
    out["p_values"] = std::move(pv);
    out["degrees_of_freedom"] = std::move(dof);
    out["means_off_zero"] = inf.means_off_zero();
    out["deterministic_standard_errors"] = std::move(dse);
    out["deterministic_t_values"] = std::move(dtv);
    out["deterministic_p_values"] = std::move(dpv);
    if (inf.linearity) {
        const LinearityTest& t = *inf.linearity;
        json thresholds = json::array();
        for (int j = 0; j < threshold_count(inf); ++j) {
            thresholds.push_back(t.thresholds[at(j)]);
        }
        out["linearity_test"] = {
            {"lr", std::isfinite(t.lr) ? json(t.lr) : json(nullptr)},
            {"p_value", std::isfinite(t.p_value) ? json(t.p_value) : json(nullptr)},
            {"replicates", t.replicates},
            {"failed_replicates", t.failed},
            {"observations", t.observations},
            {"thresholds", thresholds},
        };
        if (t.null_order != inf.order) {
            out["linearity_test"]["null_order"] = t.null_order;
        }
    }
    if (!inf.skipped.empty()) {
        out["skipped"] = inf.skipped;
    }
    if (inf.regime_tests) {
        add_regime_tests_json(out, *inf.regime_tests);
    }
    if (inf.confidence) {
        const ThresholdConfidence& c = *inf.confidence;
        json intervals = json::array();
        json inside = json::array();
        json pieces = json::array();
        json cut = json::array();
        for (const ThresholdInterval& i : c.intervals) {
            intervals.push_back({i.low, i.high});
            inside.push_back(i.inside);
            json list = json::array();
            for (const auto& piece : i.pieces) {
                list.push_back({piece[0], piece[1]});
            }
            pieces.push_back(std::move(list));
            cut.push_back(i.cut_at_bound);
        }
        out["threshold_confidence"] = {
            {"level", c.level},
            {"critical_value", c.critical_value},
            {"intervals", intervals},
            {"candidates_inside", inside},
            {"pieces", pieces},
            {"cut_at_bound", cut},
            {"others_held_at_estimates", c.others_held},
        };
    }
    return out;
}

}  // namespace velmora::inference
