#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/run_config.hpp"
#include "app/validate.hpp"
#include "model/problem.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

// The text of the ConfigError that validation raises before anything is
// touched, or "" when accepted.
std::string problem(const RunConfig& config) {
    try {
        validate(config).enforce(CheckPoint::configuration);
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.exit_status(), 2);
        return e.what();
    }
    return {};
}

TEST(RunConfigValidation, DefaultsAndBoundaryValuesAreAccepted) {
    RunConfig c;
    EXPECT_EQ(problem(c), "");
    c.n_comp = 2;
    c.n_oss = 30;
    c.model.max_order = 1;
    c.model.min_obs_per_regime = 2;
    c.maxgen = 0;
    c.pcross = 0.0;
    c.pmutation = 1.0;
    EXPECT_EQ(problem(c), "");
    c.n_oss = max_n_oss;
    c.model.max_order = 4;
    c.pcross = 1.0;
    c.pmutation = 0.0;
    EXPECT_EQ(problem(c), "");
    // Odd and too small population sizes are the engine's to mend, not refusals.
    c.popsize = 1;
    EXPECT_EQ(problem(c), "");
    c.popsize = -7;
    EXPECT_EQ(problem(c), "");
}

TEST(RunConfigValidation, EachBoundNamesTheFieldAndValue) {
    struct Case {
        void (*change)(RunConfig&);
        const char* message;
    };
    const Case cases[] = {
        {[](RunConfig& c) { c.n_comp = 1; }, "Number of components must be >= 2 (n_comp = 1)"},
        {[](RunConfig& c) { c.n_oss = 29; }, "Number of observations must be >= 30 (n_oss = 29)"},
        {[](RunConfig& c) { c.n_oss = 131073; },
         "Number of observations must be <= 131072 (n_oss = 131073)"},
        {[](RunConfig& c) { c.model.max_order = 0; },
         "Max order VAR must be between 1 and 4 (m = 0)"},
        {[](RunConfig& c) { c.model.max_order = 5; },
         "Max order VAR must be between 1 and 4 (m = 5)"},
        {[](RunConfig& c) { c.model.min_obs_per_regime = 1; },
         "Minimum observations per regime must be >= 2 (min_oss_reg = 1)"},
        {[](RunConfig& c) { c.maxgen = -1; }, "Number of generations must be >= 0 (maxgen = -1)"},
        {[](RunConfig& c) { c.pcross = 1.5; },
         "Crossover probability must be between 0 and 1 (pcross = 1.5)"},
        {[](RunConfig& c) { c.pcross = NAN; },
         "Crossover probability must be between 0 and 1 (pcross = nan)"},
        {[](RunConfig& c) { c.pmutation = -0.01; },
         "Mutation probability must be between 0 and 1 (pmutation = -0.01)"},
        {[](RunConfig& c) { c.popsize = 1000001; },
         "Population size must be <= 1000000 (popsize = 1000001)"},
        {[](RunConfig& c) { c.selection_choice = 4; },
         "Selection method must be 0 to 3 (selection_choice = 4)"},
        {[](RunConfig& c) { c.crossover_choice = -1; },
         "Crossover method must be 0 to 2 (crossover_choice = -1)"},
        {[](RunConfig& c) { c.scaling_method = 5; },
         "Scaling method must be 0 to 4 (scaling_method = 5)"},
        {[](RunConfig& c) { c.sigma_trunc = NAN; },
         "Sigma Trouncation constant must be a finite number (sigma_trunc = nan)"},
        {[](RunConfig& c) { c.scalemult = INFINITY; },
         "Constant of Scaling Linear must be a finite number (scalemult = inf)"},
        {[](RunConfig& c) { c.beta = -INFINITY; },
         "Bolzman constant must be a finite number (beta = -inf)"},
        {[](RunConfig& c) { c.scaling_window = 1e20; },
         "Window constant must lie between -2147483648 and 2147483647 (scaling_window = 1e+20)"},
    };
    for (const Case& test : cases) {
        RunConfig c;
        test.change(c);
        EXPECT_EQ(problem(c), test.message);
    }
}

TEST(RunConfigValidation, TournamentSizeMustLieWithinThePopulationActuallyUsed) {
    RunConfig c;
    c.tourneysize = 0;
    EXPECT_EQ(problem(c), "") << "the size matters only for tournament selection";
    c.selection_choice = 2;
    EXPECT_EQ(problem(c),
              "Tournament size must be between 1 and the population size 50 (tourneysize = 0)");
    c.tourneysize = 1;
    EXPECT_EQ(problem(c), "");
    c.tourneysize = 50;
    EXPECT_EQ(problem(c), "");
    c.tourneysize = 51;
    EXPECT_NE(problem(c), "");
    // popsize 51 runs with 52 members.
    c.popsize = 51;
    c.tourneysize = 52;
    EXPECT_EQ(problem(c), "");
    c.tourneysize = 53;
    EXPECT_EQ(problem(c),
              "Tournament size must be between 1 and the population size 52 (tourneysize = 53)");
}

TEST(RunConfigTables, ChoicesMapToOneMethodEachAndItsNames) {
    auto selection = [](int choice) { return *method_of_choice(selection_methods, choice); };
    auto crossover = [](int choice) { return *method_of_choice(crossover_methods, choice); };
    EXPECT_EQ(selection(0), SelectionMethod::roulette);
    EXPECT_EQ(selection(1), SelectionMethod::remainder);
    EXPECT_EQ(selection(2), SelectionMethod::tournament);
    EXPECT_EQ(selection(3), SelectionMethod::universal_sampling);
    EXPECT_EQ(crossover(0), CrossoverMethod::one_point);
    EXPECT_EQ(crossover(1), CrossoverMethod::two_point);
    EXPECT_EQ(crossover(2), CrossoverMethod::uniform);
    EXPECT_FALSE(method_of_choice(selection_methods, 4).has_value());
    EXPECT_FALSE(method_of_choice(scaling_methods, -1).has_value());
    // The run log's names.
    EXPECT_STREQ(row_of(selection_methods, SelectionMethod::remainder).log_text,
                 "stochastic_remainder");
    EXPECT_STREQ(row_of(selection_methods, SelectionMethod::universal_sampling).log_text,
                 "suselect.c");
    EXPECT_STREQ(row_of(crossover_methods, CrossoverMethod::two_point).log_text, "twoptx.c");
    EXPECT_STREQ(row_of(mutation_methods, MutationMethod::bit).log_text, "bitmutat");
    // Every row stands for a different method, so row_of and choice_of find
    // each one's own.
    for (std::size_t i = 0; i < scaling_methods.size(); ++i) {
        EXPECT_EQ(&row_of(scaling_methods, scaling_methods[i].method), &scaling_methods[i]);
        EXPECT_EQ(choice_of(scaling_methods, scaling_methods[i].method), static_cast<int>(i));
    }
    for (std::size_t i = 0; i < selection_methods.size(); ++i) {
        EXPECT_EQ(&row_of(selection_methods, selection_methods[i].method), &selection_methods[i]);
        EXPECT_EQ(choice_of(selection_methods, selection_methods[i].method), static_cast<int>(i));
    }
    for (std::size_t i = 0; i < crossover_methods.size(); ++i) {
        EXPECT_EQ(choice_of(crossover_methods, crossover_methods[i].method), static_cast<int>(i));
    }
    const RunMethods methods = methods_of(RunConfig{});
    EXPECT_EQ(methods.mutation, MutationMethod::bit);
    EXPECT_EQ(effective_popsize(50), 50);
    EXPECT_EQ(effective_popsize(51), 52);
    EXPECT_EQ(effective_popsize(1), 2);
    EXPECT_EQ(effective_popsize(0), 2);
    EXPECT_EQ(effective_popsize(-3), 2);
}

ScalingMethod scaling(int choice) {
    return *method_of_choice(scaling_methods, choice);
}

// A configuration with the scaling constants as entered.
RunConfig entered(int method, float scalemult, double beta, double sigma, double window) {
    RunConfig c;
    c.scaling_method = method;
    c.scalemult = scalemult;
    c.beta = beta;
    c.sigma_trunc = sigma;
    c.scaling_window = window;
    return c;
}

TEST(RunConfigTables, EachScalingRowCarriesItsMethodAndTheEnteredConstants) {
    for (int method = 0; method <= 4; ++method) {
        const ScalingSettings s =
            scaling_settings(entered(method, 1.5f, 2.0, 3.0, 4.9), scaling(method));
        EXPECT_EQ(s.method, scaling(method)) << method;
        EXPECT_EQ(s.scalemult, 1.5f) << method;
        EXPECT_EQ(s.beta, 2.0) << method;
        EXPECT_EQ(s.sigma_trunc, 3.0f) << method;
        EXPECT_EQ(s.scaling_window, 4) << method;
        EXPECT_EQ(s.Beta_s_tilde == 0.0f, method != 2) << method;
    }
    EXPECT_EQ(scaling_settings(entered(4, 1.2f, 0, 0, -3.9), ScalingMethod::window).scaling_window,
              -3);
    EXPECT_EQ(scaling_log_line(scaling(0)), "Scaling Method is Linear\n");
    EXPECT_EQ(scaling_log_line(scaling(1)), "Scaling Method is Bolzman\n");
    EXPECT_EQ(scaling_log_line(scaling(2)), "Scaling Method is Autocontrol\n");
    EXPECT_EQ(scaling_log_line(scaling(3)), "Scaling Method is Sigma Troncation\n");
    EXPECT_EQ(scaling_log_line(scaling(4)), "Scaling Method is Window\n");
}

TEST(RunConfigTables, AutocontrolDerivesBetaSTildeFromTheEnteredPopsize) {
    RunConfig c = entered(2, 1.2f, 0.0, 0.0, 0);
    c.popsize = 50;
    const ScalingSettings s = scaling_settings(c, ScalingMethod::autocontrol);
    EXPECT_NEAR(s.Beta_s_tilde, 1.39857, 1e-5);
    EXPECT_EQ(s.Beta_s_tilde, static_cast<float>(0.5 * std::sqrt(2.0 * std::log(50.0))));
    c.popsize = 51;
    EXPECT_EQ(scaling_settings(c, ScalingMethod::autocontrol).Beta_s_tilde,
              static_cast<float>(0.5 * std::sqrt(2.0 * std::log(51.0))));
}

// The message of the scaling method's check ("" when it passes); the rest of
// the configuration is valid.
std::string scaling_problem(const RunConfig& c) {
    const Validation v = validate(c);
    EXPECT_EQ(v.first(CheckPoint::configuration), nullptr);
    try {
        v.enforce(CheckPoint::scaling);
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.exit_status(), 2);
        return e.what();
    }
    return {};
}

TEST(RunConfigTables, ScalingChecksUseTheHistoricalMessages) {
    EXPECT_EQ(scaling_problem(entered(0, 1.0f, 0, 0, 0)), "Constant of Scaling Linear must be > 1");
    EXPECT_EQ(scaling_problem(entered(0, 1.0000001f, 0, 0, 0)), "");
    EXPECT_EQ(scaling_problem(entered(1, 1.2f, -0.5, 0, 0)), "Bolzman constant must be >= 0");
    EXPECT_EQ(scaling_problem(entered(1, 1.2f, 0.0, 0, 0)), "");
    EXPECT_EQ(scaling_problem(entered(3, 1.2f, 0, 0.0, 0)),
              "Sigma Trouncation constant must be != 0");
    // Compared after rounding to single precision.
    EXPECT_EQ(scaling_problem(entered(3, 1.2f, 0, 1e-50, 0)),
              "Sigma Trouncation constant must be != 0");
    EXPECT_EQ(scaling_problem(entered(3, 1.2f, 0, -2.0, 0)), "");
    EXPECT_EQ(scaling_problem(entered(4, 1.2f, 0, 0, -1)), "Window constant must be >= 0");
    EXPECT_EQ(scaling_problem(entered(4, 1.2f, 0, 0, 0)), "");
    // Truncated toward zero first, as the run reads it.
    EXPECT_EQ(scaling_problem(entered(4, 1.2f, 0, 0, -0.5)), "");
    // Only the chosen method's constant is checked.
    EXPECT_EQ(scaling_problem(entered(4, 0.5f, -1.0, 0, 2)), "");
    // Automatic control with a negative beta is not refused here.
    EXPECT_EQ(scaling_problem(entered(2, 0.5f, -3.0, 0, -9)), "");
}

TEST(RunConfigValidation, RunAndFitRefuseTheSameSizes) {
    // Each front end words the size rules its own way; the bounds are one.
    for (int n_comp : {1, 2, 3}) {
        for (int n_oss : {29, 30, 31}) {
            for (int m : {0, 1, 4, 5}) {
                for (int min_oss_reg : {1, 2}) {
                    RunConfig c;
                    c.n_comp = n_comp;
                    c.n_oss = n_oss;
                    c.model.max_order = m;
                    c.model.min_obs_per_regime = min_oss_reg;
                    const bool fit_refuses = validate(c.model, n_oss, n_comp).has_value();
                    EXPECT_EQ(problem(c).empty(), !fit_refuses)
                        << n_comp << " " << n_oss << " " << m << " " << min_oss_reg;
                }
            }
        }
    }
}

TEST(RunConfigValidation, EachProblemIsRaisedAtItsOwnMoment) {
    // Automatic control without stochastic universal sampling is the
    // engine's fault, raised at its start; the configuration itself passes.
    RunConfig c;
    c.scaling_method = 2;
    Validation v = validate(c);
    ASSERT_EQ(v.problems.size(), 1u);
    EXPECT_NO_THROW(v.enforce(CheckPoint::configuration));
    EXPECT_NO_THROW(v.enforce(CheckPoint::scaling));
    try {
        v.enforce(CheckPoint::engine_start);
        ADD_FAILURE() << "no fault";
    } catch (const EngineFault& e) {
        EXPECT_EQ(e.exit_status(), 255);
        EXPECT_EQ(std::string(e.what()).rfind("OOPS, Automatic control of selection uses ", 0), 0u);
    }
    c.selection_choice = 3;
    EXPECT_TRUE(validate(c).ok());

    // Problems of every moment, each listed once, in the order the run meets them.
    c = RunConfig{};
    c.n_comp = 1;
    c.pcross = 2.0;
    c.scaling_method = 2;
    c.selection_choice = 0;
    v = validate(c);
    ASSERT_EQ(v.problems.size(), 3u);
    EXPECT_EQ(v.problems[0].message, "Number of components must be >= 2 (n_comp = 1)");
    EXPECT_EQ(v.problems[1].when, CheckPoint::configuration);
    EXPECT_EQ(v.problems[2].when, CheckPoint::engine_start);
    EXPECT_EQ(problem(c), "Number of components must be >= 2 (n_comp = 1)");

    // A choice without a row skips the checks that need the method.
    c = RunConfig{};
    c.scaling_method = 7;
    c.scalemult = 0.5f;
    v = validate(c);
    ASSERT_EQ(v.problems.size(), 1u);
    EXPECT_EQ(v.problems[0].when, CheckPoint::configuration);
    EXPECT_THROW(methods_of(c), ConfigError);
}

}  // namespace
}  // namespace velmora
