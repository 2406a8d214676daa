#include "runner_dialogs.h"

#include "messages.h"
#include "program_icon.h"
#include "ui_strings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace krv::setup {

namespace {

QString Text(const std::string &text) {
    return QString::fromStdString(text);
}

void FillRows(QTreeWidget &list, const InstalledInstances &instances, bool newMode) {
    list.clear();
    if (newMode) {
        list.setColumnCount(1);
        list.setHeaderLabels({Text(LoadUiString(ui_text::kInstanceColumn))});
        list.setColumnWidth(0, 140);
    } else {
        list.setColumnCount(3);
        list.setHeaderLabels({Text(LoadUiString(ui_text::kProductNameColumn)),
                              Text(LoadUiString(ui_text::kInstanceVersionColumn)),
                              Text(LoadUiString(ui_text::kInstallPathColumn))});
        list.setColumnWidth(0, 140);
        list.setColumnWidth(1, 50);
        list.setColumnWidth(2, 150);
    }
    for (const InstanceRow &row : InstanceDialogRows(instances, newMode)) {
        QStringList cells;
        for (const std::string &cell : row.cells)
            cells << Text(cell);
        auto *item = new QTreeWidgetItem(&list, cells);
        item->setData(0, Qt::UserRole, row.record);
    }
    list.header()->setStretchLastSection(true);
    if (list.topLevelItemCount() > 0) {
        list.setCurrentItem(list.topLevelItem(0));
        list.topLevelItem(0)->setSelected(true);
    }
}

} // namespace

std::optional<std::string> ShowPackagePasswordDialog(const std::string &caption) {
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(Text(caption));
    SetProgramIcon(dialog);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Password:")));
    auto *edit = new QLineEdit;
    edit->setEchoMode(QLineEdit::Password);
    layout->addWidget(edit);
    auto *show = new QCheckBox(QStringLiteral("Show password"));
    layout->addWidget(show);
    QObject::connect(show, &QCheckBox::toggled, edit, [edit](bool on) {
        edit->setEchoMode(on ? QLineEdit::Normal : QLineEdit::Password);
        edit->setFocus();
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return edit->text().toStdString();
}

int InstanceSelectionDialog(InstalledInstances &instances, const std::string &caption,
                            const std::string &productName) {
    const bool newPossible = NewInstancePossible(instances);
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(Text(caption));
    SetProgramIcon(dialog);
    auto *layout = new QVBoxLayout(&dialog);
    auto *newRadio = new QRadioButton(QStringLiteral("Установка нового экземпляра."));
    auto *maintainRadio =
        new QRadioButton(QStringLiteral("Поддержка или обновления уже установленной копии:"));
    auto *list = new QTreeWidget;
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto *note = new QLabel(Text(FormatUiString(ui_text::kAlreadyInstalled, productName)));
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addWidget(newRadio);
    layout->addWidget(maintainRadio);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);

    newRadio->setEnabled(newPossible || instances.upgradeOffered);
    (newPossible ? newRadio : maintainRadio)->setChecked(true);
    FillRows(*list, instances, newPossible);
    ok->setEnabled(list->currentItem() != nullptr);
    QObject::connect(newRadio, &QRadioButton::clicked, list,
                     [list, &instances] { FillRows(*list, instances, true); });
    QObject::connect(maintainRadio, &QRadioButton::clicked, list,
                     [list, &instances] { FillRows(*list, instances, false); });
    QObject::connect(list, &QTreeWidget::itemSelectionChanged, ok,
                     [list, ok] { ok->setEnabled(!list->selectedItems().isEmpty()); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        const auto selected = list->selectedItems();
        if (selected.isEmpty())
            return;
        AcceptInstanceRow(instances, newRadio->isChecked(),
                          list->indexOfTopLevelItem(selected.front()));
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return dialog.exec() == QDialog::Accepted ? 1 : 2;
}

} // namespace krv::setup
