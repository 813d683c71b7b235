#pragma once
// The files a run or a fit reads and writes of its own, which no output the
// user names may replace, and whether two names lead to one file.

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

// The run log, the parameter file a search opens when it exists, and the
// folder of the refined model's result files, in a working directory.
std::filesystem::path run_log_path(const std::filesystem::path& workdir);
std::filesystem::path parameter_file_path(const std::filesystem::path& workdir);
std::filesystem::path refined_dir(const std::filesystem::path& workdir);

// A file the command reads or writes of its own, which no output the user
// names may replace; `what` names it in a message ("the course file").
struct OwnFile {
    std::filesystem::path path;
    std::string what;
};

// The files of a run or a fit: the course file, Output.txt, inputonepop2.txt
// and the six result files of workdir and of workdir/refined.
std::vector<OwnFile> command_files(const std::filesystem::path& course_file,
                                   const std::filesystem::path& workdir);

// Throws ConfigError when the course file is one of the other files of
// command_files (the run log, inputonepop2.txt, a result file of workdir or
// of workdir/refined) under any name: a run or a fit would overwrite or
// append to the series it reads. Touches no file.
void refuse_course_file_among_own_files(const std::filesystem::path& course_file,
                                        const std::filesystem::path& workdir);

// Whether two names lead to the same file: the same path once made absolute
// and normal ("./x", "d/../x" and "x"; symbolic links followed), or, when
// both exist, the same file by another name (a hard link).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace velmora
