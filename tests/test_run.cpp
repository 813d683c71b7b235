#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/run_driver.hpp"
#include "run_test_helpers.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::read_file;
using testing::read_lines;
using testing::RecordingConsole;
using testing::TempDir;

const std::string& sample = testing::sample_series();

const char* const univariate_files[] = {"OutputThresholdUnivariate.txt",
                                        "PredictionThresholdUnivariate.txt",
                                        "ResidualThresholdUnivariate.txt"};
const char* const bivariate_files[] = {"OutputThresholdBivariate.txt",
                                       "PredictionThresholdBivariate.txt",
                                       "ResidualThresholdBivariate.txt"};

// A small search on the first 200 rows of the sample.
RunConfig small_config() {
    return testing::small_search_config(200, 4);
}

RunOptions options_for(const TempDir& dir, Console& console, std::optional<int> seed = 123) {
    return testing::run_options(dir, console, seed);
}

using testing::count_of;

// The reports appended by all runs so far, whichever estimator wrote them.
int reports_in(const TempDir& dir) {
    return count_of(read_file(dir / "OutputThresholdUnivariate.txt"), "Number of Regime =") +
           count_of(read_file(dir / "OutputThresholdBivariate.txt"), "Number of Regime =");
}

TEST(RunSearch, SmallRunWritesTheLogTheLayoutTheSeedAndOneReport) {
    TempDir dir;
    RecordingConsole console;
    const RunResult r = run_search(small_config(), options_for(dir, console));
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.generations, 4);
    EXPECT_EQ(r.popsize, 12);
    EXPECT_TRUE(r.reported);
    EXPECT_EQ(r.casual, 123);
    EXPECT_EQ(r.randomseed, 0.123f);
    EXPECT_GT(r.nevals, 12);
    EXPECT_EQ(r.best_codes.size(), 16u);
    EXPECT_GT(r.best_fitness, 0.0);
    EXPECT_DOUBLE_EQ(r.best.fitness, r.best_fitness);

    const auto lines = read_lines(dir / "Output.txt");
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[0], "MaxGen =4");
    EXPECT_EQ(lines[12], "n_oss =200");
    EXPECT_EQ(lines[13], "Scaling Method is Linear");
    EXPECT_EQ(lines[14], "autocontrol_selection =0");
    // 200 observations: five 8-bit position fields plus 20 bits of the rest.
    EXPECT_EQ(lines[15], "lchrom =60");
    EXPECT_EQ(lines[16], "chromsize =2");
    EXPECT_EQ(lines[17], "sizeof =4");
    EXPECT_EQ(lines[18], "casual=123");
    EXPECT_EQ(lines[19], "randomseed=0.123000");

    // The result files of the best model's estimator, and only those.
    const bool one = r.best.structure.threshold_variables == 1;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::filesystem::exists(dir / univariate_files[i]), one) << i;
        EXPECT_EQ(std::filesystem::exists(dir / bivariate_files[i]), !one) << i;
    }
    EXPECT_EQ(reports_in(dir), 1);
    ASSERT_EQ(r.files_written.size(), 4u);
    EXPECT_EQ(r.files_written[0], dir / "Output.txt");
    EXPECT_EQ(r.files_written[1], dir / (one ? univariate_files[0] : bivariate_files[0]));
    for (const auto& file : r.files_written) {
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }

    // The fixed standard-output lines.
    EXPECT_EQ(count_of(console.out_text, "individual:"), 12);
    EXPECT_EQ(console.out_text.rfind("File inputonepop2.txt could not be opened\n", 0), 0u);
}

TEST(RunSearch, DefaultLayoutLinesForAThousandObservations) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = small_config();
    c.n_oss = 1000;
    c.maxgen = 0;
    run_search(c, options_for(dir, console));
    const auto lines = read_lines(dir / "Output.txt");
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[15], "lchrom =70");
    EXPECT_EQ(lines[16], "chromsize =3");
    EXPECT_EQ(lines[17], "sizeof =4");
}

TEST(RunSearch, EveryRunAppendsExactlyOneReport) {
    TempDir dir;
    RecordingConsole console;
    run_search(small_config(), options_for(dir, console));
    EXPECT_EQ(reports_in(dir), 1);
    run_search(small_config(), options_for(dir, console, 7));
    EXPECT_EQ(reports_in(dir), 2);
    // The log holds the second run only.
    EXPECT_EQ(read_lines(dir / "Output.txt")[18], "casual=7");
}

TEST(RunSearch, MaxgenZeroWritesNoReport) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = small_config();
    c.maxgen = 0;
    int calls = 0;
    RunOptions o = options_for(dir, console);
    o.progress = [&calls](const RunProgress&) {
        ++calls;
        return true;
    };
    const RunResult r = run_search(c, o);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.generations, 0);
    EXPECT_FALSE(r.reported);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(r.nevals, 12);
    EXPECT_EQ(r.best_codes.size(), 16u);
    EXPECT_EQ(r.files_written, std::vector<std::filesystem::path>{dir / "Output.txt"});
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(std::filesystem::exists(dir / univariate_files[i]));
        EXPECT_FALSE(std::filesystem::exists(dir / bivariate_files[i]));
    }
    EXPECT_EQ(read_lines(dir / "Output.txt").size(), 20u);
}

TEST(RunSearch, OneGenerationReportsAfterIt) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = small_config();
    c.maxgen = 1;
    const RunResult r = run_search(c, options_for(dir, console));
    EXPECT_EQ(r.generations, 1);
    EXPECT_TRUE(r.reported);
    EXPECT_EQ(reports_in(dir), 1);
}

TEST(RunSearch, OneSeedGivesIdenticalFiles) {
    TempDir first;
    TempDir second;
    RecordingConsole console;
    RunConfig c = small_config();
    c.maxgen = 6;
    RunOptions o1 = options_for(first, console, 456);
    RunOptions o2 = options_for(second, console, 456);
    o2.threads = 3;
    o2.cache = false;
    const RunResult r1 = run_search(c, o1);
    const RunResult r2 = run_search(c, o2);
    EXPECT_EQ(r1.best_codes, r2.best_codes);
    EXPECT_EQ(r1.nevals, r2.nevals);
    for (const char* name :
         {"Output.txt", "OutputThresholdUnivariate.txt", "PredictionThresholdUnivariate.txt",
          "ResidualThresholdUnivariate.txt", "OutputThresholdBivariate.txt",
          "PredictionThresholdBivariate.txt", "ResidualThresholdBivariate.txt"}) {
        EXPECT_EQ(std::filesystem::exists(first / name), std::filesystem::exists(second / name));
        EXPECT_EQ(read_file(first / name), read_file(second / name)) << name;
    }
}

TEST(RunSearch, ProgressReportsEachGenerationAndCanStopTheRun) {
    TempDir dir;
    RecordingConsole console;
    std::vector<int> seen;
    RunOptions o = options_for(dir, console);
    o.progress = [&seen](const RunProgress& p) {
        seen.push_back(p.generation);
        EXPECT_EQ(p.maxgen, 4);
        EXPECT_GT(p.best_fitness, 0.0);
        EXPECT_NEAR(p.best_criterion, -100.0 * std::log(p.best_fitness), 1e-9);
        EXPECT_GE(p.best_fitness, p.mean_fitness);
        EXPECT_GE(p.nevals, 12);
        return true;
    };
    run_search(small_config(), o);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3}));

    seen.clear();
    o.progress = [&seen](const RunProgress& p) {
        seen.push_back(p.generation);
        return p.generation < 2;
    };
    const RunResult stopped = run_search(small_config(), o);
    EXPECT_FALSE(stopped.completed);
    EXPECT_EQ(stopped.generations, 2);
    EXPECT_FALSE(stopped.reported);
    EXPECT_EQ(reports_in(dir), 1);  // the first run's only

    std::atomic<bool> stop{true};
    o.progress = nullptr;
    o.stop = &stop;
    const RunResult at_once = run_search(small_config(), o);
    EXPECT_FALSE(at_once.completed);
    EXPECT_EQ(at_once.generations, 0);
    EXPECT_EQ(at_once.best_codes.size(), 16u);
}

TEST(RunSearch, OddAndTooSmallPopulationsAreMendedWithTheirMessages) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = small_config();
    c.popsize = 13;
    RunResult r = run_search(c, options_for(dir, console));
    EXPECT_EQ(r.popsize, 14);
    EXPECT_NE(console.out_text.find("Sorry! only even population sizes are allowed. \n"
                                    "Incrementing popsize by one.\n"),
              std::string::npos);
    EXPECT_EQ(count_of(console.out_text, "individual:"), 14);
    EXPECT_EQ(read_lines(dir / "Output.txt")[1], "popsize =13");

    console.out_text.clear();
    c.popsize = 1;
    r = run_search(c, options_for(dir, console));
    EXPECT_EQ(r.popsize, 2);
    EXPECT_NE(console.out_text.find("Sorry! only even population sizes are allowed. \n"
                                    "Incrementing popsize by one.\n"),
              std::string::npos);
    EXPECT_EQ(console.out_text.find("minimum population size"), std::string::npos);

    console.out_text.clear();
    c.popsize = 0;
    r = run_search(c, options_for(dir, console));
    EXPECT_EQ(r.popsize, 2);
    EXPECT_NE(console.out_text.find("Sorry! minimum population size is 2.\n"), std::string::npos);
    EXPECT_EQ(console.out_text.find("only even"), std::string::npos);
}

TEST(RunSearch, AutocontrolWithoutUniversalSamplingIsAnEngineFault) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = small_config();
    c.scaling_method = 2;
    try {
        run_search(c, options_for(dir, console));
        FAIL() << "the run went on";
    } catch (const EngineFault& e) {
        EXPECT_EQ(e.exit_status(), 255);
        EXPECT_STREQ(e.what(),
                     "OOPS, Automatic control of selection uses suselect.c, Stochastic Universal "
                     "Sampling,\nand that is not the selection method loaded.\nPlease load that "
                     "and rerun.");
    }
    const auto lines = read_lines(dir / "Output.txt");
    ASSERT_EQ(lines.size(), 15u) << "nothing after the header: no start-up happened";
    EXPECT_EQ(lines[13], "Scaling Method is Autocontrol");
    EXPECT_EQ(lines[14], "autocontrol_selection =1");
    EXPECT_EQ(console.out_text.find("individual:"), std::string::npos);

    c.selection_choice = 3;
    const RunResult r = run_search(c, options_for(dir, console));
    EXPECT_TRUE(r.completed);
}

TEST(RunSearch, RefusalsComeBeforeAnySearch) {
    TempDir dir;
    RecordingConsole console;
    RunOptions o = options_for(dir, console, 1000);
    EXPECT_THROW(run_search(small_config(), o), ConfigError);
    o.seed = -1;
    EXPECT_THROW(run_search(small_config(), o), ConfigError);
    o.seed = 999;
    for (const int threads : {0, 1025}) {
        o.threads = threads;
        try {
            run_search(small_config(), o);
            FAIL();
        } catch (const ConfigError& e) {
            EXPECT_EQ(e.what(),
                      strprintf("Threads must be between 1 and 1024 (threads = %d)", threads));
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
    EXPECT_EQ(console.out_text, "");
}

// A front end validates the configuration once; the search enforces that
// validation and does not repeat it, or validates itself when handed none.
TEST(RunSearch, TakesTheValidationItIsHandedInsteadOfValidatingAgain) {
    TempDir dir;
    RecordingConsole console;
    RunOptions o = options_for(dir, console);
    Validation handed;
    handed.problems.push_back({CheckPoint::configuration, "refused where the run began"});
    o.validated = handed;
    try {
        run_search(small_config(), o);
        FAIL() << "the handed validation was skipped";
    } catch (const ConfigError& e) {
        EXPECT_STREQ(e.what(), "refused where the run began");
    }
    // A probability above 1 only makes every pair cross: harmless to run.
    RunConfig c = small_config();
    c.pcross = 2.0;
    ASSERT_FALSE(validate(c).ok());
    o.validated = Validation{};
    EXPECT_TRUE(run_search(c, o).completed) << "the configuration was checked again";
    o.validated.reset();
    EXPECT_THROW(run_search(c, o), ConfigError);
}

// A series from a two-regime threshold VAR: the regime is set by component 2
// two steps back, with the threshold at 0.
std::filesystem::path simulate_threshold_var(const TempDir& dir, int n) {
    std::mt19937 engine(20240607);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<std::array<double, 2>> y(static_cast<std::size_t>(n) + 50, {0.0, 0.0});
    for (std::size_t t = 2; t < y.size(); ++t) {
        const auto& p = y[t - 1];
        const bool upper = y[t - 2][1] > 0.0;
        const double e1 = noise(engine);
        const double e2 = noise(engine);
        if (upper) {
            y[t] = {-0.6 * p[0] + 0.3 * p[1] + e1, 0.5 * p[0] - 0.5 * p[1] + e2};
        } else {
            y[t] = {0.7 * p[0] - 0.2 * p[1] + e1, -0.3 * p[0] + 0.6 * p[1] + e2};
        }
    }
    const auto path = dir / "tvar.txt";
    std::FILE* f = std::fopen(path.c_str(), "w");
    for (std::size_t t = 50; t < y.size(); ++t) {
        std::fprintf(f, "%.10f %.10f\n", y[t][0], y[t][1]);
    }
    std::fclose(f);
    return path;
}

TEST(RunSearch, FindsTheThresholdComponentAndLagOfASimulatedSeries) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c;
    c.course_file = simulate_threshold_var(dir, 600).string();
    c.n_oss = 600;
    c.n_comp = 2;
    c.model.max_order = 1;
    c.model.min_obs_per_regime = 50;
    c.popsize = 40;
    c.maxgen = 40;
    c.pmutation = 0.05;
    const RunResult r = run_search(c, options_for(dir, console, 321));
    // The criterion's penalty is mild, so the search may split the regimes
    // further; the true switching variable must be among those it uses.
    const ModelStructure& s = r.best.structure;
    if (s.threshold_variables == 1) {
        EXPECT_EQ(s.one.which_serie, 2);
        EXPECT_EQ(s.one.threshold_lag, 2);
    } else {
        const bool first = s.two.which_serie1 == 2 && s.two.Ritardo1 == 2;
        const bool second = s.two.which_serie2 == 2 && s.two.Ritardo2 == 2;
        EXPECT_TRUE(first || second)
            << "(" << s.two.which_serie1 << ", lag " << s.two.Ritardo1 << ") and ("
            << s.two.which_serie2 << ", lag " << s.two.Ritardo2 << ")";
    }
}

}  // namespace
}  // namespace velmora
