#pragma once
// Where the core's fixed standard-output and standard-error lines go
// ("individual:%d", "Sorry! only even population sizes are allowed.", ...).
// The command line writes them to the process streams; the desktop program
// shows them in its message area. The core never writes to std::cout or
// std::cerr itself.

#include <string_view>

namespace velmora {

class Console {
  public:
    virtual ~Console() = default;
    virtual void out(std::string_view text) = 0;  // standard output
    virtual void err(std::string_view text) = 0;  // standard error
};

// Writes to the process's stdout and stderr.
class StdConsole final : public Console {
  public:
    void out(std::string_view text) override;
    void err(std::string_view text) override;
};

// Discards everything (tests, benchmarks).
class NullConsole final : public Console {
  public:
    void out(std::string_view) override {}
    void err(std::string_view) override {}
};

}  // namespace velmora
