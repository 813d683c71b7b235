// Stopping what follows a search: a signal during the refinement, the
// linearity bootstrap or the simulations of a run or a fit ends the command
// promptly with 130 or 143, keeps the reports already written and writes
// nothing half; the bootstrap's hooks; and the progress of all of them on a
// terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "inference/linearity_test.hpp"
#include "model_test_helpers.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::ChildOutcome;
using testing::ChildProcess;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const std::string& sample = testing::sample_series();

using testing::contains;

// A series long enough that its refinement takes seconds.
void write_long_series(const std::filesystem::path& path, int rows) {
    std::mt19937_64 random(11);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::string text;
    double previous[4] = {0, 0, 0, 0};
    for (int t = 0; t < rows; ++t) {
        double now[4];
        for (int c = 0; c < 4; ++c) {
            now[c] = noise(random) + (previous[2] > 0.3 ? 0.5 * previous[0] : 0.0);
        }
        char line[128];
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f\n", now[0], now[1], now[2], now[3]);
        text += line;
        std::copy(now, now + 4, previous);
    }
    write_file(path, text);
}

// Waits until a best-model report of the search is in dir (a minute at
// most): the search is over, what follows it under way.
bool wait_for_report(const std::filesystem::path& dir) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const char* name : {"OutputThresholdUnivariate.txt", "OutputThresholdBivariate.txt"}) {
            std::error_code ec;
            if (std::filesystem::file_size(dir / name, ec) > 0 && !ec) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::vector<std::string> files_in(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    if (std::filesystem::is_directory(dir)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                names.push_back(entry.path().filename().string());
            }
        }
    }
    return names;
}

TEST(StopAfterSearch, ASignalDuringTheRefinementKeepsTheSearchsReportAndWritesNoRefinedOne) {
    TempDir dir;
    write_long_series(dir / "long.txt", 6000);
    write_file(dir / "s.json", "earlier summary\n");
    ChildProcess child(
        VELMORA_CLI_PATH,
        {"run", "--course-file", "long.txt", "--maxgen", "1", "--popsize", "4", "--seed", "1",
         "--threads", "1", "--workdir", "out", "--json", "s.json", "--forecast", "2"},
        dir.path());
    ASSERT_TRUE(wait_for_report(dir / "out"));
    child.send(SIGTERM);
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 143) << r.err;
    EXPECT_TRUE(contains(r.err, "Terminated (SIGTERM): ")) << r.err;
    EXPECT_TRUE(contains(r.err,
                         "Refinement stopped after the search's 1 generations; "
                         "out/Output.txt holds its log"))
        << r.err;
    // Only the search's fixed lines: no summary.
    EXPECT_EQ(r.out.rfind("individual:3\n"), r.out.size() - 13) << r.out;
    // The search's log and report are whole; no refined report was begun,
    // no summary replaced.
    EXPECT_TRUE(contains(read_file(dir / "out" / "Output.txt"), "randomseed=0.001000\n"));
    for (const std::string& name : files_in(dir / "out" / "refined")) {
        ADD_FAILURE() << "refined/" << name << " was written";
    }
    EXPECT_EQ(files_in(dir / "out").size(), 4u);
    EXPECT_EQ(read_file(dir / "s.json"), "earlier summary\n");
}

TEST(StopAfterSearch, ASignalDuringTheBootstrapEndsTheRunAfterItsSummaryWithoutJson) {
    TempDir dir;
    ChildProcess child(VELMORA_CLI_PATH,
                       {"run",
                        "--course-file",
                        sample,
                        "--n-oss",
                        "600",
                        "--maxgen",
                        "2",
                        "--popsize",
                        "6",
                        "--seed",
                        "3",
                        "--no-refine",
                        "--threads",
                        "2",
                        "--test-linearity",
                        "50000",
                        "--workdir",
                        "out",
                        "--json",
                        "s.json",
                        "--regimes-csv",
                        "r.csv"},
                       dir.path());
    ASSERT_TRUE(wait_for_report(dir / "out"));
    // The summary is printed before the bootstrap starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    child.send(SIGINT);
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_TRUE(contains(r.err, "Interrupted (SIGINT): ")) << r.err;
    EXPECT_TRUE(contains(r.err, "Run stopped after its search; out/Output.txt holds its log"))
        << r.err;
    EXPECT_TRUE(contains(r.out, "Best model")) << r.out;
    EXPECT_FALSE(contains(r.out, "Beside the linear VAR")) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));
    EXPECT_FALSE(std::filesystem::exists(dir / "r.csv"));
}

TEST(StopAfterSearch, ReplicationsSideBySideStopAtTheirNextGeneration) {
    TempDir dir;
    ChildProcess child(VELMORA_CLI_PATH,
                       {"run", "--course-file", sample, "--n-oss", "300", "--maxgen", "100000000",
                        "--popsize", "6", "--seed", "8", "--replications", "3", "--threads", "2",
                        "--workdir", "out", "--history", "h.csv"},
                       dir.path());
    ASSERT_TRUE(testing::wait_for_text(dir / "out" / "Output.txt", "n_oss =300\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    child.send(SIGINT);
    const ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_TRUE(contains(r.err, "Search stopped after ")) << r.err;
    // Each replication's log lines follow the header, in order; no report.
    const std::string log = read_file(dir / "out" / "Output.txt");
    EXPECT_LT(log.find("casual=8\n"), log.find("casual=9\n")) << log;
    EXPECT_LT(log.find("casual=9\n"), log.find("casual=10\n")) << log;
    EXPECT_EQ(files_in(dir / "out"), std::vector<std::string>{"Output.txt"});
    // The history keeps the generations bred.
    EXPECT_GT(testing::read_lines(dir / "h.csv").size(), 1u);
}

// The report of a fit is the one a fit without the test writes, whole.
TEST(StopAfterSearch, ASignalDuringAFitsBootstrapOrSimulationsKeepsItsReportAndNothingElse) {
    const std::vector<std::string> common{
        "fit", "--course-file", sample, "--n-oss",   "1000",  "--component",
        "3",   "--lag",         "1",    "--regimes", "2",     "--positions",
        "142", "--threads",     "2",    "--json",    "s.json"};
    TempDir plain;
    ChildProcess reference(VELMORA_CLI_PATH, common, plain.path());
    ASSERT_EQ(reference.finish().status, 0);

    const std::vector<std::pair<std::vector<std::string>, int>> cases{
        {{"--test-linearity", "50000"}, SIGINT},
        {{"--girf", "1", "--girf-histories", "200000", "--girf-repetitions", "1000", "--girf-csv",
          "g.csv"},
         SIGTERM}};
    for (const auto& [extra, signal_number] : cases) {
        TempDir dir;
        std::vector<std::string> arguments = common;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ChildProcess child(VELMORA_CLI_PATH, arguments, dir.path());
        ASSERT_TRUE(wait_for_report(dir.path()));
        child.send(signal_number);
        const ChildOutcome r = child.finish();
        ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
        EXPECT_EQ(r.status, 128 + signal_number) << r.err;
        EXPECT_TRUE(contains(r.err,
                             "Fit stopped after its report was appended; no JSON or CSV "
                             "file was written.\n"))
            << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));
        EXPECT_FALSE(std::filesystem::exists(dir / "g.csv"));
        for (const char* name :
             {"OutputThresholdUnivariate.txt", "PredictionThresholdUnivariate.txt",
              "ResidualThresholdUnivariate.txt"}) {
            EXPECT_EQ(read_file(dir / name), read_file(plain / name)) << name;
        }
    }
}

// Runs the command line with standard error on a terminal (a pseudo
// terminal the test reads) and standard output in a file.
struct TerminalOutcome {
    int status = -1;
    std::string terminal;
    std::string out;
};

TerminalOutcome run_on_terminal(const std::vector<std::string>& arguments,
                                const std::filesystem::path& cwd) {
    TerminalOutcome outcome;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo terminal";
        return outcome;
    }
    const std::string slave_name = ::ptsname(master);
    const std::filesystem::path out_path = cwd / "terminal-stdout.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int slave = ::open(slave_name.c_str(), O_RDWR);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        if (slave < 0 || out < 0 || in < 0 || ::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::dup2(slave, STDERR_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(in, STDIN_FILENO);
        ::close(master);
        std::vector<char*> argv{const_cast<char*>(VELMORA_CLI_PATH)};
        for (const std::string& a : arguments) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(VELMORA_CLI_PATH, argv.data());
        ::_exit(127);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            break;  // EIO once the child has closed the terminal
        }
        outcome.terminal.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(master);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = read_file(out_path);
    std::filesystem::remove(out_path);
    return outcome;
}

TEST(TerminalProgress, TheRefinementAndTheBootstrapShowTheirProgressOnlyOnATerminal) {
    TempDir dir;
    const std::vector<std::string> arguments{
        "run", "--course-file",    sample, "--n-oss",   "300",      "--maxgen",
        "2",   "--popsize",        "6",    "--seed",    "5",        "--test-linearity",
        "12",  "--threads",        "1",    "--workdir", "terminal", "--forecast",
        "2",   "--forecast-paths", "30"};
    const TerminalOutcome shown = run_on_terminal(arguments, dir.path());
    ASSERT_EQ(shown.status, 0) << shown.terminal;
    EXPECT_TRUE(contains(shown.terminal, "generation 2/2")) << shown.terminal;
    EXPECT_TRUE(contains(shown.terminal, "refinement: starting")) << shown.terminal;
    EXPECT_TRUE(contains(shown.terminal, "linearity test: 12/12")) << shown.terminal;
    EXPECT_TRUE(contains(shown.terminal, "forecast: 30/30")) << shown.terminal;
    // Each line is wiped before the next output.
    EXPECT_TRUE(contains(shown.terminal, "\r\033[K")) << shown.terminal;

    // Standard output is the same whether or not standard error is a
    // terminal, and a redirected standard error gets no progress at all.
    std::vector<std::string> piped_arguments = arguments;
    piped_arguments[piped_arguments.size() - 5] = "piped";
    ChildProcess piped(VELMORA_CLI_PATH, piped_arguments, dir.path());
    const ChildOutcome r = piped.finish();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string expected = shown.out;
    for (std::size_t at = expected.find("terminal/"); at != std::string::npos;
         at = expected.find("terminal/", at)) {
        expected.replace(at, 9, "piped/");
    }
    EXPECT_EQ(r.out, expected);
}

// --- The hooks themselves ---

TEST(BootstrapHooks, AStopEndsTheTestWithoutAPValueAndProgressCountsReplicates) {
    const double_matrix series = testing::random_series(400, 3, 6);
    const inference::SeriesRows rows = inference::SeriesRows::from_matrix(series, 400, 3);
    ModelStructure structure;
    structure.one.which_serie = 2;
    structure.one.threshold_lag = 1;
    const inference::ThresholdRule rule = inference::rule_of(structure);
    const std::array<double, 3> thresholds{0.0, 1e6, 1e6};

    std::atomic<bool> stop{false};
    std::vector<int> seen;
    inference::LinearityTestOptions options;
    options.replicates = 40;
    options.threads = 2;
    options.model.min_obs_per_regime = 60;
    options.progress = [&](int done, int total) {
        EXPECT_EQ(total, 40);
        seen.push_back(done);
    };
    const inference::LinearityTest whole =
        inference::test_linearity(rows, rule, thresholds, 1, options);
    EXPECT_FALSE(whole.stopped);
    EXPECT_FALSE(std::isnan(whole.p_value));
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    options.stop = &stop;
    options.progress = [&](int done, int) {
        if (done >= 3) {
            stop = true;
        }
    };
    const inference::LinearityTest cut =
        inference::test_linearity(rows, rule, thresholds, 1, options);
    EXPECT_TRUE(cut.stopped);
    EXPECT_TRUE(std::isnan(cut.p_value));
    EXPECT_EQ(cut.lr, whole.lr);
}

}  // namespace
}  // namespace velmora
