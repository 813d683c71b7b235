#pragma once
// A short series file with a clear threshold, for the tests that drive real
// runs from the window.

#include <QString>
#include <QTest>

#include <cstdio>

namespace velmora::gui::test {

// A two-component series of n rows whose second component switches its
// dynamics with the sign of the first one's last value; a fixed linear
// congruential sequence supplies the noise.
inline void write_threshold_series(const QString& path, int n) {
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "w");
    QVERIFY(f);
    unsigned state = 777;
    const auto noise = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<double>((state >> 16) & 0x7fff) / 32768.0 - 0.5;
    };
    double x = 0.0;
    double y = 0.0;
    for (int t = 0; t < n; ++t) {
        const double nx = 0.5 * x + noise();
        const double ny = (x > 0.0 ? 0.7 : -0.5) * y + noise();
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
            state = state * 1103515245u + 12345u;
            std::fprintf(f, "%s%.6f", c == 0 ? "" : " ",
                         static_cast<double>((state >> 16) & 0x7fff) / 32768.0 - 0.5);
        }
        std::fputc('\n', f);
    }
    std::fclose(f);
}

}  // namespace velmora::gui::test
