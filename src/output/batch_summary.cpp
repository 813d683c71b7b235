#include "output/batch_summary.hpp"

#include "output/csv.hpp"

namespace velmora::batch {

namespace {

using nlohmann::json;

// The value at key of object, or null when object is not an object or has
// no such key.
json member(const json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found == object.end() ? json(nullptr) : *found;
}

json p_values_of(const json& tests) {
    if (!tests.is_array()) {
        return nullptr;
    }
    json out = json::array();
    for (const json& test : tests) {
        out.push_back(member(test, "p_value"));
    }
    return out;
}

std::string field(const json& value) {
    if (value.is_null()) {
        return {};
    }
    if (value.is_string()) {
        return csv_text(value.get<std::string>());
    }
    if (value.is_boolean()) {
        return value.get<bool>() ? "true" : "false";
    }
    if (value.is_number_integer()) {
        return std::to_string(value.get<long long>());
    }
    if (value.is_number()) {
        return csv_number(value.get<double>());
    }
    if (value.is_array()) {
        // Lists share one field, their items separated by blanks; a missing
        // item (a p-value that could not be computed) is "NA".
        std::string joined;
        for (const json& item : value) {
            if (!joined.empty()) {
                joined += ' ';
            }
            if (item.is_string()) {
                joined += item.get<std::string>();
            } else if (item.is_number_integer()) {
                joined += std::to_string(item.get<long long>());
            } else if (item.is_number()) {
                joined += csv_number(item.get<double>());
            } else {
                joined += "NA";
            }
        }
        return csv_text(joined);
    }
    return csv_text(value.dump());
}

}  // namespace

const std::vector<std::string>& summary_columns() {
    static const std::vector<std::string> columns = {"name",
                                                     "command",
                                                     "exit_status",
                                                     "message",
                                                     "seed",
                                                     "threshold_variables",
                                                     "lags",
                                                     "regimes",
                                                     "thresholds",
                                                     "criterion",
                                                     "criterion_name",
                                                     "linear_difference",
                                                     "linearity_p_value",
                                                     "regime_test_p_values",
                                                     "holdout_rmse"};
    return columns;
}

json job_row(const std::string& name, const std::string& command, int exit_status,
             const std::string& message, const std::string& seed, const json& result) {
    json row = json::object();
    for (const std::string& column : summary_columns()) {
        row[column] = nullptr;
    }
    row["name"] = name;
    row["command"] = command;
    row["exit_status"] = exit_status;
    row["message"] = message;
    row["seed"] = seed;
    if (!result.is_object()) {
        return row;
    }
    json model = command == "fit" ? member(result, "model") : member(result, "refined");
    if (!model.is_object()) {
        model = member(result, "best");
    }
    if (model.is_object()) {
        json names = member(model, "component_names");
        row["threshold_variables"] = names.is_array() ? names : member(model, "components");
        row["lags"] = member(model, "lags");
        row["regimes"] = member(model, "regimes");
        row["thresholds"] = member(model, "thresholds");
        row["criterion"] = member(model, "criterion");
        json name = member(model, "criterion_name");
        if (name.is_null()) {
            name = member(member(result, "parameters"), "criterion");
        }
        // Commands that know one criterion only do not name it.
        row["criterion_name"] = name.is_string() ? name : json("classic");
        row["linear_difference"] = member(model, "difference_to_linear");
        row["linearity_p_value"] = member(member(model, "linearity_test"), "p_value");
    }
    json tests = member(result, "regime_tests");
    if (tests.is_null()) {
        tests = member(model, "regime_tests");
    }
    row["regime_test_p_values"] = p_values_of(tests);
    const json rmse_all = member(member(member(result, "holdout"), "threshold"), "rmse_all");
    if (rmse_all.is_array() && !rmse_all.empty()) {
        row["holdout_rmse"] = rmse_all[0];
    }
    return row;
}

std::string summary_csv_header() {
    std::string line;
    for (const std::string& column : summary_columns()) {
        if (!line.empty()) {
            line += ',';
        }
        line += column;
    }
    return line + '\n';
}

std::string summary_csv_line(const json& row) {
    std::string line;
    bool first = true;
    for (const std::string& column : summary_columns()) {
        if (!first) {
            line += ',';
        }
        first = false;
        line += field(member(row, column.c_str()));
    }
    return line + '\n';
}

std::string summary_csv(const std::vector<json>& rows) {
    std::string text = summary_csv_header();
    for (const json& row : rows) {
        text += summary_csv_line(row);
    }
    return text;
}

json summary_json(const std::vector<json>& rows, int ran, int kept, int failed) {
    return {{"jobs", rows}, {"ran", ran}, {"kept", kept}, {"failed", failed}};
}

}  // namespace velmora::batch
