#include "cli/command_steps.hpp"

#include <system_error>
#include <vector>

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

void ensure_workdir(const std::filesystem::path& workdir) {
    std::error_code ec;
    std::filesystem::create_directories(workdir, ec);
    if (ec || !std::filesystem::is_directory(workdir)) {
        throw ConfigError(
            strprintf("Working directory %s could not be created", workdir.string().c_str()));
    }
}

void request_after_model(PipelineRequest& request, const InferenceChoices& inference,
                         const AnalysisRequest& analysis, const rolling::RollingRequest& rolling,
                         std::uint64_t seed, int threads, const std::atomic<bool>* stop,
                         StageProgress& stage_line, const Spread& spread) {
    request.inference = inference_options(inference, seed, threads, stop, &stage_line);
    request.diagnostics = inference.diagnostics;
    request.analysis = analysis;
    request.inference.executor = spread.executor;
    request.analysis_settings = analysis_settings(seed, threads, stop, stage_line);
    request.analysis_settings.executor = spread.executor;
    request.rolling = rolling;
    // What follows the search may fail step by step: each failure is named
    // and listed, and the steps that succeeded keep their results and files.
    request.step_failed = [](const StepFailure& failure) {
        std::vector<StepFailure> shown;
        note_step_failure(shown, failure.step, shown_message(failure));
    };
    request.analysed = [&stage_line](const AnalysisResult& result) {
        stage_line.finish();
        warn_non_finite(result);
    };
}

}  // namespace velmora::cli
