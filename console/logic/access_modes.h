// Which controls of the main window work in which link state, access mode
// and printer model.
//
// The operation controls are listed per tab; a ControlPlan says for each of
// them whether it is enabled (or left as it is), and how the few controls
// with a special role look. Plans are plain data, computed without widgets;
// ApplyControlPlan() puts one on a window by looking its controls up by
// object name, so it works with whatever widgets the layout built.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

class QWidget;

namespace krv::console {

struct TabControls {
    QString tab;       // the tab's caption
    QStringList names; // its operation controls
};

// The operation controls of every tab, in tab order.
const std::vector<TabControls> &OperationControlsByTab();
// All of them in one list.
const QStringList &OperationControls();

// How the fiscal-number field Edit14 and the stress-test code field Edit23
// look.
enum class CodeFieldLook {
    Keep,          // text and colour as they are
    Working,       // enabled, on the normal edit background
    Greyed,        // disabled, on the grey-text colour, text kept
    GreyedCleared, // disabled, on the grey-text colour, emptied
};

struct ControlPlan {
    // (name, enabled); nullopt leaves the control as it is.
    std::vector<std::pair<QString, std::optional<bool>>> enabled;
    bool connectButtonEnabled = true;        // Button31
    std::optional<bool> vendorButtonVisible; // Button57; nullopt: leave
    CodeFieldLook codeFields = CodeFieldLook::Keep;

    // The plan's verdict on one control; nullopt when left alone or unknown.
    std::optional<bool> EnabledOf(const QString &name) const;
};

// What the plans depend on, read from the window and the module state.
struct ModeContext {
    uint8_t accessMode = 0;
    bool isFirstModel = true;
    int discountTypeIndex = 0;          // ComboBox9
    bool wholeRangeChecked = false;     // CheckBox14
    int taxTypeIndex = 1;               // RadioGroup3: 0 added, 1 included tax
    bool compoundGroupExists = false;   // a group of the working scheme uses it
    bool programmedNameChecked = false; // CheckBox3 "Запрограммированное имя"
};

// Everything off: the closed link. `keepCodeFields` keeps the text and colour
// of Edit14 and Edit23 (a failed open), otherwise they are emptied and greyed.
ControlPlan DisabledPlan(bool keepCodeFields = false);
// Modes 1 and 2.
ControlPlan FullSetPlan(const ModeContext &context);
// Mode 0.
ControlPlan CashierSetPlan(const ModeContext &context);
// The plan of the context's mode.
ControlPlan PlanForMode(const ModeContext &context);

// The access mode a login code grants: exact, case-sensitive comparison.
uint8_t AccessModeForCode(const QString &code);

// "КАССИР", "СЕРВИС", "СУПЕРВИЗОР"; any other value counts as the cashier.
QString ModeName(uint8_t accessMode);

} // namespace krv::console
