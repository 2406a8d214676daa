// The setup's user-visible texts: a string table selected by numeric id.
//
// The program carries its own table (the texts the setup has always shown,
// mostly Russian, language 0x0419) and an English one (0x0409) with the same
// ids and the same arguments. A per-language module can replace the current
// one at run time; every load reads the current module at the moment of the
// load. An id that the current module lacks is taken from the built-in
// table; an id that neither has gives empty text.
//
// Texts are UTF-8. A loaded text is at most 1299 characters (code points),
// cut on a character boundary.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace krv::setup {

inline constexpr std::size_t kUiStringMaxChars = 1299;

struct ResourceModule {
    std::string name;      // "builtin" or the language module's file
    uint16_t language = 0; // Windows LANGID of the texts (0x0419 Russian, 0x0409 English)
    std::map<uint32_t, std::string> strings;
    // Dialog texts by dialog id, then control id (0: the dialog's title).
    std::map<uint32_t, std::map<uint32_t, std::string>> dialogs;
    // Resource blocks (texts and pictures as bytes) by kind, then id.
    std::map<std::string, std::map<uint32_t, std::string>, std::less<>> blocks;
};

// Kinds and ids of the wizard's resource blocks.
inline constexpr std::string_view kRtfFile = "RTF_FILE";
inline constexpr std::string_view kImageFile = "IMAGE_FILE";
inline constexpr uint32_t kComponentsTextBlock = 210;    // RTF_FILE
inline constexpr uint32_t kLicenseTextBlock = 219;       // RTF_FILE
inline constexpr uint32_t kBackgroundPictureBlock = 221; // IMAGE_FILE
inline constexpr uint32_t kHeaderPictureBlock = 222;     // IMAGE_FILE

// Ids of the texts the wizard pages and dialogs load by number.
namespace ui_text {
inline constexpr uint32_t kCheckingMd5 = 138; // "Проверка целостности (MD5)..."
inline constexpr uint32_t kCorruptFileDeleted = 139; // wrong MD5, the file was deleted
inline constexpr uint32_t kLinkColumn = 142;         // "Ссылка"
inline constexpr uint32_t kStateColumn = 143;        // "Состояние"
inline constexpr uint32_t kNameColumn = 145;         // "Имя"
inline constexpr uint32_t kActionColumn = 146;       // "Действие"
inline constexpr uint32_t kSkip = 147;               // "Пропустить"
inline constexpr uint32_t kDownload = 148;           // "Загрузить"
inline constexpr uint32_t kInstall = 149;            // "Установить"
inline constexpr uint32_t kOpenSite = 152;           // "Открыть сайт"
inline constexpr uint32_t kNextDownloadsHint = 154;  // "...Далее для загрузки..."
inline constexpr uint32_t kNextInstallsHint = 155;   // "...Далее для установки..."
inline constexpr uint32_t kNextOpensSitesHint = 156; // "...Далее для открытия сайтов..."
inline constexpr uint32_t kFinishInstallsHint = 157; // "...Завершить для установки..."
inline constexpr uint32_t kPause = 158;              // "Пауза"
inline constexpr uint32_t kResume = 159;             // "Продолжить"
inline constexpr uint32_t kRequiredAny = 160;         // "Требуется: любая."
inline constexpr uint32_t kRequiredAtMost = 162;      // "Требуется: %s или ниже."
inline constexpr uint32_t kRequiredAtLeast = 163;     // "Требуется: %s или выше."
inline constexpr uint32_t kRequiredBetween = 164;     // "Требуется: между %s и %s."
inline constexpr uint32_t kFoundNothing = 165;        // " Найдено: ничего."
inline constexpr uint32_t kFoundValues = 166;         // " Найдено: %s."
inline constexpr uint32_t kVersionColumn = 167;       // "Версия"
inline constexpr uint32_t kProgramColumn = 169;       // "Имя"
inline constexpr uint32_t kFinishWhenSitesDone = 170; // "...когда закончите... %s"
inline constexpr uint32_t kNextInstallsSitesHint = 171; // "...Далее для установки..."
inline constexpr uint32_t kInstallStateColumn = 172;    // "Состояние"
inline constexpr uint32_t kInstallWaiting = 173;        // "Ожидание"
inline constexpr uint32_t kInstalling = 174;            // "Установка..."
inline constexpr uint32_t kInstalled = 175;             // "Установлено"
inline constexpr uint32_t kInstallError = 176;          // "Ошибка: %s"
inline constexpr uint32_t kInstallingFrom = 177;        // "Установка %s из: %s"
inline constexpr uint32_t kSomeNotInstalled = 178; // "Некоторые программы не могут..."
inline constexpr uint32_t kStillMissingAfterRun = 179; // "После запуска всех пакетов..."
inline constexpr uint32_t kAllInstalled = 180; // "Все необходимые программы..."
inline constexpr uint32_t kRequirementColumn = 182; // "Требование"
inline constexpr uint32_t kSomeNotDownloaded = 183; // "Некоторые программы не удалось..."
inline constexpr uint32_t kDownloadWaiting = 184;   // "Ожидание"
inline constexpr uint32_t kCompleted = 185;         // "Завершено"
inline constexpr uint32_t kWrongSize = 186;         // "Неверный размер"
inline constexpr uint32_t kStillMissing = 188;      // "...всё ещё отсутствуют..."
inline constexpr uint32_t kRemainingHours = 189;    // "%d ч %d мин при %s/с"
inline constexpr uint32_t kRemainingMinutes = 190;  // "%d мин %d с при %s/с"
inline constexpr uint32_t kRemainingSeconds = 191;  // "%d с при %s/с"
inline constexpr uint32_t kSizeColumn = 192;        // "Размер"
inline constexpr uint32_t kPaused = 193;            // "Приостановлено"
inline constexpr uint32_t kOverallProgress = 194;   // "Выполнение: %d%% (%s из %s)"
inline constexpr uint32_t kDownloadProgress = 195;  // "Загрузка: %s %d%%  (%s of %s)"
inline constexpr uint32_t kDownloadCompleted = 196; // "Загрузка завершена"
inline constexpr uint32_t kSuitableVersionFound = 205; // " Найдена подходящая версия."
inline constexpr uint32_t kDownloadError = 215; // "Ошибка: %s"
inline constexpr uint32_t kNoSpaceInFolder = 219; // "Недостаточно места в папке:%s..."
inline constexpr uint32_t kLanguagesOf = 222;           // "Языки %s"
inline constexpr uint32_t kInstallPathColumn = 229;     // "Путь для установки"
inline constexpr uint32_t kProductNameColumn = 230;     // "Имя продукта"
inline constexpr uint32_t kAlreadyInstalled = 234;      // "%s is already installed..."
inline constexpr uint32_t kInstallFailed = 253;         // "Failed"
inline constexpr uint32_t kInstanceColumn = 261;        // "Instance"
inline constexpr uint32_t kDefaultInstance = 262;       // "Default"
inline constexpr uint32_t kInstanceVersionColumn = 263; // "Version"
inline constexpr uint32_t kRebootStarted = 265;         // "A reboot was initiated..."
// Texts of our own, numbered apart from the program's table.
inline constexpr uint32_t kErrorCaption = 900; // of a box without a caption of its own
inline constexpr uint32_t kRebootFailed = 901; // a restart was needed but could not be started
inline constexpr uint32_t kNoPackage = 902;    // "%s": the program, run with no package appended
inline constexpr uint32_t kDownloadProgressUnknownSize = 903; // "Загрузка: %s (%s)": name, bytes
inline constexpr uint32_t kSpeedOnly = 904;                   // "%s/с": the rate, no size to go
inline constexpr uint32_t kOverallProgressUnknownSize = 905; // "Выполнение: %s": bytes so far
// Launch conditions not met: the product, then the condition's value.
inline constexpr uint32_t kOsExcluded = 206;           // "%s cannot be installed on %s."
inline constexpr uint32_t kOsVersionsExcluded = 207;   // "...the following Windows versions..."
inline constexpr uint32_t kIeTooOld = 208;             // Internet Explorer older than %s
inline constexpr uint32_t kIisTooOld = 209;            // Internet Information Services
inline constexpr uint32_t kScreenTooSmall = 210;       // screen resolution below %s
inline constexpr uint32_t kColourDepthTooLow = 211;    // colour depth below %s bits
inline constexpr uint32_t kMemoryTooSmall = 212;       // less than %s MB of memory
inline constexpr uint32_t kDotNetTooOld = 213;         // .NET Framework older than %s
inline constexpr uint32_t kAdminRightsNeeded = 214;    // "%s requires administrator rights..."
inline constexpr uint32_t kAcrobatReaderTooOld = 221;  // Adobe Reader older than %s
inline constexpr uint32_t kJreTooOld = 224;            // JRE older than %s
inline constexpr uint32_t kDirectXTooOld = 225;        // DirectX older than %s
inline constexpr uint32_t kInternetNeeded = 226;       // "...requires an active Internet..."
inline constexpr uint32_t kOffice2003AppMissing = 227; // without %s 2003 or higher
inline constexpr uint32_t kOffice2007AppMissing = 228; // without %s 2007 or higher
inline constexpr uint32_t kXnaTooOld = 235;            // XNA Framework older than %s
inline constexpr uint32_t kJdkTooOld = 237;            // JDK older than %s
inline constexpr uint32_t kSqlMissing = 238;           // "...systems without %s."
inline constexpr uint32_t kActiveSyncMissing = 239;    // "...without %s or higher."
inline constexpr uint32_t kPia2003Missing = 241;       // without %s 2003 Primary Interop Assembly
inline constexpr uint32_t kPia2007Missing = 242;       // without %s 2007 Primary Interop Assembly
inline constexpr uint32_t kVstoMissing = 243;          // "...systems without %s."
inline constexpr uint32_t kOffice2010AppMissing = 244; // without %s 2010 or higher
inline constexpr uint32_t kPia2010Missing = 248;       // without %s 2010 Primary Interop Assembly
inline constexpr uint32_t kSharePointMissing = 249;    // "...systems without %s."
inline constexpr uint32_t kSharedPiaMissing = 255;     // without %s Primary Interop Assembly
} // namespace ui_text

// The built-in module (the program's own table).
std::shared_ptr<const ResourceModule> BuiltinResourceModule();
// The English module.
std::shared_ptr<const ResourceModule> EnglishResourceModule();
// The module that string loads read now.
std::shared_ptr<const ResourceModule> GetResourceModule();
// Makes the module current and returns the one it replaces. A null module
// restores the built-in one. Safe to call from any thread.
std::shared_ptr<const ResourceModule>
SetResourceModule(std::shared_ptr<const ResourceModule> module);
// Told of every module SetResourceModule makes current, after the change,
// on the thread that made it (one listener; null: none).
void SetResourceModuleListener(std::function<void(const ResourceModule &)> listener);

// The text of the id from the current module (cut to kUiStringMaxChars).
std::string LoadUiString(uint32_t id);
// The text of a dialog's control (0: its title) from the current module,
// else from the built-in one; empty when neither has it.
std::string LoadDialogText(uint32_t dialogId, uint32_t controlId);

// The bytes of a resource block from the current module, else from the
// built-in one; empty when neither carries it.
std::string LoadResourceBlock(std::string_view kind, uint32_t id);

// The same text as a new string (kept for callers that own a copy).
std::string GetUiString(uint32_t id);

// One argument of a formatted text: a text or a number.
using UiArg = std::variant<std::string, int64_t, uint64_t>;

// printf-style formatting that a bad translation cannot break. Understood:
// %s %d %i %u %x %X %c %%, with flags (-+ 0#), width and precision (numbers,
// not "*"), and the length letters h, hh, l, ll, I64 (ignored). Arguments are
// taken in order; a number given for %s prints as decimal text, a text given
// for a number conversion prints as text; a conversion without an argument
// prints nothing; "*" widths and any other conversion (%n, %p, %f ...) are
// copied as they stand. Widths and precisions above 1024 are cut to 1024.
// Precision and width of %s count characters, not bytes.
std::string FormatUiText(std::string_view format, const std::vector<UiArg> &args);

// The text of the id, formatted with the arguments.
std::string FormatUiString(uint32_t id, const std::vector<UiArg> &args);

template <typename... Args> std::string FormatUiString(uint32_t id, const Args &...args) {
    std::vector<UiArg> list;
    list.reserve(sizeof...(args));
    auto add = [&list](const auto &a) {
        using T = std::decay_t<decltype(a)>;
        if constexpr (std::is_convertible_v<const T &, std::string_view>)
            list.emplace_back(std::string(std::string_view(a)));
        else if constexpr (std::is_signed_v<T>)
            list.emplace_back(static_cast<int64_t>(a));
        else
            list.emplace_back(static_cast<uint64_t>(a));
    };
    (add(args), ...);
    return FormatUiString(id, list);
}

// Cuts UTF-8 text to at most maxChars code points, never inside a character.
std::string TruncateUtf8(std::string_view text, std::size_t maxChars);

} // namespace krv::setup
