#include "app/threshold_app.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "model/structure_key.hpp"
#include "support/format.hpp"

namespace velmora {

FieldCodes read_field_codes(const std::uint32_t* chrom, const ChromosomeLayout& layout) {
    FieldCodes codes{};
    for (int i = 0; i < kNumFields; ++i) {
        codes[static_cast<std::size_t>(i)] = getfield(i, layout, chrom);
    }
    return codes;
}

StructureSummary summarize_structure(const ModelProblem& problem, const ModelStructure& structure) {
    StructureSummary out;
    out.structure = structure;
    EstimationWorkspace workspace(problem);
    out.criterion = estimate_structure(problem, workspace, structure, false, &out.estimate);
    out.fitness = fitness_from_criterion(out.criterion);
    return out;
}

std::string format_structure_summary(const StructureSummary& summary) {
    std::string text;
    const ModelStructure& s = summary.structure;
    const EstimateSummary& e = summary.estimate;
    int n_regime = 0;
    if (s.threshold_variables == 1) {
        n_regime = s.one.n_regime;
        text += strprintf("Threshold variable: component %d at lag %d, %d regimes\n",
                          s.one.which_serie, s.one.threshold_lag, n_regime);
        text += "Thresholds:";
        for (int i = 0; i < n_regime - 1; ++i) {
            text += strprintf(" %f", e.thresholds[static_cast<std::size_t>(i)]);
        }
        text += "\n";
    } else {
        n_regime = s.two.n_regime;
        text += strprintf(
            "Threshold variables: component %d at lag %d and component %d at lag %d, %d "
            "regimes",
            s.two.which_serie1, s.two.Ritardo1, s.two.which_serie2, s.two.Ritardo2, n_regime);
        if (s.two.type_model != 0) {
            text += strprintf(" (type of model %d)", s.two.type_model);
        }
        text += "\n";
        text += strprintf("Thresholds: %f %f\n", e.thresholds[0], e.thresholds[1]);
    }
    text += "Observations per regime:";
    for (int r = 0; r < n_regime; ++r) {
        text += strprintf(" %d", e.observations[static_cast<std::size_t>(r)]);
    }
    if (e.status != EstimateStatus::estimated) {
        text += strprintf(" (order %d)", e.order_reached);
    }
    text += "\n";
    switch (e.status) {
        case EstimateStatus::estimated:
            break;
        case EstimateStatus::too_few_observations:
            text += strprintf(
                "Not estimable: regime %d has fewer observations than the minimum per regime\n",
                e.failed_regime);
            break;
        case EstimateStatus::singular_regression:
            text += strprintf("Not estimable: the regression matrix of regime %d is singular\n",
                              e.failed_regime);
            break;
        case EstimateStatus::singular_covariance:
            if (e.failed_regime > 0) {
                text +=
                    strprintf("Not estimable: the residual covariance of regime %d is singular\n",
                              e.failed_regime);
            } else {
                text += "Not estimable: the overall residual covariance is singular\n";
            }
            break;
    }
    text += strprintf("Criterion: %f  Fitness: %f\n", summary.criterion, summary.fitness);
    return text;
}

class ThresholdApp::Impl {
  public:
    Impl(const ModelProblem& problem, bool cache) : workspace(problem), use_cache(cache) {}

    EstimationWorkspace workspace;
    bool use_cache;
    std::unordered_map<StructureKey, double, StructureKeyHash> cache;
    long long estimations = 0;
    long long saved = 0;
};

ThresholdApp::ThresholdApp(const ModelProblem& problem, int threads, bool cache)
    : problem_(problem), impl_(std::make_unique<Impl>(problem_, cache)) {
    (void)threads;
}

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
    for (individual* member : members) {
        const ModelStructure structure = decode_structure(read_field_codes(member->chrom, layout));
        double aic = 0.0;
        if (impl_->use_cache) {
            const StructureKey key = structure_key(problem_, structure);
            const auto found = impl_->cache.find(key);
            if (found != impl_->cache.end()) {
                aic = found->second;
                ++impl_->saved;
            } else {
                aic = estimate_structure(problem_, impl_->workspace, structure, false);
                ++impl_->estimations;
                impl_->cache.emplace(key, aic);
            }
        } else {
            aic = estimate_structure(problem_, impl_->workspace, structure, false);
            ++impl_->estimations;
        }
        member->raw_fitness = fitness_from_criterion(aic);
    }
}

void ThresholdApp::app_final_report(const individual& best, const ChromosomeLayout& layout) {
    const ModelStructure structure = decode_structure(read_field_codes(best.chrom, layout));
    // The criterion is not used: the report only appends the result files.
    estimate_structure(problem_, impl_->workspace, structure, true);
}

long long ThresholdApp::estimations() const noexcept {
    return impl_->estimations;
}
long long ThresholdApp::estimations_saved() const noexcept {
    return impl_->saved;
}

}  // namespace velmora
