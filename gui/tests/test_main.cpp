// Runs every test class of the desktop program in one QApplication. Meant for
// the offscreen platform: nothing here needs a display.
//
// Qt Test's crash handler is turned off. With several qExec calls in one
// process, a fatal signal (a crash, an abort, or the SIGTERM of `timeout`)
// sent it round in circles: each pass attached gdb for a stack trace,
// stopped the process under it and raised the signal again, so a failure
// that should end the run in a second held it until ctest's time limit, and
// a run started from a shell was left stopped under the tracer. Without the
// handler the signal ends the process at once and ctest reports it.

#include <QApplication>

#include <cstring>
#include <vector>

#include "suites.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::vector<char*> args(argv, argv + argc);
    bool asked = false;
    for (char* arg : args) {
        asked = asked || std::strcmp(arg, "-nocrashhandler") == 0;
    }
    static char no_crash_handler[] = "-nocrashhandler";
    if (!asked) {
        args.insert(args.begin() + 1, no_crash_handler);
    }
    args.push_back(nullptr);
    const int count = static_cast<int>(args.size()) - 1;
    int failures = 0;
    for (const auto& suite : velmora::gui::test::suites()) {
        failures += suite(count, args.data());
    }
    return failures == 0 ? 0 : 1;
}
