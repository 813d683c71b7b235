// What scripts read about a fitted model: the coefficient and covariance
// tables of the JSON summaries, and the regimes over time as CSV, checked
// against the report files and the series.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "data/series.hpp"
#include "output/regimes_csv.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::CommandResult;
using testing::read_file;
using testing::read_lines;
using testing::shell_quote;
using testing::TempDir;

const std::string& sample = testing::sample_series();

using testing::run_cli;

std::vector<std::string> fields_of(const std::string& line) {
    return testing::csv_fields(line);
}

// The numbers after `key` on every line of the report that starts with it,
// in file order.
std::vector<double> values_after(const std::vector<std::string>& lines, const std::string& key) {
    std::vector<double> values;
    for (const std::string& line : lines) {
        if (line.rfind(key, 0) == 0) {
            const auto at = line.find_first_of("=:", key.size() - 1);
            values.push_back(std::stod(line.substr(at + 1)));
        }
    }
    return values;
}

// The last `count` entries.
std::vector<double> last(const std::vector<double>& v, std::size_t count) {
    return {v.end() - static_cast<std::ptrdiff_t>(std::min(count, v.size())), v.end()};
}

struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    int column(const std::string& name) const {
        for (std::size_t i = 0; i < header.size(); ++i) {
            if (header[i] == name) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
};

Table read_csv(const std::filesystem::path& path) {
    Table t;
    const auto lines = read_lines(path);
    if (lines.empty()) {
        return t;
    }
    t.header = fields_of(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        t.rows.push_back(fields_of(lines[i]));
    }
    return t;
}

// A fitted one-threshold model on 300 rows of the sample: the JSON's tables
// are the report's Phi and Sigma values at order m, and the regimes file
// assigns the report's observation counts, with the series' own values.
TEST(FitOutputs, OneThresholdTablesAndRegimesMatchTheReport) {
    TempDir dir;
    const int n = 300;
    const int k = 4;
    const int m = 2;
    const CommandResult r = run_cli(
        "fit --course-file " + shell_quote(sample) +
            " --n-oss 300 --n-comp 4 --m 2 --min-oss-reg 30 --component 2 --lag 3 --regimes 3"
            " --positions 60,200 --json fit.json --regimes-csv regimes.csv",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(read_file(dir / "fit.json"));
    const auto& model = json["model"];
    ASSERT_EQ(model["regimes"], 3);
    const auto report = read_lines(dir / "OutputThresholdUnivariate.txt");

    // Coefficients: [regime][lag][equation][variable] is the report's
    // Phi[(lag-1)k^2 + (variable-1)k + equation] of that regime at order m.
    const auto phi = last(values_after(report, "Phi["), 3u * m * k * k);
    const auto& coefficients = model["coefficients"];
    ASSERT_EQ(coefficients.size(), 3u);
    for (int reg = 0; reg < 3; ++reg) {
        ASSERT_EQ(coefficients[reg].size(), static_cast<std::size_t>(m));
        for (int lag = 0; lag < m; ++lag) {
            for (int e = 0; e < k; ++e) {
                for (int v = 0; v < k; ++v) {
                    const double value = coefficients[reg][lag][e][v].get<double>();
                    const double printed =
                        phi[static_cast<std::size_t>(reg * m * k * k + lag * k * k + v * k + e)];
                    EXPECT_NEAR(value, printed, 5e-6) << reg << lag << e << v;
                }
            }
        }
    }
    // Sigma: each regime's k x k block at order m, before the overall one.
    const auto sigma = values_after(report, "Sigma[");
    const auto regime_sigma =
        std::vector<double>(sigma.end() - (3 + 1) * k * k, sigma.end() - k * k);
    for (int reg = 0; reg < 3; ++reg) {
        for (int i = 0; i < k; ++i) {
            for (int j = 0; j < k; ++j) {
                EXPECT_NEAR(model["sigma"][reg][i][j].get<double>(),
                            regime_sigma[static_cast<std::size_t>(reg * k * k + i * k + j)], 5e-11);
            }
        }
    }

    // Regimes: one row per time; the counts per regime are the report's
    // observations at order m (and the JSON's).
    const Table t = read_csv(dir / "regimes.csv");
    ASSERT_EQ(t.rows.size(), static_cast<std::size_t>(n));
    const auto counts = last(values_after(report, "Number of Observation"), 3);
    const int regime_col = t.column("regime");
    const int z_col = t.column("threshold_variable");
    ASSERT_GE(regime_col, 0);
    ASSERT_GE(z_col, 0);
    std::map<int, int> seen;
    const double_matrix serie = read_course_file(sample, n, k);
    for (int time = 1; time <= n; ++time) {
        const auto& row = t.rows[static_cast<std::size_t>(time - 1)];
        ASSERT_EQ(row.size(), t.header.size());
        EXPECT_EQ(std::stoi(row[0]), time);
        // The threshold variable is component 2 three steps back.
        if (time > 3) {
            EXPECT_EQ(std::stod(row[static_cast<std::size_t>(z_col)]), serie[time - 3][2]);
        } else {
            EXPECT_EQ(row[static_cast<std::size_t>(z_col)], "");
        }
        const std::string& regime = row[static_cast<std::size_t>(regime_col)];
        if (regime.empty()) {
            EXPECT_EQ(row[static_cast<std::size_t>(t.column("fitted_1"))], "");
            continue;
        }
        ++seen[std::stoi(regime)];
        // Fitted value plus residual gives the observation back.
        for (int c = 1; c <= k; ++c) {
            const double fitted =
                std::stod(row[static_cast<std::size_t>(t.column("fitted_" + std::to_string(c)))]);
            const double residual =
                std::stod(row[static_cast<std::size_t>(t.column("residual_" + std::to_string(c)))]);
            EXPECT_NEAR(fitted + residual, serie[time][c], 1e-12);
        }
    }
    for (int reg = 1; reg <= 3; ++reg) {
        EXPECT_EQ(seen[reg], static_cast<int>(counts[static_cast<std::size_t>(reg - 1)]));
        EXPECT_EQ(seen[reg], model["observations_per_regime"][reg - 1].get<int>());
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST(FitOutputs, TwoThresholdRegimesCountAsTheReport) {
    TempDir dir;
    const CommandResult r = run_cli(
        "fit --course-file " + shell_quote(sample) +
            " --n-oss 400 --min-oss-reg 30 --m 1 --components 1,3 --lags 1,2 --positions 50,120"
            " --regimes 3 --type-model 2 --json fit.json --regimes-csv regimes.csv",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(read_file(dir / "fit.json"));
    const Table t = read_csv(dir / "regimes.csv");
    ASSERT_EQ(t.rows.size(), 400u);
    ASSERT_GE(t.column("threshold_variable_2"), 0);
    std::map<int, int> seen;
    for (const auto& row : t.rows) {
        const std::string& regime = row[static_cast<std::size_t>(t.column("regime"))];
        if (!regime.empty()) {
            ++seen[std::stoi(regime)];
        }
    }
    const auto counts = last(
        values_after(read_lines(dir / "OutputThresholdBivariate.txt"), "Number of Observation"), 3);
    for (int reg = 1; reg <= 3; ++reg) {
        EXPECT_EQ(seen[reg], static_cast<int>(counts[static_cast<std::size_t>(reg - 1)]));
        EXPECT_EQ(seen[reg], json["model"]["observations_per_regime"][reg - 1].get<int>());
    }
    EXPECT_EQ(json["model"]["coefficients"].size(), 3u);
    EXPECT_EQ(json["model"]["coefficients"][0].size(), 1u);
    EXPECT_EQ(json["model"]["sigma"][2].size(), 4u);
}

// A search's JSON carries the tables for its best (and refined) model, and
// its regimes file follows the reported model.
TEST(RunOutputs, RunJsonTablesAndRegimesOfTheReportedModel) {
    TempDir dir;
    const CommandResult r =
        run_cli("run --course-file " + shell_quote(sample) +
                    " --n-oss 200 --min-oss-reg 20 --popsize 10 --maxgen 4 --seed 9 --threads 1"
                    " --json run.json --regimes-csv regimes.csv",
                dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(read_file(dir / "run.json"));
    for (const char* key : {"best", "refined"}) {
        if (json[key].is_null()) {
            continue;
        }
        const auto& model = json[key];
        const auto regimes = model["regimes"].get<std::size_t>();
        ASSERT_EQ(model["coefficients"].size(), regimes) << key;
        ASSERT_EQ(model["coefficients"][0].size(), 2u) << key;     // m = 2
        ASSERT_EQ(model["coefficients"][0][0].size(), 4u) << key;  // equations
        ASSERT_EQ(model["coefficients"][0][0][0].size(), 4u) << key;
        ASSERT_EQ(model["sigma"].size(), regimes) << key;
    }
    const auto& reported = json["refined"].is_null() ? json["best"] : json["refined"];
    const Table t = read_csv(dir / "regimes.csv");
    ASSERT_EQ(t.rows.size(), 200u);
    std::map<int, int> seen;
    for (const auto& row : t.rows) {
        const std::string& regime = row[static_cast<std::size_t>(t.column("regime"))];
        if (!regime.empty()) {
            ++seen[std::stoi(regime)];
        }
    }
    for (std::size_t reg = 0; reg < reported["observations_per_regime"].size(); ++reg) {
        EXPECT_EQ(seen[static_cast<int>(reg) + 1],
                  reported["observations_per_regime"][reg].get<int>());
    }
}

TEST(RunOutputs, AnUncreatableRegimesFileIsRefusedFirst) {
    TempDir dir;
    for (const char* command :
         {"run --maxgen 2", "fit --component 1 --lag 1 --regimes 2 --positions 50"}) {
        const CommandResult r =
            run_cli(std::string(command) + " --course-file " + shell_quote(sample) +
                        " --n-oss 200 --regimes-csv missing/regimes.csv",
                    dir);
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_EQ(r.err, "Regimes file missing/regimes.csv could not be created\n") << command;
        EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
        EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt"));
    }
}

}  // namespace
}  // namespace velmora
