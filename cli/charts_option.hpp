#pragma once
// --charts DIR: the desktop program's charts of a run or a fit, drawn into
// SVG and PNG files by the chart program velmora-charts, which velmora runs
// only when charts are asked for (the command line itself loads no Qt).

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace velmora::cli {

// The chart program beside this one; empty when there is none.
std::filesystem::path charts_program();

// Refuses (ConfigError) charts when the chart program is missing, before
// anything is computed: Velmora built without Qt 6 has none.
void check_charts_available(const std::string& directory);

struct ChartsOutcome {
    std::vector<std::string> files;  // written, in order
    std::string failure;             // why drawing failed; empty when it did not
};

// Hands `input` (chart_input_json) to the chart program, which writes the
// charts into `directory` (created when missing).
ChartsOutcome draw_charts(const std::string& directory, const nlohmann::json& input);

// Draws the charts and says so: "Charts: DIR (N files)" on standard output,
// or the failure on standard error. Returns whether every chart was written.
bool write_charts(const std::string& directory, const nlohmann::json& input);

}  // namespace velmora::cli
