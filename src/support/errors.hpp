#pragma once
// The typed failures that end a run. Each carries the exact text the program
// reports for it and the exit status a command-line front end returns; the
// front ends decide where the text goes (standard error, a message box).

#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// The terms a message may name that a front end names its own way (a command
// line by its flags, a dialog by its controls' labels): the columns read,
// thresholds given by value, the analysis' settings and the rolling
// evaluation's. A term that stands for a whole phrase ("the forecast file
// needs a forecast horizon") lets a front end word that phrase its own way.
enum class Term {
    columns,
    threshold_columns,
    thresholds,
    forecast_horizon,
    forecast_paths,
    forecast_file_needs_horizon,
    forecasts_with_paths,
    hold_out,
    hold_out_in_passing,  // "the hold-out check" inside a sentence
    impulse_responses,
    impulse_response_histories,
    impulse_response_repetitions,
    impulse_response_file_needs_horizon,
    impulse_responses_with_histories,
    rolling_origins,
    rolling_window,
    rolling_needs_origins,
};

// A piece of a message: a term as the model words it, or plain text.
struct TermPart {
    std::optional<Term> term;
    std::string text;
};

// The parts one after another, each term worded by name(term).
inline std::string term_text(const std::vector<TermPart>& parts,
                             const std::function<std::string(Term)>& name) {
    std::string out;
    for (const TermPart& part : parts) {
        out += part.term ? name(*part.term) : part.text;
    }
    return out;
}

// The parts as the model words them.
inline std::string term_text(const std::vector<TermPart>& parts) {
    std::string out;
    for (const TermPart& part : parts) {
        out += part.text;
    }
    return out;
}

// A configuration problem that names some of the model's terms, worded as
// the model names them ("Forecast horizon: -1 steps; give 1 or more"); a
// front end that names a term otherwise rebuilds the text from parts().
class TermError : public ConfigError {
  public:
    explicit TermError(std::vector<TermPart> parts)
        : ConfigError(term_text(parts)), parts_(std::move(parts)) {}
    // The term first, then what is wrong with it.
    TermError(Term term, std::string words, std::string rest)
        : TermError(
              std::vector<TermPart>{{term, std::move(words)}, {std::nullopt, std::move(rest)}}) {}
    const std::vector<TermPart>& parts() const noexcept { return parts_; }

  private:
    std::vector<TermPart> parts_;
};

// A step after the search or the fit that failed, and why: the other steps'
// results stand. `step` names it as the JSON's `analysis_errors` does
// ("impulse responses"), `message` is the failure's own text, and `parts`
// its terms when it named some (a TermError).
struct StepFailure {
    std::string step;
    std::string message;
    std::vector<TermPart> parts;
};

// The step's failure of the exception e.
inline StepFailure step_failure(std::string step, const std::exception& e) {
    const auto* named = dynamic_cast<const TermError*>(&e);
    return {std::move(step), e.what(), named ? named->parts() : std::vector<TermPart>{}};
}

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
