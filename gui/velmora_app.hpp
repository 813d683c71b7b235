#pragma once
// The application object: one instance, made by main().

#include <QApplication>

#include <optional>
#include <string>

#include "support/random.hpp"

namespace velmora::gui {

// The command-line help of velmora-gui.
std::string gui_help_text();

// Answers --help and --version on standard output without a display or an
// application object, and returns the exit status then; nothing when the
// window (or the screenshots) should start. Qt's own options (-platform,
// -style, ...) are left to the application object.
std::optional<int> answer_without_display(int argc, char** argv);

class VelmoraApp : public QApplication {
    Q_OBJECT
  public:
    // Numbers are read and written with a decimal point whatever the user's
    // locale: Qt takes the C library's locale from the environment here, and
    // the run log and the result files are written with printf formats.
    VelmoraApp(int& argc, char** argv);

    // Counts the seedings of the process: every run continues the count, so
    // two runs started in the same second seed differently.
    SeedingCounter& seedings() { return seedings_; }

    // Shows the main window and returns when it closes. With
    // "--screenshots DIR [COURSE_FILE]" it instead saves pictures of the main
    // window, its pages and the parameter dialog into DIR (for the README),
    // after a run on COURSE_FILE (the bundled sample's returns by default),
    // and returns.
    int run();

  private:
    SeedingCounter seedings_;
};

}  // namespace velmora::gui
