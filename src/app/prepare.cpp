#include "app/prepare.hpp"

#include <algorithm>
#include <vector>

#include "app/validate.hpp"
#include "data/series.hpp"
#include "output/report/model_report.hpp"
#include "output/report/own_files.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

PreparedRun prepare_run(const RunConfig& config, const std::filesystem::path& workdir,
                        Console& console, const LoadedSeries* loaded, const Validation* validated) {
    const Validation validation = validated != nullptr ? *validated : validate(config);
    validation.enforce(CheckPoint::configuration);
    const RunMethods methods = methods_of(config);

    PreparedRun run;
    run.workdir = workdir;
    run.n_oss = config.n_oss;
    run.n_comp = config.n_comp;
    run.model = config.model;

    // Before the run log is begun: it may be the series itself.
    refuse_course_file_among_own_files(config.course_file, workdir);
    // Opening a FIFO blocks until someone opens its other end, and a device
    // may swallow or return without end: every file a run opens must be a
    // regular file or absent, checked before anything is written.
    if (const std::string kind = special_file_kind(run_log_path(workdir)); !kind.empty()) {
        console.out("ciao\n");
        throw ConfigError(
            strprintf("Output.txt could not be created in %s: it is %s, not a "
                      "regular file",
                      workdir.string().c_str(), kind.c_str()));
    }
    std::vector<std::filesystem::path> others{parameter_file_path(workdir)};
    for (const int threshold_variables : {0, 1, 2}) {
        // The refined model's report goes to refined/.
        for (const auto& dir : {workdir, refined_dir(workdir)}) {
            for (const auto& file : model_report_paths(dir, threshold_variables)) {
                others.push_back(file);
            }
        }
    }
    for (const auto& file : others) {
        if (const std::string kind = special_file_kind(file); !kind.empty()) {
            throw ConfigError(
                strprintf("%s is %s, not a regular file; a run reads and writes "
                          "only regular files",
                          file.string().c_str(), kind.c_str()));
        }
    }

    run.output_file = TextFile(run_log_path(workdir), "w");
    if (!run.output_file.is_open()) {
        console.out("ciao\n");
        throw ConfigError(
            strprintf("Output.txt could not be created in %s", workdir.string().c_str()));
    }
    run.input_file = TextFile(parameter_file_path(workdir), "r");
    if (!run.input_file.is_open()) {
        console.out("File inputonepop2.txt could not be opened\n");
    }

    EngineParams& p = run.params;
    p = EngineParams{};
    p.report_level = 0;
    p.start_gen = 0;
    p.n_replications = 1;
    p.numfields = 16;

    p.maxgen = config.maxgen;
    p.popsize = config.popsize;
    p.pcross = static_cast<float>(config.pcross);
    p.pmutation = static_cast<float>(config.pmutation);
    p.tourneysize = config.tourneysize;

    p.selection = methods.selection;
    p.crossover = methods.crossover;
    p.mutation = methods.mutation;

    TextFile& log = run.output_file;
    log.printf("MaxGen =%d\n", p.maxgen);
    log.printf("popsize =%d\n", p.popsize);
    log.printf("pcross =%.3f\n", p.pcross);
    log.printf("pmutation =%.3f\n", p.pmutation);
    log.printf("Type Crossover =%s\n", row_of(crossover_methods, methods.crossover).log_text);
    log.printf("Type Mutation =%s\n", row_of(mutation_methods, methods.mutation).log_text);
    log.printf("Type Selection =%s\n", row_of(selection_methods, methods.selection).log_text);

    // The constants as entered; the method reads its own.
    p.scaling = scaling_settings(config, methods.scaling);

    log.printf("scaling_window =%d\n", p.scaling.scaling_window);
    log.printf("scalemult =%.3f\n", p.scaling.scalemult);
    log.printf("beta =%.3f\n", p.scaling.beta);
    log.printf("sigma_trunc =%.3f\n", p.scaling.sigma_trunc);
    log.printf("tourneysize =%d\n", p.tourneysize);
    log.printf("n_oss =%d\n", config.n_oss);
    // The header reaches the disk before the series is read, so that an
    // interrupted or failing run leaves it behind.
    log.flush();

    LoadedSeries series;
    if (loaded != nullptr) {
        if (loaded->n_oss() != config.n_oss || loaded->n_comp() != config.n_comp) {
            throw ConfigError(strprintf(
                "The series loaded from %s holds %d observations of %d components, not %d of %d",
                loaded->info.file.c_str(), loaded->n_oss(), loaded->n_comp(), config.n_oss,
                config.n_comp));
        }
        series.serie = double_matrix(1, loaded->n_oss(), 1, loaded->serie.col_hi());
        std::copy(loaded->serie.data(),
                  loaded->serie.data() + static_cast<std::size_t>(loaded->n_oss()) *
                                             static_cast<std::size_t>(loaded->serie.col_hi()),
                  series.serie.data());
        series.info = loaded->info;
    } else {
        SeriesRequest request;
        request.path = config.course_file;
        request.columns = config.columns;
        request.threshold_columns = config.threshold_columns;
        request.n_oss = config.n_oss;
        request.n_comp = config.n_comp;
        series = load_series(request);
        for (const std::string& warning : series.info.warnings) {
            console.err(warning + "\n");
        }
    }
    // The search takes its threshold variables from components 1 and 2, or
    // from the first two threshold columns.
    check_threshold_magnitudes(series.serie, series.info,
                               search_threshold_components(series.info.threshold_components));
    run.serie_matrix = std::move(series.serie);
    run.series_info = std::move(series.info);

    validation.enforce(CheckPoint::scaling);

    log.printf("%s", scaling_log_line(methods.scaling).c_str());
    log.printf("autocontrol_selection =%d\n",
               methods.scaling == ScalingMethod::autocontrol ? 1 : 0);
    log.flush();
    return run;
}

}  // namespace velmora
