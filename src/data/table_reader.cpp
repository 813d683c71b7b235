#include "data/table_reader.hpp"

#include <csv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <span>
#include <string_view>
#include <system_error>

#include "data/number.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::data {

namespace {

constexpr std::size_t kChunk = 1 << 16;
// A number needs far fewer characters; a longer token is garbage (a binary
// file, /dev/zero) and is refused without being held whole.
constexpr std::size_t kMaxToken = 4096;
constexpr std::size_t kMaxField = 1 << 20;

[[noreturn]] void refuse(const std::string& text) {
    throw ConfigError(text);
}

// A problem with the columns picked or the threshold columns listed: the
// term, then what is wrong with it.
[[noreturn]] void refuse_term(Term term, const std::string& rest) {
    throw TermError(term, term == Term::columns ? "Columns" : "Threshold columns", rest);
}

// The columns picked number other than the components: the list named as a
// front end names it.
[[noreturn]] void refuse_picked_count(int picked, int width) {
    throw TermError(
        {{Term::columns, "The column list"},
         {std::nullopt, strprintf(" picks %d columns, but n_comp = %d", picked, width)}});
}

// The threshold columns (file columns) as slots of the table: a chosen
// column keeps its own, any other becomes an extra column read beside them.
void place_threshold_columns(const std::vector<int>& chosen, const std::vector<int>& wanted,
                             Table& table) {
    table.threshold_slots.clear();
    table.extra_file_columns.clear();
    const int w = static_cast<int>(chosen.size());
    for (int column : wanted) {
        const auto own = std::find(chosen.begin(), chosen.end(), column);
        const auto extra =
            std::find(table.extra_file_columns.begin(), table.extra_file_columns.end(), column);
        int slot = 0;
        if (own != chosen.end()) {
            slot = static_cast<int>(own - chosen.begin()) + 1;
        } else if (extra != table.extra_file_columns.end()) {
            slot = w + static_cast<int>(extra - table.extra_file_columns.begin()) + 1;
        } else {
            table.extra_file_columns.push_back(column);
            slot = w + table.extra_count();
        }
        if (std::find(table.threshold_slots.begin(), table.threshold_slots.end(), slot) !=
            table.threshold_slots.end()) {
            refuse_term(Term::threshold_columns, strprintf(": column %d is listed twice", column));
        }
        table.threshold_slots.push_back(slot);
    }
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool is_number(std::string_view token) {
    double value = 0.0;
    return parse_number(token, value);
}

// Names under which spreadsheets and statistics programs export a time axis:
// such a first column holds labels even when they look like numbers
// (19910102, 1991.496).
bool is_time_name(std::string_view name) {
    for (const char* word : {"date", "time", "datetime", "timestamp", "day", "week", "month",
                             "year", "period", "index"}) {
        if (equals_ignoring_case(trimmed(name), word)) {
            return true;
        }
    }
    return false;
}

bool is_missing_marker(std::string_view token) {
    for (const char* word : {"NA", "N/A", "#N/A", "NULL", "NaN", "-", "."}) {
        if (equals_ignoring_case(token, word)) {
            return true;
        }
    }
    return false;
}

// The file, read in chunks; the first chunk is peeked at to tell the format.
class ByteSource {
  public:
    explicit ByteSource(const std::filesystem::path& path, long long max_bytes)
        : name_(path.string()), max_bytes_(max_bytes) {
        std::error_code ec;
        if (!std::filesystem::is_directory(path, ec)) {
            in_.open(path, std::ios::binary);
        }
        if (!in_.is_open()) {
            refuse(strprintf("File %s could not be opened", name_.c_str()));
        }
    }

    // Reads the next chunk into buffer; false at the end of the file or when
    // max_bytes have been read (exhausted() then tells which).
    bool next(std::string& buffer) {
        if (total_ >= max_bytes_) {
            exhausted_ = true;
            return false;
        }
        buffer.resize(kChunk);
        in_.read(buffer.data(), static_cast<std::streamsize>(kChunk));
        buffer.resize(static_cast<std::size_t>(in_.gcount()));
        if (in_.bad()) {
            refuse(strprintf("File %s could not be read", name_.c_str()));
        }
        total_ += static_cast<long long>(buffer.size());
        return !buffer.empty();
    }

    bool exhausted() const { return exhausted_; }

  private:
    std::string name_;
    std::ifstream in_;
    long long max_bytes_;
    long long total_ = 0;
    bool exhausted_ = false;
};

struct Detection {
    TableFormat format = TableFormat::white_space;
    char delimiter = 0;
};

// Tells the format from the first line that holds anything: delimited when
// it has commas or semicolons outside quotes, or tabs next to a token that is
// not a number (a header or a label). A tab-separated file of plain numbers
// reads the same either way and stays a white-space stream.
Detection detect(std::string_view text) {
    std::size_t start = 0;
    std::string_view line;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        line = text.substr(start, end - start);
        if (!trimmed(line).empty()) {
            break;
        }
        line = {};
        start = end + 1;
    }
    std::array<int, 3> counts{};  // tab, semicolon, comma
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            counts[0] += c == '\t';
            counts[1] += c == ';';
            counts[2] += c == ',';
        }
    }
    Detection d;
    if (counts[1] > 0 || counts[2] > 0) {
        d.format = TableFormat::delimited;
        // The most frequent; a tie goes to tab, then semicolon.
        const std::array<char, 3> chars{'\t', ';', ','};
        std::size_t best = 0;
        for (std::size_t i = 1; i < 3; ++i) {
            if (counts[i] > counts[best]) {
                best = i;
            }
        }
        d.delimiter = chars[best];
        return d;
    }
    if (counts[0] > 0) {
        std::size_t pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && is_blank(line[pos])) {
                ++pos;
            }
            const std::size_t token_start = pos;
            while (pos < line.size() && !is_blank(line[pos])) {
                ++pos;
            }
            if (pos > token_start && !is_number(line.substr(token_start, pos - token_start))) {
                d.format = TableFormat::delimited;
                d.delimiter = '\t';
                return d;
            }
        }
    }
    return d;
}

std::string rows_text(long long rows, bool exact) {
    return exact ? strprintf("%lld", rows) : strprintf("at least %lld", rows);
}

// ---------------------------------------------------------------------------
// The white-space stream.

class StreamReader {
  public:
    StreamReader(const TableRequest& request, Table& table) : request_(request), table_(table) {
        name_ = table_.source;
        for (const std::string& column : request.columns) {
            int number = 0;
            const auto [ptr, ec] =
                std::from_chars(column.data(), column.data() + column.size(), number);
            if (ec != std::errc() || ptr != column.data() + column.size()) {
                refuse_term(Term::columns,
                            strprintf(": %s has no header row of names; pick its columns by number "
                                      "(\"%s\" is not one)",
                                      name_.c_str(), shown_token(column).c_str()));
            }
            if (number < 1) {
                refuse_term(Term::columns,
                            strprintf(": column %d does not exist; columns count from 1", number));
            }
            chosen_.push_back(number);
        }
        for (const std::string& column : request.threshold_columns) {
            int number = 0;
            const auto [ptr, ec] =
                std::from_chars(column.data(), column.data() + column.size(), number);
            if (ec != std::errc() || ptr != column.data() + column.size() || number < 1) {
                refuse_term(Term::threshold_columns,
                            strprintf(": %s has no header row of names; name its columns by "
                                      "number from 1 (\"%s\" is not one)",
                                      name_.c_str(), shown_token(column).c_str()));
            }
            wanted_.push_back(number);
        }
        table_mode_ = !chosen_.empty();
        if (table_mode_) {
            place_threshold_columns(chosen_, wanted_, table_);
        }
        const int extras = table_.extra_count();
        row_.assign(chosen_.size() + static_cast<std::size_t>(extras), 0.0);
        if (table_mode_) {
            int widest = *std::max_element(chosen_.begin(), chosen_.end());
            for (int column : table_.extra_file_columns) {
                widest = std::max(widest, column);
            }
            column_slot_.assign(static_cast<std::size_t>(widest), -1);
            for (std::size_t i = 0; i < chosen_.size(); ++i) {
                int& slot = column_slot_[static_cast<std::size_t>(chosen_[i] - 1)];
                if (slot >= 0) {
                    refuse_term(Term::columns,
                                strprintf(": column %d is picked twice", chosen_[i]));
                }
                slot = static_cast<int>(i);
            }
            for (int j = 0; j < extras; ++j) {
                column_slot_[static_cast<std::size_t>(
                    table_.extra_file_columns[static_cast<std::size_t>(j)] - 1)] =
                    static_cast<int>(chosen_.size()) + j;
            }
        }
    }

    // Feeds bytes; false once enough has been read.
    bool feed(std::string_view bytes) {
        for (char c : bytes) {
            if (is_blank(c)) {
                if (in_token_ && !end_token()) {
                    return false;
                }
                if (c == '\n') {
                    end_line();
                    if (stopped_) {
                        return false;
                    }
                }
            } else {
                in_token_ = true;
                if (token_.size() < kMaxToken) {
                    token_ += c;
                } else if (will_parse()) {
                    // Garbage without end (/dev/zero): refused as soon as it
                    // is certain not to be a number.
                    refuse_token("is not a number");
                }
            }
        }
        return true;
    }

    void finish(bool exhausted) {
        // A line cut by the stop is not judged for its width.
        if (!stopped_) {
            if (in_token_) {
                end_token();
            }
            end_line();
        }
        if (exhausted) {
            exact_ = false;
        }
        complete();
    }

  private:
    int width() const {
        if (request_.width) {
            return *request_.width;
        }
        return first_width_;  // -1 until the first line ends
    }

    // The index of the next token among the values stored, or -1 when it is
    // not stored.
    bool will_parse() const {
        if (table_mode_) {
            const std::size_t index = static_cast<std::size_t>(tokens_in_line_);
            return index < column_slot_.size() && column_slot_[index] >= 0 &&
                   (!request_.rows || lines_with_tokens_ < *request_.rows);
        }
        if (!request_.rows) {
            return true;
        }
        const int w = width();
        return w < 0 || tokens_total_ < static_cast<long long>(*request_.rows) * w;
    }

    void refuse_token(const char* what) {
        long long row = 0;
        long long column = 0;
        const int w = width();
        if (table_mode_ || w < 0) {
            row = lines_with_tokens_ + 1;
            column = tokens_in_line_ + 1;
        } else {
            row = tokens_total_ / w + 1;
            column = tokens_total_ % w + 1;
        }
        std::string text =
            strprintf("Course file %s: value %lld (line %lld), \"%s\", %s (row %lld, column %lld)",
                      name_.c_str(), tokens_total_ + 1, line_, shown_token(token_).c_str(), what,
                      row, column);
        if (holds_byte_order_mark(token_)) {
            text += ": it holds a UTF-8 byte-order mark (\\xEF\\xBB\\xBF)";
        } else if (lines_with_tokens_ == 0 && tokens_total_ == 0 &&
                   std::isalpha(static_cast<unsigned char>(token_.front())) != 0 &&
                   !is_number(token_)) {
            text += "; a header row of names needs a comma, semicolon or tab separated file";
        }
        refuse(text);
    }

    bool end_token() {
        in_token_ = false;
        if (will_parse()) {
            double value = 0.0;
            if (!parse_number(token_, value)) {
                refuse_token("is not a number");
            }
            if (!std::isfinite(value)) {
                refuse_token("is not a finite number");
            }
            if (table_mode_) {
                row_[static_cast<std::size_t>(
                    column_slot_[static_cast<std::size_t>(tokens_in_line_)])] = value;
                row_stored_ = true;
            } else {
                table_.values.push_back(value);
            }
        }
        token_.clear();
        ++tokens_total_;
        ++tokens_in_line_;
        if (!request_.width && !table_mode_ && first_width_ < 0 &&
            tokens_in_line_ > request_.max_columns) {
            refuse(strprintf("Course file %s: line %lld holds more than %d numbers", name_.c_str(),
                             line_, request_.max_columns));
        }
        // Stop counting once the file is known to exceed the largest series.
        const int w = width();
        if (!table_mode_ && w > 0 &&
            tokens_total_ > (static_cast<long long>(request_.max_rows) + 1) * w) {
            stopped_ = true;
            exact_ = false;
            return false;
        }
        return true;
    }

    void end_line() {
        if (tokens_in_line_ > 0) {
            ++lines_with_tokens_;
            if (first_width_ < 0) {
                first_width_ = tokens_in_line_;
            } else if (tokens_in_line_ != first_width_ && uniform_) {
                uniform_ = false;
                first_other_line_ = line_;
                first_other_width_ = tokens_in_line_;
            }
            if (table_mode_ && !uniform_) {
                throw TermError(
                    {{std::nullopt,
                      strprintf("Course file %s: line %lld holds %d numbers, but its first line "
                                "%d; ",
                                name_.c_str(), line_, tokens_in_line_, first_width_)},
                     {Term::columns, "picking columns"},
                     {std::nullopt, " needs lines of one width"}});
            }
            if (row_stored_) {
                const auto own = row_.begin() + static_cast<std::ptrdiff_t>(chosen_.size());
                table_.values.insert(table_.values.end(), row_.begin(), own);
                table_.extra_values.insert(table_.extra_values.end(), own, row_.end());
                row_stored_ = false;
            }
            if (table_mode_ && lines_with_tokens_ > request_.max_rows) {
                stopped_ = true;
                exact_ = false;
            }
        }
        tokens_in_line_ = 0;
        ++line_;
    }

    void complete() {
        const bool shaped = uniform_ && lines_with_tokens_ >= 2 && first_width_ >= 2;
        int w = 0;
        long long rows_in_file = 0;
        if (table_mode_) {
            for (int column : table_.extra_file_columns) {
                if (column > first_width_) {
                    refuse_term(Term::threshold_columns,
                                strprintf(": column %d does not exist; the lines of %s hold %d "
                                          "numbers",
                                          column, name_.c_str(), std::max(first_width_, 0)));
                }
            }
            for (int column : chosen_) {
                if (column > first_width_) {
                    refuse_term(Term::columns,
                                strprintf(": column %d does not exist; the lines of %s hold %d "
                                          "numbers",
                                          column, name_.c_str(), std::max(first_width_, 0)));
                }
            }
            w = static_cast<int>(chosen_.size());
            if (request_.width && *request_.width != w) {
                refuse_picked_count(w, *request_.width);
            }
            rows_in_file = lines_with_tokens_;
        } else if (request_.width) {
            w = *request_.width;
            if (shaped && first_width_ != w) {
                refuse(strprintf(
                    "Course file %s holds %d numbers on each of its %s lines, but n_comp = %d: "
                    "the file is of another shape",
                    name_.c_str(), first_width_, rows_text(lines_with_tokens_, exact_).c_str(), w));
            }
            rows_in_file = tokens_total_ / w;
        } else {
            if (first_width_ < 0) {
                refuse(strprintf("Course file %s holds no numbers", name_.c_str()));
            }
            if (first_width_ == 1) {
                refuse(strprintf(
                    "Course file %s holds one number per line: give the number of components "
                    "(n_comp) to read it as a stream of rows",
                    name_.c_str()));
            }
            if (!uniform_) {
                refuse(strprintf(
                    "Course file %s: its lines hold different counts of numbers (%d on the "
                    "first, %d on line %lld): give the number of components (n_comp) to read "
                    "it as a stream of rows",
                    name_.c_str(), first_width_, first_other_width_, first_other_line_));
            }
            w = first_width_;
            rows_in_file = tokens_total_ / w;
        }
        table_.columns = w;
        table_.rows_in_file = rows_in_file;
        table_.rows_in_file_exact = exact_;
        table_.file_columns.clear();
        if (table_mode_) {
            table_.file_columns = chosen_;
        } else {
            for (int k = 1; k <= w; ++k) {
                table_.file_columns.push_back(k);
            }
            // Every column is a component: a threshold column is one of them.
            for (int column : wanted_) {
                if (column > w) {
                    refuse_term(Term::threshold_columns,
                                strprintf(": column %d does not exist; the rows of %s hold %d "
                                          "numbers",
                                          column, name_.c_str(), w));
                }
            }
            place_threshold_columns(table_.file_columns, wanted_, table_);
        }

        if (request_.rows) {
            const long long needed = static_cast<long long>(*request_.rows) * w;
            if (static_cast<long long>(table_.values.size()) < needed) {
                if (table_mode_) {
                    refuse(
                        strprintf("Course file %s holds %lld rows, but %d observations are "
                                  "needed",
                                  name_.c_str(), rows_in_file, *request_.rows));
                }
                refuse(strprintf(
                    "Course file %s holds %lld numbers, but %d observations of %d components "
                    "need %lld",
                    name_.c_str(), tokens_total_, *request_.rows, w, needed));
            }
            table_.rows = *request_.rows;
        } else {
            if (!exact_) {
                refuse(strprintf(
                    "Course file %s holds more than %d rows: give the number of observations "
                    "to read (n_oss)",
                    name_.c_str(), request_.max_rows));
            }
            if (!table_mode_ && tokens_total_ % w != 0) {
                refuse(strprintf(
                    "Course file %s holds %lld numbers, not a whole number of rows of %d: give "
                    "the number of observations to read (n_oss)",
                    name_.c_str(), tokens_total_, w));
            }
            table_.rows = static_cast<int>(rows_in_file);
        }
        table_.values.resize(static_cast<std::size_t>(table_.rows) * static_cast<std::size_t>(w));
        table_.extra_values.resize(static_cast<std::size_t>(table_.rows) *
                                   static_cast<std::size_t>(table_.extra_count()));
    }

    const TableRequest& request_;
    Table& table_;
    std::string name_;
    std::vector<int> chosen_;
    std::vector<int> wanted_;  // the threshold columns
    std::vector<int> column_slot_;
    bool table_mode_ = false;
    std::vector<double> row_;  // the chosen columns of the current line
    bool row_stored_ = false;

    std::string token_;
    bool in_token_ = false;
    long long line_ = 1;
    long long tokens_total_ = 0;
    int tokens_in_line_ = 0;
    long long lines_with_tokens_ = 0;
    int first_width_ = -1;
    bool uniform_ = true;
    long long first_other_line_ = 0;
    int first_other_width_ = 0;
    bool stopped_ = false;
    bool exact_ = true;
};

// ---------------------------------------------------------------------------
// Delimited text, parsed by libcsv.

int space_only(unsigned char c) {
    return c == ' ' ? 1 : 0;
}

class DelimitedReader {
  public:
    DelimitedReader(const TableRequest& request, Table& table, char delimiter)
        : request_(request), table_(table), name_(table.source) {
        if (csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI) != 0) {
            refuse(strprintf("File %s could not be read: out of memory", name_.c_str()));
        }
        csv_set_delim(&parser_, static_cast<unsigned char>(delimiter));
        // Blanks around an unquoted field are trimmed (libcsv's default: blank
        // and tab), but a tab that separates fields is no blank.
        if (delimiter == '\t') {
            csv_set_space_func(&parser_, space_only);
        }
        table_.format = TableFormat::delimited;
        table_.delimiter = delimiter;
    }
    ~DelimitedReader() { csv_free(&parser_); }
    DelimitedReader(const DelimitedReader&) = delete;
    DelimitedReader& operator=(const DelimitedReader&) = delete;

    // Feeds bytes; false once enough has been read.
    bool feed(std::string_view bytes) {
        std::size_t start = 0;
        while (start < bytes.size() && !stopped_) {
            // Fed line by line, so that a record's callbacks know its line.
            const std::size_t newline = bytes.find('\n', start);
            const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
            parse(bytes.substr(start, end - start));
            if (newline != std::string_view::npos) {
                ++line_;
            }
            start = end;
        }
        return !stopped_;
    }

    void finish(bool exhausted) {
        if (!stopped_) {
            if (csv_fini(&parser_, on_field, on_record, this) != 0) {
                refuse(
                    strprintf("Course file %s, row %lld, column %zu: a quoted field is not "
                              "closed",
                              name_.c_str(), record_line_or_current(), fields_used_ + 1));
            }
            if (exhausted) {
                exact_ = false;
            }
        }
        complete();
    }

  private:
    void parse(std::string_view piece) {
        if (csv_parse(&parser_, piece.data(), piece.size(), on_field, on_record, this) !=
            piece.size()) {
            if (stopped_) {
                return;
            }
            if (csv_error(&parser_) == CSV_EPARSE) {
                refuse(
                    strprintf("Course file %s, row %lld, column %zu: a quoted field is not closed "
                              "properly (a quote inside a quoted field is written twice)",
                              name_.c_str(), record_line_or_current(), fields_.size() + 1));
            }
            refuse(strprintf("Course file %s could not be read: %s", name_.c_str(),
                             csv_strerror(csv_error(&parser_))));
        }
        if (parser_.entry_pos > kMaxField) {
            refuse_long_field();
        }
    }

    long long record_line_or_current() const { return fields_used_ == 0 ? line_ : record_line_; }

    // The field under way is the one after those of its row already read.
    [[noreturn]] void refuse_long_field() const {
        refuse(strprintf("Course file %s, row %lld, column %zu: a field longer than %zu bytes",
                         name_.c_str(), record_line_or_current(), fields_used_ + 1, kMaxField));
    }

    static void on_field(void* text, std::size_t size, void* self) {
        static_cast<DelimitedReader*>(self)->field(static_cast<const char*>(text), size);
    }
    static void on_record(int, void* self) { static_cast<DelimitedReader*>(self)->record(); }

    void field(const char* text, std::size_t size) {
        if (stopped_) {
            return;
        }
        if (fields_used_ == 0) {
            record_line_ = line_;
        }
        if (size > kMaxField) {
            // Whole within one chunk: as long as one that spans chunks.
            refuse_long_field();
        }
        if (static_cast<int>(fields_.size()) >= request_.max_columns + 1) {
            refuse(strprintf("Course file %s, row %lld: more than %d columns", name_.c_str(),
                             record_line_, request_.max_columns));
        }
        const std::string_view value(text == nullptr ? "" : text, size);
        if (fields_used_ < fields_.size()) {
            fields_[fields_used_].assign(value);
        } else {
            fields_.emplace_back(value);
        }
        ++fields_used_;
    }

    void record() {
        if (stopped_) {
            return;
        }
        const std::size_t count = fields_used_;
        fields_used_ = 0;
        if (count == 0 || (count == 1 && trimmed(fields_[0]).empty())) {
            return;  // a blank line
        }
        const std::span<const std::string> fields(fields_.data(), count);
        ++records_;
        if (records_ == 1) {
            width_ = static_cast<int>(count);
            first_line_ = record_line_;
            // A header holds a name among the data columns; a first row whose
            // only text is in column 1 is a data row with a label.
            for (std::size_t i = count == 1 ? 0 : 1; i < count; ++i) {
                const std::string_view f = trimmed(fields[i]);
                if (!f.empty() && !is_number(f)) {
                    table_.has_header = true;
                }
            }
            // Numbers under a first field: a header only when that field
            // names a time axis ("date,1,2": columns named 1 and 2); otherwise
            // the first row of data with its label, said on the way.
            const std::string_view first = trimmed(fields[0]);
            if (!table_.has_header && count > 1 && !first.empty() && !is_number(first)) {
                if (is_time_name(first)) {
                    table_.has_header = true;
                } else {
                    table_.warnings.push_back(strprintf(
                        "Course file %s, row %lld: read as data, not as a header: \"%s\" as the "
                        "row's label, the rest as numbers (a header names its columns or starts "
                        "with date, time, ...)",
                        name_.c_str(), record_line_, shown_token(first).c_str()));
                }
            }
            if (table_.has_header) {
                // Names exported in a Windows code page are read as such.
                header_.clear();
                for (const std::string& f : fields) {
                    header_.push_back(utf8_from_file_text(f));
                }
                return;
            }
        }
        check_width(fields);
        if (!layout_known_) {
            decide_layout(fields);
        }
        ++data_rows_;
        if (data_rows_ > request_.max_rows) {
            stopped_ = true;
            exact_ = false;
            --data_rows_;
            return;
        }
        if (request_.rows && data_rows_ > *request_.rows) {
            return;  // counted, not read
        }
        store(fields);
    }

    std::string column_text(int file_column) const {
        if (table_.has_header && file_column >= 1 &&
            static_cast<std::size_t>(file_column) <= header_.size()) {
            const std::string& name = header_[static_cast<std::size_t>(file_column - 1)];
            if (!trimmed(name).empty()) {
                return strprintf("column %d (%s)", file_column, shown_token(trimmed(name)).c_str());
            }
        }
        return strprintf("column %d", file_column);
    }

    std::string where(int file_column) const {
        return strprintf("Course file %s, row %lld, %s", name_.c_str(), record_line_,
                         column_text(file_column).c_str());
    }

    void check_width(std::span<const std::string> fields) {
        const int count = static_cast<int>(fields.size());
        if (count < width_) {
            refuse(strprintf("%s: missing: the row has %d fields, row %lld has %d",
                             where(count + 1).c_str(), count, first_line_, width_));
        }
        if (count > width_) {
            refuse(strprintf("%s: one field too many: the row has %d fields, row %lld has %d",
                             where(width_ + 1).c_str(), count, first_line_, width_));
        }
    }

    void decide_layout(std::span<const std::string> fields) {
        layout_known_ = true;
        const std::string_view first = trimmed(fields[0]);
        if (table_.has_header) {
            const std::string_view name = trimmed(header_[0]);
            table_.has_labels = name.empty() || is_time_name(name);
            table_.label_name = std::string(name);
        }
        if (!first.empty() && !is_number(first)) {
            table_.has_labels = true;
        }
        const int first_data = table_.has_labels ? 2 : 1;
        if (request_.columns.empty()) {
            for (int c = first_data; c <= width_; ++c) {
                chosen_.push_back(c);
            }
        } else {
            for (const std::string& wanted : request_.columns) {
                chosen_.push_back(resolve(wanted, Term::columns));
            }
        }
        for (std::size_t i = 0; i < chosen_.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (chosen_[i] == chosen_[j]) {
                    refuse_term(Term::columns,
                                strprintf(": %s is picked twice", column_text(chosen_[i]).c_str()));
                }
            }
            if (table_.has_labels && chosen_[i] == 1) {
                refuse_term(Term::columns, strprintf(": %s of %s holds the row labels, not numbers",
                                                     column_text(1).c_str(), name_.c_str()));
            }
        }
        const int w = static_cast<int>(chosen_.size());
        if (w == 0) {
            refuse(strprintf("Course file %s holds no column of numbers", name_.c_str()));
        }
        if (request_.width && *request_.width != w) {
            if (request_.columns.empty()) {
                throw TermError(
                    {{std::nullopt,
                      strprintf("Course file %s holds %d columns of numbers on each row, but "
                                "n_comp = %d: the file is of another shape (pick columns with ",
                                name_.c_str(), w, *request_.width)},
                     {Term::columns, "a column list"},
                     {std::nullopt, ")"}});
            }
            refuse_picked_count(w, *request_.width);
        }
        table_.columns = w;
        table_.file_columns = chosen_;
        std::vector<int> wanted;
        for (const std::string& column : request_.threshold_columns) {
            const int c = resolve(column, Term::threshold_columns);
            if (table_.has_labels && c == 1) {
                refuse_term(Term::threshold_columns,
                            strprintf(": %s of %s holds the row labels, not numbers",
                                      column_text(1).c_str(), name_.c_str()));
            }
            wanted.push_back(c);
        }
        place_threshold_columns(chosen_, wanted, table_);
        if (table_.has_header) {
            for (int c : chosen_) {
                table_.column_names.emplace_back(trimmed(header_[static_cast<std::size_t>(c - 1)]));
            }
            for (int c : table_.extra_file_columns) {
                table_.extra_names.emplace_back(trimmed(header_[static_cast<std::size_t>(c - 1)]));
            }
        }
        if (request_.rows) {
            const auto reserve = static_cast<std::size_t>(std::min(*request_.rows, 1 << 20));
            table_.values.reserve(reserve * static_cast<std::size_t>(w));
        }
    }

    int resolve(const std::string& wanted, Term term) const {
        const std::string_view key = trimmed(wanted);
        if (table_.has_header) {
            int exact = 0;
            int matches = 0;
            for (int c = 1; c <= width_; ++c) {
                if (trimmed(header_[static_cast<std::size_t>(c - 1)]) == key) {
                    exact = exact == 0 ? c : exact;
                    ++matches;
                }
            }
            if (matches > 1) {
                refuse_term(term, strprintf(": %s names %d columns of %s; pick one by number",
                                            shown_token(key).c_str(), matches, name_.c_str()));
            }
            if (exact > 0) {
                return exact;
            }
        }
        int number = 0;
        const auto [ptr, ec] = std::from_chars(key.data(), key.data() + key.size(), number);
        if (ec == std::errc() && ptr == key.data() + key.size()) {
            if (number < 1 || number > width_) {
                refuse_term(term, strprintf(": column %d does not exist; %s has columns 1 to %d",
                                            number, name_.c_str(), width_));
            }
            return number;
        }
        std::string known;
        if (table_.has_header) {
            for (const std::string& h : header_) {
                known += (known.empty() ? "" : ", ") + shown_token(trimmed(h));
            }
            refuse_term(term, strprintf(": no column named \"%s\" in %s; its columns are %s",
                                        shown_token(key).c_str(), name_.c_str(), known.c_str()));
        }
        refuse_term(term, strprintf(": %s has no header row of names; pick its columns by number "
                                    "(\"%s\" is not one)",
                                    name_.c_str(), shown_token(key).c_str()));
    }

    void store(std::span<const std::string> fields) {
        for (int c : chosen_) {
            table_.values.push_back(cell_value(fields, c));
        }
        for (int c : table_.extra_file_columns) {
            table_.extra_values.push_back(cell_value(fields, c));
        }
        if (table_.has_labels) {
            table_.row_labels.push_back(utf8_from_file_text(trimmed(fields[0])));
        }
        table_.file_lines.push_back(static_cast<int>(std::min<long long>(record_line_, INT32_MAX)));
    }

    double cell_value(std::span<const std::string> fields, int c) const {
        const std::string_view cell = trimmed(fields[static_cast<std::size_t>(c - 1)]);
        double value = 0.0;
        if (cell.empty()) {
            refuse(
                strprintf("%s: empty cell; nothing is filled in: give the value or drop "
                          "the row",
                          where(c).c_str()));
        }
        if (is_missing_marker(cell)) {
            refuse(
                strprintf("%s: \"%s\" marks a missing value; nothing is filled in: give "
                          "the value or drop the row",
                          where(c).c_str(), shown_token(cell).c_str()));
        }
        if (!parse_number(cell, value)) {
            std::string text = strprintf("%s: \"%s\" is not a number", where(c).c_str(),
                                         shown_token(cell).c_str());
            if (holds_byte_order_mark(cell)) {
                text += ": it holds a UTF-8 byte-order mark (\\xEF\\xBB\\xBF)";
            } else if (cell.find(',') != std::string_view::npos) {
                text += " (a decimal comma? write the decimal point as '.')";
            }
            refuse(text);
        }
        if (!std::isfinite(value)) {
            refuse(strprintf("%s: \"%s\" is not a finite number", where(c).c_str(),
                             shown_token(cell).c_str()));
        }
        return value;
    }

    void complete() {
        if (records_ == 0 || (table_.has_header && records_ == 1)) {
            refuse(strprintf("Course file %s holds no rows of numbers", name_.c_str()));
        }
        table_.rows_in_file = data_rows_;
        table_.rows_in_file_exact = exact_;
        const int stored = static_cast<int>(table_.file_lines.size());
        if (request_.rows && stored < *request_.rows) {
            refuse(strprintf("Course file %s holds %lld rows, but %d observations are needed",
                             name_.c_str(), data_rows_, *request_.rows));
        }
        if (!request_.rows && !exact_) {
            refuse(strprintf(
                "Course file %s holds more than %lld rows: give the number of observations to "
                "read (n_oss)",
                name_.c_str(), data_rows_));
        }
        table_.rows = stored;
    }

    const TableRequest& request_;
    Table& table_;
    std::string name_;
    csv_parser parser_{};
    std::vector<std::string> fields_;
    std::size_t fields_used_ = 0;
    std::vector<std::string> header_;
    std::vector<int> chosen_;
    bool layout_known_ = false;
    int width_ = 0;
    long long line_ = 1;
    long long record_line_ = 1;
    long long first_line_ = 1;
    long long records_ = 0;
    long long data_rows_ = 0;
    bool stopped_ = false;
    bool exact_ = true;
};

}  // namespace

Table read_table(const TableRequest& request) {
    Table table;
    table.source = request.path.string();
    ByteSource source(request.path, request.max_bytes);
    if (request.rows && *request.rows < 1) {
        refuse(strprintf("Course file %s cannot be read as %d observations: at least 1 is needed",
                         table.source.c_str(), *request.rows));
    }
    if (request.width && (*request.width < 1 || *request.width > request.max_columns)) {
        refuse(strprintf("Course file %s cannot be read with %d components: 1 to %d can be",
                         table.source.c_str(), *request.width, request.max_columns));
    }

    // Enough of the start to see the first line that holds anything.
    std::string head;
    std::string chunk;
    bool more = true;
    while (head.size() < 4 * kChunk) {
        if (!source.next(chunk)) {
            more = false;
            break;
        }
        head += chunk;
        const std::size_t content = head.find_first_not_of(" \t\r\n\v\f");
        if (content != std::string::npos && head.find('\n', content) != std::string::npos) {
            break;
        }
    }
    std::string_view start(head);
    if (start.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        start.remove_prefix(kByteOrderMark.size());
    }
    const Detection detection = detect(start);

    auto read_all = [&](auto& reader) {
        bool wants_more = reader.feed(start);
        while (wants_more && more && source.next(chunk)) {
            wants_more = reader.feed(chunk);
        }
        reader.finish(wants_more && source.exhausted());
    };
    if (detection.format == TableFormat::white_space) {
        StreamReader reader(request, table);
        read_all(reader);
    } else {
        DelimitedReader reader(request, table, detection.delimiter);
        read_all(reader);
    }
    return table;
}

}  // namespace velmora::data
