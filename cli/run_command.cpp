// velmora run: one search with the parameters given on the command line.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/prepare.hpp"
#include "cli/commands.hpp"
#include "support/console.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

namespace {

struct RunCommandState {
    RunConfig config;
    std::filesystem::path workdir = ".";
    int scaling_window = 0;
    std::string selection = "roulette";
    std::string crossover = "one-point";
    std::string scaling = "linear";
};

// The choice names in the order of the parameter dialog's radio buttons.
const std::vector<std::string> selection_names{"roulette", "remainder", "tournament", "sus"};
const std::vector<std::string> crossover_names{"one-point", "two-point", "uniform"};
const std::vector<std::string> scaling_names{"linear", "boltzmann", "autocontrol", "sigma",
                                             "window"};

int index_of(const std::vector<std::string>& names, const std::string& name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (CLI::detail::to_lower(names[i]) == CLI::detail::to_lower(name)) {
            return static_cast<int>(i);
        }
    }
    return -1;  // cannot happen: CLI11 has already checked membership
}

void ensure_workdir(const std::filesystem::path& workdir) {
    std::error_code ec;
    std::filesystem::create_directories(workdir, ec);
    if (ec || !std::filesystem::is_directory(workdir)) {
        throw ConfigError(
            strprintf("Working directory %s could not be created", workdir.string().c_str()));
    }
}

void execute(RunCommandState& state) {
    state.config.scaling_window = state.scaling_window;
    state.config.selection_choice = index_of(selection_names, state.selection);
    state.config.crossover_choice = index_of(crossover_names, state.crossover);
    state.config.scaling_method = index_of(scaling_names, state.scaling);
    ensure_workdir(state.workdir);
    StdConsole console;
    PreparedRun run = prepare_run(state.config, state.workdir, console);
    run.output_file.close();
    std::fprintf(stderr,
                 "velmora: the run was prepared (%s written); the genetic search itself is not "
                 "built yet.\n",
                 (state.workdir / "Output.txt").string().c_str());
}

}  // namespace

void add_run_command(CLI::App& app) {
    auto state = std::make_shared<RunCommandState>();
    RunConfig& c = state->config;
    CLI::App* run = app.add_subcommand(
        "run",
        "Search for the best threshold model of a series: a genetic algorithm evolves model "
        "structures for a number of generations and the best one is estimated and reported.");

    run->add_option("--selection", state->selection,
                    "How parents are chosen: roulette (roulette wheel), remainder (stochastic "
                    "remainder), tournament (best of --tourneysize random members) or sus "
                    "(stochastic universal sampling)")
        ->check(CLI::IsMember(selection_names, CLI::ignore_case))
        ->type_name("NAME")
        ->capture_default_str();
    run->add_option("--tourneysize", c.tourneysize,
                    "Members competing in each tournament; with --selection tournament it must "
                    "lie between 1 and the population size")
        ->capture_default_str();
    run->add_option("--crossover", state->crossover,
                    "How two parents mix their structures: one-point, two-point or uniform "
                    "(exchanges happen only between whole fields)")
        ->check(CLI::IsMember(crossover_names, CLI::ignore_case))
        ->type_name("NAME")
        ->capture_default_str();
    run->add_option("--scaling", state->scaling,
                    "How fitness is rescaled before selection: linear (uses --scalemult), "
                    "boltzmann (uses --beta), autocontrol (automatic control of the selection "
                    "pressure; needs --selection sus), sigma (sigma truncation, uses "
                    "--sigma-trunc) or window (uses --scaling-window)")
        ->check(CLI::IsMember(scaling_names, CLI::ignore_case))
        ->type_name("NAME")
        ->capture_default_str();
    run->add_option("--scalemult", c.scalemult,
                    "Linear scaling: how many times the average fitness the best member gets; "
                    "must be greater than 1")
        ->capture_default_str();
    run->add_option("--beta", c.beta,
                    "Boltzmann scaling: the temperature constant, 0 or more (automatic control "
                    "only logs it)")
        ->capture_default_str();
    run->add_option("--sigma-trunc", c.sigma_trunc,
                    "Sigma truncation: how many standard deviations below the mean fitness are "
                    "cut off; must not be 0")
        ->capture_default_str();
    run->add_option("--scaling-window", state->scaling_window,
                    "Window scaling: over how many generations the worst fitness is remembered, "
                    "0 or more")
        ->capture_default_str();
    run->add_option("--maxgen", c.maxgen,
                    "Number of generations to breed (0 evaluates only the random start "
                    "population and reports no model)")
        ->capture_default_str();
    run->add_option("--pcross", c.pcross, "Probability that two parents are crossed (0 to 1)")
        ->capture_default_str();
    run->add_option("--pmutation", c.pmutation,
                    "Probability that a field of a child is mutated (0 to 1)")
        ->capture_default_str();
    run->add_option("--popsize", c.popsize,
                    "Number of candidate structures in each generation (an odd number is raised "
                    "by one, the least is 2)")
        ->capture_default_str();
    add_problem_options(*run, c, state->workdir);

    run->callback([state] { execute(*state); });
}

}  // namespace velmora::cli
