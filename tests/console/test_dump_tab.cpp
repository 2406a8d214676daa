// The tab " Дамп " of the connected main window, end to end against the
// emulated printer's memory: the block read into the hex view and its text
// file, the range read with its counter and its raw file, and a range read
// that meets a block the printer does not give.
#include "support_console.h"

#include "console_state.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace krv::console;
using krv::emu::Bytes;

namespace {

constexpr uint8_t kPage = 23;

class DumpTab : public krv::test::ConnectedConsoleTest {
  protected:
    void SetUp() override {
        ConnectedConsoleTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(m_dir.isValid());
        auto lock = Emu().Lock();
        Bytes memory(0x10000);
        for (size_t i = 0; i < memory.size(); ++i)
            memory[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ 0x5A);
        Emu().State().ext.Write(kPage, 0, memory);
        m_memory = memory;
    }
    QByteArray Memory(size_t from, size_t count) const {
        return QByteArray(reinterpret_cast<const char *>(m_memory.data() + from),
                          static_cast<qsizetype>(count));
    }
    QByteArray FileBytes(const QString &name) const {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
    void Page(const char *spin, int page) {
        form->findChild<QSpinBox *>(QString::fromLatin1(spin))->setValue(page);
    }

    QTemporaryDir m_dir;
    Bytes m_memory;
};

TEST_F(DumpTab, RangeReadSavesTheExactBytes) {
    Page("SpinEdit4", kPage);
    SetText("Edit17", QStringLiteral("0000"));
    SetText("Edit24", QStringLiteral("00C8"));
    script->answers = {kResultYes};
    script->fileNames = {m_dir.filePath(QStringLiteral("dump"))};
    form->Button55Click();

    EXPECT_EQ(Requests(0x1C),
              (std::vector<Bytes>{{0x1C, 0x00, 0x00, kPage, 128}, {0x1C, 0x80, 0x00, kPage, 72}}));
    EXPECT_EQ(Text("Label46"), QStringLiteral("2"));
    EXPECT_EQ(script->Texts(),
              (QStringList{QStringLiteral("Операция завершна, вычитано блоков - 2.\r\nХотите "
                                          "сохранить данные в файл?"),
                           QStringLiteral("Данные успешно сохранены!")}));
    EXPECT_EQ(script->fileFilters,
              (std::vector<QString>{QStringLiteral("Binary files (*.bin)|*.bin")}));
    // The dialog proposes the first 8 characters of the printer's serial text.
    EXPECT_EQ(script->fileInitialNames, (std::vector<QString>{QStringLiteral("КР000012")}));
    EXPECT_EQ(FileBytes(QStringLiteral("dump.bin")), Memory(0, 200));
}

TEST_F(DumpTab, RangeReadStopsAtTheFirstFailedBlockAndSavesNothing) {
    // The block at 0080 comes back short: the driver refuses it.
    Emu().SetHandler(0x1C, [](krv::emu::PrinterEmulator &emu, std::span<const uint8_t> p) {
        Bytes data = emu.State().ext.Read(p[3], static_cast<uint16_t>(p[1] | p[2] << 8), p[4]);
        if (p[1] == 0x80)
            data.resize(10);
        return krv::emu::Reply::Ok(data);
    });
    Page("SpinEdit4", kPage);
    SetText("Edit17", QStringLiteral("0000"));
    SetText("Edit24", QStringLiteral("0180"));
    script->answers = {kResultYes};
    script->fileNames = {m_dir.filePath(QStringLiteral("dump"))};
    form->Button55Click();

    EXPECT_EQ(Requests(0x1C).size(), 2u);
    EXPECT_EQ(Text("Label46"), QStringLiteral("1"));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_TRUE(script->fileFilters.empty());
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());
}

TEST_F(DumpTab, BlockReadFillsTheViewAndSavesItAsText) {
    SetText("Edit33", QStringLiteral("00ff"));
    form->BitBtn11Click();
    EXPECT_EQ(script->Texts(), QStringList{QStringLiteral("Адрес задан неверно!")});
    EXPECT_TRUE(Emu().Requests().empty());

    script->messages.clear();
    Page("SpinEdit3", kPage);
    SetText("Edit33", QStringLiteral("FFC0")); // runs on past FFFF
    form->BitBtn11Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Requests(0x1C), (std::vector<Bytes>{{0x1C, 0xC0, 0xFF, kPage, 128}}));

    QByteArray expected;
    for (size_t line = 0; line < 8; ++line) {
        for (size_t i = 0; i < 16; ++i)
            expected += Memory((0xFFC0 + line * 16 + i) & 0xFFFF, 1).toHex().toUpper() + ' ';
        expected += "\r\n";
    }
    const QString view = form->findChild<QPlainTextEdit *>(QStringLiteral("Memo2"))->toPlainText();
    EXPECT_EQ(view.split(u'\n').size(), 8);
    script->fileNames = {m_dir.filePath(QStringLiteral("view"))};
    form->BitBtn12Click();
    EXPECT_EQ(FileBytes(QStringLiteral("view.txt")), expected);
    EXPECT_EQ(script->fileFilters,
              (std::vector<QString>{QStringLiteral("Text files (*.txt)|*.txt")}));
}

} // namespace
