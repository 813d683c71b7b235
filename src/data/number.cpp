#include "data/number.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

#include "support/format.hpp"

namespace velmora::data {

namespace {

// The exponent after 'e' or 'p', saturated: the caller only needs its sign
// and rough size.
long long saturated_exponent(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        text.remove_prefix(1);
    }
    long long exponent = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), exponent);
    if (ec == std::errc::result_out_of_range) {
        exponent = 1LL << 40;
    }
    return negative ? -exponent : exponent;
}

// Whether a number too far from 1 for a double is too small (it then reads
// as zero) rather than too large: by the power of the base of its first
// nonzero digit plus the exponent, so 0.000...01 and 1000...0e-5 are judged
// by their value, not by the sign of their exponent. base_bits is 0 for
// decimal digits and 4 for hexadecimal ones (a power of two exponent).
bool is_underflow(std::string_view digits, bool hex) {
    const auto e = digits.find_first_of(hex ? "pP" : "eE");
    const std::string_view mantissa = digits.substr(0, e);
    const long long exponent =
        e == std::string_view::npos ? 0 : saturated_exponent(digits.substr(e + 1));
    const auto point = mantissa.find('.');
    const auto integer_end =
        static_cast<long long>(point == std::string_view::npos ? mantissa.size() : point);
    const auto first = mantissa.find_first_of(hex ? "123456789abcdefABCDEF" : "123456789");
    if (first == std::string_view::npos) {
        return true;
    }
    const long long position = static_cast<long long>(first);
    // Digit counts are bounded by the token's length, far from overflowing.
    const long long power =
        position < integer_end ? integer_end - position - 1 : integer_end - position;
    return (hex ? 4 * power : power) + exponent < 0;
}

bool starts_with_hex_prefix(std::string_view digits) {
    return digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
}

}  // namespace

bool parse_number(std::string_view token, double& value) {
    std::string_view digits = token;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') {
        return false;
    }
    const bool hex = starts_with_hex_prefix(digits);
    if (hex) {
        digits.remove_prefix(2);
        // from_chars would take a second sign or prefix after "0x".
        if (digits.empty() || digits.front() == '+' || digits.front() == '-' ||
            starts_with_hex_prefix(digits)) {
            return false;
        }
    }
    const char* const end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(
        digits.data(), end, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (ptr != end) {
        return false;
    }
    if (ec == std::errc::result_out_of_range) {
        // Too small a magnitude reads as zero, as "%le" had it; too large a
        // one becomes infinite and is refused as not finite by the caller.
        value = is_underflow(digits, hex) ? 0.0 : HUGE_VAL;
    } else if (ec != std::errc()) {
        return false;
    }
    if (negative) {
        value = -value;
    }
    return true;
}

bool holds_byte_order_mark(std::string_view token) {
    return token.find(kByteOrderMark) != std::string_view::npos;
}

std::string shown_token(std::string_view token) {
    constexpr std::size_t limit = 40;
    const bool cut = token.size() > limit;
    const std::string_view shown = cut ? token.substr(0, limit) : token;
    std::string out;
    out.reserve(shown.size() + 8);
    std::size_t i = 0;
    while (i < shown.size()) {
        const auto c = static_cast<unsigned char>(shown[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence of a printable character passes as it
        // is, so names such as "Zürich" read naturally; the byte-order mark
        // and the C1 controls (U+0080..U+009F) do not.
        std::size_t length = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
        }
        bool printable = length > 0 && i + length <= shown.size();
        for (std::size_t k = 1; printable && k < length; ++k) {
            printable = (static_cast<unsigned char>(shown[i + k]) & 0xc0) == 0x80;
        }
        if (printable && c == 0xc2 && static_cast<unsigned char>(shown[i + 1]) < 0xa0) {
            printable = false;
        }
        if (printable && shown.substr(i, length) == kByteOrderMark) {
            printable = false;
        }
        if (printable) {
            out.append(shown.substr(i, length));
            i += length;
        } else {
            out += strprintf("\\x%02X", c);
            ++i;
        }
    }
    if (cut) {
        out += "...";
    }
    return out;
}

}  // namespace velmora::data
