#pragma once
// The ranks of an MPI launch (mpirun, srun), for `velmora batch`. MPI is
// initialised only when a launcher started the process, so that a plain run
// pays nothing for it and needs no MPI daemon; without MPI support compiled
// in, a launch by mpirun is refused instead of running every job once per
// rank.
//
// Waiting is done by probing and sleeping, not in MPI's blocking calls, which
// spin on a core that the ranks' jobs need.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace velmora::cli {

// The pauses between probes of one wait: short at first, for a reply that
// comes at once (a rank's next job, the results of a step whose shares ended
// together), then longer, so that a rank waiting long for another costs the
// core it shares with its jobs almost nothing.
class ProbePauses {
  public:
    void pause();
    // After something arrived: the next wait starts short again.
    void reset() noexcept { pause_ = kShortest; }

  private:
    static constexpr std::chrono::microseconds kShortest{25};
    static constexpr std::chrono::microseconds kLongest{2000};
    std::chrono::microseconds pause_ = kShortest;
};

class MpiSession {
  public:
    // Whether an MPI launcher started this process (Open MPI's, PMI's or
    // PMIx's variables in the environment).
    static bool launched();
    // How many ranks of the launch run on this node (1 without a launcher).
    static int local_ranks();
    // The cores one rank's work may use: those the launcher bound it to (or
    // taskset allowed), but no more than its share of the node's cores.
    static int cores_per_rank();

    // Initialises MPI; throws ConfigError when velmora was built without it.
    MpiSession();
    ~MpiSession();
    MpiSession(const MpiSession&) = delete;
    MpiSession& operator=(const MpiSession&) = delete;

    int rank() const noexcept { return rank_; }
    int size() const noexcept { return size_; }

    struct Message {
        int source = 0;
        std::string text;
    };
    void send(int destination, int tag, const std::string& text);
    // A message with this tag from any rank, when one has arrived.
    std::optional<Message> try_receive(int tag);
    // Waits for a message with this tag from source.
    std::string receive(int source, int tag);
    // Rank 0's value on every rank.
    int broadcast(int value);

  private:
    int rank_ = 0;
    int size_ = 1;
};

}  // namespace velmora::cli
