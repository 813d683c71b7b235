#include "output/paper_table.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <vector>

#include "output/csv.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

using std::size_t;

struct Cell {
    std::string text;
    std::string stars;
    bool math = false;  // a figure: set in math mode in LaTeX
};

struct Row {
    enum class Kind { head, section, body, wide, rule };
    Kind kind = Kind::body;
    std::string label;
    std::string latex_label;  // the label already in LaTeX
    std::vector<Cell> cells;  // one per equation; one spanning them all for `wide`
};

// One regressor of a regime: its coefficient in every equation.
struct Term {
    std::string label;
    std::string latex_label;
    std::vector<double> coefficients;  // [equation-1]
    std::vector<double> standard_errors;
    std::vector<double> p_values;
};

std::string fixed(double value) {
    return std::isfinite(value) ? strprintf("%.4f", value) : std::string("--");
}

std::string name_of(const PaperTableInput& in, int c) {
    if (in.series != nullptr && (in.series->has_names || in.series->external(c))) {
        return in.series->component(c);
    }
    return strprintf("y%d", c);
}

Term lagged(const std::string& name, int lag) {
    Term term;
    term.label = strprintf("%s(t-%d)", name.c_str(), lag);
    term.latex_label = latex_escaped(name) + strprintf("$_{t-%d}$", lag);
    return term;
}

// The lagged components of regime r (1-based) at the largest order, lag by
// lag, with their standard errors and p-values when the inference has them.
std::vector<Term> lag_terms(const PaperTableInput& in, int r) {
    const FittedModel& model = *in.model;
    const int k = model.k;
    const inference::RegimeRegression* regression = nullptr;
    if (in.inference != nullptr && r <= static_cast<int>(in.inference->regimes.size()) &&
        in.inference->regimes[static_cast<size_t>(r - 1)].estimated) {
        regression = &in.inference->regimes[static_cast<size_t>(r - 1)];
    }
    std::vector<Term> terms;
    for (int lag = 1; lag <= model.m; ++lag) {
        for (int v = 1; v <= k; ++v) {
            Term term = lagged(name_of(in, v), lag);
            for (int e = 1; e <= k; ++e) {
                term.coefficients.push_back(model.coefficient(r, lag, e, v));
                // A regime of a lower order has no estimate at the lags beyond
                // it: its zero is shown without an error or stars.
                const size_t i = static_cast<size_t>(((lag - 1) * k + v - 1) * k + e - 1);
                const bool known = regression != nullptr &&
                                   i < regression->standard_errors.size() &&
                                   i < regression->p_values.size();
                term.standard_errors.push_back(known ? regression->standard_errors[i] : NAN);
                term.p_values.push_back(known ? regression->p_values[i] : NAN);
            }
            terms.push_back(std::move(term));
        }
    }
    return terms;
}

// The deterministic terms (constant, trend) of regime r, ahead of the lags as
// in the regression, with their standard errors and p-values when the
// inference has them.
std::vector<Term> deterministic_terms(const PaperTableInput& in, int r) {
    const FittedModel& model = *in.model;
    const int k = model.k;
    const int d = model.deterministic_terms();
    const inference::RegimeRegression* regression = nullptr;
    if (in.inference != nullptr && r <= static_cast<int>(in.inference->regimes.size()) &&
        in.inference->regimes[static_cast<size_t>(r - 1)].estimated) {
        regression = &in.inference->regimes[static_cast<size_t>(r - 1)];
    }
    std::vector<Term> terms;
    for (int j = 0; j < d; ++j) {
        Term term;
        term.label = deterministic_term_name(model.include, j);
        term.latex_label = latex_escaped(term.label);
        for (int e = 1; e <= k; ++e) {
            term.coefficients.push_back(model.deterministic_coefficient(r, j, e));
            const size_t i = static_cast<size_t>(j * k + e - 1);
            const bool known = regression != nullptr && i < regression->deterministic.size();
            term.standard_errors.push_back(known ? regression->deterministic_standard_errors[i]
                                                 : NAN);
            term.p_values.push_back(known ? regression->deterministic_p_values[i] : NAN);
        }
        terms.push_back(std::move(term));
    }
    return terms;
}

Row section(const std::string& title) {
    Row row;
    row.kind = Row::Kind::section;
    row.label = title;
    row.latex_label = latex_escaped(title);
    return row;
}

Row wide(const std::string& label, const std::string& value) {
    Row row;
    row.kind = Row::Kind::wide;
    row.label = label;
    row.latex_label = latex_escaped(label);
    row.cells.push_back({value, "", false});
    return row;
}

Row rule() {
    Row row;
    row.kind = Row::Kind::rule;
    return row;
}

std::string test_text(double statistic, int df, double p_value) {
    return strprintf("%s (df %d, p = %s)", fixed(statistic).c_str(), df, fixed(p_value).c_str());
}

std::string component_at_lag(const PaperTableInput& in, int component, int lag) {
    return strprintf("%s(t-%d)", name_of(in, component).c_str(), lag);
}

void add_coefficients(const PaperTableInput& in, std::vector<Row>& rows) {
    const FittedModel& model = *in.model;
    for (int r = 1; r <= model.n_regime; ++r) {
        rows.push_back(section(strprintf("Regime %d (%d observations)", r, model.observations(r))));
        std::vector<Term> terms = deterministic_terms(in, r);
        for (Term& term : lag_terms(in, r)) {
            terms.push_back(std::move(term));
        }
        for (const Term& term : terms) {
            Row estimate;
            estimate.label = term.label;
            estimate.latex_label = term.latex_label;
            Row error;
            for (size_t e = 0; e < term.coefficients.size(); ++e) {
                estimate.cells.push_back(
                    {fixed(term.coefficients[e]), significance_stars(term.p_values[e]), true});
                const double se = term.standard_errors[e];
                error.cells.push_back(
                    {std::isfinite(se) ? strprintf("(%.4f)", se) : std::string(), "", true});
            }
            rows.push_back(std::move(estimate));
            rows.push_back(std::move(error));
        }
    }
}

void add_thresholds(const PaperTableInput& in, std::vector<Row>& rows) {
    const FittedModel& model = *in.model;
    const ModelStructure& s = model.used;
    std::vector<std::string> variables;
    if (is_linear(s)) {
        return;  // no threshold to show
    }
    if (s.threshold_variables == 1) {
        for (int j = 1; j < model.n_regime; ++j) {
            variables.push_back(component_at_lag(in, s.one.which_serie, s.one.threshold_lag));
        }
    } else {
        variables.push_back(component_at_lag(in, s.two.which_serie1, s.two.Ritardo1));
        variables.push_back(component_at_lag(in, s.two.which_serie2, s.two.Ritardo2));
    }
    const inference::ThresholdConfidence* confidence =
        in.inference != nullptr && in.inference->confidence ? &*in.inference->confidence : nullptr;
    rows.push_back(section(
        confidence ? strprintf("Thresholds (%g%% confidence sets)", 100.0 * confidence->level)
                   : std::string("Thresholds")));
    for (size_t j = 0; j < variables.size(); ++j) {
        std::string value = fixed(model.thresholds[j]);
        if (confidence != nullptr && j < confidence->intervals.size()) {
            const inference::ThresholdInterval& i = confidence->intervals[j];
            value += strprintf(" [%s, %s]", fixed(i.low).c_str(), fixed(i.high).c_str());
        }
        rows.push_back(wide(strprintf("Threshold %zu of %s", j + 1, variables[j].c_str()), value));
    }
}

void add_criteria_and_tests(const PaperTableInput& in, std::vector<Row>& rows) {
    rows.push_back(section("Criteria"));
    if (is_linear(in.model->given)) {
        // The model is its own benchmark.
        rows.push_back(wide(strprintf("Criterion of the linear VAR(%d)", in.model->m),
                            fixed(in.model->criterion)));
        return;
    }
    rows.push_back(wide("Criterion of the threshold model", fixed(in.model->criterion)));
    if (in.inference != nullptr) {
        const inference::ModelInference& inf = *in.inference;
        const bool linear = inf.linear.status == EstimateStatus::estimated;
        rows.push_back(wide(strprintf("Criterion of the linear VAR(%d)", inf.order),
                            linear ? fixed(inf.linear.criterion) : std::string("--")));
        if (linear) {
            rows.push_back(wide("Difference (threshold - linear)",
                                fixed(in.model->criterion - inf.linear.criterion)));
        }
        if (inf.linearity) {
            const inference::LinearityTest& t = *inf.linearity;
            rows.push_back(section("Linearity test"));
            rows.push_back(wide("Likelihood ratio",
                                strprintf("%s (bootstrap p = %s, %d series)", fixed(t.lr).c_str(),
                                          fixed(t.p_value).c_str(), t.replicates)));
        }
    }
}

void add_diagnostics(const PaperTableInput& in, std::vector<Row>& rows) {
    if (in.diagnostics == nullptr) {
        return;
    }
    const diagnostics::ModelDiagnostics& d = *in.diagnostics;
    rows.push_back(section(strprintf("Residual diagnostics (%d residuals)", d.observations)));
    const diagnostics::PortmanteauTest& q = d.portmanteau;
    rows.push_back(wide(strprintf("Portmanteau Q(%d)", q.lags),
                        test_text(q.statistic, q.degrees_of_freedom, q.p_value)));
    rows.push_back(wide(strprintf("Adjusted portmanteau Q(%d)", q.lags),
                        test_text(q.adjusted_statistic, q.degrees_of_freedom, q.adjusted_p_value)));
    const diagnostics::NormalityTest& n = d.normality;
    rows.push_back(
        wide("Jarque-Bera normality", test_text(n.statistic, n.degrees_of_freedom, n.p_value)));
    for (size_t r = 0; r < d.normality_by_regime.size(); ++r) {
        const diagnostics::NormalityTest& g = d.normality_by_regime[r];
        rows.push_back(wide(strprintf("Jarque-Bera normality, regime %zu", r + 1),
                            test_text(g.statistic, g.degrees_of_freedom, g.p_value)));
    }
    const diagnostics::ArchTest& a = d.arch;
    rows.push_back(wide(strprintf("ARCH-LM(%d)", a.lags),
                        test_text(a.statistic, a.degrees_of_freedom, a.p_value)));
    for (size_t r = 0; r < d.companion_moduli.size(); ++r) {
        const std::vector<double>& moduli = d.companion_moduli[r];
        std::string value = moduli.empty() ? std::string("--") : fixed(moduli.front());
        if (d.explosive[r]) {
            value += " (explosive)";
        }
        rows.push_back(wide(strprintf("Largest companion modulus, regime %zu", r + 1), value));
    }
}

std::vector<Row> layout(const PaperTableInput& in) {
    std::vector<Row> rows;
    Row head;
    head.kind = Row::Kind::head;
    for (int e = 1; e <= in.model->k; ++e) {
        head.cells.push_back({name_of(in, e), "", false});
    }
    rows.push_back(rule());
    rows.push_back(std::move(head));
    rows.push_back(rule());
    add_coefficients(in, rows);
    rows.push_back(rule());
    add_thresholds(in, rows);
    add_criteria_and_tests(in, rows);
    add_diagnostics(in, rows);
    rows.push_back(rule());
    return rows;
}

const char* const kNote = "Standard errors in parentheses; * p < 0.10, ** p < 0.05, *** p < 0.01.";

std::string latex_cell(const Cell& cell) {
    if (!cell.math || cell.text.empty()) {
        return latex_escaped(cell.text);
    }
    std::string text = "$" + cell.text;
    if (!cell.stars.empty()) {
        text += "^{" + cell.stars + "}";
    }
    return text + "$";
}

std::string render_latex(const PaperTableInput& in, const std::vector<Row>& rows) {
    const int k = in.model->k;
    std::string text = "% " + in.title + ", written by Velmora (a tabular to \\input)\n";
    text += "\\begin{tabular}{l" + std::string(static_cast<size_t>(k), 'r') + "}\n";
    for (const Row& row : rows) {
        switch (row.kind) {
            case Row::Kind::rule:
                text += "\\hline\n";
                break;
            case Row::Kind::section:
                text += strprintf("\\multicolumn{%d}{l}{\\textit{%s}} \\\\\n", k + 1,
                                  row.latex_label.c_str());
                break;
            case Row::Kind::wide:
                text += row.latex_label + strprintf(" & \\multicolumn{%d}{r}{%s} \\\\\n", k,
                                                    latex_escaped(row.cells.front().text).c_str());
                break;
            case Row::Kind::head:
            case Row::Kind::body:
                text += row.kind == Row::Kind::head ? latex_escaped(in.title) : row.latex_label;
                for (const Cell& cell : row.cells) {
                    text += " & " + latex_cell(cell);
                }
                text += " \\\\\n";
                break;
        }
    }
    text += strprintf("\\multicolumn{%d}{l}{\\footnotesize %s} \\\\\n", k + 1,
                      latex_escaped(kNote).c_str());
    text += "\\end{tabular}\n";
    return text;
}

std::string markdown_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|' || c == '*' || c == '_' || c == '\\' || c == '`') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string render_markdown(const PaperTableInput& in, const std::vector<Row>& rows) {
    const size_t k = static_cast<size_t>(in.model->k);
    std::string text;
    for (const Row& row : rows) {
        std::vector<std::string> cells(k + 1);
        switch (row.kind) {
            case Row::Kind::rule:
                continue;
            case Row::Kind::head:
                cells[0] = markdown_escaped(in.title);
                for (size_t e = 0; e < k; ++e) {
                    cells[e + 1] = markdown_escaped(row.cells[e].text);
                }
                break;
            case Row::Kind::section:
                cells[0] = "**" + markdown_escaped(row.label) + "**";
                break;
            case Row::Kind::wide:
                cells[0] = markdown_escaped(row.label);
                cells[1] = markdown_escaped(row.cells.front().text);
                break;
            case Row::Kind::body:
                cells[0] = markdown_escaped(row.label);
                for (size_t e = 0; e < k; ++e) {
                    cells[e + 1] = markdown_escaped(row.cells[e].text + row.cells[e].stars);
                }
                break;
        }
        std::string line = "|";
        for (const std::string& cell : cells) {
            line += " " + cell + " |";
        }
        text += line + "\n";
        if (row.kind == Row::Kind::head) {
            text += "|---|";
            for (size_t e = 0; e < k; ++e) {
                text += "---:|";
            }
            text += "\n";
        }
    }
    text += '\n';
    text += markdown_escaped(kNote);
    text += '\n';
    return text;
}

std::string render_csv(const PaperTableInput& in, const std::vector<Row>& rows) {
    const size_t k = static_cast<size_t>(in.model->k);
    std::string text;
    for (const Row& row : rows) {
        std::vector<std::string> cells;
        switch (row.kind) {
            case Row::Kind::rule:
                continue;
            case Row::Kind::head:
                cells.push_back(in.title);
                for (const Cell& cell : row.cells) {
                    cells.push_back(cell.text);
                }
                break;
            case Row::Kind::section:
                cells.push_back(row.label);
                break;
            case Row::Kind::wide:
                cells = {row.label, row.cells.front().text};
                break;
            case Row::Kind::body:
                cells.push_back(row.label);
                for (const Cell& cell : row.cells) {
                    cells.push_back(cell.text + cell.stars);
                }
                break;
        }
        cells.resize(std::max(cells.size(), k + 1));
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i > 0) {
                line += ',';
            }
            line += csv_text(cells[i]);
        }
        text += line + "\n";
    }
    text += csv_text(kNote) + "\n";
    return text;
}

}  // namespace

std::optional<TableFormat> table_format_of(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".tex") {
        return TableFormat::latex;
    }
    if (extension == ".md") {
        return TableFormat::markdown;
    }
    if (extension == ".csv") {
        return TableFormat::csv;
    }
    return std::nullopt;
}

std::string significance_stars(double p_value) {
    if (!(p_value < 0.10)) {
        return {};
    }
    return p_value < 0.01 ? "***" : p_value < 0.05 ? "**" : "*";
}

std::string latex_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\textbackslash{}";
                break;
            case '~':
                out += "\\textasciitilde{}";
                break;
            case '^':
                out += "\\textasciicircum{}";
                break;
            case '&':
            case '%':
            case '$':
            case '#':
            case '_':
            case '{':
            case '}':
                out += '\\';
                out += c;
                break;
            case '<':
                out += "\\textless{}";
                break;
            case '>':
                out += "\\textgreater{}";
                break;
            case '|':
                out += "\\textbar{}";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string format_paper_table(const PaperTableInput& input, TableFormat format) {
    const std::vector<Row> rows = layout(input);
    switch (format) {
        case TableFormat::latex:
            return render_latex(input, rows);
        case TableFormat::markdown:
            return render_markdown(input, rows);
        case TableFormat::csv:
            return render_csv(input, rows);
    }
    return {};
}

}  // namespace velmora
