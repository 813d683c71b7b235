#pragma once
// One `velmora run` or `fit` under mpirun or srun: every rank follows the
// command's whole course (the search, the fit and its checks are cheap and
// deterministic), and the heavy steps' tasks (bootstrap replicates, impulse
// responses' histories, rolling origins, replications) are shared out: each
// rank starts on a fixed first chunk and then claims more from rank 0 as it
// gets through them, rank 0 gathers the results and sends all of them to
// every rank, so that every rank goes on with the same values. Only rank 0 writes the command's
// files and lines; the others write theirs into a scratch folder they delete, and say nothing.
//
// A task's failure, or a stop request on any rank, reaches every rank alike
// (rank 0 stops as if it had received SIGINT itself). When rank 0 ends the
// command on its own (a file it alone could not write), the others leave at
// their next shared step with its exit status; when another rank leaves on
// its own, rank 0 computes that rank's share from then on.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/mpi_session.hpp"
#include "forecast/analysis.hpp"
#include "rolling/rolling.hpp"
#include "support/executor.hpp"

namespace velmora::cli {

class StepTasks;

class MpiExecutor final : public TaskExecutor {
  public:
    explicit MpiExecutor(MpiSession& session);

    TaskResults run(long long count, int threads, const SerialTask& task,
                    const SimulationProgress& progress) override;

    // The command's end. Rank 0 tells every rank its exit status and waits
    // until each has left; another rank leaves and returns rank 0's status.
    int finish(int status);

  private:
    // Rank 0: every rank's share (claims for more answered meanwhile), the
    // tasks of ranks that left done here, and the whole sent to every rank.
    TaskResults gather(StepTasks& tasks, long long count, int threads, const SerialTask& task,
                       const std::string& own_share);
    TaskResults outcome_of(long long count, const std::string& message);

    MpiSession& session_;
    std::vector<char> gone_;  // rank 0: ranks that left before the end
    bool ended_ = false;      // another rank: rank 0 has ended the command
    bool left_ = false;
    int final_status_ = 0;
};

// Thrown on a rank other than 0 once rank 0 has ended the command: it is no
// std::exception, so that a step's own failure handling lets it through.
struct CommandEnded {
    int status = 0;
};

// Where a run or fit writes, and how its heavy steps run.
struct Spread {
    TaskExecutor* executor = nullptr;  // null: this process's threads
    bool writes = true;                // false: write into scratch instead
    std::filesystem::path scratch;     // the scratch folder when !writes
    // The path, or one inside the scratch folder when this rank does not write.
    std::string place(const std::string& path) const;
};

// Moves the analysis' and the rolling evaluation's files into the scratch
// folder when this rank does not write.
void relocate_outputs(AnalysisRequest& analysis, rolling::RollingRequest& rolling,
                      const Spread& spread);

// Runs a run or fit command: under an MPI launcher (not inside a batch's
// job) spread over the ranks, otherwise as it is. Returns the exit status.
int run_spread(const std::function<int(const Spread&)>& command);

}  // namespace velmora::cli
