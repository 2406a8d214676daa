#include "control_plan_view.h"

#include "widgets.h"

#include <QLineEdit>
#include <QWidget>

namespace krv::console {

namespace {

void SetCodeFieldLook(QLineEdit &edit, CodeFieldLook look) {
    if (look == CodeFieldLook::Working)
        SetWindowBackground(&edit);
    else
        SetGreyBackground(&edit);
    edit.setEnabled(look == CodeFieldLook::Working);
    if (look == CodeFieldLook::GreyedCleared)
        edit.clear();
}

} // namespace

void ApplyControlPlan(QWidget &root, const ControlPlan &plan) {
    for (const auto &[name, enabled] : plan.enabled) {
        if (!enabled)
            continue;
        if (plan.codeFields != CodeFieldLook::Keep &&
            (name == QLatin1String("Edit14") || name == QLatin1String("Edit23")))
            continue; // below, with their look
        if (auto *widget = root.findChild<QWidget *>(name))
            widget->setEnabled(*enabled);
    }
    if (auto *connect = root.findChild<QWidget *>(QStringLiteral("Button31")))
        connect->setEnabled(plan.connectButtonEnabled);
    if (plan.vendorButtonVisible) {
        if (auto *vendor = root.findChild<QWidget *>(QStringLiteral("Button57"))) {
            // Shown or hidden, never disabled: the layout starts it off.
            vendor->setVisible(*plan.vendorButtonVisible);
            if (*plan.vendorButtonVisible)
                vendor->setEnabled(true);
        }
    }
    if (plan.codeFields != CodeFieldLook::Keep) {
        for (const char *name : {"Edit14", "Edit23"}) {
            if (auto *edit = root.findChild<QLineEdit *>(QString::fromLatin1(name)))
                SetCodeFieldLook(*edit, plan.codeFields);
        }
    }
}

} // namespace krv::console
