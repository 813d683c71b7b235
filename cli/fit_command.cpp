// Placeholder, replaced by the real command.
#include "cli/commands.hpp"

namespace velmora::cli {

void add_fit_command(CLI::App& app) { app.add_subcommand("fit", "not built yet"); }

}  // namespace velmora::cli
