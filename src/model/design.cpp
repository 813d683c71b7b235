#include "model/design.hpp"

namespace velmora {

int deterministic_count(Include include) noexcept {
    switch (include) {
        case Include::none:
            return 0;
        case Include::constant:
        case Include::trend:
            return 1;
        case Include::both:
            return 2;
    }
    return 0;
}

bool has_constant(Include include) noexcept {
    return include == Include::constant || include == Include::both;
}

bool has_trend(Include include) noexcept {
    return include == Include::trend || include == Include::both;
}

const char* include_name(Include include) noexcept {
    switch (include) {
        case Include::none:
            return "none";
        case Include::constant:
            return "const";
        case Include::trend:
            return "trend";
        case Include::both:
            return "both";
    }
    return "none";
}

std::optional<Include> parse_include(std::string_view name) {
    for (Include i : kIncludeChoices) {
        if (name == include_name(i)) {
            return i;
        }
    }
    return std::nullopt;
}

std::string include_choices_text() {
    std::string text;
    for (std::size_t i = 0; i < kIncludeChoices.size(); ++i) {
        if (i > 0) {
            text += i + 1 == kIncludeChoices.size() ? " or " : ", ";
        }
        text += include_name(kIncludeChoices[i]);
    }
    return text;
}

const char* deterministic_term_name(Include include, int j) noexcept {
    if (j == 0 && has_constant(include)) {
        return "const";
    }
    return "trend";
}

void deterministic_values(Include include, int t, int trend_origin, double* out) noexcept {
    int j = 0;
    if (has_constant(include)) {
        out[j++] = 1.0;
    }
    if (has_trend(include)) {
        out[j] = static_cast<double>(trend_origin + t);
    }
}

Design::Design(const double_matrix& series, int n, int k, int m, Include include, int trend_origin)
    : k_(k), d_(deterministic_count(include)), width_(k + d_ + m * k) {
    build(n, m, include, trend_origin, [&series](int t, int c) { return series[t][c]; });
}

Design::Design(const double* values, int n, int k, int m, Include include, int trend_origin)
    : k_(k), d_(deterministic_count(include)), width_(k + d_ + m * k) {
    build(n, m, include, trend_origin, [values, k](int t, int c) {
        return values[static_cast<std::size_t>(t - 1) * static_cast<std::size_t>(k) +
                      static_cast<std::size_t>(c - 1)];
    });
}

template <class Value>
void Design::build(int n, int m, Include include, int trend_origin, const Value& value) {
    const int k = k_;
    const auto w = static_cast<std::size_t>(width_);
    rows_.assign(static_cast<std::size_t>(n) * w, 0.0);
    for (int t = 1; t <= n; ++t) {
        double* row = rows_.data() + static_cast<std::size_t>(t - 1) * w;
        for (int c = 1; c <= k; ++c) {
            row[c - 1] = value(t, c);
        }
        deterministic_values(include, t, trend_origin, row + k);
        for (int lag = 1; lag <= m && t - lag >= 1; ++lag) {
            double* x = row + k + d_ + (lag - 1) * k;
            for (int c = 1; c <= k; ++c) {
                x[c - 1] = value(t - lag, c);
            }
        }
    }
}

DesignView Design::over_reversed(const double* reversed, int n, int k) noexcept {
    return {reversed, static_cast<std::ptrdiff_t>(n) * k, -static_cast<std::ptrdiff_t>(k), k, 0};
}

DesignView Design::view() const noexcept {
    return {rows_.data(), -static_cast<std::ptrdiff_t>(width_), width_, k_, d_};
}

double criterion_penalty(int n_oss, int n_regime, int k, int m, int d) noexcept {
    const int parameters = n_regime * k * (m * k + d);
    return (2.0 / n_oss) * parameters;
}

}  // namespace velmora
