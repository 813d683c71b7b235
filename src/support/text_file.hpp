#pragma once
// An RAII C stream for the run log and the result files. Written with printf
// formats so every line matches its documented format exactly; closed (and so
// flushed) by the destructor, also when a failure unwinds the run.
//
// A stream remembers the first write, flush or close that failed (a full
// disk, a file size limit, an I/O error) with the system's reason, so that a
// file that did not reach the disk is never reported as written.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

class TextFile {
  public:
    TextFile() = default;
    // mode is an fopen mode ("w", "a", "r"). is_open() tells whether it worked.
    TextFile(const std::filesystem::path& path, const char* mode);
    // Takes ownership of an open stream (e.g. std::tmpfile()).
    static TextFile adopt(std::FILE* stream) {
        TextFile file;
        file.file_.reset(stream);
        return file;
    }

    bool is_open() const noexcept { return file_ != nullptr; }
    std::FILE* get() const noexcept { return file_.get(); }

    // Formatted write; does nothing when the file is not open.
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void flush();
    // Flushes and closes; a failure of either is remembered. Returns whether
    // everything written since opening reached the file.
    bool close();

    // The system's reason for the first failed write, flush or close ("No
    // space left on device"); empty while nothing has failed.
    const std::string& error() const noexcept { return error_; }
    bool failed() const noexcept { return !error_.empty(); }

  private:
    void note_failure(int error_number);

    struct Closer {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::string error_;
};

// A file that could not be written whole, and the system's reason.
struct FileFailure {
    std::filesystem::path path;
    std::string reason;
};

// What stands at path when it exists and is not a regular file, for a
// message: "a directory", "a FIFO", "a character device", ...; empty when
// nothing is there or it is a regular file (a symbolic link is followed).
// Opening a FIFO would block and a device never ends, so callers refuse these.
std::string special_file_kind(const std::filesystem::path& path);

// Writes text to path in one piece, truncating the file ("w") or appending to
// it ("a"), and closes it. Returns the system's reason when the file could not
// be opened, written or closed whole; an empty string when it was.
std::string write_text_file(const std::filesystem::path& path, std::string_view text,
                            const char* mode);

// The file a name leads to once symbolic links are followed (at most 40 of
// them): the name itself when it is not a link, also when the last target
// does not exist yet.
std::filesystem::path link_target(const std::filesystem::path& path);

// Replaces the file at path with text, whole or not at all: the text goes to
// a new file beside it, which takes the name only once it is written and
// closed; on failure an earlier file at path is left as it was. A symbolic
// link at path stays a link: its target is the file replaced, the new file
// written beside the target. Returns the system's reason for a failure, an
// empty string on success.
std::string replace_text_file(const std::filesystem::path& path, std::string_view text);

}  // namespace velmora
