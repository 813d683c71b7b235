#include "cli/interrupt.hpp"

#include <unistd.h>

#include <csignal>
#include <cstring>

namespace velmora::cli {

namespace {

// Written by the handler, read by the run: lock-free atomics and a
// sig_atomic_t are the only kinds of state a handler may touch.
std::atomic<bool> stop_flag{false};
volatile std::sig_atomic_t first_signal = 0;
volatile std::sig_atomic_t terminal = 0;
std::atomic<const char*> stage_text{""};

struct sigaction previous_int;
struct sigaction previous_term;

void write_all(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0) {
            return;
        }
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

extern "C" void on_stop_signal(int signal_number) {
    if (first_signal != 0) {
        // The second signal: the default action, now.
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    first_signal = signal_number;
    stop_flag.store(true);
    if (terminal != 0) {
        write_all("\r\033[K");  // over the progress line
    }
    write_all(signal_number == SIGINT ? "Interrupted (SIGINT): " : "Terminated (SIGTERM): ");
    write_all(stage_text.load());
    write_all("; a second signal ends it at once.\n");
}

}  // namespace

InterruptGuard::InterruptGuard(const char* first_stage) {
    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<const char*>::is_always_lock_free);
    stage_text.store(first_stage);
    stop_flag.store(false);
    first_signal = 0;
    terminal = ::isatty(STDERR_FILENO) != 0 ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    // Interrupted reads and writes resume instead of failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previous_int);
    sigaction(SIGTERM, &action, &previous_term);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previous_int, nullptr);
    sigaction(SIGTERM, &previous_term, nullptr);
}

void InterruptGuard::set_stage(const char* text) {
    stage_text.store(text);
}

const std::atomic<bool>& InterruptGuard::stop_requested() const {
    return stop_flag;
}

int InterruptGuard::signal_received() const {
    return first_signal;
}

}  // namespace velmora::cli
