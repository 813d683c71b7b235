// The series as users have it, through the command line: delimited files,
// names in the summary and JSON, sizes from the file, fit by threshold value.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "app/threshold_value.hpp"
#include "data/series.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::CommandResult;
using testing::read_file;
using testing::shell_quote;
using testing::TempDir;
using testing::write_file;

const std::string cli = shell_quote(VELMORA_CLI_PATH);
const std::string data_dir = std::string(VELMORA_SOURCE_DIR) + "/data/";
const std::string returns_txt = shell_quote(data_dir + "eustockmarkets_returns.txt");
const std::string returns_csv = shell_quote(data_dir + "eustockmarkets_returns.csv");

using testing::contains;
using testing::run_cli;

TEST(SeriesCli, CsvAndWhiteSpaceFilesGiveIdenticalReportFiles) {
    TempDir dir;
    const std::string search = " --n-oss 400 --popsize 10 --maxgen 5 --seed 7 --min-oss-reg 30";
    // The CSV as a spreadsheet in a comma locale writes it: semicolons, CRLF.
    std::string csv = read_file(data_dir + "eustockmarkets_returns.csv");
    std::string semicolons;
    for (char c : csv) {
        semicolons += c == ','    ? std::string(";")
                      : c == '\n' ? std::string("\r\n")
                                  : std::string(1, c);
    }
    write_file(dir / "returns.csv", "\xEF\xBB\xBF" + semicolons);
    const CommandResult a =
        run_cli("run --course-file " + returns_txt + " --workdir a" + search, dir);
    const CommandResult b =
        run_cli("run --course-file " + returns_csv + " --workdir b" + search, dir);
    const CommandResult c = run_cli("run --course-file returns.csv --workdir c" + search, dir);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    ASSERT_EQ(c.status, 0) << c.err;
    int compared = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "a")) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string name = std::filesystem::relative(entry.path(), dir / "a").string();
        const std::string expected = read_file(entry.path());
        EXPECT_EQ(read_file(dir / "b" / name), expected) << name;
        EXPECT_EQ(read_file(dir / "c" / name), expected) << name;
        ++compared;
    }
    EXPECT_GE(compared, 4);
    // The white-space file's summary is as it was; the CSV's names its rows
    // and components.
    EXPECT_FALSE(contains(a.out, "component_names"));
    EXPECT_TRUE(contains(a.out, "Series: " + data_dir +
                                    "eustockmarkets_returns.txt, read 400 of "
                                    "1859 rows.\n"))
        << a.out;
    EXPECT_TRUE(contains(b.out,
                         "read 400 of 1859 rows (1991.5 to 1993.03461538462); components "
                         "DAX, SMI, CAC, FTSE.\n"))
        << b.out;
    EXPECT_FALSE(contains(b.out, "component 1 at")) << b.out;
}

TEST(SeriesCli, SizesComeFromTheFileAndTheJsonCarriesTheNames) {
    TempDir dir;
    const CommandResult r =
        run_cli("run --course-file " + returns_csv +
                    " --columns SMI,DAX,FTSE --popsize 4 --maxgen 1 --seed 3 --json s.json",
                dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(read_file(dir / "Output.txt"), "n_oss =1859\n"));
    const auto json = nlohmann::json::parse(read_file(dir / "s.json"));
    EXPECT_EQ(json["parameters"]["n_oss"], 1859);
    EXPECT_EQ(json["parameters"]["n_comp"], 3);
    EXPECT_EQ(json["parameters"]["columns"], nlohmann::json({"SMI", "DAX", "FTSE"}));
    const auto& series = json["series"];
    EXPECT_EQ(series["component_names"], nlohmann::json({"SMI", "DAX", "FTSE"}));
    EXPECT_EQ(series["file_columns"], nlohmann::json({3, 2, 5}));
    EXPECT_EQ(series["format"], "comma-separated");
    EXPECT_EQ(series["rows_read"], 1859);
    EXPECT_EQ(series["rows_in_file"], 1859);
    EXPECT_EQ(series["row_labels"]["first"], "1991.5");
    EXPECT_EQ(series["row_labels"]["last"], "1998.64615384615");
    // The names of the best model's threshold components.
    const auto& best = json["best"];
    ASSERT_TRUE(best.contains("component_names"));
    for (std::size_t i = 0; i < best["components"].size(); ++i) {
        const int k = best["components"][i];
        EXPECT_EQ(best["component_names"][i], series["component_names"][k - 1]);
    }
}

TEST(SeriesCli, FilesOfTheWrongShapeOrWithBadCellsAreRefused) {
    TempDir dir;
    CommandResult r = run_cli("run --course-file " + returns_txt + " --n-comp 5", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "holds 4 numbers on each of its 1859 lines, but n_comp = 5"))
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt"));
    r = run_cli("run --course-file " + returns_csv + " --n-comp 3", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "4 columns of numbers on each row, but n_comp = 3")) << r.err;

    std::string text = "date,a,b\n";
    for (int t = 1; t <= 40; ++t) {
        text += 'd';
        text += std::to_string(t) + "," + std::to_string(t % 3) + ",";
        if (t != 33) {
            text += std::to_string(t % 4);
        }
        text += '\n';
    }
    write_file(dir / "gap.csv", text);
    r = run_cli("run --course-file gap.csv", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "Course file gap.csv, row 34, column 3 (b): empty cell; nothing is filled "
              "in: give the value or drop the row\n");
    r = run_cli("run --course-file " + returns_csv + " --columns DAX,Nikkei", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "no column named \"Nikkei\"")) << r.err;
}

TEST(SeriesCli, EndlessPipeIsReadToTheBoundAndNoFurther) {
    TempDir dir;
    // A writer that never ends by itself: it stops when the reader closes.
    const auto endless = [&dir](const std::string& separator, const std::string& arguments) {
        std::filesystem::remove(dir / "pipe");
        const std::string writer = "awk 'BEGIN { for (;;) print rand()" + separator + "rand()" +
                                   separator + "rand()" + separator + "rand() }'";
        const std::string command = "mkfifo pipe && (" + writer + " >pipe 2>/dev/null &) && " +
                                    cli + " run --course-file pipe " + arguments;
        return testing::run_command(command, dir.path(), dir.path());
    };
    const std::string small = " --popsize 2 --maxgen 1 --seed 2 --min-oss-reg 10 --m 1";
    CommandResult r = endless(" \" \" ", "--n-oss 100" + small);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Series: pipe, read 100 of at least 131073 rows.\n")) << r.out;
    r = endless(" \",\" ", small);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "Course file pipe holds more than 131072 rows: give the number of "
              "observations to read (n_oss)\n");
}

TEST(SeriesCli, LargeThresholdCandidatesAreRefusedWhereTheyWouldServe) {
    TempDir dir;
    std::string text = "time,x,y,level\n";
    for (int t = 1; t <= 60; ++t) {
        text += std::to_string(t) + "," + std::to_string((t * 7) % 11 - 5) + "," +
                std::to_string((t * 5) % 13 - 6) + "," + std::to_string(1e7 + t) + "\n";
    }
    write_file(dir / "s.csv", text);
    const std::string common = " --popsize 4 --maxgen 1 --seed 1 --min-oss-reg 5 --m 1";
    CommandResult r = run_cli("run --course-file s.csv --columns level,x" + common, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "level holds 1e+07 at time 1 (1)")) << r.err;
    EXPECT_TRUE(contains(r.err, "rescale")) << r.err;
    // As a third component it is never a threshold variable of the search,
    // and the refinement, which may try any component, leaves it out.
    r = run_cli("run --course-file s.csv --columns x,y,level --json s.json" + common, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "level holds 1e+07 at time 1 (1)")) << r.err;
    EXPECT_TRUE(contains(r.err, "the refinement does not try it as a threshold variable")) << r.err;
    const auto refined = nlohmann::json::parse(read_file(dir / "s.json"))["refined"];
    EXPECT_EQ(std::count(refined["components"].begin(), refined["components"].end(), 3), 0)
        << refined.dump();
    EXPECT_FALSE(contains(r.err, "x holds")) << r.err;
    const std::string fit = "fit --course-file s.csv --m 1 --min-oss-reg 5 --regimes 2 ";
    r = run_cli(fit + "--component 3 --lag 1 --positions 10", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "level holds")) << r.err;
    r = run_cli(fit + "--component 1 --lag 1 --positions 10", dir);
    EXPECT_EQ(r.status, 0) << r.err;
}

std::string line_starting(const std::string& text, const std::string& start) {
    const auto at = text.find(start);
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

TEST(SeriesCli, FitByThresholdValuePicksTheSplitOfThePosition) {
    TempDir dir;
    const std::string fit = "fit --course-file " + returns_csv + " --n-oss 1000 ";
    const CommandResult by_position =
        run_cli(fit + "--workdir p --component 2 --lag 3 --regimes 3 --positions 120,640", dir);
    ASSERT_EQ(by_position.status, 0) << by_position.err;
    // The thresholds the positions gave, a little above each: no value of
    // SMI lies in between, so the split is the same.
    const std::string thresholds = line_starting(by_position.out, "Thresholds: ");
    double low = 0.0;
    double high = 0.0;
    ASSERT_EQ(std::sscanf(thresholds.c_str(), "Thresholds: %lf %lf", &low, &high), 2) << thresholds;
    const CommandResult by_value2 =
        run_cli(fit + "--workdir v --component 2 --lag 3 --regimes 3 --thresholds " +
                    std::to_string(high + 5e-7) + "," + std::to_string(low + 5e-7),
                dir);
    ASSERT_EQ(by_value2.status, 0) << by_value2.err;
    EXPECT_EQ(line_starting(by_value2.out, "Criterion: "),
              line_starting(by_position.out, "Criterion: "));
    EXPECT_EQ(line_starting(by_value2.out, "Observations per regime: "),
              line_starting(by_position.out, "Observations per regime: "));
    EXPECT_TRUE(contains(by_value2.out, "of SMI: position ")) << by_value2.out;
    EXPECT_EQ(read_file(dir / "v" / "OutputThresholdUnivariate.txt"),
              read_file(dir / "p" / "OutputThresholdUnivariate.txt"));
}

TEST(SeriesCli, CodesMayBeSeparatedByBlanksAsTheSummaryPrintsThem) {
    TempDir dir;
    const std::string fit = "fit --course-file " + returns_txt + " --n-oss 1000 --n-comp 4 ";
    const CommandResult commas =
        run_cli(fit + "--workdir a --codes 0,0,0,1,1,314,36,917,147,544,1,3,0,3,2,4", dir);
    const CommandResult quoted =
        run_cli(fit + "--workdir b --codes '0 0 0 1 1 314 36 917 147 544 1 3 0 3 2 4'", dir);
    const CommandResult words =
        run_cli(fit + "--workdir c --codes 0 0 0 1 1 314 36 917 147 544 1 3 0 3 2 4", dir);
    ASSERT_EQ(commas.status, 0) << commas.err;
    EXPECT_EQ(line_starting(quoted.out, "Criterion"), line_starting(commas.out, "Criterion"));
    EXPECT_EQ(line_starting(words.out, "Criterion"), line_starting(commas.out, "Criterion"));
    // The documented best model of the sample search with --seed 5.
    EXPECT_EQ(line_starting(commas.out, "Criterion"), "Criterion: -2.601800  Fitness: 1.026359");
    const CommandResult bad = run_cli(fit + "--workdir d --codes '0 0 x'", dir);
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(contains(bad.err, "\"x\" is not a whole number")) << bad.err;
}

// Every split a threshold value can make, against a plain search over the
// positions: the position chosen splits the lagged values like the value,
// and no other position splitting them so has a value nearer below it.
TEST(ThresholdValue, ChosenPositionSplitsLikeTheValue) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> level(-6, 6);
    const int n = 60;
    double_matrix serie(1, n, 1, 2);
    for (int t = 1; t <= n; ++t) {
        serie[t][1] = level(rng) * 0.5;  // many ties
        serie[t][2] = t;
    }
    SeriesInfo info;
    for (int lag = 1; lag <= 4; ++lag) {
        for (double x = -3.6; x <= 3.6; x += 0.1) {
            const auto below = [&](double thr, int s) { return serie[s][1] <= thr; };
            PositionForValue found{};
            try {
                found = position_for_threshold(serie, info, 1, lag, x);
            } catch (const ConfigError&) {
                // Only when every lagged value lies above x and no spare
                // time holds a value below them all.
                for (int s = 1; s <= n - lag; ++s) {
                    EXPECT_FALSE(below(x, s)) << x;
                }
                continue;
            }
            ASSERT_GE(found.position, 1);
            ASSERT_LE(found.position, n - 1);
            EXPECT_EQ(found.value, serie[found.position][1]);
            for (int s = 1; s <= n - lag; ++s) {
                ASSERT_EQ(below(found.value, s), below(x, s)) << "x " << x << " lag " << lag;
            }
            for (int p = 1; p < found.position; ++p) {
                EXPECT_NE(serie[p][1], found.value) << "an earlier time holds the same value";
            }
            if (found.value <= x) {
                for (int p = 1; p <= n - 1; ++p) {
                    const double v = serie[p][1];
                    EXPECT_FALSE(v > found.value && v <= x) << "a nearer value below " << x;
                }
            }
        }
    }
}

}  // namespace
}  // namespace velmora
