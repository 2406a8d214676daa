// The controls of the console's main window: the header picture, the page
// control with its eight tabs and the two-panel status bar. Handlers find
// each control by its layout name (objectName), e.g. "Button31" or "Edit14".
#pragma once

class QLabel;
class QMainWindow;

// Creates every control of the main window with its caption, limits, items
// and the state it has before a printer is connected: all operation controls
// disabled except the port, rate, automatic-rate, connect and modem controls;
// "VENDOR ONLY!" hidden. Also sets the window's caption and fixed size.
void BuildForm1Layout(QMainWindow &form);

namespace krv::console {

// Panel 0 (link state) or 1 (bulk programming progress) of the main window's
// status bar; nullptr before BuildForm1Layout or for another index.
QLabel *StatusPanel(QMainWindow &form, int index);

// Shares the status bar after a panel's text changed: panel 0 is 400 wide
// while panel 1 is empty; while panel 1 shows the bulk programming's
// progress, panel 0 keeps only what its own text needs, so that the progress
// is seen whole.
void FitStatusPanels(QMainWindow &form);

} // namespace krv::console
