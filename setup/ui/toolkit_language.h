// The toolkit's own texts (standard buttons, the wizard's buttons, the
// edits' context menus) in the setup's interface language: Russian buttons
// in a Russian run, English ones in an English run, from the toolkit's own
// translations (English where this machine has none for the language).
#pragma once

#include <QDialogButtonBox>
#include <QString>

namespace krv::setup {

// From now on the toolkit's texts follow the interface language: the current
// resource module's now, and each module made current later. Called once
// the application exists.
void FollowUiLanguageInToolkit();

// A standard button's text (OK, Cancel ...) in the toolkit's language now.
QString ToolkitButtonText(QDialogButtonBox::StandardButton button);

// The texts of a wizard's buttons in the toolkit's language now.
struct WizardButtonTexts {
    QString back, next, finish, cancel;
};
WizardButtonTexts ToolkitWizardButtonTexts();

} // namespace krv::setup
