#include <gtest/gtest.h>

#include <string>

#include "data/series.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::TempDir;
using testing::write_file;

std::string message_of(const std::filesystem::path& path, int n_oss, int n_comp) {
    try {
        read_course_file(path, n_oss, n_comp);
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.exit_status(), 2);
        return e.what();
    }
    ADD_FAILURE() << "the course file was accepted";
    return {};
}

TEST(CourseFile, ReadsRowsInOrderAcrossAnyWhiteSpaceAndIgnoresSurplus) {
    TempDir dir;
    write_file(dir / "s.txt", "1 2\t3\n4.5e1\r\n  -5 +6\n\n 7 8 9 junk nan\n");
    const double_matrix s = read_course_file(dir / "s.txt", 2, 3);
    EXPECT_EQ(s.row_lo(), 1);
    EXPECT_EQ(s.row_hi(), 2);
    EXPECT_EQ(s.col_lo(), 1);
    EXPECT_EQ(s.col_hi(), 3);
    EXPECT_EQ(s[1][1], 1.0);
    EXPECT_EQ(s[1][2], 2.0);
    EXPECT_EQ(s[1][3], 3.0);
    EXPECT_EQ(s[2][1], 45.0);
    EXPECT_EQ(s[2][2], -5.0);
    EXPECT_EQ(s[2][3], 6.0);
}

TEST(CourseFile, ExactCountWithoutFinalLineEndIsEnough) {
    TempDir dir;
    write_file(dir / "s.txt", "0.25 -0.5");
    const double_matrix s = read_course_file(dir / "s.txt", 1, 2);
    EXPECT_EQ(s[1][1], 0.25);
    EXPECT_EQ(s[1][2], -0.5);
}

TEST(CourseFile, BundledSampleHasTheDocumentedShape) {
    const std::filesystem::path sample =
        std::filesystem::path(VELMORA_SOURCE_DIR) / "data" / "eustockmarkets_returns.txt";
    const double_matrix s = read_course_file(sample, 1859, 4);
    EXPECT_DOUBLE_EQ(s[1][1], -0.932655);
    EXPECT_DOUBLE_EQ(s[1][4], 0.677029);
    EXPECT_NE(message_of(sample, 1860, 4).find("holds 7436 numbers"), std::string::npos);
}

TEST(CourseFile, MissingFileUsesTheHistoricalMessage) {
    TempDir dir;
    EXPECT_EQ(message_of(dir / "none.txt", 2, 2),
              "File " + (dir / "none.txt").string() + " could not be opened");
    EXPECT_EQ(message_of(dir.path(), 2, 2), "File " + dir.path().string() + " could not be opened");
}

TEST(CourseFile, ShortFileSaysHowManyWereFoundAndNeeded) {
    TempDir dir;
    const auto path = dir / "short.txt";
    write_file(path, "1 2 3\n4 5\n");
    EXPECT_EQ(message_of(path, 3, 2), "Course file " + path.string() +
                                          " holds 5 numbers, but 3 observations of 2 "
                                          "components need 6");
    write_file(path, "");
    EXPECT_NE(message_of(path, 1, 2).find("holds 0 numbers"), std::string::npos);
}

TEST(CourseFile, NonNumericTokenIsNamedByPositionAndLine) {
    TempDir dir;
    const auto path = dir / "bad.txt";
    write_file(path, "1 2\n3 4,5\n6 7\n");
    EXPECT_EQ(message_of(path, 3, 2),
              "Course file " + path.string() +
                  ": value 4 (line 2), \"4,5\", is not a number (row 2, column 2)");
    for (const char* token : {"1.5abc", "--1", "+-1", "+", "0x", "0x+1", "-0x-1", "abc"}) {
        write_file(path, std::string("1 ") + token + "\n");
        EXPECT_NE(message_of(path, 1, 2).find("value 2 (line 1)"), std::string::npos) << token;
    }
}

TEST(CourseFile, NonFiniteValuesAreRejected) {
    TempDir dir;
    const auto path = dir / "nan.txt";
    for (const char* token : {"nan", "inf", "-Infinity", "1e400"}) {
        write_file(path, std::string("1 2 3 ") + token + "\n");
        const std::string message = message_of(path, 2, 2);
        EXPECT_NE(message.find("value 4 (line 1)"), std::string::npos) << token;
        EXPECT_NE(message.find("number"), std::string::npos) << token;
    }
    write_file(path, "1 2 3 nan\n");
    EXPECT_NE(message_of(path, 2, 2).find("is not a finite number"), std::string::npos);
    write_file(path, "1 2 3 -1e999\n");
    EXPECT_NE(message_of(path, 2, 2).find("is not a finite number"), std::string::npos);
}

TEST(CourseFile, VanishinglySmallValuesReadAsZero) {
    TempDir dir;
    write_file(dir / "tiny.txt", "1e-400 -1e-999\n");
    const double_matrix s = read_course_file(dir / "tiny.txt", 1, 2);
    EXPECT_EQ(s[1][1], 0.0);
    EXPECT_EQ(s[1][2], 0.0);
}

TEST(CourseFile, OutOfRangeMagnitudesAreJudgedByTheirValueNotTheExponentSign) {
    TempDir dir;
    const std::string zeros(400, '0');
    const auto path = dir / "extreme.txt";
    // Vanishingly small without an exponent, or with a positive one.
    write_file(path, "0." + zeros + "1 -0." + zeros + "1e+5\n");
    const double_matrix s = read_course_file(path, 1, 2);
    EXPECT_EQ(s[1][1], 0.0);
    EXPECT_EQ(s[1][2], 0.0);
    // Far too large although the exponent is negative: refused, not read as 0.
    write_file(path, "1 1" + zeros + "e-5\n");
    EXPECT_NE(message_of(path, 1, 2).find("value 2 (line 1)"), std::string::npos);
    EXPECT_NE(message_of(path, 1, 2).find("is not a finite number"), std::string::npos);
    write_file(path, "1 1e99999999999999999999999\n");
    EXPECT_NE(message_of(path, 1, 2).find("is not a finite number"), std::string::npos);
    write_file(path, "1 1e-99999999999999999999999\n");
    EXPECT_EQ(read_course_file(path, 1, 2)[1][2], 0.0);
}

TEST(CourseFile, LongGarbageIsShortenedInTheMessage) {
    TempDir dir;
    const auto path = dir / "garbage.txt";
    write_file(path, std::string(500, 'x'));
    const std::string message = message_of(path, 1, 1);
    EXPECT_LT(message.size(), 300u);
    EXPECT_NE(message.find("...\""), std::string::npos);
}

TEST(CourseFile, NonPositiveSizesAreRefused) {
    TempDir dir;
    write_file(dir / "s.txt", "1 2 3\n");
    EXPECT_NE(message_of(dir / "s.txt", 0, 2).find("at least 1"), std::string::npos);
    EXPECT_NE(message_of(dir / "s.txt", 2, -1).find("at least 1"), std::string::npos);
}

}  // namespace
}  // namespace velmora
