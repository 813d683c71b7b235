#include "velmora_app.hpp"

int main(int argc, char** argv) {
    velmora::gui::VelmoraApp app(argc, argv);
    return app.run();
}
