#pragma once
// Preparing a run: the run log with its header, the engine parameter set
// derived from the user's RunConfig, and the observed series.

#include <filesystem>
#include <vector>

#include "app/run_config.hpp"
#include "app/validate.hpp"
#include "data/series.hpp"
#include "engine/params.hpp"
#include "numeric/arrays.hpp"
#include "support/console.hpp"
#include "support/text_file.hpp"

namespace velmora {

// Everything a run needs once it has been prepared. The engine keeps
// references to params and output_file, so the object must outlive the
// replication; it is movable, not copyable.
struct PreparedRun {
    EngineParams params;
    double_matrix serie_matrix;  // rows 1..n_oss, columns 1..n_comp
    SeriesInfo series_info;      // names, labels and rows read of the series
    int n_oss = 0;
    int n_comp = 0;
    ModelDefinition model;
    TextFile output_file;  // "Output.txt", open for writing
    TextFile input_file;   // "inputonepop2.txt", open for reading when it exists
    std::filesystem::path workdir;
};

// Validates config, refuses run files that exist and are not regular files
// (Output.txt, inputonepop2.txt, the six result files, in workdir and in its
// refined/), creates "Output.txt"
// in workdir and writes its header, opens "inputonepop2.txt" of workdir if
// present, derives the engine parameters and reads the course file (a
// relative name is taken from the current directory, not from workdir). The
// fixed standard-output lines go to console. Throws ConfigError on a rejected
// configuration or series; the header lines written before the rejection stay
// in "Output.txt". A series already loaded (when its sizes came from the
// file) is used instead of reading the course file again; its sizes must be
// config's. A run that has validated config already passes its validation,
// so that the configuration is checked once.
PreparedRun prepare_run(const RunConfig& config, const std::filesystem::path& workdir,
                        Console& console, const LoadedSeries* loaded = nullptr,
                        const Validation* validated = nullptr);

}  // namespace velmora
