// velmora batch: many runs and fits from a jobs file, each in its own folder,
// one row per job in the summary files; spread over the ranks of mpirun or
// srun when one of them started it.

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/run_driver.hpp"
#include "batch/batch_plan.hpp"
#include "batch/jobs_file.hpp"
#include "cli/charts_option.hpp"
#include "cli/commands.hpp"
#include "cli/mpi_session.hpp"
#include "cli/progress_line.hpp"
#include "output/batch_summary.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

namespace {

using nlohmann::json;

// Exit status of a batch in which some job did not exit 0.
constexpr int kSomeJobFailedStatus = 4;

constexpr int kTagRow = 1;  // worker to rank 0: a job's row (empty: ready)
constexpr int kTagJob = 2;  // rank 0 to worker: a job's index, -1 to stop

// The batch tells its jobs its process id, so that a job dies with the
// batch's rank instead of writing on into a folder that --resume will clear.
constexpr const char* kParentVariable = "VELMORA_BATCH_PARENT";

struct BatchCommandState {
    std::string jobs_file;
    std::string out;
    std::string charts;
    std::uint64_t seed = 0;
    std::optional<int> threads;
    bool resume = false;
};

// Checks every job's arguments as `velmora run` or `fit` would parse them,
// so that a mistyped option is refused with its line before any job runs.
void check_job_arguments(const std::vector<batch::Job>& jobs, const std::string& label) {
    for (const batch::Job& job : jobs) {
        CLI::App app;
        int ignored = 0;
        if (job.command == "run") {
            add_run_command(app, ignored);
        } else {
            add_fit_command(app, ignored);
        }
        // Stops the parse once the arguments are checked, before the
        // command's own callback would run the job.
        struct Checked {};
        app.parse_complete_callback([] { throw Checked{}; });
        std::vector<std::string> words = {"velmora", job.command};
        words.insert(words.end(), job.arguments.begin(), job.arguments.end());
        std::vector<const char*> argv;
        for (const std::string& word : words) {
            argv.push_back(word.c_str());
        }
        auto refuse = [&](const std::string& reason) {
            throw ConfigError(strprintf("%s line %d: %s", label.c_str(), job.line, reason.c_str()));
        };
        try {
            app.parse(static_cast<int>(argv.size()), argv.data());
        } catch (const Checked&) {
        } catch (const CLI::Success&) {
            refuse("a job cannot ask for help");
        } catch (const CLI::ParseError& e) {
            refuse(strprintf("job \"%s\": %s", job.name.c_str(), e.what()));
        }
    }
}

std::filesystem::path this_program() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        throw ConfigError("The velmora program that runs the jobs could not be found");
    }
    return self;
}

// A progress line: jobs done of those to run, failures, time left.
class BatchProgress {
  public:
    explicit BatchProgress(int to_run)
        : to_run_(to_run), start_(std::chrono::steady_clock::now()) {}

    void job_done(bool failed) {
        ++done_;
        failed_ += failed ? 1 : 0;
        if (!line_.enabled()) {
            return;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::string left;
        if (done_ < to_run_ && done_ > 0) {
            const double remaining = seconds / done_ * (to_run_ - done_);
            left = remaining >= 120.0 ? strprintf("  about %.0f min left", remaining / 60.0)
                                      : strprintf("  about %.0f s left", remaining);
        }
        line_.show(
            strprintf("batch: %d/%d jobs done, %d failed%s", done_, to_run_, failed_, left.c_str()),
            done_ == to_run_);
    }
    void finish() { line_.finish(); }

  private:
    TerminalLine line_;
    int to_run_;
    int done_ = 0;
    int failed_ = 0;
    std::chrono::steady_clock::time_point start_;
};

// Rank 0's part: keeps one job of its own running and hands the others'
// indices to the worker ranks as they become free, until every job has ended
// and every worker has been told to stop.
void dispatch(MpiSession& session, const batch::BatchPlan& plan, const std::vector<int>& to_run,
              const std::function<void(int, const json&)>& on_row) {
    std::size_t next = 0;
    std::optional<batch::RunningJob> local;
    int stopped = 0;
    ProbePauses pauses;
    for (;;) {
        bool busy = false;
        if (local && local->poll()) {
            const json row = local->finish();
            const int index = local->index();
            local.reset();
            on_row(index, row);
            busy = true;
        }
        if (!local && next < to_run.size()) {
            local.emplace(plan, to_run[next++]);
            busy = true;
        }
        while (auto message = session.try_receive(kTagRow)) {
            if (!message->text.empty()) {
                const json report = json::parse(message->text);
                on_row(report.at("index").get<int>(), report.at("row"));
            }
            if (next < to_run.size()) {
                session.send(message->source, kTagJob, std::to_string(to_run[next++]));
            } else {
                session.send(message->source, kTagJob, "-1");
                ++stopped;
            }
            busy = true;
        }
        if (!local && next >= to_run.size() && stopped == session.size() - 1) {
            return;
        }
        if (busy) {
            pauses.reset();
        } else {
            pauses.pause();
        }
    }
}

void work(MpiSession& session, const batch::BatchPlan& plan) {
    session.send(0, kTagRow, "");
    for (;;) {
        const int index = std::stoi(session.receive(0, kTagJob));
        if (index < 0) {
            return;
        }
        batch::RunningJob job(plan, index);
        const json row = job.finish();
        session.send(0, kTagRow, json{{"index", index}, {"row", row}}.dump());
    }
}

int execute(const BatchCommandState& state) {
    std::optional<MpiSession> session;
    if (MpiSession::launched()) {
        session.emplace();
    }
    const int rank = session ? session->rank() : 0;
    // Every rank reads the jobs file and comes to the same verdict; only rank
    // 0 says it.
    batch::BatchSettings settings;
    std::vector<batch::Job> jobs;
    try {
        settings.jobs_file = std::filesystem::absolute(state.jobs_file).lexically_normal();
        settings.out = std::filesystem::absolute(state.out).lexically_normal();
        settings.program = this_program();
        settings.seed = state.seed;
        settings.resume = state.resume;
        check_charts_available(state.charts);
        if (!state.charts.empty()) {
            settings.charts = std::filesystem::absolute(state.charts).lexically_normal();
        }
        settings.threads = state.threads.value_or(MpiSession::cores_per_rank());
        jobs = batch::read_jobs_file(settings.jobs_file, state.jobs_file);
        check_job_arguments(jobs, state.jobs_file);
    } catch (const Failure&) {
        if (rank != 0) {
            return 2;
        }
        throw;
    }
    const batch::BatchPlan plan(settings, std::move(jobs));

    // Rank 0 prepares the output folder and decides what to run.
    std::vector<json> rows(static_cast<std::size_t>(plan.size()));
    std::vector<int> to_run;
    int kept = 0;
    batch::SummaryWriter summary(settings.out);
    int ready = 0;
    std::string refusal;
    if (rank == 0) {
        std::error_code ec;
        std::filesystem::create_directories(settings.out, ec);
        if (ec || !std::filesystem::is_directory(settings.out)) {
            refusal = strprintf("Output folder %s could not be created", state.out.c_str());
            ready = 2;
        } else {
            summary.start();
            for (int i = 0; i < plan.size(); ++i) {
                if (settings.resume && plan.complete(i)) {
                    rows[static_cast<std::size_t>(i)] = plan.complete_row(i);
                    summary.append(rows[static_cast<std::size_t>(i)]);
                    ++kept;
                } else {
                    to_run.push_back(i);
                }
            }
        }
    }
    if (session) {
        ready = session->broadcast(ready);
    }
    if (ready != 0) {
        if (rank == 0) {
            throw ConfigError(refusal);
        }
        return ready;
    }
    if (rank != 0) {
        work(*session, plan);
        return 0;
    }

    int failed = 0;
    BatchProgress progress(static_cast<int>(to_run.size()));
    auto on_row = [&](int index, const json& row) {
        const bool job_failed = row.at("exit_status").get<int>() != 0;
        failed += job_failed ? 1 : 0;
        summary.append(row);
        rows[static_cast<std::size_t>(index)] = row;
        progress.job_done(job_failed);
    };
    if (session && session->size() > 1) {
        dispatch(*session, plan, to_run, on_row);
    } else {
        batch::run_jobs(plan, to_run, on_row);
    }
    progress.finish();

    for (const json& row : rows) {
        if (row.at("exit_status").get<int>() != 0) {
            std::fprintf(stderr, "Job %s failed (status %d): %s\n",
                         row.at("name").get<std::string>().c_str(),
                         row.at("exit_status").get<int>(),
                         row.at("message").get<std::string>().c_str());
        }
    }
    const std::string written = summary.finish(rows, static_cast<int>(to_run.size()), kept, failed);
    std::printf("Batch: %d jobs, %zu run, %d kept from before, %d failed.\n", plan.size(),
                to_run.size(), kept, failed);
    if (!written.empty()) {
        std::fprintf(stderr, "%s\n", written.c_str());
        return kWriteFailureStatus;
    }
    std::printf("Summary: %s and %s\n", (settings.out / "summary.csv").c_str(),
                (settings.out / "summary.json").c_str());
    if (std::fflush(stdout) != 0) {
        return kWriteFailureStatus;
    }
    return failed > 0 ? kSomeJobFailedStatus : 0;
}

}  // namespace

void follow_batch_parent() {
    const char* parent = std::getenv(kParentVariable);
    if (parent == nullptr) {
        return;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The batch may have died before the line above took effect.
    if (std::to_string(::getppid()) != parent) {
        std::_Exit(137);
    }
}

bool inside_batch_job() {
    return std::getenv(kParentVariable) != nullptr;
}

void add_batch_command(CLI::App& app, int& exit_status) {
    auto state = std::make_shared<BatchCommandState>();
    CLI::App* batch = app.add_subcommand(
        "batch",
        "Run many searches and fits from a jobs file, one line per job (a name, then `run` or "
        "`fit` and its arguments), each job in a child process writing into OUT/NAME, with one "
        "row per job in OUT/summary.csv and OUT/summary.json. Under mpirun or srun the jobs are "
        "spread over the ranks.");
    batch
        ->add_option("--jobs", state->jobs_file,
                     "The jobs file: per line a name of letters, digits, '.', '_' and '-', then "
                     "run or fit and its arguments, quoted as in a shell (nothing is expanded); "
                     "blank lines and # comments are skipped; relative paths are taken from the "
                     "file's folder. A job may not set --workdir, --threads or --json")
        ->required();
    batch
        ->add_option("--out", state->out,
                     "Folder of the jobs' folders and the summary files (created when missing)")
        ->required();
    batch
        ->add_option("--seed", state->seed,
                     "A job without --seed gets the seed 0 to 999 hashed from this value and "
                     "the job's name, so the batch replays exactly")
        ->capture_default_str();
    batch
        ->add_option("--threads", state->threads,
                     "Threads of each job (default: the cores divided among the ranks on the "
                     "node, at most the cores the rank is bound to); results do not depend on "
                     "it, but the JSON echoes it")
        ->check(whole_number_in(1, kMaxThreads));
    batch->add_option("--charts", state->charts,
                      "Draw each job's charts into CHARTS/NAME, as the job's own --charts would; "
                      "a job that gives --charts itself keeps its own folder");
    batch->add_flag("--resume", state->resume,
                    "Keep every job whose folder holds result.json (a job that completed) and "
                    "run the others, their folders cleared first");
    batch->footer(
        "A batch exits 0 when every job exited 0, 4 when some job did not (its row in "
        "summary.csv says why), 2 when the jobs file is refused (nothing runs).");
    refuse_empty_values(*batch);
    batch->callback([state, &exit_status] {
        ::setenv(kParentVariable, std::to_string(::getpid()).c_str(), 1);
        exit_status = execute(*state);
    });
}

}  // namespace velmora::cli
