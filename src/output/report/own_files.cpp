#include "output/report/own_files.hpp"

#include <system_error>
#include <utility>

#include "output/report/model_report.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

std::filesystem::path run_log_path(const std::filesystem::path& workdir) {
    return workdir / "Output.txt";
}

std::filesystem::path parameter_file_path(const std::filesystem::path& workdir) {
    return workdir / "inputonepop2.txt";
}

std::filesystem::path refined_dir(const std::filesystem::path& workdir) {
    return workdir / "refined";
}

std::vector<OwnFile> command_files(const std::filesystem::path& course_file,
                                   const std::filesystem::path& workdir) {
    std::vector<OwnFile> own{{course_file, "the course file"},
                             {run_log_path(workdir), "the run log"},
                             {parameter_file_path(workdir), "the parameter file"}};
    for (const auto& dir : {workdir, refined_dir(workdir)}) {
        for (const int threshold_variables : {0, 1, 2}) {
            for (auto& file : model_report_paths(dir, threshold_variables)) {
                own.push_back({std::move(file), "a result file"});
            }
        }
    }
    return own;
}

namespace {

// The path a name leads to: made absolute (a relative name with no existing
// part would otherwise stay relative), symbolic links followed, also one
// that leads nowhere yet (writing through it would create its target), and
// "." and ".." resolved.
std::filesystem::path resolved(std::filesystem::path path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    path = fs::absolute(path, ec);
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            break;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : canonical;
}

}  // namespace

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (resolved(a) == resolved(b)) {
        return true;
    }
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

void refuse_course_file_among_own_files(const std::filesystem::path& course_file,
                                        const std::filesystem::path& workdir) {
    const std::vector<OwnFile> own = command_files(course_file, workdir);
    for (std::size_t i = 1; i < own.size(); ++i) {
        if (same_file(course_file, own[i].path)) {
            throw ConfigError(strprintf(
                "Course file %s is %s %s, which the command writes: keep the series in a file "
                "of its own",
                course_file.c_str(), own[i].what.c_str(), own[i].path.c_str()));
        }
    }
}

}  // namespace velmora
