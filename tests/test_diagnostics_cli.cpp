#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "diagnostics_reference.hpp"
#include "output/paper_table.hpp"
#include "support/format.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::contains;
using testing::Rows;
using testing::TempDir;

std::string sample_csv() {
    return testing::shell_quote(std::string(VELMORA_SOURCE_DIR) +
                                "/data/eustockmarkets_returns.csv");
}

// The residual rows of a regimes file in time order, all of them and by
// regime.
struct RegimesFile {
    Rows all;
    std::map<int, Rows> by_regime;
};

RegimesFile read_regimes(const std::filesystem::path& path) {
    const auto lines = testing::read_lines(path);
    const auto header = testing::csv_fields(lines.at(0));
    std::vector<std::size_t> residual_columns;
    std::size_t regime_column = 0;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i].rfind("residual_", 0) == 0) {
            residual_columns.push_back(i);
        }
        if (header[i] == "regime") {
            regime_column = i;
        }
    }
    RegimesFile out;
    for (std::size_t l = 1; l < lines.size(); ++l) {
        const auto fields = testing::csv_fields(lines[l]);
        if (fields.at(residual_columns.front()).empty()) {
            continue;
        }
        std::vector<double> row;
        for (std::size_t c : residual_columns) {
            row.push_back(std::stod(fields.at(c)));
        }
        out.all.push_back(row);
        out.by_regime[std::stoi(fields.at(regime_column))].push_back(row);
    }
    return out;
}

// Statistics and p-values of a model object's diagnostics against the plain
// formulas on the regimes file's residuals.
void expect_diagnostics_of(const nlohmann::json& d, const RegimesFile& regimes, int k, int order,
                           int portmanteau_lags, int arch_lags) {
    ASSERT_TRUE(d.is_object());
    EXPECT_EQ(d["observations"], regimes.all.size());

    const auto q = testing::reference_portmanteau(regimes.all, portmanteau_lags);
    const int q_df = k * k * (portmanteau_lags - order);
    EXPECT_EQ(d["portmanteau"]["lags"], portmanteau_lags);
    EXPECT_EQ(d["portmanteau"]["degrees_of_freedom"], q_df);
    EXPECT_NEAR(d["portmanteau"]["statistic"].get<double>(), q.statistic, 1e-8);
    EXPECT_NEAR(d["portmanteau"]["adjusted_statistic"].get<double>(), q.adjusted, 1e-8);
    EXPECT_NEAR(d["portmanteau"]["p_value"].get<double>(),
                testing::reference_chi_squared_upper(q.statistic, q_df), 1e-8);
    EXPECT_NEAR(d["portmanteau"]["adjusted_p_value"].get<double>(),
                testing::reference_chi_squared_upper(q.adjusted, q_df), 1e-8);

    const double jb = testing::reference_jarque_bera(regimes.all);
    EXPECT_EQ(d["normality"]["degrees_of_freedom"], 2 * k);
    EXPECT_NEAR(d["normality"]["statistic"].get<double>(), jb, 1e-8);
    EXPECT_NEAR(d["normality"]["p_value"].get<double>(),
                testing::reference_chi_squared_upper(jb, 2 * k), 1e-8);
    ASSERT_EQ(d["normality_by_regime"].size(), regimes.by_regime.size());
    for (const auto& [regime, rows] : regimes.by_regime) {
        const auto& g = d["normality_by_regime"][static_cast<std::size_t>(regime - 1)];
        EXPECT_EQ(g["observations"], rows.size());
        EXPECT_NEAR(g["statistic"].get<double>(), testing::reference_jarque_bera(rows), 1e-8)
            << "regime " << regime;
    }

    const double arch = testing::reference_arch(regimes.all, arch_lags);
    const int d2 = k * (k + 1) / 2;
    EXPECT_EQ(d["arch"]["lags"], arch_lags);
    EXPECT_EQ(d["arch"]["degrees_of_freedom"], arch_lags * d2 * d2);
    EXPECT_NEAR(d["arch"]["statistic"].get<double>(), arch, 1e-8);
    EXPECT_NEAR(d["arch"]["p_value"].get<double>(),
                testing::reference_chi_squared_upper(arch, arch_lags * d2 * d2), 1e-8);

    for (std::size_t r = 0; r < d["companion_moduli"].size(); ++r) {
        const auto& moduli = d["companion_moduli"][r];
        EXPECT_EQ(moduli.size(), static_cast<std::size_t>(k * order));
        for (std::size_t i = 1; i < moduli.size(); ++i) {
            EXPECT_GE(moduli[i - 1].get<double>(), moduli[i].get<double>());
        }
        EXPECT_EQ(d["explosive"][r].get<bool>(), moduli[0].get<double>() >= 1.0);
    }
}

TEST(DiagnosticsCli, AFitsStatisticsEqualPlainFormulasOnItsRegimesFile) {
    TempDir dir;
    const auto r = testing::run_cli(
        "fit --course-file " + sample_csv() +
            " --components 1,2 --lags 1,2 --thresholds 0,0.1 --type-model 0 --m 2"
            " --portmanteau-lags 10 --arch-lags 3 --json f.json --regimes-csv r.csv",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(testing::read_file(dir / "f.json"));
    const RegimesFile regimes = read_regimes(dir / "r.csv");
    ASSERT_EQ(regimes.by_regime.size(), 4u);
    expect_diagnostics_of(json["model"]["diagnostics"], regimes, 4, 2, 10, 3);
    // The summary's new lines come after every line a fit printed before.
    const auto at = r.out.find("Residual diagnostics:\n  Portmanteau test, 10 lags over ");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_LT(r.out.find("Regimes: r.csv\n"), at);
    EXPECT_TRUE(contains(r.out.substr(at), "Regime 4 companion eigenvalue moduli: ")) << r.out;
}

TEST(DiagnosticsCli, ARunDiagnosesItsBestAndItsRefinedModel) {
    TempDir dir;
    const auto r = testing::run_cli("run --course-file " + sample_csv() +
                                        " --m 1 --maxgen 3 --popsize 10 --seed 7 --threads 1"
                                        " --json s.json --regimes-csv r.csv --tables t.md",
                                    dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(testing::read_file(dir / "s.json"));
    ASSERT_TRUE(json["best"]["diagnostics"].is_object()) << json["best"].dump();
    EXPECT_EQ(json["best"]["diagnostics"]["portmanteau"]["lags"], 12);
    EXPECT_EQ(json["best"]["diagnostics"]["arch"]["lags"], 5);
    // The regimes file holds the reported model: the refined one.
    ASSERT_TRUE(json["refined"].is_object());
    expect_diagnostics_of(json["refined"]["diagnostics"], read_regimes(dir / "r.csv"), 4, 1, 12, 5);
    const auto at = r.out.find("Residual diagnostics of the refined model:\n");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_LT(r.out.find("Beside the linear VAR, the refined model:"), at);
    // The table holds the reported model too.
    EXPECT_TRUE(contains(r.out, "Tables: t.md\n")) << r.out;
    EXPECT_EQ(json["files"].back(), "t.md");
    const std::string table = testing::read_file(dir / "t.md");
    EXPECT_EQ(table.rfind("| Refined model | DAX | SMI | CAC | FTSE |\n", 0), 0u) << table;
    const double first = json["refined"]["coefficients"][0][0][0][0];
    EXPECT_TRUE(contains(table, "| DAX(t-1) | " + strprintf("%.4f", first))) << table;
}

TEST(DiagnosticsCli, LagsOutsideTheirRangeAreRefused) {
    TempDir dir;
    for (const char* bad : {"--portmanteau-lags 0", "--arch-lags 0", "--arch-lags 1001"}) {
        const auto r =
            testing::run_cli("fit --course-file " + sample_csv() +
                                 " --component 1 --lag 1 --regimes 2 --positions 100 " + bad,
                             dir);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt")) << bad;
    }
}

// The cells of one CSV line with quoted fields.
std::vector<std::string> quoted_fields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

TEST(TablesCli, EveryCoefficientOfTheJsonIsInEachTableAsPrinted) {
    TempDir dir;
    const std::string fit = "fit --course-file " + sample_csv() +
                            " --component 2 --lag 1 --regimes 3 --thresholds -0.3,0.4 --m 2"
                            " --json f.json --tables ";
    for (const char* table : {"t.tex", "t.md", "t.csv"}) {
        const auto r = testing::run_cli(fit + table, dir);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, std::string("Tables: ") + table + "\n")) << r.out;
        const auto json = nlohmann::json::parse(testing::read_file(dir / "f.json"));
        EXPECT_EQ(json["files"].back(), table);
    }
    const auto json = nlohmann::json::parse(testing::read_file(dir / "f.json"));
    const auto& model = json["model"];
    const std::string tex = testing::read_file(dir / "t.tex");
    const std::string md = testing::read_file(dir / "t.md");
    const auto csv = testing::read_lines(dir / "t.csv");
    EXPECT_TRUE(contains(tex, "\\begin{tabular}{lrrrr}\n")) << tex;
    EXPECT_FALSE(contains(tex, "\\documentclass"));
    EXPECT_EQ(quoted_fields(csv.at(0)),
              (std::vector<std::string>{"Fitted model", "DAX", "SMI", "CAC", "FTSE"}));

    std::size_t line = 0;
    int checked = 0;
    for (std::size_t r = 0; r < model["coefficients"].size(); ++r) {
        const std::string title = strprintf("Regime %zu (", r + 1);
        while (line < csv.size() && csv[line].rfind(title, 0) != 0) {
            ++line;
        }
        ASSERT_LT(line, csv.size()) << title;
        ++line;
        for (std::size_t lag = 0; lag < 2; ++lag) {
            for (std::size_t v = 0; v < 4; ++v) {
                const auto cells = quoted_fields(csv.at(line));
                const auto errors = quoted_fields(csv.at(line + 1));
                line += 2;
                EXPECT_EQ(cells.at(0), json["series"]["component_names"][v].get<std::string>() +
                                           strprintf("(t-%zu)", lag + 1));
                for (std::size_t e = 0; e < 4; ++e) {
                    const double coefficient = model["coefficients"][r][lag][e][v];
                    const double se = model["standard_errors"][r][lag][e][v];
                    const double p = model["p_values"][r][lag][e][v];
                    const std::string printed = strprintf("%.4f", coefficient);
                    EXPECT_EQ(cells.at(e + 1), printed + significance_stars(p));
                    EXPECT_EQ(errors.at(e + 1), strprintf("(%.4f)", se));
                    EXPECT_TRUE(contains(tex, "$" + printed + (p < 0.1 ? "^{" : "$"))) << printed;
                    EXPECT_TRUE(contains(md, "| " + printed)) << printed;
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 3 * 2 * 4 * 4);
    // Thresholds with their confidence sets, and the diagnostics.
    const auto& set = model["threshold_confidence"]["intervals"][1];
    const std::string second = strprintf("%.4f [%.4f, %.4f]", model["thresholds"][1].get<double>(),
                                         set[0].get<double>(), set[1].get<double>());
    EXPECT_TRUE(contains(md, second)) << md;
    EXPECT_TRUE(
        contains(tex, strprintf("Portmanteau Q(12) & \\multicolumn{4}{r}{%.4f (df 160",
                                model["diagnostics"]["portmanteau"]["statistic"].get<double>())))
        << tex;
}

TEST(TablesCli, DeterministicTermsComeFirstInEveryRegimeWithTheirErrors) {
    TempDir dir;
    const auto r = testing::run_cli("fit --course-file " + sample_csv() +
                                        " --component 1 --lag 1 --regimes 2 --thresholds 0.2"
                                        " --m 1 --include both --json f.json --tables t.csv",
                                    dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(testing::read_file(dir / "f.json"));
    const auto& model = json["model"];
    const auto csv = testing::read_lines(dir / "t.csv");
    std::size_t line = 0;
    int checked = 0;
    for (std::size_t regime = 0; regime < 2; ++regime) {
        const std::string title = strprintf("Regime %zu (", regime + 1);
        while (line < csv.size() && csv[line].rfind(title, 0) != 0) {
            ++line;
        }
        ASSERT_LT(line, csv.size()) << title;
        ++line;
        for (std::size_t term = 0; term < 2; ++term) {
            const auto cells = quoted_fields(csv.at(line));
            const auto errors = quoted_fields(csv.at(line + 1));
            line += 2;
            EXPECT_EQ(cells.at(0), term == 0 ? "const" : "trend");
            for (std::size_t e = 0; e < 4; ++e) {
                const double value = model["deterministic"][regime][term][e];
                const double se = model["deterministic_standard_errors"][regime][term][e];
                const double p = model["deterministic_p_values"][regime][term][e];
                EXPECT_EQ(cells.at(e + 1), strprintf("%.4f", value) + significance_stars(p));
                EXPECT_EQ(errors.at(e + 1), strprintf("(%.4f)", se));
                ++checked;
            }
        }
        // The lags follow the terms.
        EXPECT_EQ(quoted_fields(csv.at(line)).at(0), "DAX(t-1)");
    }
    EXPECT_EQ(checked, 2 * 2 * 4);
}

// A regime below the largest order has no estimate at the lags beyond its
// own: the table shows their zeros bare, as the JSON has them null.
TEST(TablesCli, LagsBeyondARegimesOrderHaveNoErrorOrStars) {
    TempDir dir;
    const auto r = testing::run_cli("fit --course-file " + sample_csv() +
                                        " --component 1 --lag 1 --regimes 2 --thresholds 0.2"
                                        " --m 2 --orders 1,2 --criterion aic --tables t.csv",
                                    dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto csv = testing::read_lines(dir / "t.csv");
    std::size_t line = 0;
    while (line < csv.size() && csv[line].rfind("DAX(t-2)", 0) != 0) {
        ++line;
    }
    ASSERT_LT(line + 1, csv.size());
    const auto cells = quoted_fields(csv[line]);
    const auto errors = quoted_fields(csv[line + 1]);
    ASSERT_EQ(cells.size(), 5u);
    for (std::size_t e = 1; e < cells.size(); ++e) {
        EXPECT_EQ(cells[e], "0.0000") << csv[line];
        EXPECT_EQ(errors.at(e), "") << csv[line + 1];
    }
}

TEST(TablesCli, NamesAreEscapedForLatexAndMarkdown) {
    TempDir dir;
    const auto rows = testing::split_lines(
        testing::read_file(std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.csv"));
    std::string text = "time,R&D_1,Price $,50%,a|b\n";
    for (std::size_t t = 1; t < 400; ++t) {
        text += rows[t] + "\n";
    }
    testing::write_file(dir / "names.csv", text);
    const std::string fit =
        "fit --course-file names.csv --component 1 --lag 1 --regimes 2 --thresholds 0 --m 1 "
        "--tables ";
    ASSERT_EQ(testing::run_cli(fit + "n.tex", dir).status, 0);
    ASSERT_EQ(testing::run_cli(fit + "n.md", dir).status, 0);
    const std::string tex = testing::read_file(dir / "n.tex");
    EXPECT_TRUE(contains(tex, " & R\\&D\\_1 & Price \\$ & 50\\% & a\\textbar{}b \\\\\n")) << tex;
    EXPECT_TRUE(contains(tex, "\nR\\&D\\_1$_{t-1}$ & ")) << tex;
    const std::string md = testing::read_file(dir / "n.md");
    EXPECT_TRUE(contains(md, "| R&D\\_1 | Price $ | 50% | a\\|b |\n")) << md;
    EXPECT_EQ(latex_escaped("a\\b~c^d{e}#"),
              "a\\textbackslash{}b\\textasciitilde{}c\\textasciicircum{}d\\{e\\}\\#");
}

TEST(TablesCli, AnUnknownExtensionOrAGuardedPathIsRefusedBeforeFitting) {
    TempDir dir;
    testing::write_file(dir / "course.csv", testing::read_file(std::string(VELMORA_SOURCE_DIR) +
                                                               "/data/eustockmarkets_returns.csv"));
    const std::string fit =
        "fit --course-file course.csv --component 1 --lag 1 --regimes 2 --positions 100 --tables ";
    auto r = testing::run_cli(fit + "t.pdf", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "--tables t.pdf: the extension must be .tex (LaTeX), .md (Markdown) or .csv\n");
    r = testing::run_cli(fit + "course.csv", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "Tables file course.csv would overwrite the course file")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt"));
    r = testing::run_cli("run --course-file course.csv --maxgen 1 --popsize 4 --tables Output.txt",
                         dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
}

// Component names of 30,000 characters make the table, which repeats them on
// every row, the one file of the fit that a file size limit stops.
TEST(TablesCli, ATableThatCannotBeWrittenIsNamedListedAndEndsWithStatusThree) {
    TempDir dir;
    const auto rows = testing::split_lines(testing::read_file(testing::sample_series()));
    std::string text;
    for (char name : {'a', 'b', 'c'}) {
        text += std::string(30000, name) + (name == 'c' ? "\n" : ",");
    }
    for (std::size_t t = 0; t < 600; ++t) {
        std::string line = rows[t];
        for (char& ch : line) {
            if (ch == ' ') {
                ch = ',';
            }
        }
        text += line.substr(0, line.rfind(',')) + "\n";
    }
    testing::write_file(dir / "long.csv", text);
    testing::write_file(dir / "t.tex", "earlier table\n");
    testing::ChildProcess child(
        VELMORA_CLI_PATH,
        {"fit", "--course-file", "long.csv", "--component", "1", "--lag", "1", "--regimes", "2",
         "--thresholds", "0", "--m", "1", "--json", "f.json", "--tables", "t.tex"},
        dir.path(), rlim_t{200000});
    const testing::ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.err, "Tables file t.tex could not be written: File too large\n");
    EXPECT_FALSE(contains(r.out, "Tables: t.tex")) << r.out;
    EXPECT_EQ(testing::read_file(dir / "t.tex"), "earlier table\n");
    const auto json = nlohmann::json::parse(testing::read_file(dir / "f.json"));
    ASSERT_EQ(json["files_failed"].size(), 1u) << json["files_failed"].dump();
    EXPECT_EQ(json["files_failed"][0]["path"], "t.tex");
    EXPECT_EQ(json["files"].size(), 3u);  // the three report files alone
}

}  // namespace
}  // namespace velmora
