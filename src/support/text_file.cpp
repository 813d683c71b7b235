#include "support/text_file.hpp"

#include <cstdarg>

namespace velmora {

TextFile::TextFile(const std::filesystem::path& path, const char* mode)
    : file_(std::fopen(path.c_str(), mode)) {}

void TextFile::printf(const char* format, ...) {
    if (!file_) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    std::vfprintf(file_.get(), format, args);
    va_end(args);
}

void TextFile::flush() {
    if (file_) {
        std::fflush(file_.get());
    }
}

}  // namespace velmora
