// The course of a search: the generation hook of the run, the history CSV it
// feeds, and the command line's --history.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_driver.hpp"
#include "output/csv.hpp"
#include "output/history_csv.hpp"
#include "run_test_helpers.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::read_file;
using testing::read_lines;
using testing::RecordingConsole;
using testing::TempDir;

const std::string& sample = testing::sample_series();

RunConfig small_config() {
    return testing::small_search_config(200, 6);
}

std::vector<std::string> fields_of(const std::string& line) {
    return testing::csv_fields(line);
}

TEST(CsvNumber, ShortestExactFormAndEmptyForMissing) {
    EXPECT_EQ(csv_number(0.1), "0.1");
    EXPECT_EQ(csv_number(-2.632612), "-2.632612");
    EXPECT_EQ(std::stod(csv_number(1.0 / 3.0)), 1.0 / 3.0);
    EXPECT_EQ(csv_number(std::nan("")), "");
    EXPECT_EQ(csv_number(HUGE_VAL), "");
    EXPECT_EQ(csv_text("DAX"), "DAX");
    EXPECT_EQ(csv_text("a,\"b\""), "\"a,\"\"b\"\"\"");
}

// The hook sees every bred generation once, in order, with figures that agree
// with the population: the best criterion is the criterion of the best
// fitness, no worse than the mean, and (the best is kept) never rises.
TEST(GenerationHook, OncePerGenerationWithConsistentFigures) {
    TempDir dir;
    RecordingConsole console;
    RunOptions o;
    o.workdir = dir.path();
    o.console = &console;
    o.seed = 321;
    std::vector<RunProgress> seen;
    o.generation_bred = [&seen](const RunProgress& p) { seen.push_back(p); };
    const RunConfig c = small_config();
    const RunResult r = run_search(c, o);

    ASSERT_EQ(static_cast<int>(seen.size()), c.maxgen);
    for (int g = 0; g < c.maxgen; ++g) {
        const RunProgress& p = seen[static_cast<std::size_t>(g)];
        EXPECT_EQ(p.replication, 1);
        EXPECT_EQ(p.generation, g + 1);
        EXPECT_EQ(p.maxgen, c.maxgen);
        EXPECT_NEAR(p.best_criterion, -100.0 * std::log(p.best_fitness), 1e-9);
        EXPECT_LE(p.best_criterion, p.mean_criterion + 1e-12);
        EXPECT_GE(p.best_fitness, p.mean_fitness);
        EXPECT_GE(p.seconds, 0.0);
        if (g > 0) {
            const RunProgress& before = seen[static_cast<std::size_t>(g - 1)];
            EXPECT_LE(p.best_criterion, before.best_criterion + 1e-12);
            EXPECT_GT(p.nevals, before.nevals);
            EXPECT_GE(p.estimations, before.estimations);
            EXPECT_GE(p.seconds, before.seconds);
        }
    }
    // The last row describes the population the reported model came from.
    EXPECT_NEAR(seen.back().best_criterion, r.best_criterion, 1e-9);
    EXPECT_EQ(seen.back().nevals, r.nevals);
    EXPECT_EQ(seen.back().estimations, r.estimations);
}

TEST(HistoryCli, MaxgenRowsWithTheHeaderAndTheSummaryAtTheEnd) {
    TempDir dir;
    const std::string cli = testing::shell_quote(VELMORA_CLI_PATH);
    const testing::CommandResult r = testing::run_command(
        cli + " run --course-file " + testing::shell_quote(sample) +
            " --n-oss 200 --min-oss-reg 20 --popsize 12 --maxgen 7 --seed 44 --threads 1"
            " --history hist.csv --json run.json",
        dir.path(), dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = read_lines(dir / "hist.csv");
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], HistoryCsv::header());
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = fields_of(lines[i]);
        ASSERT_EQ(f.size(), 9u) << lines[i];
        EXPECT_EQ(f[0], "1");
        EXPECT_EQ(std::stoi(f[1]), static_cast<int>(i));
    }
    const auto json = nlohmann::json::parse(read_file(dir / "run.json"));
    const auto last = fields_of(lines.back());
    EXPECT_NEAR(std::stod(last[2]), json["best"]["criterion"].get<double>(), 1e-9);
    EXPECT_EQ(std::stoi(last[6]), json["evaluations"].get<int>());
    EXPECT_EQ(std::stoll(last[7]), json["estimations"].get<long long>());
}

TEST(HistoryCli, AnUnwritablePathIsRefusedBeforeTheSearch) {
    TempDir dir;
    const std::string cli = testing::shell_quote(VELMORA_CLI_PATH);
    const testing::CommandResult r =
        testing::run_command(cli + " run --course-file " + testing::shell_quote(sample) +
                                 " --maxgen 2 --history no-such-dir/hist.csv --json run.json",
                             dir.path(), dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "History file no-such-dir/hist.csv could not be created\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "run.json"));
}

}  // namespace
}  // namespace velmora
