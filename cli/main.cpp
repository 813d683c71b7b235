// velmora: the command-line front end.

#include <CLI/CLI.hpp>
#include <csignal>
#include <exception>

#include "cli/commands.hpp"

int main(int argc, char** argv) {
    velmora::cli::follow_batch_parent();
    // Past a file size limit a write must fail with EFBIG, so that the
    // append in progress is cut back and the file named, rather than the
    // signal ending the process in the middle of a report.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{
        "Velmora fits multivariate threshold autoregressive models to a time series and lets a "
        "genetic algorithm search their structure (threshold variables, lags, number of "
        "regimes, threshold positions) for the smallest information criterion."};
    app.require_subcommand(1);
    app.footer(
        "Run `velmora run --help` or `velmora fit --help` for the options of a command.\n"
        "Exit status: 0 after a completed command; 2 when the configuration or the series is "
        "refused; 3 when a file could not be written whole; 4 when a step after the search or the "
        "fit failed (the others' results stand); 130 or 143 when SIGINT or SIGTERM "
        "stopped the command; 255 after a fault of the genetic engine; 1 after a numeric failure.");
    int exit_status = 0;
    velmora::cli::add_run_command(app, exit_status);
    velmora::cli::add_fit_command(app, exit_status);
    velmora::cli::add_batch_command(app, exit_status);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    } catch (...) {
        return velmora::cli::report_failure(std::current_exception());
    }
    return exit_status;
}
