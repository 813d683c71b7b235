#include "options/bindings.hpp"

#include <charconv>
#include <type_traits>

namespace velmora::options {

double as_entered(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double widened = value;
    std::from_chars(text, written.ptr, widened);
    return widened;
}

std::string dialog_range_message(const OptionRow& row) {
    return "Please enter an integer between " + std::to_string(low_int(row)) + " and " +
           std::to_string(high_int(row)) + ".";
}

std::string help_text(const OptionRow& row, const std::string& list_text) {
    std::string help(row.help);
    if (const auto at = help.find("{}"); at != std::string::npos) {
        help.replace(at, 2, list_text);
    }
    return help;
}

std::string ChoiceField::current_name() const {
    const int i = index();
    return i >= 0 && static_cast<std::size_t>(i) < names.size() ? names[static_cast<std::size_t>(i)]
                                                                : std::string();
}

void Bindings::bind(const OptionRow& row, int& index, std::span<const char* const> names) {
    ChoiceField choice;
    choice.names.assign(names.begin(), names.end());
    choice.index = [&index] { return index; };
    choice.set = [&index](int i) { index = i; };
    for (const std::string& name : choice.names) {
        choice.list_text += (choice.list_text.empty() ? "" : "|") + name;
    }
    bindings_.push_back({&row, FieldRef(std::move(choice))});
}

const Binding* Bindings::find(const OptionRow& row) const {
    for (const Binding& binding : bindings_) {
        if (binding.row == &row) {
            return &binding;
        }
    }
    return nullptr;
}

namespace {

// Text as echoed: a whole number as a number where the row asks for it.
nlohmann::json echo_text(const OptionRow& row, const std::string& text) {
    int number = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (row.echo_numbers && !text.empty() && ec == std::errc() &&
        ptr == text.data() + text.size()) {
        return number;
    }
    return text;
}

}  // namespace

nlohmann::json echo(const Binding& binding) {
    const OptionRow& row = *binding.row;
    return std::visit(
        [&row](const auto& field) -> nlohmann::json {
            using Field = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<Field, ChoiceField>) {
                return field.current_name();
            } else if constexpr (std::is_same_v<Field, bool*>) {
                return row.echo_negated ? !*field : *field;
            } else if constexpr (std::is_same_v<Field, float*>) {
                return as_entered(*field);
            } else if constexpr (std::is_same_v<Field, double*>) {
                // A whole number held as a double echoes as the run reads it.
                if (row.kind == Kind::integer) {
                    return static_cast<int>(*field);
                }
                return *field;
            } else if constexpr (std::is_same_v<Field, std::filesystem::path*>) {
                return field->string();
            } else if constexpr (std::is_same_v<Field, std::optional<int>*>) {
                return *field ? nlohmann::json(**field) : nlohmann::json(nullptr);
            } else if constexpr (std::is_same_v<Field, std::optional<std::string>*>) {
                return *field ? echo_text(row, **field) : nlohmann::json(nullptr);
            } else if constexpr (std::is_same_v<Field, std::vector<std::string>*>) {
                nlohmann::json list = nlohmann::json::array();
                for (const std::string& text : *field) {
                    list.push_back(echo_text(row, text));
                }
                return list;
            } else {
                return *field;
            }
        },
        binding.field);
}

nlohmann::json Bindings::parameters_json() const {
    nlohmann::json parameters = nlohmann::json::object();
    for (const Binding& binding : bindings_) {
        if (!binding.row->json_key.empty()) {
            parameters[std::string(binding.row->json_key)] = echo(binding);
        }
    }
    return parameters;
}

}  // namespace velmora::options
