// The language dialog (template 217): a list of the available languages by
// name, the suggested one selected, OK and Cancel.
#include "runner_dialogs.h"

#include "messages.h"
#include "program_icon.h"
#include "ui_strings.h"

#include <setup_locale.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <mutex>

namespace krv::setup {

namespace {

constexpr uint32_t kLanguageDialogId = 217;
constexpr uint32_t kPromptControl = 0xFFFF;

QString DialogText(uint32_t control) {
    return QString::fromStdString(LoadDialogText(kLanguageDialogId, control));
}

} // namespace

LanguageDialogResult ShowLanguageDialog(const std::vector<uint16_t> &available, uint16_t suggested,
                                        const std::string &caption) {
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(caption.empty() ? DialogText(0) : QString::fromStdString(caption));
    SetProgramIcon(dialog);
    auto *layout = new QVBoxLayout(&dialog);
    auto *row = new QHBoxLayout;
    auto *icon = new QLabel(&dialog);
    icon->setObjectName("1044");
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    row->addWidget(icon);
    row->addWidget(new QLabel(DialogText(kPromptControl), &dialog), 1);
    layout->addLayout(row);
    auto *list = new QComboBox(&dialog);
    int selected = -1;
    for (uint16_t id : available) {
        const std::string name = platform::LocalizedLanguageName(id);
        list->addItem(QString::fromStdString(name.empty() ? std::to_string(id) : name),
                      QVariant(uint(id)));
        if (id == suggested)
            selected = list->count() - 1;
    }
    list->setCurrentIndex(selected >= 0 ? selected : 0);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(DialogText(1));
    buttons->button(QDialogButtonBox::Cancel)->setText(DialogText(2));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.raise();
    dialog.activateWindow();
    LanguageDialogResult out;
    if (dialog.exec() == QDialog::Accepted && list->currentIndex() >= 0) {
        out.result = 1;
        out.selected = static_cast<uint16_t>(list->currentData().toUInt());
    }
    return out;
}

} // namespace krv::setup
