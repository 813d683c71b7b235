#pragma once
// Files a command writes at paths the user names, beside its own files: the
// JSON summary, the history, the regimes, forecast and impulse-response CSV
// files. Each is checked before anything is written (a FIFO would block the
// command, a device swallow its text, and a path that leads to the course
// file or a result file would destroy it) and written whole or not at all,
// its failure named with the system's reason.

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "output/report/own_files.hpp"
#include "support/text_file.hpp"

namespace velmora {

// The failures as the JSON summaries list them: [{path, reason}].
nlohmann::json files_failed_json(const std::vector<FileFailure>& failures);

class ExtraOutputs {
  public:
    explicit ExtraOutputs(std::vector<OwnFile> own) : own_(std::move(own)) {}

    // An output the user named: label starts its messages ("JSON summary"),
    // what names it in another output's message ("the JSON summary"). An
    // empty path is ignored.
    void add(std::string label, std::string what, std::filesystem::path path);

    // Throws ConfigError when an output exists and is not a regular file
    // ("<label> <path> is a FIFO, not a regular file"), or leads to one of the
    // command's own files or to another output ("<label> <path> would
    // overwrite <what> <file>"). Touches no file.
    void check_paths() const;

    // Throws ConfigError("<label> <path> could not be created") unless every
    // output can be created; a file that did not exist before is removed
    // again, an existing one is left as it is.
    void check_creatable() const;

    // Replaces the output at path with text, whole or not at all. Returns ""
    // when it was written; otherwise records the failure and returns the line
    // "<label> <path> could not be written: <reason>" (without a line end).
    std::string write(const std::filesystem::path& path, std::string_view text);

    // Records a failure of an output written in pieces (the history) and
    // returns its line as write does.
    std::string note_failure(const std::filesystem::path& path, const std::string& reason);

    // The outputs that could not be written, in the order they failed.
    const std::vector<FileFailure>& failed() const noexcept { return failed_; }

    // Writes a JSON summary through write(), after adding to its
    // `files_failed` (created when absent) the outputs that failed before it.
    std::string write_json(const std::filesystem::path& path, nlohmann::json summary);

  private:
    struct Output {
        std::string label;
        std::string what;
        std::filesystem::path path;
    };
    const Output& output(const std::filesystem::path& path) const;

    std::vector<OwnFile> own_;
    std::vector<Output> outputs_;
    std::vector<FileFailure> failed_;
};

}  // namespace velmora
