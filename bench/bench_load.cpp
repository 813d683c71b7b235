// Time to load a series file: the largest series a run accepts (131,072 rows)
// of 8 components, as a CSV with a header and a date column, and as the
// equivalent blank-separated stream. The goal is well under 0.2 s a load.
//
//   ./bench_load

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "data/series.hpp"

namespace {

constexpr int kRows = 131072;
constexpr int kColumns = 8;

struct Files {
    std::filesystem::path dir;
    std::filesystem::path csv;
    std::filesystem::path txt;
    double csv_bytes = 0.0;
    double txt_bytes = 0.0;

    Files() {
        dir = std::filesystem::temp_directory_path() / "velmora-bench-load";
        std::filesystem::create_directories(dir);
        csv = dir / "series.csv";
        txt = dir / "series.txt";
        std::ofstream c(csv, std::ios::binary);
        std::ofstream t(txt, std::ios::binary);
        std::mt19937 rng(1);
        std::normal_distribution<double> z(0.0, 1.2);
        c << "date";
        for (int k = 1; k <= kColumns; ++k) {
            c << ",S" << k;
        }
        c << "\n";
        char cell[32];
        for (int r = 0; r < kRows; ++r) {
            // Calendar-like labels; only their text matters here.
            std::snprintf(cell, sizeof cell, "%04d-%02d-%02d", 1900 + r / 372, 1 + r / 31 % 12,
                          1 + r % 31);
            c << cell;
            for (int k = 0; k < kColumns; ++k) {
                std::snprintf(cell, sizeof cell, "%.6f", z(rng));
                c << ',' << cell;
                t << (k == 0 ? "" : " ") << cell;
            }
            c << '\n';
            t << '\n';
        }
        c.close();
        t.close();
        csv_bytes = static_cast<double>(std::filesystem::file_size(csv));
        txt_bytes = static_cast<double>(std::filesystem::file_size(txt));
    }
    ~Files() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Files& files() {
    static Files f;
    return f;
}

void load(benchmark::State& state, const std::filesystem::path& path, double bytes, bool sized) {
    velmora::SeriesRequest request;
    request.path = path;
    if (sized) {
        request.n_oss = kRows;
        request.n_comp = kColumns;
    }
    for (auto _ : state) {
        velmora::LoadedSeries series = velmora::load_series(request);
        benchmark::DoNotOptimize(series.serie[kRows][kColumns]);
    }
    state.counters["seconds_per_load"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["MB/s"] = benchmark::Counter(
        bytes * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_LoadCsvSizesFromFile(benchmark::State& state) {
    load(state, files().csv, files().csv_bytes, false);
}
void BM_LoadCsvSizesGiven(benchmark::State& state) {
    load(state, files().csv, files().csv_bytes, true);
}
void BM_LoadWhiteSpaceSizesGiven(benchmark::State& state) {
    load(state, files().txt, files().txt_bytes, true);
}

BENCHMARK(BM_LoadCsvSizesFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadCsvSizesGiven)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadWhiteSpaceSizesGiven)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
