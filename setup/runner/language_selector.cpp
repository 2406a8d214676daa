#include "language_selector.h"

#include "command_line_text.h"
#include "installed_products.h"
#include "installer_launch.h"
#include "language_module.h"
#include "log.h"
#include "payload_archive.h"
#include "setup_ui.h"

#include <setup_locale.h>

#include <array>
#include <cstdio>
#include <mutex>

namespace krv::setup {

namespace {

namespace container = payload::container;

// Related products enumerated at most for one upgrade code.
constexpr int kMaxRelatedProducts = 4096;

// Step 2 of the choice: "LANGID:{product code}" items separated by blanks;
// the first whose product is installed gives its language.
uint16_t LanguageOfInstalledProduct(const std::string &productCodes) {
    for (const std::string &item : SplitString(productCodes, " ")) {
        const std::vector<std::string> parts = SplitString(item, ":");
        if (parts.size() != 2)
            continue;
        const std::string code(TrimBlanks(parts[1]));
        if (ProductState(code) == install_state::kDefault) {
            // A number that is no language id gives none.
            const int32_t id = ParseDecimal(TrimBlanks(parts[0]));
            return id > 0 && id <= 0xFFFF ? static_cast<uint16_t>(id) : 0;
        }
    }
    return 0;
}

// Step 3: the language of the related products in enumeration order: a
// product takes over while the running result or its own language is 0 (so
// one without a language clears what came before); two different languages
// give 0.
uint16_t LanguageOfRelatedProducts(const std::string &upgradeCode) {
    uint16_t result = 0;
    for (int index = 0; index < kMaxRelatedProducts; ++index) {
        auto product = RelatedProduct(upgradeCode, index);
        if (!product)
            break;
        const uint16_t language = RelatedProductLanguage(*product);
        if (result == 0 || language == 0) {
            result = language;
        } else if (language != result) {
            result = 0;
            break;
        }
    }
    LogLine("Language of a related product is:" + std::to_string(result));
    return result;
}

} // namespace

LanguageCandidates GetLanguageCandidates() {
    // The UI languages are always asked: the system's answer is what the
    // user chose, whatever the system is called.
    return platform::ReadLocaleLanguages();
}

std::string GetLanguageName(uint16_t langId) {
    return std::to_string(langId) + "-" + platform::LocalizedLanguageName(langId);
}

uint16_t SuggestUiLanguage(const std::vector<uint16_t> &available, bool preferUser,
                           const LanguageCandidates &c) {
    struct Slots {
        uint16_t candidate;
        int exact, primary, exactUser, primaryUser;
    };
    const std::array<Slots, 4> table = {{
        {c.systemDefaultUi, 0, 4, 2, 6},
        {c.systemDefault, 1, 5, 3, 7},
        {c.userDefaultUi, 2, 6, 1, 4},
        {c.userDefault, 3, 7, 0, 5},
    }};
    std::array<int, 8> slots;
    slots.fill(-1);
    for (uint16_t language : available) {
        for (const Slots &row : table) {
            if (language == row.candidate)
                slots[std::size_t(preferUser ? row.exactUser : row.exact)] = language;
            if ((language & 0xFF) == (row.candidate & 0xFF))
                slots[std::size_t(preferUser ? row.primaryUser : row.primary)] = language;
        }
    }
    for (int slot : slots)
        if (slot != -1)
            return static_cast<uint16_t>(slot);
    return available.empty() ? 0 : available.front();
}

uint16_t SuggestUiLanguage(const std::vector<uint16_t> &available, bool preferUser) {
    return SuggestUiLanguage(available, preferUser, GetLanguageCandidates());
}

UiLanguageSelector::UiLanguageSelector(SetupUi *ui, PayloadArchive *archive)
    : m_ui(ui), m_archive(archive) {}

UiLanguageSelector::~UiLanguageSelector() {
    if (m_loaded && GetResourceModule() == m_loaded)
        setup::SetResourceModule(nullptr);
}

void UiLanguageSelector::CollectLists() {
    if (m_listsCollected)
        return;
    m_listsCollected = true;
    // The program carries one language of its own: its built-in texts.
    m_own = {BuiltinResourceModule()->language};
    if (m_archive)
        for (uint16_t id : m_archive->GetPackageLanguages())
            m_package.push_back(id);
}

const std::vector<uint16_t> &UiLanguageSelector::OwnLanguages() {
    CollectLists();
    return m_own;
}

const std::vector<uint16_t> &UiLanguageSelector::PackageLanguages() {
    CollectLists();
    return m_package;
}

std::vector<uint16_t> UiLanguageSelector::GetAvailableLanguages() {
    CollectLists();
    std::vector<uint16_t> all = m_own;
    all.insert(all.end(), m_package.begin(), m_package.end());
    std::string names;
    for (uint16_t id : all)
        names += (names.empty() ? "" : ";") + GetLanguageName(id);
    LogLine("Available languages for UI:" + names);
    return all;
}

bool UiLanguageSelector::IsLanguageAvailable(uint16_t langId) {
    CollectLists();
    for (const auto *list : {&m_package, &m_own})
        for (uint16_t id : *list)
            if (id == langId)
                return true;
    return false;
}

bool UiLanguageSelector::SelectLanguage(uint16_t langId) {
    CollectLists();
    for (uint16_t id : m_own)
        if (id == langId) {
            SetResourceModule(nullptr);
            m_chosen = 0;
            return true;
        }
    for (uint16_t id : m_package)
        if (id == langId) {
            LoadResourceModule(langId);
            m_chosen = langId;
            return true;
        }
    return false;
}

bool UiLanguageSelector::LoadResourceModule(uint16_t langId) {
    if (!m_archive)
        return false;
    std::string path;
    if (m_archive->ExtractNumberedDll(langId, path) != payload_result::kOk)
        return false;
    auto module = LoadLanguageModuleFile(path, langId);
    if (!module)
        return false;
    SetResourceModule(std::move(module));
    return true;
}

void UiLanguageSelector::SetResourceModule(std::shared_ptr<const ResourceModule> module) {
    m_loaded = module;
    setup::SetResourceModule(std::move(module));
    if (m_ui)
        m_ui->GetSetupCaption(true);
}

void UiLanguageSelector::ChooseUiLanguage(bool silent, uint32_t containerFlags) {
    CollectLists();
    if (m_package.empty())
        return;
    const std::vector<uint16_t> available = GetAvailableLanguages();
    const uint16_t suggestion =
        SuggestUiLanguage(available, (containerFlags & container::kPreferUserLanguages) != 0);
    LogLine("Suggested language for UI" + GetLanguageName(suggestion));
    // The dialog itself speaks the suggested language.
    if (suggestion != m_own.front())
        LoadResourceModule(suggestion);
    m_noLanguageChosen = false;
    m_chosen = suggestion;
    if (!silent && (containerFlags & container::kLanguageDialog)) {
        const std::string caption = m_ui ? m_ui->GetSetupCaption() : std::string();
        const LanguageDialogResult answer =
            LanguageDialog(available, suggestion, caption, m_ui ? m_ui->Windows() : nullptr);
        if (answer.result != 1) {
            m_noLanguageChosen = true;
            return;
        }
        m_chosen = answer.selected;
        LogLine("Language selected by user for UI:" + GetLanguageName(m_chosen));
    }
    bool own = false;
    for (uint16_t id : m_own)
        own = own || id == m_chosen;
    if (own) {
        SetResourceModule(nullptr);
        m_chosen = 0;
    } else {
        LoadResourceModule(m_chosen);
    }
}

int ChooseSetupLanguage(UiLanguageSelector &selector, CommandLineOptions &options,
                        const SetupSettings &settings, uint32_t containerFlags, bool silent,
                        SetupUi *ui) {
    if (const SwitchValue *lang = FindSwitch(options, switch_id::kExeLang)) {
        const int32_t value = ParseDecimal(lang->value);
        const bool inRange = value >= 0 && value <= 0xFFFF;
        if ((inRange && selector.IsLanguageAvailable(static_cast<uint16_t>(value))) ||
            lang->value == "0") {
            selector.SelectLanguage(static_cast<uint16_t>(value));
            selector.SetNoLanguageChosen(false);
            char text[16];
            std::snprintf(text, sizeof text, "%hu", static_cast<unsigned short>(value));
            LogLine(std::string("A valid language was received from commnad line. This is:") +
                    text);
            return 0;
        }
    }
    uint16_t language = LanguageOfInstalledProduct(settings.general.productCode);
    if (language == 0 && (containerFlags & container::kRelatedLanguage1) &&
        (containerFlags & container::kRelatedLanguage2))
        language = LanguageOfRelatedProducts(settings.general.upgradeCode);
    if (language != 0 && selector.SelectLanguage(language)) {
        selector.SetNoLanguageChosen(false);
        LogLine("Language selected programatically for UI:" + std::to_string(language));
        return 0;
    }
    if (ui)
        ui->HideStatusWindow();
    selector.ChooseUiLanguage(silent, containerFlags);
    LogLine("Language used for UI:" + GetLanguageName(selector.ChosenLanguage()));
    // A package that asks for the dialog but carries no language module has
    // nothing to choose from: its own texts are used and the setup goes on.
    if ((containerFlags & container::kLanguageDialog) && selector.NoLanguageChosen() &&
        !selector.PackageLanguages().empty())
        return -1;
    SetSwitchValue(options, switch_id::kExeLang, std::to_string(selector.ChosenLanguage()));
    return 0;
}

LanguageDialogResult LanguageDialog(const std::vector<uint16_t> &available, uint16_t suggested,
                                    const std::string &caption, SetupWindows *windows) {
    if (windows)
        return windows->ChooseLanguage(available, suggested, caption);
    // Nobody can answer: the dialog's own proposal stands.
    LanguageDialogResult out;
    out.result = 1;
    out.selected = suggested;
    return out;
}

} // namespace krv::setup
