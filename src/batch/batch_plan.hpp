#pragma once
// What a batch does with each job: the child process of the same velmora
// binary that runs it (so a job that runs out of memory or dies of a signal
// fails alone), the folder it writes, and the row it leaves for the summary.
//
// A job's folder OUT/NAME holds its usual files, its standard output and
// standard error (stdout.txt, stderr.txt) and, when it exited 0, result.json:
// the job's JSON, written by the job beside (job.json) and renamed in once the
// job has exited, so that result.json exists only for a complete job. A folder
// without it is cleared before its job runs again (the result files are
// appended to, so a half-written folder would otherwise add to them).

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "batch/jobs_file.hpp"

namespace velmora::batch {

struct BatchSettings {
    std::filesystem::path jobs_file;  // absolute
    std::filesystem::path out;        // absolute
    std::filesystem::path program;    // the velmora binary that runs each job
    std::uint64_t seed = 0;
    int threads = 1;
    bool resume = false;
    // Where the jobs' charts go, one folder per job (CHARTS/NAME); empty:
    // only jobs that ask for charts themselves draw any.
    std::filesystem::path charts;  // absolute
};

inline constexpr const char* kResultFile = "result.json";

class BatchPlan {
  public:
    BatchPlan(BatchSettings settings, std::vector<Job> jobs);

    const BatchSettings& settings() const noexcept { return settings_; }
    const std::vector<Job>& jobs() const noexcept { return jobs_; }
    int size() const noexcept { return static_cast<int>(jobs_.size()); }

    std::filesystem::path folder(int index) const;
    // The seed the job runs with: its own --seed, else the derived one.
    std::string seed_of(int index) const;
    // The arguments after the program's name: the command, the job's own
    // arguments, then --workdir, --threads, --json and (without one of the
    // job's own) --seed and, when the batch draws charts, --charts. Relative paths of the job are
    // taken from the jobs file's folder, where the child starts; --workdir is given relative to it
    // too, so the files' names in the job's outputs do not depend on where the whole tree lies.
    std::vector<std::string> child_arguments(int index) const;

    // Whether the job's folder holds a complete result.
    bool complete(int index) const;
    // The row of a complete job, read from its result.json.
    nlohmann::json complete_row(int index) const;

  private:
    BatchSettings settings_;
    std::vector<Job> jobs_;
    std::filesystem::path jobs_dir_;
    std::filesystem::path out_from_jobs_dir_;
    std::filesystem::path charts_from_jobs_dir_;
};

// One job's child process. The constructor clears the job's folder and starts
// the child; a child that cannot be started is a failed job, not an error of
// the batch.
class RunningJob {
  public:
    RunningJob(const BatchPlan& plan, int index);
    ~RunningJob();
    RunningJob(const RunningJob&) = delete;
    RunningJob& operator=(const RunningJob&) = delete;

    int index() const noexcept { return index_; }
    // True once the child has ended (without blocking).
    bool poll();
    // Waits for the child to end.
    void wait();
    // After the child has ended: renames the JSON into result.json when the
    // job exited 0 and returns the job's row.
    nlohmann::json finish();

  private:
    void reap(int wait_status);

    const BatchPlan& plan_;
    int index_;
    pid_t pid_ = -1;
    bool ended_ = true;
    int exit_status_ = 1;
    std::string message_;
};

// Runs the jobs at indices one after the other in this process, calling
// on_row with each job's index and row as it ends.
void run_jobs(const BatchPlan& plan, const std::vector<int>& indices,
              const std::function<void(int, const nlohmann::json&)>& on_row);

// The summary files, for the batch's rank 0. The CSV grows row by row while
// jobs end (in the order they end); at the end both files are written whole
// beside their place and renamed in, the rows in the jobs file's order.
class SummaryWriter {
  public:
    explicit SummaryWriter(const std::filesystem::path& out);
    // Starts summary.csv anew with its header.
    void start();
    void append(const nlohmann::json& row);
    // Writes both files whole. Returns the system's reason for a failure,
    // empty on success.
    std::string finish(const std::vector<nlohmann::json>& rows, int ran, int kept, int failed);

  private:
    std::filesystem::path out_;
};

}  // namespace velmora::batch
