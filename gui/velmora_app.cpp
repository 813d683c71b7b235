#include "velmora_app.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTabWidget>
#include <QTextStream>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "app/run_driver.hpp"
#include "icon.hpp"
#include "main_window.hpp"
#include "parameter_dialog.hpp"

namespace velmora::gui {

namespace {

constexpr int kScreenshotReplicates = 200;
constexpr int kScreenshotForecast = 20;
constexpr int kScreenshotGirf = 12;
constexpr int kScreenshotHoldout = 100;
constexpr QSize kScreenshotSize(1040, 900);

// The course file the screenshots show when none is named: the default
// parameters' own (TassidiCambio.txt) when the working directory holds it,
// else the bundled sample's returns, from the working directory (a clone's
// root) or from the source tree the program was built from.
QString default_screenshot_course_file() {
    for (const QString& candidate :
         {QStringLiteral("TassidiCambio.txt"), QStringLiteral("data/eustockmarkets_returns.csv")}) {
        if (QFileInfo(candidate).isFile()) {
            return QDir::current().absoluteFilePath(candidate);
        }
    }
    return QStringLiteral(VELMORA_DATA_DIR "/eustockmarkets_returns.csv");
}

// The window is shown after a real run on the course file with the default
// parameters, as a user would see it, with the inference and the forecasts
// asked for so that their pages have something to show.
bool save_screenshots(const QString& directory, const QString& course_file,
                      SeedingCounter& seedings) {
    if (!QDir().mkpath(directory)) {
        return false;
    }
    const QDir dir(directory);

    VelmoraDlg window(&velmora::run_search, seedings);
    ParameterValues parameters;
    parameters.config.course_file = course_file.toStdString();
    window.set_parameters(parameters);
    AnalysisChoices choices;
    choices.test_linearity = kScreenshotReplicates;
    choices.request.forecast = kScreenshotForecast;
    choices.request.girf = kScreenshotGirf;
    choices.request.holdout = kScreenshotHoldout;
    window.set_analysis_choices(choices);
    // Room for the tables and charts of the pages.
    window.resize(kScreenshotSize);
    window.show();
    window.start_run();
    while (window.run_under_way()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QApplication::processEvents();
    bool saved = window.grab().save(dir.filePath(QStringLiteral("main-window.png")));

    // Each page of the results area after the messages, as "<title>-tab.png".
    QTabWidget* results = window.results();
    for (int i = 1; i < results->count(); ++i) {
        results->setCurrentIndex(i);
        QApplication::processEvents();
        const QString name =
            results->tabText(i).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
        saved = window.grab().save(dir.filePath(name + QStringLiteral("-tab.png"))) && saved;
    }
    results->setCurrentIndex(0);

    ParGenAlgDlg dialog(window.parameters(), &window);
    dialog.show();
    QApplication::processEvents();
    saved = dialog.grab().save(dir.filePath(QStringLiteral("parameter-dialog.png"))) && saved;
    return saved;
}

}  // namespace

std::string gui_help_text() {
    return "Usage: velmora-gui [--screenshots DIR [COURSE_FILE]]\n"
           "\n"
           "The desktop program of Velmora: threshold VAR models searched by a genetic\n"
           "algorithm, with the run's charts, inference and forecasts in one window.\n"
           "Start it from the folder that holds the series.\n"
           "\n"
           "Options:\n"
           "  --help                print this help and exit\n"
           "  --version             print the version and exit\n"
           "  --screenshots DIR [COURSE_FILE]\n"
           "                        run the default parameters on COURSE_FILE in the\n"
           "                        working directory, then save pictures of the window,\n"
           "                        each page and the parameter dialog into DIR; without\n"
           "                        COURSE_FILE: TassidiCambio.txt when the working\n"
           "                        directory holds it, else the bundled\n"
           "                        data/eustockmarkets_returns.csv\n"
           "\n"
           "Qt's own options (for example -platform offscreen) are accepted too.\n";
}

std::optional<int> answer_without_display(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(gui_help_text().c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("velmora-gui 1.0\n", stdout);
            return 0;
        }
    }
    return std::nullopt;
}

VelmoraApp::VelmoraApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Velmora"));
    setApplicationVersion(QStringLiteral("1.0"));
    setWindowIcon(program_icon());
    // After the application object: its constructor sets the C library's
    // locale from the environment, which under a German or Italian locale
    // would write "pcross =0,900".
    std::setlocale(LC_NUMERIC, "C");
}

int VelmoraApp::run() {
    const QStringList args = arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--screenshots"));
    if (at >= 0) {
        if (at + 1 >= args.size()) {
            QTextStream(stderr) << "velmora-gui: --screenshots needs a folder\n";
            return 2;
        }
        const QString course = at + 2 < args.size() && !args.at(at + 2).startsWith(QLatin1Char('-'))
                                   ? QFileInfo(args.at(at + 2)).absoluteFilePath()
                                   : default_screenshot_course_file();
        if (!QFileInfo(course).isFile()) {
            QTextStream(stderr) << "velmora-gui: course file " << course << " not found\n";
            return 2;
        }
        if (!save_screenshots(args.at(at + 1), course, seedings_)) {
            QTextStream(stderr) << "velmora-gui: cannot save the screenshots\n";
            return 1;
        }
        return 0;
    }
    VelmoraDlg window(&velmora::run_search, seedings_);
    window.show();
    window.exec();
    return 0;
}

}  // namespace velmora::gui
