#pragma once
// Numbers and text as a series file holds them: the number syntax the course
// file has always accepted, and tokens made safe to show in a message.

#include <string>
#include <string_view>

namespace velmora::data {

// Parses the whole token as a number the way "%le" reads one: an optional
// sign, then a decimal number with an optional exponent, a hexadecimal one
// ("0x1p-3"), or inf/nan. Independent of the locale. A magnitude too small
// for a double reads as a signed zero, one too large as an infinity. Returns
// false when the token is not wholly a number.
bool parse_number(std::string_view token, double& value);

// The token as a message may show it: bytes that a terminal would act on
// (control characters, DEL, C1 controls, malformed UTF-8) become \xNN, a
// UTF-8 byte-order mark becomes \xEF\xBB\xBF, and a long token is cut to
// its first 40 bytes followed by "...".
std::string shown_token(std::string_view token);

// The same escaping, whole (not cut): text from the data (a name, a label, a
// file name) as a line on a terminal may show it.
std::string shown_text(std::string_view text);

// Text read from a file: as it is when it is valid UTF-8; otherwise each byte
// taken as Windows-1252 (Latin-1 with its printable 0x80..0x9F), converted to
// UTF-8 ("Z\xFCrich" becomes "Zürich"); the five bytes that code page leaves
// undefined become U+FFFD.
std::string utf8_from_file_text(std::string_view text);

// Whether the token holds a UTF-8 byte-order mark (EF BB BF) anywhere.
bool holds_byte_order_mark(std::string_view token);

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace velmora::data
