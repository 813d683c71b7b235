#pragma once
// Starting the built command line as a child process that the test can
// signal, or that runs under a file size limit, with both of its output
// streams captured through pipes (a pipe is not subject to the limit).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

struct ChildOutcome {
    bool exited = false;  // ended by exit(); otherwise by a signal
    int status = -1;      // exit status when exited
    int signal = 0;       // the signal that ended it otherwise
    std::string out;
    std::string err;
};

class ChildProcess {
  public:
    // Runs program with arguments in cwd. With max_file_bytes, every file the
    // child writes is limited to that size (RLIMIT_FSIZE) and SIGXFSZ is
    // ignored, so a write past it fails with EFBIG, as on a full disk; with
    // default_file_size_signal the child starts with SIGXFSZ's default action
    // (ending the process), as from a shell with `ulimit -f`.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& cwd,
                 std::optional<rlim_t> max_file_bytes = std::nullopt,
                 bool default_file_size_signal = false) {
        int out_pipe[2];
        int err_pipe[2];
        if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out_pipe[1], STDOUT_FILENO);
            ::dup2(err_pipe[1], STDERR_FILENO);
            ::close(out_pipe[0]);
            ::close(out_pipe[1]);
            ::close(err_pipe[0]);
            ::close(err_pipe[1]);
            const int null_in = ::open("/dev/null", O_RDONLY);
            ::dup2(null_in, STDIN_FILENO);
            if (::chdir(cwd.c_str()) != 0) {
                ::_exit(126);
            }
            if (max_file_bytes) {
                ::signal(SIGXFSZ, default_file_size_signal ? SIG_DFL : SIG_IGN);
                const rlimit limit{*max_file_bytes, *max_file_bytes};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : arguments) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        out_fd_ = out_pipe[0];
        err_fd_ = err_pipe[0];
    }

    ~ChildProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            finish();
        }
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void send(int signal_number) const { ::kill(pid_, signal_number); }

    // Reads both streams to their end and waits for the child.
    ChildOutcome finish() {
        ChildOutcome outcome;
        pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
        std::string* sinks[2] = {&outcome.out, &outcome.err};
        int open_streams = 2;
        while (open_streams > 0) {
            if (::poll(fds, 2, -1) < 0) {
                break;
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                    char buffer[4096];
                    const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                    if (n > 0) {
                        sinks[i]->append(buffer, static_cast<std::size_t>(n));
                    } else {
                        ::close(fds[i].fd);
                        fds[i].fd = -1;
                        --open_streams;
                    }
                }
            }
        }
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
        reaped_ = true;
        outcome.exited = WIFEXITED(raw);
        outcome.status = outcome.exited ? WEXITSTATUS(raw) : -1;
        outcome.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
        return outcome;
    }

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool reaped_ = false;
};

// Waits until the file holds `part` (or a minute passes); returns whether it
// does. Only a guard against a child that never gets there, not a timing.
inline bool wait_for_text(const std::filesystem::path& file, const std::string& part) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(file, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        if (text.find(part) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace velmora::testing
