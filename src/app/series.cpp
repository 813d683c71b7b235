#include "app/series.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

bool is_blank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Whether a decimal number too far from 1 for a double is too small (it then
// reads as zero) rather than too large: by the power of ten of its first
// nonzero digit, so that 0.000...01 and 1000...0e-5 are judged by their value,
// not by the sign of their exponent.
bool is_underflow(std::string_view digits) {
    const auto e = digits.find_first_of("eE");
    const std::string_view mantissa = digits.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view text = digits.substr(e + 1);
        const bool negative = !text.empty() && text.front() == '-';
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            text.remove_prefix(1);
        }
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), exponent);
        if (ec == std::errc::result_out_of_range) {
            return negative;
        }
        if (negative) {
            exponent = -exponent;
        }
    }
    const auto point = mantissa.find('.');
    const auto integer_end =
        static_cast<long long>(point == std::string_view::npos ? mantissa.size() : point);
    const auto first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) {
        return true;
    }
    const long long position = static_cast<long long>(first);
    // Digit counts are bounded by the file size, far from overflowing.
    const long long power =
        position < integer_end ? integer_end - position - 1 : integer_end - position;
    return power + exponent < 0;
}

// Parses the whole token as a decimal number. std::from_chars does not depend
// on the locale (the desktop program may run under a locale whose decimal
// separator is a comma), but it refuses a leading '+', which "%le" accepted.
bool parse_number(std::string_view token, double& value) {
    std::string_view digits = token;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
            return false;
        }
    }
    if (digits.empty()) {
        return false;
    }
    const char* const end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (ptr != end) {
        return false;
    }
    if (ec == std::errc::result_out_of_range) {
        // Too small a magnitude reads as zero, as "%le" had it; too large a
        // one becomes infinite and is refused as not finite.
        const bool underflow = is_underflow(digits);
        const bool negative = digits.front() == '-';
        value = underflow ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
        return true;
    }
    return ec == std::errc();
}

// Long garbage (a binary file opened by mistake) must not flood the message.
std::string shown_token(std::string_view token) {
    constexpr std::size_t limit = 40;
    if (token.size() <= limit) {
        return std::string(token);
    }
    return std::string(token.substr(0, limit)) + "...";
}

}  // namespace

double_matrix read_course_file(const std::filesystem::path& path, int n_oss, int n_comp) {
    const std::string name = path.string();
    std::error_code ec;
    std::ifstream in;
    if (!std::filesystem::is_directory(path, ec)) {
        in.open(path, std::ios::binary);
    }
    if (!in.is_open()) {
        throw ConfigError(strprintf("File %s could not be opened", name.c_str()));
    }
    if (n_oss < 1 || n_comp < 1) {
        throw ConfigError(strprintf(
            "Course file %s cannot be read as %d observations of %d components: both must be "
            "at least 1",
            name.c_str(), n_oss, n_comp));
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw ConfigError(strprintf("File %s could not be read", name.c_str()));
    }

    const long long needed = static_cast<long long>(n_oss) * n_comp;
    // The numbers are collected before the matrix is allocated, so a short file
    // never costs a matrix sized for the observations it lacks.
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(std::min<long long>(needed, 1 + text.size() / 2)));
    long long count = 0;
    long long line = 1;
    std::size_t pos = 0;
    while (count < needed) {
        while (pos < text.size() && is_blank(text[pos])) {
            if (text[pos] == '\n') {
                ++line;
            }
            ++pos;
        }
        if (pos >= text.size()) {
            break;
        }
        const std::size_t start = pos;
        while (pos < text.size() && !is_blank(text[pos])) {
            ++pos;
        }
        const std::string_view token(text.data() + start, pos - start);
        const long long number = count + 1;
        double value = 0.0;
        if (!parse_number(token, value)) {
            throw ConfigError(
                strprintf("Course file %s: value %lld (line %lld), \"%s\", is not a "
                          "number",
                          name.c_str(), number, line, shown_token(token).c_str()));
        }
        if (!std::isfinite(value)) {
            throw ConfigError(
                strprintf("Course file %s: value %lld (line %lld), \"%s\", is not a "
                          "finite number",
                          name.c_str(), number, line, shown_token(token).c_str()));
        }
        values.push_back(value);
        ++count;
    }
    if (count < needed) {
        throw ConfigError(strprintf(
            "Course file %s holds %lld numbers, but %d observations of %d components need %lld",
            name.c_str(), count, n_oss, n_comp, needed));
    }
    double_matrix serie(1, n_oss, 1, n_comp);
    std::size_t next = 0;
    for (int t = 1; t <= n_oss; ++t) {
        for (int k = 1; k <= n_comp; ++k) {
            serie[t][k] = values[next++];
        }
    }
    return serie;
}

}  // namespace velmora
