#include "cli/charts_option.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include "support/errors.hpp"
#include "support/format.hpp"

extern char** environ;

namespace velmora::cli {

namespace {

constexpr const char* kProgram = "velmora-charts";

// A file for the chart input that no other process names: removed when
// this goes out of scope.
class TempInput {
  public:
    explicit TempInput(const std::string& text) {
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        if (ec) {
            dir = "/tmp";
        }
        std::string pattern = (dir / "velmora-charts-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            failure_ = std::strerror(errno);
            return;
        }
        path_ = pattern;
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                failure_ = std::strerror(errno);
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0 && failure_.empty()) {
            failure_ = std::strerror(errno);
        }
    }
    ~TempInput() {
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::remove(path_, ec);
        }
    }
    TempInput(const TempInput&) = delete;
    TempInput& operator=(const TempInput&) = delete;

    const std::string& path() const { return path_; }
    const std::string& failure() const { return failure_; }

  private:
    std::string path_;
    std::string failure_;
};

}  // namespace

std::filesystem::path charts_program() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    const std::filesystem::path beside = self.parent_path() / kProgram;
    return ::access(beside.c_str(), X_OK) == 0 ? beside : std::filesystem::path();
}

void check_charts_available(const std::string& directory) {
    if (directory.empty()) {
        return;
    }
#ifndef VELMORA_CHARTS_BUILT
    throw ConfigError(
        "--charts: this Velmora was built without Qt 6, which draws the charts; build it with "
        "Qt 6 (Widgets, Charts, Svg) to draw them");
#else
    if (charts_program().empty()) {
        throw ConfigError(strprintf(
            "--charts: the chart program %s was not found beside velmora; install it there",
            kProgram));
    }
#endif
}

ChartsOutcome draw_charts(const std::string& directory, const nlohmann::json& input) {
    ChartsOutcome outcome;
    const std::filesystem::path program = charts_program();
    if (program.empty()) {
        outcome.failure = strprintf("the chart program %s was not found", kProgram);
        return outcome;
    }
    const TempInput file(input.dump());
    if (!file.failure().empty()) {
        outcome.failure = "the chart input could not be written: " + file.failure();
        return outcome;
    }
    // The files written come back on the program's standard output.
    int out[2];
    if (::pipe(out) != 0) {
        outcome.failure = std::strerror(errno);
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::string program_text = program.string();
    std::string input_text = file.path();
    std::string dir_text = directory;
    char* argv[] = {program_text.data(), input_text.data(), dir_text.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program_text.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        outcome.failure =
            strprintf("%s could not be started: %s", program_text.c_str(), std::strerror(spawned));
        return outcome;
    }
    std::string listed;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        listed.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::size_t start = 0;
    while (start < listed.size()) {
        const std::size_t end = listed.find('\n', start);
        const std::size_t stop = end == std::string::npos ? listed.size() : end;
        if (stop > start) {
            outcome.files.push_back(listed.substr(start, stop - start));
        }
        start = stop + 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        // The program named its reason on standard error, which is ours.
        outcome.failure = WIFEXITED(status)
                              ? strprintf("%s ended with status %d", kProgram, WEXITSTATUS(status))
                              : strprintf("%s was ended by a signal", kProgram);
    }
    return outcome;
}

bool write_charts(const std::string& directory, const nlohmann::json& input) {
    std::fflush(stdout);
    const ChartsOutcome outcome = draw_charts(directory, input);
    if (!outcome.failure.empty()) {
        std::fprintf(stderr, "Charts could not be drawn into %s: %s\n", directory.c_str(),
                     outcome.failure.c_str());
        return false;
    }
    std::printf("Charts: %s (%zu files)\n", directory.c_str(), outcome.files.size());
    return true;
}

}  // namespace velmora::cli
