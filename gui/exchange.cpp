#include "exchange.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "options/bindings.hpp"

namespace velmora::gui {

namespace {

std::string_view trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n\f\v";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// from_chars takes no leading '+', which people do type.
std::string_view drop_plus(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

// Converts the fields one by one; the first failure is kept and every later
// conversion becomes a no-op, so the caller can write the sequence straight
// down in exchange order.
class Exchanger {
  public:
    void integer(int id, const std::string& text, int& target) {
        if (failed()) {
            return;
        }
        if (const auto v = parse_int(text)) {
            target = *v;
        } else {
            fail(id, kNotAnInteger);
        }
    }

    void real(int id, const std::string& text, double& target) {
        if (failed()) {
            return;
        }
        if (const auto v = parse_double(text)) {
            target = *v;
        } else {
            fail(id, kNotANumber);
        }
    }

    void real(int id, const std::string& text, float& target) {
        if (failed()) {
            return;
        }
        if (const auto v = parse_float(text)) {
            target = *v;
        } else {
            fail(id, kNotANumber);
        }
    }

    void check(int id, bool allowed, std::string_view message) {
        if (failed()) {
            return;
        }
        if (!allowed) {
            fail(id, message);
        }
    }

    bool failed() const { return failure_.has_value(); }
    const ExchangeFailure& failure() const { return *failure_; }

  private:
    void fail(int id, std::string_view message) {
        failure_ = ExchangeFailure{id, std::string(message)};
    }

    std::optional<ExchangeFailure> failure_;
};

}  // namespace

std::optional<int> parse_int(std::string_view text) {
    text = drop_plus(trim(text));
    if (text.empty()) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parse_double(std::string_view text) {
    text = drop_plus(trim(text));
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> parse_float(std::string_view text) {
    const auto value = parse_double(text);
    if (!value || std::fabs(*value) > static_cast<double>(std::numeric_limits<float>::max())) {
        return std::nullopt;
    }
    return static_cast<float>(*value);
}

std::string format_float(float value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string();
}

std::string format_double(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string();
}

bool same_config(const RunConfig& a, const RunConfig& b) {
    return a.selection_choice == b.selection_choice && a.tourneysize == b.tourneysize &&
           a.crossover_choice == b.crossover_choice && a.scaling_method == b.scaling_method &&
           a.scalemult == b.scalemult && a.beta == b.beta && a.sigma_trunc == b.sigma_trunc &&
           a.scaling_window == b.scaling_window && a.maxgen == b.maxgen && a.pcross == b.pcross &&
           a.pmutation == b.pmutation && a.popsize == b.popsize && a.n_oss == b.n_oss &&
           a.n_comp == b.n_comp && a.model.min_obs_per_regime == b.model.min_obs_per_regime &&
           a.course_file == b.course_file && a.model.max_order == b.model.max_order;
}

bool operator==(const ParameterValues& a, const ParameterValues& b) {
    return same_config(a.config, b.config) && a.crowding == b.crowding &&
           a.incest_reduction == b.incest_reduction;
}

ExchangeResult exchange_from_fields(const ParameterFields& fields) {
    namespace c = control;
    ParameterValues values;
    RunConfig& config = values.config;
    Exchanger x;

    config.selection_choice = fields.selection;
    x.integer(c::kTourneySize, fields.tourneysize, config.tourneysize);
    config.crossover_choice = fields.crossover;
    int window = 0;
    x.integer(c::kScalingWindow, fields.scaling_window, window);
    config.scaling_window = window;
    x.real(c::kBeta, fields.beta, config.beta);
    x.real(c::kScaleMult, fields.scalemult, config.scalemult);
    config.scaling_method = fields.scaling;
    x.real(c::kSigmaTrunc, fields.sigma_trunc, config.sigma_trunc);
    x.integer(c::kCrowding, fields.crowding, values.crowding);
    x.integer(c::kIncestReduction, fields.incest_reduction, values.incest_reduction);
    x.integer(c::kMaxgen, fields.maxgen, config.maxgen);
    x.real(c::kPcross, fields.pcross, config.pcross);
    x.real(c::kPmutation, fields.pmutation, config.pmutation);
    x.integer(c::kPopsize, fields.popsize, config.popsize);
    x.integer(c::kNoss, fields.n_oss, config.n_oss);
    x.integer(c::kNcomp, fields.n_comp, config.n_comp);
    x.integer(c::kMinOssReg, fields.min_oss_reg, config.model.min_obs_per_regime);
    config.course_file = fields.course_file;
    x.integer(c::kMaxOrder, fields.max_order, config.model.max_order);
    x.check(c::kMaxOrder, options::max_order.bounds->allows(config.model.max_order),
            options::dialog_range_message(options::max_order));

    if (x.failed()) {
        return x.failure();
    }
    return values;
}

ParameterFields fields_from_values(const ParameterValues& values) {
    const RunConfig& config = values.config;
    ParameterFields fields;
    fields.selection = config.selection_choice;
    fields.tourneysize = std::to_string(config.tourneysize);
    fields.crossover = config.crossover_choice;
    fields.scaling = config.scaling_method;
    fields.scalemult = format_float(config.scalemult);
    fields.beta = format_double(config.beta);
    fields.sigma_trunc = format_double(config.sigma_trunc);
    const double window = std::trunc(config.scaling_window);
    fields.scaling_window =
        std::isfinite(window) && std::fabs(window) <= std::numeric_limits<int>::max()
            ? std::to_string(static_cast<int>(window))
            : format_double(window);
    fields.crowding = std::to_string(values.crowding);
    fields.incest_reduction = std::to_string(values.incest_reduction);
    fields.maxgen = std::to_string(config.maxgen);
    fields.pcross = format_double(config.pcross);
    fields.pmutation = format_double(config.pmutation);
    fields.popsize = std::to_string(config.popsize);
    fields.n_oss = std::to_string(config.n_oss);
    fields.n_comp = std::to_string(config.n_comp);
    fields.min_oss_reg = std::to_string(config.model.min_obs_per_regime);
    fields.course_file = config.course_file;
    fields.max_order = std::to_string(config.model.max_order);
    return fields;
}

}  // namespace velmora::gui
