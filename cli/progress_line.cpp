#include "cli/progress_line.hpp"

#include <unistd.h>

#include <cstdio>

#include "support/format.hpp"

namespace velmora::cli {

TerminalLine::TerminalLine() : enabled_(::isatty(STDERR_FILENO) != 0) {}

void TerminalLine::show(const std::string& text, bool force) {
    if (!enabled_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && !force && now - last_shown_ < std::chrono::milliseconds(100)) {
        return;
    }
    last_shown_ = now;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void TerminalLine::finish() {
    if (shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}

bool StageProgress::update(const char* stage, long long done, long long total) {
    line_.show(strprintf("%s: %lld/%lld", stage, done, total), done == total);
    return true;
}

}  // namespace velmora::cli
