#pragma once
// The jobs file of `velmora batch`: one job per line, a name and then the
// arguments of `velmora run` or `velmora fit` as a user would type them in a
// shell, with the shell's quoting but without any of its expansions (no
// variables, globs, tildes or command substitution), so a file means the same
// on every machine and in every rank.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::batch {

struct Job {
    std::string name;                    // [A-Za-z0-9._-], unique, the job's folder
    std::string command;                 // "run" or "fit"
    std::vector<std::string> arguments;  // after the command, as split
    int line = 0;                        // 1-based line of the jobs file
    // The value the job gives --seed itself, when it does.
    std::optional<std::string> own_seed;
    // Whether the job names a charts folder itself (--charts).
    bool own_charts = false;
};

// Splits one line into words as a POSIX shell would before expansion: blanks
// separate words; '…' keeps everything literally; "…" keeps everything except
// that a backslash escapes \, ", $ and `; a backslash outside quotes keeps the
// next character; a word starting with # begins a comment. Throws
// std::invalid_argument with a short reason for an unclosed quote or a
// backslash that ends the line.
std::vector<std::string> split_shell_words(std::string_view line);

// Options a job may not give, because the batch sets them for every job.
inline constexpr std::string_view kBatchOwnedOptions[] = {"--workdir", "--threads", "--json"};

// The jobs of a file's text, in the file's order. `label` names the file in
// messages. A line that cannot be a job is refused as a ConfigError
// "<label> line N: <reason>" before anything runs.
std::vector<Job> parse_jobs(std::string_view text, const std::string& label);

// Reads and parses the jobs file, named `label` in messages; a file that
// cannot be read or holds no job is a ConfigError.
std::vector<Job> read_jobs_file(const std::filesystem::path& path, const std::string& label);

// The seed of a job that does not give --seed: a hash (FNV-1a, 64 bits) of
// the batch's seed and the job's name, mapped onto 0 to 999. Depending on the
// name rather than the line, it survives reordering the file or adding jobs.
int derived_seed(std::uint64_t batch_seed, std::string_view name);

}  // namespace velmora::batch
