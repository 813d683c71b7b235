#include "batch/batch_plan.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

#include "output/batch_summary.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/text_file.hpp"

extern char** environ;

namespace velmora::batch {

namespace {

using nlohmann::json;

constexpr const char* kJobJson = "job.json";
constexpr const char* kStdout = "stdout.txt";
constexpr const char* kStderr = "stderr.txt";

std::string read_whole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The job's JSON, or null when it is missing or not JSON.
json read_json(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return nullptr;
    }
    return json::parse(read_whole(path), nullptr, false);
}

// The last line of the job's standard error that is not blank: the failure's
// own message.
std::string last_line(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0) {
        while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) {
            --end;
        }
        const std::size_t begin = text.rfind('\n', end == 0 ? 0 : end - 1);
        const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
        std::string line = text.substr(from, end - from);
        if (line.find_first_not_of(" \t") != std::string::npos) {
            return line;
        }
        end = from;
    }
    return {};
}

// Whether path may be cleared for its job: nothing there, an empty folder,
// or a folder a job of a batch began (its streams are the first files a job
// gets). Anything else, say a folder of data when --out names the jobs
// file's own folder, is never removed.
std::string clearing_problem(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found) {
        return {};
    }
    if (status.type() != std::filesystem::file_type::directory) {
        return strprintf("%s exists and is not a job's folder; it was left as it is", path.c_str());
    }
    if (std::filesystem::is_empty(path, ec) || std::filesystem::exists(path / kStdout, ec) ||
        std::filesystem::exists(path / kResultFile, ec)) {
        return {};
    }
    return strprintf("%s holds files of no job; it was left as it is", path.c_str());
}

// The environment without the variables of an MPI launcher: a job is a plain
// velmora process, even when its batch runs under mpirun.
std::vector<std::string> child_environment() {
    std::vector<std::string> out;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.rfind("OMPI_", 0) == 0 || text.rfind("PMIX_", 0) == 0 ||
            text.rfind("PMI_", 0) == 0) {
            continue;
        }
        out.emplace_back(text);
    }
    return out;
}

}  // namespace

namespace {

// `path` from the jobs file's folder, where every child starts, so that the
// names in a job's outputs do not depend on where the whole tree lies.
std::filesystem::path from_jobs_dir(const std::filesystem::path& path,
                                    const std::filesystem::path& jobs_dir) {
    std::error_code ec;
    std::filesystem::path relative = std::filesystem::relative(path, jobs_dir, ec);
    return ec || relative.empty() ? path : relative;
}

}  // namespace

BatchPlan::BatchPlan(BatchSettings settings, std::vector<Job> jobs)
    : settings_(std::move(settings)), jobs_(std::move(jobs)) {
    jobs_dir_ = settings_.jobs_file.parent_path();
    out_from_jobs_dir_ = from_jobs_dir(settings_.out, jobs_dir_);
    if (!settings_.charts.empty()) {
        charts_from_jobs_dir_ = from_jobs_dir(settings_.charts, jobs_dir_);
    }
}

std::filesystem::path BatchPlan::folder(int index) const {
    return settings_.out / jobs_.at(static_cast<std::size_t>(index)).name;
}

std::string BatchPlan::seed_of(int index) const {
    const Job& job = jobs_.at(static_cast<std::size_t>(index));
    if (job.own_seed) {
        return *job.own_seed;
    }
    return std::to_string(derived_seed(settings_.seed, job.name));
}

std::vector<std::string> BatchPlan::child_arguments(int index) const {
    const Job& job = jobs_.at(static_cast<std::size_t>(index));
    std::vector<std::string> args;
    args.push_back(job.command);
    args.insert(args.end(), job.arguments.begin(), job.arguments.end());
    const std::filesystem::path workdir = out_from_jobs_dir_ / job.name;
    args.insert(args.end(),
                {"--workdir", workdir.string(), "--threads", std::to_string(settings_.threads),
                 "--json", (workdir / kJobJson).string()});
    if (!job.own_seed) {
        args.insert(args.end(), {"--seed", seed_of(index)});
    }
    if (!charts_from_jobs_dir_.empty() && !job.own_charts) {
        args.insert(args.end(), {"--charts", (charts_from_jobs_dir_ / job.name).string()});
    }
    return args;
}

bool BatchPlan::complete(int index) const {
    std::error_code ec;
    return std::filesystem::is_regular_file(folder(index) / kResultFile, ec);
}

json BatchPlan::complete_row(int index) const {
    const json result = read_json(folder(index) / kResultFile);
    const Job& job = jobs_.at(static_cast<std::size_t>(index));
    return job_row(job.name, job.command, 0, "", seed_of(index), result);
}

RunningJob::RunningJob(const BatchPlan& plan, int index) : plan_(plan), index_(index) {
    const std::filesystem::path folder = plan.folder(index);
    if (std::string problem = clearing_problem(folder); !problem.empty()) {
        message_ = std::move(problem);
        return;
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if (ec) {
        message_ = strprintf("its folder %s could not be cleared: %s", folder.c_str(),
                             ec.message().c_str());
        return;
    }
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        message_ = strprintf("its folder %s could not be created: %s", folder.c_str(),
                             ec.message().c_str());
        return;
    }
    const std::string program = plan.settings().program.string();
    const std::vector<std::string> arguments = plan.child_arguments(index);
    const std::vector<std::string> environment = child_environment();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : environment) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    const std::string out_path = (folder / kStdout).string();
    const std::string err_path = (folder / kStderr).string();
    const std::string cwd = plan.settings().jobs_file.parent_path().string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    // The job starts with the default signal dispositions and mask, whatever
    // the batch (or an MPI launcher) set for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error =
        posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        pid_ = -1;
        message_ = strprintf("velmora could not be started for it: %s", std::strerror(error));
        return;
    }
    ended_ = false;
}

RunningJob::~RunningJob() {
    if (!ended_ && pid_ > 0) {
        // The batch is unwinding: the job must not outlive it unseen.
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void RunningJob::reap(int wait_status) {
    ended_ = true;
    if (WIFEXITED(wait_status)) {
        exit_status_ = WEXITSTATUS(wait_status);
    } else if (WIFSIGNALED(wait_status)) {
        const int signal_number = WTERMSIG(wait_status);
        exit_status_ = 128 + signal_number;
        message_ = strprintf("killed by signal %d (%s)", signal_number, ::strsignal(signal_number));
    }
}

bool RunningJob::poll() {
    if (ended_) {
        return true;
    }
    int status = 0;
    const pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
        reap(status);
    } else if (got < 0 && errno != EINTR) {
        ended_ = true;
        message_ = strprintf("its process could not be waited for: %s", std::strerror(errno));
    }
    return ended_;
}

void RunningJob::wait() {
    while (!ended_) {
        int status = 0;
        const pid_t got = ::waitpid(pid_, &status, 0);
        if (got == pid_) {
            reap(status);
        } else if (got < 0 && errno != EINTR) {
            ended_ = true;
            message_ = strprintf("its process could not be waited for: %s", std::strerror(errno));
        }
    }
}

json RunningJob::finish() {
    wait();
    const Job& job = plan_.jobs().at(static_cast<std::size_t>(index_));
    const std::filesystem::path folder = plan_.folder(index_);
    const std::string seed = plan_.seed_of(index_);
    if (pid_ < 0) {
        return job_row(job.name, job.command, 1, message_, seed, nullptr);
    }
    json result = read_json(folder / kJobJson);
    if (exit_status_ == 0) {
        if (!result.is_object()) {
            exit_status_ = 1;
            message_ = "the job ended without writing its JSON";
        } else {
            std::error_code ec;
            std::filesystem::rename(folder / kJobJson, folder / kResultFile, ec);
            if (ec) {
                exit_status_ = kWriteFailureStatus;
                message_ = strprintf("%s could not be renamed into place: %s",
                                     (folder / kResultFile).c_str(), ec.message().c_str());
            }
        }
    } else if (message_.empty()) {
        message_ = last_line(read_whole(folder / kStderr));
    }
    return job_row(job.name, job.command, exit_status_,
                   exit_status_ == 0 ? std::string() : message_, seed, result);
}

void run_jobs(const BatchPlan& plan, const std::vector<int>& indices,
              const std::function<void(int, const json&)>& on_row) {
    for (int index : indices) {
        RunningJob job(plan, index);
        on_row(index, job.finish());
    }
}

SummaryWriter::SummaryWriter(const std::filesystem::path& out) : out_(out) {}

// The rows appended while jobs run are a record of progress only: one that
// cannot be written is not an error, the whole files at the end are.
void SummaryWriter::start() {
    write_text_file(out_ / "summary.csv", summary_csv_header(), "w");
}

void SummaryWriter::append(const json& row) {
    write_text_file(out_ / "summary.csv", summary_csv_line(row), "a");
}

std::string SummaryWriter::finish(const std::vector<json>& rows, int ran, int kept, int failed) {
    std::string reason = replace_text_file(out_ / "summary.csv", summary_csv(rows));
    if (!reason.empty()) {
        return strprintf("%s could not be written: %s", (out_ / "summary.csv").c_str(),
                         reason.c_str());
    }
    reason = replace_text_file(out_ / "summary.json",
                               summary_json(rows, ran, kept, failed).dump(2) + "\n");
    if (!reason.empty()) {
        return strprintf("%s could not be written: %s", (out_ / "summary.json").c_str(),
                         reason.c_str());
    }
    return {};
}

}  // namespace velmora::batch
