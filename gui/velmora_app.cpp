#include "velmora_app.hpp"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTabWidget>
#include <QTextStream>

#include <clocale>

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

// With the default course file in the working directory the window is shown
// after a real run with the default parameters, as a user would see it, with
// the inference and the forecasts asked for so that their pages have
// something to show.
bool save_screenshots(const QString& directory, SeedingCounter& seedings) {
    if (!QDir().mkpath(directory)) {
        return false;
    }
    const QDir dir(directory);

    VelmoraDlg window(&velmora::run_search, seedings);
    AnalysisChoices choices;
    choices.test_linearity = kScreenshotReplicates;
    choices.request.forecast = kScreenshotForecast;
    choices.request.girf = kScreenshotGirf;
    choices.request.holdout = kScreenshotHoldout;
    window.set_analysis_choices(choices);
    // Room for the tables and charts of the pages.
    window.resize(kScreenshotSize);
    window.show();
    if (QFile::exists(QString::fromStdString(window.parameters().config.course_file))) {
        window.start_run();
        while (window.run_under_way()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
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
        if (at + 1 >= args.size() || !save_screenshots(args.at(at + 1), seedings_)) {
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
