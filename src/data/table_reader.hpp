#pragma once
// Reading a series file as a table of numbers. Two formats are told apart by
// the file's first line:
// - a stream of numbers separated by white space (blanks, tabs, line ends),
//   read in row order: the historical course-file format;
// - delimited text (comma, semicolon or tab separated) with an optional
//   header row of column names and an optional first column of row labels
//   (dates or any text), quoted fields, CRLF line ends and a UTF-8
//   byte-order mark.
// Reading is bounded: at most max_rows data rows are counted, so an endless
// or special file (a pipe, /dev/zero) neither blocks memory nor runs away.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::data {

enum class TableFormat { white_space, delimited };

struct TableRequest {
    std::filesystem::path path;
    // Columns to read, in this order: header names or 1-based column numbers
    // of the file (the label column counts). Empty: every data column.
    std::vector<std::string> columns;
    // Columns that may serve as threshold variables, named as in `columns`:
    // those among the chosen columns are not read twice, the others are read
    // beside them (Table::extra_*).
    std::vector<std::string> threshold_columns;
    // Data rows to read from the top; all of them when empty.
    std::optional<int> rows;
    // Values per row (--n-comp): how a white-space stream is cut into rows,
    // and what a delimited file's chosen columns must number. Taken from the
    // file when empty.
    std::optional<int> width;
    // Data rows counted at most; a file that holds more is read to rows (when
    // given) and otherwise refused.
    int max_rows = 131072;
    // Columns of a row at most.
    int max_columns = 4096;
    // Bytes read at most: a larger file is read to rows (when given) and
    // otherwise refused.
    long long max_bytes = 1LL << 30;
};

// What was read: the chosen columns of the first rows, and what is known of
// the rest of the file.
struct Table {
    std::string source;  // the file name as given
    TableFormat format = TableFormat::white_space;
    char delimiter = 0;  // ',', ';' or '\t' for delimited text
    bool has_header = false;
    bool has_labels = false;
    std::string label_name;                 // header of the label column, may be empty
    std::vector<std::string> column_names;  // of the chosen columns; empty without a header
    std::vector<int> file_columns;          // 1-based file column of each chosen column
    std::vector<std::string> row_labels;    // one per row read when has_labels
    std::vector<int> file_lines;            // line of the file where each row read starts
    int rows = 0;
    int columns = 0;
    std::vector<double> values;  // rows x columns, row after row
    // Per threshold column asked for: 1..columns for a chosen column, columns
    // + j for the j-th extra column.
    std::vector<int> threshold_slots;
    std::vector<int> extra_file_columns;   // 1-based file column of each extra column
    std::vector<std::string> extra_names;  // of the extra columns; empty without a header
    std::vector<double> extra_values;      // rows x extra columns, row after row
    // How the reader settled a doubt about the file (a first row that may or
    // may not be a header), one line each without a line end.
    std::vector<std::string> warnings;
    // Data rows in the file; a lower bound when rows_in_file_exact is false
    // (reading stopped at max_rows or max_bytes).
    long long rows_in_file = 0;
    bool rows_in_file_exact = true;

    int extra_count() const { return static_cast<int>(extra_file_columns.size()); }
    double at(int row, int column) const {
        return values[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(column)];
    }
};

// Reads the file. Throws ConfigError (status 2) with a message naming the file
// and, for a malformed file, the row (the file's line) and column of the
// fault: a file that cannot be opened ("File %s could not be opened"), a cell
// that is empty, "NA" or not a finite number, rows of different widths, a
// width that differs from request.width, too few rows for request.rows, an
// unknown column.
Table read_table(const TableRequest& request);

}  // namespace velmora::data
