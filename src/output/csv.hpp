#pragma once
// Small pieces shared by the CSV files Velmora writes for scripts and
// spreadsheets: numbers in their shortest exact form, a quoted field, and a
// file whose write errors are reported instead of lost.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "support/csv_field.hpp"

namespace velmora {

// The shortest decimal that reads back as the same double ("0.1", "-2.6326");
// an empty field for a value that is not finite, which spreadsheets read as
// missing.
std::string csv_number(double value);

// Throws ConfigError("<what> <path> could not be created") unless a file can
// be created at path; a file that did not exist before is removed again.
void check_creatable(const std::filesystem::path& path, const std::string& what);

// A CSV file opened for writing (truncated). `what` names the file in
// messages, e.g. "History file"; a file that cannot be created is a
// ConfigError whose text names it.
class CsvFile {
  public:
    CsvFile(const std::filesystem::path& path, std::string what);
    CsvFile(CsvFile&&) noexcept = default;
    CsvFile& operator=(CsvFile&&) noexcept = default;

    // One line; the newline is added.
    void line(std::string_view text);
    // Flushes and closes; returns the system's reason when anything written
    // was lost, an empty string when all of it reached the file.
    std::string close();

    const std::filesystem::path& path() const noexcept { return path_; }

  private:
    struct Closer {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    std::filesystem::path path_;
    std::string what_;
    std::unique_ptr<std::FILE, Closer> file_;
    bool failed_ = false;
    std::string reason_;  // the system's reason for the first failure
    void note_failure(int error_number);
};

}  // namespace velmora
