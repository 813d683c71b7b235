#include <gtest/gtest.h>

#include <string>

#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::CommandResult;
using testing::read_file;
using testing::shell_quote;
using testing::TempDir;
using testing::write_file;

const std::string cli = shell_quote(VELMORA_CLI_PATH);
const std::string sample =
    shell_quote(std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt");

CommandResult velmora(const std::string& arguments, const TempDir& dir) {
    return testing::run_command(cli + " " + arguments, dir.path(), dir.path());
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(RunCli, HelpExplainsEveryOption) {
    TempDir dir;
    const CommandResult top = velmora("--help", dir);
    EXPECT_EQ(top.status, 0);
    EXPECT_TRUE(contains(top.out, "run")) << top.out;
    const CommandResult help = velmora("run --help", dir);
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--selection", "--tourneysize", "--crossover", "--scaling", "--scalemult", "--beta",
          "--sigma-trunc", "--scaling-window", "--maxgen", "--pcross", "--pmutation", "--popsize",
          "--n-oss", "--n-comp", "--min-oss-reg", "--m", "--course-file", "--workdir"}) {
        EXPECT_TRUE(contains(help.out, std::string(option) + " ")) << option;
    }
}

TEST(RunCli, UnknownChoiceNamesAreRefusedWithTheBadValue) {
    TempDir dir;
    for (const char* arguments :
         {"--selection wheel", "--crossover three-point", "--scaling exponential"}) {
        const CommandResult r = velmora(std::string("run ") + arguments, dir);
        EXPECT_EQ(r.status, 2) << arguments;
        const std::string bad = std::string(arguments).substr(std::string(arguments).find(' ') + 1);
        EXPECT_TRUE(contains(r.err, bad)) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
}

TEST(RunCli, RejectedConfigurationExitsWithStatusTwo) {
    TempDir dir;
    CommandResult r = velmora("run --course-file " + sample + " --m 5", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Max order VAR must be between 1 and 4 (m = 5)\n");

    r = velmora("run --course-file " + sample + " --scaling sigma", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Sigma Trouncation constant must be != 0\n");
    EXPECT_TRUE(contains(read_file(dir / "Output.txt"), "n_oss =1000\n"));
    EXPECT_FALSE(contains(read_file(dir / "Output.txt"), "Scaling Method"));

    r = velmora("run --course-file " + sample + " --selection tournament", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "Tournament size")) << r.err;
}

TEST(RunCli, MissingOrFaultyCourseFileExitsWithStatusTwo) {
    TempDir dir;
    CommandResult r = velmora("run", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "File TassidiCambio.txt could not be opened\n");
    EXPECT_EQ(r.out, "File inputonepop2.txt could not be opened\n");

    write_file(dir / "short.txt", "1 2 3\n");
    r = velmora("run --course-file short.txt --n-oss 30 --n-comp 2", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "Course file short.txt holds 3 numbers, but 30 observations of 2 "
              "components need 60\n");
}

TEST(RunCli, RelativeCourseFileIsTakenFromTheCurrentDirectory) {
    TempDir dir;
    write_file(dir / "series.txt", "1 2\n");
    // Found in the current directory although the run's files go elsewhere;
    // too short, so it is refused after being opened.
    const CommandResult r =
        velmora("run --course-file series.txt --n-oss 30 --n-comp 2 --workdir runs/one", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "holds 2 numbers")) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "runs" / "one" / "Output.txt"));
}

TEST(RunCli, UncreatableRunLogSaysCiaoAndFails) {
    TempDir dir;
    std::filesystem::create_directory(dir / "Output.txt");
    const CommandResult r = velmora("run --course-file " + sample, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "ciao\n");
    EXPECT_TRUE(contains(r.err, "Output.txt could not be created")) << r.err;
}

TEST(RunCli, WorkdirThatCannotBeCreatedIsRefused) {
    TempDir dir;
    write_file(dir / "plain-file", "x");
    const CommandResult r =
        velmora("run --course-file " + sample + " --workdir plain-file/sub", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "could not be created")) << r.err;
}

}  // namespace
}  // namespace velmora
