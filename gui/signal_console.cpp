#include "signal_console.hpp"

namespace velmora::gui {

namespace {
QString to_qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

void SignalConsole::out(std::string_view text) {
    emit written(to_qstring(text), false);
}

void SignalConsole::err(std::string_view text) {
    emit written(to_qstring(text), true);
}

}  // namespace velmora::gui
