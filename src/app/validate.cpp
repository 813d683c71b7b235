#include "app/validate.hpp"

#include <climits>
#include <cmath>
#include <optional>

#include "app/run_driver.hpp"
#include "model/problem.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

class Checks {
  public:
    explicit Checks(Validation& v) : v_(v) {}

    void add(CheckPoint when, std::string message) {
        v_.problems.push_back({when, std::move(message)});
    }
    void refuse(std::string message) { add(CheckPoint::configuration, std::move(message)); }

  private:
    Validation& v_;
};

void check_options(const RunOptions& options, Checks& checks) {
    if (options.seed && (*options.seed < 0 || *options.seed > 999)) {
        checks.refuse(strprintf("Seed must be between 0 and 999 (seed = %d)", *options.seed));
    }
    if (options.threads < 1 || options.threads > kMaxThreads) {
        checks.refuse(strprintf("Threads must be between 1 and %d (threads = %d)", kMaxThreads,
                                options.threads));
    }
    if (options.replications < 1 || options.replications > 1000) {
        checks.refuse(strprintf("Replications must be between 1 and 1000 (replications = %d)",
                                options.replications));
    }
}

// The definition's faults in the words a run has always used for them, each
// naming its field as the JSON summary does.
void check_sizes(const RunConfig& c, Checks& checks) {
    const std::optional<ModelFault> fault = validate(c.model, c.n_oss, c.n_comp, max_n_oss);
    if (!fault) {
        return;
    }
    const char* field = term_row(fault->term).json_key.data();
    switch (fault->term) {
        case ModelTerm::components:
            checks.refuse(strprintf("Number of components must be >= %d (%s = %d)", kMinComponents,
                                    field, fault->value));
            return;
        case ModelTerm::few_observations:
            checks.refuse(strprintf("Number of observations must be >= %d (%s = %d)",
                                    kMinObservations, field, fault->value));
            return;
        case ModelTerm::many_observations:
            checks.refuse(strprintf("Number of observations must be <= %d (%s = %d)", max_n_oss,
                                    field, fault->value));
            return;
        case ModelTerm::order:
            checks.refuse(strprintf("Max order VAR must be between 1 and %d (%s = %d)", kMaxOrder,
                                    field, fault->value));
            return;
        case ModelTerm::regime_size:
            checks.refuse(strprintf("Minimum observations per regime must be >= %d (%s = %d)",
                                    kMinRegimeObservations, field, fault->value));
            return;
        default:
            // A term added to the definition since: its own message.
            checks.refuse(fault->message);
            return;
    }
}

void check_probability(double value, const char* label, const char* field, Checks& checks) {
    // Written so that NaN fails too.
    if (!(value >= 0.0 && value <= 1.0)) {
        checks.refuse(strprintf("%s must be between 0 and 1 (%s = %g)", label, field, value));
    }
}

bool window_fits_int(double window) {
    return window > double(INT_MIN) - 1.0 && window < double(INT_MAX) + 1.0;
}

// The checks of the configuration proper, before any file is touched. Bounds
// that the historical checks leave open are refused here, so a rejected
// configuration leaves an earlier run's log alone.
void check_configuration(const RunConfig& c, Checks& checks) {
    if (!method_of_choice(selection_methods, c.selection_choice)) {
        checks.refuse(strprintf("Selection method must be 0 to %zu (selection_choice = %d)",
                                selection_methods.size() - 1, c.selection_choice));
    }
    if (!method_of_choice(crossover_methods, c.crossover_choice)) {
        checks.refuse(strprintf("Crossover method must be 0 to %zu (crossover_choice = %d)",
                                crossover_methods.size() - 1, c.crossover_choice));
    }
    if (!method_of_choice(scaling_methods, c.scaling_method)) {
        checks.refuse(strprintf("Scaling method must be 0 to %zu (scaling_method = %d)",
                                scaling_methods.size() - 1, c.scaling_method));
    }
    check_sizes(c, checks);
    if (c.maxgen < 0) {
        checks.refuse(strprintf("Number of generations must be >= 0 (maxgen = %d)", c.maxgen));
    }
    if (c.popsize > max_popsize) {
        checks.refuse(
            strprintf("Population size must be <= %d (popsize = %d)", max_popsize, c.popsize));
    }
    check_probability(c.pcross, "Crossover probability", "pcross", checks);
    check_probability(c.pmutation, "Mutation probability", "pmutation", checks);
    if (method_of_choice(selection_methods, c.selection_choice) == SelectionMethod::tournament) {
        // The tournament draws from a shuffled list of the whole population.
        const int popsize = effective_popsize(c.popsize);
        if (c.tourneysize < 1 || c.tourneysize > popsize) {
            checks.refuse(strprintf(
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
            checks.refuse(strprintf("%s must be a finite number (%s = %g)", constant.label,
                                    constant.field, constant.value));
        }
    }
    // The window constant is truncated to an int whatever the method.
    if (!window_fits_int(c.scaling_window)) {
        checks.refuse(strprintf("Window constant must lie between %d and %d (scaling_window = %g)",
                                INT_MIN, INT_MAX, c.scaling_window));
    }
}

// The chosen method's check on its constant, with the historical message;
// made on the values as the engine receives them (single-precision sigma, the
// window truncated).
std::optional<std::string> scaling_problem(const RunConfig& c, ScalingMethod method) {
    switch (method) {
        case ScalingMethod::linear:
            // Accepted only when greater than 1, so a NaN is refused too.
            if (!(c.scalemult > 1.0f)) {
                return "Constant of Scaling Linear must be > 1";
            }
            return std::nullopt;
        case ScalingMethod::boltzmann:
            if (!(c.beta >= 0.0)) {
                return "Bolzman constant must be >= 0";
            }
            return std::nullopt;
        case ScalingMethod::autocontrol:
            // Its condition is the selection method, checked at the engine's start.
            return std::nullopt;
        case ScalingMethod::sigma_truncation:
            if (static_cast<float>(c.sigma_trunc) == 0.0f) {
                return "Sigma Trouncation constant must be != 0";
            }
            return std::nullopt;
        case ScalingMethod::window:
            if (window_fits_int(c.scaling_window) && static_cast<int>(c.scaling_window) < 0) {
                return "Window constant must be >= 0";
            }
            return std::nullopt;
    }
    return std::nullopt;  // not reached: every method has its case
}

void check_methods(const RunConfig& c, Checks& checks) {
    const auto scaling = method_of_choice(scaling_methods, c.scaling_method);
    if (!scaling) {
        return;
    }
    if (auto problem = scaling_problem(c, *scaling)) {
        checks.add(CheckPoint::scaling, std::move(*problem));
    }
    const auto selection = method_of_choice(selection_methods, c.selection_choice);
    if (*scaling == ScalingMethod::autocontrol && selection &&
        *selection != SelectionMethod::universal_sampling) {
        checks.add(CheckPoint::engine_start,
                   "OOPS, Automatic control of selection uses "
                   "suselect.c, Stochastic Universal Sampling,\n"
                   "and that is not the selection method loaded.\n"
                   "Please load that and rerun.");
    }
}

}  // namespace

const ConfigProblem* Validation::first(CheckPoint when) const {
    for (const ConfigProblem& problem : problems) {
        if (problem.when == when) {
            return &problem;
        }
    }
    return nullptr;
}

void Validation::enforce(CheckPoint when) const {
    const ConfigProblem* problem = first(when);
    if (problem == nullptr) {
        return;
    }
    switch (when) {
        case CheckPoint::configuration:
        case CheckPoint::scaling:
            throw ConfigError(problem->message);
        case CheckPoint::engine_start:
            throw EngineFault(problem->message);
    }
}

Validation validate(const RunConfig& config) {
    Validation v;
    Checks checks(v);
    check_configuration(config, checks);
    check_methods(config, checks);
    return v;
}

Validation validate(const RunOptions& options, const Validation& of_config) {
    Validation v;
    Checks checks(v);
    check_options(options, checks);
    v.problems.insert(v.problems.end(), of_config.problems.begin(), of_config.problems.end());
    return v;
}

Validation validate(const RunConfig& config, const RunOptions& options) {
    return validate(options, validate(config));
}

}  // namespace velmora
