// Non-fiscal text, logo upload and barcodes end to end.
#include "support_link.h"

#include "codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using krv::test::EmulatorTest;
using krv::test::ReplyFrame;
using krv::test::ScriptedLinkTest;

using krv::test::Concat;
using krv::test::Cp;

// The caller's list of lines behind the C interface.
struct Lines {
    explicit Lines(std::vector<std::string> lines) : texts(std::move(lines)) {}
    std::vector<std::string> texts;
    int32_t countOverride = -2;
    int nullAt = -1;
    TextLineList list{this, &Count, &Line};

    static int32_t Count(void *context) {
        auto *self = static_cast<Lines *>(context);
        return self->countOverride != -2 ? self->countOverride
                                         : static_cast<int32_t>(self->texts.size());
    }
    static const char *Line(void *context, int32_t index) {
        auto *self = static_cast<Lines *>(context);
        return index == self->nullAt ? nullptr : self->texts.at(static_cast<size_t>(index)).c_str();
    }
};

// A monochrome bitmap saved as a file: a header, then the pixel rows from
// the bottom up, each padded to a multiple of four bytes.
struct Bitmap {
    Bitmap(int w, int h, size_t cutFromFile = 0) : width(w), height(h) {
        const size_t rowBytes = static_cast<size_t>(w + 7) / 8, stride = (rowBytes + 3) / 4 * 4;
        file.assign(62, 0x42);
        for (int stored = 0; stored < h; ++stored) {
            const int y = h - 1 - stored; // rows are stored bottom first
            for (size_t x = 0; x < stride; ++x)
                file.push_back(x < rowBytes ? static_cast<uint8_t>(y * 7 + x * 3 + 1) : 0xEE);
        }
        file.erase(file.end() - static_cast<std::ptrdiff_t>(std::min(cutFromFile, file.size())),
                   file.end());
        for (int y = 0; y < h; ++y)
            for (size_t x = 0; x < rowBytes; ++x)
                rows.push_back(static_cast<uint8_t>(y * 7 + x * 3 + 1));
    }
    int width, height;
    Bytes file;
    Bytes rows; // the picture, top row first
    LogoBitmap object{this, &Width, &Height, &FileBytes};

    static int32_t Width(void *c) { return static_cast<Bitmap *>(c)->width; }
    static int32_t Height(void *c) { return static_cast<Bitmap *>(c)->height; }
    static int32_t FileBytes(void *c, const uint8_t **data) {
        auto *self = static_cast<Bitmap *>(c);
        *data = self->file.data();
        return static_cast<int32_t>(self->file.size());
    }
};

class TextLogoTest : public EmulatorTest {};

// ---- non-fiscal text ------------------------------------------------------------------

TEST_F(TextLogoTest, TransPrintOpensOnlyWhenNeededAndCloses) {
    Lines lines({"Hello", ""});
    ASSERT_EQ(FPTransPrint(&lines.list, -1, 0), -1) << ErrorText();
    ASSERT_EQ(FPTransPrint(&lines.list, -1, 0x10000), -1) << "close is tested on its low 16 bits";
    auto requests = Emu().Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0], (Bytes{0x28, 0xFE}));
    EXPECT_EQ(requests[1], Concat({0x28, 0x05}, "Hello"));
    EXPECT_EQ(requests[2], (Bytes{0x28, 0x00}));
    EXPECT_EQ(requests[3], Concat({0x28, 0x05}, "Hello"));

    ASSERT_EQ(FPTransPrint(&lines.list, -1, 1), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x28, 0xFF}));
    // Closed: opening again sends FE again.
    Emu().ClearRecords();
    ASSERT_EQ(FPTransPrint(&lines.list, -1, 1), -1);
    EXPECT_EQ(Emu().Requests().front(), (Bytes{0x28, 0xFE}));
}

TEST_F(TextLogoTest, TransPrintWithOpenClearWhileADocumentIsOpenSendsFe) {
    Lines none({});
    ASSERT_EQ(FPTransPrint(&none.list, -1, 0), -1);
    ASSERT_EQ(FPTransPrint(&none.list, 0, 0), -1);
    ASSERT_EQ(FPTransPrint(&none.list, 0, 0), -1);
    auto requests = Emu().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], (Bytes{0x28, 0xFE}));
    auto lock = Emu().Lock();
    EXPECT_FALSE(Emu().State().ext.documentOpen);
}

TEST_F(TextLogoTest, TransPrintLineLengthStopsAtTheLongLine) {
    Lines lines({std::string(37, 'a'), std::string(38, 'b'), "never"});
    EXPECT_EQ(FPTransPrint(&lines.list, 0, -1), 0);
    EXPECT_EQ(ErrorText(),
              "Строка №1\r\nДлина строки нефискального текста превышает допустимую длину");
    auto requests = Emu().Requests();
    ASSERT_EQ(requests.size(), 1u) << "lines before the long one stay printed";
    EXPECT_EQ(requests[0], Concat({0x28, 37}, std::string(37, 'a')));
}

TEST_F(TextLogoTest, BrokenLineListsAreRefusedBeforeAnythingIsSent) {
    EXPECT_EQ(FPTransPrint(nullptr, -1, -1), 0);
    EXPECT_FALSE(ErrorText().empty());
    Lines negative({"a"});
    negative.countOverride = -1;
    EXPECT_EQ(FPTransPrint(&negative.list, -1, -1), 0);
    EXPECT_EQ(FPTransPrintNew(&negative.list, -1, 0), 0);
    Lines withNull({"a", "b", "c"});
    withNull.nullAt = 2;
    EXPECT_EQ(FPTransPrint(&withNull.list, -1, -1), 0);
    EXPECT_EQ(FPTransPrintNew(&withNull.list, -1, 0), 0);
    // A count far beyond the lines there are ends at the first missing line.
    Lines huge({"a"});
    huge.countOverride = INT32_MAX;
    huge.nullAt = 1;
    EXPECT_EQ(FPTransPrintNew(&huge.list, -1, 0), 0);
    EXPECT_EQ(ErrorText(), "Строка №1\r\nСтрока нефискального текста не задана!");
    TextLineList noCallbacks{nullptr, nullptr, nullptr};
    EXPECT_EQ(FPTransPrintNew(&noCallbacks, -1, 0), 0);
    EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(TextLogoTest, TransPrintNewCutsLinesAndMarksTheTape) {
    Lines lines({std::string(50, 'x')});
    const std::string cut(37, 'x');
    const std::pair<int32_t, uint8_t> tapes[] = {
        {0, 0x25}, {1, 0x65}, {2, 0xA5}, {3, 0x25}, {0x101, 0x65}};
    for (const auto &[tape, lengthByte] : tapes) {
        ASSERT_EQ(FPTransPrintNew(&lines.list, 0, tape), -1);
        EXPECT_EQ(LastRequest(), Concat({0x28, lengthByte}, cut)) << "tape " << tape;
    }
    ASSERT_EQ(FPTransPrintNew(&lines.list, -1, 0), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x28, 0xFF}));
    for (const Bytes &request : Emu().Requests())
        EXPECT_NE(request, (Bytes{0x28, 0xFE})) << "never opens";
}

TEST_F(TextLogoTest, TextLinesAreSentInThePrintersCodePage) {
    Lines lines({Cp("Ґанок №7")});
    ASSERT_EQ(FPTransPrintNew(&lines.list, 0, 0), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x28, 0x08, 0xF6, 0xA0, 0xAD, 0xAE, 0xAA, ' ', 'N', '7'}));
}

// ---- logo ---------------------------------------------------------------------------------

TEST_F(TextLogoTest, LogoUploadIsReceivedByteExact) {
    {
        auto lock = Emu().Lock();
        Emu().State().ext.SetPassword(8, 0x0102);
    }
    Bitmap bitmap(384, 100);
    ASSERT_EQ(FPLoadBMP(0x0102, 448, 1050, &bitmap.object, 0, 0), -1) << ErrorText();
    EXPECT_EQ(Emu().Requests().front(), (Bytes{0x2D, 0x02, 0x01, 0x01, 0x80, 0x01, 0x64, 0x00}));
    const auto chunks = Emu().RawChunks();
    EXPECT_EQ(chunks.size(), 75u);
    for (const Bytes &chunk : chunks)
        EXPECT_EQ(chunk.size(), 64u);
    EXPECT_FALSE(krv::drv::LogoMode());
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().ext.logo, bitmap.rows);
}

TEST_F(TextLogoTest, LogoRowsComeFromPaddedStoredRowsAndTheLastChunkIsShort) {
    Bitmap bitmap(40, 30); // 5 bytes a row, stored in 8
    ASSERT_EQ(FPLoadBMP(0, 448, 1050, &bitmap.object, 0, 0), -1) << ErrorText();
    const auto chunks = Emu().RawChunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[2].size(), 150u - 128u);
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().ext.logo, bitmap.rows);
}

TEST_F(TextLogoTest, LogoDoubleHeightAndInversion) {
    Bitmap bitmap(16, 156);
    ASSERT_EQ(FPLoadBMP(0, 352, 312, &bitmap.object, -1, 0x0001), -1) << ErrorText();
    EXPECT_EQ(Emu().Requests().front(), (Bytes{0x2D, 0x00, 0x00, 0x01, 0x10, 0x00, 0x38, 0x01}));
    Bytes expected;
    for (size_t row = 0; row < 156; ++row)
        for (int twice = 0; twice < 2; ++twice)
            for (size_t x = 0; x < 2; ++x)
                expected.push_back(static_cast<uint8_t>(~bitmap.rows[2 * row + x]));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().ext.logo, expected);
}

TEST_F(TextLogoTest, LogoSizeChecks) {
    const std::string sizeText = "Недопустимые размеры логотипа!\r\n\r\nДопустимые размеры:\r\n"
                                 "Количество точек по ширине: X = 8..352.\r\n"
                                 "Количество точек по высоте: Y = 1..312.\r\n"
                                 "Сохраните файл в монохромном режиме.";
    for (auto [w, h, twice] :
         {std::tuple{16, 157, -1}, {16, 313, 0}, {360, 10, 0}, {0, 10, 0}, {16, 0, 0}}) {
        Bitmap bitmap(w, h);
        EXPECT_EQ(FPLoadBMP(0, 352, 312, &bitmap.object, static_cast<KrvBool16>(twice), 0), 0);
        EXPECT_EQ(ErrorText(), sizeText) << w << "x" << h;
    }
    Bitmap notEight(204, 10);
    EXPECT_EQ(FPLoadBMP(0, 352, 312, &notEight.object, 0, 0), 0);
    EXPECT_EQ(
        ErrorText(),
        "Недопустимые размеры логотипа!\r\n\r\nКоличество точек по ширине должно быть кратно 8.\r\n"
        "Допустимые размеры:\r\nКоличество точек по ширине: X = 8..352.\r\n"
        "Количество точек по высоте: Y = 1..312.");
    EXPECT_EQ(Emu().Requests().size(), 0u);
    EXPECT_FALSE(krv::drv::LogoMode());
    Bitmap eight(200, 10);
    EXPECT_EQ(FPLoadBMP(0, 352, 312, &eight.object, 0, 0), -1) << ErrorText();
}

TEST_F(TextLogoTest, LogoFileShorterThanItsRowsIsRefused) {
    Bitmap bitmap(64, 10, 62 + 1); // header gone and one byte of the rows too
    EXPECT_EQ(FPLoadBMP(0, 448, 1050, &bitmap.object, 0, 0), 0);
    EXPECT_FALSE(ErrorText().empty());
    EXPECT_EQ(FPLoadBMP(0, 448, 1050, nullptr, 0, 0), 0);
    EXPECT_EQ(Emu().Requests().size(), 0u);
}

TEST_F(TextLogoTest, RefusedChunkEndsTheUploadWithLogoModeOff) {
    {
        auto lock = Emu().Lock();
        Emu().State().ext.failLogoChunk = 3;
    }
    Bitmap bitmap(384, 100);
    EXPECT_EQ(FPLoadBMP(0, 448, 1050, &bitmap.object, 0, 0), 0);
    EXPECT_EQ(ErrorText(), "\r\nОшибка программирования логотипа");
    EXPECT_EQ(Emu().RawChunks().size(), 4u);
    EXPECT_FALSE(krv::drv::LogoMode());
    // The printer now has half a logo and refuses to switch it on.
    EXPECT_EQ(FPEnableBMP(0), 0);
    EXPECT_EQ(LastRequest(), (Bytes{0x2D, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(TextLogoTest, RefusedHeaderSendsNoRows) {
    Emu().SetHeaderOverride({0x20, std::nullopt, std::nullopt});
    Bitmap bitmap(64, 8);
    // Status 20 alone is a failure under the strict rule.
    EXPECT_EQ(FPLoadBMP(0, 448, 1050, &bitmap.object, 0, 0), 0);
    EXPECT_TRUE(Emu().RawChunks().empty());
    EXPECT_FALSE(krv::drv::LogoMode());
}

TEST_F(TextLogoTest, EnableAndDisableSendTheLowHalfOfThePassword) {
    {
        auto lock = Emu().Lock();
        Emu().State().ext.SetPassword(8, 0x2345);
    }
    Bitmap bitmap(8, 1);
    ASSERT_EQ(FPLoadBMP(0x2345, 448, 1050, &bitmap.object, 0, 0), -1) << ErrorText();
    ASSERT_EQ(FPEnableBMP(0x12345), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x2D, 0x45, 0x23, 0x01, 0x00, 0x00, 0x00, 0x00}));
    ASSERT_EQ(FPDisableBMP(0x12345), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x2D, 0x45, 0x23, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

// A chunk that gets no answer: three tries, then the upload's own text.
class LogoLinkTest : public ScriptedLinkTest {};

TEST_F(LogoLinkTest, ChunkWithoutAnAnswerFailsWithLogoModeOff) {
    port.answers.push_back(ReplyFrame({0x01, 0x2D, 0x00, 0x00, 0x00}));
    port.answers.push_back(ReplyFrame({0x02, 0x00, 0x00, 0x00, 0x00}));
    Bitmap bitmap(8, 128); // two chunks of 64
    EXPECT_EQ(FPLoadBMP(0, 448, 1050, &bitmap.object, 0, 0), 0);
    EXPECT_EQ(krv::platform::Cp1251ToUtf8(FPErrorMessage()), "Ошибка программирования логотипа!");
    EXPECT_FALSE(krv::drv::LogoMode());
    ASSERT_EQ(port.writes.size(), 5u);
    Bytes second(bitmap.rows.begin() + 64, bitmap.rows.end());
    uint8_t sum = 0;
    for (uint8_t b : second)
        sum = static_cast<uint8_t>(sum + b);
    second.push_back(static_cast<uint8_t>(0 - sum));
    EXPECT_EQ(port.writes[2], second);
    EXPECT_EQ(port.writes[4], second);
}

// ---- barcodes ------------------------------------------------------------------------------

TEST_F(TextLogoTest, Code128Checks) {
    for (size_t length : {17u, 300u}) {
        EXPECT_EQ(FPSetBarCode(std::string(length, '1').c_str()), 0);
        EXPECT_EQ(ErrorText(), "Слишком длинный штрих-код");
    }
    EXPECT_EQ(FPSetBarCode(Cp("AБ").c_str()), 0);
    EXPECT_EQ(ErrorText(), "Ошибка данных штрих-кода Code-128!");
    EXPECT_EQ(RequestCount(), 0u);
    ASSERT_EQ(FPSetBarCode("ABC-12"), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Concat({0x2F, 0x06}, "ABC-12"));
    // № becomes N before the checks, so it is a valid Code-128 character.
    ASSERT_EQ(FPSetBarCode(Cp("№15").c_str()), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Concat({0x2F, 0x03}, "N15"));
}

TEST_F(TextLogoTest, Ean13PaddingAndChecks) {
    ASSERT_EQ(FPPrintEAN13("123"), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Concat({0x31}, "0000000000123"));
    ASSERT_EQ(FPPrintEAN13("0123456789012"), -1) << ErrorText();
    const size_t sent = RequestCount();
    EXPECT_EQ(FPPrintEAN13("124"), 0);
    EXPECT_EQ(ErrorText(), "Ошибка в контрольном разряде штрих-кода EAN-13!");
    EXPECT_EQ(FPPrintEAN13("12345678901234"), 0);
    EXPECT_EQ(ErrorText(), "Недопустимая длина штрих-кода!");
    EXPECT_EQ(FPPrintEAN13("12a"), 0);
    EXPECT_EQ(ErrorText(), "Ошибка формата штрих-кода EAN-13!");
    EXPECT_EQ(FPPrintEAN13(""), 0);
    EXPECT_EQ(ErrorText(), "Недопустимая длина штрих-кода!");
    EXPECT_EQ(RequestCount(), sent);
}

} // namespace
