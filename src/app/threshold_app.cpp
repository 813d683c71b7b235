#include "app/threshold_app.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "model/structure_key.hpp"
#include "support/executor.hpp"
#include "support/format.hpp"
#include "support/parallel.hpp"

namespace velmora {

FieldCodes read_field_codes(const std::uint32_t* chrom, const ChromosomeLayout& layout) {
    FieldCodes codes{};
    for (int i = 0; i < kNumFields; ++i) {
        codes[static_cast<std::size_t>(i)] = getfield(i, layout, chrom);
    }
    return codes;
}

void write_structure_summary(ByteWriter& out, const StructureSummary& summary) {
    write_structure(out, summary.structure);
    write_fitted_model(out, summary.model);
    out.f64(summary.criterion);
    out.f64(summary.fitness);
}

StructureSummary read_structure_summary(ByteReader& in) {
    StructureSummary summary;
    summary.structure = read_structure(in);
    summary.model = read_fitted_model(in);
    summary.criterion = in.f64();
    summary.fitness = in.f64();
    return summary;
}

StructureSummary summarize_model(FittedModel model) {
    StructureSummary out;
    out.structure = model.given;
    out.criterion = model.criterion;
    out.fitness = fitness_of({model.status, model.criterion});
    out.model = std::move(model);
    return out;
}

StructureSummary summarize_structure(const ModelProblem& problem, const ModelStructure& structure) {
    return summarize_model(estimate(problem, structure));
}

namespace {

// One structure to estimate and where its criterion goes.
struct EvaluationJob {
    ModelStructure structure;
    CriterionResult result;
};

// The estimates of a batch on a pool kept for the run. Each worker owns a
// workspace, so estimates never share scratch; an estimate draws no random
// numbers and depends only on its structure, so results are the same
// whichever worker takes a job.
class EvaluationPool {
  public:
    EvaluationPool(const ModelProblem& problem, int threads)
        : problem_(problem), pool_(std::max(1, threads)) {
        workspaces_.reserve(static_cast<std::size_t>(pool_.size()));
        for (int i = 0; i < pool_.size(); ++i) {
            workspaces_.push_back(std::make_unique<EstimationWorkspace>(problem_));
        }
    }

    EstimationWorkspace& main_workspace() { return *workspaces_[0]; }

    // Estimates every job; rethrows the first failure.
    void run(std::vector<EvaluationJob>& jobs) {
        pool_.run(static_cast<long long>(jobs.size()), [&](long long i, int worker) {
            EvaluationJob& job = jobs[static_cast<std::size_t>(i)];
            job.result = estimate_criterion(
                problem_, *workspaces_[static_cast<std::size_t>(worker)], job.structure);
        });
    }

  private:
    const ModelProblem& problem_;
    WorkerPool pool_;
    std::vector<std::unique_ptr<EstimationWorkspace>> workspaces_;
};

}  // namespace

class ThresholdApp::Impl {
  public:
    Impl(const ModelProblem& problem, int threads, bool cache)
        : pool(problem, threads), use_cache(cache) {}

    EvaluationPool pool;
    bool use_cache;
    std::unordered_map<StructureKey, CriterionResult, StructureKeyHash> cache;
    long long estimations = 0;
    long long saved = 0;

    // Per-batch scratch, kept to avoid reallocating every generation.
    std::vector<EvaluationJob> jobs;
    std::vector<int> job_of_member;  // index into jobs, or -1 when cached
    std::vector<CriterionResult> cached_result;
    ReportOutcome last_report;
    std::vector<StructureKey> job_keys;
    std::unordered_map<StructureKey, int, StructureKeyHash> batch_index;
};

ThresholdApp::ThresholdApp(const ModelProblem& problem, int threads, bool cache)
    : problem_(problem), impl_(std::make_unique<Impl>(problem_, threads, cache)) {}

ThresholdApp::~ThresholdApp() = default;

void ThresholdApp::app_init(EngineParams& params) {
    params.stochastic_fitness = 0;
    params.elitist = params.stochastic_fitness == 0 ? 1 : 0;
}

void ThresholdApp::app_set_field_sizes(std::vector<int>& field_sizes) {
    const auto sizes = structure_field_sizes(problem_.n_oss);
    const std::size_t count = std::min(field_sizes.size(), sizes.size());
    for (std::size_t i = 0; i < count; ++i) {
        field_sizes[i] = sizes[i];
    }
}

void ThresholdApp::objfunc(std::span<individual* const> members, const ChromosomeLayout& layout) {
    Impl& im = *impl_;
    im.jobs.clear();
    im.job_keys.clear();
    im.batch_index.clear();
    im.job_of_member.assign(members.size(), -1);
    im.cached_result.assign(members.size(), CriterionResult{});

    // Decoding reads the chromosomes on this thread, in member order; only
    // the estimates go to the pool.
    for (std::size_t i = 0; i < members.size(); ++i) {
        const ModelStructure structure = decode_structure(
            read_field_codes(members[i]->chrom, layout), problem_.threshold_components);
        if (!im.use_cache) {
            im.job_of_member[i] = static_cast<int>(im.jobs.size());
            im.jobs.push_back({structure, {}});
            continue;
        }
        const StructureKey key = structure_key(problem_, structure);
        if (const auto hit = im.cache.find(key); hit != im.cache.end()) {
            im.cached_result[i] = hit->second;
            ++im.saved;
            continue;
        }
        // A structure met twice in one batch is estimated once.
        const auto [slot, inserted] =
            im.batch_index.try_emplace(key, static_cast<int>(im.jobs.size()));
        if (inserted) {
            im.jobs.push_back({structure, {}});
            im.job_keys.push_back(key);
        } else {
            ++im.saved;
        }
        im.job_of_member[i] = slot->second;
    }

    im.pool.run(im.jobs);
    im.estimations += static_cast<long long>(im.jobs.size());

    if (im.use_cache) {
        for (std::size_t j = 0; j < im.jobs.size(); ++j) {
            im.cache.emplace(im.job_keys[j], im.jobs[j].result);
        }
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
        const int job = im.job_of_member[i];
        const CriterionResult& result =
            job >= 0 ? im.jobs[static_cast<std::size_t>(job)].result : im.cached_result[i];
        members[i]->raw_fitness = fitness_of(result);
    }
}

void ThresholdApp::app_final_report(const individual& best, const ChromosomeLayout& layout) {
    const ModelStructure structure =
        decode_structure(read_field_codes(best.chrom, layout), problem_.threshold_components);
    const FittedModel model = estimate(problem_, impl_->pool.main_workspace(), structure);
    impl_->last_report =
        write_model_report(model, problem_.replication, problem_.result_dir, problem_.console);
}

long long ThresholdApp::estimations() const noexcept {
    return impl_->estimations;
}
long long ThresholdApp::estimations_saved() const noexcept {
    return impl_->saved;
}
const ReportOutcome& ThresholdApp::last_report() const noexcept {
    return impl_->last_report;
}

}  // namespace velmora
