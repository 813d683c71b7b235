#include "cli/mpi_executor.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "cli/commands.hpp"
#include "support/errors.hpp"
#include "support/parallel.hpp"

namespace velmora::cli {

namespace {

constexpr int kTagShare = 11;    // to rank 0: a rank's share of a step, or its leaving
constexpr int kTagOutcome = 12;  // from rank 0: a step's results, or the command's end
constexpr int kTagClaim = 13;    // to rank 0: a rank asks for more of a step's tasks
constexpr int kTagChunk = 14;    // from rank 0: "BEGIN END", the tasks given; empty: none left

constexpr char kShare = 'S';
constexpr char kLeaving = 'L';
constexpr char kResults = 'R';
constexpr char kEnd = 'E';

std::string tagged(char tag, std::string body = {}) {
    return std::string(1, tag) + body;
}

struct Chunk {
    long long begin = 0;
    long long end = 0;
};

// The tasks each rank starts a step with, without asking, so that nobody
// waits for rank 0 at the start: between them the first chunks make half
// the step, and the other half goes to whichever ranks get there first.
Chunk first_chunk(long long count, int ranks, int rank) {
    const long long size = std::max<long long>(1, count / (2LL * ranks));
    const long long begin = std::min(count, size * rank);
    return {begin, std::min(count, begin + size)};
}

// A share as a rank sends it, and rank 0's merged outcome alike: whether it
// stopped, its failure, then the results of the tasks that ran (index, bytes).
std::string share_bytes(bool stopped, const std::exception_ptr& failure,
                        const std::vector<std::string>& results, const std::vector<char>& ran) {
    ByteWriter out;
    out.u64(stopped ? 1 : 0);
    write_failure(out, failure);
    std::uint64_t entries = 0;
    for (const char r : ran) {
        entries += r != 0 ? 1 : 0;
    }
    out.u64(entries);
    for (std::size_t i = 0; i < ran.size(); ++i) {
        if (ran[i] != 0) {
            out.u64(i);
            out.text(results[i]);
        }
    }
    return std::move(out.bytes());
}

// Answers every waiting claim with "none left": the step (or the command)
// is over for rank 0.
void refuse_claims(MpiSession& session) {
    while (auto claim = session.try_receive(kTagClaim)) {
        session.send(claim->source, kTagChunk, "");
    }
}

}  // namespace

// One step's tasks on one rank, handed to its threads. The ranks take the
// tasks a chunk at a time from rank 0 as they get through them, not in fixed
// shares, so that a rank slowed by anything (a busier node, a core shared
// with other work, tasks that happen to be longer) takes fewer and all end
// together, within a task or so. The chunks shrink as the step goes on.
// Which rank runs a task never changes its result. Only worker 0, the
// thread that initialised MPI, sends or receives.
class StepTasks {
  public:
    StepTasks(MpiSession& session, long long count, int lanes, const std::vector<char>& gone)
        : session_(session), count_(count), lanes_(lanes), root_(session.rank() == 0) {
        const int ranks = session.size();
        auto add = [&](Chunk chunk) {
            for (long long i = chunk.begin; i < chunk.end; ++i) {
                queue_.push_back(i);
            }
        };
        add(first_chunk(count, ranks, session.rank()));
        if (root_) {
            // Ranks that left the command: rank 0 does their first tasks.
            for (int r = 1; r < ranks; ++r) {
                if (gone[static_cast<std::size_t>(r)] != 0) {
                    add(first_chunk(count, ranks, r));
                } else {
                    ++live_;
                }
            }
            next_ = first_chunk(count, ranks, ranks - 1).end;
        }
    }

    // The next task for `worker`, or nothing when this rank has no more.
    std::optional<long long> take(int worker) {
        return root_ ? take_at_root(worker) : take_elsewhere(worker);
    }

    // A failure or a stop request: no more tasks for this rank.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        more_.notify_all();
    }

    // Rank 0: gives each waiting claim the next chunk (none when the step is
    // over for rank 0).
    void answer_claims() {
        while (auto claim = session_.try_receive(kTagClaim)) {
            const long long lanes = std::max(1, std::atoi(claim->text.c_str()));
            Chunk chunk{count_, count_};
            if (!stopped()) {
                const long long left = std::max(0LL, count_ - next_.load());
                const long long size = std::max(lanes, left / (2LL * live_));
                chunk.begin = std::min(count_, next_.fetch_add(size));
                chunk.end = std::min(count_, chunk.begin + size);
            }
            session_.send(claim->source, kTagChunk,
                          chunk.begin < chunk.end
                              ? std::to_string(chunk.begin) + " " + std::to_string(chunk.end)
                              : std::string());
        }
    }

    // Another rank, after its threads ended: takes rank 0's answer to a
    // claim still out, so that it is not read as the next step's.
    void settle() {
        if (!root_ && claim_out_) {
            accept(session_.receive(0, kTagChunk));
        }
    }

  private:
    bool stopped() {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopped_;
    }

    std::optional<long long> take_at_root(int worker) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopped_) {
                return std::nullopt;
            }
            if (!queue_.empty()) {
                const long long i = queue_.front();
                queue_.pop_front();
                return i;
            }
        }
        if (worker == 0) {
            answer_claims();
        }
        const long long i = next_.fetch_add(1);
        return i < count_ ? std::optional<long long>(i) : std::nullopt;
    }

    std::optional<long long> take_elsewhere(int worker) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (stopped_) {
                return std::nullopt;
            }
            if (worker == 0) {
                if (claim_out_) {
                    lock.unlock();
                    std::optional<MpiSession::Message> answer = session_.try_receive(kTagChunk);
                    lock.lock();
                    if (answer) {
                        accept_locked(answer->text);
                    }
                }
                // Asks as the last tasks start, so that the answer comes
                // while they run: rank 0 answers between its own tasks.
                if (!claim_out_ && !exhausted_ &&
                    queue_.size() <= static_cast<std::size_t>(lanes_)) {
                    claim_out_ = true;
                    lock.unlock();
                    session_.send(0, kTagClaim, std::to_string(lanes_));
                    lock.lock();
                }
            }
            if (!queue_.empty()) {
                const long long i = queue_.front();
                queue_.pop_front();
                return i;
            }
            if (exhausted_) {
                return std::nullopt;
            }
            if (worker == 0) {
                lock.unlock();
                const std::string answer = session_.receive(0, kTagChunk);
                lock.lock();
                accept_locked(answer);
            } else {
                more_.wait(lock);
            }
        }
    }

    void accept(const std::string& answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        accept_locked(answer);
    }

    void accept_locked(const std::string& answer) {
        claim_out_ = false;
        long long begin = 0;
        long long end = 0;
        if (std::sscanf(answer.c_str(), "%lld %lld", &begin, &end) == 2 && begin < end) {
            for (long long i = begin; i < end; ++i) {
                queue_.push_back(i);
            }
        } else {
            exhausted_ = true;
        }
        more_.notify_all();
    }

    MpiSession& session_;
    const long long count_;
    const int lanes_;
    const bool root_;
    int live_ = 1;  // rank 0: the ranks still in the command, itself included
    std::mutex mutex_;
    std::condition_variable more_;
    std::deque<long long> queue_;     // taken, not yet started
    std::atomic<long long> next_{0};  // rank 0: the first task no rank has taken
    bool claim_out_ = false;          // other ranks: a claim waits for its answer
    bool exhausted_ = false;          // other ranks: rank 0 has no more to give
    bool stopped_ = false;
};

MpiExecutor::MpiExecutor(MpiSession& session)
    : session_(session), gone_(static_cast<std::size_t>(session.size()), 0) {}

TaskResults MpiExecutor::run(long long count, int threads, const SerialTask& task,
                             const SimulationProgress& progress) {
    if (ended_) {
        throw CommandEnded{final_status_};
    }
    const int ranks = session_.size();
    const int rank = session_.rank();
    const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
    const int lanes = static_cast<int>(std::clamp<long long>(threads, 1, std::max(1LL, count)));
    StepTasks tasks(session_, count, lanes, gone_);

    std::vector<std::string> results(n);
    std::vector<char> ran(n, 0);
    std::exception_ptr failure;
    std::mutex failure_mutex;
    std::atomic<long long> done{0};
    std::atomic<bool> skipped{false};  // a task saw a stop request and did not run
    bool stopped_by_user = false;
    // Rank 0's line shows its own course, scaled to the whole step.
    const long long expected = std::max(1LL, count / ranks);
    auto course = [&] { return std::min(count, done.load() * count / expected); };
    auto last = std::chrono::steady_clock::now();
    WorkerPool pool(lanes);
    pool.run(lanes, [&](long long, int worker) {
        while (const std::optional<long long> i = tasks.take(worker)) {
            try {
                if (std::optional<std::string> result = task(*i, worker)) {
                    results[static_cast<std::size_t>(*i)] = std::move(*result);
                    ran[static_cast<std::size_t>(*i)] = 1;
                } else {
                    skipped = true;
                }
            } catch (...) {
                std::lock_guard<std::mutex> lock(failure_mutex);
                if (!failure) {
                    failure = std::current_exception();
                }
                tasks.stop();
                return;
            }
            ++done;
            const auto now = std::chrono::steady_clock::now();
            if (worker == 0 && progress && now - last >= std::chrono::milliseconds(100)) {
                last = now;
                if (!progress(course(), count)) {
                    stopped_by_user = true;
                    tasks.stop();
                    return;
                }
            }
        }
    });
    tasks.settle();
    if (progress && !failure && !stopped_by_user) {
        stopped_by_user = !progress(count, count);
    }

    const std::string share =
        share_bytes(!failure && (stopped_by_user || skipped), failure, results, ran);
    if (rank != 0) {
        session_.send(0, kTagShare, tagged(kShare, share));
        const std::string message = session_.receive(0, kTagOutcome);
        if (message.empty() || message[0] == kEnd) {
            ended_ = true;
            final_status_ = message.size() > 1 ? std::atoi(message.c_str() + 1) : 1;
            throw CommandEnded{final_status_};
        }
        return outcome_of(count, message);
    }
    return gather(tasks, count, threads, task, share);
}

TaskResults MpiExecutor::gather(StepTasks& tasks, long long count, int threads,
                                const SerialTask& task, const std::string& own_share) {
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
    int waiting = 0;
    for (int r = 1; r < ranks; ++r) {
        waiting += gone_[static_cast<std::size_t>(r)] == 0 ? 1 : 0;
    }
    std::vector<long long> orphans;
    ProbePauses pauses;
    while (waiting > 0) {
        tasks.answer_claims();
        std::optional<MpiSession::Message> message = session_.try_receive(kTagShare);
        if (!message) {
            pauses.pause();
            continue;
        }
        pauses.reset();
        --waiting;
        if (message->text.empty() || message->text[0] != kShare) {
            // It left the command on its own (it could not read the series,
            // say): rank 0 does its first tasks, the only ones it had, and
            // all of its tasks from now on.
            gone_[static_cast<std::size_t>(message->source)] = 1;
            const Chunk chunk = first_chunk(count, ranks, message->source);
            for (long long i = chunk.begin; i < chunk.end; ++i) {
                orphans.push_back(i);
            }
            continue;
        }
        merge(message->text.substr(1));
    }
    if (!orphans.empty() && !stopped && !failure) {
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
    const std::string message = tagged(kResults, share_bytes(stopped, failure, results, ran));
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
        int waiting = 0;
        for (int r = 1; r < session_.size(); ++r) {
            session_.send(r, kTagOutcome, end);
            waiting += gone_[static_cast<std::size_t>(r)] == 0 ? 1 : 0;
        }
        // Shares sent for steps the ranks were in when rank 0 ended, up to
        // each rank's leaving; a rank in such a step may still claim tasks.
        ProbePauses pauses;
        while (waiting > 0) {
            refuse_claims(session_);
            std::optional<MpiSession::Message> message = session_.try_receive(kTagShare);
            if (!message) {
                pauses.pause();
                continue;
            }
            pauses.reset();
            if (message->text.empty() || message->text[0] == kLeaving) {
                --waiting;
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
