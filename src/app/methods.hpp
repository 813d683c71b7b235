#pragma once
// The operator choices of a run (selection, crossover, mutation, fitness
// scaling), each with one table: its row index is the choice number the
// parameter dialog and RunConfig hold, and the row names the method on the
// command line, on the dialog's radio button and in "Output.txt". A choice
// number is turned into its enum once, where a run is prepared; past that
// point the engine dispatches with switches without default, so a new method
// is a table row plus the cases the compiler asks for.

#include <array>
#include <cstddef>
#include <optional>
#include <stdexcept>

#include "engine/crossover.hpp"
#include "engine/mutation.hpp"
#include "engine/selection.hpp"
#include "support/scaling.hpp"

namespace velmora {

template <class Method>
struct MethodRow {
    Method method;
    const char* cli_name;      // --selection, --crossover, --scaling and the JSON summary
    const char* dialog_label;  // the parameter dialog's radio button ("" when it has none)
    const char* log_text;  // "Type Selection =...", "Type Crossover =...", "Type Mutation =...",
                           // "Scaling Method is ..."
};

inline constexpr std::array<MethodRow<SelectionMethod>, 4> selection_methods{{
    {SelectionMethod::roulette, "roulette", "Roulette Wheel", "rselect.c"},
    {SelectionMethod::remainder, "remainder", "Stochastic Remainder", "stochastic_remainder"},
    {SelectionMethod::tournament, "tournament", "Tournament ", "tselect.c"},
    {SelectionMethod::universal_sampling, "sus", "Stochastic Universal Sampling", "suselect.c"},
}};
inline constexpr std::array<MethodRow<CrossoverMethod>, 3> crossover_methods{{
    {CrossoverMethod::one_point, "one-point", "One Point", "oneptx.c"},
    {CrossoverMethod::two_point, "two-point", "Two Point", "twoptx.c"},
    {CrossoverMethod::uniform, "uniform", "Uniform ", "unifx.c"},
}};
// Mutation is not a choice of the user: every run uses the first row.
inline constexpr std::array<MethodRow<MutationMethod>, 1> mutation_methods{{
    {MutationMethod::bit, "bit", "", "bitmutat"},
}};
inline constexpr std::array<MethodRow<ScalingMethod>, 5> scaling_methods{{
    {ScalingMethod::linear, "linear", "Linear ", "Linear"},
    {ScalingMethod::boltzmann, "boltzmann", "Boltzmann ", "Bolzman"},
    {ScalingMethod::autocontrol, "autocontrol", "AutoControll ", "Autocontrol"},
    {ScalingMethod::sigma_truncation, "sigma", "Sigma Truncation", "Sigma Troncation"},
    {ScalingMethod::window, "window", "Window ", "Window"},
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

// The choice number (row index) of a method. A method without a row is a
// table left behind by a new enumerator: refused, never mapped to another.
template <class Method, std::size_t N>
constexpr int choice_of(const std::array<MethodRow<Method>, N>& rows, Method method) {
    for (std::size_t i = 0; i < N; ++i) {
        if (rows[i].method == method) {
            return static_cast<int>(i);
        }
    }
    throw std::logic_error("a method without a row in its table");
}

// The row of a method.
template <class Method, std::size_t N>
constexpr const MethodRow<Method>& row_of(const std::array<MethodRow<Method>, N>& rows,
                                          Method method) {
    return rows[static_cast<std::size_t>(choice_of(rows, method))];
}

}  // namespace velmora
