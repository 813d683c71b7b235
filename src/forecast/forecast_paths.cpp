#include "forecast/forecast_paths.hpp"

#include <stdexcept>

namespace velmora {

namespace {

inline std::size_t idx(int i) {
    return static_cast<std::size_t>(i);
}

}  // namespace

std::vector<double> series_history(const double_matrix& series, int n_comp, int end, int rows) {
    if (rows < 1 || end < rows) {
        throw std::invalid_argument("series_history: the series is shorter than the history");
    }
    std::vector<double> out;
    out.reserve(idx(rows) * idx(n_comp));
    for (int t = end - rows + 1; t <= end; ++t) {
        for (int c = 1; c <= n_comp; ++c) {
            out.push_back(series[t][c]);
        }
    }
    return out;
}

PathSimulator::PathSimulator(const ThresholdVarModel& model, int steps)
    : model_(model), steps_(steps), rows_(model.history_rows()) {
    model.check();
    if (steps < 1) {
        throw std::invalid_argument("PathSimulator: at least one step");
    }
    buffer_.assign(idx(rows_ + steps_) * idx(model.k), 0.0);
}

void PathSimulator::run(std::span<const double> history, RandomStream* stream,
                        const double* impulse, double* out, int* regimes, int origin) {
    const int k = model_.k;
    if (history.size() < idx(rows_) * idx(k) || history.size() % idx(k) != 0) {
        throw std::invalid_argument("PathSimulator: history too short");
    }
    double* buf = buffer_.data();
    // History rows: newest at row steps_, older below it.
    const int given = static_cast<int>(history.size() / idx(k));
    for (int j = 0; j < rows_; ++j) {
        const double* src = history.data() + idx(given - 1 - j) * idx(k);
        double* dst = buf + idx(steps_ + j) * idx(k);
        for (int c = 0; c < k; ++c) {
            dst[c] = src[c];
        }
    }
    for (int h = 0; h < steps_; ++h) {
        const int pos = steps_ - 1 - h;
        double* y = buf + idx(pos) * idx(k);
        const int r = threshold_var_step(model_, y + k, k, y, origin + h + 1);
        const VarRegime& regime = model_.regimes[idx(r - 1)];
        if (stream != nullptr) {
            const int draw = stream->below(regime.residual_rows(k));
            const double* e = regime.residuals.data() + idx(draw) * idx(k);
            for (int c = 0; c < k; ++c) {
                y[c] += e[c];
            }
        }
        if (impulse != nullptr && h == 0) {
            for (int c = 0; c < k; ++c) {
                y[c] += impulse[c];
            }
        }
        double* o = out + idx(h) * idx(k);
        for (int c = 0; c < k; ++c) {
            o[c] = y[c];
        }
        if (regimes != nullptr) {
            regimes[h] = r;
        }
    }
}

}  // namespace velmora
