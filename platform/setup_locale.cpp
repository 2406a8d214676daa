#include "setup_locale.h"

#include "setup_system.h"

#include <optional>

namespace krv::platform {

namespace {

struct LocaleRow {
    const char *language; // ISO 639
    const char *country;  // ISO 3166
    uint16_t langId;
    const char *name;    // in English
    const char *russian; // in Russian
};

constexpr uint16_t kPrimaryRussian = 0x19;

// The first row of a language is the one taken without a known country.
constexpr LocaleRow kLocales[] = {
    {"ru", "RU", 0x0419, "Russian (Russia)", "Русский (Россия)"},
    {"uk", "UA", 0x0422, "Ukrainian (Ukraine)", "Украинский (Украина)"},
    {"en", "US", 0x0409, "English (United States)", "Английский (Соединенные Штаты)"},
    {"en", "GB", 0x0809, "English (United Kingdom)", "Английский (Соединенное Королевство)"},
    {"en", "AU", 0x0C09, "English (Australia)", "Английский (Австралия)"},
    {"en", "CA", 0x1009, "English (Canada)", "Английский (Канада)"},
    {"en", "IE", 0x1809, "English (Ireland)", "Английский (Ирландия)"},
    {"be", "BY", 0x0423, "Belarusian (Belarus)", "Белорусский (Беларусь)"},
    {"kk", "KZ", 0x043F, "Kazakh (Kazakhstan)", "Казахский (Казахстан)"},
    {"de", "DE", 0x0407, "German (Germany)", "Немецкий (Германия)"},
    {"de", "CH", 0x0807, "German (Switzerland)", "Немецкий (Швейцария)"},
    {"de", "AT", 0x0C07, "German (Austria)", "Немецкий (Австрия)"},
    {"fr", "FR", 0x040C, "French (France)", "Французский (Франция)"},
    {"fr", "BE", 0x080C, "French (Belgium)", "Французский (Бельгия)"},
    {"fr", "CA", 0x0C0C, "French (Canada)", "Французский (Канада)"},
    {"fr", "CH", 0x100C, "French (Switzerland)", "Французский (Швейцария)"},
    {"es", "ES", 0x0C0A, "Spanish (Spain)", "Испанский (Испания)"},
    {"es", "MX", 0x080A, "Spanish (Mexico)", "Испанский (Мексика)"},
    {"it", "IT", 0x0410, "Italian (Italy)", "Итальянский (Италия)"},
    {"pl", "PL", 0x0415, "Polish (Poland)", "Польский (Польша)"},
    {"cs", "CZ", 0x0405, "Czech (Czech Republic)", "Чешский (Чешская Республика)"},
    {"sk", "SK", 0x041B, "Slovak (Slovakia)", "Словацкий (Словакия)"},
    {"hu", "HU", 0x040E, "Hungarian (Hungary)", "Венгерский (Венгрия)"},
    {"ro", "RO", 0x0418, "Romanian (Romania)", "Румынский (Румыния)"},
    {"bg", "BG", 0x0402, "Bulgarian (Bulgaria)", "Болгарский (Болгария)"},
    {"lt", "LT", 0x0427, "Lithuanian (Lithuania)", "Литовский (Литва)"},
    {"lv", "LV", 0x0426, "Latvian (Latvia)", "Латышский (Латвия)"},
    {"et", "EE", 0x0425, "Estonian (Estonia)", "Эстонский (Эстония)"},
    {"pt", "BR", 0x0416, "Portuguese (Brazil)", "Португальский (Бразилия)"},
    {"pt", "PT", 0x0816, "Portuguese (Portugal)", "Португальский (Португалия)"},
    {"nl", "NL", 0x0413, "Dutch (Netherlands)", "Нидерландский (Нидерланды)"},
    {"sv", "SE", 0x041D, "Swedish (Sweden)", "Шведский (Швеция)"},
    {"fi", "FI", 0x040B, "Finnish (Finland)", "Финский (Финляндия)"},
    {"da", "DK", 0x0406, "Danish (Denmark)", "Датский (Дания)"},
    {"nb", "NO", 0x0414, "Norwegian, Bokmål (Norway)", "Норвежский, букмол (Норвегия)"},
    {"tr", "TR", 0x041F, "Turkish (Turkey)", "Турецкий (Турция)"},
    {"el", "GR", 0x0408, "Greek (Greece)", "Греческий (Греция)"},
    {"ka", "GE", 0x0437, "Georgian (Georgia)", "Грузинский (Грузия)"},
    {"hy", "AM", 0x042B, "Armenian (Armenia)", "Армянский (Армения)"},
    {"az", "AZ", 0x042C, "Azeri (Latin, Azerbaijan)", "Азербайджанский (латиница, Азербайджан)"},
    {"uz", "UZ", 0x0443, "Uzbek (Latin, Uzbekistan)", "Узбекский (латиница, Узбекистан)"},
    {"he", "IL", 0x040D, "Hebrew (Israel)", "Иврит (Израиль)"},
    {"ar", "SA", 0x0401, "Arabic (Saudi Arabia)", "Арабский (Саудовская Аравия)"},
    {"ja", "JP", 0x0411, "Japanese (Japan)", "Японский (Япония)"},
    {"ko", "KR", 0x0412, "Korean (Korea)", "Корейский (Корея)"},
    {"zh", "CN", 0x0804, "Chinese (PRC)", "Китайский (КНР)"},
    {"zh", "TW", 0x0404, "Chinese (Taiwan)", "Китайский (Тайвань)"},
};

std::optional<std::string> Variable(const char *name) {
    auto value = GetEnvironmentVariable(name);
    if (!value || value->empty())
        return std::nullopt;
    return value;
}

uint16_t FromVariable(const char *name) {
    auto value = Variable(name);
    return value ? LangIdFromLocaleName(*value) : 0;
}

} // namespace

uint16_t LangIdFromLocaleName(std::string_view name) {
    const std::size_t end = name.find_first_of(".@");
    if (end != std::string_view::npos)
        name = name.substr(0, end);
    std::string_view language = name, country;
    if (const std::size_t sep = name.find_first_of("_-"); sep != std::string_view::npos) {
        language = name.substr(0, sep);
        country = name.substr(sep + 1);
    }
    const LocaleRow *first = nullptr;
    for (const LocaleRow &row : kLocales) {
        if (language != row.language)
            continue;
        if (!first)
            first = &row;
        if (country == row.country)
            return row.langId;
    }
    return first ? first->langId : 0;
}

std::string LanguageDisplayName(uint16_t langId, uint16_t inLanguage) {
    for (const LocaleRow &row : kLocales)
        if (row.langId == langId)
            return (inLanguage & 0xFF) == kPrimaryRussian ? row.russian : row.name;
    return {};
}

std::string LocalizedLanguageName(uint16_t langId) {
    return LanguageDisplayName(langId, ReadLocaleLanguages().userDefaultUi);
}

std::string LocaleNameFromLangId(uint16_t langId) {
    for (const LocaleRow &row : kLocales)
        if (row.langId == langId)
            return std::string(row.language) + '_' + row.country;
    return {};
}

LocaleLanguages ReadLocaleLanguages() {
    LocaleLanguages out;
    out.systemDefault = FromVariable("LANG");
    out.systemDefaultUi = out.systemDefault;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (Variable(name)) {
            out.userDefault = FromVariable(name);
            break;
        }
    }
    out.userDefaultUi = out.userDefault;
    if (auto list = Variable("LANGUAGE")) {
        std::string_view rest = *list;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const uint16_t id = LangIdFromLocaleName(rest.substr(0, colon));
            if (id != 0) {
                out.userDefaultUi = id;
                break;
            }
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    return out;
}

} // namespace krv::platform
