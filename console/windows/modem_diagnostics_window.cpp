#include "modem_diagnostics_window.h"

#include "connection.h"
#include "console_state.h"
#include "console_windows.h"
#include "driver_binding.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "modem_report.h"
#include "modem_state.h"
#include "tape_lock_logic.h"
#include "tape_lock_window.h"
#include "widgets.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QPalette>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

using namespace krv::console;

TForm8::TForm8(QWidget *parent) : QDialog(parent) {
    setObjectName("Form8");
    krv::console::SetFixedWindow(*this, "Диагностика модема KRV-L5 Vertal", 456, 526);

    LayoutBuilder b(this);
    RichEdit1 = b.richEdit("RichEdit1", {0, 0, 456, 440});
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette face = RichEdit1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    RichEdit1->setPalette(face);

    Button2 = b.button("Button2", "Опросить модем", {8, 448, 105, 25});
    Button3 = b.button("Button3", "Подробно", {118, 448, 105, 25});
    Button4 = b.button("Button4", "Сохранить", {228, 448, 105, 25});
    Button5 = b.button("Button5", "Распечатать", {338, 448, 110, 25});
    Button1 = b.button("Button1", "Выход", {8, 484, 440, 30});
    // Nothing to save or print before the modem has answered.
    Button4->setEnabled(false);
    Button5->setEnabled(false);
    ConnectHandlersByName(*this, *this);
}

QStringList TForm8::ViewLines() const {
    if (m_viewEmpty)
        return {};
    QStringList lines;
    for (QTextBlock block = RichEdit1->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines;
}

void TForm8::ClearView(const QFont &face) {
    RichEdit1->clear();
    RichEdit1->repaint();
    QFont font = face;
    const QFont current = RichEdit1->font();
    if (current.pixelSize() > 0)
        font.setPixelSize(current.pixelSize());
    else
        font.setPointSizeF(current.pointSizeF());
    RichEdit1->setFont(font);
    RichEdit1->document()->setDefaultFont(font);
    m_viewEmpty = true;
}

void TForm8::AppendLine(const QString &text, uint32_t rgb, bool systemColour) {
    QTextCursor cursor(RichEdit1->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setFontWeight(QFont::Bold);
    format.setForeground(systemColour ? RichEdit1->palette().color(QPalette::WindowText)
                                      : QColor::fromRgb(rgb));
    // Line breaks inside a text (the modem's answer, the longer
    // descriptions) start lines of their own.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    for (const QString &line : lines.split(u'\n')) {
        if (!m_viewEmpty)
            cursor.insertBlock();
        cursor.insertText(line, format);
        m_viewEmpty = false;
    }
}

bool TForm8::OpenPortForQuery(bool &opened) {
    opened = false;
    if (LinkEstablished())
        return true;
    // The port and rate are the main window's choice; without that window
    // there is no port to open.
    QWidget *mainWindow = Windows().Form1;
    const auto *ports =
        mainWindow ? RequiredControl<QComboBox>(*mainWindow, QStringLiteral("ComboBox6")) : nullptr;
    const auto *rates =
        mainWindow ? RequiredControl<QComboBox>(*mainWindow, QStringLiteral("ComboBox7")) : nullptr;
    const int port = ports ? ports->currentIndex() + 1 : 0;
    const uint32_t rate = rates ? rates->currentText().toUInt() : 0;
    if (!Driver().Init(port, rate)) {
        ShowMessage(mainWindow, kErrorBoxCaption, PortNotOpenedText(port), Icon::Error,
                    Buttons::Ok);
        return false;
    }
    opened = true;
    return true;
}

void TForm8::Button1Click() {
    close();
}

void TForm8::Button2Click() {
    Button4->setEnabled(false);
    Button5->setEnabled(false);
    // The printer's text answer lines up in columns.
    ClearView(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    bool opened = false;
    if (!OpenPortForQuery(opened))
        return;

    QString text;
    if (CallModemStateText(text)) {
        // A closing line break ends the last line; it opens no empty one.
        if (text.endsWith(QStringLiteral("\r\n")))
            text.chop(2);
        else if (text.endsWith(u'\n') || text.endsWith(u'\r'))
            text.chop(1);
        AppendLine(text, 0, true);
        Button4->setEnabled(true);
    } else {
        ShowDriverError(this);
    }
    if (opened)
        Driver().Close();
}

void TForm8::Button3Click() {
    Button4->setEnabled(false);
    Button5->setEnabled(false);
    ClearView(ConsoleFont());
    bool opened = false;
    if (!OpenPortForQuery(opened))
        return;

    ModemStateReply reply;
    if (!CallModemStateStruct(reply)) {
        ShowDriverError(this);
    } else if (!reply.bytes.empty()) {
        const int highest = static_cast<int>(reply.bytes.size()) - 1;
        if (!ModemStateParser(reply.bytes, highest, CurrentModemState())) {
            // Fewer bytes than the base state: nothing of it can be shown.
            ShowMessage(this, kErrorBoxCaption, ReplyFormatErrorText(), Icon::Error, Buttons::Ok);
        } else {
            for (const ListingBlock &block : DetailedListing(CurrentModemState())) {
                AppendLine(block.label, 0, true);
                AppendLine(block.value, block.valueRgb, false);
                if (block.hasDescription)
                    AppendLine(block.description, block.descriptionRgb, false);
                AppendLine(QString(), 0, true);
            }
            Button4->setEnabled(true);
            Button5->setEnabled(true);
        }
    }
    if (opened)
        Driver().Close();
}

void TForm8::Button4Click() {
    const QString path =
        GetSaveFileName(this, QStringLiteral("(*.txt)|*.txt"),
                        ProposedSaveName(CurrentModemState().ID_DEV), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    const QString error = SaveViewFile(path, ViewLines());
    if (!error.isEmpty())
        ShowApplicationError(this, error);
}

void TForm8::Button5Click() {
    if (!LinkEstablished()) {
        ShowMessage(nullptr, QStringLiteral("Внимание!"),
                    QStringLiteral("Функция не доступна.\r\nНеобхдимо установить связь с ЭККР!"),
                    Icon::Warning, Buttons::Ok);
        return;
    }
    if (!CallPrintLines(PrintedReport(CurrentModemState())))
        ShowDriverError(this);
}
