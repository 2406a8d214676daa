// The console's windows, reached from each other.
#pragma once

#include <QPointer>
#include <QWidget>

namespace krv::console {

// The nine windows, created once at start-up and kept until the program ends.
// Secondary windows are reached through these pointers (null until created).
struct ConsoleWindows {
    QPointer<QWidget> Form1, Form2, Form3, Form4, Form5, Form6, Form7, Form8, Form9;
};
ConsoleWindows &Windows();

} // namespace krv::console
