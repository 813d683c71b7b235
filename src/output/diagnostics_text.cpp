#include "output/diagnostics_text.hpp"

#include <cmath>
#include <cstddef>

#include "support/format.hpp"

namespace velmora::diagnostics {

namespace {

using std::size_t;

nlohmann::json number(double value) {
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

nlohmann::json normality_json(const NormalityTest& test) {
    return {{"statistic", number(test.statistic)},
            {"degrees_of_freedom", test.degrees_of_freedom},
            {"p_value", number(test.p_value)},
            {"skewness_statistic", number(test.skewness_statistic)},
            {"kurtosis_statistic", number(test.kurtosis_statistic)},
            {"observations", test.observations}};
}

std::string figure(const char* format, double value) {
    return std::isfinite(value) ? strprintf(format, value) : std::string("n/a");
}

}  // namespace

nlohmann::json diagnostics_json(const ModelDiagnostics& d) {
    using nlohmann::json;
    const PortmanteauTest& q = d.portmanteau;
    const ArchTest& a = d.arch;
    json by_regime = json::array();
    for (const NormalityTest& test : d.normality_by_regime) {
        by_regime.push_back(normality_json(test));
    }
    json moduli = json::array();
    for (const std::vector<double>& regime : d.companion_moduli) {
        json values = json::array();
        for (double value : regime) {
            values.push_back(number(value));
        }
        moduli.push_back(std::move(values));
    }
    json explosive = json::array();
    for (bool flag : d.explosive) {
        explosive.push_back(flag);
    }
    return {
        {"observations", d.observations},
        {"portmanteau",
         {{"lags", q.lags},
          {"statistic", number(q.statistic)},
          {"adjusted_statistic", number(q.adjusted_statistic)},
          {"degrees_of_freedom", q.degrees_of_freedom},
          {"p_value", number(q.p_value)},
          {"adjusted_p_value", number(q.adjusted_p_value)}}},
        {"normality", normality_json(d.normality)},
        {"normality_by_regime", std::move(by_regime)},
        {"arch",
         {{"lags", a.lags},
          {"statistic", number(a.statistic)},
          {"degrees_of_freedom", a.degrees_of_freedom},
          {"p_value", number(a.p_value)},
          {"observations", a.observations}}},
        {"companion_moduli", std::move(moduli)},
        {"explosive", std::move(explosive)},
    };
}

std::string format_diagnostics_summary(const ModelDiagnostics& d, const std::string& indent) {
    std::string text;
    const PortmanteauTest& q = d.portmanteau;
    if (q.computed) {
        text += indent + strprintf(
                             "Portmanteau test, %d lags over %d residuals in time order: Q = "
                             "%.4f, adjusted %.4f, %d degrees of freedom, p-values %s and %s.\n",
                             q.lags, q.observations, q.statistic, q.adjusted_statistic,
                             q.degrees_of_freedom, figure("%.4f", q.p_value).c_str(),
                             figure("%.4f", q.adjusted_p_value).c_str());
    } else {
        text += indent + strprintf(
                             "Portmanteau test, %d lags: not computed (%d residuals, or their "
                             "covariance is singular).\n",
                             q.lags, q.observations);
    }
    const NormalityTest& n = d.normality;
    std::string regimes;
    for (size_t r = 0; r < d.normality_by_regime.size(); ++r) {
        const NormalityTest& g = d.normality_by_regime[r];
        regimes +=
            strprintf("%s regime %zu %s (p %s)", r == 0 ? "" : ",", r + 1,
                      figure("%.4f", g.statistic).c_str(), figure("%.4f", g.p_value).c_str());
    }
    text += indent + strprintf(
                         "Normality test (Jarque-Bera, Cholesky-orthogonalised): %s, %d degrees "
                         "of freedom, p-value %s; by regime:%s.\n",
                         figure("%.4f", n.statistic).c_str(), n.degrees_of_freedom,
                         figure("%.4f", n.p_value).c_str(), regimes.c_str());
    const ArchTest& a = d.arch;
    text += indent + strprintf("ARCH-LM test, %d lags: %s, %d degrees of freedom, p-value %s.\n",
                               a.lags, figure("%.4f", a.statistic).c_str(), a.degrees_of_freedom,
                               figure("%.4f", a.p_value).c_str());
    for (size_t r = 0; r < d.companion_moduli.size(); ++r) {
        const std::vector<double>& moduli = d.companion_moduli[r];
        std::string values;
        for (size_t i = 0; i < moduli.size(); ++i) {
            values += strprintf("%s%.4f", i == 0 ? " " : ", ", moduli[i]);
        }
        text +=
            indent + strprintf("Regime %zu companion eigenvalue moduli:%s%s\n", r + 1,
                               moduli.empty() ? " not computed" : values.c_str(),
                               d.explosive[r] ? " (explosive: the largest is at least 1)." : ".");
    }
    return text;
}

}  // namespace velmora::diagnostics
