// The command line under hostile conditions: a course file that is one of the
// run's own files, a file size limit with the signal's default action, outputs
// behind symbolic links, failures after the search, signals inside long
// simulations, bytes from the data that a terminal would act on.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "output/report/model_report.hpp"
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
        // The simulation starts right after the report's last file is
        // appended: the signal comes a moment later.
        const auto last_report = model_report_paths(dir.path(), 1)[2];
        const auto wait_until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!std::filesystem::exists(last_report) &&
               std::chrono::steady_clock::now() < wait_until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
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

// The sample's first rows with a label column and these separators.
std::string labelled_csv(const std::string& header, const std::string& label, char separator,
                         std::size_t rows) {
    std::string text = header + "\n";
    const std::vector<std::string> lines = testing::split_lines(read_file(sample));
    for (std::size_t t = 0; t < rows && t < lines.size(); ++t) {
        std::string line = lines[t];
        for (char& ch : line) {
            if (ch == ' ' || ch == '\t') {
                ch = separator;
            }
        }
        text += label + std::to_string(t + 1) + separator + line + "\n";
    }
    return text;
}

TEST(SeriesText, NamesAndLabelsInWindows1252ReachTheJsonAsUtf8) {
    TempDir dir;
    // A Latin-1 semicolon export: "Zürich" and "Mär 1999" as single bytes.
    write_file(dir / "s.csv",
               labelled_csv("Datum;Z\xFCrich;B\xE2le;Gen\xE8ve;Lugano", "M\xE4r 1999/", ';', 300));
    const CommandResult r = velmora(
        "fit --course-file s.csv --component 1 --lag 1 --regimes 2 --thresholds 0 --json f.json "
        "--regimes-csv r.csv",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Threshold variable: Z\xC3\xBCrich at lag 1")) << r.out;
    const auto json = nlohmann::json::parse(read_file(dir / "f.json"));
    EXPECT_EQ(json["series"]["component_names"][0], "Z\xC3\xBCrich");
    EXPECT_EQ(json["series"]["component_names"][1], "B\xC3\xA2le");
    EXPECT_EQ(json["series"]["row_labels"]["first"], "M\xC3\xA4r 1999/1");
    EXPECT_EQ(json["model"]["component_names"][0], "Z\xC3\xBCrich");
    const std::string regimes = read_file(dir / "r.csv");
    EXPECT_TRUE(contains(regimes, "fitted_Z\xC3\xBCrich")) << regimes.substr(0, 200);
    EXPECT_TRUE(contains(regimes, "M\xC3\xA4r 1999/1,")) << regimes.substr(0, 300);
    // Text already in UTF-8 stays as it is.
    write_file(dir / "u.csv", labelled_csv("date,Z\xC3\xBCrich,b,c,d", "x", ',', 300));
    const CommandResult u = velmora(
        "fit --course-file u.csv --component 1 --lag 1 --regimes 2 --thresholds 0 --json u.json",
        dir);
    ASSERT_EQ(u.status, 0) << u.err;
    EXPECT_EQ(nlohmann::json::parse(read_file(dir / "u.json"))["series"]["component_names"][0],
              "Z\xC3\xBCrich");
    // A file name that is not UTF-8 reaches the JSON with U+FFFD for its byte.
    write_file(dir / "d\xE9.txt", read_file(sample));
    const CommandResult p = velmora(
        "fit --course-file 'd\xE9.txt' --n-oss 300 --component 1 --lag 1 --regimes 2 "
        "--thresholds 0 --json p.json",
        dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(nlohmann::json::parse(read_file(dir / "p.json"))["parameters"]["course_file"],
              "d\xEF\xBF\xBD.txt");
}

TEST(SeriesText, ControlBytesFromTheDataReachStandardOutputEscaped) {
    TempDir dir;
    write_file(dir / "s.csv",
               labelled_csv("date,\x1B[31mDAX,\"SMI\nX\",CAC,FTSE", "\x1B]0;t\x07", ',', 300));
    const CommandResult r =
        velmora("run --course-file s.csv --maxgen 2 --seed 2 --no-refine --json s.json", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.out, "\x1B")) << r.out;
    EXPECT_FALSE(contains(r.out, "\x07")) << r.out;
    bool series_line = false;
    for (const std::string& line : testing::split_lines(r.out)) {
        if (line.rfind("Series: ", 0) == 0) {
            series_line = true;
            EXPECT_TRUE(contains(line, "\\x1B[31mDAX, SMI\\x0AX, CAC, FTSE")) << line;
            EXPECT_TRUE(contains(line, "(\\x1B]0;t\\x071 to ")) << line;
        }
    }
    EXPECT_TRUE(series_line) << r.out;
    // The JSON keeps the names as they are, escaped by JSON itself.
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    EXPECT_EQ(json["series"]["component_names"][1], "SMI\nX");
}

TEST(Replications, AreWrittenAsTheyFinishWhileTheRunGoesOn) {
    TempDir dir;
    ChildProcess child(VELMORA_CLI_PATH,
                       {"run", "--course-file", sample, "--n-oss", "300", "--replications", "1000",
                        "--maxgen", "3", "--seed", "5", "--threads", "2", "--history", "h.csv"},
                       dir.path());
    // Rows and reports of replications 1 and 2 while later ones still run.
    ASSERT_TRUE(testing::wait_for_text(dir / "h.csv", "\n3,1,"));
    ASSERT_TRUE(testing::wait_for_text(dir / "Output.txt", "casual=7"));
    child.send(SIGINT);
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 130) << "the run ended before its replications were written: " << r.err;
    EXPECT_TRUE(contains(r.err, "replications that finished keep their reports")) << r.err;
    EXPECT_TRUE(contains(r.err, "the reports of ")) << r.err;
    const std::string reports = read_file(dir / "OutputThresholdUnivariate.txt") +
                                read_file(dir / "OutputThresholdBivariate.txt");
    EXPECT_GE(testing::count_of(reports, "Number of Regime"), 2) << reports.substr(0, 200);
}

TEST(LesserFaults, ANonEstimableFitHasANullCriterionInItsJson) {
    TempDir dir;
    const CommandResult r = velmora("fit --course-file " + shell_quote(sample) +
                                        " --component 1 --lag 1 --regimes 3 --positions 100,200 "
                                        "--min-oss-reg 900 --json f.json",
                                    dir);
    EXPECT_EQ(r.status, 2) << r.err;
    const auto json = nlohmann::json::parse(read_file(dir / "f.json"));
    EXPECT_NE(json["model"]["status"], "estimated");
    EXPECT_TRUE(json["model"]["criterion"].is_null()) << json["model"]["criterion"];
    EXPECT_EQ(json["model"]["fitness"], 0.0);
}

TEST(LesserFaults, TheHistorysLastBestCriterionIsTheSummarysToTheLastBit) {
    for (const int seed : {1, 2, 3, 4, 5, 6}) {
        TempDir dir;
        const CommandResult r = velmora("run --course-file " + shell_quote(sample) +
                                            " --n-oss 1000 --maxgen 4 --no-refine --seed " +
                                            std::to_string(seed) + " --history h.csv --json s.json",
                                        dir);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> rows = testing::read_lines(dir / "h.csv");
        const double last = std::stod(testing::csv_fields(rows.back())[2]);
        const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
        EXPECT_EQ(last, json["best"]["criterion"].get<double>()) << "seed " << seed;
    }
}

TEST(LesserFaults, LongFieldsAreRefusedAsTooLongInTheirOwnColumn) {
    TempDir dir;
    // A field of 2.1 MB spans the reader's chunks; one of 1.1 MB may fit in
    // one: both are too long, and in column 2 of 3.
    for (const std::size_t size : {std::size_t{2100000}, std::size_t{1100000}}) {
        write_file(dir / "s.csv", "a,b,c\n1," + std::string(size, '7') + ",3\n");
        const CommandResult r =
            velmora("fit --course-file s.csv --component 1 --lag 1 --regimes 2 --positions 1", dir);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(contains(r.err, "row 2, column 2: a field longer than 1048576 bytes"))
            << size << ": " << r.err;
    }
}

TEST(LesserFaults, FitRefusesASeedOutsideItsRangeAndThresholdsAreNamedAsSuch) {
    TempDir dir;
    const std::string fit = "fit --course-file " + shell_quote(sample) +
                            " --n-oss 300 --component 1 --lag 1 --regimes 2 ";
    for (const char* seed : {"-1", "18446744073709551616", "1e3"}) {
        const CommandResult r = velmora(fit + "--thresholds 0 --seed " + seed, dir);
        EXPECT_EQ(r.status, 2) << seed;
        EXPECT_TRUE(contains(r.err, "--seed")) << r.err;
    }
    EXPECT_EQ(velmora(fit + "--thresholds 0 --seed 18446744073709551615", dir).status, 0);
    const CommandResult r = velmora(fit + "--thresholds 1,5", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "--thresholds: 2 regimes need 1 threshold value, got 2")) << r.err;
}

TEST(LesserFaults, AnExplosiveForecastLeavesEmptyFieldsAndSaysSo) {
    TempDir dir;
    // Component 1 grows by 30 % a step: its forecast overflows long before
    // 3000 steps.
    std::string text;
    double y = 1.0;
    for (int t = 1; t <= 40; ++t) {
        y = 1.3 * y + 0.01 * std::sin(t);
        char row[96];
        std::snprintf(row, sizeof row, "%.12g %.12g\n", y, std::sin(2.5 * t));
        text += row;
    }
    write_file(dir / "s.txt", text);
    const CommandResult r = velmora(
        "fit --course-file s.txt --m 1 --min-oss-reg 5 --component 2 --lag 1 --regimes 2 "
        "--thresholds 0 --forecast 3000 --forecast-paths 5 --forecast-csv f.csv --json f.json",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "Warning: the model is explosive")) << r.err;
    const std::string csv = read_file(dir / "f.csv");
    EXPECT_FALSE(contains(csv, "inf")) << csv.substr(csv.size() - 200);
    EXPECT_FALSE(contains(csv, "nan")) << csv.substr(csv.size() - 200);
    EXPECT_TRUE(contains(csv, ",,")) << csv.substr(csv.size() - 200);
}

TEST(LesserFaults, ACourseFileTooShortForASearchIsNamed) {
    TempDir dir;
    write_file(dir / "short.txt", "1 2\n3 4\n5 6\n7 8\n9 10\n");
    const CommandResult r = velmora("run --course-file short.txt", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err,
                         "Course file short.txt holds 5 rows: Number of observations must "
                         "be >= 30 (n_oss = 5)"))
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
}

}  // namespace
}  // namespace velmora
