#pragma once
// The course of a search as a CSV file: one row per generation and
// replication, written as the run goes on, so a stopped or failed run keeps
// the rows of the generations it bred.

#include <filesystem>

#include "app/run_driver.hpp"
#include "output/csv.hpp"

namespace velmora {

class HistoryCsv {
  public:
    // Creates the file and writes the header; throws ConfigError when it
    // cannot be created.
    explicit HistoryCsv(const std::filesystem::path& path);

    // One row for a generation just bred (RunOptions::generation_bred).
    void add(const RunProgress& bred);

    // The system's reason when a row was lost; empty when all reached the file.
    std::string close() { return file_.close(); }

    static const char* header();

  private:
    CsvFile file_;
};

}  // namespace velmora
