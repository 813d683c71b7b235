#pragma once
// The application object: one instance, made by main().

#include <QApplication>

namespace velmora::gui {

class VelmoraApp : public QApplication {
    Q_OBJECT
  public:
    VelmoraApp(int& argc, char** argv);

    // Shows the main window and returns when it closes. With the hidden
    // option "--screenshots DIR" it instead saves pictures of the main
    // window and the parameter dialog into DIR (for the README) and returns.
    int run();
};

}  // namespace velmora::gui
