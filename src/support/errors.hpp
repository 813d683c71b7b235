#pragma once
// The typed failures that end a run. Each carries the exact text the program
// reports for it and the exit status a command-line front end returns; the
// front ends decide where the text goes (standard error, a message box).

#include <stdexcept>
#include <string>

namespace velmora {

class Failure : public std::runtime_error {
  public:
    Failure(std::string text, int exit_status, bool verbatim = false)
        : std::runtime_error(std::move(text)), exit_status_(exit_status), verbatim_(verbatim) {}
    int exit_status() const noexcept { return exit_status_; }
    // True for the fixed texts of the engine and the kernels, which a stream
    // receives exactly as they are, with or without a line end; Velmora's own
    // messages are single lines that a stream ends with a line end.
    bool verbatim() const noexcept { return verbatim_; }

  private:
    int exit_status_;
    bool verbatim_;
};

// Exit status of a command that completed its work but could not write one of
// its files whole (a full disk, a file size limit, an I/O error).
inline constexpr int kWriteFailureStatus = 3;

// Exit status of a command that completed its search or fit but one of the
// steps after it (inference, forecasts, the hold-out check, impulse
// responses, ...) failed; a file not written whole (3) takes precedence.
inline constexpr int kAnalysisFailureStatus = 4;

// A step after the search or the fit that failed, and why: the other steps'
// results stand. `step` names it as the JSON's `analysis_errors` does
// ("impulse responses"), `message` is the failure's own text.
struct StepFailure {
    std::string step;
    std::string message;
};

// Exit status of a run that stopped after the signal `signal_number`
// (SIGINT: 130, SIGTERM: 143), as a shell reports a process the signal ended.
constexpr int interrupted_status(int signal_number) noexcept {
    return 128 + signal_number;
}

// A configuration, series file or structure that Velmora refuses before any
// search starts. Exit status 2.
class ConfigError : public Failure {
  public:
    explicit ConfigError(std::string text) : Failure(std::move(text), 2) {}
};

// A configuration problem with one of the model's terms: the text is the
// term as the model names it ("Forecast horizon") followed by what is wrong
// (": -1 steps; give 1 or more"). A front end that names the term otherwise
// (a command line's flag) shows its own name followed by rest().
class TermError : public ConfigError {
  public:
    TermError(std::string term, std::string rest)
        : ConfigError(term + rest), term_(std::move(term)), rest_(std::move(rest)) {}
    const std::string& term() const noexcept { return term_; }
    const std::string& rest() const noexcept { return rest_; }

  private:
    std::string term_;
    std::string rest_;
};

// A fault of the genetic engine (bad field sizes, a wrong selection for
// automatic control, Boltzmann overflow, a bad mutation rate, a broken field
// access, memory exhausted). The historical status is -1, which a process
// reports as 255.
class EngineFault : public Failure {
  public:
    explicit EngineFault(std::string text) : Failure(std::move(text), 255, true) {}
};

// A numeric failure that cannot be handled (allocation failure, a singular
// matrix in ludcmp). The text is the three lines the kernels write. Status 1.
class NumericError : public Failure {
  public:
    explicit NumericError(std::string text) : Failure(std::move(text), 1, true) {}
};

// A structure that `velmora fit` was asked to estimate and that cannot be
// estimated (the summary says why). Exit status 2, like a refused structure.
class NotEstimable : public Failure {
  public:
    explicit NotEstimable(std::string text) : Failure(std::move(text), 2) {}
};

// A result file that could not be written whole (full disk, no permission,
// ...): the text names each file with the system's reason. Exit status 3.
class WriteError : public Failure {
  public:
    explicit WriteError(std::string text) : Failure(std::move(text), kWriteFailureStatus) {}
};

}  // namespace velmora
