#include <optional>

#include "velmora_app.hpp"

int main(int argc, char** argv) {
    // --help and --version need no display: they are answered before the
    // application object connects to one.
    if (const std::optional<int> status = velmora::gui::answer_without_display(argc, argv)) {
        return *status;
    }
    velmora::gui::VelmoraApp app(argc, argv);
    return app.run();
}
