#pragma once
// One row per job for DIR/summary.csv and DIR/summary.json, read from the
// job's own JSON so that keys a command gains later reach the summary without
// the batch knowing how they were computed. The rows hold no timings, so two
// batches over the same jobs compare byte for byte.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace velmora::batch {

// The columns of summary.csv, in order; each is also a key of a row.
const std::vector<std::string>& summary_columns();

// A job's row: its name and command ("run" or "fit"), its exit status and
// message. `result` is the job's JSON when it wrote one (null otherwise);
// the model columns come from it: the refined model of a run (its best model
// without refinement), the model of a fit. `seed` is the seed the job ran with.
nlohmann::json job_row(const std::string& name, const std::string& command, int exit_status,
                       const std::string& message, const std::string& seed,
                       const nlohmann::json& result);

// The header line and one line of summary.csv, each ending with a newline.
std::string summary_csv_header();
std::string summary_csv_line(const nlohmann::json& row);

// The whole summary.csv for rows in the jobs file's order.
std::string summary_csv(const std::vector<nlohmann::json>& rows);

// summary.json: `jobs` (the rows in the jobs file's order), `ran` (jobs run
// by this batch), `kept` (jobs skipped by --resume because they were
// complete) and `failed` (jobs run whose status was not 0).
nlohmann::json summary_json(const std::vector<nlohmann::json>& rows, int ran, int kept, int failed);

}  // namespace velmora::batch
