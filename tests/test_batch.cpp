// velmora batch: the jobs file, the summary rows, and whole batches run by
// the built command line (child processes, --resume, a job or a batch that
// dies, and the ranks of mpirun when the build has them).

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch/jobs_file.hpp"
#include "child_process.hpp"
#include "output/batch_summary.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using batch::Job;
using batch::parse_jobs;
using batch::split_shell_words;
using nlohmann::json;
using testing::ChildProcess;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

using Words = std::vector<std::string>;

TEST(ShellWords, QuotesKeepTextAndNothingIsExpanded) {
    EXPECT_EQ(split_shell_words("  a\tb  c "), (Words{"a", "b", "c"}));
    EXPECT_EQ(split_shell_words("'two words' \"and $HOME\" `x` ~ *.txt"),
              (Words{"two words", "and $HOME", "`x`", "~", "*.txt"}));
    // Quotes join with what touches them; an empty quoted word is a word.
    EXPECT_EQ(split_shell_words("--columns='DAX,SMI' a\"b c\"d ''"),
              (Words{"--columns=DAX,SMI", "ab cd", ""}));
    // Inside double quotes a backslash escapes only \ " $ `; outside it
    // keeps any next character; inside single quotes it is itself.
    EXPECT_EQ(split_shell_words(R"("a\"b\\c\$d\n" x\ y 'e\f')"),
              (Words{R"(a"b\c$d\n)", "x y", R"(e\f)"}));
    // A # starts a comment only at the start of a word.
    EXPECT_EQ(split_shell_words("a b#c # the rest 'unclosed"), (Words{"a", "b#c"}));
    EXPECT_TRUE(split_shell_words("   # only a comment").empty());
}

TEST(ShellWords, UnclosedQuotesAndTrailingBackslashAreRefused) {
    EXPECT_THROW(split_shell_words("a 'b"), std::invalid_argument);
    EXPECT_THROW(split_shell_words("a \"b\\\""), std::invalid_argument);
    EXPECT_THROW(split_shell_words("a b\\"), std::invalid_argument);
}

// The text of the ConfigError that parsing text raises, or "" when none.
std::string refusal(const std::string& text) {
    try {
        parse_jobs(text, "jobs.txt");
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.exit_status(), 2);
        return e.what();
    }
    return {};
}

TEST(JobsFile, JobsKeepTheirLinesSkippingBlanksAndComments) {
    const std::vector<Job> jobs = parse_jobs(
        "# a panel\n\n"
        "de-1.x run --course-file 'my data.csv' --seed 12\r\n"
        "   \n"
        "fr_2 fit --course-file=x.csv --component 1 # trailing note\n",
        "jobs.txt");
    ASSERT_EQ(jobs.size(), 2U);
    EXPECT_EQ(jobs[0].name, "de-1.x");
    EXPECT_EQ(jobs[0].command, "run");
    EXPECT_EQ(jobs[0].arguments, (Words{"--course-file", "my data.csv", "--seed", "12"}));
    EXPECT_EQ(jobs[0].line, 3);
    EXPECT_EQ(jobs[0].own_seed, "12");
    EXPECT_EQ(jobs[1].name, "fr_2");
    EXPECT_EQ(jobs[1].command, "fit");
    EXPECT_EQ(jobs[1].arguments, (Words{"--course-file=x.csv", "--component", "1"}));
    EXPECT_EQ(jobs[1].line, 5);
    EXPECT_FALSE(jobs[1].own_seed.has_value());
    EXPECT_EQ(parse_jobs("a run --seed=4\n", "f")[0].own_seed, "4");
}

TEST(JobsFile, BadLinesAreRefusedWithTheirLineNumber) {
    const std::string good = "ok run\n";
    struct Case {
        std::string line;
        std::string says;
    };
    const Case cases[] = {
        {"a/b run", "may hold only letters"},
        {"a\\ b run", "may hold only letters"},
        {".. run", "may not start with '.'"},
        {". run", "may not start with '.'"},
        {".hidden run", "may not start with '.'"},
        {"summary.csv run", "summary file"},
        {"a", "names no command"},
        {"a sweep --x", "\"sweep\" is not a command"},
        {"a run --workdir there", "may not set --workdir"},
        {"a fit --threads=3", "may not set --threads"},
        {"a run --json x.json", "may not set --json"},
        {"a run --course-file 'x", "single quote is not closed"},
        {"ok fit", "\"ok\" is already used on line 1"},
        {std::string("a run\0", 6), "NUL"},
    };
    for (const Case& c : cases) {
        const std::string text = refusal(good + "\n" + c.line + "\n");
        EXPECT_TRUE(testing::contains(text, "jobs.txt line 3: ")) << c.line << ": " << text;
        EXPECT_TRUE(testing::contains(text, c.says)) << c.line << ": " << text;
    }
    // An option that merely starts like one the batch owns is the job's.
    EXPECT_EQ(refusal("a run --workdirs x --threadsafe\n"), "");
}

TEST(JobsFile, DerivedSeedsDependOnTheNameAndTheBatchSeedOnly) {
    std::set<int> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "series-" + std::to_string(i);
        const int seed = batch::derived_seed(42, name);
        ASSERT_GE(seed, 0);
        ASSERT_LE(seed, 999);
        EXPECT_EQ(seed, batch::derived_seed(42, name));
        seen.insert(seed);
    }
    // 1000 names over 1000 values: about 632 distinct ones for a good hash,
    // a handful for one that ignores most of the name.
    EXPECT_GT(seen.size(), 550U);
    int changed = 0;
    for (int i = 0; i < 100; ++i) {
        const std::string name = std::to_string(i) + "-th";
        changed += batch::derived_seed(1, name) != batch::derived_seed(2, name) ? 1 : 0;
    }
    EXPECT_GT(changed, 90);
}

TEST(SummaryRow, RunRowsTakeTheRefinedModelAndFallBackToTheBest) {
    json best = {{"components", {1}},    {"lags", {4}},       {"regimes", 2},
                 {"thresholds", {0.25}}, {"criterion", -2.5}, {"difference_to_linear", -0.01}};
    json refined = {{"components", {3, 1}},
                    {"component_names", {"CAC", "DAX"}},
                    {"lags", {1, 2}},
                    {"regimes", 3},
                    {"thresholds", {-0.5, 1.25}},
                    {"criterion", -2.75},
                    {"criterion_name", "bic"},
                    {"difference_to_linear", -0.0625},
                    {"linearity_test", {{"p_value", 0.03}}}};
    json result = {{"best", best},
                   {"refined", refined},
                   {"regime_tests", {{{"p_value", 0.01}}, {{"p_value", nullptr}}}},
                   {"holdout", {{"threshold", {{"rmse_all", {0.5, 0.75}}}}}}};
    const json row = batch::job_row("x", "run", 0, "", "17", result);
    EXPECT_EQ(batch::summary_csv_line(row),
              "x,run,0,,17,CAC DAX,1 2,3,-0.5 1.25,-2.75,bic,-0.0625,0.03,0.01 NA,0.5\n");

    result["refined"] = nullptr;
    result.erase("regime_tests");
    result.erase("holdout");
    const json plain = batch::job_row("x", "run", 0, "", "17", result);
    EXPECT_EQ(batch::summary_csv_line(plain), "x,run,0,,17,1,4,2,0.25,-2.5,classic,-0.01,,,\n");
}

TEST(SummaryRow, FitRowsReadTheModelAndFailedJobsKeepTheirMessage) {
    const json result = {{"model",
                          {{"components", {2}},
                           {"lags", {1}},
                           {"regimes", 2},
                           {"thresholds", {0.1}},
                           {"criterion", -1.0},
                           {"regime_tests", {{{"p_value", 0.2}}}}}}};
    EXPECT_EQ(batch::summary_csv_line(batch::job_row("f", "fit", 0, "", "0", result)),
              "f,fit,0,,0,2,1,2,0.1,-1,classic,,,0.2,\n");
    const json failed =
        batch::job_row("g", "run", 2, "File \"a,b.csv\" could not be opened", "5", nullptr);
    EXPECT_EQ(batch::summary_csv_line(failed),
              "g,run,2,\"File \"\"a,b.csv\"\" could not be opened\",5,,,,,,,,,,\n");
    EXPECT_EQ(batch::summary_csv_header(),
              "name,command,exit_status,message,seed,threshold_variables,lags,regimes,thresholds,"
              "criterion,criterion_name,linear_difference,linearity_p_value,"
              "regime_test_p_values,holdout_rmse\n");
    const json summary = batch::summary_json({failed}, 1, 0, 1);
    EXPECT_EQ(summary.at("ran"), 1);
    EXPECT_EQ(summary.at("kept"), 0);
    EXPECT_EQ(summary.at("failed"), 1);
    EXPECT_EQ(summary.at("jobs").at(0).at("message"), "File \"a,b.csv\" could not be opened");
}

// ---- Whole batches through the built command line ----

const std::string kCli = VELMORA_CLI_PATH;

std::string sample_csv() {
    return (std::filesystem::path(VELMORA_SOURCE_DIR) / "data" / "eustockmarkets_returns.csv")
        .string();
}

// A small search on the sample's first rows.
std::string small_run(const std::string& extra = "") {
    return "run --course-file series.csv --n-oss 200 --maxgen 4 --popsize 10 " + extra;
}

// A folder with the sample as series.csv beside a jobs file.
struct BatchFolder {
    TempDir dir;
    std::filesystem::path jobs = dir / "jobs.txt";
    BatchFolder() { std::filesystem::copy_file(sample_csv(), dir / "series.csv"); }
};

json read_json(const std::filesystem::path& path) {
    return json::parse(read_file(path));
}

testing::ChildOutcome run_batch(const std::vector<std::string>& arguments,
                                const std::filesystem::path& cwd) {
    std::vector<std::string> all = {"batch"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    ChildProcess child(kCli, all, cwd);
    return child.finish();
}

TEST(BatchCli, JobsRunInTheirFoldersAndAFailedJobDoesNotStopTheOthers) {
    BatchFolder f;
    write_file(f.jobs,
               "# three jobs\n"
               "first " +
                   small_run("--holdout 5") +
                   "\n"
                   "broken run --course-file missing.csv\n"
                   "own-seed " +
                   small_run("--seed 321") +
                   "\n"
                   "fitted fit --course-file series.csv --n-oss 200 --component 1 --lag 1 "
                   "--regimes 2 --thresholds 0\n");
    const auto outcome = run_batch(
        {"--jobs", "jobs.txt", "--out", "out", "--seed", "9", "--threads", "1"}, f.dir.path());
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 4) << outcome.err;
    EXPECT_TRUE(testing::contains(outcome.err, "Job broken failed (status 2)")) << outcome.err;

    const auto out = f.dir / "out";
    for (const char* name : {"first", "own-seed", "fitted"}) {
        EXPECT_TRUE(std::filesystem::exists(out / name / "result.json")) << name;
        EXPECT_FALSE(std::filesystem::exists(out / name / "job.json")) << name;
        EXPECT_TRUE(std::filesystem::exists(out / name / "stdout.txt")) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(out / "first" / "Output.txt"));
    EXPECT_FALSE(std::filesystem::exists(out / "broken" / "result.json"));

    // The derived seed reaches the job, the job's own is kept.
    const json first = read_json(out / "first" / "result.json");
    EXPECT_EQ(first.at("seed"), batch::derived_seed(9, "first"));
    EXPECT_EQ(first.at("parameters").at("threads"), 1);
    EXPECT_EQ(read_json(out / "own-seed" / "result.json").at("seed"), 321);

    const auto lines = testing::read_lines(out / "summary.csv");
    ASSERT_EQ(lines.size(), 5U);
    const auto fields = [&](int row) { return testing::csv_fields(lines[row]); };
    EXPECT_EQ(fields(1)[0], "first");
    EXPECT_EQ(fields(1)[2], "0");
    EXPECT_EQ(fields(1)[4], std::to_string(batch::derived_seed(9, "first")));
    // The hold-out column is the job's own one-step error over all components.
    EXPECT_EQ(std::stod(fields(1)[14]),
              first.at("holdout").at("threshold").at("rmse_all").at(0).get<double>());
    EXPECT_EQ(fields(2)[0], "broken");
    EXPECT_EQ(fields(2)[2], "2");
    EXPECT_TRUE(testing::contains(lines[2], "missing.csv")) << lines[2];
    EXPECT_EQ(fields(3)[0], "own-seed");
    EXPECT_EQ(fields(3)[4], "321");
    EXPECT_EQ(fields(4)[0], "fitted");
    EXPECT_EQ(fields(4)[1], "fit");

    const json summary = read_json(out / "summary.json");
    EXPECT_EQ(summary.at("ran"), 4);
    EXPECT_EQ(summary.at("kept"), 0);
    EXPECT_EQ(summary.at("failed"), 1);
    EXPECT_EQ(summary.at("jobs").size(), 4U);
}

TEST(BatchCli, ABadLineIsRefusedBeforeAnythingRuns) {
    BatchFolder f;
    const std::string cases[] = {
        "a " + small_run() + "\nb " + small_run("--maxgenn 3") + "\n",
        "a " + small_run() + "\nb " + small_run("--selection nosuch") + "\n",
        "a " + small_run() + "\nb " + small_run("--threads 2") + "\n",
        "a " + small_run() + "\nb run --help\n",
    };
    for (const std::string& text : cases) {
        write_file(f.jobs, text);
        const auto outcome = run_batch({"--jobs", "jobs.txt", "--out", "out"}, f.dir.path());
        EXPECT_EQ(outcome.status, 2) << text;
        EXPECT_TRUE(testing::contains(outcome.err, "jobs.txt line 2: ")) << outcome.err;
        EXPECT_FALSE(testing::contains(outcome.err, f.dir.path().string())) << "named as given";
        EXPECT_FALSE(std::filesystem::exists(f.dir / "out")) << text;
    }
    EXPECT_TRUE(testing::contains(run_batch({"--help"}, f.dir.path()).out, "4 when some job"));
    const auto missing = run_batch({"--jobs", "nothing.txt", "--out", "out"}, f.dir.path());
    EXPECT_EQ(missing.status, 2);
    write_file(f.jobs, "# nothing but a comment\n");
    EXPECT_EQ(run_batch({"--jobs", "jobs.txt", "--out", "out"}, f.dir.path()).status, 2);
}

TEST(BatchCli, RelativePathsAreTakenFromTheJobsFilesFolder) {
    BatchFolder f;
    std::filesystem::create_directories(f.dir / "elsewhere");
    write_file(f.jobs, "a " + small_run("--history history.csv") + "\n");
    // Started from another folder, with the output folder named from there.
    const auto outcome =
        run_batch({"--jobs", "../jobs.txt", "--out", "out", "--threads", "1"}, f.dir / "elsewhere");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(std::filesystem::exists(f.dir / "history.csv"));
    EXPECT_TRUE(std::filesystem::exists(f.dir / "elsewhere" / "out" / "a" / "result.json"));
}

TEST(BatchCli, ChartsGoToAFolderPerJobUnlessTheJobNamesItsOwn) {
    BatchFolder f;
    std::filesystem::create_directories(f.dir / "elsewhere");
    write_file(f.jobs, "a " + small_run() + "\nb " + small_run("--charts own") + "\n");
    const auto outcome =
        run_batch({"--jobs", "../jobs.txt", "--out", "out", "--threads", "1", "--charts", "charts"},
                  f.dir / "elsewhere");
    const bool drawable =
        std::filesystem::exists(std::filesystem::path(kCli).parent_path() / "velmora-charts");
    if (!drawable) {
        // Built without Qt: refused before any job runs.
        EXPECT_EQ(outcome.status, 2) << outcome.err;
        EXPECT_TRUE(testing::contains(outcome.err, "--charts")) << outcome.err;
        EXPECT_FALSE(std::filesystem::exists(f.dir / "elsewhere" / "out"));
        return;
    }
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // The batch's folder is named from where it started, the job's own from
    // the jobs file's folder.
    const auto charts = f.dir / "elsewhere" / "charts";
    for (const char* chart : {"search-course.svg", "search-course.png"}) {
        EXPECT_TRUE(std::filesystem::exists(charts / "a" / chart)) << chart;
        EXPECT_TRUE(std::filesystem::exists(f.dir / "own" / chart)) << chart;
    }
    EXPECT_FALSE(std::filesystem::exists(charts / "b"));
}

TEST(BatchCli, ResultsDoNotDependOnTheThreadsOfEachJob) {
    BatchFolder f;
    write_file(f.jobs, "a " + small_run() + "\nb " + small_run("--replications 2") + "\n");
    ASSERT_EQ(
        run_batch({"--jobs", "jobs.txt", "--out", "one", "--threads", "1"}, f.dir.path()).status,
        0);
    ASSERT_EQ(
        run_batch({"--jobs", "jobs.txt", "--out", "two", "--threads", "2"}, f.dir.path()).status,
        0);
    EXPECT_EQ(read_file(f.dir / "one" / "summary.csv"), read_file(f.dir / "two" / "summary.csv"));
    // The same model; only the names of its files differ with the folder.
    json one = read_json(f.dir / "one" / "b" / "result.json").at("refined");
    json two = read_json(f.dir / "two" / "b" / "result.json").at("refined");
    one.erase("files");
    two.erase("files");
    EXPECT_TRUE(one == two);
}

TEST(BatchCli, ByDefaultAJobHasNoMoreThreadsThanTheCoresItsBatchMayUse) {
    if (std::thread::hardware_concurrency() < 2 || !std::filesystem::exists("/usr/bin/taskset")) {
        GTEST_SKIP() << "needs two cores and taskset";
    }
    BatchFolder f;
    write_file(f.jobs, "a " + small_run() + "\n");
    // mpirun binds each of one or two ranks to a core the same way.
    ChildProcess child("/usr/bin/taskset",
                       {"-c", "0", kCli, "batch", "--jobs", "jobs.txt", "--out", "out"},
                       f.dir.path());
    ASSERT_EQ(child.finish().status, 0);
    EXPECT_EQ(read_json(f.dir / "out" / "a" / "result.json").at("parameters").at("threads"), 1);
}

TEST(BatchCli, ResumeKeepsCompleteJobsAndRedoesOthersFromAClearedFolder) {
    BatchFolder f;
    write_file(f.jobs, "a " + small_run() + "\nb " + small_run() + "\nc " + small_run() + "\n");
    const std::vector<std::string> args = {"--jobs", "jobs.txt", "--out", "out", "--threads", "1"};
    ASSERT_EQ(run_batch(args, f.dir.path()).status, 0);
    const auto out = f.dir / "out";
    const std::string summary = read_file(out / "summary.csv");
    const std::string b_log = read_file(out / "b" / "OutputThresholdUnivariate.txt") +
                              read_file(out / "b" / "OutputThresholdBivariate.txt");
    const std::string a_output = read_file(out / "a" / "Output.txt");

    // Job a as a dead job leaves it: files but no result.json, and a stray
    // file that must not survive its rerun.
    std::filesystem::remove(out / "a" / "result.json");
    write_file(out / "a" / "stray.txt", "half written");
    auto with_resume = args;
    with_resume.push_back("--resume");
    const auto outcome = run_batch(with_resume, f.dir.path());
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_FALSE(std::filesystem::exists(out / "a" / "stray.txt"));
    EXPECT_EQ(read_file(out / "a" / "Output.txt"), a_output);
    // The kept job's result files were not appended to again.
    EXPECT_EQ(read_file(out / "b" / "OutputThresholdUnivariate.txt") +
                  read_file(out / "b" / "OutputThresholdBivariate.txt"),
              b_log);
    EXPECT_EQ(read_file(out / "summary.csv"), summary);
    const json counts = read_json(out / "summary.json");
    EXPECT_EQ(counts.at("ran"), 1);
    EXPECT_EQ(counts.at("kept"), 2);
    EXPECT_EQ(counts.at("failed"), 0);

    // Without --resume every job runs again, into a cleared folder.
    ASSERT_EQ(run_batch(args, f.dir.path()).status, 0);
    EXPECT_EQ(read_json(out / "summary.json").at("ran"), 3);
    EXPECT_EQ(read_file(out / "b" / "OutputThresholdUnivariate.txt") +
                  read_file(out / "b" / "OutputThresholdBivariate.txt"),
              b_log);
}

TEST(BatchCli, AFolderThatNoJobWroteIsNeverCleared) {
    BatchFolder f;
    // The output folder is the jobs file's own, where a folder and a file
    // bear the names of jobs.
    std::filesystem::create_directories(f.dir / "data");
    write_file(f.dir / "data" / "keep.csv", "1 2\n");
    write_file(f.dir / "notes", "mine");
    write_file(f.jobs,
               "data " + small_run() + "\nnotes " + small_run() + "\nfine " + small_run() + "\n");
    const auto outcome =
        run_batch({"--jobs", "jobs.txt", "--out", ".", "--threads", "1"}, f.dir.path());
    EXPECT_EQ(outcome.status, 4) << outcome.err;
    EXPECT_EQ(read_file(f.dir / "data" / "keep.csv"), "1 2\n");
    EXPECT_EQ(read_file(f.dir / "notes"), "mine");
    EXPECT_TRUE(testing::contains(outcome.err, "holds files of no job")) << outcome.err;
    EXPECT_TRUE(testing::contains(outcome.err, "is not a job's folder")) << outcome.err;
    EXPECT_TRUE(std::filesystem::exists(f.dir / "fine" / "result.json"));
    // A job's own folder is cleared and run again.
    ASSERT_EQ(
        run_batch({"--jobs", "jobs.txt", "--out", ".", "--threads", "1"}, f.dir.path()).status, 4);
    EXPECT_TRUE(std::filesystem::exists(f.dir / "fine" / "result.json"));
}

// ---- Processes that die ----

// What a /proc file holds; empty for a process that has gone meanwhile.
std::string read_proc(const std::filesystem::path& path) {
    try {
        return read_file(path);
    } catch (const std::exception&) {
        return {};
    }
}

pid_t parent_of(pid_t pid) {
    const std::string stat = read_proc("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t parent = -1;
    rest >> state >> parent;
    return parent;
}

// The `velmora run` process whose arguments hold text (a job waiting on its
// series), waiting up to a minute for it to appear; -1 when none does.
pid_t job_process_with(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            std::vector<std::string> words;
            std::istringstream in(read_proc(entry.path() / "cmdline"));
            for (std::string word; std::getline(in, word, '\0');) {
                words.push_back(word);
            }
            bool holds = false;
            for (const std::string& word : words) {
                holds = holds || word.find(text) != std::string::npos;
            }
            if (holds && words.size() > 1 && words[1] == "run") {
                return static_cast<pid_t>(std::stol(name));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

bool alive(pid_t pid) {
    const std::string stat = read_proc("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] != 'Z';
}

bool gone_within_a_minute(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!alive(pid)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A job whose series is a FIFO that nobody writes waits until the test ends
// it; its folder name is unique enough to find it among the processes.
struct WaitingJob : BatchFolder {
    std::string marker = "waiting-" + dir.path().filename().string();
    WaitingJob() {
        EXPECT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
        write_file(jobs, "a " + small_run() + "\n" + marker +
                             " run --course-file pipe.csv --n-oss 200 --maxgen 4 --popsize 10\n"
                             "c " +
                             small_run() + "\n");
    }
    // The FIFO replaced by the series, so the job can complete.
    void unblock() {
        std::filesystem::remove(dir / "pipe.csv");
        std::filesystem::copy_file(sample_csv(), dir / "pipe.csv");
    }
};

TEST(BatchCli, AJobKilledByASignalFailsAlone) {
    WaitingJob f;
    ChildProcess batch(kCli, {"batch", "--jobs", "jobs.txt", "--out", "out", "--threads", "1"},
                       f.dir.path());
    const pid_t job = job_process_with(f.marker);
    ASSERT_GT(job, 0);
    EXPECT_EQ(parent_of(job), batch.pid());
    ::kill(job, SIGKILL);
    const auto outcome = batch.finish();
    EXPECT_EQ(outcome.status, 4) << outcome.err;
    const auto lines = testing::read_lines(f.dir / "out" / "summary.csv");
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[2], f.marker + ",run,137,killed by signal 9 (Killed)," +
                            std::to_string(batch::derived_seed(0, f.marker)) + ",,,,,,,,,,");
    EXPECT_EQ(testing::csv_fields(lines[3])[2], "0");
    EXPECT_FALSE(std::filesystem::exists(f.dir / "out" / f.marker / "result.json"));
}

TEST(BatchCli, ABatchThatDiesTakesItsJobAlongAndResumeCompletesIt) {
    WaitingJob f;
    const std::vector<std::string> args = {"batch", "--jobs",    "jobs.txt", "--out",
                                           "out",   "--threads", "1"};
    {
        ChildProcess batch(kCli, args, f.dir.path());
        const pid_t job = job_process_with(f.marker);
        ASSERT_GT(job, 0);
        batch.send(SIGKILL);
        batch.finish();
        // The job must not go on writing into a folder --resume will clear.
        EXPECT_TRUE(gone_within_a_minute(job));
    }
    EXPECT_TRUE(std::filesystem::exists(f.dir / "out" / "a" / "result.json"));
    EXPECT_FALSE(std::filesystem::exists(f.dir / "out" / f.marker / "result.json"));
    f.unblock();
    auto resume = args;
    resume.push_back("--resume");
    ChildProcess again(kCli, resume, f.dir.path());
    const auto outcome = again.finish();
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const json summary = read_json(f.dir / "out" / "summary.json");
    EXPECT_EQ(summary.at("kept"), 1);
    EXPECT_EQ(summary.at("ran"), 2);
    EXPECT_EQ(summary.at("failed"), 0);
}

// ---- The ranks of mpirun ----

#ifdef VELMORA_MPIEXEC

std::vector<std::string> mpirun(int ranks, const std::vector<std::string>& batch_arguments) {
    std::vector<std::string> args = {"--oversubscribe", "-n", std::to_string(ranks)};
    if (::geteuid() == 0) {
        args.push_back("--allow-run-as-root");
    }
    args.push_back(kCli);
    args.push_back("batch");
    args.insert(args.end(), batch_arguments.begin(), batch_arguments.end());
    return args;
}

testing::ChildOutcome run_mpi(int ranks, const std::vector<std::string>& batch_arguments,
                              const std::filesystem::path& cwd) {
    ChildProcess child(VELMORA_MPIEXEC, mpirun(ranks, batch_arguments), cwd);
    return child.finish();
}

// Every file under folder, by relative name, with its bytes.
std::map<std::string, std::string> tree(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), folder).string()] =
                read_file(entry.path());
        }
    }
    return files;
}

TEST(BatchMpi, OutputsAreTheSameForAnyNumberOfRanks) {
    BatchFolder f;
    std::string jobs;
    for (int i = 0; i < 6; ++i) {
        jobs += "job" + std::to_string(i) + " " + small_run() + "\n";
    }
    jobs += "bad run --course-file missing.csv\n";
    write_file(f.jobs, jobs);
    const std::vector<std::string> args = {"--jobs", "jobs.txt", "--out", "out", "--threads", "1"};
    // The same --out each time (the jobs' JSON names their folders), moved
    // aside after each batch.
    ASSERT_EQ(run_batch(args, f.dir.path()).status, 4);
    std::filesystem::rename(f.dir / "out", f.dir / "plain");
    for (int ranks : {1, 2, 4}) {
        const auto outcome = run_mpi(ranks, args, f.dir.path());
        EXPECT_TRUE(testing::contains(outcome.out, "Batch: 7 jobs, 7 run")) << outcome.out;
        EXPECT_EQ(testing::count_of(outcome.out, "Batch:"), 1) << "only rank 0 reports";
        const std::string name = "ranks" + std::to_string(ranks);
        std::filesystem::rename(f.dir / "out", f.dir / name);
        EXPECT_EQ(tree(f.dir / name), tree(f.dir / "plain")) << ranks << " ranks";
    }
}

TEST(BatchMpi, ARankThatDiesEndsTheBatchAndResumeCompletesIt) {
    WaitingJob f;
    const std::vector<std::string> args = {"--jobs", "jobs.txt", "--out", "out", "--threads", "1"};
    {
        ChildProcess launch(VELMORA_MPIEXEC, mpirun(2, args), f.dir.path());
        const pid_t job = job_process_with(f.marker);
        ASSERT_GT(job, 0);
        const pid_t rank = parent_of(job);
        ASSERT_GT(rank, 0);
        ::kill(rank, SIGKILL);
        const auto outcome = launch.finish();
        EXPECT_NE(outcome.status, 0);
        EXPECT_TRUE(gone_within_a_minute(job));
    }
    EXPECT_FALSE(std::filesystem::exists(f.dir / "out" / f.marker / "result.json"));
    f.unblock();
    auto resume = args;
    resume.push_back("--resume");
    const auto outcome = run_mpi(2, resume, f.dir.path());
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const json summary = read_json(f.dir / "out" / "summary.json");
    EXPECT_EQ(summary.at("kept").get<int>() + summary.at("ran").get<int>(), 3);
    EXPECT_GE(summary.at("ran").get<int>(), 1);
    EXPECT_EQ(summary.at("failed"), 0);
    for (const char* name : {"a", "c"}) {
        EXPECT_TRUE(std::filesystem::exists(f.dir / "out" / name / "result.json")) << name;
    }
}

#else

TEST(BatchMpi, OutputsAreTheSameForAnyNumberOfRanks) {
    GTEST_SKIP() << "the ranks' tests run in the Release build with MPI, without sanitizers";
}

#endif

}  // namespace
}  // namespace velmora
