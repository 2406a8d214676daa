// The user's locale settings as Windows language ids (LANGIDs), for the
// setup's choice of its user-interface language and the language lists of
// its settings.
//
// POSIX locale names ("ru_RU.UTF-8", "de_AT@euro", "uk") map through one
// table: language and country give the LANGID of that pair; a language
// whose country is missing or not in the table gives the table's first row
// of that language; "C", "POSIX", empty text and unknown languages give 0.
//
// The four candidates of the language choice come from the environment:
//   system default language      LANG
//   system default UI language   LANG
//   user default language        LC_ALL, else LC_MESSAGES, else LANG
//   user default UI language     the first mapped item of LANGUAGE (a list
//                                separated by ":"), else as the user
//                                default language
// An unset or empty variable is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace krv::platform {

uint16_t LangIdFromLocaleName(std::string_view name);

// The name of a language in the language `inLanguage`: "Русский (Россия)",
// "Английский (Соединенные Штаты)" in Russian; "Russian (Russia)",
// "English (United States)" in English, which also stands for the languages
// the table has no names in. Empty for an id the table does not know.
std::string LanguageDisplayName(uint16_t langId, uint16_t inLanguage);
// The name of a language as the user's system names it: in the user's
// interface language (the user default UI language below).
std::string LocalizedLanguageName(uint16_t langId);
// "ru_RU", "en_US": the locale name of an id the table knows, else empty.
std::string LocaleNameFromLangId(uint16_t langId);

struct LocaleLanguages {
    uint16_t systemDefault = 0;
    uint16_t userDefault = 0;
    uint16_t systemDefaultUi = 0;
    uint16_t userDefaultUi = 0;
};
LocaleLanguages ReadLocaleLanguages();

} // namespace krv::platform
