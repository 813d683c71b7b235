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

namespace {

// Length of the multi-byte sequence that the lead byte text[i] starts, when
// all its continuation bytes follow; 0 for a single byte, a byte that leads
// no sequence or a cut one. The code point itself is not looked at.
std::size_t multibyte_length(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (c >= 0xc2 && c <= 0xdf) {
        length = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        length = 3;
    } else if (c >= 0xf0 && c <= 0xf4) {
        length = 4;
    }
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t utf8_sequence(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        return 1;
    }
    const std::size_t length = multibyte_length(text, i);
    if (length == 0) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(text[i + 1]);
    // Overlong forms, surrogates and code points above U+10FFFF.
    if ((c == 0xe0 && second < 0xa0) || (c == 0xed && second > 0x9f) ||
        (c == 0xf0 && second < 0x90) || (c == 0xf4 && second > 0x8f)) {
        return 0;
    }
    return length;
}

void append_utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// Windows-1252 at 0x80..0x9F; 0xFFFD where the code page defines nothing.
constexpr unsigned kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

std::string utf8_from_file_text(std::string_view text) {
    bool valid = true;
    for (std::size_t i = 0; i < text.size() && valid;) {
        const std::size_t length = utf8_sequence(text, i);
        valid = length > 0;
        i += length;
    }
    if (valid) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        append_utf8(out, c >= 0x80 && c < 0xa0 ? kWindows1252High[c - 0x80] : c);
    }
    return out;
}

std::string shown_token(std::string_view token) {
    constexpr std::size_t limit = 40;
    const bool cut = token.size() > limit;
    std::string out = shown_text(cut ? token.substr(0, limit) : token);
    if (cut) {
        out += "...";
    }
    return out;
}

std::string shown_text(std::string_view shown) {
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
        const std::size_t length = multibyte_length(shown, i);
        bool printable = length > 0;
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
    return out;
}

}  // namespace velmora::data
