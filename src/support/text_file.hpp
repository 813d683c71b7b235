#pragma once
// An RAII C stream for the run log and the result files. Written with printf
// formats so every line matches its documented format exactly; closed (and so
// flushed) by the destructor, also when a failure unwinds the run.

#include <cstdio>
#include <filesystem>
#include <memory>

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
    void close() { file_.reset(); }

  private:
    struct Closer {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace velmora
