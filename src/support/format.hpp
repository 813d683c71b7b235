#pragma once
// printf-style formatting into std::string: the report and log formats are
// printf formats, and reproducing them exactly is easiest with printf itself.

#include <cstdarg>
#include <string>

namespace velmora {

std::string strprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vstrprintf(const char* format, std::va_list args);

}  // namespace velmora
