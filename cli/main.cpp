// velmora: the command-line front end.

#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/commands.hpp"
#include "support/errors.hpp"

int main(int argc, char** argv) {
    CLI::App app{
        "Velmora fits multivariate threshold autoregressive models to a time series and lets a "
        "genetic algorithm search their structure (threshold variables, lags, number of "
        "regimes, threshold positions) for the smallest information criterion."};
    app.require_subcommand(1);
    velmora::cli::add_run_command(app);
    velmora::cli::add_fit_command(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    } catch (const velmora::Failure& failure) {
        std::fputs(failure.what(), stderr);
        const std::string text = failure.what();
        if (!text.empty() && text.back() != '\n') {
            std::fputc('\n', stderr);
        }
        return failure.exit_status();
    }
    return 0;
}
