#include "model/criterion.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "model/problem.hpp"

namespace velmora {

const char* criterion_name(Criterion criterion) {
    switch (criterion) {
        case Criterion::classic:
            return "classic";
        case Criterion::aic:
            return "aic";
        case Criterion::bic:
            return "bic";
        case Criterion::hq:
            return "hq";
    }
    return "classic";
}

std::optional<Criterion> parse_criterion(std::string_view name) {
    for (const Criterion c : kCriterionChoices) {
        if (name == criterion_name(c)) {
            return c;
        }
    }
    return std::nullopt;
}

std::string criterion_choices_text() {
    std::string text;
    for (const Criterion c : kCriterionChoices) {
        if (!text.empty()) {
            text += "|";
        }
        text += criterion_name(c);
    }
    return text;
}

int common_first_row(int m) {
    return std::max(kMaxLag, m) + 1;
}

int criterion_first_row(Criterion criterion, int m) {
    return criterion == Criterion::classic ? 1 : common_first_row(m);
}

int estimated_coefficients(int n_regime, int k, int m, int deterministic_terms) {
    return n_regime * k * (m * k + deterministic_terms);
}

int estimated_coefficients(const int* orders, int n_regime, int k, int deterministic_terms) {
    int count = 0;
    for (int r = 0; r < n_regime; ++r) {
        count += k * (orders[r] * k + deterministic_terms);
    }
    return count;
}

double information_criterion(Criterion criterion, double log_det, int rows, int coefficients) {
    const double t = rows;
    double penalty = 0.0;
    switch (criterion) {
        case Criterion::aic:
            penalty = 2.0;
            break;
        case Criterion::bic:
            penalty = std::log(t);
            break;
        case Criterion::hq:
            penalty = 2.0 * std::log(std::log(t));
            break;
        case Criterion::classic:
            throw std::invalid_argument("the classic criterion has its own algebra");
    }
    return log_det + penalty * coefficients / t;
}

}  // namespace velmora
