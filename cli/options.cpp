#include "cli/commands.hpp"

namespace velmora::cli {

void add_problem_options(CLI::App& command, RunConfig& config, std::filesystem::path& workdir) {
    command
        .add_option("--course-file", config.course_file,
                    "Text file holding the series: numbers separated by blanks or line ends, "
                    "one time point after another (a relative name is taken from the current "
                    "directory)")
        ->capture_default_str();
    command
        .add_option("--n-oss", config.n_oss,
                    "Number of observations (time points) to read from the series file")
        ->capture_default_str();
    command
        .add_option("--n-comp", config.n_comp,
                    "Number of components: the values that make up one time point")
        ->capture_default_str();
    command
        .add_option("--min-oss-reg", config.min_oss_reg,
                    "Least number of observations a regime must hold; a structure with a "
                    "smaller regime gets fitness 0")
        ->capture_default_str();
    command
        .add_option("--m", config.m,
                    "Largest autoregressive order (1 to 4); every order up to it is estimated")
        ->capture_default_str();
    command
        .add_option("--workdir", workdir,
                    "Directory for the files written, created when missing: the result files "
                    "and, for a search, Output.txt (a search also opens inputonepop2.txt there "
                    "when it exists, without reading it)")
        ->capture_default_str();
}

}  // namespace velmora::cli
