#pragma once
// The application object: one instance, made by main().

#include <QApplication>

#include "support/random.hpp"

namespace velmora::gui {

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

    // Shows the main window and returns when it closes. With the hidden
    // option "--screenshots DIR" it instead saves pictures of the main
    // window and the parameter dialog into DIR (for the README) and returns.
    int run();

  private:
    SeedingCounter seedings_;
};

}  // namespace velmora::gui
