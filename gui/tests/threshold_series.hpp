#pragma once
// A short series file with a clear threshold, the folder the tests that drive
// real runs from the window work in, and the short search they run on it.

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <string>

#include "exchange.hpp"

namespace velmora::gui::test {

// The next value in [-0.5, 0.5) of a fixed linear congruential sequence, so
// that a written file is the same every time.
inline double lcg_noise(unsigned& state) {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 16) & 0x7fff) / 32768.0 - 0.5;
}

// x follows itself with x_own; y follows itself with y_above or y_below as
// the last x is above zero or not, plus cross times the last x.
struct SwitchingDynamics {
    unsigned seed = 777;
    double x_own = 0.5;
    double y_above = 0.7;
    double y_below = -0.5;
    double cross = 0.0;
};

// A two-component series of n rows whose second component switches its
// dynamics with the sign of the first one's last value.
inline void write_threshold_series(const QString& path, int n, const SwitchingDynamics& d = {}) {
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "w");
    QVERIFY(f);
    unsigned state = d.seed;
    double x = 0.0;
    double y = 0.0;
    for (int t = 0; t < n; ++t) {
        const double nx = d.x_own * x + lcg_noise(state);
        const double ny = (x > 0.0 ? d.y_above : d.y_below) * y + d.cross * x + lcg_noise(state);
        x = nx;
        y = ny;
        std::fprintf(f, "%.6f %.6f\n", x, y);
    }
    std::fclose(f);
}

// The course file of the default parameters (TassidiCambio.txt, 1000 rows of
// 4 components) in `dir`: the window reads the course file before it hands
// the run to a scripted stand-in too.
inline void write_default_course_file(const QString& dir) {
    const QString path = dir + QStringLiteral("/TassidiCambio.txt");
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "w");
    QVERIFY(f);
    unsigned state = 4242;
    for (int t = 0; t < 1000; ++t) {
        for (int c = 0; c < 4; ++c) {
            std::fprintf(f, "%s%.6f", c == 0 ? "" : " ", lcg_noise(state));
        }
        std::fputc('\n', f);
    }
    std::fclose(f);
}

// A fresh temporary folder made the current one; null when it cannot be made
// or entered. leave_folder goes back to the system's temporary folder before
// the folder is removed.
inline std::unique_ptr<QTemporaryDir> enter_fresh_folder() {
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid() || !QDir::setCurrent(dir->path())) {
        return nullptr;
    }
    return dir;
}

inline void leave_folder(std::unique_ptr<QTemporaryDir>& dir) {
    QDir::setCurrent(QDir::tempPath());
    dir.reset();
}

// A fresh current folder holding serie.txt (write_threshold_series, `rows`
// rows) and the default course file; null when it cannot be made or entered.
inline std::unique_ptr<QTemporaryDir> enter_series_folder(int rows) {
    auto dir = enter_fresh_folder();
    if (dir) {
        write_threshold_series(dir->filePath("serie.txt"), rows);
        write_default_course_file(dir->path());
    }
    return dir;
}

// A short real search of the first n_oss rows of the two-component
// course_file: a population of 10 for maxgen generations, order 1, 15 rows
// at least in every regime.
inline ParameterValues short_search(int maxgen, int n_oss,
                                    const std::string& course_file = "serie.txt") {
    ParameterValues p;
    p.config.popsize = 10;
    p.config.maxgen = maxgen;
    p.config.n_oss = n_oss;
    p.config.n_comp = 2;
    p.config.model.min_obs_per_regime = 15;
    p.config.model.max_order = 1;
    p.config.course_file = course_file;
    return p;
}

// The default parameters but for the number of generations.
inline ParameterValues with_generations(int maxgen) {
    ParameterValues p;
    p.config.maxgen = maxgen;
    return p;
}

}  // namespace velmora::gui::test
