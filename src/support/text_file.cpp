#include "support/text_file.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace velmora {

TextFile::TextFile(const std::filesystem::path& path, const char* mode)
    : file_(std::fopen(path.c_str(), mode)) {}

void TextFile::note_failure(int error_number) {
    if (error_.empty()) {
        error_ = std::strerror(error_number != 0 ? error_number : EIO);
    }
}

void TextFile::printf(const char* format, ...) {
    if (!file_) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    errno = 0;
    const int written = std::vfprintf(file_.get(), format, args);
    const int error_number = errno;
    va_end(args);
    if (written < 0) {
        note_failure(error_number);
    }
}

void TextFile::flush() {
    if (file_) {
        errno = 0;
        if (std::fflush(file_.get()) != 0) {
            note_failure(errno);
        }
    }
}

bool TextFile::close() {
    if (file_) {
        flush();
        errno = 0;
        // The stream is gone whatever fclose says; only its verdict is kept.
        if (std::fclose(file_.release()) != 0) {
            note_failure(errno);
        }
    }
    return !failed();
}

std::string special_file_kind(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    switch (status.type()) {
        case fs::file_type::not_found:
        case fs::file_type::none:
        case fs::file_type::regular:
            return {};
        case fs::file_type::directory:
            return "a directory";
        case fs::file_type::fifo:
            return "a FIFO";
        case fs::file_type::character:
            return "a character device";
        case fs::file_type::block:
            return "a block device";
        case fs::file_type::socket:
            return "a socket";
        default:
            // Unknown, or a status that could not be read: not a plain file
            // that a run can safely open.
            return ec ? std::string() : std::string("not a regular file");
    }
}

std::string write_text_file(const std::filesystem::path& path, std::string_view text,
                            const char* mode) {
    errno = 0;
    TextFile file(path, mode);
    if (!file.is_open()) {
        return std::strerror(errno != 0 ? errno : EIO);
    }
    if (!text.empty()) {
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) {
            const int error_number = errno != 0 ? errno : EIO;
            file.close();
            return std::strerror(error_number);
        }
    }
    file.close();
    return file.error();
}

}  // namespace velmora

namespace velmora {

std::filesystem::path link_target(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    fs::path at = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(at, ec)); ++hops) {
        const fs::path target = fs::read_symlink(at, ec);
        if (ec) {
            break;
        }
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return at;
}

std::string replace_text_file(const std::filesystem::path& name, std::string_view text) {
    // Renaming onto a link would replace the link and leave its target stale.
    const std::filesystem::path path = link_target(name);
    std::filesystem::path partial = path;
    partial += ".partial";
    std::string reason = write_text_file(partial, text, "w");
    if (reason.empty()) {
        std::error_code ec;
        std::filesystem::rename(partial, path, ec);
        if (ec) {
            reason = ec.message();
        }
    }
    if (!reason.empty()) {
        std::error_code ec;
        std::filesystem::remove(partial, ec);
    }
    return reason;
}

}  // namespace velmora
