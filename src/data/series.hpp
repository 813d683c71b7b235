#pragma once
// Reading the course file: the observed series as serie_matrix, with what a
// person reads about it (component names, row labels, rows read of the file).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "numeric/arrays.hpp"

namespace velmora {

// What travels with a loaded series to everything that shows results: the
// summary, the JSON, the regimes table, the desktop program.
struct SeriesInfo {
    std::string file;        // the course file as named
    std::string format;      // "white-space", "comma-separated", "semicolon-separated", ...
    bool has_names = false;  // the file's header named the components
    std::vector<std::string> component_names;  // 1 per component (index k-1); may be empty
    std::vector<int> file_columns;             // 1-based column of the file of each component
    // Columns read only as threshold variables (--threshold-columns): column
    // n_comp + j of the series is the file's column external_columns[j-1],
    // named external_names[j-1] when the file has a header.
    std::vector<int> external_columns;
    std::vector<std::string> external_names;
    // The columns of the series that may serve as threshold variables, in
    // the order listed (1..n_comp a component, beyond an external column);
    // empty: the default candidates.
    std::vector<int> threshold_components;
    std::string label_name;               // header of the label column, when any
    std::vector<std::string> row_labels;  // 1 per time (index t-1), or empty
    int rows_read = 0;
    long long rows_in_file = 0;  // a lower bound when rows_in_file_exact is false
    bool rows_in_file_exact = true;
    // How a doubt about the file was settled (a first row of numbers under a
    // label read as data), one line each without a line end; a front end
    // shows them once, when it reads the file.
    std::vector<std::string> warnings;

    // "DAX", or "component 3" when the file has no name for it; beyond the
    // components, the external column's name or "column 7" (its file column).
    std::string component(int k) const;
    int n_comp() const { return static_cast<int>(file_columns.size()); }
    // Whether column k of the series is an external column, and the number
    // the reports give a threshold variable: a component's own number, an
    // external column's number in the file.
    bool external(int k) const {
        return k > n_comp() && static_cast<std::size_t>(k - n_comp()) <= external_columns.size();
    }
    int reported_column(int k) const;
    // The series column a file's column is named by: its header name, else
    // its number in the file; 0 when it is neither a component nor an
    // external column.
    int column_named(const std::string& text) const;
    // The text that names series column k that way: its header name when
    // the file has one, else its number in the file.
    std::string column_text(int k) const;
    // The series column of a number the reports gave (reported_column).
    int series_column(int reported, bool external) const;
    // Every component's name when the file's header named them, else empty.
    std::vector<std::string> names() const;
    // The label of time t (1-based), or "" when the file has none.
    std::string label(int t) const;
    // The same as a line on a terminal may show them: bytes a terminal would
    // act on (a control character, a line end inside a quoted name) escaped
    // as \xNN.
    std::string shown_component(int k) const;
    // names() as shown_component gives them, then the external threshold
    // columns' names (components without a name are then empty).
    std::vector<std::string> shown_names() const;
    std::string shown_label(int t) const;
    // "read 1000 of 1859 rows" / "read 1000 of at least 131073 rows".
    std::string rows_text() const;
};

// What to read: the file, the columns (names or 1-based numbers; all when
// empty) and the sizes, taken from the file when not given.
struct SeriesRequest {
    std::filesystem::path path;
    std::vector<std::string> columns;
    // Columns that may serve as threshold variables (names or 1-based
    // numbers); those not among the components are read beside them.
    std::vector<std::string> threshold_columns;
    std::optional<int> n_oss;
    std::optional<int> n_comp;
};

struct LoadedSeries {
    // Rows 1..n_oss, columns 1..n_comp, then the external threshold columns.
    double_matrix serie;
    SeriesInfo info;
    int n_oss() const { return serie.row_hi(); }
    int n_comp() const { return serie.col_hi() - static_cast<int>(info.external_columns.size()); }
};

// Reads the series. A white-space stream of numbers is read in row order as
// it always was (a file whose every line holds the same count of numbers,
// other than n_comp, is refused as a file of another shape); delimited text
// may carry a header of names and a label column. Throws ConfigError with
// "File %s could not be opened" when the file cannot be opened, and with a
// message naming the file, the row and the column of a malformed cell.
LoadedSeries load_series(const SeriesRequest& request);

// The first n_oss*n_comp numbers of the file in row order into a matrix with
// rows 1..n_oss and columns 1..n_comp ([t][k] = component k at time t), with
// the checks of load_series.
double_matrix read_course_file(const std::filesystem::path& path, int n_oss, int n_comp);

// Threshold values of a million or more in magnitude collide with the
// estimators' sentinels (thresholds sort from 1e8, unused slots hold 1e6):
// refuses, with ConfigError, a series whose given components hold such a
// value, naming the component and the time and suggesting a rescaling.
void check_threshold_magnitudes(const double_matrix& serie, const SeriesInfo& info,
                                const std::vector<int>& components);

// The first part of that message for one component ("Course file F: C holds
// V at time T; values of magnitude 1e6 or more cannot serve as thresholds");
// empty when the component can serve.
std::string threshold_magnitude_problem(const double_matrix& serie, const SeriesInfo& info,
                                        int component);

}  // namespace velmora
