#pragma once
// The course of a search as a CSV file: one row per generation and
// replication, written as the run goes on, so a stopped or failed run keeps
// the rows of the generations it bred.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "app/run_driver.hpp"
#include "output/csv.hpp"

namespace velmora {

class HistoryCsv {
  public:
    // The file is created, with its header, when the first generation is
    // bred (or at close, for a run that breeds none): a run refused before
    // its search leaves an earlier file of that name as it was.
    explicit HistoryCsv(std::filesystem::path path) : path_(std::move(path)) {}

    // One row for a generation just bred (RunOptions::generation_bred).
    // Throws ConfigError when the file cannot be created.
    void add(const RunProgress& bred);

    // The system's reason when a row was lost; empty when all reached the
    // file. Throws ConfigError when the file cannot be created.
    std::string close();

    static const char* header();

  private:
    CsvFile& file();

    std::filesystem::path path_;
    std::optional<CsvFile> file_;
};

}  // namespace velmora
