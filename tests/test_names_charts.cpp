// The file's component names and row labels in what the command line writes
// (the forecast and impulse-response texts and CSV files, the JSON, fit's
// coefficient tables), and --charts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "forecast/analysis.hpp"
#include "inference/model_inference.hpp"
#include "output/analysis_text.hpp"
#include "output/inference_text.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::CommandResult;
using testing::contains;
using testing::csv_fields;
using testing::read_file;
using testing::read_lines;
using testing::run_cli;
using testing::shell_quote;
using testing::TempDir;

// A forecast of two steps after row 3 of a four-row series (row 4 held out)
// and impulse responses of one regime, two components, filled so that every
// cell says where it is.
AnalysisResult small_result() {
    AnalysisResult r;
    r.fit_rows = 3;
    r.rows = 4;
    r.seed = 5;
    ForecastResult f;
    f.horizon = 2;
    f.k = 2;
    f.paths = 10;
    for (int h = 0; h < 2; ++h) {
        std::vector<double> row{10.0 * (h + 1) + 1, 10.0 * (h + 1) + 2};
        f.mean.push_back(row);
        f.median.push_back(row);
        f.q05.push_back({row[0] - 1, row[1] - 1});
        f.q95.push_back({row[0] + 1, row[1] + 1});
        f.no_shock.push_back(row);
        f.regime_share.push_back({1.0});
    }
    r.forecast = f;
    GirfResult g;
    g.horizon = 1;
    g.k = 2;
    g.histories = 3;
    g.repetitions = 2;
    GirfRegime regime;
    regime.regime = 1;
    regime.times_available = 3;
    regime.cholesky = {1, 0, 0, 1};
    // [shock][horizon][component]
    regime.mean = {{{0.1, 0.2}, {0.3, 0.4}}, {{0.5, 0.6}, {0.7, 0.8}}};
    regime.q05 = regime.mean;
    regime.q95 = regime.mean;
    g.regimes.push_back(regime);
    r.girf = g;
    return r;
}

TEST(Names, AnalysisFilesAndTextsKeepTheirFormWithoutNamesOrLabels) {
    const AnalysisResult r = small_result();
    const std::vector<std::string> forecast = testing::split_lines(forecast_csv_text(r));
    EXPECT_EQ(forecast[0], "step,time,component,mean,median,q05,q95,no_shock");
    EXPECT_EQ(forecast[1], "1,4,1,11,11,10,12,11");
    EXPECT_EQ(testing::split_lines(girf_csv_text(r))[0],
              "regime,shock,horizon,component,mean,q05,q95");
    const std::string text = format_analysis(r);
    EXPECT_TRUE(contains(text, "Forecast from time 3, 2 steps ahead")) << text;
    EXPECT_TRUE(contains(text, "\n  time 4:   11.00000")) << text;
    EXPECT_TRUE(contains(text, "    shock 1:    0.30000    0.40000\n")) << text;
    nlohmann::json j;
    add_analysis_json(j, r);
    EXPECT_FALSE(j["forecast"].contains("origin_label"));
    EXPECT_FALSE(j["forecast"].contains("component_names"));
}

TEST(Names, AnalysisFilesTextsAndJsonNameComponentsAndLabelRows) {
    AnalysisResult r = small_result();
    r.component_names = {"DAX", "S&P, \"500\""};
    r.row_labels = {"2020-01-01", "2020-01-02", "2020-01-03", "2020-01-06"};

    const std::vector<std::string> forecast = testing::split_lines(forecast_csv_text(r));
    ASSERT_EQ(forecast.size(), 5u);
    EXPECT_EQ(forecast[0], "step,time,component,mean,median,q05,q95,no_shock,component_name,label");
    // Row 4 was held out: its label is known; step 2 lies after the file.
    EXPECT_EQ(csv_fields(forecast[1]), (std::vector<std::string>{"1", "4", "1", "11", "11", "10",
                                                                 "12", "11", "DAX", "2020-01-06"}));
    // A name with a comma and quotes is quoted as CSV quotes.
    EXPECT_EQ(forecast[2], "1,4,2,12,12,11,13,12,\"S&P, \"\"500\"\"\",2020-01-06");
    EXPECT_EQ(csv_fields(forecast[3])[9], "");

    const std::vector<std::string> girf = testing::split_lines(girf_csv_text(r));
    EXPECT_EQ(girf[0], "regime,shock,horizon,component,mean,q05,q95,shock_name,component_name");
    // Shock 2, horizon 0, component 1.
    EXPECT_EQ(girf[5], "1,2,0,1,0.5,0.5,0.5,\"S&P, \"\"500\"\"\",DAX");

    nlohmann::json j;
    add_analysis_json(j, r);
    EXPECT_EQ(j["forecast"]["origin_label"], "2020-01-03");
    EXPECT_EQ(j["forecast"]["labels"], nlohmann::json::parse(R"(["2020-01-06", null])"));
    EXPECT_EQ(j["forecast"]["component_names"], nlohmann::json({"DAX", "S&P, \"500\""}));
    EXPECT_EQ(j["girf"]["component_names"], j["forecast"]["component_names"]);

    const std::string text = format_analysis(r);
    EXPECT_TRUE(contains(text, "Forecast from 2020-01-03 (time 3), 2 steps ahead")) << text;
    EXPECT_TRUE(contains(text, "\n  2020-01-06:   11.00000")) << text;
    EXPECT_TRUE(contains(text, "\n  time 5:       21.00000")) << text;
    EXPECT_TRUE(contains(text, "    shock to DAX:")) << text;
    // The names head the columns they name.
    const std::size_t head = text.find("DAX", text.find("Forecast from"));
    const std::size_t row = text.find("2020-01-06:");
    ASSERT_NE(head, std::string::npos);
    const std::size_t head_col = head - text.rfind('\n', head) - 1;
    const std::size_t first_band = text.find("11.00000", row) - text.rfind('\n', row) - 1;
    EXPECT_LE(head_col, first_band);
    EXPECT_GT(head_col + 12, first_band);
}

TEST(Names, CoefficientTablesUseTheNamesAndStayAligned) {
    inference::ModelInference inf;
    inf.k = 2;
    inf.order = 1;
    inference::RegimeRegression g;
    g.estimated = true;
    g.observations = 40;
    g.degrees_of_freedom = 38;
    g.coefficients = {0.5, -0.25, 0.125, 1.0};
    g.standard_errors = {0.1, 0.1, 0.1, 0.1};
    g.t_values = {5, -2.5, 1.25, 10};
    g.p_values = {0, 0.01, 0.2, 0};
    inf.regimes.push_back(g);

    const std::string plain = inference::format_coefficient_tables(inf);
    EXPECT_TRUE(contains(
        plain, "  equation  regressor      coefficient    std.error    t-value   p-value\n"))
        << plain;
    EXPECT_TRUE(contains(plain, "  y1        y2(t-1)")) << plain;

    const std::string named = inference::format_coefficient_tables(inf, {"Long index name", "SMI"});
    const auto lines = testing::split_lines(named);
    ASSERT_EQ(lines.size(), 6u);
    // Equation 1, variable 2 at lag 1: coefficient [(lag-1)*k + v][eq].
    EXPECT_TRUE(contains(lines[3], "Long index name  SMI(t-1)")) << named;
    EXPECT_TRUE(contains(lines[3], "0.125000")) << named;
    EXPECT_TRUE(contains(lines[4], "SMI              Long index name(t-1)")) << named;
    // The rows' columns line up, under the header's.
    for (std::size_t i = 3; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), lines[2].size()) << named;
    }
    EXPECT_EQ(lines[1].find("regressor"), lines[2].find("Long index name(t-1)")) << named;
    // (The header's words sit as they always did, within a column of the
    // numbers' right edge.)
    const auto word_end = static_cast<long>(lines[1].find("coefficient") + 11);
    const auto number_end = static_cast<long>(lines[2].find("0.500000") + 8);
    EXPECT_LE(std::abs(word_end - number_end), 1) << named;
}

#ifdef VELMORA_CLI_PATH

std::string csv_sample() {
    return shell_quote(
        (std::filesystem::path(VELMORA_SOURCE_DIR) / "data" / "eustockmarkets_returns.csv")
            .string());
}

TEST(NamesCli, FitOnANamedDatedFileNamesEverything) {
    TempDir dir;
    const CommandResult r = run_cli(
        "fit --course-file " + csv_sample() +
            " --n-oss 400 --component 2 --lag 1 --regimes 2 --positions 50 --workdir . "
            "--holdout 20 --forecast 2 --forecast-paths 50 --girf 1 --girf-histories 5 "
            "--girf-repetitions 2 --forecast-csv f.csv --girf-csv g.csv --json fit.json --seed 2",
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    // fit's coefficients, the forecast's rows.
    EXPECT_TRUE(contains(r.out, "  DAX       SMI(t-1)")) << r.out;
    EXPECT_TRUE(contains(r.out, "Forecast from 1992.95769230769 (time 380)")) << r.out;
    EXPECT_TRUE(contains(r.out, "\n  1992.96153846154:")) << r.out;
    EXPECT_TRUE(contains(r.out, "    shock to FTSE:")) << r.out;

    const auto f = read_lines(dir.path() / "f.csv");
    ASSERT_EQ(f.size(), 1u + 2u * 4u);
    EXPECT_EQ(f[0], "step,time,component,mean,median,q05,q95,no_shock,component_name,label");
    EXPECT_EQ(csv_fields(f[2])[8], "SMI");
    EXPECT_EQ(csv_fields(f[2])[9], "1992.96153846154");
    const auto g = read_lines(dir.path() / "g.csv");
    EXPECT_EQ(g[0], "regime,shock,horizon,component,mean,q05,q95,shock_name,component_name");
    EXPECT_EQ(csv_fields(g[1]).back(), "DAX");

    const auto j = nlohmann::json::parse(read_file(dir.path() / "fit.json"));
    EXPECT_EQ(j["forecast"]["origin_label"], "1992.95769230769");
    EXPECT_EQ(j["forecast"]["labels"][0], "1992.96153846154");
    EXPECT_EQ(j["forecast"]["component_names"], nlohmann::json({"DAX", "SMI", "CAC", "FTSE"}));
    EXPECT_EQ(j["girf"]["component_names"][3], "FTSE");
}

TEST(NamesCli, ChartsAreDrawnIntoFilesOrRefusedBeforeTheFit) {
    TempDir dir;
    const std::filesystem::path program =
        std::filesystem::path(VELMORA_CLI_PATH).parent_path() / "velmora-charts";
    const std::string fit = "fit --course-file " + csv_sample() +
                            " --n-oss 300 --component 1 --lag 1 --regimes 3 --positions 50,7 "
                            "--workdir . --forecast 3 --forecast-paths 50 --girf 2 "
                            "--girf-histories 5 --girf-repetitions 2 --charts 'out dir'";
    const CommandResult r = run_cli(fit, dir);
    if (!std::filesystem::exists(program)) {
        // Built without Qt: refused before anything is estimated.
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(contains(r.err, "--charts")) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "OutputThresholdUnivariate.txt"));
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    int svg = 0;
    int png = 0;
    std::vector<std::string> stems;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "out dir")) {
        ASSERT_GT(entry.file_size(), 200u) << entry.path();
        const std::string ext = entry.path().extension().string();
        svg += ext == ".svg" ? 1 : 0;
        png += ext == ".png" ? 1 : 0;
        if (ext == ".svg") {
            stems.push_back(entry.path().stem().string());
            // Each chart in both forms.
            EXPECT_TRUE(std::filesystem::exists(
                std::filesystem::path(entry.path()).replace_extension(".png")));
        }
    }
    // The threshold variable and each component by regime, a forecast per
    // component, a response per shock and component.
    EXPECT_EQ(svg, 1 + 4 + 4 + 16);
    EXPECT_EQ(png, svg);
    EXPECT_TRUE(contains(r.out, "Charts: out dir (50 files)")) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out dir" / "regimes-component-4-FTSE.png"));
    const std::string regimes = read_file(dir.path() / "out dir" / "regimes.svg");
    EXPECT_TRUE(contains(regimes, "Regime 3")) << "the legend names the third regime";
    EXPECT_TRUE(contains(regimes, "DAX"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out dir" / "forecast-2-SMI.svg"));
}

#endif

}  // namespace
}  // namespace velmora
