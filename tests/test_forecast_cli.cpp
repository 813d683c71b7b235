// Forecasts, the hold-out check and impulse responses on the command line:
// the JSON keys and CSV files, the same for any thread count, and refusals.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::CommandResult;
using testing::read_file;
using testing::read_lines;
using testing::shell_quote;
using testing::TempDir;

const std::string sample = shell_quote(testing::sample_series());

using testing::run_cli;

TEST(ForecastCli, RunWritesForecastHoldoutAndResponsesTheSameForAnyThreads) {
    TempDir dir;
    const std::string run = "run --course-file " + sample +
                            " --n-oss 600 --maxgen 4 --popsize 10 --seed 9 --workdir . "
                            "--forecast 3 --forecast-paths 300 --holdout 40 --girf 2 "
                            "--girf-histories 20 --girf-repetitions 5 --forecast-csv f.csv";
    const CommandResult one = run_cli(run + " --threads 1 --json one.json", dir);
    ASSERT_EQ(one.status, 0) << one.err;
    const CommandResult two = run_cli(run + " --threads 2 --json two.json", dir);
    ASSERT_EQ(two.status, 0) << two.err;
    const auto a = nlohmann::json::parse(read_file(dir / "one.json"));
    const auto b = nlohmann::json::parse(read_file(dir / "two.json"));
    for (const char* key : {"forecast", "holdout", "girf"}) {
        ASSERT_TRUE(a.contains(key)) << key;
        EXPECT_EQ(a[key], b[key]) << key;
    }
    // The search ran on the rows before those held out; the forecast starts
    // after them.
    EXPECT_EQ(a["parameters"]["n_oss"], 560);
    EXPECT_EQ(a["forecast"]["origin"], 560);
    for (const char* table : {"mean", "median", "q05", "q95", "no_shock"}) {
        ASSERT_EQ(a["forecast"][table].size(), 3u) << table;
        EXPECT_EQ(a["forecast"][table][0].size(), 4u) << table;
    }
    EXPECT_EQ(a["holdout"]["forecasts"], nlohmann::json({40, 39, 38}));
    EXPECT_EQ(a["girf"]["regimes"][0]["mean"].size(), 4u);
    EXPECT_EQ(a["girf"]["regimes"][0]["mean"][0].size(), 3u);
    const auto lines = read_lines(dir / "f.csv");
    ASSERT_EQ(lines.size(), 1u + 3u * 4u);
    EXPECT_EQ(lines[0], "step,time,component,mean,median,q05,q95,no_shock");
    EXPECT_EQ(lines[1].rfind("1,561,1,", 0), 0u) << lines[1];
    EXPECT_NE(one.out.find("Hold-out check: fitted on rows 1-560"), std::string::npos) << one.out;
}

TEST(ForecastCli, FitForecastsItsModelAndWritesTheResponses) {
    TempDir dir;
    const std::string fit = "fit --course-file " + sample +
                            " --n-oss 1000 --component 3 --lag 1 --regimes 2 --positions 142 "
                            "--workdir . --forecast 2 --forecast-paths 200 --girf 1 "
                            "--girf-histories 10 --girf-repetitions 3 --girf-csv g.csv --seed 3";
    const CommandResult r = run_cli(fit, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Forecast from time 1000, 2 steps ahead, 200 simulated paths (seed 3)"),
              std::string::npos)
        << r.out;
    const auto lines = read_lines(dir / "g.csv");
    // Two regimes, four shocks, horizons 0 and 1, four components.
    ASSERT_EQ(lines.size(), 1u + 2u * 4u * 2u * 4u);
    EXPECT_EQ(lines[0], "regime,shock,horizon,component,mean,q05,q95");
    // The same seed replays the same figures; another seed changes them.
    EXPECT_EQ(run_cli(fit, dir).out, r.out);
    std::string other = fit;
    other.replace(other.find("--seed 3"), 8, "--seed 4");
    EXPECT_NE(run_cli(other, dir).out, r.out);
}

TEST(ForecastCli, RefusesOptionsThatCannotWork) {
    TempDir dir;
    const std::string fit = "fit --course-file " + sample +
                            " --n-oss 200 --component 1 --lag 1 --regimes 2 --positions 50 "
                            "--workdir out ";
    const CommandResult holdout = run_cli(fit + "--holdout 180", dir);
    EXPECT_EQ(holdout.status, 2);
    EXPECT_NE(holdout.err.find("--holdout: 180 rows cannot be held out of 200"), std::string::npos)
        << holdout.err;
    const CommandResult csv = run_cli(fit + "--forecast-csv f.csv", dir);
    EXPECT_EQ(csv.status, 2);
    EXPECT_NE(csv.err.find("--forecast-csv needs --forecast H"), std::string::npos) << csv.err;
    EXPECT_EQ(run_cli(fit + "--forecast 2 --forecast-paths 0", dir).status, 2);
    EXPECT_EQ(run_cli(fit + "--girf 2 --girf-histories 0", dir).status, 2);
    // Requests whose simulated values would not fit in memory, for a run as
    // for a fit: refused before the search, not after it.
    const std::string run = "run --course-file " + sample + " --n-oss 200 --workdir out ";
    for (const std::string& request : {std::string("--forecast 100000 --forecast-paths 100000"),
                                       std::string("--girf 100 --girf-histories 10000000")}) {
        for (const std::string& command : {fit, run}) {
            const CommandResult r = run_cli(command + request, dir);
            EXPECT_EQ(r.status, 2) << command << request;
            EXPECT_NE(r.err.find("simulated values; at most 1e+08 fit in memory"),
                      std::string::npos)
                << r.err;
        }
    }
    const CommandResult replicates = run_cli(run + "--test-linearity 2000000", dir);
    EXPECT_EQ(replicates.status, 2);
    EXPECT_EQ(replicates.err, "--test-linearity: 2000000 bootstrap series; at most 1000000\n");
    // Refused before anything is written.
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

}  // namespace
}  // namespace velmora
