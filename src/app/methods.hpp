#pragma once
// The operator choices a user makes (selection, crossover, fitness scaling),
// each with one table: its row index is the choice number the parameter
// dialog and RunConfig hold, and the row names it on the command line and in
// "Output.txt". A choice number is turned into its enum once, where a run is
// prepared; past that point the engine's code follows from a switch without
// default, so a new method is a table row plus the cases the compiler asks for.

#include <array>
#include <cstddef>
#include <optional>

#include "engine/params.hpp"

namespace velmora {

enum class SelectionMethod { roulette, remainder, tournament, universal_sampling };
enum class CrossoverMethod { one_point, two_point, uniform };
enum class ScalingMethod { linear, boltzmann, autocontrol, sigma_truncation, window };

template <class Method>
struct MethodRow {
    Method method;
    const char* cli_name;  // --selection, --crossover, --scaling and the JSON summary
    const char* log_text;  // "Type Selection =...", "Type Crossover =...", "Scaling Method is ..."
};

inline constexpr std::array<MethodRow<SelectionMethod>, 4> selection_methods{{
    {SelectionMethod::roulette, "roulette", "rselect.c"},
    {SelectionMethod::remainder, "remainder", "stochastic_remainder"},
    {SelectionMethod::tournament, "tournament", "tselect.c"},
    {SelectionMethod::universal_sampling, "sus", "suselect.c"},
}};
inline constexpr std::array<MethodRow<CrossoverMethod>, 3> crossover_methods{{
    {CrossoverMethod::one_point, "one-point", "oneptx.c"},
    {CrossoverMethod::two_point, "two-point", "twoptx.c"},
    {CrossoverMethod::uniform, "uniform", "unifx.c"},
}};
inline constexpr std::array<MethodRow<ScalingMethod>, 5> scaling_methods{{
    {ScalingMethod::linear, "linear", "Linear"},
    {ScalingMethod::boltzmann, "boltzmann", "Bolzman"},
    {ScalingMethod::autocontrol, "autocontrol", "Autocontrol"},
    {ScalingMethod::sigma_truncation, "sigma", "Sigma Troncation"},
    {ScalingMethod::window, "window", "Window"},
}};

// The command-line names of a table, in choice order.
template <class Method, std::size_t N>
constexpr std::array<const char*, N> cli_names(const std::array<MethodRow<Method>, N>& rows) {
    std::array<const char*, N> names{};
    for (std::size_t i = 0; i < N; ++i) {
        names[i] = rows[i].cli_name;
    }
    return names;
}

// The method of a choice number; empty when the number has no row.
template <class Method, std::size_t N>
constexpr std::optional<Method> method_of_choice(const std::array<MethodRow<Method>, N>& rows,
                                                 int choice) {
    if (choice < 0 || static_cast<std::size_t>(choice) >= N) {
        return std::nullopt;
    }
    return rows[static_cast<std::size_t>(choice)].method;
}

// The row of a method.
template <class Method, std::size_t N>
constexpr const MethodRow<Method>& row_of(const std::array<MethodRow<Method>, N>& rows,
                                          Method method) {
    for (const auto& row : rows) {
        if (row.method == method) {
            return row;
        }
    }
    return rows[0];  // unreachable: every enumerator has a row (checked in the tests)
}

// The engine's codes of the user's choices.
SelectionCode engine_selection(SelectionMethod method);
CrossoverCode engine_crossover(CrossoverMethod method);

}  // namespace velmora
