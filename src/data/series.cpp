#include "data/series.hpp"

#include <charconv>
#include <cmath>

#include "data/number.hpp"
#include "data/table_reader.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

// Sizes out of any possible range are the caller's to refuse with its own
// words; the reader only needs them positive.
void check_sizes(const SeriesRequest& request) {
    if ((request.n_oss && *request.n_oss < 1) || (request.n_comp && *request.n_comp < 1)) {
        throw ConfigError(strprintf(
            "Course file %s cannot be read as %d observations of %d components: both must be "
            "at least 1",
            request.path.string().c_str(), request.n_oss.value_or(1), request.n_comp.value_or(1)));
    }
}

std::string format_name(const data::Table& table) {
    if (table.format == data::TableFormat::white_space) {
        return "white-space";
    }
    switch (table.delimiter) {
        case ',':
            return "comma-separated";
        case ';':
            return "semicolon-separated";
        default:
            return "tab-separated";
    }
}

}  // namespace

std::string SeriesInfo::component(int k) const {
    if (k >= 1 && static_cast<std::size_t>(k) <= component_names.size() &&
        !component_names[static_cast<std::size_t>(k - 1)].empty()) {
        return component_names[static_cast<std::size_t>(k - 1)];
    }
    if (external(k)) {
        const auto j = static_cast<std::size_t>(k - n_comp() - 1);
        if (j < external_names.size() && !external_names[j].empty()) {
            return external_names[j];
        }
        return strprintf("column %d", external_columns[j]);
    }
    return strprintf("component %d", k);
}

int SeriesInfo::column_named(const std::string& text) const {
    const int columns = n_comp() + static_cast<int>(external_columns.size());
    if (has_names) {
        for (int k = 1; k <= columns; ++k) {
            if (k <= n_comp()
                    ? component_names[static_cast<std::size_t>(k - 1)] == text
                    : external_names[static_cast<std::size_t>(k - n_comp() - 1)] == text) {
                return k;
            }
        }
    }
    int number = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        return 0;
    }
    for (int k = 1; k <= columns; ++k) {
        const int file_column = k <= n_comp()
                                    ? file_columns[static_cast<std::size_t>(k - 1)]
                                    : external_columns[static_cast<std::size_t>(k - n_comp() - 1)];
        if (file_column == number) {
            return k;
        }
    }
    return 0;
}

std::string SeriesInfo::column_text(int k) const {
    if (has_names) {
        return component(k);
    }
    const int file_column =
        k <= n_comp() ? file_columns[static_cast<std::size_t>(k - 1)] : reported_column(k);
    return std::to_string(file_column);
}

int SeriesInfo::series_column(int reported, bool is_external) const {
    if (is_external) {
        for (std::size_t j = 0; j < external_columns.size(); ++j) {
            if (external_columns[j] == reported) {
                return n_comp() + static_cast<int>(j) + 1;
            }
        }
    }
    return reported;
}

int SeriesInfo::reported_column(int k) const {
    if (external(k)) {
        return external_columns[static_cast<std::size_t>(k - n_comp() - 1)];
    }
    return k;
}

std::vector<std::string> SeriesInfo::names() const {
    std::vector<std::string> out;
    if (has_names) {
        for (std::size_t k = 1; k <= component_names.size(); ++k) {
            out.push_back(component(static_cast<int>(k)));
        }
    }
    return out;
}

std::string SeriesInfo::label(int t) const {
    if (t >= 1 && static_cast<std::size_t>(t) <= row_labels.size()) {
        return row_labels[static_cast<std::size_t>(t - 1)];
    }
    return {};
}

std::string SeriesInfo::shown_component(int k) const {
    return data::shown_text(component(k));
}

std::vector<std::string> SeriesInfo::shown_names() const {
    std::vector<std::string> out = names();
    for (std::string& name : out) {
        name = data::shown_text(name);
    }
    // An external threshold column is named even where the components are
    // not (they are then left empty, to be numbered).
    if (!external_columns.empty()) {
        out.resize(static_cast<std::size_t>(n_comp()));
        for (std::size_t j = 1; j <= external_columns.size(); ++j) {
            out.push_back(shown_component(n_comp() + static_cast<int>(j)));
        }
    }
    return out;
}

std::string SeriesInfo::shown_label(int t) const {
    return data::shown_text(label(t));
}

std::string SeriesInfo::rows_text() const {
    return strprintf("read %d of %s%lld rows", rows_read, rows_in_file_exact ? "" : "at least ",
                     rows_in_file);
}

LoadedSeries load_series(const SeriesRequest& request) {
    check_sizes(request);
    data::TableRequest table_request;
    table_request.path = request.path;
    table_request.columns = request.columns;
    table_request.threshold_columns = request.threshold_columns;
    table_request.rows = request.n_oss;
    table_request.width = request.n_comp;
    const data::Table table = data::read_table(table_request);

    LoadedSeries out;
    const int extras = table.extra_count();
    out.serie = double_matrix(1, table.rows, 1, table.columns + extras);
    for (int t = 1; t <= table.rows; ++t) {
        for (int k = 1; k <= table.columns; ++k) {
            out.serie[t][k] = table.at(t - 1, k - 1);
        }
        for (int j = 1; j <= extras; ++j) {
            out.serie[t][table.columns + j] =
                table.extra_values[static_cast<std::size_t>(t - 1) *
                                       static_cast<std::size_t>(extras) +
                                   static_cast<std::size_t>(j - 1)];
        }
    }
    SeriesInfo& info = out.info;
    info.file = table.source;
    info.format = format_name(table);
    info.has_names = table.has_header;
    info.component_names = table.column_names;
    info.file_columns = table.file_columns;
    info.external_columns = table.extra_file_columns;
    info.external_names = table.extra_names;
    info.threshold_components = table.threshold_slots;
    info.label_name = table.label_name;
    info.row_labels = table.row_labels;
    info.rows_read = table.rows;
    info.rows_in_file = table.rows_in_file;
    info.rows_in_file_exact = table.rows_in_file_exact;
    info.warnings = table.warnings;
    return out;
}

double_matrix read_course_file(const std::filesystem::path& path, int n_oss, int n_comp) {
    SeriesRequest request;
    request.path = path;
    request.n_oss = n_oss;
    request.n_comp = n_comp;
    return load_series(request).serie;
}

std::string threshold_magnitude_problem(const double_matrix& serie, const SeriesInfo& info,
                                        int component) {
    constexpr double limit = 1e6;
    if (component < serie.col_lo() || component > serie.col_hi()) {
        return {};
    }
    for (int t = serie.row_lo(); t <= serie.row_hi(); ++t) {
        const double value = serie[t][component];
        if (std::fabs(value) >= limit) {
            const std::string label = info.shown_label(t);
            return strprintf(
                "Course file %s: %s holds %g at time %d%s%s%s; values of magnitude 1e6 or more "
                "cannot serve as thresholds",
                info.file.c_str(), info.shown_component(component).c_str(), value, t,
                label.empty() ? "" : " (", label.c_str(), label.empty() ? "" : ")");
        }
    }
    return {};
}

void check_threshold_magnitudes(const double_matrix& serie, const SeriesInfo& info,
                                const std::vector<int>& components) {
    for (int k : components) {
        const std::string problem = threshold_magnitude_problem(serie, info, k);
        if (!problem.empty()) {
            throw ConfigError(problem + ": rescale the series (for example divide it by 1000)");
        }
    }
}

}  // namespace velmora
