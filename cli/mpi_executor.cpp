#include "cli/mpi_executor.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>
#include <system_error>

#include "cli/commands.hpp"
#include "support/errors.hpp"

namespace velmora::cli {

namespace {

constexpr int kTagShare = 11;    // to rank 0: a rank's share of a step, or its leaving
constexpr int kTagOutcome = 12;  // from rank 0: a step's results, or the command's end

constexpr char kShare = 'S';
constexpr char kLeaving = 'L';
constexpr char kResults = 'R';
constexpr char kEnd = 'E';

std::string tagged(char tag, std::string body = {}) {
    return std::string(1, tag) + body;
}

}  // namespace

MpiExecutor::MpiExecutor(MpiSession& session)
    : session_(session), gone_(static_cast<std::size_t>(session.size()), 0) {}

// A share, as a rank sends it: whether it stopped, its failure, then its
// results (index, bytes). Rank 0's merged outcome has the same form.
TaskResults MpiExecutor::run(long long count, int threads, const SerialTask& task,
                             const SimulationProgress& progress) {
    if (ended_) {
        throw CommandEnded{final_status_};
    }
    const int ranks = session_.size();
    const int rank = session_.rank();
    std::vector<long long> share;
    for (long long i = rank; i < count; i += ranks) {
        share.push_back(i);
    }
    const long long own = static_cast<long long>(share.size());
    ThreadExecutor local;
    TaskResults mine;
    std::exception_ptr failure;
    try {
        mine = local.run(
            own, threads,
            [&](long long j, int worker) {
                return task(share[static_cast<std::size_t>(j)], worker);
            },
            [&](long long done, long long) {
                // Rank 0's line shows its own share's course over the whole.
                return !progress || progress(own == 0 ? count : done * count / own, count);
            });
    } catch (...) {
        failure = std::current_exception();
    }
    ByteWriter out;
    out.u64(!failure && !mine.completed ? 1 : 0);
    write_failure(out, failure);
    std::uint64_t ran = 0;
    for (const char r : mine.ran) {
        ran += r != 0 ? 1 : 0;
    }
    out.u64(ran);
    for (long long j = 0; j < static_cast<long long>(mine.ran.size()); ++j) {
        if (mine.ran[static_cast<std::size_t>(j)] != 0) {
            out.u64(static_cast<std::uint64_t>(share[static_cast<std::size_t>(j)]));
            out.text(mine.results[static_cast<std::size_t>(j)]);
        }
    }
    if (rank != 0) {
        session_.send(0, kTagShare, tagged(kShare, std::move(out.bytes())));
        const std::string message = session_.receive(0, kTagOutcome);
        if (message.empty() || message[0] == kEnd) {
            ended_ = true;
            final_status_ = message.size() > 1 ? std::atoi(message.c_str() + 1) : 1;
            throw CommandEnded{final_status_};
        }
        return outcome_of(count, message);
    }
    return gather(count, threads, task, std::move(out.bytes()));
}

TaskResults MpiExecutor::gather(long long count, int threads, const SerialTask& task,
                                const std::string& own_share) {
    const std::size_t n = static_cast<std::size_t>(count);
    std::vector<std::string> results(n);
    std::vector<char> ran(n, 0);
    bool stopped = false;
    std::exception_ptr failure;
    auto merge = [&](const std::string& share) {
        ByteReader in(share);
        stopped = in.u64() != 0 || stopped;
        const std::exception_ptr f = read_failure(in);
        if (!failure) {
            failure = f;
        }
        for (std::uint64_t e = in.u64(); e > 0; --e) {
            const std::uint64_t i = in.u64();
            if (i >= n) {
                throw std::invalid_argument("A rank sent a result of a task that does not exist");
            }
            results[i] = in.text();
            ran[i] = 1;
        }
    };
    merge(own_share);
    const bool stopped_here = stopped;
    const int ranks = session_.size();
    for (int r = 1; r < ranks; ++r) {
        if (gone_[static_cast<std::size_t>(r)] != 0) {
            continue;
        }
        const std::string message = session_.receive(r, kTagShare);
        if (message.empty() || message[0] != kShare) {
            // It left the command on its own (it could not read the series,
            // say): rank 0 does its tasks from now on.
            gone_[static_cast<std::size_t>(r)] = 1;
            continue;
        }
        merge(message.substr(1));
    }
    std::vector<long long> orphans;
    for (long long i = 0; i < count && !stopped && !failure; ++i) {
        if (gone_[static_cast<std::size_t>(i % ranks)] != 0) {
            orphans.push_back(i);
        }
    }
    if (!orphans.empty()) {
        try {
            ThreadExecutor local;
            TaskResults done =
                local.run(static_cast<long long>(orphans.size()), threads,
                          [&](long long j, int worker) {
                              return task(orphans[static_cast<std::size_t>(j)], worker);
                          },
                          {});
            stopped = !done.completed;
            for (std::size_t j = 0; j < orphans.size(); ++j) {
                if (done.ran[j] != 0) {
                    results[static_cast<std::size_t>(orphans[j])] = std::move(done.results[j]);
                    ran[static_cast<std::size_t>(orphans[j])] = 1;
                }
            }
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (stopped && !stopped_here) {
        // Another rank was asked to stop: rank 0, which ends the command for
        // all, stops as if it had been asked itself (its handler says so and
        // gives the status of SIGINT).
        std::raise(SIGINT);
    }
    ByteWriter out;
    out.u64(stopped ? 1 : 0);
    write_failure(out, failure);
    std::uint64_t entries = 0;
    for (const char r : ran) {
        entries += r != 0 ? 1 : 0;
    }
    out.u64(entries);
    for (std::size_t i = 0; i < n; ++i) {
        if (ran[i] != 0) {
            out.u64(i);
            out.text(results[i]);
        }
    }
    const std::string message = tagged(kResults, std::move(out.bytes()));
    for (int r = 1; r < session_.size(); ++r) {
        if (gone_[static_cast<std::size_t>(r)] == 0) {
            session_.send(r, kTagOutcome, message);
        }
    }
    return outcome_of(count, message);
}

TaskResults MpiExecutor::outcome_of(long long count, const std::string& message) {
    ByteReader in(std::string_view(message).substr(1));
    const bool stopped = in.u64() != 0;
    if (const std::exception_ptr failure = read_failure(in)) {
        std::rethrow_exception(failure);
    }
    TaskResults out;
    out.results.resize(static_cast<std::size_t>(count));
    out.ran.assign(static_cast<std::size_t>(count), 0);
    for (std::uint64_t e = in.u64(); e > 0; --e) {
        const std::uint64_t i = in.u64();
        out.results[i] = in.text();
        out.ran[i] = 1;
    }
    out.completed = !stopped;
    for (const char r : out.ran) {
        out.completed = out.completed && r != 0;
    }
    return out;
}

int MpiExecutor::finish(int status) {
    if (session_.rank() == 0) {
        const std::string end = tagged(kEnd, std::to_string(status));
        for (int r = 1; r < session_.size(); ++r) {
            session_.send(r, kTagOutcome, end);
            if (gone_[static_cast<std::size_t>(r)] != 0) {
                continue;
            }
            // Shares sent for steps this rank never reached, up to its leaving.
            for (;;) {
                const std::string message = session_.receive(r, kTagShare);
                if (message.empty() || message[0] == kLeaving) {
                    break;
                }
            }
        }
        return status;
    }
    if (!left_) {
        left_ = true;
        session_.send(0, kTagShare, tagged(kLeaving));
    }
    while (!ended_) {
        const std::string message = session_.receive(0, kTagOutcome);
        if (message.empty() || message[0] == kEnd) {
            ended_ = true;
            final_status_ = message.size() > 1 ? std::atoi(message.c_str() + 1) : 1;
        }
    }
    return final_status_;
}

std::string Spread::place(const std::string& path) const {
    if (writes || path.empty()) {
        return path;
    }
    return (scratch / ("out-" + std::filesystem::path(path).filename().string())).string();
}

void relocate_outputs(AnalysisRequest& analysis, rolling::RollingRequest& rolling,
                      const Spread& spread) {
    for (std::filesystem::path* path : {&analysis.forecast_csv, &analysis.girf_csv, &rolling.csv}) {
        *path = spread.place(path->string());
    }
}

namespace {

// A folder of this rank's own, removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            (std::filesystem::path(base != nullptr && *base != '\0' ? base : "/tmp") /
             "velmora-rank-XXXXXX")
                .string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw ConfigError("A scratch folder for an MPI rank could not be created in " +
                              std::filesystem::path(pattern).parent_path().string());
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const noexcept { return path_; }

  private:
    std::filesystem::path path_;
};

// The ranks other than 0 say nothing: rank 0 speaks for the command.
void silence() {
    std::fflush(stdout);
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
}

}  // namespace

int run_spread(const std::function<int(const Spread&)>& command) {
    if (!MpiSession::launched() || inside_batch_job()) {
        return command({});
    }
    MpiSession session;
    if (session.size() == 1) {
        return command({});
    }
    MpiExecutor executor(session);
    const bool root = session.rank() == 0;
    std::optional<ScratchFolder> scratch;
    Spread spread;
    spread.executor = &executor;
    int status = 0;
    std::exception_ptr failure;
    try {
        if (!root) {
            silence();
            scratch.emplace();
            spread.writes = false;
            spread.scratch = scratch->path();
        }
        status = command(spread);
    } catch (const CommandEnded& ended) {
        status = ended.status;
    } catch (const Failure& e) {
        status = e.exit_status();
        failure = std::current_exception();
    } catch (...) {
        status = 1;
        failure = std::current_exception();
    }
    // Rank 0 says its failure before the others may leave: mpirun ends the
    // ranks still running once one exits with a status other than 0.
    if (root && failure) {
        status = report_failure(failure);
    }
    std::fflush(stdout);
    return executor.finish(status);
}

}  // namespace velmora::cli
