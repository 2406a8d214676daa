#include "messages.h"
#include "ui_strings.h"

#include <gtest/gtest.h>

using namespace krv::setup;

namespace {

// Restores the built-in module after each test.
class UiStrings : public ::testing::Test {
  protected:
    void TearDown() override { SetResourceModule(nullptr); }

    static std::shared_ptr<const ResourceModule> Module(std::map<uint32_t, std::string> strings) {
        auto m = std::make_shared<ResourceModule>();
        m->name = "test";
        m->language = 0x0419;
        m->strings = std::move(strings);
        return m;
    }
};

std::size_t CodePoints(const std::string &s) {
    std::size_t n = 0;
    for (char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

} // namespace

TEST_F(UiStrings, BuiltinTableHoldsTheSetupTexts) {
    EXPECT_EQ(LoadUiString(204), "Уже запущена другая копия установки.");
    EXPECT_EQ(LoadUiString(247), "Cannot acces URL: %s");
    EXPECT_EQ(LoadUiString(165), " Найдено: ничего.");
    EXPECT_EQ(LoadUiString(219).find("\r\n"), LoadUiString(219).find("%s") + 2);
    EXPECT_EQ(GetUiString(231), "Вопрос");
}

namespace {

// The conversions of a format text in order ("%s%d" gives "sd").
std::string Conversions(const std::string &format) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < format.size() &&
               std::string("-+ 0#.0123456789hlI").find(format[j]) != std::string::npos)
            ++j;
        out += j < format.size() ? format[j] : '?';
        i = j;
    }
    return out;
}

} // namespace

TEST_F(UiStrings, EnglishTableTranslatesOnlyTheProgramsIds) {
    const auto &own = BuiltinResourceModule()->strings;
    const auto &english = EnglishResourceModule()->strings;
    for (const auto &[id, text] : english) {
        auto it = own.find(id);
        ASSERT_NE(it, own.end()) << id;
        // A translation that takes other arguments would show wrong values.
        EXPECT_EQ(Conversions(text), Conversions(it->second)) << id;
        EXPECT_LE(CodePoints(text), kUiStringMaxChars) << id;
    }
    for (const auto &[id, text] : own)
        EXPECT_LE(CodePoints(text), kUiStringMaxChars) << id;
    SetResourceModule(EnglishResourceModule());
    EXPECT_EQ(FormatUiString(161, "Telmar"), "Telmar Setup");
    EXPECT_EQ(FormatUiString(195, "jre.exe", 50, "1.00 KB", "2.00 KB"),
              "Downloading: jre.exe 50%  (1.00 KB of 2.00 KB)");
}

// Texts that a Russian run once showed in English, word for word as the
// user reads them (a text swapped with another would pass a comparison with
// the table), and the English run's.
TEST_F(UiStrings, OurTextsSpeakTheInterfacesLanguage) {
    struct Case {
        uint32_t id;
        std::string russian, english;
    };
    const std::vector<Case> cases = {
        {153, "Запуск %s...", "Running %s..."},
        {155, "Нажмите кнопку Далее для установки необходимых программ.",
         "Click Next to install the required programs."},
        {156, "Нажмите кнопку Далее для открытия сайтов необходимых программ.",
         "Click Next to open the web sites of the required programs."},
        {198, "Открытие %s...", "Opening %s..."},
        {216,
         "Для завершения установки необходимых программ компьютер необходимо перезагрузить. "
         "Перезагрузить сейчас?",
         "The computer must be restarted to finish installing the required programs. Restart "
         "now?"},
        {217, "Требуется перезагрузка", "Restart required"},
        {ui_text::kErrorCaption, "Ошибка", "Error"},
        {ui_text::kRebootFailed,
         "\r\nНе удалось перезагрузить компьютер. Перезагрузите его вручную; установка "
         "продолжится после перезагрузки.",
         "\r\nThe computer could not be restarted. Restart it yourself; setup continues after "
         "the restart."},
        {ui_text::kDownloadProgressUnknownSize, "Загрузка: %s (%s)", "Downloading: %s (%s)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LoadUiString(c.id), c.russian) << c.id;
    EXPECT_EQ(DefaultMessageBoxCaption(), "Ошибка");
    SetResourceModule(EnglishResourceModule());
    for (const Case &c : cases)
        EXPECT_EQ(LoadUiString(c.id), c.english) << c.id;
}

TEST_F(UiStrings, MissingIdGivesEmptyText) {
    EXPECT_EQ(LoadUiString(999999), "");
}

TEST_F(UiStrings, SwitchingTheModuleChangesTheNextLoad) {
    EXPECT_EQ(LoadUiString(231), "Вопрос");
    auto previous = SetResourceModule(Module({{231, "Question"}}));
    EXPECT_EQ(previous, BuiltinResourceModule());
    EXPECT_EQ(LoadUiString(231), "Question");
    // A language module without the id falls back to the program's text.
    EXPECT_EQ(LoadUiString(204), "Уже запущена другая копия установки.");
    SetResourceModule(nullptr);
    EXPECT_EQ(LoadUiString(231), "Вопрос");
}

TEST_F(UiStrings, LoadCutsAtCharactersNotBytes) {
    std::string exact(1299, 'x');
    std::string cyrillic;
    for (int i = 0; i < 1400; ++i)
        cyrillic += "ж";
    SetResourceModule(Module({{1, exact}, {2, exact + "y"}, {3, cyrillic}}));
    EXPECT_EQ(LoadUiString(1), exact);
    EXPECT_EQ(LoadUiString(2), exact);
    std::string cut = LoadUiString(3);
    EXPECT_EQ(CodePoints(cut), 1299u);
    EXPECT_EQ(cut.size(), 1299u * 2); // never half a letter
}

TEST(TruncateUtf8, KeepsWholeCharacters) {
    EXPECT_EQ(TruncateUtf8("абв", 2), "аб");
    EXPECT_EQ(TruncateUtf8("ab", 5), "ab");
    EXPECT_EQ(TruncateUtf8("a€b", 2), "a€");
    EXPECT_EQ(TruncateUtf8("abc", 0), "");
}

TEST(FormatUiText, FormatsTheUsualConversions) {
    EXPECT_EQ(FormatUiText("Установка %s из: %s", {std::string("Java"), std::string("/tmp/j.bin")}),
              "Установка Java из: /tmp/j.bin");
    EXPECT_EQ(
        FormatUiText("%d ч %d мин при %s/с", {int64_t(1), int64_t(21), std::string("1.00 KB")}),
        "1 ч 21 мин при 1.00 KB/с");
    EXPECT_EQ(FormatUiText("Выполнение: %d%% (%s из %s)",
                           {int64_t(50), std::string("1 KB"), std::string("2 KB")}),
              "Выполнение: 50% (1 KB из 2 KB)");
    EXPECT_EQ(
        FormatUiText("%hu-%ld-%I64d-%lu", {int64_t(1049), int64_t(-2), int64_t(3), uint64_t(4)}),
        "1049--2-3-4");
    EXPECT_EQ(
        FormatUiText("%04x|%X|%5d|%-3d|", {int64_t(0x1a), int64_t(255), int64_t(42), int64_t(7)}),
        "001a|FF|   42|7  |");
    EXPECT_EQ(FormatUiText("%u", {int64_t(-1)}), "4294967295");
    EXPECT_EQ(FormatUiText("[%5s][%-4s][%.2s]",
                           {std::string("ab"), std::string("жз"), std::string("абв")}),
              "[   ab][жз  ][аб]");
    EXPECT_EQ(FormatUiText("%c%c", {int64_t('A'), int64_t(0x416)}), "AЖ");
}

TEST(FormatUiText, BadTranslationsCannotCrash) {
    // More conversions than arguments: the extra ones print nothing.
    EXPECT_EQ(FormatUiText("%s и %s и %s", {std::string("a")}), "a и  и ");
    EXPECT_EQ(FormatUiText("%d%s%x", {}), "");
    // Wrong conversion for the argument: shown sensibly, never reinterpreted.
    EXPECT_EQ(FormatUiText("%d", {std::string("text")}), "text");
    EXPECT_EQ(FormatUiText("%s", {int64_t(12)}), "12");
    // Conversions we do not take are left as they stand.
    EXPECT_EQ(FormatUiText("%n%p%f", {int64_t(1), int64_t(2), int64_t(3)}), "%n%p%f");
    EXPECT_EQ(FormatUiText("%*d|%.*s", {int64_t(5), int64_t(1)}), "%*d|%.*s");
    EXPECT_EQ(FormatUiText("%#d|%#x", {int64_t(5), int64_t(255)}), "5|0xff");
    EXPECT_EQ(FormatUiText("100%", {}), "100%");
    EXPECT_EQ(FormatUiText("50%-", {}), "50%-");
    // Huge widths are bounded.
    EXPECT_EQ(FormatUiText("%99999999999999999999d", {int64_t(1)}).size(), 1024u);
    EXPECT_EQ(FormatUiText("%99999s", {std::string("x")}).size(), 1024u);
}

TEST_F(UiStrings, FormatUiStringTakesTheTextOfTheId) {
    EXPECT_EQ(FormatUiString(161, "Telmar"), "Установка Telmar");
    EXPECT_EQ(FormatUiString(189, 1, 21, "1.00 KB"), "1 ч 21 мин при 1.00 KB/с");
    SetResourceModule(Module({{161, "Setting up %s, %s"}}));
    EXPECT_EQ(FormatUiString(161, "Telmar"), "Setting up Telmar, ");
}
