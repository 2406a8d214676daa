// The runner's dialogs: the password of a package that needs one, the
// choice between a new and an installed product instance, and the language.
// Each shows its window; whether a person can see it is QtSetupWindows'
// question.
#pragma once

#include "instances.h"
#include "setup_windows.h"

#include <optional>
#include <string>
#include <vector>

namespace krv::setup {

// The entered text, or nothing when cancelled.
std::optional<std::string> ShowPackagePasswordDialog(const std::string &caption);

// 1 OK (the choice is stored with SelectInstance), 2 Cancel. The note above
// the list names the product.
int InstanceSelectionDialog(InstalledInstances &instances, const std::string &caption,
                            const std::string &productName);

// The language dialog on the display (1 OK with the selected id, 2 Cancel).
LanguageDialogResult ShowLanguageDialog(const std::vector<uint16_t> &available, uint16_t suggested,
                                        const std::string &caption);

} // namespace krv::setup
