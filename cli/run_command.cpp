// Placeholder, replaced by the real command.
#include "cli/commands.hpp"

namespace velmora::cli {

void add_run_command(CLI::App& app) { app.add_subcommand("run", "not built yet"); }

}  // namespace velmora::cli
