#include "codepage.h"

#include <gtest/gtest.h>

#include <string>

using krv::platform::AnsiToOem;
using krv::platform::Cp1251ToUtf8;
using krv::platform::OemToAnsi;
using krv::platform::Utf8ToCp1251;

namespace {

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

std::string AllBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b)
        s += static_cast<char>(b);
    return s;
}

} // namespace

TEST(AnsiOem, LettersGoToTheirOemBytes) {
    // А Я а п р я
    EXPECT_EQ(AnsiToOem(B({0xC0, 0xDF, 0xE0, 0xEF, 0xF0, 0xFF})),
              B({0x80, 0x9F, 0xA0, 0xAF, 0xE0, 0xEF}));
    // Ё ё Є є Ї ї Ў ў №
    EXPECT_EQ(AnsiToOem(B({0xA8, 0xB8, 0xAA, 0xBA, 0xAF, 0xBF, 0xA1, 0xA2, 0xB9})),
              B({0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xFC}));
}

TEST(AnsiOem, BytesWithoutCounterpartBecomeQuestionMarks) {
    // І і Ґ have no place in 866; 98 is no character at all in 1251.
    EXPECT_EQ(AnsiToOem(B({'a', 0xB2, 0xB3, 0xA5, 0x98, 'z'})), "a????z");
    // Box drawing of 866 has no place in 1251.
    EXPECT_EQ(OemToAnsi(B({0xB0, 0xC4, 0xDB, '1'})), "???1");
}

TEST(AnsiOem, LengthKeptAndControlBytesUntouched) {
    const std::string all = AllBytes();
    const std::string oem = AnsiToOem(all);
    const std::string back = OemToAnsi(all);
    ASSERT_EQ(oem.size(), 256u);
    ASSERT_EQ(back.size(), 256u);
    EXPECT_EQ(oem.substr(0, 128), all.substr(0, 128));
    EXPECT_EQ(back.substr(0, 128), all.substr(0, 128));
    EXPECT_EQ(AnsiToOem(std::string("\0\x10\x03", 3)), std::string("\0\x10\x03", 3));
    EXPECT_EQ(AnsiToOem(""), "");
}

TEST(AnsiOem, RoundTripKeepsEveryByteThatHasACounterpart) {
    for (int b = 0x80; b < 256; ++b) {
        const std::string in(1, static_cast<char>(b));
        const std::string oem = AnsiToOem(in);
        if (oem == "?")
            continue;
        EXPECT_EQ(OemToAnsi(oem), in) << "byte " << b;
    }
    // Every letter from А to я has a place in 866.
    int cyrillic = 0;
    for (int b = 0xC0; b < 256; ++b)
        cyrillic += AnsiToOem(std::string(1, static_cast<char>(b))) != "?";
    EXPECT_EQ(cyrillic, 64);
}

TEST(Utf8Cp1251, ConvertsBothWays) {
    const std::string utf8 = "Привет, № 5 € Ґґ Її Єє";
    const std::string cp = Utf8ToCp1251(utf8);
    EXPECT_EQ(cp, B({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, ',',  ' ',  0xB9, ' ',  '5',
                     ' ',  0x88, ' ',  0xA5, 0xB4, ' ',  0xAF, 0xBF, ' ',  0xAA, 0xBA}));
    EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
    EXPECT_EQ(Utf8ToCp1251(""), "");
    EXPECT_EQ(Cp1251ToUtf8(""), "");
}

TEST(Utf8Cp1251, UnconvertibleCharactersBecomeOneQuestionMarkEach) {
    EXPECT_EQ(Utf8ToCp1251("a中b"), "a?b");
    EXPECT_EQ(Utf8ToCp1251("😀😀"), "??");
    EXPECT_EQ(Utf8ToCp1251("ñЖ"), B({'?', 0xC6}));
}

TEST(Utf8Cp1251, MalformedBytesBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a\xFF"
                           "b"),
              "a?b");
    EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), "??");        // overlong '/'
    EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???");   // a surrogate
    EXPECT_EQ(Utf8ToCp1251("Ж\xD0"), B({0xC6, '?'})); // cut short at the end
    EXPECT_EQ(Utf8ToCp1251("\xD0Ж"), B({'?', 0xC6}));
    EXPECT_EQ(Utf8ToCp1251(std::string("x\0y", 3)), std::string("x\0y", 3));
}

TEST(Utf8Cp1251, LongTextsConvertWhole) {
    std::string utf8;
    for (int i = 0; i < 3000; ++i)
        utf8 += "Ж中";
    const std::string cp = Utf8ToCp1251(utf8);
    ASSERT_EQ(cp.size(), 6000u);
    EXPECT_EQ(cp.substr(0, 4), B({0xC6, '?', 0xC6, '?'}));
    EXPECT_EQ(cp.substr(5996), B({0xC6, '?', 0xC6, '?'}));
}

TEST(Utf8Cp1251, UnassignedByteComesOutAsQuestionMark) {
    EXPECT_EQ(Cp1251ToUtf8(B({'a', 0x98, 'b'})), "a?b");
    // Every other byte has a character and survives the trip back.
    const std::string all = AllBytes();
    std::string expected = all;
    expected[0x98] = '?';
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), expected);
}

TEST(PrinterText, MissingLettersGoOutAsLookAlikes) {
    // № 5  І  і  Ґ  ґ, then Є є Ї ї and Ё, which the page has.
    EXPECT_EQ(krv::platform::AnsiToPrinterText(
                  B({0xB9, '5', 0xB2, 0xB3, 0xA5, 0xB4, 0xAA, 0xBA, 0xAF, 0xBF, 0xA8})),
              B({'N', '5', 'I', 'i', 0xF6, 0xF7, 0xF2, 0xF3, 0xF4, 0xF5, 0xF0}));
    const std::string all = AllBytes();
    EXPECT_EQ(krv::platform::AnsiToPrinterText(all).size(), all.size());
}
