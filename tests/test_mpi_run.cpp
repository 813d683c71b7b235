// One run or fit under mpirun: the bootstraps and impulse responses shared out
// over the ranks give the files and lines of one process, and a command that
// rank 0 ends on its own ends on every rank.

#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "output/report/model_report.hpp"
#include "support/errors.hpp"
#include "support/executor.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::ChildProcess;
using testing::TempDir;

TEST(TaskExecutor, ResultsComeBackByIndexAndAStopLeavesTheRestUnrun) {
    auto square = [](long long i, int) -> std::optional<std::string> {
        ByteWriter out;
        out.f64(static_cast<double>(i * i));
        out.text(std::to_string(i));
        out.ints(std::vector<int>{});  // an empty list crosses too
        return std::move(out.bytes());
    };
    const TaskResults all = run_serial_tasks(nullptr, 50, 3, square);
    ASSERT_TRUE(all.completed);
    for (long long i = 0; i < 50; ++i) {
        ByteReader in(all.results[static_cast<std::size_t>(i)]);
        EXPECT_EQ(in.f64(), static_cast<double>(i * i));
        EXPECT_EQ(in.text(), std::to_string(i));
        EXPECT_TRUE(in.ints().empty());
        EXPECT_TRUE(in.done());
        EXPECT_THROW(in.u64(), std::invalid_argument);
    }
    const TaskResults some =
        run_serial_tasks(nullptr, 10, 1, [](long long i, int) -> std::optional<std::string> {
            return i % 2 == 0 ? std::optional<std::string>("x") : std::nullopt;
        });
    EXPECT_FALSE(some.completed);
    EXPECT_EQ(some.ran, std::vector<char>({1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
}

// A model estimated on another rank arrives whole: its reports, which show
// every regime's coefficients, covariances, fitted values and residuals, are
// those of the original, and its bytes written again are the same.
TEST(TaskExecutor, AFittedModelCrossesAsBytesWhole) {
    testing::ProblemFixture fx(testing::random_series(240, 3, 11), 240, 3, 2, 10);
    fx.problem.model.include = Include::both;
    EstimationWorkspace ws(fx.problem);
    TwoThresholdStructure s;
    s.which_serie1 = 1;
    s.which_serie2 = 2;
    s.pos_thres_1 = 40;
    s.pos_thres_2 = 90;
    s.n_regime = 3;
    s.type_model = 2;
    s.Ritardo1 = 1;
    s.Ritardo2 = 2;
    FittedModel model = estimate(fx.problem, ws, s);
    ASSERT_TRUE(model.estimated());
    // Fields the report does not show travel too.
    model.orders = {2, 1, 2, 0};
    model.used.orders = {2, 1, 2, 0};
    model.external_columns = {7};
    ByteWriter out;
    write_fitted_model(out, model);
    ByteReader in(out.bytes());
    const FittedModel back = read_fitted_model(in);
    EXPECT_TRUE(in.done());
    EXPECT_EQ(format_model_report(back, 3), format_model_report(model, 3));
    EXPECT_EQ(back.regime_of_time, model.regime_of_time);
    EXPECT_EQ(back.orders, model.orders);
    EXPECT_EQ(back.used.orders, model.used.orders);
    EXPECT_EQ(back.external_columns, model.external_columns);
    EXPECT_EQ(back.passes.size(), model.passes.size());
    ByteWriter again;
    write_fitted_model(again, back);
    EXPECT_EQ(again.bytes(), out.bytes());
    EXPECT_THROW(
        {
            ByteReader cut(std::string_view(out.bytes()).substr(0, out.bytes().size() / 2));
            read_fitted_model(cut);
        },
        std::invalid_argument);
}

// A failure crosses with its text, status and type, or as none.
TEST(TaskExecutor, FailuresCrossAsBytesWithTheirTypeAndStatus) {
    ByteWriter out;
    write_failure(out, std::make_exception_ptr(Failure("Disk full\n", 3, true)));
    write_failure(out, std::make_exception_ptr(std::domain_error("not definite")));
    write_failure(out, nullptr);
    ByteReader in(out.bytes());
    try {
        std::rethrow_exception(read_failure(in));
    } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "Disk full\n");
        EXPECT_EQ(e.exit_status(), 3);
        EXPECT_TRUE(e.verbatim());
    }
    EXPECT_THROW(std::rethrow_exception(read_failure(in)), std::domain_error);
    EXPECT_EQ(read_failure(in), nullptr);
    EXPECT_TRUE(in.done());
}

#ifdef VELMORA_MPIEXEC

const std::string kCli = VELMORA_CLI_PATH;

// Every file under folder, by relative name, with its bytes.
std::map<std::string, std::string> tree(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), folder).string()] =
                testing::read_file(entry.path());
        }
    }
    return files;
}

testing::ChildOutcome launch(int ranks, const std::vector<std::string>& arguments,
                             const std::filesystem::path& cwd) {
    std::vector<std::string> args = {"--oversubscribe", "-n", std::to_string(ranks)};
    if (::geteuid() == 0) {
        args.push_back("--allow-run-as-root");
    }
    args.push_back(kCli);
    args.insert(args.end(), arguments.begin(), arguments.end());
    ChildProcess child(VELMORA_MPIEXEC, args, cwd);
    return child.finish();
}

struct SampleFolder {
    TempDir dir;
    // A fresh folder holding the sample as series.csv.
    std::filesystem::path fresh(const std::string& name) const {
        const std::filesystem::path folder = dir / name;
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(
            std::filesystem::path(VELMORA_SOURCE_DIR) / "data" / "eustockmarkets_returns.csv",
            folder / "series.csv");
        return folder;
    }
};

TEST(RunMpi, FilesAndLinesAreThoseOfOneProcessForAnyNumberOfRanks) {
    const SampleFolder f;
    // Every step that is shared out, small: both bootstraps (the level lets
    // the test of 2 against 3 regimes run too), impulse responses, and
    // beside them replications and rolling origins. With two threads a rank
    // hands its tasks to threads that wait while it claims more; three ranks
    // have fewer replications than ranks and threads.
    const std::vector<std::string> common = {
        "run",        "--course-file",    "series.csv", "--n-oss",
        "200",        "--maxgen",         "4",          "--popsize",
        "10",         "--seed",           "5",          "--replications",
        "2",          "--test-linearity", "9",          "--test-regimes",
        "9",          "--test-level",     "0.5",        "--girf",
        "3",          "--girf-histories", "8",          "--girf-repetitions",
        "3",          "--rolling",        "2",          "--json",
        "out.json",   "--girf-csv",       "girf.csv",   "--rolling-csv",
        "rolling.csv"};
    for (const int threads : {1, 2}) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--threads", std::to_string(threads)});
        const std::filesystem::path plain = f.fresh("plain" + std::to_string(threads));
        ChildProcess alone(kCli, args, plain);
        const auto expected = alone.finish();
        ASSERT_EQ(expected.status, 0) << expected.err;
        ASSERT_TRUE(testing::contains(expected.out, "2 vs 3 regimes")) << expected.out;
        for (int ranks : threads == 1 ? std::vector<int>{1, 2, 4} : std::vector<int>{3}) {
            const std::string name =
                std::to_string(ranks) + " ranks, " + std::to_string(threads) + " threads";
            const std::filesystem::path folder =
                f.fresh("ranks" + std::to_string(ranks) + "-" + std::to_string(threads));
            const auto outcome = launch(ranks, args, folder);
            EXPECT_EQ(outcome.status, 0) << outcome.err;
            EXPECT_EQ(outcome.out, expected.out) << name;
            EXPECT_EQ(tree(folder), tree(plain)) << name;
        }
    }
}

TEST(RunMpi, AFailureOfRankZeroAloneEndsEveryRankWithItsStatus) {
    const SampleFolder f;
    const std::filesystem::path folder = f.fresh("fit");
    // Only rank 0 writes the JSON: it alone finds its folder missing, while
    // the other rank goes on into the bootstrap and must be told to leave.
    const std::vector<std::string> args = {"fit",
                                           "--course-file",
                                           "series.csv",
                                           "--n-oss",
                                           "200",
                                           "--component",
                                           "1",
                                           "--lag",
                                           "1",
                                           "--regimes",
                                           "2",
                                           "--thresholds",
                                           "0",
                                           "--test-linearity",
                                           "9",
                                           "--json",
                                           "missing/out.json"};
    const auto outcome = launch(2, args, folder);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(testing::count_of(outcome.err, "missing/out.json could not be created"), 1)
        << outcome.err;
}

#endif

}  // namespace
}  // namespace velmora
