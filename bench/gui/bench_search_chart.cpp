// How much the desktop program's live Search chart costs a search, and how
// soon the chart of a finished run is on screen.
//
//   bench_search_chart [generations=2000] [repetitions=5] [threads=cores]
//
// The same search (the sample series, default parameters, a fixed seed) runs
// alternately without any window (plain run_search, as the command line runs
// it) and from the main window with the Search tab in view, so both see the
// same load on the machine. The search's own time is taken inside run_search
// in both cases; the medians and their ratio are printed. Then runs of 100
// generations measure the time from the moment run_search returns on the
// worker thread to the moment the window has handled the end of the run and
// the chart has been painted with the final generation.

#include <QApplication>
#include <QDir>
#include <QSpinBox>
#include <QTabWidget>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run_driver.hpp"
#include "chart_view.hpp"
#include "main_window.hpp"
#include "search_tab.hpp"
#include "support/console.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of the whole process (every thread): what the chart takes
// from the search on a machine whose cores are all busy.
double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

bool g_cache = true;

class QuietConsole final : public velmora::Console {
  public:
    void out(std::string_view) override {}
    void err(std::string_view) override {}
};

velmora::RunConfig config_for(int generations) {
    velmora::RunConfig c;
    c.course_file = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";
    c.maxgen = generations;
    return c;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct Times {
    double wall = 0.0;
    double cpu = 0.0;
};

// Seconds spent in run_search without any window.
Times plain_run(const velmora::RunConfig& config, int threads, const std::string& workdir) {
    QuietConsole console;
    velmora::RunOptions options;
    options.workdir = workdir;
    options.seed = 123;
    options.threads = threads;
    options.console = &console;
    options.cache = g_cache;
    options.progress = [](const velmora::RunProgress&) { return true; };
    const double cpu = cpu_seconds();
    const auto start = Clock::now();
    velmora::run_search(config, options);
    return {std::chrono::duration<double>(Clock::now() - start).count(), cpu_seconds() - cpu};
}

struct WindowRun {
    double search_seconds = 0.0;  // inside run_search
    double cpu_seconds = 0.0;     // of the process, from OK to the chart painted
    double latency_ms = 0.0;      // run_search returned -> chart painted
    int points = 0;
};

WindowRun window_run(const velmora::RunConfig& config, int threads, const QString& workdir) {
    std::atomic<double> search_seconds{0.0};
    std::atomic<Clock::rep> returned_at{0};
    auto timed = [&](const velmora::RunConfig& c, const velmora::RunOptions& o) {
        velmora::RunOptions options = o;
        options.seed = 123;
        options.cache = g_cache;
        const auto start = Clock::now();
        velmora::RunResult result = velmora::run_search(c, options);
        const auto end = Clock::now();
        search_seconds = std::chrono::duration<double>(end - start).count();
        returned_at = end.time_since_epoch().count();
        return result;
    };
    velmora::SeedingCounter seedings;
    velmora::gui::VelmoraDlg window(timed, seedings);
    velmora::gui::ParameterValues parameters;
    parameters.config = config;
    window.set_parameters(parameters);
    window.set_output_folder(workdir);
    auto* search = window.results_tab<velmora::gui::SearchTab>();
    if (qEnvironmentVariableIsSet("BENCH_HIDE_CHART")) {
        window.results()->setCurrentIndex(0);
    } else {
        window.results()->setCurrentWidget(search);
    }
    window.findChild<QSpinBox*>(QStringLiteral("threadsSpin"))->setValue(threads);
    window.show();
    QApplication::processEvents();

    const double cpu = cpu_seconds();
    window.start_run();
    while (window.run_under_way()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    search->chart_view()->repaint();
    const auto painted = Clock::now();
    const double cpu_used = cpu_seconds() - cpu;

    WindowRun out;
    out.search_seconds = search_seconds;
    out.cpu_seconds = cpu_used;
    out.latency_ms = std::chrono::duration<double, std::milli>(
                         painted - Clock::time_point(Clock::duration(returned_at.load())))
                         .count();
    out.points = search->best_points(1);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int generations = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
    const int threads = argc > 3 ? std::atoi(argv[3]) : std::max(1, QThread::idealThreadCount());
    const QString workdir = QDir::temp().filePath(QStringLiteral("velmora-bench-search-chart"));
    QDir().mkpath(workdir);

    for (bool cache : {true, false}) {
        g_cache = cache;
        std::vector<double> plain_wall, plain_cpu, window_wall, window_cpu;
        int points = 0;
        for (int i = 0; i < repetitions; ++i) {
            const Times p = plain_run(config_for(generations), threads, workdir.toStdString());
            plain_wall.push_back(p.wall);
            plain_cpu.push_back(p.cpu);
            const WindowRun w = window_run(config_for(generations), threads, workdir);
            window_wall.push_back(w.search_seconds);
            window_cpu.push_back(w.cpu_seconds);
            points = w.points;
        }
        const double pw = median(plain_wall), ww = median(window_wall);
        const double pc = median(plain_cpu), wc = median(window_cpu);
        std::printf(
            "search of %d generations (popsize 50, sample, %d threads, cache %s), "
            "median of %d:\n",
            generations, threads, cache ? "on" : "off", repetitions);
        std::printf("  without a window:           wall %.3f s  processor %.3f s\n", pw, pc);
        std::printf(
            "  with the live Search chart: wall %.3f s  processor %.3f s  "
            "(wall %+.1f %%, processor %+.1f %%; %d points per line)\n",
            ww, wc, 100.0 * (ww / pw - 1.0), 100.0 * (wc / pc - 1.0), points);
    }
    g_cache = true;

    std::vector<double> latency;
    for (int i = 0; i < std::max(5, repetitions); ++i) {
        latency.push_back(window_run(config_for(100), threads, workdir).latency_ms);
    }
    std::sort(latency.begin(), latency.end());
    std::printf(
        "maxgen 100: run_search returned -> final chart painted: median %.1f ms, "
        "worst %.1f ms (%zu runs)\n",
        median(latency), latency.back(), latency.size());
    QDir(workdir).removeRecursively();
    return 0;
}
