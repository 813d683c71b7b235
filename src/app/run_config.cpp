#include "app/run_config.hpp"

#include <cmath>

#include "app/validate.hpp"
#include "support/errors.hpp"

namespace velmora {

int effective_popsize(int entered) {
    int popsize = entered;
    if (popsize % 2 != 0) {
        ++popsize;
    }
    return popsize < 2 ? 2 : popsize;
}

void bind_search_options(options::Bindings& b, RunConfig& c) {
    b.bind(options::selection, c.selection_choice, selection_choice_names);
    b.bind(options::tourneysize, c.tourneysize);
    b.bind(options::crossover, c.crossover_choice, crossover_choice_names);
    b.bind(options::scaling, c.scaling_method, scaling_method_names);
    b.bind(options::scalemult, c.scalemult);
    b.bind(options::beta, c.beta);
    b.bind(options::sigma_trunc, c.sigma_trunc);
    b.bind(options::scaling_window, c.scaling_window);
    b.bind(options::maxgen, c.maxgen);
    b.bind(options::pcross, c.pcross);
    b.bind(options::pmutation, c.pmutation);
    b.bind(options::popsize, c.popsize);
}

void bind_problem_options(options::Bindings& b, RunConfig& c) {
    b.bind(options::course_file, c.course_file);
    b.bind(options::columns, c.columns);
    b.bind(options::threshold_columns, c.threshold_columns);
    b.bind(options::n_obs, c.n_oss);
    b.bind(options::n_comp, c.n_comp);
    bind_model_options(b, c.model);
}

RunMethods methods_of(const RunConfig& config) {
    const auto selection = method_of_choice(selection_methods, config.selection_choice);
    const auto crossover = method_of_choice(crossover_methods, config.crossover_choice);
    const auto scaling = method_of_choice(scaling_methods, config.scaling_method);
    if (!selection || !crossover || !scaling) {
        validate(config).enforce(CheckPoint::configuration);  // names the field
        throw ConfigError("A method choice is out of range");
    }
    return {*selection, *crossover, mutation_methods[0].method, *scaling};
}

ScalingSettings scaling_settings(const RunConfig& config, ScalingMethod method) {
    ScalingSettings s;
    s.method = method;
    s.scalemult = config.scalemult;
    s.beta = config.beta;
    s.sigma_trunc = static_cast<float>(config.sigma_trunc);
    s.scaling_window = static_cast<int>(config.scaling_window);
    if (method == ScalingMethod::autocontrol) {
        s.Beta_s_tilde =
            static_cast<float>(0.5 * std::sqrt(2.0 * std::log(double(config.popsize))));
    }
    return s;
}

std::string scaling_log_line(ScalingMethod method) {
    return std::string("Scaling Method is ") + row_of(scaling_methods, method).log_text + "\n";
}

}  // namespace velmora
