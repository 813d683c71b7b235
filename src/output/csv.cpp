#include "output/csv.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

std::string csv_number(double value) {
    if (!std::isfinite(value)) {
        return {};
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

void check_creatable(const std::filesystem::path& path, const std::string& what) {
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (f == nullptr) {
        throw ConfigError(strprintf("%s %s could not be created", what.c_str(), path.c_str()));
    }
    std::fclose(f);
    if (!existed) {
        std::filesystem::remove(path, ec);
    }
}

CsvFile::CsvFile(const std::filesystem::path& path, std::string what)
    : path_(path), what_(std::move(what)), file_(std::fopen(path.c_str(), "w")) {
    if (!file_) {
        throw ConfigError(
            strprintf("%s %s could not be created", what_.c_str(), path_.string().c_str()));
    }
}

void CsvFile::line(std::string_view text) {
    if (!file_) {
        return;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size() ||
        std::fputc('\n', file_.get()) == EOF) {
        note_failure(errno);
    }
}

void CsvFile::note_failure(int error_number) {
    if (!failed_) {
        failed_ = true;
        reason_ = std::strerror(error_number != 0 ? error_number : EIO);
    }
}

std::string CsvFile::close() {
    if (file_) {
        errno = 0;
        if (std::fflush(file_.get()) != 0 || std::ferror(file_.get()) != 0) {
            note_failure(errno);
        }
        errno = 0;
        if (std::fclose(file_.release()) != 0) {
            note_failure(errno);
        }
    }
    return reason_;
}

}  // namespace velmora
