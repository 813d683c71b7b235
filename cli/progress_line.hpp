#pragma once
// Progress on a terminal: one line on standard error, rewritten in place as
// a search, a refinement, a bootstrap or a simulation goes on; nothing at all
// when standard error goes to a file or a pipe, so logs stay clean.

#include <chrono>
#include <string>

namespace velmora::cli {

class TerminalLine {
  public:
    TerminalLine();
    ~TerminalLine() { finish(); }
    TerminalLine(const TerminalLine&) = delete;
    TerminalLine& operator=(const TerminalLine&) = delete;

    bool enabled() const noexcept { return enabled_; }

    // Shows text in place of the line shown before, unless that was less
    // than a tenth of a second ago (a terminal cannot show faster updates
    // anyway) and `force` is false.
    void show(const std::string& text, bool force = false);

    // Clears the line, so that what follows starts on a clean one.
    void finish();

  private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_shown_;
};

// "<stage>: <done>/<total>" for stages that count tasks (the bootstrap, the
// forecasts, the impulse responses); always true, so a caller can hand it to
// hooks that stop on false.
class StageProgress {
  public:
    bool update(const char* stage, long long done, long long total);
    void finish() { line_.finish(); }

  private:
    TerminalLine line_;
};

}  // namespace velmora::cli
