// The toolkit's own texts in the console, from the toolkit's Russian
// translation: the buttons of every kind of box, the dump's real question
// and save dialog, an edit's context menu; on a machine without the
// translation the console keeps the English texts and says nothing.
#include "support_console.h"

#include "message_layer.h"
#include "toolkit_translation.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace krv::console;

namespace {

// A text as shown, without its shortcut mark and shortcut key.
QString Shown(QString text) {
    return text.section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&'));
}

// The box's buttons in a fixed order.
QStringList ButtonTexts(const QMessageBox &box) {
    QStringList texts;
    for (QMessageBox::StandardButton button :
         {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
        if (QAbstractButton *shown = box.button(button))
            texts << Shown(shown->text());
    return texts;
}

// What the toolkit's file dialog shows: the three labels, its two buttons and
// the tip of its Back button.
QStringList FileDialogTexts(const QFileDialog &dialog) {
    QStringList texts;
    for (const char *name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
        if (const auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(name)))
            texts << Shown(label->text());
    if (const auto *buttons = dialog.findChild<QDialogButtonBox *>())
        for (const QAbstractButton *button : buttons->buttons())
            texts << Shown(button->text());
    if (const auto *back = dialog.findChild<QToolButton *>(QStringLiteral("backButton")))
        texts << back->toolTip();
    return texts;
}

const QStringList kRussianSaveDialog = {
    "Перейти к:", "Имя файла:", "Типы файлов:", "Сохранить", "Отмена", "Назад"};

class ToolkitTexts : public ::testing::Test {
  protected:
    void SetUp() override {
        // The console's translation is installed by its look (as at start).
        ASSERT_TRUE(QFile::exists(krv::platform::ToolkitTranslationsFolder() +
                                  QStringLiteral("/qtbase_ru.qm")))
            << "the toolkit's Russian texts are missing: scripts/install-deps.sh installs "
               "qt6-translations-l10n";
    }
};

TEST_F(ToolkitTexts, EveryKindOfBoxAndTheContextMenuSpeakRussian) {
    struct Case {
        Buttons buttons;
        QStringList texts;
    };
    const Case cases[] = {
        {Buttons::OkCancel, {"OK", "Отмена"}},
        {Buttons::YesNoDefaultNo, {"Да", "Нет"}},
        {Buttons::YesNoCancel, {"Да", "Нет", "Отмена"}},
    };
    for (const Case &c : cases) {
        const auto box = MakeMessageBox(nullptr, QStringLiteral("Внимание!"),
                                        QStringLiteral("Текст"), Icon::Question, c.buttons);
        EXPECT_EQ(ButtonTexts(*box), c.texts) << static_cast<int>(c.buttons);
    }

    QLineEdit edit;
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList items;
    for (const QAction *action : menu->actions())
        if (!action->isSeparator())
            items << Shown(action->text());
    EXPECT_EQ(items, (QStringList{"Отменить действие", "Повторить действие", "Вырезать",
                                  "Копировать", "Вставить", "Удалить", "Выделить всё"}));
}

// The dump's range read with the real boxes: its question and the save
// dialog, as the operator meets them.
class ToolkitTextsOfTheDump : public krv::test::ConnectedConsoleTest {};

TEST_F(ToolkitTextsOfTheDump, QuestionAndSaveDialogSpeakRussian) {
    script.reset(); // real boxes and dialogs from here on
    QStringList questionButtons, dialogTexts;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (!window->isVisible())
                continue;
            if (auto *box = qobject_cast<QMessageBox *>(window)) {
                questionButtons = ButtonTexts(*box);
                box->button(QMessageBox::Yes)->click();
                return;
            }
            if (auto *dialog = qobject_cast<QFileDialog *>(window)) {
                dialogTexts = FileDialogTexts(*dialog);
                dialog->reject();
                return;
            }
        }
    });
    watcher.start();
    SetText("Edit17", QStringLiteral("0000"));
    SetText("Edit24", QStringLiteral("0010"));
    form->Button55Click();
    watcher.stop();
    EXPECT_EQ(questionButtons, (QStringList{"Да", "Нет"}));
    EXPECT_EQ(dialogTexts, kRussianSaveDialog);
}

// Without the translation (an empty folder here) the buttons stay English
// and nothing is said; the Russian ones come back with it.
TEST_F(ToolkitTexts, WithoutTheTranslationTheButtonsStayEnglishSilently) {
    const QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(krv::platform::UseToolkitLanguage(russian, empty.path()));
    const auto english =
        MakeMessageBox(nullptr, QString(), QString(), Icon::None, Buttons::YesNoCancel);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ButtonTexts(*english), (QStringList{"Yes", "No", "Cancel"}));

    EXPECT_TRUE(krv::platform::UseToolkitLanguage(russian));
    const auto back = MakeMessageBox(nullptr, QString(), QString(), Icon::None, Buttons::OkCancel);
    EXPECT_EQ(ButtonTexts(*back), (QStringList{"OK", "Отмена"}));
}

} // namespace
