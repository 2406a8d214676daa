// The tab "Артикулы" of the main window: one article written or read, the
// article-memory counters, bulk programming of 10000 articles, the gate of
// the stress test and the vendor button.
//
// Bulk programming runs on this thread and lets the window handle its
// pending events after every article; its run state is the caption of its
// button, so a second click, handled inside the loop, stops it.
#include "main_window.h"

#include "article_logic.h"
#include "console_state.h"
#include "console_windows.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "stress_test_window.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace krv::console;

namespace {} // namespace

// ---- One article ---------------------------------------------------------------------

void TForm1::BitBtn7Click() {
    ArticleFields fields;
    fields.name = FieldText("Edit30");
    fields.price = FieldText("Edit32");
    fields.taxGroup = ItemIndex("ComboBox11");
    fields.decimals = ItemIndex("ComboBox12");
    fields.isReturn = Checked("CheckBox7");
    if (const auto *code = Control<QSpinBox>(QStringLiteral("SpinEdit2")))
        fields.code = code->value();
    const ArticleBuild build = BuildArticleRequest(fields, LocaleDecimalSeparator());
    if (!build.ok) {
        ShowInputError(build.error);
        return;
    }
    if (!CallProgramArticle(State().ProgrammingPassword, build.request)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, kInformationBoxCaption,
                QStringLiteral("Операция записи описания товара успешно завершена!"),
                Icon::Information, Buttons::Ok);
}

void TForm1::BitBtn8Click() {
    auto *code = Control<QSpinBox>(QStringLiteral("SpinEdit2"));
    const int64_t article = code ? code->value() : 0;
    ArticleInfo info;
    if (!CallGetArticleInfo(article, info)) {
        ShowDriverError(this);
        return;
    }
    if (info.nameLength > kMaxReadArticleName) {
        ShowInputError(QStringLiteral("Длина наименования превышает допустимую длину!"));
        return;
    }
    const QChar separator = LocaleDecimalSeparator();
    if (auto *name = Control<QLineEdit>(QStringLiteral("Edit30")))
        name->setText(info.name);
    if (auto *decimals = Control<QComboBox>(QStringLiteral("ComboBox12")))
        decimals->setCurrentIndex(info.salesQtyFlags);
    if (auto *price = Control<QLineEdit>(QStringLiteral("Edit32")))
        price->setText(FormatHundredths(info.price, separator));
    if (auto *group = Control<QComboBox>(QStringLiteral("ComboBox11")))
        group->setCurrentIndex(info.taxGroup);
    if (code)
        code->setValue(static_cast<int>(article));
    ShowMessage(this, TurnoverCaption(info.name), TurnoverText(info, separator), Icon::Information,
                Buttons::Ok);
}

void TForm1::Button48Click() {
    std::array<uint8_t, 4> bytes{};
    uint8_t length = 0;
    if (!CallReadArticleCounters(bytes, length)) {
        ShowDriverError(this);
        return;
    }
    if (length != kArticleCountersLength) {
        ShowInputError(ReplyFormatErrorText());
        return;
    }
    ShowMessage(this, QStringLiteral("Память артикулов!"), ArticleCountersText(bytes),
                Icon::Information, Buttons::Ok);
}

// ---- Bulk programming ------------------------------------------------------------------

void TForm1::Button41Click() {
    auto *button = Control<QPushButton>(QStringLiteral("Button41"));
    if (!button)
        return;
    // A press while the loop runs is the operator's "Стоп!": it only flips
    // the session's flag, which the running loop looks at after each article.
    ConsoleState &state = State();
    state.BulkProgrammingRunning = !state.BulkProgrammingRunning;
    button->setText(state.BulkProgrammingRunning ? BulkRunningCaption() : BulkIdleCaption());
    for (int n = 1; n <= kBulkArticleCount; ++n) {
        if (!state.BulkProgrammingRunning) {
            // Stopped: the run that stopped it reports, the one it stopped
            // ends without a word.
            if (n == 1)
                ShowMessage(this, kInformationBoxCaption, BulkInterruptedText(m_bulkArticleCounter),
                            Icon::Information, Buttons::Ok);
            SetStatusPanel(1, QString());
            return;
        }
        SetStatusPanel(1, BulkProgressText(n));
        if (!CallProgramArticle(state.ProgrammingPassword, BulkArticleRequest(n))) {
            state.BulkProgrammingRunning = false;
            button->setText(BulkIdleCaption());
            SetStatusPanel(1, QString());
            ShowDriverError(this);
            return;
        }
        m_bulkArticleCounter = n;
        QCoreApplication::processEvents();
    }
    state.BulkProgrammingRunning = false;
    button->setText(BulkIdleCaption());
    ShowMessage(this, kInformationBoxCaption, BulkDoneText(m_bulkArticleCounter), Icon::Information,
                Buttons::Ok);
    SetStatusPanel(1, QString());
}

bool TForm1::StopRunningLoops() {
    bool running = false;
    if (State().BulkProgrammingRunning) {
        // The same as the operator's "Стоп!": the loop reports where it stopped.
        Button41Click();
        running = true;
    }
    if (auto *stress = qobject_cast<TForm2 *>(Windows().Form2.data());
        stress && State().StressTestRunning) {
        stress->Button2Click();
        running = true;
    }
    return running;
}

// ---- Stress test and vendor window --------------------------------------------------------

void TForm1::Edit23Change() {
    if (QWidget *stress = Control(QStringLiteral("Button42")))
        stress->setEnabled(IsStressAccessCode(FieldText("Edit23")));
}

void TForm1::Button42Click() {
    if (QWidget *stress = Windows().Form2)
        ExecModal(*stress, this);
}

void TForm1::Button57Click() {
    if (QWidget *vendor = Windows().Form9)
        ExecModal(*vendor, this);
}
