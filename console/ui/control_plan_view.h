// Puts a ControlPlan on a window.
#pragma once

#include "access_modes.h"

class QWidget;

namespace krv::console {

void ApplyControlPlan(QWidget &root, const ControlPlan &plan);

} // namespace krv::console
