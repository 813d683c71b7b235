#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/prepare.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::read_lines;
using testing::RecordingConsole;
using testing::TempDir;
using testing::write_file;

const std::filesystem::path sample =
    std::filesystem::path(VELMORA_SOURCE_DIR) / "data" / "eustockmarkets_returns.txt";

RunConfig sample_config() {
    RunConfig c;
    c.course_file = sample.string();
    return c;
}

const std::vector<std::string> default_header = {
    "MaxGen =100",
    "popsize =50",
    "pcross =0.900",
    "pmutation =0.001",
    "Type Crossover =oneptx.c",
    "Type Mutation =bitmutat",
    "Type Selection =rselect.c",
    "scaling_window =0",
    "scalemult =1.200",
    "beta =0.000",
    "sigma_trunc =0.000",
    "tourneysize =0",
    "n_oss =1000",
    "Scaling Method is Linear",
    "autocontrol_selection =0",
};

// Prepares, closes the files, and returns the rejection text ("" if none).
std::string prepare_and_close(const RunConfig& config, const TempDir& dir,
                              RecordingConsole& console) {
    try {
        PreparedRun run = prepare_run(config, dir.path(), console);
    } catch (const ConfigError& e) {
        return e.what();
    }
    return {};
}

TEST(PrepareRun, DefaultsWriteTheFifteenHeaderLinesAndReadTheSeries) {
    TempDir dir;
    RecordingConsole console;
    PreparedRun run = prepare_run(sample_config(), dir.path(), console);
    EXPECT_EQ(console.out_text, "File inputonepop2.txt could not be opened\n");
    EXPECT_EQ(console.err_text, "");
    EXPECT_TRUE(run.output_file.is_open());
    EXPECT_FALSE(run.input_file.is_open());
    EXPECT_EQ(run.n_oss, 1000);
    EXPECT_EQ(run.n_comp, 4);
    EXPECT_EQ(run.model.min_obs_per_regime, 50);
    EXPECT_EQ(run.model.max_order, 2);
    EXPECT_EQ(run.serie_matrix.row_hi(), 1000);
    EXPECT_EQ(run.serie_matrix.col_hi(), 4);
    EXPECT_DOUBLE_EQ(run.serie_matrix[1][1], -0.932655);
    run.output_file.flush();
    EXPECT_EQ(read_lines(dir / "Output.txt"), default_header);

    const EngineParams& p = run.params;
    EXPECT_EQ(p.maxgen, 100);
    EXPECT_EQ(p.popsize, 50);
    EXPECT_EQ(p.pcross, 0.9f);
    EXPECT_EQ(p.pmutation, 0.001f);
    EXPECT_EQ(p.selection, SelectionMethod::roulette);
    EXPECT_EQ(p.crossover, CrossoverMethod::one_point);
    EXPECT_EQ(p.mutation, MutationMethod::bit);
    EXPECT_EQ(p.scaling.method, ScalingMethod::linear);
    EXPECT_EQ(p.scaling.scalemult, 1.2f);
    EXPECT_EQ(p.numfields, 16);
    EXPECT_EQ(p.report_level, 0);
    EXPECT_EQ(p.start_gen, 0);
    EXPECT_EQ(p.n_replications, 1);
}

TEST(PrepareRun, ParameterFileIsOpenedQuietlyWhenPresent) {
    TempDir dir;
    write_file(dir / "inputonepop2.txt", "anything\n");
    RecordingConsole console;
    PreparedRun run = prepare_run(sample_config(), dir.path(), console);
    EXPECT_EQ(console.out_text, "");
    EXPECT_TRUE(run.input_file.is_open());
}

TEST(PrepareRun, HeaderEchoesTheEnteredConstantsBeforeTheScalingRow) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = sample_config();
    c.selection_choice = 3;
    c.crossover_choice = 2;
    c.scaling_method = 2;
    c.scalemult = 2.5f;
    c.beta = 0.25;
    c.sigma_trunc = 1.5;
    c.scaling_window = 7.9;
    c.popsize = 51;
    c.maxgen = 3;
    c.pcross = 0.6;
    c.pmutation = 0.0125;
    c.tourneysize = 9;
    c.n_oss = 200;
    {
        PreparedRun run = prepare_run(c, dir.path(), console);
        EXPECT_EQ(run.params.popsize, 51);
        EXPECT_EQ(run.params.scaling.method, ScalingMethod::autocontrol);
        EXPECT_EQ(run.params.selection, SelectionMethod::universal_sampling);
        EXPECT_EQ(run.params.crossover, CrossoverMethod::uniform);
        EXPECT_EQ(run.params.scaling.beta, 0.25);
        EXPECT_EQ(run.params.scaling.Beta_s_tilde,
                  static_cast<float>(0.5 * std::sqrt(2.0 * std::log(51.0))));
        EXPECT_EQ(run.serie_matrix.row_hi(), 200);
    }
    const std::vector<std::string> expected = {
        "MaxGen =3",
        "popsize =51",
        "pcross =0.600",
        "pmutation =0.013",
        "Type Crossover =unifx.c",
        "Type Mutation =bitmutat",
        "Type Selection =suselect.c",
        "scaling_window =7",
        "scalemult =2.500",
        "beta =0.250",
        "sigma_trunc =1.500",
        "tourneysize =9",
        "n_oss =200",
        "Scaling Method is Autocontrol",
        "autocontrol_selection =1",
    };
    EXPECT_EQ(read_lines(dir / "Output.txt"), expected);
}

TEST(PrepareRun, AutocontrolWithRouletteIsLeftToTheEngine) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = sample_config();
    c.scaling_method = 2;
    EXPECT_EQ(prepare_and_close(c, dir, console), "");
    const auto lines = read_lines(dir / "Output.txt");
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[13], "Scaling Method is Autocontrol");
    EXPECT_EQ(lines[14], "autocontrol_selection =1");
}

TEST(PrepareRun, WindowZeroIsAccepted) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = sample_config();
    c.scaling_method = 4;
    PreparedRun run = prepare_run(c, dir.path(), console);
    EXPECT_EQ(run.params.scaling.method, ScalingMethod::window);
    EXPECT_EQ(run.params.scaling.scaling_window, 0);
}

TEST(PrepareRun, ScalingRejectionKeepsThirteenHeaderLines) {
    struct Case {
        int method;
        void (*change)(RunConfig&);
        const char* message;
        const char* line;
    };
    const Case cases[] = {
        {0, [](RunConfig& c) { c.scalemult = 1.0f; }, "Constant of Scaling Linear must be > 1",
         "scalemult =1.000"},
        {1, [](RunConfig& c) { c.beta = -0.5; }, "Bolzman constant must be >= 0", "beta =-0.500"},
        {3, [](RunConfig&) {}, "Sigma Trouncation constant must be != 0", "sigma_trunc =0.000"},
        {4, [](RunConfig& c) { c.scaling_window = -2; }, "Window constant must be >= 0",
         "scaling_window =-2"},
    };
    for (const Case& test : cases) {
        TempDir dir;
        RecordingConsole console;
        RunConfig c = sample_config();
        c.scaling_method = test.method;
        test.change(c);
        EXPECT_EQ(prepare_and_close(c, dir, console), test.message);
        const auto lines = read_lines(dir / "Output.txt");
        ASSERT_EQ(lines.size(), 13u) << test.message;
        EXPECT_EQ(lines[12], "n_oss =1000");
        EXPECT_NE(std::find(lines.begin(), lines.end(), test.line), lines.end()) << test.line;
    }
}

TEST(PrepareRun, SeriesIsReadBeforeTheScalingCheck) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = sample_config();
    c.scaling_method = 3;  // sigma truncation without a coefficient
    c.course_file = (dir / "missing.txt").string();
    EXPECT_EQ(prepare_and_close(c, dir, console), "File " + c.course_file + " could not be opened");
    EXPECT_EQ(read_lines(dir / "Output.txt").size(), 13u);
}

TEST(PrepareRun, FaultySeriesIsRefusedWithTheHeaderKept) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = sample_config();
    c.n_oss = 1860;
    const std::string message = prepare_and_close(c, dir, console);
    EXPECT_EQ(message, "Course file " + sample.string() +
                           " holds 7436 numbers, but 1860 observations of 4 components need 7440");
    EXPECT_EQ(read_lines(dir / "Output.txt").size(), 13u);
}

TEST(PrepareRun, OutputFileThatCannotBeCreatedStopsTheRun) {
    TempDir dir;
    std::filesystem::create_directory(dir / "Output.txt");
    RecordingConsole console;
    const std::string message = prepare_and_close(sample_config(), dir, console);
    EXPECT_EQ(message, "Output.txt could not be created in " + dir.path().string() +
                           ": it is a directory, not a regular file");
    EXPECT_EQ(console.out_text, "ciao\n");
}

TEST(PrepareRun, OutOfBoundConfigurationLeavesAnEarlierLogAlone) {
    TempDir dir;
    write_file(dir / "Output.txt", "earlier run\n");
    RecordingConsole console;
    RunConfig c = sample_config();
    c.n_comp = 1;
    EXPECT_EQ(prepare_and_close(c, dir, console), "Number of components must be >= 2 (n_comp = 1)");
    EXPECT_EQ(read_lines(dir / "Output.txt"), std::vector<std::string>{"earlier run"});
    EXPECT_EQ(console.out_text, "");
}

TEST(PrepareRun, EveryRunStartsAFreshLog) {
    TempDir dir;
    RecordingConsole console;
    RunConfig c = sample_config();
    c.maxgen = 7;
    EXPECT_EQ(prepare_and_close(c, dir, console), "");
    EXPECT_EQ(prepare_and_close(sample_config(), dir, console), "");
    EXPECT_EQ(read_lines(dir / "Output.txt"), default_header);
}

}  // namespace
}  // namespace velmora
