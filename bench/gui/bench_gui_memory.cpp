// How much memory the desktop program takes for a run with many
// replications, and how much of it stays once the run has ended.
//
//   bench_gui_memory [replications=1000] [generations=3] [threads=cores]
//
// The main window runs the sample series (data/eustockmarkets_returns.txt,
// default parameters otherwise) from its OK button, as a user would, with
// the Search page in view. Printed: the resident size before the run, the
// peak during it (VmHWM), and the resident size once the window has shown
// the end of the run and again after the window is closed.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/run_driver.hpp"
#include "main_window.hpp"

namespace {

// A field of /proc/self/status in MB, or -1.
double status_mb(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024.0;
        }
    }
    return -1.0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int replications = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int generations = argc > 2 ? std::atoi(argv[2]) : 3;
    const int threads = argc > 3 ? std::atoi(argv[3]) : QThread::idealThreadCount();

    QTemporaryDir workdir;
    if (!workdir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    velmora::SeedingCounter seedings;
    double before = 0.0;
    double after_run = 0.0;
    double seconds = 0.0;
    {
        velmora::gui::VelmoraDlg window(&velmora::run_search, seedings);
        velmora::gui::ParameterValues p;
        p.config.course_file = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";
        p.config.maxgen = generations;
        window.set_parameters(p);
        window.set_output_folder(workdir.path());
        window.findChild<QSpinBox*>(QStringLiteral("replicationsSpin"))->setValue(replications);
        window.findChild<QSpinBox*>(QStringLiteral("threadsSpin"))->setValue(threads);
        window.findChild<QCheckBox*>(QStringLiteral("refineCheck"))->setChecked(false);
        window.results()->setCurrentIndex(1);
        window.resize(1040, 900);
        window.show();
        QApplication::processEvents();
        before = status_mb("VmRSS");

        QElapsedTimer timer;
        timer.start();
        window.start_run();
        while (window.run_under_way()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        QApplication::processEvents();
        seconds = static_cast<double>(timer.elapsed()) / 1000.0;
        after_run = status_mb("VmRSS");
    }
    QApplication::processEvents();
    const double closed = status_mb("VmRSS");
    std::printf("replications %d, generations %d, threads %d: %.1f s\n", replications, generations,
                threads, seconds);
    std::printf("resident before the run   %8.1f MB\n", before);
    std::printf("peak (VmHWM)              %8.1f MB\n", status_mb("VmHWM"));
    std::printf("resident after the run    %8.1f MB\n", after_run);
    std::printf("resident, window closed   %8.1f MB\n", closed);
    return 0;
}
