#pragma once
// Helpers shared by the test files: a private temporary directory per test,
// reading and writing whole files, the sample series, and running the built
// command line.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/console.hpp"

namespace velmora::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes out of scope.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a temporary directory";
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// The lines of a text, without their line ends; a last line without a line
// end is kept.
inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> read_lines(const std::filesystem::path& path) {
    return split_lines(read_file(path));
}

// The fields of one CSV line (no quoting); a trailing comma ends with an
// empty field.
inline std::vector<std::string> csv_fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == ',') {
        fields.emplace_back();
    }
    return fields;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// How often part occurs in text (overlapping occurrences count).
inline int count_of(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

#ifdef VELMORA_SOURCE_DIR
// The sample series that comes with the sources (white-space course file).
inline const std::string& sample_series() {
    static const std::string path =
        (std::filesystem::path(VELMORA_SOURCE_DIR) / "data" / "eustockmarkets_returns.txt")
            .string();
    return path;
}
#endif

// Wraps text in single quotes for the shell.
inline std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// A Console that keeps what the core writes, for comparison.
class RecordingConsole final : public Console {
  public:
    void out(std::string_view text) override { out_text.append(text); }
    void err(std::string_view text) override { err_text.append(text); }
    std::string out_text;
    std::string err_text;
};

struct CommandResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs a shell command line in directory cwd, capturing both streams in files
// of scratch (which must exist).
inline CommandResult run_command(const std::string& command_line, const std::filesystem::path& cwd,
                                 const std::filesystem::path& scratch) {
    const auto out_path = scratch / "captured-stdout.txt";
    const auto err_path = scratch / "captured-stderr.txt";
    const std::string full = "cd " + shell_quote(cwd.string()) + " && " + command_line + " >" +
                             shell_quote(out_path.string()) + " 2>" +
                             shell_quote(err_path.string()) + " </dev/null";
    const int raw = std::system(full.c_str());
    CommandResult result;
    if (raw != -1 && WIFEXITED(raw)) {
        result.status = WEXITSTATUS(raw);
    }
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    std::error_code ec;
    std::filesystem::remove(out_path, ec);
    std::filesystem::remove(err_path, ec);
    return result;
}

#ifdef VELMORA_CLI_PATH
// Runs the built command line with these arguments (already quoted for the
// shell) in dir, capturing both streams there.
inline CommandResult run_cli(const std::string& arguments, const TempDir& dir) {
    return run_command(shell_quote(VELMORA_CLI_PATH) + " " + arguments, dir.path(), dir.path());
}
#endif

}  // namespace velmora::testing
