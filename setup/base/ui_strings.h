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
