#include "app/run_config.hpp"

#include <climits>
#include <cmath>

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

int effective_popsize(int entered) {
    int popsize = entered;
    if (popsize % 2 != 0) {
        ++popsize;
    }
    return popsize < 2 ? 2 : popsize;
}

namespace {

[[noreturn]] void reject(const std::string& text) {
    throw ConfigError(text);
}

void check_probability(double value, const char* label, const char* field) {
    // Written so that NaN fails too.
    if (!(value >= 0.0 && value <= 1.0)) {
        reject(strprintf("%s must be between 0 and 1 (%s = %g)", label, field, value));
    }
}

}  // namespace

void validate_run_config(const RunConfig& c) {
    if (!method_of_choice(selection_methods, c.selection_choice)) {
        reject(strprintf("Selection method must be 0 to %zu (selection_choice = %d)",
                         selection_methods.size() - 1, c.selection_choice));
    }
    if (!method_of_choice(crossover_methods, c.crossover_choice)) {
        reject(strprintf("Crossover method must be 0 to %zu (crossover_choice = %d)",
                         crossover_methods.size() - 1, c.crossover_choice));
    }
    if (!method_of_choice(scaling_methods, c.scaling_method)) {
        reject(strprintf("Scaling method must be 0 to %zu (scaling_method = %d)",
                         scaling_methods.size() - 1, c.scaling_method));
    }
    if (c.n_comp < 2) {
        reject(strprintf("Number of components must be >= 2 (n_comp = %d)", c.n_comp));
    }
    if (c.n_oss < 30) {
        reject(strprintf("Number of observations must be >= 30 (n_oss = %d)", c.n_oss));
    }
    if (c.n_oss > max_n_oss) {
        reject(strprintf("Number of observations must be <= %d (n_oss = %d)", max_n_oss, c.n_oss));
    }
    if (c.m < 1 || c.m > 4) {
        reject(strprintf("Max order VAR must be between 1 and 4 (m = %d)", c.m));
    }
    if (c.min_oss_reg < 2) {
        reject(strprintf("Minimum observations per regime must be >= 2 (min_oss_reg = %d)",
                         c.min_oss_reg));
    }
    if (c.maxgen < 0) {
        reject(strprintf("Number of generations must be >= 0 (maxgen = %d)", c.maxgen));
    }
    if (c.popsize > max_popsize) {
        reject(strprintf("Population size must be <= %d (popsize = %d)", max_popsize, c.popsize));
    }
    check_probability(c.pcross, "Crossover probability", "pcross");
    check_probability(c.pmutation, "Mutation probability", "pmutation");
    if (method_of_choice(selection_methods, c.selection_choice) == SelectionMethod::tournament) {
        // The tournament draws from a shuffled list of the whole population.
        const int popsize = effective_popsize(c.popsize);
        if (c.tourneysize < 1 || c.tourneysize > popsize) {
            reject(strprintf(
                "Tournament size must be between 1 and the population size %d (tourneysize = %d)",
                popsize, c.tourneysize));
        }
    }
    // A non-finite constant would pass its method's own check (sigma "!= 0",
    // scalemult "> 1" for infinity) and turn every scaled fitness into NaN.
    const struct {
        double value;
        const char* label;
        const char* field;
    } constants[] = {{c.scalemult, "Constant of Scaling Linear", "scalemult"},
                     {c.beta, "Bolzman constant", "beta"},
                     {c.sigma_trunc, "Sigma Trouncation constant", "sigma_trunc"}};
    for (const auto& constant : constants) {
        if (!std::isfinite(constant.value)) {
            reject(strprintf("%s must be a finite number (%s = %g)", constant.label, constant.field,
                             constant.value));
        }
    }
    // The window constant is truncated to an int whatever the method.
    if (!(c.scaling_window > double(INT_MIN) - 1.0 && c.scaling_window < double(INT_MAX) + 1.0)) {
        reject(strprintf("Window constant must lie between %d and %d (scaling_window = %g)",
                         INT_MIN, INT_MAX, c.scaling_window));
    }
}

RunMethods methods_of(const RunConfig& config) {
    const auto selection = method_of_choice(selection_methods, config.selection_choice);
    const auto crossover = method_of_choice(crossover_methods, config.crossover_choice);
    const auto scaling = method_of_choice(scaling_methods, config.scaling_method);
    if (!selection || !crossover || !scaling) {
        validate_run_config(config);  // names the field; not reached when it passes
        reject("A method choice is out of range");
    }
    return {*selection, *crossover, *scaling};
}

void apply_scaling_method(ScalingMethod method, int popsize_entered, EngineParams& p) {
    const float entered_scalemult = p.scalemult;
    const double entered_beta = p.beta;
    const float entered_sigma = p.sigma_trunc;
    const int entered_window = p.scaling_window;

    p.autocontrol_selection = 0;
    p.scaling_window = -1;
    p.sigma_trunc = 0.0f;
    p.beta = -1.0;
    p.scalemult = 0.0f;
    switch (method) {
        case ScalingMethod::linear:
            p.scalemult = entered_scalemult;
            break;
        case ScalingMethod::boltzmann:
            p.beta = entered_beta;
            break;
        case ScalingMethod::autocontrol:
            p.autocontrol_selection = 1;
            p.beta = entered_beta;
            p.Beta_s_tilde =
                static_cast<float>(0.5 * std::sqrt(2.0 * std::log(double(popsize_entered))));
            break;
        case ScalingMethod::sigma_truncation:
            p.sigma_trunc = entered_sigma;
            break;
        case ScalingMethod::window:
            p.scaling_window = entered_window;
            break;
    }
}

void check_scaling(ScalingMethod method, const EngineParams& p) {
    switch (method) {
        case ScalingMethod::linear:
            // Accepted only when greater than 1, so a NaN is refused too.
            if (!(p.scalemult > 1.0f)) {
                reject("Constant of Scaling Linear must be > 1");
            }
            break;
        case ScalingMethod::boltzmann:
            if (!(p.beta >= 0.0)) {
                reject("Bolzman constant must be >= 0");
            }
            break;
        case ScalingMethod::autocontrol:
            // Checked by the engine initialisation (the selection it needs).
            break;
        case ScalingMethod::sigma_truncation:
            if (p.sigma_trunc == 0.0f) {
                reject("Sigma Trouncation constant must be != 0");
            }
            break;
        case ScalingMethod::window:
            if (p.scaling_window < 0) {
                reject("Window constant must be >= 0");
            }
            break;
    }
}

std::string scaling_log_line(ScalingMethod method) {
    return std::string("Scaling Method is ") + row_of(scaling_methods, method).log_text + "\n";
}

}  // namespace velmora
