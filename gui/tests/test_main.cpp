// Runs every test class of the desktop program in one QApplication. Meant for
// the offscreen platform: nothing here needs a display.

#include <QApplication>

#include "suites.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = 0;
    for (const auto& suite : velmora::gui::test::suites()) {
        failures += suite(argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
