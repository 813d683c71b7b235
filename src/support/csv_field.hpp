#pragma once
// A text field of a CSV file, for every folder that writes one.

#include <string>
#include <string_view>

namespace velmora {

// The text as it stands, or quoted (inner quotes doubled) when it holds a
// comma, a quote or a line break.
std::string csv_text(std::string_view text);

}  // namespace velmora
