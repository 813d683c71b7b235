// The command line under hostile conditions: a course file that is one of the
// run's own files, a file size limit with the signal's default action, outputs
// behind symbolic links, failures after the search, signals inside long
// simulations, bytes from the data that a terminal would act on.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::ChildOutcome;
using testing::ChildProcess;
using testing::CommandResult;
using testing::contains;
using testing::read_file;
using testing::shell_quote;
using testing::TempDir;
using testing::write_file;

const std::string& sample = testing::sample_series();

CommandResult velmora(const std::string& arguments, const TempDir& dir) {
    return testing::run_command("timeout 120 " + shell_quote(VELMORA_CLI_PATH) + " " + arguments,
                                dir.path(), dir.path());
}

// The sample's first rows as a comma-separated file with a header.
std::string sample_csv(const std::string& header, std::size_t rows) {
    std::string text = header + "\n";
    const std::vector<std::string> lines = testing::split_lines(read_file(sample));
    for (std::size_t t = 0; t < rows && t < lines.size(); ++t) {
        std::string line = lines[t];
        for (char& ch : line) {
            if (ch == ' ' || ch == '\t') {
                ch = ',';
            }
        }
        text += line + "\n";
    }
    return text;
}

TEST(CourseFile, ThatIsARunFileIsRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    std::filesystem::create_directories(dir / "d" / "refined");
    const std::string series = read_file(sample);
    struct Case {
        std::string file;     // where the series is copied
        std::string course;   // how the command names it
        std::string command;  // run or fit
    };
    std::filesystem::create_symlink("d/Output.txt", dir / "link.txt");
    const std::string run = "run --maxgen 2 --history h.csv";
    const std::vector<Case> cases = {
        {"d/Output.txt", "d/Output.txt", run + " --n-comp 4"},
        {"d/Output.txt", "link.txt", run},
        {"d/OutputThresholdUnivariate.txt", "./d/../d/OutputThresholdUnivariate.txt", run},
        {"d/refined/ResidualThresholdBivariate.txt", "d/refined/ResidualThresholdBivariate.txt",
         run},
        {"d/inputonepop2.txt", "d/inputonepop2.txt", run},
        {"d/PredictionThresholdUnivariate.txt", "d/PredictionThresholdUnivariate.txt",
         "fit --component 1 --lag 1 --regimes 2 --positions 100"},
    };
    for (const Case& c : cases) {
        write_file(dir / c.file, series);
        const CommandResult r = velmora(
            c.command + " --course-file " + c.course + " --workdir d --n-oss 300 --json s.json",
            dir);
        EXPECT_EQ(r.status, 2) << c.course << r.out << r.err;
        EXPECT_TRUE(contains(r.err, "Course file " + c.course + " is ")) << r.err;
        EXPECT_EQ(read_file(dir / c.file), series) << c.course;
        EXPECT_FALSE(std::filesystem::exists(dir / "h.csv"));
        EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));
        std::filesystem::remove(dir / c.file);
    }
    // Only the file of its own name is the log: a course file beside it is read.
    write_file(dir / "d" / "series.txt", series);
    EXPECT_EQ(
        velmora("run --course-file d/series.txt --workdir d --n-oss 300 --maxgen 2", dir).status,
        0);
}

TEST(FileSizeLimit, WithTheSignalsDefaultActionEndsInStatusThreeAndKeepsTheOldReport) {
    TempDir dir;
    const std::string earlier = std::string(20000, 'x') + "\n";
    write_file(dir / "ResidualThresholdUnivariate.txt", earlier);
    ChildProcess child(VELMORA_CLI_PATH,
                       {"fit", "--course-file", sample, "--component", "1", "--lag", "2",
                        "--regimes", "2", "--positions", "100"},
                       dir.path(), rlim_t{30000}, true);
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(contains(r.err, "ResidualThresholdUnivariate.txt: File too large")) << r.err;
    EXPECT_EQ(read_file(dir / "ResidualThresholdUnivariate.txt"), earlier);
}

TEST(OutputLinks, EveryOutputIsWrittenThroughItsLinkAndTheLinkStays) {
    TempDir dir;
    std::filesystem::create_directory(dir / "targets");
    const std::vector<std::string> names = {"s.json", "r.csv", "f.csv", "g.csv", "h.csv"};
    for (const std::string& name : names) {
        write_file(dir / "targets" / name, "stale\n");
        std::filesystem::create_symlink("targets/" + name, dir / name);
    }
    const CommandResult r = velmora(
        "run --course-file " + shell_quote(sample) +
            " --n-oss 300 --maxgen 2 --seed 3 --no-refine --json s.json --regimes-csv r.csv "
            "--forecast 2 --forecast-paths 20 --forecast-csv f.csv --girf 1 --girf-histories 5 "
            "--girf-repetitions 2 --girf-csv g.csv --history h.csv",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& name : names) {
        EXPECT_TRUE(std::filesystem::is_symlink(dir / name)) << name;
        EXPECT_NE(read_file(dir / "targets" / name), "stale\n") << name;
        EXPECT_FALSE(std::filesystem::exists(dir / "targets" / (name + ".partial"))) << name;
    }
    EXPECT_TRUE(nlohmann::json::accept(read_file(dir / "targets" / "s.json")));
}

// The threshold of component 1 at lag 1 that leaves exactly `above` of the
// times 3..rows (order 2) in the upper regime.
double threshold_leaving(std::size_t above, std::size_t rows) {
    const std::vector<std::string> lines = testing::split_lines(read_file(sample));
    std::vector<double> lagged;
    for (std::size_t t = 3; t <= rows; ++t) {
        lagged.push_back(std::stod(lines[t - 2]));  // component 1 at time t - 1
    }
    std::sort(lagged.begin(), lagged.end(), std::greater<double>());
    return lagged[above];
}

TEST(AfterTheFit, AFailedStepIsListedTheOthersKeptAndTheStatusIsFour) {
    TempDir dir;
    // Eight observations for eight regressors (order 2 of four components):
    // the upper regime's residuals are zero up to rounding.
    char threshold[64];
    std::snprintf(threshold, sizeof threshold, "%.17g", threshold_leaving(8, 300));
    const CommandResult r =
        velmora("fit --course-file " + shell_quote(sample) +
                    " --n-oss 300 --component 1 --lag 1 --regimes 2 --min-oss-reg 2 --thresholds " +
                    threshold +
                    " --forecast 2 --forecast-paths 50 --forecast-csv f.csv --girf 2 "
                    "--girf-histories 5 --girf-repetitions 2 --girf-csv g.csv --json g.json",
                dir);
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_TRUE(contains(r.err,
                         "Impulse responses failed: --girf: the residual covariance of "
                         "regime 2 is not positive definite"))
        << r.err;
    ASSERT_TRUE(std::filesystem::exists(dir / "g.json")) << r.err;
    const auto json = nlohmann::json::parse(read_file(dir / "g.json"));
    EXPECT_EQ(json["model"]["observations_per_regime"][1], 8) << json["model"].dump();
    ASSERT_EQ(json["analysis_errors"].size(), 1u) << json.dump();
    EXPECT_EQ(json["analysis_errors"][0]["step"], "impulse responses");
    EXPECT_TRUE(json.contains("forecast"));
    EXPECT_FALSE(json.contains("girf"));
    EXPECT_TRUE(std::filesystem::exists(dir / "f.csv"));
    EXPECT_FALSE(std::filesystem::exists(dir / "g.csv"));
    // A file not written takes precedence: status 3.
    ChildProcess limited(VELMORA_CLI_PATH,
                         {"fit", "--course-file",    sample,    "--n-oss",
                          "300", "--component",      "1",       "--lag",
                          "1",   "--regimes",        "2",       "--min-oss-reg",
                          "2",   "--thresholds",     threshold, "--girf",
                          "2",   "--girf-histories", "5",       "--girf-repetitions",
                          "2",   "--workdir",        "limited"},
                         dir.path(), rlim_t{2000});
    const ChildOutcome lr = limited.finish();
    EXPECT_EQ(lr.status, 3) << lr.err;
}

TEST(AfterTheSearch, ARefinedFolderThatIsAFileCostsOnlyTheRefinedReport) {
    TempDir dir;
    std::filesystem::create_directory(dir / "d");
    write_file(dir / "d" / "refined", "a file\n");
    const CommandResult r =
        velmora("run --course-file " + shell_quote(sample) +
                    " --n-oss 300 --maxgen 3 --seed 4 --workdir d --json s.json",
                dir);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Its full report could not be written")) << r.out;
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    EXPECT_FALSE(json["refined"].is_null());
    ASSERT_EQ(json["files_failed"].size(), 3u) << json.dump();
    EXPECT_TRUE(contains(json["files_failed"][0]["path"].get<std::string>(), "refined/"));
    EXPECT_EQ(json["analysis_errors"].size(), 0u);
    EXPECT_EQ(read_file(dir / "d" / "refined"), "a file\n");
}

TEST(MaxgenZero, RefinesAndWritesEveryFileAskedFor) {
    TempDir dir;
    const CommandResult r = velmora(
        "run --course-file " + shell_quote(sample) +
            " --n-oss 300 --maxgen 0 --seed 8 --forecast 2 --forecast-paths 20 --forecast-csv "
            "f.csv --girf 1 --girf-histories 5 --girf-repetitions 2 --girf-csv g.csv "
            "--regimes-csv r.csv --json s.json",
        dir);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* name : {"f.csv", "g.csv", "r.csv", "s.json"}) {
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    }
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    EXPECT_FALSE(json["report_appended"].get<bool>());
    EXPECT_FALSE(json["refined"].is_null());
    EXPECT_TRUE(json.contains("forecast"));
    EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt") ||
                 std::filesystem::exists(dir / "OutputThresholdBivariate.txt"));
}

// A signal inside a simulation of billions of repetitions (impulse
// responses) or paths (the hold-out check) ends the command soon: the limit
// here only guards against minutes.
TEST(Signals, StopTheInnerLoopsOfImpulseResponsesAndTheHoldOut) {
    const std::vector<std::vector<std::string>> requests = {
        {"--girf", "2", "--girf-histories", "2", "--girf-repetitions", "2000000000"},
        {"--holdout", "20", "--forecast-paths", "2000000000"},
    };
    for (const auto& request : requests) {
        TempDir dir;
        std::vector<std::string> arguments = {
            "fit", "--course-file", sample, "--n-oss",      "300", "--component", "3", "--lag",
            "1",   "--regimes",     "2",    "--thresholds", "0",   "--threads",   "2"};
        arguments.insert(arguments.end(), request.begin(), request.end());
        ChildProcess child(VELMORA_CLI_PATH, arguments, dir.path());
        std::this_thread::sleep_for(std::chrono::seconds(3));
        child.send(SIGTERM);
        std::atomic<bool> done{false};
        std::thread guard([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!done.load() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!done.load()) {
                child.send(SIGKILL);
            }
        });
        const ChildOutcome r = child.finish();
        done.store(true);
        guard.join();
        ASSERT_TRUE(r.exited) << request[0] << " ended by signal " << r.signal;
        EXPECT_EQ(r.status, 143) << request[0] << r.err;
        EXPECT_TRUE(contains(r.err, "Fit stopped after its report was appended")) << r.err;
    }
}

}  // namespace
}  // namespace velmora
