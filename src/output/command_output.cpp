#include "output/command_output.hpp"

#include <cstdio>
#include <utility>

#include "output/analysis_text.hpp"
#include "output/diagnostics_text.hpp"
#include "output/inference_text.hpp"
#include "output/paper_table.hpp"
#include "output/regimes_csv.hpp"
#include "output/rolling_text.hpp"
#include "output/run_summary.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

using nlohmann::json;

// The model the command reports (a run's refined one when refinement ran)
// and whether it has one to write about: a search that bred no generation
// and evaluated no start population has none.
const FittedModel& reported_model(const CommandResults& r) {
    return r.fit ? r.pipeline->search.best.model : r.pipeline->reported();
}

bool has_model(const CommandResults& r) {
    return r.fit || !r.pipeline->search.best_codes.empty();
}

// A search's summary: its models with their inference, diagnostics and tests.
json run_json(const CommandResults& results, const FilesWritten& written,
              const CommandFiles& files) {
    const PipelineResult& pipeline = *results.pipeline;
    const RunResult& result = pipeline.search;
    json summary = run_summary_json(pipeline.searched, *results.search, result);
    summary["parameters"] = results.parameters;
    add_analysis_json(summary, pipeline.analysis);
    if (results.pipeline->rolling) {
        summary["rolling"] =
            rolling::rolling_json(*results.pipeline->rolling, *results.rolling_series);
    }
    summary["analysis_errors"] =
        analysis_errors_json(pipeline.analysis_errors, results.failure_text);
    if (pipeline.best_inference) {
        summary["best"].update(inference::inference_json(*pipeline.best_inference));
    }
    if (pipeline.refined_inference) {
        summary["refined"].update(inference::inference_json(*pipeline.refined_inference));
    }
    if (pipeline.best_diagnostics) {
        summary["best"]["diagnostics"] = diagnostics::diagnostics_json(*pipeline.best_diagnostics);
    }
    if (pipeline.refined_diagnostics) {
        summary["refined"]["diagnostics"] =
            diagnostics::diagnostics_json(*pipeline.refined_diagnostics);
    }
    if (written.tables) {
        summary["files"].push_back(files.tables.string());
    }
    const auto& reported_inference = pipeline.reported_inference();
    if (reported_inference && reported_inference->regime_tests) {
        inference::add_regime_tests_json(summary, *reported_inference->regime_tests);
    }
    return summary;
}

// A fit's summary: the problem, the series, `model` (the same object as
// `best` in a search's summary, with the inference keys), the analysis of
// the model (`forecast`, `holdout`, `girf`, as a run's summary has them)
// and the result files written or not.
json fit_json(const CommandResults& results, const FilesWritten& written,
              const CommandFiles& files) {
    const PipelineResult& pipeline = *results.pipeline;
    const StructureSummary& summary = pipeline.search.best;
    const SeriesInfo& series = *results.series;
    json codes = nullptr;
    if (!results.codes.empty()) {
        codes = results.codes;
    }
    json model = model_json(summary, summary.criterion, summary.fitness, codes);
    if (series.has_names || model.contains("external")) {
        json names = json::array();
        for (int component : threshold_components(summary.structure)) {
            names.push_back(series.component(component));
        }
        model["component_names"] = names;
    }
    if (pipeline.best_inference) {
        model.update(inference::inference_json(*pipeline.best_inference));
    }
    if (pipeline.best_diagnostics) {
        model["diagnostics"] = diagnostics::diagnostics_json(*pipeline.best_diagnostics);
    }
    json written_files = json::array();
    for (const auto& file : results.report->written) {
        written_files.push_back(file.string());
    }
    if (written.tables) {
        written_files.push_back(files.tables.string());
    }
    json out = {
        {"parameters", results.parameters},
        {"series", series_json(series)},
        {"model", model},
        {"files", written_files},
        {"files_failed", files_failed_json(results.report->failed)},
    };
    add_analysis_json(out, pipeline.analysis);
    if (results.pipeline->rolling) {
        out["rolling"] = rolling::rolling_json(*results.pipeline->rolling, *results.rolling_series);
    }
    out["analysis_errors"] = analysis_errors_json(pipeline.analysis_errors, results.failure_text);
    return out;
}

}  // namespace

void add_command_outputs(ExtraOutputs& outputs, const CommandFiles& files) {
    outputs.add("JSON summary", "the JSON summary", files.json);
    outputs.add("History file", "the history file", files.history);
    outputs.add("Regimes file", "the regimes file", files.regimes_csv);
    outputs.add("Tables file", "the tables file", files.tables);
    outputs.add("Forecast file", "the forecast file", files.forecast_csv);
    outputs.add("Impulse-response file", "the impulse-response file", files.girf_csv);
    outputs.add("Rolling file", "the rolling file", files.rolling_csv);
}

bool write_output(ExtraOutputs& outputs, const std::filesystem::path& path,
                  const std::string& text) {
    const std::string failure = outputs.write(path, text);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
    }
    return failure.empty();
}

void write_analysis_outputs(AnalysisResult& result, const AnalysisRequest& request,
                            ExtraOutputs& outputs) {
    if (result.forecast && !request.forecast_csv.empty() &&
        write_output(outputs, request.forecast_csv, forecast_csv_text(result))) {
        result.files.push_back(request.forecast_csv);
    }
    if (result.girf && !request.girf_csv.empty() &&
        write_output(outputs, request.girf_csv, girf_csv_text(result))) {
        result.files.push_back(request.girf_csv);
    }
}

json analysis_errors_json(const std::vector<StepFailure>& failures,
                          const std::function<std::string(const StepFailure&)>& failure_text) {
    json out = json::array();
    for (const StepFailure& failure : failures) {
        out.push_back({{"step", failure.step},
                       {"message", failure_text ? failure_text(failure) : failure.message}});
    }
    return out;
}

bool write_json_summary(ExtraOutputs& outputs, const std::filesystem::path& path, json summary) {
    const std::string failure = outputs.write_json(path, std::move(summary));
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return false;
    }
    std::printf("JSON summary: %s\n", path.c_str());
    return true;
}

json command_json(const CommandResults& results, const CommandFiles& files,
                  const FilesWritten& written) {
    return results.fit ? fit_json(results, written, files) : run_json(results, written, files);
}

FilesWritten write_command_files(const CommandResults& results, const CommandFiles& files,
                                 ExtraOutputs& outputs) {
    PipelineResult& pipeline = *results.pipeline;
    const FittedModel& model = reported_model(results);
    FilesWritten written;
    written.regimes =
        !files.regimes_csv.empty() && has_model(results) &&
        write_output(outputs, files.regimes_csv, format_regimes_csv(model, *results.series));
    AnalysisRequest csv;
    csv.forecast_csv = files.forecast_csv;
    csv.girf_csv = files.girf_csv;
    write_analysis_outputs(pipeline.analysis, csv, outputs);
    if (!files.tables.empty() && model.estimated() && has_model(results)) {
        const bool refined = !results.fit && pipeline.search.refined.has_value();
        PaperTableInput table;
        table.title = results.fit ? "Fitted model" : refined ? "Refined model" : "Best model";
        table.model = &model;
        table.series = results.series;
        const auto& inference = refined ? pipeline.refined_inference : pipeline.best_inference;
        const auto& diagnostics =
            refined ? pipeline.refined_diagnostics : pipeline.best_diagnostics;
        table.inference = inference ? &*inference : nullptr;
        table.diagnostics = diagnostics ? &*diagnostics : nullptr;
        written.tables = write_output(outputs, files.tables,
                                      format_paper_table(table, *table_format_of(files.tables)));
    }
    if (results.pipeline->rolling && !files.rolling_csv.empty()) {
        write_output(outputs, files.rolling_csv,
                     rolling::rolling_csv(*results.pipeline->rolling, *results.rolling_series));
    }
    if (!files.json.empty()) {
        write_json_summary(outputs, files.json, command_json(results, files, written));
    }
    return written;
}

std::string command_closing_text(const CommandResults& results, const CommandFiles& files,
                                 const FilesWritten& written) {
    const PipelineResult& pipeline = *results.pipeline;
    const RunResult& result = pipeline.search;
    std::string text;
    if (written.regimes) {
        text += "Regimes: " + files.regimes_csv.string() + "\n";
    }
    if (!results.fit) {
        const std::vector<std::string> names = result.series.shown_names();
        if (pipeline.best_inference) {
            text += "Beside the linear VAR, the best model:\n" +
                    inference::format_inference_summary(*pipeline.best_inference, names);
        }
        if (pipeline.refined_inference) {
            text += "Beside the linear VAR, the refined model:\n" +
                    inference::format_inference_summary(*pipeline.refined_inference, names);
        }
        const auto& reported_inference = pipeline.reported_inference();
        if (reported_inference && reported_inference->regime_tests) {
            text += regime_choice_note(pipeline.searched, *reported_inference, result.series);
        }
    }
    text += format_analysis(pipeline.analysis);
    if (results.fit && pipeline.best_diagnostics) {
        text += "Residual diagnostics:\n" +
                diagnostics::format_diagnostics_summary(*pipeline.best_diagnostics);
    } else if (!results.fit) {
        if (const auto& shown = pipeline.reported_diagnostics()) {
            text += strprintf("Residual diagnostics of the %s model:\n",
                              result.refined ? "refined" : "best") +
                    diagnostics::format_diagnostics_summary(*shown);
        }
    }
    if (written.tables) {
        text += "Tables: " + files.tables.string() + "\n";
    }
    if (results.pipeline->rolling) {
        text += rolling::format_rolling(*results.pipeline->rolling);
    }
    return text;
}

std::string threshold_position_line(double threshold, int component, int position, double value,
                                    const SeriesInfo& series) {
    const std::string label = series.shown_label(position);
    return strprintf("Threshold %g of %s: position %d (value %f%s%s)\n", threshold,
                     series.shown_component(component).c_str(), position, value,
                     label.empty() ? "" : ", label ", label.c_str());
}

std::string fit_report_text(const StructureSummary& summary, const SeriesInfo& series,
                            const ReportOutcome& report) {
    std::string text = format_series_line(series);
    text += format_structure_summary(summary, &series);
    if (!report.written.empty()) {
        std::string names;
        for (std::size_t i = 0; i < report.written.size(); ++i) {
            if (i > 0) {
                names += i + 1 == report.written.size() ? " and " : ", ";
            }
            names += report.written[i].string();
        }
        text += "Report appended to " + names + "\n";
    }
    return text;
}

std::string report_failures_text(const ReportOutcome& report) {
    std::string text;
    for (const FileFailure& failure : report.failed) {
        text += strprintf("Report not written to %s: %s\n", failure.path.c_str(),
                          failure.reason.c_str());
    }
    return text;
}

std::string fit_inference_text(const RunConfig& config, const inference::ModelInference& inference,
                               const SeriesInfo& series) {
    return "Beside the linear VAR:\n" +
           inference::format_inference_summary(inference, series.shown_names()) +
           "Coefficients at order " + std::to_string(config.model.max_order) +
           " with standard errors, t-values and p-values (Student's t):\n" +
           inference::format_coefficient_tables(inference, series.names()) +
           regime_choice_note(config, inference, series);
}

}  // namespace velmora
