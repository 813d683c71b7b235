#pragma once
// The threshold-model application seen by the genetic engine: the hooks, the
// objective over a batch of individuals, and the report of the best model.
// The engine knows nothing of the model; everything about it lives here and
// in src/model.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "data/series.hpp"
#include "engine/hooks.hpp"
#include "model/estimate.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"
#include "output/report/model_report.hpp"

namespace velmora {

// The sixteen field codes of a chromosome, read with getfield.
FieldCodes read_field_codes(const std::uint32_t* chrom, const ChromosomeLayout& layout);

// What a user wants to read about a structure: its decoded form, the fitted
// model (thresholds, regime sizes of the last pass, status), criterion and
// fitness.
struct StructureSummary {
    ModelStructure structure;
    FittedModel model;
    double criterion = 0.0;
    double fitness = 0.0;
};

// A summary as bytes and back, whole (model/fitted_model.hpp).
void write_structure_summary(ByteWriter& out, const StructureSummary& summary);
StructureSummary read_structure_summary(ByteReader& in);

// Summarises a fitted model.
StructureSummary summarize_model(FittedModel model);
// Estimates the structure and summarises it.
StructureSummary summarize_structure(const ModelProblem& problem, const ModelStructure& structure);

class ThresholdApp final : public AppHooks {
  public:
    // threads: evaluation threads for objfunc (1 evaluates on the caller's
    // thread); cache: remember criteria of structures already estimated.
    explicit ThresholdApp(const ModelProblem& problem, int threads = 1, bool cache = true);
    ~ThresholdApp() override;
    ThresholdApp(const ThresholdApp&) = delete;
    ThresholdApp& operator=(const ThresholdApp&) = delete;

    void app_init(EngineParams& params) override;
    void app_set_field_sizes(std::vector<int>& field_sizes) override;
    void objfunc(std::span<individual* const> members, const ChromosomeLayout& layout) override;
    void app_final_report(const individual& best, const ChromosomeLayout& layout) override;

    // Estimator calls made by objfunc so far.
    long long estimations() const noexcept;
    // Evaluations answered without estimating (the cache, or a structure met
    // twice in one batch).
    long long estimations_saved() const noexcept;
    // What the last app_final_report wrote and failed to write.
    const ReportOutcome& last_report() const noexcept;

    const ModelProblem& problem() const noexcept { return problem_; }

  private:
    class Impl;
    ModelProblem problem_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
