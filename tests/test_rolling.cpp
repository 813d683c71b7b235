// Rolling-origin evaluation: the Diebold-Mariano test against its formula
// written out here, and the error figures of `velmora fit --rolling` against
// its own forecasts, recomputed from the rolling CSV and from a linear VAR
// estimated here by plain normal equations.

#include <gtest/gtest.h>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "diagnostics_reference.hpp"
#include "inference/regression.hpp"
#include "rolling/rolling.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using nlohmann::json;
using testing::TempDir;

// The statistic written out: mean over sqrt(long-run variance / n), with
// Bartlett weights on h - 1 autocovariances, times the small-sample factor.
double plain_dm(const std::vector<double>& d, int h) {
    const double n = static_cast<double>(d.size());
    double mean = 0.0;
    for (double x : d) {
        mean += x / n;
    }
    double variance = 0.0;
    for (int j = 0; j < h; ++j) {
        double gamma = 0.0;
        for (std::size_t t = static_cast<std::size_t>(j); t < d.size(); ++t) {
            gamma += (d[t] - mean) * (d[t - static_cast<std::size_t>(j)] - mean);
        }
        gamma /= n;
        variance += (j == 0 ? 1.0 : 2.0 * (1.0 - static_cast<double>(j) / h)) * gamma;
    }
    const double hln = std::sqrt((n + 1.0 - 2.0 * h + h * (h - 1.0) / n) / n);
    return mean / std::sqrt(variance / n) * hln;
}

TEST(DieboldMariano, MatchesTheFormulaForEveryHorizon) {
    const std::vector<double> d = {0.3, -0.1, 0.7,  0.2, -0.4, 0.9,
                                   0.1, 0.05, -0.2, 0.6, 0.35, -0.05};
    for (int h : {1, 2, 4}) {
        const rolling::DieboldMariano dm = rolling::diebold_mariano(d, h);
        EXPECT_NEAR(dm.statistic, plain_dm(d, h), 1e-12) << h;
        EXPECT_EQ(dm.count, 12);
        EXPECT_DOUBLE_EQ(dm.p_value, inference::student_t_two_sided(dm.statistic, 11.0));
    }
    // h = 1 by hand: mean 0.2041667, variance (divisor n) 0.1364410.
    const rolling::DieboldMariano one = rolling::diebold_mariano(d, 1);
    EXPECT_NEAR(one.statistic, 0.2041666667 / std::sqrt(0.1364409722 / 12) * std::sqrt(11.0 / 12),
                1e-8);
    // Losses that never differ, or differ by a constant, have no variance.
    EXPECT_TRUE(std::isnan(rolling::diebold_mariano(std::vector<double>(5, 0.5), 1).statistic));
    EXPECT_TRUE(std::isnan(rolling::diebold_mariano(std::vector<double>{1.0}, 1).statistic));
}

TEST(DieboldMariano, SignFavoursTheModelWithSmallerLosses) {
    // d = e_linear^2 - e_threshold^2 mostly positive: the threshold model wins.
    std::vector<double> d;
    for (int t = 0; t < 40; ++t) {
        d.push_back(0.5 + std::sin(t * 1.3));
    }
    const rolling::DieboldMariano dm = rolling::diebold_mariano(d, 1);
    EXPECT_GT(dm.statistic, 2.0);
    EXPECT_LT(dm.p_value, 0.05);
}

// Solves a x = b (a is n x n).
std::vector<double> solve(const std::vector<std::vector<double>>& a, const std::vector<double>& b) {
    testing::Square column;
    for (double v : b) {
        column.push_back({v});
    }
    std::vector<double> x;
    for (const auto& row : testing::reference_solve(a, column)) {
        x.push_back(row[0]);
    }
    return x;
}

// The sample's rows (4 components), read from the blank-separated copy.
std::vector<std::vector<double>> sample_rows(int n) {
    std::istringstream in(testing::read_file(testing::sample_series()));
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(n), std::vector<double>(4));
    for (auto& row : rows) {
        for (double& x : row) {
            in >> x;
        }
    }
    return rows;
}

// The linear VAR(p) without intercept on rows 1..origin (1-based), fitted on
// times p+1..origin equation by equation, then iterated h steps. With a
// trend_origin of 0 or more, a trend column trend_origin + t comes first.
std::vector<std::vector<double>> plain_var_forecast(const std::vector<std::vector<double>>& y,
                                                    int origin, int p, int steps,
                                                    int trend_origin = -1) {
    const std::size_t k = 4;
    const std::size_t q = static_cast<std::size_t>(p) * k + (trend_origin >= 0 ? 1 : 0);
    auto regressors = [&](const std::vector<std::vector<double>>& rows, int t) {
        std::vector<double> z;  // the trend, then lag 1 first, components in order
        if (trend_origin >= 0) {
            z.push_back(static_cast<double>(trend_origin + t));
        }
        for (int lag = 1; lag <= p; ++lag) {
            for (std::size_t c = 0; c < k; ++c) {
                z.push_back(rows[static_cast<std::size_t>(t - lag - 1)][c]);
            }
        }
        return z;
    };
    std::vector<std::vector<double>> zz(q, std::vector<double>(q, 0.0));
    std::vector<std::vector<double>> zy(k, std::vector<double>(q, 0.0));
    for (int t = p + 1; t <= origin; ++t) {
        const std::vector<double> z = regressors(y, t);
        for (std::size_t a = 0; a < q; ++a) {
            for (std::size_t b = 0; b < q; ++b) {
                zz[a][b] += z[a] * z[b];
            }
            for (std::size_t c = 0; c < k; ++c) {
                zy[c][a] += z[a] * y[static_cast<std::size_t>(t - 1)][c];
            }
        }
    }
    std::vector<std::vector<double>> beta;
    for (std::size_t c = 0; c < k; ++c) {
        beta.push_back(solve(zz, zy[c]));
    }
    std::vector<std::vector<double>> path(y.begin(), y.begin() + origin);
    std::vector<std::vector<double>> out;
    for (int h = 1; h <= steps; ++h) {
        const std::vector<double> z = regressors(path, origin + h);
        std::vector<double> next(k, 0.0);
        for (std::size_t c = 0; c < k; ++c) {
            for (std::size_t a = 0; a < q; ++a) {
                next[c] += beta[c][a] * z[a];
            }
        }
        path.push_back(next);
        out.push_back(next);
    }
    return out;
}

struct CsvRow {
    int origin, horizon, component;
    double forecast, linear, actual;
};

std::vector<CsvRow> read_rolling_csv(const std::filesystem::path& path) {
    std::vector<CsvRow> rows;
    const auto lines = testing::read_lines(path);
    EXPECT_EQ(lines.at(0),
              "origin,origin_label,horizon,component,component_name,forecast,linear_forecast,"
              "actual");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = testing::csv_fields(lines[i]);
        // An origin where the model could not be estimated has no forecasts.
        const auto number = [](const std::string& text) {
            return text.empty() ? std::nan("") : std::stod(text);
        };
        rows.push_back({std::stoi(f.at(0)), std::stoi(f.at(2)), std::stoi(f.at(3)), number(f.at(5)),
                        number(f.at(6)), number(f.at(7))});
    }
    return rows;
}

class RollingFit : public ::testing::Test {
  protected:
    static constexpr int kRows = 300;
    static constexpr int kOrigins = 25;
    static constexpr int kHorizon = 3;
    TempDir dir;

    json fit(const std::string& extra, const std::string& name) {
        const auto r = testing::run_cli(
            "fit --course-file " + testing::shell_quote(testing::sample_series()) + " --n-oss " +
                std::to_string(kRows) +
                " --n-comp 4 --component 1 --lag 4 --regimes 2 --thresholds 0.2 --rolling " +
                std::to_string(kOrigins) + " --forecast " + std::to_string(kHorizon) +
                " --forecast-paths 200 --json " + name + ".json --rolling-csv " + name + ".csv " +
                extra,
            dir);
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(testing::read_file(dir / (name + ".json"))).at("rolling");
    }
};

TEST_F(RollingFit, ErrorFiguresAreThoseOfTheForecastsWritten) {
    const json rolling = fit("--threads 1", "one");
    const std::vector<CsvRow> rows = read_rolling_csv(dir / "one.csv");
    EXPECT_EQ(rolling.at("origins"), kOrigins);
    EXPECT_EQ(rolling.at("structures").size(), static_cast<std::size_t>(kOrigins));
    EXPECT_EQ(rolling.at("structures").at(0).at("origin"), kRows - kOrigins);
    // Origin o reaches min(H, rows - o) steps; 4 components each.
    int expected_rows = 0;
    for (int o = kRows - kOrigins; o < kRows; ++o) {
        expected_rows += 4 * std::min(kHorizon, kRows - o);
    }
    ASSERT_EQ(static_cast<int>(rows.size()), expected_rows);

    const auto y = sample_rows(kRows);
    for (int h = 1; h <= kHorizon; ++h) {
        double sq_all = 0.0;
        double abs_all = 0.0;
        int n = 0;
        std::vector<double> d;
        for (int c = 1; c <= 4; ++c) {
            double sq = 0.0, ab = 0.0, sq_lin = 0.0, ab_lin = 0.0;
            int count = 0;
            for (const CsvRow& r : rows) {
                if (r.horizon != h || r.component != c) {
                    continue;
                }
                // The value that came is the series' own.
                EXPECT_EQ(
                    r.actual,
                    y[static_cast<std::size_t>(r.origin + h - 1)][static_cast<std::size_t>(c - 1)]);
                sq += (r.actual - r.forecast) * (r.actual - r.forecast);
                ab += std::fabs(r.actual - r.forecast);
                sq_lin += (r.actual - r.linear) * (r.actual - r.linear);
                ab_lin += std::fabs(r.actual - r.linear);
                ++count;
            }
            n = count;
            const auto at = [&](const char* key) {
                return rolling.at(key).at(h - 1).at(c - 1).get<double>();
            };
            EXPECT_NEAR(at("rmse"), std::sqrt(sq / count), 1e-12);
            EXPECT_NEAR(at("mae"), ab / count, 1e-12);
            EXPECT_NEAR(at("linear_rmse"), std::sqrt(sq_lin / count), 1e-12);
            EXPECT_NEAR(at("linear_mae"), ab_lin / count, 1e-12);
            // Over every component: the mean square over all n*k errors.
            sq_all += at("rmse") * at("rmse");
            abs_all += at("mae");
        }
        EXPECT_EQ(rolling.at("forecasts").at(h - 1), n);
        EXPECT_NEAR(rolling.at("rmse_all").at(h - 1).get<double>(), std::sqrt(sq_all / 4), 1e-12);
        EXPECT_NEAR(rolling.at("mae_all").at(h - 1).get<double>(), abs_all / 4, 1e-12);

        // The test on the summed squared-error differences, origin by origin.
        for (int o = kRows - kOrigins; o + h <= kRows; ++o) {
            double diff = 0.0;
            for (const CsvRow& r : rows) {
                if (r.origin == o && r.horizon == h) {
                    diff += (r.actual - r.linear) * (r.actual - r.linear) -
                            (r.actual - r.forecast) * (r.actual - r.forecast);
                }
            }
            d.push_back(diff);
        }
        EXPECT_NEAR(rolling.at("dm_statistic").at(h - 1).get<double>(), plain_dm(d, h), 1e-9);
    }

    // The linear VAR's forecasts rebuilt at two origins from its own least
    // squares on every row before them.
    for (int o : {kRows - kOrigins, kRows - 2}) {
        const auto expected = plain_var_forecast(y, o, 2, std::min(kHorizon, kRows - o));
        for (const CsvRow& r : rows) {
            if (r.origin == o) {
                EXPECT_NEAR(r.linear,
                            expected[static_cast<std::size_t>(r.horizon - 1)]
                                    [static_cast<std::size_t>(r.component - 1)],
                            1e-10)
                    << "origin " << o << " step " << r.horizon << " component " << r.component;
            }
        }
    }
}

TEST_F(RollingFit, ThreadsDoNotChangeTheFiguresAndAWindowMovesTheRows) {
    const json one = fit("--threads 1", "one");
    const json two = fit("--threads 3", "two");
    EXPECT_EQ(one, two);
    EXPECT_EQ(testing::read_file(dir / "one.csv"), testing::read_file(dir / "two.csv"));

    const json moving = fit("--rolling-window 120", "moving");
    EXPECT_EQ(moving.at("window"), 120);
    for (const json& s : moving.at("structures")) {
        EXPECT_EQ(s.at("first_row").get<int>(), s.at("origin").get<int>() - 119);
        // The thresholds of every row leave a regime of some windows too
        // small; they are estimated again from an even split.
        EXPECT_EQ(s.at("status"), "estimated") << s.dump();
    }
    const auto y = sample_rows(kRows);
    // The linear VAR at the first origin knows only the window's rows.
    const int o = kRows - kOrigins;
    std::vector<std::vector<double>> window(y.begin() + (o - 120), y.begin() + kRows);
    const auto expected = plain_var_forecast(window, 120, 2, 1);
    for (const CsvRow& r : read_rolling_csv(dir / "moving.csv")) {
        if (r.origin == o && r.horizon == 1) {
            EXPECT_NEAR(r.linear, expected[0][static_cast<std::size_t>(r.component - 1)], 1e-10);
        }
    }
    EXPECT_NE(moving.at("rmse"), one.at("rmse"));
}

TEST_F(RollingFit, AMovingWindowsTrendCountsTheRowsOfTheDataRead) {
    const json moving = fit("--rolling-window 120 --include trend", "trend");
    const auto y = sample_rows(kRows);
    const int o = kRows - kOrigins;
    std::vector<std::vector<double>> window(y.begin() + (o - 120), y.begin() + kRows);
    // Row 1 of the window is row o - 119 of the data read.
    const auto expected = plain_var_forecast(window, 120, 2, 1, o - 120);
    const auto counted_in_window = plain_var_forecast(window, 120, 2, 1, 0);
    int checked = 0;
    for (const CsvRow& r : read_rolling_csv(dir / "trend.csv")) {
        if (r.origin == o && r.horizon == 1) {
            const std::size_t c = static_cast<std::size_t>(r.component - 1);
            EXPECT_NEAR(r.linear, expected[0][c], 1e-9);
            // A trend restarted at the window's first row forecasts otherwise.
            EXPECT_GT(std::fabs(expected[0][c] - counted_in_window[0][c]), 1e-9);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 4);
    for (const json& s : moving.at("structures")) {
        EXPECT_EQ(s.at("status"), "estimated") << s.dump();
    }
}

TEST(RollingCli, RequestsThatDoNotFitTheSeriesAreRefused) {
    TempDir dir;
    const std::string base = "fit --course-file " + testing::shell_quote(testing::sample_series()) +
                             " --n-oss 100 --n-comp 4 --component 1 --lag 1 --regimes 2 "
                             "--positions 40 ";
    for (const char* bad :
         {"--rolling 71", "--rolling 10 --rolling-window 29", "--rolling 10 --rolling-window 91",
          "--rolling-window 40", "--rolling-csv r.csv"}) {
        const auto r = testing::run_cli(base + bad, dir);
        EXPECT_EQ(r.status, 2) << bad << ": " << r.err;
        EXPECT_TRUE(testing::contains(r.err, "--rolling")) << r.err;
    }
}

TEST(RollingCli, ARunSearchesAgainAtEveryOriginAndLeavesNoScratch) {
    TempDir dir;
    const auto r = testing::run_cli(
        "run --course-file " + testing::shell_quote(testing::sample_series()) +
            " --n-oss 200 --n-comp 4 --maxgen 3 --popsize 10 --seed 3 --rolling 3 --json r.json "
            "--workdir w",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(testing::contains(r.out, "Rolling origins: 3 (rows 197 to 199)")) << r.out;
    const json rolling = json::parse(testing::read_file(dir / "r.json")).at("rolling");
    ASSERT_EQ(rolling.at("structures").size(), 3U);
    for (const json& s : rolling.at("structures")) {
        EXPECT_EQ(s.at("status"), "estimated");
        EXPECT_TRUE(s.contains("lags"));
    }
    EXPECT_EQ(rolling.at("horizon"), 1);
    EXPECT_EQ(rolling.at("rmse").size(), 1U);
    EXPECT_FALSE(std::filesystem::exists(dir / "w" / ".rolling-searches"));
}

}  // namespace
}  // namespace velmora
