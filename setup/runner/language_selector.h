// The setup's user-interface language: chosen at start-up from /exelang,
// from the language of an installed product, by matching the user's locale
// settings, or by asking in the language dialog; the texts then come from
// the program itself (its own language) or from a language module that the
// package carries (entries of type 12, "<LANGID>.dll", language_module.h).
#pragma once

#include "command_line.h"
#include "settings.h"
#include "setup_windows.h"
#include "ui_strings.h"

#include <setup_locale.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv::setup {

class PayloadArchive;
class SetupUi;

// The four languages the suggestion matches, in the order of the system's
// queries (platform/setup_locale.h says where each comes from).
using LanguageCandidates = platform::LocaleLanguages;
LanguageCandidates GetLanguageCandidates();

// "<id>-<name>": the id in decimal and the language's name (empty when
// unknown).
std::string GetLanguageName(uint16_t langId);

// The language to offer first: exact matches of the candidates before
// matches of their primary language (low 8 bits), in an order that puts the
// user's candidates first with preferUser; else the first available one (0
// when none is available).
uint16_t SuggestUiLanguage(const std::vector<uint16_t> &available, bool preferUser,
                           const LanguageCandidates &candidates);
uint16_t SuggestUiLanguage(const std::vector<uint16_t> &available, bool preferUser);

class UiLanguageSelector {
  public:
    // Both may be null: no caption to rebuild, no package languages.
    UiLanguageSelector(SetupUi *ui, PayloadArchive *archive);
    // Gives the texts back to the program when a module of ours is current.
    ~UiLanguageSelector();
    UiLanguageSelector(const UiLanguageSelector &) = delete;
    UiLanguageSelector &operator=(const UiLanguageSelector &) = delete;

    // The program's own languages, then the package's (collected once).
    const std::vector<uint16_t> &OwnLanguages();
    const std::vector<uint16_t> &PackageLanguages();
    std::vector<uint16_t> GetAvailableLanguages();

    bool IsLanguageAvailable(uint16_t langId);
    // An own language makes the program the module (chosen id 0); a package
    // language loads its module; any other id is refused.
    bool SelectLanguage(uint16_t langId);
    // Extracts "<id>.dll" from the package and makes it the module; false
    // (the module unchanged) when it cannot be extracted or read.
    bool LoadResourceModule(uint16_t langId);
    // Makes the module current (null: the program itself) and rebuilds the
    // setup caption.
    void SetResourceModule(std::shared_ptr<const ResourceModule> module);

    // The suggestion and, unless silent or without the dialog flag, the
    // dialog.
    void ChooseUiLanguage(bool silent, uint32_t containerFlags);

    uint16_t ChosenLanguage() const { return m_chosen; }
    bool NoLanguageChosen() const { return m_noLanguageChosen; }
    void SetNoLanguageChosen(bool value) { m_noLanguageChosen = value; }

  private:
    void CollectLists();

    SetupUi *m_ui;
    PayloadArchive *m_archive;
    std::vector<uint16_t> m_own;
    std::vector<uint16_t> m_package;
    bool m_noLanguageChosen = true;
    uint16_t m_chosen = 0;
    std::shared_ptr<const ResourceModule> m_loaded; // the module we made current
    bool m_listsCollected = false;
};

// The language choice of a setup run: 0, or -1 when the user cancelled the
// language dialog of a package that asks for it. /exelang is set to the
// chosen id (0 for the program's own language) unless it gave a valid
// language itself.
int ChooseSetupLanguage(UiLanguageSelector &selector, CommandLineOptions &options,
                        const SetupSettings &settings, uint32_t containerFlags, bool silent,
                        SetupUi *ui);

// The language dialog: 1 OK with the selected id, 2 Cancel. Without
// windows, or a display a person can see, it answers OK with the
// suggestion.
LanguageDialogResult LanguageDialog(const std::vector<uint16_t> &available, uint16_t suggested,
                                    const std::string &caption, SetupWindows *windows = nullptr);

} // namespace krv::setup
