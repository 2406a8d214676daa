// The tab " Дамп " of the main window: one block of printer memory shown as
// hexadecimal text and saved as ".txt", and an address range read block by
// block and saved as raw ".bin".
//
// A range read stops at the first block the printer does not give: a file
// with a hole in it would look like a whole dump.
#include "main_window.h"

#include "console_state.h"
#include "driver_error_box.h"
#include "memory_dump.h"
#include "message_layer.h"
#include "report_logic.h"
#include "saved_file.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>

using namespace krv::console;

int TForm1::SpinValue(const char *name) const {
    const auto *spin = Control<QSpinBox>(QString::fromLatin1(name));
    return spin ? spin->value() : 0;
}

void TForm1::BitBtn11Click() {
    const std::optional<uint16_t> address = ParseHexAddress(FieldText("Edit33"));
    if (!address) {
        ShowInputError(BadAddressText());
        return;
    }
    QByteArray bytes;
    if (!ReadMemoryBlock(static_cast<uint8_t>(SpinValue("SpinEdit3")), *address, kDumpBlockBytes,
                         bytes)) {
        ShowDriverError(this);
        return;
    }
    if (auto *view = Control<QPlainTextEdit>(QStringLiteral("Memo2"))) {
        const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
        view->setPlainText(HexViewLines({data, static_cast<size_t>(bytes.size())}).join(u'\n'));
    }
}

void TForm1::BitBtn12Click() {
    const QString chosen = GetSaveFileName(this, QStringLiteral("Text files (*.txt)|*.txt"));
    if (chosen.isEmpty())
        return;
    const auto *view = Control<QPlainTextEdit>(QStringLiteral("Memo2"));
    const QStringList lines = MemoLines(view ? view->toPlainText() : QString());
    if (!SaveFileBytes(DumpFileName(chosen, QStringLiteral(".txt")), AnsiLinesBytes(lines))
             .isEmpty())
        ShowInputError(QStringLiteral("Невозможно создать файл!\r\nИмя файла задано неверно."));
}

void TForm1::Button55Click() {
    auto *counter = Control<QLabel>(QStringLiteral("Label46"));
    const auto showCount = [counter](int blocks) {
        if (!counter)
            return;
        counter->setText(QString::number(blocks));
        counter->repaint();
    };
    showCount(0);

    const DumpRangeBuild range = BuildDumpRange(FieldText("Edit17"), FieldText("Edit24"));
    if (!range.ok) {
        ShowInputError(range.error);
        return;
    }
    // Between blocks the window repaints and stays alive; the operator's
    // clicks wait until the read is over, so nothing else talks to the
    // printer in the middle of it.
    const RangeReadOutcome outcome =
        ReadMemoryRange(static_cast<uint8_t>(SpinValue("SpinEdit4")),
                        PlanDumpBlocks(range.start, range.end), [&showCount](int blocks) {
                            showCount(blocks);
                            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                        });
    if (!outcome.ok) {
        ShowDriverError(this);
        return;
    }

    if (ShowMessage(this, QStringLiteral("Чтение завершено!"), RangeReadQuestion(outcome.blocks),
                    Icon::Information, Buttons::YesNo) != kResultYes)
        return;
    const QString chosen = GetSaveFileName(this, QStringLiteral("Binary files (*.bin)|*.bin"),
                                           State().SerialNumberPrefix);
    if (chosen.isEmpty())
        return;
    if (!SaveFileBytes(DumpFileName(chosen, QStringLiteral(".bin")), outcome.data).isEmpty()) {
        ShowInputError(QStringLiteral("Невозможно сохранить данные!\r\nИмя файла задано неверно."));
        return;
    }
    ShowMessage(this, QStringLiteral("Операция завершена!"),
                QStringLiteral("Данные успешно сохранены!"), Icon::Information, Buttons::Ok);
}
