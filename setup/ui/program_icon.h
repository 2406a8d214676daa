// The program's icon (icon 128): a receipt printer with a printed receipt
// and an install arrow, drawn from code at whatever size a window, the
// taskbar or a dialog's picture asks for, so it is sharp at every size.
#pragma once

#include <QIcon>

class QWidget;

namespace krv::setup {

// The one icon of the program; copies share it (the same cacheKey()).
QIcon ProgramIcon();

// Makes the icon the small and large icon of a window of the setup.
void SetProgramIcon(QWidget &window);

} // namespace krv::setup
