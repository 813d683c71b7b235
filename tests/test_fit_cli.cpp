#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "model_test_helpers.hpp"

namespace velmora {
namespace {

struct CliResult {
    int status = -1;
    std::string out;  // standard output and standard error together
};

CliResult run_fit(const std::string& args, const std::filesystem::path& workdir) {
    const std::string sample = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";
    const std::string command = std::string(VELMORA_CLI_PATH) + " fit --course-file '" + sample +
                                "' --workdir '" + workdir.string() + "' " + args + " 2>&1";
    CliResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
        result.out += buffer.data();
    }
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

std::string criterion_line(const std::string& out) {
    const auto at = out.find("Criterion: ");
    return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

TEST(FitCli, OneThresholdStructureWritesItsReport) {
    const auto dir = testing::fresh_directory("fit_one");
    const CliResult r = run_fit("--component 1 --lag 2 --regimes 3 --positions 100,200", dir);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("component 1 at lag 2, 3 regimes"), std::string::npos) << r.out;
    EXPECT_NE(criterion_line(r.out).find("Fitness: "), std::string::npos) << r.out;
    const auto lines = testing::read_lines(dir / "OutputThresholdUnivariate.txt");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Replication of GA:1");
    EXPECT_EQ(lines[1], "Number of Regime = 3 ");
    EXPECT_TRUE(std::filesystem::exists(dir / "PredictionThresholdUnivariate.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "ResidualThresholdUnivariate.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdBivariate.txt"));
}

TEST(FitCli, CodesAreDecodedLikeAChromosome) {
    const auto dir = testing::fresh_directory("fit_codes");
    // Field 0 = 1: two threshold variables; fields 2, 3 = (1, 1) become
    // components (1, 2); fields 10, 11 = (1, 2): three regimes, type 2.
    const CliResult coded = run_fit("--codes 1,0,1,1,3,5,6,7,100,0,1,2,3,5,0,1", dir);
    ASSERT_EQ(coded.status, 0) << coded.out;
    const CliResult named =
        run_fit("--components 1,2 --lags 1,2 --positions 100,0 --type-model 2", dir);
    ASSERT_EQ(named.status, 0) << named.out;
    EXPECT_FALSE(criterion_line(coded.out).empty());
    EXPECT_EQ(criterion_line(coded.out), criterion_line(named.out));
    EXPECT_NE(coded.out.find("3 regimes (type of model 2)"), std::string::npos) << coded.out;
    const auto lines = testing::read_lines(dir / "OutputThresholdBivariate.txt");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Number of Regime = 3\t Type of model=2");
}

TEST(FitCli, BadStructuresAndSizesAreRefusedWithStatusTwo) {
    const auto dir = testing::fresh_directory("fit_bad");
    const char* bad[] = {
        "--component 5 --lag 1 --regimes 2 --positions 10",         // component > n_comp
        "--component 1 --lag 7 --regimes 2 --positions 10",         // lag outside 1..6
        "--component 1 --lag 1 --regimes 2 --positions 1859",       // position >= n_oss
        "--component 1 --lag 1 --regimes 3 --positions 10",         // one position short
        "--component 1 --lag 1 --regimes 5 --positions 1,2,3,4",    // too many regimes
        "--components 1,2 --lags 1,1 --positions 1,2 --regimes 3",  // 3 regimes, type 0
        "--components 1,2 --lags 1,1 --positions 1,2 --regimes 4 --type-model 1",
        "--components 2,2 --lags 1,1 --positions 1,2",  // same component twice
        "--component 1 --lag 1 --regimes 2 --positions 10 --codes 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",
        "--codes 0,0,0,0,4,0,0,0,0,0,0,0,0,0,0,0",  // field 4 has codes 0..3
        "--codes 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",    // fifteen codes
        "",                                         // no structure at all
        "--component 1 --lag 1 --regimes 2 --positions 10 --n-comp 1",
        "--component 1 --lag 1 --regimes 2 --positions 10 --n-oss 20",
        "--component 1 --lag 1 --regimes 2 --positions 10 --m 5",
        "--component 1 --lag 1 --regimes 2 --positions 10 --min-oss-reg 1",
        "--component 1 --lag 1 --regimes 2 --positions 10 --include intercept",
    };
    for (const char* args : bad) {
        const CliResult r = run_fit(args, dir);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
        EXPECT_FALSE(r.out.empty()) << args;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt"));
}

nlohmann::json read_json(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str());
}

TEST(FitCli, DeterministicTermsAreEchoedReportedAndListedPerRegime) {
    const auto dir = testing::fresh_directory("fit_include");
    const std::string shape = "--component 1 --lag 2 --regimes 2 --positions 100 --m 2 ";
    const CliResult plain = run_fit(shape + "--json " + (dir / "none.json").string(), dir);
    ASSERT_EQ(plain.status, 0) << plain.out;
    const nlohmann::json none = read_json(dir / "none.json");
    EXPECT_EQ(none["parameters"]["include"], "none");
    EXPECT_EQ(none["model"]["include"], "none");
    EXPECT_EQ(none["model"]["deterministic"], nlohmann::json::parse("[[], []]"));
    const auto plain_lines = testing::read_lines(dir / "OutputThresholdUnivariate.txt");

    const CliResult both =
        run_fit(shape + "--include both --json " + (dir / "both.json").string(), dir);
    ASSERT_EQ(both.status, 0) << both.out;
    EXPECT_NE(both.out.find("Deterministic terms per regime"), std::string::npos) << both.out;
    const nlohmann::json j = read_json(dir / "both.json");
    EXPECT_EQ(j["parameters"]["include"], "both");
    EXPECT_EQ(j["model"]["include"], "both");
    const nlohmann::json& terms = j["model"]["deterministic"];
    ASSERT_EQ(terms.size(), 2u);
    for (const auto& regime : terms) {
        ASSERT_EQ(regime.size(), 2u);  // const, trend
        ASSERT_EQ(regime[0].size(), 4u);
    }
    ASSERT_EQ(j["model"]["deterministic_standard_errors"].size(), 2u);
    EXPECT_EQ(j["model"]["deterministic_standard_errors"][0].size(), 2u);

    // The report lists the terms after the Phi lines, Phi's style.
    const auto lines = testing::read_lines(dir / "OutputThresholdUnivariate.txt");
    std::vector<std::string> added(lines.begin() + static_cast<std::ptrdiff_t>(plain_lines.size()),
                                   lines.end());
    std::size_t first_const = 0;
    std::size_t trends = 0;
    for (std::size_t i = 0; i < added.size(); ++i) {
        if (added[i].rfind("Const[1]=", 0) == 0 && first_const == 0) {
            first_const = i;
            EXPECT_EQ(added[i].find('.') + 6, added[i].size()) << added[i];  // %.5f
        }
        trends += added[i].rfind("Trend[", 0) == 0 ? 1 : 0;
    }
    ASSERT_GT(first_const, 0u);
    // Order 1 comes first: 16 Phi values per regime.
    EXPECT_EQ(added[first_const - 1].rfind("Phi[16]=", 0), 0u) << added[first_const - 1];
    EXPECT_EQ(trends, 16u);  // 4 equations, 2 regimes, orders 1 and 2
}

TEST(FitCli, AStructureThatCannotBeEstimatedEndsWithStatusTwo) {
    const auto dir = testing::fresh_directory("fit_not_estimable");
    // No regime of 1000 observations can hold 900 of them.
    const CliResult r =
        run_fit("--component 1 --lag 1 --regimes 3 --positions 100,200 --min-oss-reg 900", dir);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("Not estimable: regime"), std::string::npos) << r.out;
    // The report still shows how far the estimate got.
    EXPECT_TRUE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt"));
}

TEST(FitCli, AReportThatCannotBeWrittenIsNamedAndEndsWithStatusThree) {
    const auto dir = testing::fresh_directory("fit_full_disk");
    // A file size limit of the child fails the writes past it as a full disk
    // does (tests run as root, whom a read-only folder does not stop): room
    // for the output report (about 4 kB), not for the fitted values.
    const std::string sample = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";
    testing::ChildProcess child(
        VELMORA_CLI_PATH,
        {"fit", "--course-file", sample, "--workdir", dir.string(), "--component", "1", "--lag",
         "2", "--regimes", "2", "--positions", "100"},
        dir, rlim_t{16384});
    const testing::ChildOutcome r = child.finish();
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(
        r.out.find("Report appended to " + (dir / "OutputThresholdUnivariate.txt").string() + "\n"),
        std::string::npos)
        << r.out;
    for (const char* name :
         {"PredictionThresholdUnivariate.txt", "ResidualThresholdUnivariate.txt"}) {
        EXPECT_NE(r.err.find("Report not written to " + (dir / name).string() + ": File too large"),
                  std::string::npos)
            << r.err;
        // The cut-off append leaves the file as it was: empty.
        EXPECT_EQ(std::filesystem::file_size(dir / name), 0u) << name;
    }
}

// A result file that is a device (here /dev/full behind a link) is refused
// before anything is estimated: appending to a device never ends well.
TEST(FitCli, AResultFileThatIsADeviceIsRefused) {
    const auto dir = testing::fresh_directory("fit_device");
    std::filesystem::create_symlink("/dev/full", dir / "PredictionThresholdUnivariate.txt");
    const CliResult r = run_fit("--component 1 --lag 2 --regimes 2 --positions 100", dir);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("PredictionThresholdUnivariate.txt is a character device, not a regular "
                         "file"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "OutputThresholdUnivariate.txt"));
}

// The chosen criterion is the JSON's and the summary's; the report files keep
// the classic value, the one a classic fit of the same rows gives (a lag of
// 6 starts both at row 7).
TEST(FitCli, TheChosenCriterionIsReportedBesideTheClassicReport) {
    const auto classic_dir = testing::fresh_directory("fit_criterion_classic");
    const auto bic_dir = testing::fresh_directory("fit_criterion_bic");
    const std::string structure = "--component 2 --lag 6 --regimes 2 --thresholds 0";
    auto json_to = [](const std::filesystem::path& dir) {
        return " --json '" + (dir / "f.json").string() + "'";
    };
    const CliResult classic = run_fit(structure + json_to(classic_dir), classic_dir);
    const CliResult bic = run_fit(structure + json_to(bic_dir) + " --criterion bic", bic_dir);
    ASSERT_EQ(classic.status, 0) << classic.out;
    ASSERT_EQ(bic.status, 0) << bic.out;
    EXPECT_NE(bic.out.find("Criterion (bic): "), std::string::npos) << bic.out;
    EXPECT_EQ(testing::read_lines(classic_dir / "OutputThresholdUnivariate.txt"),
              testing::read_lines(bic_dir / "OutputThresholdUnivariate.txt"));
    const auto a = nlohmann::json::parse(testing::read_file(classic_dir / "f.json"));
    const auto b = nlohmann::json::parse(testing::read_file(bic_dir / "f.json"));
    EXPECT_EQ(a["parameters"]["criterion"], "classic");
    EXPECT_EQ(b["parameters"]["criterion"], "bic");
    EXPECT_EQ(a["model"]["criterion_name"], "classic");
    EXPECT_EQ(b["model"]["criterion_name"], "bic");
    EXPECT_NE(a["model"]["criterion"], b["model"]["criterion"]);

    const CliResult wrong = run_fit(structure + " --criterion sic", bic_dir);
    EXPECT_EQ(wrong.status, 2) << wrong.out;
    EXPECT_NE(wrong.out.find("sic is not one of classic|aic|bic|hq"), std::string::npos)
        << wrong.out;
}

TEST(FitCli, MissingCourseFileIsRefused) {
    const auto dir = testing::fresh_directory("fit_missing");
    const std::string command = std::string(VELMORA_CLI_PATH) +
                                " fit --course-file /nonexistent/velmora.txt --workdir '" +
                                dir.string() +
                                "' --component 1 --lag 1 --regimes 2 --positions 10 >/dev/null "
                                "2>&1";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 2);
}

}  // namespace
}  // namespace velmora
