// The files a run or a fit writes at paths the user names (JSON summary,
// history, regimes, forecast and impulse-response CSV files): refused before
// anything is written when they would block or destroy a file, written whole
// or not at all, a failure named and listed; fit's JSON as complete as a
// run's; and a course file that can be read only once.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "output/output_files.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::ChildOutcome;
using testing::ChildProcess;
using testing::CommandResult;
using testing::read_file;
using testing::shell_quote;
using testing::TempDir;
using testing::write_file;

const std::string& sample = testing::sample_series();

using testing::contains;

CommandResult velmora(const std::string& arguments, const TempDir& dir) {
    // `timeout` turns a command that would block on a FIFO into a failure of
    // the test instead of a hung suite.
    return testing::run_command("timeout 60 " + shell_quote(VELMORA_CLI_PATH) + " " + arguments,
                                dir.path(), dir.path());
}

std::string message_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const ConfigError& e) {
        return e.what();
    }
    return {};
}

TEST(ExtraOutputs, RefusesSpecialFilesOwnFilesByAnyNameAndTwoOutputsAtOnePath) {
    TempDir dir;
    write_file(dir / "course.txt", "1 2\n");
    std::filesystem::create_directory(dir / "work");
    write_file(dir / "work" / "OutputThresholdBivariate.txt", "report\n");
    std::filesystem::create_hard_link(dir / "course.txt", dir / "alias.txt");
    std::filesystem::create_symlink(dir / "work" / "Output.txt", dir / "log-link");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "late.csv.partial").c_str(), 0600), 0);
    const auto own = command_files(dir / "course.txt", dir / "work");

    const auto refusal = [&](const std::filesystem::path& path) {
        ExtraOutputs outputs(own);
        outputs.add("Forecast file", "the forecast file", path);
        return message_of([&] { outputs.check_paths(); });
    };
    EXPECT_EQ(refusal(dir / "pipe"),
              "Forecast file " + (dir / "pipe").string() + " is a FIFO, not a regular file");
    EXPECT_EQ(refusal("/dev/null"),
              "Forecast file /dev/null is a character device, not a regular "
              "file");
    EXPECT_EQ(refusal(dir / "work"),
              "Forecast file " + (dir / "work").string() + " is a directory, not a regular file");
    // The file written beside it before the rename would block as well.
    EXPECT_TRUE(contains(refusal(dir / "late.csv"), "late.csv.partial is a FIFO")) << "partial";
    for (const auto& [path, what] : std::vector<std::pair<std::filesystem::path, std::string>>{
             {dir / "alias.txt", "the course file"},
             {dir / "work" / ".." / "course.txt", "the course file"},
             {dir / "log-link", "the run log"},
             {dir / "work" / "." / "inputonepop2.txt", "the parameter file"},
             {dir / "work" / "OutputThresholdBivariate.txt", "a result file"},
             {dir / "work" / "refined" / "ResidualThresholdUnivariate.txt", "a result file"}}) {
        EXPECT_TRUE(contains(refusal(path), " would overwrite " + what)) << path;
    }

    ExtraOutputs two(own);
    two.add("JSON summary", "the JSON summary", dir / "out.txt");
    two.add("Regimes file", "the regimes file", dir / "." / "out.txt");
    EXPECT_EQ(message_of([&] { two.check_paths(); }), "JSON summary " + (dir / "out.txt").string() +
                                                          " would overwrite the regimes file " +
                                                          (dir / "." / "out.txt").string());

    ExtraOutputs fine(own);
    fine.add("JSON summary", "the JSON summary", dir / "s.json");
    fine.add("History file", "the history file", "");  // not asked for
    fine.add("Forecast file", "the forecast file", dir / "work" / "f.csv");
    EXPECT_EQ(message_of([&] { fine.check_paths(); }), "");
    EXPECT_EQ(message_of([&] { fine.check_creatable(); }), "");
    // The check leaves no file behind.
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));
    EXPECT_FALSE(std::filesystem::exists(dir / "work" / "f.csv"));
}

TEST(ExtraOutputs, AFailedWriteKeepsTheEarlierFileAndIsListedInTheJson) {
    TempDir dir;
    write_file(dir / "not-a-dir", "x");
    write_file(dir / "f.csv", "earlier\n");
    ExtraOutputs outputs({});
    outputs.add("Forecast file", "the forecast file", dir / "f.csv");
    outputs.add("Impulse-response file", "the impulse-response file", dir / "not-a-dir" / "g.csv");
    outputs.add("JSON summary", "the JSON summary", dir / "s.json");

    EXPECT_EQ(outputs.write(dir / "not-a-dir" / "g.csv", "a,b\n"),
              "Impulse-response file " + (dir / "not-a-dir" / "g.csv").string() +
                  " could not be written: Not a directory");
    EXPECT_EQ(outputs.write(dir / "f.csv", "new\n"), "");
    EXPECT_EQ(read_file(dir / "f.csv"), "new\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "f.csv.partial"));

    nlohmann::json summary = {{"files_failed", {{{"path", "Output.txt"}, {"reason", "r"}}}}};
    EXPECT_EQ(outputs.write_json(dir / "s.json", summary), "");
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    ASSERT_EQ(json["files_failed"].size(), 2u) << json.dump();
    EXPECT_EQ(json["files_failed"][0]["path"], "Output.txt");
    EXPECT_EQ(json["files_failed"][1]["path"], (dir / "not-a-dir" / "g.csv").string());
    EXPECT_EQ(json["files_failed"][1]["reason"], "Not a directory");
    ASSERT_EQ(outputs.failed().size(), 1u);
}

// Every output option of both commands is refused before anything is
// written when it names a FIFO or a file the command reads or writes.
TEST(OutputPaths, EveryOutputOfRunAndFitIsGuardedAsTheJsonIs) {
    TempDir dir;
    write_file(dir / "series.txt", read_file(sample));
    std::filesystem::create_hard_link(dir / "series.txt", dir / "alias.txt");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    const std::string run =
        "run --course-file series.txt --n-oss 300 --maxgen 1 --popsize 4 "
        "--forecast 2 --girf 1 ";
    const std::string fit =
        "fit --course-file series.txt --n-oss 300 --component 1 --lag 1 "
        "--regimes 2 --positions 100 --forecast 2 --girf 1 ";
    const std::vector<std::pair<std::string, std::string>> options{
        {"--forecast-csv", "Forecast file"},
        {"--girf-csv", "Impulse-response file"},
        {"--regimes-csv", "Regimes file"},
        {"--json", "JSON summary"},
        {"--history", "History file"}};
    for (const auto& [option, label] : options) {
        for (const std::string& command : {run, fit}) {
            if (option == "--history" && command == fit) {
                continue;  // a fit has no generations
            }
            const std::vector<std::pair<std::string, std::string>> cases{
                {"pipe", "pipe is a FIFO, not a regular file"},
                {"alias.txt", "alias.txt would overwrite the course file"},
                {"./x/../series.txt", "would overwrite the course file"},
                {"Output.txt", "Output.txt would overwrite the run log"},
                {"./OutputThresholdUnivariate.txt", "would overwrite a result file"}};
            for (const auto& [path, refusal] : cases) {
                const CommandResult r = velmora(command + option + " " + path, dir);
                EXPECT_EQ(r.status, 2) << command << option << " " << path << ": " << r.err;
                EXPECT_EQ(r.err.rfind(label + " ", 0), 0u) << r.err;
                EXPECT_TRUE(contains(r.err, refusal)) << r.err;
            }
        }
    }
    const CommandResult same =
        velmora(run + "--forecast-csv out.csv --girf-csv ./out.csv --json s.json", dir);
    EXPECT_EQ(same.status, 2);
    EXPECT_TRUE(contains(same.err, "would overwrite the impulse-response file")) << same.err;
    // Nothing was written, and the course file is whole.
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt"));
    EXPECT_EQ(read_file(dir / "series.txt"), read_file(sample));
}

TEST(OutputPaths, ARunRefusedBeforeItsSearchKeepsAnEarlierHistoryAndSummary) {
    TempDir dir;
    write_file(dir / "short.txt", "1 2\n3 4\n");
    write_file(dir / "h.csv", "earlier history\n");
    write_file(dir / "s.json", "earlier summary\n");
    // The sizes are given, so the series is read (and refused) by the run.
    const CommandResult r = velmora(
        "run --course-file short.txt --n-oss 40 --n-comp 2 --history h.csv --json s.json", dir);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(read_file(dir / "h.csv"), "earlier history\n");
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");
    // A run that breeds no generation still writes the header.
    const CommandResult none = velmora("run --course-file " + shell_quote(sample) +
                                           " --n-oss 200 --maxgen 0 --popsize 4 --history h.csv",
                                       dir);
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(testing::read_lines(dir / "h.csv").size(), 1u);
}

// A series whose row labels are long makes the regimes file the largest
// file of the fit, so that a file size limit stops that file alone.
TEST(OutputPaths, AFailedCsvIsNamedListedInTheJsonAndEndsWithStatusThree) {
    TempDir dir;
    std::string text = "day,a,b,c\n";
    const std::vector<std::string> rows = testing::split_lines(read_file(sample));
    for (std::size_t t = 0; t < 600; ++t) {
        std::string line = rows[t];
        for (char& ch : line) {
            if (ch == ' ') {
                ch = ',';
            }
        }
        // Three of the sample's four columns, after a label of 400 characters.
        text += std::string(400, 'd') + std::to_string(t) + "," + line.substr(0, line.rfind(',')) +
                "\n";
    }
    write_file(dir / "s.csv", text);
    write_file(dir / "r.csv", "earlier regimes\n");
    ChildProcess child(
        VELMORA_CLI_PATH,
        {"fit", "--course-file", "s.csv", "--component", "1", "--lag", "1", "--regimes", "2",
         "--thresholds", "0", "--json", "s.json", "--regimes-csv", "r.csv"},
        dir.path(), rlim_t{200000});
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.err, "Regimes file r.csv could not be written: File too large\n");
    EXPECT_FALSE(contains(r.out, "Regimes: r.csv")) << r.out;
    EXPECT_TRUE(contains(r.out, "JSON summary: s.json\n")) << r.out;
    EXPECT_EQ(read_file(dir / "r.csv"), "earlier regimes\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "r.csv.partial"));
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    ASSERT_EQ(json["files_failed"].size(), 1u) << json.dump();
    EXPECT_EQ(json["files_failed"][0]["path"], "r.csv");
    EXPECT_EQ(json["files_failed"][0]["reason"], "File too large");
    EXPECT_EQ(json["files"].size(), 3u);
}

TEST(OutputPaths, AFitJsonThatDoesNotFitIsNamedAndLeavesNoFile) {
    TempDir dir;
    write_file(dir / "s.json", "earlier summary\n");
    // Room for the fit's report (about 60 kB), not for a summary with 300
    // forecast steps.
    ChildProcess child(VELMORA_CLI_PATH,
                       {"fit", "--course-file", sample, "--n-oss", "200", "--component", "3",
                        "--lag", "1", "--regimes", "2", "--thresholds", "0", "--forecast", "300",
                        "--forecast-paths", "20", "--json", "s.json"},
                       dir.path(), rlim_t{100000});
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.err, "JSON summary s.json could not be written: File too large\n");
    EXPECT_FALSE(contains(r.out, "JSON summary: s.json")) << r.out;
    EXPECT_TRUE(contains(r.out, "Forecast from time 200, 300 steps ahead")) << r.out;
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json.partial"));
}

// The refined model of a run, replayed by `velmora fit` from the summary's
// own arguments with the run's seed, gives the same forecast and impulse
// responses in its JSON as the run's JSON gives.
TEST(FitJson, CarriesTheAnalysisOfItsModelAsARunsJsonDoes) {
    TempDir dir;
    const std::string analysis =
        " --forecast 3 --forecast-paths 200 --girf 2 "
        "--girf-histories 10 --girf-repetitions 4 --threads 2";
    const CommandResult run = velmora(
        "run --course-file " + shell_quote(sample) +
            " --n-oss 400 --maxgen 3 --popsize 10 --seed 7 --workdir w --json run.json" + analysis,
        dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto searched = nlohmann::json::parse(read_file(dir / "run.json"));
    ASSERT_TRUE(searched["refined"].is_object());
    std::string replay;
    for (const auto& argument : searched["refined"]["fit_arguments"]) {
        replay += shell_quote(argument.get<std::string>()) + " ";
    }
    const CommandResult fit =
        velmora(replay + "--workdir f --seed 7 --json fit.json" + analysis, dir);
    ASSERT_EQ(fit.status, 0) << fit.err;
    const auto fitted = nlohmann::json::parse(read_file(dir / "fit.json"));
    EXPECT_EQ(fitted["model"]["criterion"], searched["refined"]["criterion"]);
    for (const char* key : {"forecast", "girf"}) {
        ASSERT_TRUE(fitted.contains(key)) << key;
        EXPECT_EQ(fitted[key], searched[key]) << key;
    }
    EXPECT_EQ(fitted["files"].size(), 3u);
    EXPECT_EQ(fitted["files_failed"], nlohmann::json::array());
}

// A FIFO holds its text once: every analysis must use the series the command
// has already read. A writer in the background feeds it once; a second
// reading would wait for another writer until `timeout` ends the command.
TEST(FifoCourseFile, AFifoFedOnceServesTheSearchTheFitAndEveryAnalysis) {
    TempDir dir;
    write_file(dir / "series.txt", read_file(sample));
    ASSERT_EQ(::mkfifo((dir / "course").c_str(), 0600), 0);
    const auto once = [&](const std::string& arguments) {
        return testing::run_command("(timeout 30 sh -c 'cat series.txt > course' &) ; timeout 30 " +
                                        shell_quote(VELMORA_CLI_PATH) + " " + arguments,
                                    dir.path(), dir.path());
    };
    const std::string analysis =
        " --forecast 2 --forecast-paths 50 --girf 1 --girf-histories 5 "
        "--girf-repetitions 2 --seed 3";
    const std::vector<std::string> commands{
        "run --course-file course --n-oss 400 --n-comp 4 --maxgen 2 --popsize 6 --no-refine",
        "run --course-file course --n-oss 400 --n-comp 4 --maxgen 2 --popsize 6 --holdout 40",
        "run --course-file course --n-oss 400 --maxgen 2 --popsize 6 --holdout 40",
        "fit --course-file course --n-oss 400 --n-comp 4 --component 3 --lag 1 --regimes 2 "
        "--thresholds 0 --holdout 40",
        "fit --course-file course --n-comp 4 --n-oss 400 --component 3 --lag 1 --regimes 2 "
        "--thresholds 0"};
    for (const std::string& command : commands) {
        const CommandResult r = once(command + analysis);
        EXPECT_EQ(r.status, 0) << command << ": " << r.err;
        EXPECT_TRUE(contains(r.out, "Forecast from time ")) << command << ": " << r.out;
    }
    // The same figures as from the plain file.
    const CommandResult piped = once(commands[3] + analysis);
    std::string plain_command = commands[3];
    plain_command.replace(plain_command.find("course "), 7, "series.txt ");
    const CommandResult plain = velmora(plain_command + analysis, dir);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(piped.out.substr(piped.out.find("Threshold variable")),
              plain.out.substr(plain.out.find("Threshold variable")));
}

}  // namespace
}  // namespace velmora
