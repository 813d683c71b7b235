#pragma once
// The program icon, drawn rather than loaded so that it is sharp at every
// size the window system asks for.

#include <QIcon>
#include <QPixmap>

namespace velmora::gui {

QPixmap program_pixmap(int size);
QIcon program_icon();

}  // namespace velmora::gui
