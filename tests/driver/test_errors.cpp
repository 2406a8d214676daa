#include "errors.h"

#include "codepage.h"
#include "link.h"
#include "support_link.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace krv::drv;

namespace {

// Runs one status request against a scripted printer whose reply carries the
// given header bytes, so that LastReply() holds that header and its flags.
class ErrorReporting : public krv::test::ScriptedLinkTest {
  protected:
    bool Exchange(uint8_t status, uint8_t code, uint8_t extFlags = 0) {
        port.answers.push_back(krv::test::ReplyFrame({0x01, 0x00, status, code, extFlags}));
        const uint8_t payload[] = {0x00};
        return PrinterTransaction(payload);
    }
    bool Silence() {
        const uint8_t payload[] = {0x00};
        return PrinterTransaction(payload);
    }
    static std::string Text() { return krv::platform::Cp1251ToUtf8(ErrorState().text); }
    static void ExpectState(uint8_t code, uint8_t status) {
        EXPECT_EQ(ErrorState().code, code);
        EXPECT_EQ(ErrorState().status, status);
    }
};

constexpr uint8_t kServiceReport = 0x01;
constexpr uint8_t kAccident = 0x02;
constexpr uint8_t kNoPaper = 0x04;
constexpr uint8_t kNotPersonalized = 0x80;

} // namespace

// ---- The tables ------------------------------------------------------------------

TEST(ErrorTables, CodesWithoutTextAreExactlyTheUnlistedOnes) {
    const std::set<int> silent = {0x00, 0x03, 0x05, 0x07, 0x09, 0x0B, 0x0C, 0x0D,
                                  0x0E, 0x0F, 0x11, 0x12, 0x1D, 0x28, 0x31};
    for (int code = 0; code < 256; ++code) {
        const bool empty = ErrorCodeText(static_cast<uint8_t>(code), false).empty();
        EXPECT_EQ(empty, silent.count(code) == 1 || code > 0x32) << "code " << code;
    }
}

TEST(ErrorTables, TextsAreTheSystemsOwn) {
    EXPECT_EQ(ErrorCodeText(0x01, false), "Ошибка принтера");
    EXPECT_EQ(ErrorCodeText(0x02, false), "Закончилаь бумага");
    EXPECT_EQ(ErrorCodeText(0x1E, false), "Ошибка формата даты/времени");
    EXPECT_EQ(ErrorCodeText(0x32, false), "Команда запрещена, КЛЭФ не пустой");
    EXPECT_EQ(ErrorCodeText(0x27, false), "Команда запрещена, чек не открыт");
    EXPECT_EQ(ErrorCodeText(0x27, true), "Команда запрещена, открыт служебный отчёт");
    EXPECT_EQ(ErrorCodeText(0x2C, false), "Команда запрещена, чек открыт");
    EXPECT_EQ(ErrorCodeText(0x2C, true), "Команда запрещена, открыт служебный отчёт");
    EXPECT_EQ(ErrorCodeText(0x15, true), "Неверный пароль");
    EXPECT_EQ(StatusBitText(0), "Принтер не готов");
    EXPECT_EQ(StatusBitText(7), "Функция не существует или запрещена в данном режиме");
    EXPECT_EQ(StatusBitText(8), "");
    EXPECT_EQ(StatusBitText(-1), "");
}

TEST(ErrorTables, TextIsKeptInWindows1251) {
    SetErrorText("Нет бумаги.");
    EXPECT_EQ(ErrorState().text, krv::platform::Utf8ToCp1251("Нет бумаги."));
    EXPECT_EQ(static_cast<unsigned char>(ErrorState().text[0]), 0xCD);
    ClearErrorText();
    EXPECT_EQ(ErrorState().text, "");
}

// ---- The decoder -------------------------------------------------------------------

TEST_F(ErrorReporting, DoneCommandLeavesTheStateClear) {
    ASSERT_TRUE(Exchange(0x00, 0x00));
    EXPECT_TRUE(StandardResult(true));
    EXPECT_EQ(ErrorState().text, "");
    ExpectState(0, 0);
}

TEST_F(ErrorReporting, CodeWithoutStatusShowsTheCodeText) {
    ASSERT_TRUE(Exchange(0x00, 0x15));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nНеверный пароль");
    ExpectState(0x15, 0x00);
}

TEST_F(ErrorReporting, StatusBitsHideTheCodeText) {
    ASSERT_TRUE(Exchange(0x01, 0x10));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nПринтер не готов");
    ExpectState(0x10, 0x01);

    ASSERT_TRUE(Exchange(0x81, 0x00));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(),
              "\r\nПринтер не готов\r\nФункция не существует или запрещена в данном режиме");
    ExpectState(0x00, 0x81);
}

TEST_F(ErrorReporting, FlagLinesComeFirst) {
    ASSERT_TRUE(Exchange(0x28, 0x00));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(),
              "\r\nОшибка часов.\r\nПродолжительность смены больше 24 часов."
              "\r\nНеправильная дата или ошибка часов\r\nПревышение продолжительности смены");
    ExpectState(0x00, 0x28);
}

TEST_F(ErrorReporting, AllFlagLinesInTheirOrder) {
    ASSERT_TRUE(Exchange(0x28, 0x00, kAccident | kNoPaper | kNotPersonalized));
    EXPECT_FALSE(StrictResult(true));
    EXPECT_EQ(Text(),
              "\r\nАВАРИЯ! Команда завершится после устранения ошибки."
              "\r\nОшибка часов.\r\nПродолжительность смены больше 24 часов."
              "\r\nЭККР не персонализирован.\r\nНет бумаги."
              "\r\nНеправильная дата или ошибка часов\r\nПревышение продолжительности смены");
}

TEST_F(ErrorReporting, ServiceReportFlagChoosesTheTextOf27And2C) {
    ASSERT_TRUE(Exchange(0x00, 0x27, kServiceReport));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nКоманда запрещена, открыт служебный отчёт");
    ASSERT_TRUE(Exchange(0x00, 0x27));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nКоманда запрещена, чек не открыт");
    ASSERT_TRUE(Exchange(0x00, 0x2C, kServiceReport));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nКоманда запрещена, открыт служебный отчёт");
    ASSERT_TRUE(Exchange(0x00, 0x2C));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nКоманда запрещена, чек открыт");
    ExpectState(0x2C, 0x00);
}

TEST_F(ErrorReporting, CodesWithoutTextStillFail) {
    ASSERT_TRUE(Exchange(0x00, 0x03));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\n");
    ExpectState(0x03, 0x00);

    ASSERT_TRUE(Exchange(0x00, 0xFF, kNoPaper));
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nНет бумаги.\r\n");
    ExpectState(0xFF, 0x00);
}

// ---- Result rules ------------------------------------------------------------------

TEST_F(ErrorReporting, LongShiftAloneIsSuccessUnderTheStandardRuleOnly) {
    ASSERT_TRUE(Exchange(0x20, 0x00));
    EXPECT_TRUE(StandardResult(true));
    EXPECT_EQ(Text(),
              "\r\nПродолжительность смены больше 24 часов.\r\nПревышение продолжительности смены");
    ExpectState(0x00, 0x20);

    ASSERT_TRUE(Exchange(0x20, 0x00));
    EXPECT_FALSE(StrictResult(true));
    EXPECT_EQ(Text(),
              "\r\nПродолжительность смены больше 24 часов.\r\nПревышение продолжительности смены");
}

TEST_F(ErrorReporting, LongShiftWithOtherBitsFails) {
    ASSERT_TRUE(Exchange(0x21, 0x00));
    EXPECT_FALSE(StandardResult(true));
    ASSERT_TRUE(Exchange(0x00, 0x20)); // code 20, not status 20
    EXPECT_FALSE(StandardResult(true));
    EXPECT_EQ(Text(), "\r\nПревышение разрядности вычисленной стоимости");
}

TEST_F(ErrorReporting, NoReplyGivesTheTimeoutText) {
    ASSERT_TRUE(Exchange(0x01, 0x10)); // a refusal first, to see it replaced
    StandardResult(true);
    ASSERT_FALSE(Silence());
    EXPECT_FALSE(StandardResult(false));
    EXPECT_EQ(Text(), "Превышено время ожидания ответа от принтера!");
    ExpectState(0, 0);
    EXPECT_FALSE(StrictResult(false));
    EXPECT_EQ(Text(), "Превышено время ожидания ответа от принтера!");
    EXPECT_FALSE(LinkResult(false));
    EXPECT_EQ(Text(), "Превышено время ожидания ответа от принтера!");
    EXPECT_FALSE(LinkResultCheckingCode(false));
    EXPECT_EQ(Text(), "Превышено время ожидания ответа от принтера!");
}

TEST_F(ErrorReporting, LinkRuleDecodesNothing) {
    ASSERT_TRUE(Exchange(0x81, 0x10, kAccident));
    EXPECT_TRUE(LinkResult(true));
    EXPECT_EQ(ErrorState().text, "");
    ExpectState(0, 0);
}

TEST_F(ErrorReporting, CodeCheckingLinkRuleIgnoresStatusButNotCode) {
    ASSERT_TRUE(Exchange(0x01, 0x00, kNoPaper));
    EXPECT_TRUE(LinkResultCheckingCode(true));
    EXPECT_EQ(ErrorState().text, "");
    ExpectState(0, 0);

    ASSERT_TRUE(Exchange(0x81, 0x10));
    EXPECT_FALSE(LinkResultCheckingCode(true));
    EXPECT_EQ(Text(), "\r\nКоманда запрещена в данном режиме");
    ExpectState(0x10, 0x00);

    // Flag lines stay, the shift one included, as for any refusal.
    ASSERT_TRUE(Exchange(0x20, 0x2C, kServiceReport | kNoPaper));
    EXPECT_FALSE(LinkResultCheckingCode(true));
    EXPECT_EQ(Text(), "\r\nПродолжительность смены больше 24 часов.\r\nНет бумаги."
                      "\r\nКоманда запрещена, открыт служебный отчёт");
    ExpectState(0x2C, 0x00);
}
