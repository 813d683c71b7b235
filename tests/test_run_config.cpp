#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/run_config.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

// The text of the ConfigError that validation raises, or "" when accepted.
std::string problem(const RunConfig& config) {
    try {
        validate_run_config(config);
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
    c.m = 1;
    c.min_oss_reg = 2;
    c.maxgen = 0;
    c.pcross = 0.0;
    c.pmutation = 1.0;
    EXPECT_EQ(problem(c), "");
    c.n_oss = max_n_oss;
    c.m = 4;
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
        {[](RunConfig& c) { c.m = 0; }, "Max order VAR must be between 1 and 4 (m = 0)"},
        {[](RunConfig& c) { c.m = 5; }, "Max order VAR must be between 1 and 4 (m = 5)"},
        {[](RunConfig& c) { c.min_oss_reg = 1; },
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

TEST(RunConfigTables, ChoicesMapToTheHistoricalCodes) {
    auto selection = [](int choice) {
        return engine_selection(*method_of_choice(selection_methods, choice));
    };
    auto crossover = [](int choice) {
        return engine_crossover(*method_of_choice(crossover_methods, choice));
    };
    EXPECT_EQ(selection(0), SelectionCode::roulette);
    EXPECT_EQ(selection(1), SelectionCode::remainder);
    EXPECT_EQ(selection(2), SelectionCode::tournament);
    EXPECT_EQ(selection(3), SelectionCode::universal_sampling);
    EXPECT_EQ(static_cast<int>(selection(1)), 4);
    EXPECT_EQ(static_cast<int>(selection(3)), 2);
    EXPECT_EQ(crossover(0), CrossoverCode::one_point);
    EXPECT_EQ(crossover(1), CrossoverCode::two_point);
    EXPECT_EQ(crossover(2), CrossoverCode::uniform);
    EXPECT_FALSE(method_of_choice(selection_methods, 4).has_value());
    EXPECT_FALSE(method_of_choice(scaling_methods, -1).has_value());
    // The log names of the table are the engine's.
    for (const auto& row : selection_methods) {
        EXPECT_STREQ(row.log_text, selection_name(engine_selection(row.method)));
    }
    for (const auto& row : crossover_methods) {
        EXPECT_STREQ(row.log_text, crossover_name(engine_crossover(row.method)));
    }
    // Every row stands for a different method, so row_of finds each one's own.
    for (std::size_t i = 0; i < scaling_methods.size(); ++i) {
        EXPECT_EQ(&row_of(scaling_methods, scaling_methods[i].method), &scaling_methods[i]);
    }
    for (std::size_t i = 0; i < selection_methods.size(); ++i) {
        EXPECT_EQ(&row_of(selection_methods, selection_methods[i].method), &selection_methods[i]);
    }
    EXPECT_EQ(effective_popsize(50), 50);
    EXPECT_EQ(effective_popsize(51), 52);
    EXPECT_EQ(effective_popsize(1), 2);
    EXPECT_EQ(effective_popsize(0), 2);
    EXPECT_EQ(effective_popsize(-3), 2);
}

ScalingMethod scaling(int choice) {
    return *method_of_choice(scaling_methods, choice);
}

// Parameters as the run preparation holds them before the scaling row.
EngineParams entered(float scalemult, double beta, float sigma, int window) {
    EngineParams p;
    p.scalemult = scalemult;
    p.beta = beta;
    p.sigma_trunc = sigma;
    p.scaling_window = window;
    return p;
}

TEST(RunConfigTables, EachScalingRowKeepsOnlyItsOwnConstant) {
    for (int method = 0; method <= 4; ++method) {
        EngineParams p = entered(1.5f, 2.0, 3.0f, 4);
        apply_scaling_method(scaling(method), 50, p);
        EXPECT_EQ(p.autocontrol_selection, method == 2 ? 1 : 0) << method;
        EXPECT_EQ(p.scaling_window, method == 4 ? 4 : -1) << method;
        EXPECT_EQ(p.sigma_trunc, method == 3 ? 3.0f : 0.0f) << method;
        EXPECT_EQ(p.beta, method == 1 || method == 2 ? 2.0 : -1.0) << method;
        EXPECT_EQ(p.scalemult, method == 0 ? 1.5f : 0.0f) << method;
    }
    EXPECT_EQ(scaling_log_line(scaling(0)), "Scaling Method is Linear\n");
    EXPECT_EQ(scaling_log_line(scaling(1)), "Scaling Method is Bolzman\n");
    EXPECT_EQ(scaling_log_line(scaling(2)), "Scaling Method is Autocontrol\n");
    EXPECT_EQ(scaling_log_line(scaling(3)), "Scaling Method is Sigma Troncation\n");
    EXPECT_EQ(scaling_log_line(scaling(4)), "Scaling Method is Window\n");
}

TEST(RunConfigTables, AutocontrolDerivesBetaSTildeFromTheEnteredPopsize) {
    EngineParams p = entered(1.2f, 0.0, 0.0f, 0);
    apply_scaling_method(ScalingMethod::autocontrol, 50, p);
    EXPECT_NEAR(p.Beta_s_tilde, 1.39857, 1e-5);
    EXPECT_EQ(p.Beta_s_tilde, static_cast<float>(0.5 * std::sqrt(2.0 * std::log(50.0))));
    apply_scaling_method(ScalingMethod::autocontrol, 51, p);
    EXPECT_EQ(p.Beta_s_tilde, static_cast<float>(0.5 * std::sqrt(2.0 * std::log(51.0))));
}

std::string scaling_problem(int method, EngineParams p) {
    apply_scaling_method(scaling(method), 50, p);
    try {
        check_scaling(scaling(method), p);
    } catch (const ConfigError& e) {
        return e.what();
    }
    return {};
}

TEST(RunConfigTables, ScalingChecksUseTheHistoricalMessages) {
    EXPECT_EQ(scaling_problem(0, entered(1.0f, 0, 0, 0)), "Constant of Scaling Linear must be > 1");
    EXPECT_EQ(scaling_problem(0, entered(1.0000001f, 0, 0, 0)), "");
    EXPECT_EQ(scaling_problem(1, entered(1.2f, -0.5, 0, 0)), "Bolzman constant must be >= 0");
    EXPECT_EQ(scaling_problem(1, entered(1.2f, 0.0, 0, 0)), "");
    EXPECT_EQ(scaling_problem(3, entered(1.2f, 0, 0.0f, 0)),
              "Sigma Trouncation constant must be != 0");
    // Compared after rounding to single precision.
    EXPECT_EQ(scaling_problem(3, entered(1.2f, 0, static_cast<float>(1e-50), 0)),
              "Sigma Trouncation constant must be != 0");
    EXPECT_EQ(scaling_problem(3, entered(1.2f, 0, -2.0f, 0)), "");
    EXPECT_EQ(scaling_problem(4, entered(1.2f, 0, 0, -1)), "Window constant must be >= 0");
    EXPECT_EQ(scaling_problem(4, entered(1.2f, 0, 0, 0)), "");
    // A constant that is not a number never passes the check of its method.
    EXPECT_EQ(scaling_problem(0, entered(std::nanf(""), 0, 0, 0)),
              "Constant of Scaling Linear must be > 1");
    EXPECT_EQ(scaling_problem(1, entered(1.2f, std::nan(""), 0, 0)),
              "Bolzman constant must be >= 0");
    // Automatic control with a negative beta is not refused here.
    EXPECT_EQ(scaling_problem(2, entered(0.5f, -3.0, 0, -9)), "");
}

}  // namespace
}  // namespace velmora
