#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::CommandResult;
using testing::read_file;
using testing::shell_quote;
using testing::TempDir;
using testing::write_file;

const std::string sample = shell_quote(testing::sample_series());

using testing::contains;
using testing::run_cli;

TEST(RunCli, HelpExplainsEveryOption) {
    TempDir dir;
    const CommandResult top = run_cli("--help", dir);
    EXPECT_EQ(top.status, 0);
    EXPECT_TRUE(contains(top.out, "run")) << top.out;
    const CommandResult help = run_cli("run --help", dir);
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--selection", "--tourneysize", "--crossover", "--scaling", "--scalemult", "--beta",
          "--sigma-trunc", "--scaling-window", "--maxgen", "--pcross", "--pmutation", "--popsize",
          "--n-oss", "--n-comp", "--min-oss-reg", "--m", "--course-file", "--workdir"}) {
        EXPECT_TRUE(contains(help.out, std::string(option) + " ")) << option;
    }
}

TEST(RunCli, WorkdirHelpSaysWhatIsWrittenAndWhatIsRead) {
    TempDir dir;
    for (const char* command : {"run --help", "fit --help"}) {
        const std::string help = run_cli(command, dir).out;
        const auto start = help.find("\n  --workdir");
        ASSERT_NE(start, std::string::npos) << command;
        const std::string text = help.substr(start, help.find("\n  --", start + 1) - start);
        EXPECT_TRUE(contains(text, "created when missing")) << text;
        EXPECT_TRUE(contains(text, "opens inputonepop2.txt there when it exists, without reading"))
            << text;
        EXPECT_TRUE(contains(text, "for a search, Output.txt")) << text;
    }
}

TEST(RunCli, UnknownChoiceNamesAreRefusedWithTheBadValue) {
    TempDir dir;
    for (const char* arguments :
         {"--selection wheel", "--crossover three-point", "--scaling exponential"}) {
        const CommandResult r = run_cli(std::string("run ") + arguments, dir);
        EXPECT_EQ(r.status, 2) << arguments;
        const std::string bad = std::string(arguments).substr(std::string(arguments).find(' ') + 1);
        EXPECT_TRUE(contains(r.err, bad)) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
}

TEST(RunCli, RejectedConfigurationExitsWithStatusTwo) {
    TempDir dir;
    CommandResult r = run_cli("run --course-file " + sample + " --m 5", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Max order VAR must be between 1 and 4 (m = 5)\n");

    r = run_cli("run --course-file " + sample + " --scaling sigma", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Sigma Trouncation constant must be != 0\n");
    // Without --n-oss every row of the file is read.
    EXPECT_TRUE(contains(read_file(dir / "Output.txt"), "n_oss =1859\n"));
    EXPECT_FALSE(contains(read_file(dir / "Output.txt"), "Scaling Method"));

    r = run_cli("run --course-file " + sample + " --selection tournament", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "Tournament size")) << r.err;
}

TEST(RunCli, MissingOrFaultyCourseFileExitsWithStatusTwo) {
    TempDir dir;
    // With the sizes given, the run log is begun before the file is read.
    CommandResult r = run_cli("run --n-oss 1000 --n-comp 4", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "File TassidiCambio.txt could not be opened\n");
    EXPECT_EQ(r.out, "File inputonepop2.txt could not be opened\n");
    EXPECT_EQ(testing::read_lines(dir / "Output.txt").size(), 13u);
    // Sizes taken from the file need it read first: nothing is written.
    std::filesystem::remove(dir / "Output.txt");
    r = run_cli("run", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "File TassidiCambio.txt could not be opened\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));

    write_file(dir / "short.txt", "1 2 3\n");
    r = run_cli("run --course-file short.txt --n-oss 30 --n-comp 2", dir);
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
        run_cli("run --course-file series.txt --n-oss 30 --n-comp 2 --workdir runs/one", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "holds 2 numbers")) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "runs" / "one" / "Output.txt"));
}

TEST(RunCli, UncreatableRunLogSaysCiaoAndFails) {
    TempDir dir;
    std::filesystem::create_directory(dir / "Output.txt");
    const CommandResult r = run_cli("run --course-file " + sample, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "ciao\n");
    EXPECT_TRUE(contains(r.err, "Output.txt could not be created")) << r.err;
}

TEST(RunCli, WorkdirThatCannotBeCreatedIsRefused) {
    TempDir dir;
    write_file(dir / "plain-file", "x");
    const CommandResult r =
        run_cli("run --course-file " + sample + " --workdir plain-file/sub", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "could not be created")) << r.err;
}

const std::string small_run =
    "run --course-file " + sample + " --n-oss 200 --min-oss-reg 20 --popsize 10 --maxgen 3 ";

TEST(RunCli, CompletedRunExitsWithZeroAndSummarisesTheBestModel) {
    TempDir dir;
    const CommandResult r = run_cli(small_run + "--seed 42 --workdir out --json summary.json", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    // Standard error is not a terminal here: no progress line.
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("File inputonepop2.txt could not be opened\nindividual:0\n", 0), 0u)
        << r.out;
    EXPECT_TRUE(contains(r.out, "Search finished: 3 generations of 10 structures.\n"));
    EXPECT_TRUE(contains(r.out, "Best model of the last generation:\n"));
    EXPECT_TRUE(contains(r.out, "Observations per regime:"));
    EXPECT_TRUE(contains(r.out, "Criterion:"));
    EXPECT_TRUE(contains(r.out, "out/Output.txt\n"));
    EXPECT_TRUE(contains(r.out, "Seed: casual=42 (replay this run with --seed 42).\n"));
    EXPECT_TRUE(
        contains(read_file(dir / "out" / "Output.txt"), "casual=42\nrandomseed=0.042000\n"));

    const auto json = nlohmann::json::parse(read_file(dir / "summary.json"));
    EXPECT_EQ(json["seed"], 42);
    EXPECT_EQ(json["completed"], true);
    EXPECT_EQ(json["generations"], 3);
    EXPECT_EQ(json["parameters"]["selection"], "roulette");
    EXPECT_EQ(json["parameters"]["n_oss"], 200);
    EXPECT_EQ(json["parameters"]["popsize"], 10);
    EXPECT_EQ(json["best"]["field_codes"].size(), 16u);
    EXPECT_TRUE(json["best"]["criterion"].is_number());
    EXPECT_EQ(json["report_appended"], true);
    EXPECT_EQ(json["files"].size(), 4u);
    const int variables = json["best"]["threshold_variables"];
    EXPECT_EQ(json["best"]["components"].size(), static_cast<std::size_t>(variables));
    EXPECT_EQ(json["best"]["lags"].size(), static_cast<std::size_t>(variables));
    EXPECT_EQ(json["best"]["observations_per_regime"].size(),
              static_cast<std::size_t>(json["best"]["regimes"].get<int>()));
}

// With an information criterion the search, the refinement and the fit of
// the replay command score the same number.
TEST(RunCli, TheChosenCriterionIsTheSummarysAndTheReplaysToo) {
    TempDir dir;
    const CommandResult r =
        run_cli(small_run + "--seed 11 --criterion hq --workdir out --json s.json", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    EXPECT_EQ(json["parameters"]["criterion"], "hq");
    EXPECT_EQ(json["best"]["criterion_name"], "hq");
    const auto& refined = json["refined"];
    ASSERT_TRUE(refined.is_object());
    EXPECT_EQ(refined["criterion_name"], "hq");
    EXPECT_LE(refined["criterion"].get<double>(), json["best"]["criterion"].get<double>());
    std::string replay;
    for (const auto& a : refined["fit_arguments"]) {
        replay += shell_quote(a.get<std::string>()) + " ";
    }
    EXPECT_TRUE(contains(replay, "'--criterion' 'hq'")) << replay;
    const CommandResult fit = run_cli(replay + "--workdir again --json f.json", dir);
    ASSERT_EQ(fit.status, 0) << fit.err << fit.out;
    const auto fitted = nlohmann::json::parse(read_file(dir / "f.json"));
    EXPECT_EQ(fitted["model"]["criterion"], refined["criterion"]);
    // Both documents describe the one model alike: every key they share
    // holds the same value.
    int shared = 0;
    for (const auto& [key, value] : fitted["model"].items()) {
        if (refined.contains(key)) {
            ++shared;
            EXPECT_EQ(value, refined[key]) << key;
        }
    }
    EXPECT_GT(shared, 10);
}

TEST(RunCli, SeedReplaysARunExactly) {
    TempDir dir;
    const CommandResult first = run_cli(small_run + "--seed 777 --workdir a", dir);
    const CommandResult second =
        run_cli(small_run + "--seed 777 --workdir b --threads 1 --no-cache", dir);
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(second.status, 0);
    EXPECT_EQ(read_file(dir / "a" / "Output.txt"), read_file(dir / "b" / "Output.txt"));
    for (const char* kind : {"Univariate", "Bivariate"}) {
        const std::string name = std::string("OutputThreshold") + kind + ".txt";
        EXPECT_EQ(read_file(dir / "a" / name), read_file(dir / "b" / name));
    }
}

TEST(RunCli, SeedAndThreadsOutsideTheirRangesAreRefused) {
    TempDir dir;
    for (const char* option : {"--seed 1000", "--seed -1", "--threads 0"}) {
        const CommandResult r = run_cli(small_run + option, dir);
        EXPECT_EQ(r.status, 2) << option;
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
}

TEST(RunCli, EngineFaultExitsWith255) {
    TempDir dir;
    const CommandResult r = run_cli(small_run + "--scaling autocontrol --json s.json", dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err,
              "OOPS, Automatic control of selection uses suselect.c, Stochastic Universal "
              "Sampling,\nand that is not the selection method loaded.\nPlease load that and "
              "rerun.");
    EXPECT_TRUE(contains(read_file(dir / "Output.txt"), "autocontrol_selection =1\n"));
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));

    const CommandResult fine = run_cli(small_run + "--scaling autocontrol --selection sus", dir);
    EXPECT_EQ(fine.status, 0) << fine.err;
}

TEST(RunCli, UnwritableJsonPathIsRefusedBeforeTheSearch) {
    TempDir dir;
    const CommandResult r = run_cli(small_run + "--json no/such/dir/s.json", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "JSON summary no/such/dir/s.json could not be created\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
}

TEST(RunCli, JsonShowsSinglePrecisionValuesAsEntered) {
    TempDir dir;
    const CommandResult r =
        run_cli(small_run + "--scalemult 1.3 --seed 42 --workdir out --json s.json", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    EXPECT_EQ(json["parameters"]["scalemult"].get<double>(), 1.3);
    EXPECT_EQ(json["randomseed"].get<double>(), 0.042);
    EXPECT_TRUE(contains(read_file(dir / "s.json"), "\"scalemult\": 1.3,"))
        << read_file(dir / "s.json");
}

TEST(RunCli, RefusedRunLeavesTheWorkdirAndAnEarlierSummaryAlone) {
    TempDir dir;
    write_file(dir / "s.json", "earlier summary\n");
    CommandResult r = run_cli(small_run + "--m 5 --workdir fresh --json s.json", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "fresh"));
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");

    // A series refused after the run log was begun, and an engine fault, keep
    // it too.
    write_file(dir / "short.txt", "1 2 3\n");
    r = run_cli("run --course-file short.txt --n-oss 30 --n-comp 2 --json s.json", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");
    r = run_cli(small_run + "--scaling autocontrol --json s.json", dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");

    // A completed run replaces it.
    r = run_cli(small_run + "--seed 1 --json s.json", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(read_file(dir / "s.json"))["seed"], 1);
}

}  // namespace
}  // namespace velmora
