#pragma once
// The fields that a command's rows fill: the command line parses into them,
// and the JSON summary's "parameters" echoes them, both from the same list.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "options/option_table.hpp"

namespace velmora::options {

// A choice: the names of its list, in order, and the place in the list of
// the value its field holds (-1: none); set() stores the value at a place.
struct ChoiceField {
    std::vector<std::string> names;
    std::function<int()> index;
    std::function<void(int)> set;
    // The list as the help and the refusal show it ("none, const, trend or both").
    std::string list_text;

    std::string current_name() const;
};

using FieldRef =
    std::variant<int*, std::optional<int>*, std::uint64_t*, double*, float*, bool*, std::string*,
                 std::optional<std::string>*, std::filesystem::path*, std::vector<std::string>*,
                 std::vector<int>*, std::vector<double>*, ChoiceField>;

struct Binding {
    const OptionRow* row = nullptr;
    FieldRef field;
};

class Bindings {
  public:
    // Rows are kept in the order bound: the help lists them so.
    template <typename Field>
    void bind(const OptionRow& row, Field& field) {
        bindings_.push_back({&row, FieldRef(&field)});
    }
    // A choice held as its place in the list of names.
    void bind(const OptionRow& row, int& index, std::span<const char* const> names);
    // A choice held as one of the values of `choices`, named by `name`.
    template <typename Enum, std::size_t N>
    void bind(const OptionRow& row, Enum& field, const std::array<Enum, N>& choices,
              const char* (*name)(Enum), std::string list_text) {
        ChoiceField choice;
        for (const Enum value : choices) {
            choice.names.emplace_back(name(value));
        }
        choice.index = [&field, &choices] {
            for (std::size_t i = 0; i < N; ++i) {
                if (choices[i] == field) {
                    return static_cast<int>(i);
                }
            }
            return -1;
        };
        choice.set = [&field, &choices](int i) { field = choices[static_cast<std::size_t>(i)]; };
        choice.list_text = std::move(list_text);
        bindings_.push_back({&row, FieldRef(std::move(choice))});
    }

    const std::vector<Binding>& all() const { return bindings_; }
    const Binding* find(const OptionRow& row) const;

    // Every bound row with a JSON key and the value its field holds now.
    nlohmann::json parameters_json() const;

  private:
    std::vector<Binding> bindings_;
};

// One field's value as the JSON summary shows it.
nlohmann::json echo(const Binding& binding);

// A single-precision value as the double with the same shortest decimal
// form, so that JSON shows 1.2 for a scalemult of 1.2, not 1.2000000476837158.
double as_entered(float value);

// The dialog's message for a whole number outside the row's bounds.
std::string dialog_range_message(const OptionRow& row);

// The row's help, a choice's list of names in the place of "{}".
std::string help_text(const OptionRow& row, const std::string& list_text);

}  // namespace velmora::options
