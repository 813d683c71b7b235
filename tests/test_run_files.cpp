// What velmora does with its files when the system does not cooperate: a
// write that fails, a signal in the middle of a search, a run file that is a
// FIFO, a summary path that names another file of the run, and the option
// values refused before anything is written.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "support/text_file.hpp"
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

const std::string sample = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";

using testing::contains;

std::vector<std::string> small_run(std::vector<std::string> extra, const char* maxgen = "3") {
    std::vector<std::string> args{
        "run", "--course-file", sample, "--n-oss", "200", "--min-oss-reg", "20", "--popsize",
        "10",  "--maxgen",      maxgen, "--seed",  "42"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

CommandResult velmora(const std::string& arguments, const TempDir& dir) {
    // `timeout` turns a run that would block on a FIFO into a failure of the
    // test instead of a hung suite.
    return testing::run_command("timeout 60 " + shell_quote(VELMORA_CLI_PATH) + " " + arguments,
                                dir.path(), dir.path());
}

// The lines of the summary that list the files written.
std::string files_written_section(const std::string& out) {
    std::string section;
    const auto start = out.find("Files written:\n");
    if (start == std::string::npos) {
        return section;
    }
    std::size_t at = start + std::string("Files written:\n").size();
    while (at < out.size() && out.compare(at, 2, "  ") == 0) {
        const auto line_end = out.find('\n', at);
        section += out.substr(at, line_end - at + 1);
        at = line_end + 1;
    }
    return section;
}

TEST(WriteFailure, FullDeviceAndMissingFolderAreReportedWithTheSystemsReason) {
    TextFile log("/dev/full", "w");
    ASSERT_TRUE(log.is_open());
    log.printf("MaxGen =%d\n", 100);
    EXPECT_FALSE(log.close());
    EXPECT_EQ(log.error(), std::strerror(ENOSPC));

    EXPECT_EQ(write_text_file("/dev/full", "{}\n", "w"), std::strerror(ENOSPC));
    TempDir dir;
    write_file(dir / "plain", "x");
    EXPECT_EQ(write_text_file(dir / "plain" / "s.json", "{}\n", "w"), std::strerror(ENOTDIR));
    EXPECT_EQ(write_text_file(dir / "fine.txt", "text\n", "a"), "");
    EXPECT_EQ(read_file(dir / "fine.txt"), "text\n");
}

TEST(WriteFailure, ReplacedFileIsWholeOrKeepsItsEarlierContent) {
    TempDir dir;
    write_file(dir / "s.json", "earlier\n");
    EXPECT_EQ(replace_text_file(dir / "s.json", "later\n"), "");
    EXPECT_EQ(read_file(dir / "s.json"), "later\n");

    // A directory in the way of the partial file makes the write fail.
    std::filesystem::create_directory(dir / "s.json.partial");
    write_file(dir / "s.json.partial" / "x", "");
    EXPECT_NE(replace_text_file(dir / "s.json", "lost\n"), "");
    EXPECT_EQ(read_file(dir / "s.json"), "later\n");
}

// Tests run as root, whom a read-only folder does not stop; a file size limit
// of the child process fails the writes the way a full disk does.
TEST(WriteFailure, RunLogOnAFullDiskIsNamedLeftOutAndEndsWithStatusThree) {
    TempDir dir;
    write_file(dir / "s.json", "earlier summary\n");
    ChildProcess child(VELMORA_CLI_PATH, small_run({"--workdir", "out", "--json", "s.json"}),
                       dir.path(), rlim_t{0});
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 3) << r.err;
    // The search itself ran to its end.
    EXPECT_TRUE(contains(r.out, "Search finished: 3 generations")) << r.out;
    EXPECT_TRUE(contains(r.err, "out/Output.txt could not be written: File too large\n")) << r.err;
    EXPECT_FALSE(contains(files_written_section(r.out), "Output.txt")) << r.out;
    // Nor did the best model's report reach its files: each is named too.
    EXPECT_FALSE(contains(files_written_section(r.out), "Threshold")) << r.out;
    EXPECT_TRUE(contains(r.err, "Threshold")) << r.err;
    EXPECT_TRUE(contains(r.out,
                         "Files not written:\n  out/Output.txt: File "
                         "too large\n"))
        << r.out;
    EXPECT_TRUE(contains(r.err, "JSON summary s.json could not be written: File too large\n"))
        << r.err;
    EXPECT_FALSE(contains(r.out, "JSON summary: s.json"));
    // The summary did not fit either: the earlier one is kept whole.
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json.partial"));
}

TEST(WriteFailure, SummaryThatDoesNotFitIsNamedAndANewOneLeavesNoFile) {
    TempDir dir;
    // Room for the run log (about 330 bytes), not for the summary.
    ChildProcess child(VELMORA_CLI_PATH, small_run({"--workdir", "out", "--json", "s.json"}),
                       dir.path(), rlim_t{600});
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(contains(files_written_section(r.out), "out/Output.txt\n")) << r.out;
    EXPECT_FALSE(contains(r.err, "Output.txt could not be written")) << r.err;
    EXPECT_TRUE(contains(r.err, "JSON summary s.json could not be written: File too large\n"))
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json.partial"));
}

class Interrupt : public ::testing::TestWithParam<int> {};

TEST_P(Interrupt, FirstSignalStopsBetweenGenerationsKeepingTheLogAndWritingNoReport) {
    const int signal_number = GetParam();
    TempDir dir;
    write_file(dir / "s.json", "earlier summary\n");
    ChildProcess child(VELMORA_CLI_PATH,
                       small_run({"--workdir", "out", "--json", "s.json"}, "100000000"),
                       dir.path());
    // Found while the child still runs: only a flushed log can show it.
    ASSERT_TRUE(testing::wait_for_text(dir / "out" / "Output.txt", "randomseed=0.042000\n"));
    child.send(signal_number);
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 128 + signal_number);
    EXPECT_TRUE(
        contains(r.err, signal_number == SIGINT ? "Interrupted (SIGINT)" : "Terminated (SIGTERM)"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "stops before its next generation")) << r.err;
    EXPECT_TRUE(contains(r.err, "Search stopped after ")) << r.err;
    EXPECT_FALSE(contains(r.out, "Best model")) << r.out;

    const std::string log = read_file(dir / "out" / "Output.txt");
    EXPECT_EQ(log.rfind("MaxGen =100000000\npopsize =10\n", 0), 0u) << log;
    EXPECT_TRUE(contains(log, "autocontrol_selection =0\nlchrom =")) << log;
    EXPECT_TRUE(contains(log, "sizeof =4\ncasual=42\nrandomseed=0.042000\n")) << log;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "out")) {
        EXPECT_EQ(entry.path().filename(), "Output.txt") << "a report was begun";
    }
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");
}

INSTANTIATE_TEST_SUITE_P(SigintAndSigterm, Interrupt, ::testing::Values(SIGINT, SIGTERM));

TEST(Interrupt, SecondSignalEndsTheProcessAtOnce) {
    TempDir dir;
    ChildProcess child(VELMORA_CLI_PATH, small_run({"--workdir", "out"}, "100000000"), dir.path());
    ASSERT_TRUE(testing::wait_for_text(dir / "out" / "Output.txt", "randomseed="));
    // Two different signals cannot merge into one pending signal.
    child.send(SIGINT);
    child.send(SIGTERM);
    const ChildOutcome r = child.finish();
    EXPECT_FALSE(r.exited) << "exited with " << r.status << ": " << r.err;
    EXPECT_TRUE(r.signal == SIGINT || r.signal == SIGTERM) << r.signal;
}

TEST(SpecialFiles, FifoAmongTheRunFilesIsRefusedWithoutOpeningIt) {
    for (const char* name :
         {"Output.txt", "inputonepop2.txt", "OutputThresholdUnivariate.txt",
          "ResidualThresholdBivariate.txt", "refined/PredictionThresholdUnivariate.txt"}) {
        TempDir dir;
        std::filesystem::create_directories(dir / "out" / "refined");
        ASSERT_EQ(::mkfifo((dir / "out" / name).c_str(), 0600), 0);
        const CommandResult r =
            velmora("run --course-file " + shell_quote(sample) + " --workdir out", dir);
        EXPECT_EQ(r.status, 2) << name << ": " << r.err;
        EXPECT_TRUE(contains(r.err, std::string(name) + " ")) << r.err;
        EXPECT_TRUE(contains(r.err, "is a FIFO, not a regular file")) << r.err;
        EXPECT_EQ(r.out, std::string(name) == "Output.txt" ? "ciao\n" : "") << name;
        if (std::string(name) != "Output.txt") {
            EXPECT_FALSE(std::filesystem::exists(dir / "out" / "Output.txt")) << name;
        }
    }

    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "s.json").c_str(), 0600), 0);
    CommandResult r = velmora("run --course-file " + shell_quote(sample) + " --json s.json", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "JSON summary s.json is a FIFO, not a regular file\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));

    ASSERT_EQ(::mkfifo((dir / "OutputThresholdBivariate.txt").c_str(), 0600), 0);
    r = velmora("fit --course-file " + shell_quote(sample) +
                    " --components 1,2 --lags 1,1 --positions 100,200 --regimes 4",
                dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "OutputThresholdBivariate.txt is a FIFO")) << r.err;
}

TEST(SpecialFiles, JsonOntoAFileOfTheRunIsRefusedAndTheFileKept) {
    TempDir dir;
    write_file(dir / "series.txt", read_file(sample));
    std::filesystem::create_directory(dir / "out");
    write_file(dir / "out" / "OutputThresholdUnivariate.txt", "earlier report\n");
    const std::string base = "run --course-file series.txt --workdir out --maxgen 1 --json ";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"series.txt", "the course file"},
        {"./series.txt", "the course file"},
        {"out/../series.txt", "the course file"},
        {"out/Output.txt", "the run log"},
        {"./out//Output.txt", "the run log"},
        {"out/OutputThresholdUnivariate.txt", "a result file"},
        {"out/PredictionThresholdBivariate.txt", "a result file"},
    };
    for (const auto& [json, what] : cases) {
        const CommandResult r = velmora(base + json, dir);
        EXPECT_EQ(r.status, 2) << json;
        EXPECT_TRUE(contains(r.err, "JSON summary " + json + " would overwrite " + what)) << r.err;
    }
    // A hard link is the same file under another name.
    std::filesystem::create_hard_link(dir / "series.txt", dir / "alias.txt");
    const CommandResult r = velmora(base + "alias.txt", dir);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(read_file(dir / "series.txt"), read_file(sample));
    EXPECT_EQ(read_file(dir / "out" / "OutputThresholdUnivariate.txt"), "earlier report\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "Output.txt"));
}

TEST(OptionBounds, ThreadsOutsideTheRangeOrEmptyValuesAreRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    const std::string run = "run --course-file " + shell_quote(sample) + " ";
    for (const char* option :
         {"--threads 0", "--threads 1025", "--threads 30000", "--threads abc", "--threads 2x"}) {
        const CommandResult r = velmora(run + option, dir);
        EXPECT_EQ(r.status, 2) << option;
        const std::string value = std::string(option).substr(10);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
                  "--threads: " + value + " is not a whole number from 1 to 1024\n")
            << r.err;
    }
    for (const char* option : {"--maxgen ''", "--popsize ''", "--pcross ''", "--course-file ''",
                               "--workdir ''", "--json ''"}) {
        const CommandResult r = velmora(run + option, dir);
        EXPECT_EQ(r.status, 2) << option;
        EXPECT_TRUE(contains(r.err, "an empty value is not accepted")) << option << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
    const CommandResult fit = velmora("fit --component '' --lag 1", dir);
    EXPECT_EQ(fit.status, 2);
    EXPECT_TRUE(contains(fit.err, "--component: an empty value is not accepted")) << fit.err;

    const CommandResult fine = velmora(
        "run --course-file " + shell_quote(sample) + " --n-oss 200 --maxgen 1 --threads 1024", dir);
    EXPECT_EQ(fine.status, 0) << fine.err;
}

}  // namespace
}  // namespace velmora
