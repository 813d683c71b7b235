#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "data/number.hpp"
#include "data/series.hpp"
#include "data/table_reader.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using data::read_table;
using data::Table;
using data::TableRequest;
using testing::TempDir;
using testing::write_file;

TableRequest request_for(const std::filesystem::path& path, std::vector<std::string> columns = {},
                         std::optional<int> rows = std::nullopt,
                         std::optional<int> width = std::nullopt) {
    TableRequest r;
    r.path = path;
    r.columns = std::move(columns);
    r.rows = rows;
    r.width = width;
    return r;
}

std::string refusal(const TableRequest& request) {
    try {
        read_table(request);
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.exit_status(), 2);
        return e.what();
    }
    ADD_FAILURE() << "the file was accepted";
    return {};
}

using testing::contains;

std::vector<double> values_of(const Table& t) {
    return t.values;
}

// One small table written in every dialect a spreadsheet exports.
const std::vector<double> kValues{1.5, -2.0, 3.25, 0.0, -1e-3, 42.0};

TEST(TableReader, DelimitedDialectsGiveTheSameTable) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> files{
        {"plain.csv", "date,DAX,SMI\n2024-01-02,1.5,-2\n2024-01-03,3.25,0\n2024-01-04,-1e-3,42\n"},
        {"semi.csv", "date;DAX;SMI\n2024-01-02;1.5;-2\n2024-01-03;3.25;0\n2024-01-04;-1e-3;42\n"},
        {"tab.tsv",
         "date\tDAX\tSMI\n2024-01-02\t1.5\t-2\n2024-01-03\t3.25\t0\n2024-01-04\t-1e-3\t42\n"},
        {"quoted.csv",
         "\"date\",\"DAX\",\"SMI\"\n\"2024-01-02\",\"1.5\",-2\n2024-01-03,3.25, 0 \n"
         "\"2024-01-04\",-1e-3,\"42\"\n"},
        {"crlf-bom.csv",
         "\xEF\xBB\xBF"
         "date,DAX,SMI\r\n2024-01-02,1.5,-2\r\n\r\n2024-01-03,3.25,0\r\n2024-01-04,-1e-3,42\r\n"},
    };
    for (const auto& [name, text] : files) {
        write_file(dir / name, text);
        const Table t = read_table(request_for(dir / name));
        EXPECT_EQ(t.format, data::TableFormat::delimited) << name;
        EXPECT_TRUE(t.has_header) << name;
        EXPECT_TRUE(t.has_labels) << name;
        EXPECT_EQ(t.label_name, "date") << name;
        EXPECT_EQ(t.column_names, (std::vector<std::string>{"DAX", "SMI"})) << name;
        EXPECT_EQ(t.file_columns, (std::vector<int>{2, 3})) << name;
        EXPECT_EQ(t.row_labels,
                  (std::vector<std::string>{"2024-01-02", "2024-01-03", "2024-01-04"}))
            << name;
        EXPECT_EQ(t.rows, 3) << name;
        EXPECT_EQ(values_of(t), kValues) << name;
    }
    EXPECT_EQ(read_table(request_for(dir / "semi.csv")).delimiter, ';');
    EXPECT_EQ(read_table(request_for(dir / "tab.tsv")).delimiter, '\t');
}

TEST(TableReader, HeaderAndLabelColumnAreRecognisedOnlyWhenPresent) {
    TempDir dir;
    // No header, labels: the first row is data.
    write_file(dir / "a.csv", "Q1,1,2\nQ2,3,4\n");
    Table t = read_table(request_for(dir / "a.csv"));
    EXPECT_FALSE(t.has_header);
    EXPECT_TRUE(t.has_labels);
    EXPECT_EQ(t.row_labels, (std::vector<std::string>{"Q1", "Q2"}));
    EXPECT_EQ(values_of(t), (std::vector<double>{1, 2, 3, 4}));
    // Header, no labels.
    write_file(dir / "b.csv", "x,y\n1,2\n3,4\n");
    t = read_table(request_for(dir / "b.csv"));
    EXPECT_TRUE(t.has_header);
    EXPECT_FALSE(t.has_labels);
    EXPECT_EQ(t.file_columns, (std::vector<int>{1, 2}));
    // A numeric date column named as a time axis is labels, not a component.
    write_file(dir / "c.csv", "Date,x,y\n19910102,1,2\n19910103,3,4\n");
    t = read_table(request_for(dir / "c.csv"));
    EXPECT_TRUE(t.has_labels);
    EXPECT_EQ(t.columns, 2);
    EXPECT_EQ(t.row_labels.front(), "19910102");
    // R's write.csv: an empty name over the row names.
    write_file(dir / "d.csv", "\"\",\"x\",\"y\"\n\"1\",1,2\n\"2\",3,4\n");
    t = read_table(request_for(dir / "d.csv"));
    EXPECT_TRUE(t.has_labels);
    EXPECT_EQ(values_of(t), (std::vector<double>{1, 2, 3, 4}));
}

TEST(TableReader, ColumnsArePickedByNameOrNumberInTheGivenOrder) {
    TempDir dir;
    write_file(dir / "s.csv", "time,DAX,SMI,CAC\n1,10,20,30\n2,11,21,31\n");
    Table t = read_table(request_for(dir / "s.csv", {"CAC", "DAX"}));
    EXPECT_EQ(t.column_names, (std::vector<std::string>{"CAC", "DAX"}));
    EXPECT_EQ(values_of(t), (std::vector<double>{30, 10, 31, 11}));
    t = read_table(request_for(dir / "s.csv", {"3", "2"}));  // file columns, labels count
    EXPECT_EQ(t.column_names, (std::vector<std::string>{"SMI", "DAX"}));
    EXPECT_EQ(t.file_columns, (std::vector<int>{3, 2}));

    const std::string unknown = refusal(request_for(dir / "s.csv", {"DAX", "FTSE"}));
    EXPECT_TRUE(contains(unknown, "no column named \"FTSE\"")) << unknown;
    EXPECT_TRUE(contains(unknown, "time, DAX, SMI, CAC")) << unknown;
    EXPECT_TRUE(contains(refusal(request_for(dir / "s.csv", {"time", "DAX"})), "row labels"));
    EXPECT_TRUE(contains(refusal(request_for(dir / "s.csv", {"DAX", "2"})), "picked twice"));
    EXPECT_TRUE(contains(refusal(request_for(dir / "s.csv", {"DAX", "9"})), "columns 1 to 4"));
    EXPECT_TRUE(contains(refusal(request_for(dir / "s.csv", {"DAX", "SMI"}, 2, 3)),
                         "The column list picks 2 columns, but n_comp = 3"));

    // A white-space table: numbers only.
    write_file(dir / "w.txt", "1 2 3\n4 5 6\n");
    t = read_table(request_for(dir / "w.txt", {"3", "1"}));
    EXPECT_EQ(values_of(t), (std::vector<double>{3, 1, 6, 4}));
    EXPECT_TRUE(contains(refusal(request_for(dir / "w.txt", {"DAX"})), "no header row"));
    write_file(dir / "ragged.txt", "1 2 3\n4 5\n");
    EXPECT_TRUE(contains(refusal(request_for(dir / "ragged.txt", {"1"})), "line 2 holds 2"));
}

// The reader words its problems with the model's terms; a front end that
// names them otherwise (a command line by its flags) rebuilds the text.
TEST(TableReader, ProblemsWithTheColumnsNameTermsThatAFrontEndMayNameItsOwnWay) {
    TempDir dir;
    write_file(dir / "s.csv", "time,DAX,SMI\n1,10,20\n2,11,21\n");
    write_file(dir / "ragged.txt", "1 2 3\n4 5\n");
    const auto flag = [](Term term) {
        return std::string(term == Term::columns ? "--columns" : "--threshold-columns");
    };
    const auto texts = [&](const TableRequest& request) -> std::pair<std::string, std::string> {
        try {
            read_table(request);
        } catch (const TermError& e) {
            return {e.what(), term_text(e.parts(), flag)};
        }
        ADD_FAILURE() << "no term named";
        return {};
    };
    auto [model, flagged] = texts(request_for(dir / "s.csv", {"DAX", "SMI"}, 2, 3));
    EXPECT_EQ(model, "The column list picks 2 columns, but n_comp = 3");
    EXPECT_EQ(flagged, "--columns picks 2 columns, but n_comp = 3");
    std::tie(model, flagged) = texts(request_for(dir / "ragged.txt", {"1"}));
    EXPECT_TRUE(contains(model, "first line 3; picking columns needs lines of one width")) << model;
    EXPECT_TRUE(contains(flagged, "first line 3; --columns needs lines of one width")) << flagged;
    TableRequest labels = request_for(dir / "s.csv");
    labels.threshold_columns = {"time"};
    std::tie(model, flagged) = texts(labels);
    EXPECT_TRUE(model.starts_with("Threshold columns: column 1 (time) of ")) << model;
    EXPECT_TRUE(flagged.starts_with("--threshold-columns: column 1 (time) of ")) << flagged;
}

TEST(TableReader, SizesAreTakenFromTheFileOrCheckedAgainstIt) {
    TempDir dir;
    write_file(dir / "s.csv", "a,b\n1,2\n3,4\n5,6\n");
    Table t = read_table(request_for(dir / "s.csv"));
    EXPECT_EQ(t.rows, 3);
    EXPECT_EQ(t.columns, 2);
    t = read_table(request_for(dir / "s.csv", {}, 2));
    EXPECT_EQ(t.rows, 2);
    EXPECT_EQ(t.rows_in_file, 3);
    EXPECT_TRUE(t.rows_in_file_exact);
    EXPECT_TRUE(contains(refusal(request_for(dir / "s.csv", {}, 4)),
                         "holds 3 rows, but 4 observations are needed"));
    const std::string width = refusal(request_for(dir / "s.csv", {}, 2, 3));
    EXPECT_TRUE(contains(width, "2 columns of numbers") && contains(width, "n_comp = 3")) << width;

    write_file(dir / "w.txt", "1 2\n3 4\n5 6\n");
    t = read_table(request_for(dir / "w.txt"));
    EXPECT_EQ(t.rows, 3);
    EXPECT_EQ(t.columns, 2);
    t = read_table(request_for(dir / "w.txt", {}, 1, 2));
    EXPECT_EQ(t.rows_in_file, 3);
    EXPECT_EQ(values_of(t), (std::vector<double>{1, 2}));
}

TEST(TableReader, WhiteSpaceFileOfAnotherShapeIsRefusedButStreamsStay) {
    TempDir dir;
    write_file(dir / "three.txt", "1 2 3\n4 5 6\n7 8 9\n10 11 12\n");
    const std::string shape = refusal(request_for(dir / "three.txt", {}, 3, 4));
    EXPECT_EQ(shape, "Course file " + (dir / "three.txt").string() +
                         " holds 3 numbers on each of its 4 lines, but n_comp = 4: the file is "
                         "of another shape");
    EXPECT_TRUE(contains(refusal(request_for(dir / "three.txt", {}, 2, 2)), "n_comp = 2"));

    // One number per line, lines of different widths, one long line: a
    // stream of numbers read in row order, as always.
    write_file(dir / "one.txt", "1\n2\n3\n4\n5\n6\n");
    EXPECT_EQ(values_of(read_table(request_for(dir / "one.txt", {}, 3, 2))),
              (std::vector<double>{1, 2, 3, 4, 5, 6}));
    write_file(dir / "ragged.txt", "1 2 3\n4\n5 6\n");
    Table t = read_table(request_for(dir / "ragged.txt", {}, std::nullopt, 3));
    EXPECT_EQ(t.rows, 2);
    EXPECT_EQ(values_of(t), (std::vector<double>{1, 2, 3, 4, 5, 6}));
    write_file(dir / "line.txt", "1 2 3 4 5 6");
    EXPECT_EQ(read_table(request_for(dir / "line.txt", {}, 3, 2)).rows, 3);

    // Without n_comp such streams cannot be cut into rows.
    EXPECT_TRUE(contains(refusal(request_for(dir / "one.txt")), "one number per line"));
    EXPECT_TRUE(contains(refusal(request_for(dir / "ragged.txt")), "3 on the first, 1 on line 2"));
    EXPECT_TRUE(contains(refusal(request_for(dir / "ragged.txt", {}, std::nullopt, 4)),
                         "not a whole number of rows of 4"));
}

TEST(TableReader, MalformedCellsNameTheFileRowAndColumn) {
    TempDir dir;
    const std::string head = "time,DAX,SMI\n1,1,2\n2,3,4\n";
    struct Case {
        std::string last_row;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"3,5,", "row 4, column 3 (SMI): empty cell"},
        {"3,NA,6", "row 4, column 2 (DAX): \"NA\" marks a missing value"},
        {"3,#N/A,6", "row 4, column 2 (DAX): \"#N/A\" marks a missing value"},
        {"3,5,abc", "row 4, column 3 (SMI): \"abc\" is not a number"},
        {"3,5,inf", "row 4, column 3 (SMI): \"inf\" is not a finite number"},
        {"3,5", "row 4, column 3 (SMI): missing: the row has 2 fields, row 1 has 3"},
        {"3,5,6,7", "row 4, column 4: one field too many"},
        {"3,\"5,6", "row 4, column 2: a quoted field is not closed"},
        {"3,5,\x1b[2J", "row 4, column 3 (SMI): \"\\x1B[2J\" is not a number"},
    };
    for (const Case& c : cases) {
        write_file(dir / "bad.csv", head + c.last_row + "\n");
        const std::string message = refusal(request_for(dir / "bad.csv"));
        EXPECT_EQ(message.rfind("Course file " + (dir / "bad.csv").string() + ", ", 0), 0u)
            << message;
        EXPECT_TRUE(contains(message, c.expected)) << message;
    }
    // Semicolon files with decimal commas get a hint.
    write_file(dir / "comma.csv", "a;b\n1;2,5\n");
    EXPECT_TRUE(contains(refusal(request_for(dir / "comma.csv")), "decimal comma"));
    // Rows beyond those read are counted, not parsed.
    write_file(dir / "tail.csv", head + "Total,x,y\n");
    EXPECT_EQ(read_table(request_for(dir / "tail.csv", {}, 2)).rows_in_file, 3);
}

TEST(TableReader, StreamMessagesEscapeBytesAndNameAByteOrderMark) {
    TempDir dir;
    write_file(dir / "bom.txt",
               "1 2\n\xEF\xBB\xBF"
               "3 4\n");
    const std::string bom = refusal(request_for(dir / "bom.txt", {}, 2, 2));
    EXPECT_TRUE(contains(bom, "\"\\xEF\\xBB\\xBF3\", is not a number (row 2, column 1)")) << bom;
    EXPECT_TRUE(contains(bom, "UTF-8 byte-order mark")) << bom;
    // A leading mark, as spreadsheets write it, is skipped.
    write_file(dir / "lead.txt",
               "\xEF\xBB\xBF"
               "1 2\n3 4\n");
    EXPECT_EQ(values_of(read_table(request_for(dir / "lead.txt", {}, 2, 2))),
              (std::vector<double>{1, 2, 3, 4}));
    write_file(dir / "esc.txt", "1 \x1b]2J\x07\n");
    const std::string esc = refusal(request_for(dir / "esc.txt", {}, 1, 2));
    EXPECT_TRUE(contains(esc, "\"\\x1B]2J\\x07\"")) << esc;
    EXPECT_EQ(esc.find('\x1b'), std::string::npos);
    write_file(dir / "words.txt", "DAX SMI\n1 2\n");
    EXPECT_TRUE(contains(refusal(request_for(dir / "words.txt", {}, 1, 2)),
                         "a header row of names needs a comma, semicolon or tab"));
    EXPECT_EQ(data::shown_token("Z\xC3\xBCrich"), "Z\xC3\xBCrich");
    EXPECT_EQ(data::shown_token("\xC2\x9B"
                                "1m"),
              "\\xC2\\x9B1m");
}

TEST(TableReader, HexadecimalTokensAreNumbersAsPercentLeReadsThem) {
    TempDir dir;
    write_file(dir / "hex.txt", "0x1p-3 -0X1.8P1\n+0x10 0x1p-99999\n");
    EXPECT_EQ(values_of(read_table(request_for(dir / "hex.txt", {}, 2, 2))),
              (std::vector<double>{0.125, -3.0, 16.0, 0.0}));
    double value = 0.0;
    EXPECT_TRUE(data::parse_number("0x1p99999", value));
    EXPECT_TRUE(std::isinf(value));
    for (const char* bad : {"0x", "0xg", "0x+1", "0x0x1", "1p3"}) {
        EXPECT_FALSE(data::parse_number(bad, value)) << bad;
    }
}

TEST(TableReader, EndlessAndOversizedInputsAreBounded) {
    TempDir dir;
    // /dev/zero is one endless token: refused once it cannot be a number.
    EXPECT_TRUE(contains(refusal(request_for("/dev/zero", {}, 30, 2)), "is not a number"));
    EXPECT_TRUE(contains(refusal(request_for("/dev/zero")), "is not a number"));

    std::string rows;
    for (int i = 0; i < 120; ++i) {
        rows += std::to_string(i) + " " + std::to_string(i % 7) + "\n";
    }
    write_file(dir / "long.txt", rows);
    std::string csv_rows = rows;
    std::replace(csv_rows.begin(), csv_rows.end(), ' ', ',');
    TableRequest r = request_for(dir / "long.txt", {}, 50, 2);
    r.max_rows = 100;
    const Table t = read_table(r);
    EXPECT_EQ(t.rows, 50);
    EXPECT_FALSE(t.rows_in_file_exact);
    EXPECT_EQ(t.rows_in_file, 101);
    r.rows.reset();
    EXPECT_TRUE(contains(refusal(r), "holds more than 100 rows"));
    write_file(dir / "long.csv", "a,b\n" + csv_rows);
    r.path = dir / "long.csv";
    EXPECT_TRUE(contains(refusal(r), "holds more than 100 rows"));
    r.rows = 100;
    EXPECT_EQ(read_table(r).rows, 100);
    r.max_bytes = 100;
    r.rows = 5;
    const Table cut = read_table(r);
    EXPECT_EQ(cut.rows, 5);
    EXPECT_FALSE(cut.rows_in_file_exact);
}

TEST(Series, ThresholdCandidatesOfAMillionOrMoreAreRefused) {
    TempDir dir;
    std::string text = "time,a,b,big\n";
    for (int t = 1; t <= 40; ++t) {
        text += std::to_string(t) + "," + std::to_string(t % 5) + ",0.5," +
                (t == 17 ? "-1e6" : "3") + "\n";
    }
    write_file(dir / "s.csv", text);
    SeriesRequest request;
    request.path = dir / "s.csv";
    const LoadedSeries series = load_series(request);
    EXPECT_NO_THROW(check_threshold_magnitudes(series.serie, series.info, {1, 2}));
    try {
        check_threshold_magnitudes(series.serie, series.info, {1, 3});
        ADD_FAILURE() << "accepted";
    } catch (const ConfigError& e) {
        const std::string message = e.what();
        EXPECT_TRUE(contains(message, "big holds -1e+06 at time 17 (17)")) << message;
        EXPECT_TRUE(contains(message, "rescale")) << message;
    }
    EXPECT_EQ(series.info.rows_text(), "read 40 of 40 rows");
    EXPECT_EQ(series.info.component(2), "b");
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(TableReader, AFirstRowOfNumbersIsAHeaderOnlyUnderATimeAxisElseDataWithAWarning) {
    TempDir dir;
    // "x" over numbers: the first row of data, labelled "x", and said so.
    write_file(dir / "x.csv", "x,1,2\na,3,4\nb,5,6\n");
    const Table data = read_table(request_for(dir / "x.csv"));
    EXPECT_FALSE(data.has_header);
    EXPECT_TRUE(data.has_labels);
    ASSERT_EQ(data.rows, 3);
    EXPECT_EQ(data.row_labels.front(), "x");
    EXPECT_EQ(data.at(0, 1), 2.0);
    ASSERT_EQ(data.warnings.size(), 1u);
    EXPECT_NE(data.warnings[0].find("row 1: read as data, not as a header: \"x\" as the row's "
                                    "label"),
              std::string::npos)
        << data.warnings[0];
    // Under a time axis the same numbers name the columns.
    write_file(dir / "date.csv", "Date,1,2\na,3,4\nb,5,6\n");
    const Table named = read_table(request_for(dir / "date.csv"));
    EXPECT_TRUE(named.has_header);
    EXPECT_EQ(named.rows, 2);
    EXPECT_EQ(named.column_names, (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(named.warnings.empty());
    // Rows of plain numbers and a header of names raise no doubt.
    write_file(dir / "plain.csv", "1,2\n3,4\n");
    write_file(dir / "names.csv", "day,a,b\nx,3,4\n");
    EXPECT_TRUE(read_table(request_for(dir / "plain.csv")).warnings.empty());
    EXPECT_TRUE(read_table(request_for(dir / "names.csv")).warnings.empty());
}

TEST(TableReader, TextThatIsNotUtf8IsReadAsWindows1252) {
    using data::utf8_from_file_text;
    EXPECT_EQ(utf8_from_file_text("Z\xFCrich"), "Z\xC3\xBCrich");
    // The code page's own 0x80..0x9F: euro sign, dagger, Y with diaeresis;
    // an undefined byte becomes U+FFFD.
    EXPECT_EQ(utf8_from_file_text("\x80\x86\x9F\x81"),
              "\xE2\x82\xAC\xE2\x80\xA0\xC5\xB8\xEF\xBF\xBD");
    // Valid UTF-8 (up to four-byte sequences) is kept as it is.
    EXPECT_EQ(utf8_from_file_text("Z\xC3\xBCrich \xF0\x9F\x98\x80"),
              "Z\xC3\xBCrich \xF0\x9F\x98\x80");
    // Overlong forms, surrogates and a cut sequence are not UTF-8.
    EXPECT_EQ(utf8_from_file_text("\xC0\xAF"), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(utf8_from_file_text("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");
    EXPECT_EQ(utf8_from_file_text("ab\xC3"), "ab\xC3\x83");
}

}  // namespace
}  // namespace velmora
