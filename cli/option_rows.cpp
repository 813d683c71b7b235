// The command line's options, built from the rows bound to a command's
// fields.

#include <charconv>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "cli/commands.hpp"

namespace velmora::cli {

namespace {

void apply_check(CLI::Option* option, const options::OptionRow& row) {
    switch (row.check) {
        case options::ParserCheck::none:
        case options::ParserCheck::member:  // checked with the choice's names
        case options::ParserCheck::one_of:
            return;
        case options::ParserCheck::range:
            option->check(CLI::Range(options::low_int(row), options::high_int(row)));
            return;
        case options::ParserCheck::whole_number:
            option->check(whole_number_in(options::low_int(row), options::high_int(row)));
            return;
        case options::ParserCheck::non_negative:
            option->check(CLI::NonNegativeNumber);
            return;
        case options::ParserCheck::unsigned_64:
            option->check(CLI::Validator(
                [](std::string& value) -> std::string {
                    // Read here, not by the conversion, which would wrap -1 or
                    // 2^64 round to the largest seed without a word.
                    std::uint64_t parsed = 0;
                    const char* end = value.data() + value.size();
                    const auto [ptr, ec] = std::from_chars(value.data(), end, parsed);
                    if (ec != std::errc() || ptr != end) {
                        return value + " is not a whole number from 0 to 18446744073709551615";
                    }
                    return {};
                },
                "UINT64"));
            return;
    }
}

CLI::Option* add_choice(CLI::App& command, const options::OptionRow& row,
                        const options::ChoiceField& field) {
    const bool exact = row.check == options::ParserCheck::one_of;
    CLI::Option* option = command.add_option_function<std::string>(
        std::string(row.name),
        [field, exact](const std::string& name) {
            // The parser has already matched the name to one of the list.
            for (std::size_t i = 0; i < field.names.size(); ++i) {
                const bool same =
                    exact ? field.names[i] == name
                          : CLI::detail::to_lower(field.names[i]) == CLI::detail::to_lower(name);
                if (same) {
                    field.set(static_cast<int>(i));
                }
            }
        },
        options::help_text(row, field.list_text));
    if (exact) {
        option->check(CLI::Validator(
            [field](std::string& value) -> std::string {
                for (const std::string& name : field.names) {
                    if (name == value) {
                        return {};
                    }
                }
                return value + " is not one of " + field.list_text;
            },
            "WHAT"));
    } else {
        option->check(CLI::IsMember(field.names, CLI::ignore_case));
    }
    option->default_str(field.current_name());
    return option;
}

CLI::Option* add_one(CLI::App& command, const options::Binding& binding) {
    const options::OptionRow& row = *binding.row;
    const std::string name(row.name);
    const std::string help(row.help);
    return std::visit(
        [&](auto field) -> CLI::Option* {
            using Field = std::remove_pointer_t<decltype(field)>;
            if constexpr (std::is_same_v<decltype(field), options::ChoiceField>) {
                return add_choice(command, row, field);
            } else if constexpr (std::is_same_v<Field, bool>) {
                return command.add_flag(name, *field, help);
            } else if constexpr (std::is_same_v<Field, double>) {
                if (row.kind == options::Kind::integer) {
                    // A whole number that the configuration holds as a double.
                    CLI::Option* option = command.add_option_function<int>(
                        name, [field](const int& value) { *field = value; }, help);
                    if (row.show_default) {
                        option->default_str(std::to_string(static_cast<int>(*field)));
                    }
                    return option;
                }
                return command.add_option(name, *field, help);
            } else {
                return command.add_option(name, *field, help);
            }
        },
        binding.field);
}

}  // namespace

void add_bound_options(CLI::App& command, const options::Bindings& bindings) {
    for (const options::Binding& binding : bindings.all()) {
        const options::OptionRow& row = *binding.row;
        CLI::Option* option = add_one(command, binding);
        if (row.kind == options::Kind::list) {
            option->delimiter(',');
        }
        if (row.count > 0) {
            option->expected(row.count);
        }
        apply_check(option, row);
        if (!row.type_name.empty()) {
            option->type_name(std::string(row.type_name));
        }
        if (row.show_default && row.kind != options::Kind::toggle &&
            option->get_default_str().empty()) {
            option->capture_default_str();
        }
    }
}

}  // namespace velmora::cli
