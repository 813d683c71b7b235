#include "diagnostics/model_diagnostics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>

#include "diagnostics/companion.hpp"
#include "support/format.hpp"

namespace velmora::diagnostics {

namespace {

using std::size_t;

// Each regime's fit at its own order in the model, when its residuals are
// complete.
std::vector<const RegimeFit*> final_regimes(const FittedModel& model) {
    std::vector<const RegimeFit*> out;
    if (!model.estimated() || model.m < 1 || model.passes.size() < static_cast<size_t>(model.m)) {
        return out;
    }
    const size_t k = static_cast<size_t>(model.k);
    for (int r = 1; r <= model.n_regime; ++r) {
        const RegimeFit& fit = model.regime(r);
        out.push_back(fit.residuals.size() == fit.times.size() * k ? &fit : nullptr);
    }
    return out;
}

}  // namespace

std::vector<double> residuals_in_time_order(const FittedModel& model) {
    const size_t k = static_cast<size_t>(model.k);
    struct Row {
        int time;
        const double* values;
    };
    std::vector<Row> rows;
    for (const RegimeFit* fit : final_regimes(model)) {
        if (fit == nullptr) {
            continue;
        }
        for (size_t i = 0; i < fit->times.size(); ++i) {
            rows.push_back({fit->times[i], fit->residuals.data() + i * k});
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.time < b.time; });
    std::vector<double> out;
    out.reserve(rows.size() * k);
    for (const Row& row : rows) {
        out.insert(out.end(), row.values, row.values + k);
    }
    return out;
}

ModelDiagnostics diagnose(const FittedModel& model, const DiagnosticsOptions& options) {
    ModelDiagnostics out;
    out.k = model.k;
    out.order = model.m;
    const std::vector<const RegimeFit*> regimes = final_regimes(model);
    const std::vector<double> residuals = residuals_in_time_order(model);
    out.observations = model.k > 0 ? static_cast<int>(residuals.size()) / model.k : 0;
    out.portmanteau = portmanteau_test(residuals, model.k, options.portmanteau_lags, model.m);
    out.normality = normality_test(residuals, model.k);
    out.arch = arch_test(residuals, model.k, options.arch_lags);
    for (size_t r = 0; r < regimes.size(); ++r) {
        const RegimeFit* fit = regimes[r];
        if (fit == nullptr) {
            out.normality_by_regime.push_back(normality_test({}, model.k));
            out.companion_moduli.emplace_back();
            out.explosive.push_back(false);
            continue;
        }
        out.normality_by_regime.push_back(normality_test(fit->residuals, model.k));
        // The companion matrix of the regime's own order.
        std::vector<double> moduli =
            companion_moduli(fit->phi, model.k, model.order(static_cast<int>(r) + 1));
        out.explosive.push_back(!moduli.empty() && moduli.front() >= 1.0);
        out.companion_moduli.push_back(std::move(moduli));
    }
    return out;
}

}  // namespace velmora::diagnostics
