// The control sets of the link states and access modes, and the login.
#include "support_console.h"

#include "access_modes.h"
#include "console_state.h"
#include "control_plan_view.h"
#include "password_dialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QStyle>

using namespace krv::console;

namespace {

QSet<QString> Set(const char *names) {
    const QStringList list = QString::fromLatin1(names).split(' ', Qt::SkipEmptyParts);
    return QSet<QString>(list.begin(), list.end());
}

// The controls a cashier works with, tab by tab.
const QSet<QString> kCashier = Set("Button40 Edit10 Button14 Button16 Edit29 BitBtn21 SpinEdit1 "
                                   "Edit13 Edit28 Button17 Button2 DateTimePicker2 "
                                   "Button5 Button4 Button12 Button18 Button19 Button20 Button21 "
                                   "Button1 Button54 BitBtn5 SpinEdit2 BitBtn8 Button48 "
                                   "DateTimePicker3 DateTimePicker4 Button28 Button29 Edit15 "
                                   "Edit16 Button30 Button33 CheckBox14 Edit37 Edit38 "
                                   "BitBtn15 BitBtn16 Memo1 BitBtn2 CheckBox6 CheckBox16 "
                                   "CheckBox12 BitBtn4 BitBtn3 BitBtn1 ComboBox2 Edit4 Edit5 "
                                   "CheckBox3 Button7 Button8");

std::optional<bool> On(const ControlPlan &plan, const char *name) {
    return plan.EnabledOf(QString::fromLatin1(name));
}

} // namespace

TEST(ControlLists, EveryTabHasItsOperationControlsOnce) {
    const auto &tabs = OperationControlsByTab();
    ASSERT_EQ(tabs.size(), 8u);
    const int expected[] = {3, 35, 29, 27, 13, 21, 21, 9};
    for (size_t i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(tabs[i].names.size(), expected[i]) << tabs[i].tab.toStdString();
    EXPECT_EQ(tabs[7].tab, QStringLiteral(" Дамп "));
    const QStringList &all = OperationControls();
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), all.size()) << "a control listed twice";
    for (const char *always :
         {"ComboBox6", "ComboBox7", "CheckBox13", "Button56", "Button31", "Button57"})
        EXPECT_FALSE(all.contains(QString::fromLatin1(always))) << always;
    for (const QString &name : kCashier)
        EXPECT_TRUE(all.contains(name)) << name.toStdString();
}

TEST(ControlPlans, CashierSetEnablesExactlyItsTable) {
    for (bool wholeRange : {false, true}) {
        ModeContext context{kCashierMode, true, 1, wholeRange};
        const ControlPlan plan = CashierSetPlan(context);
        for (const QString &name : OperationControls()) {
            bool expected = kCashier.contains(name);
            if (name == QLatin1String("Edit37") || name == QLatin1String("Edit38"))
                expected = !wholeRange;
            EXPECT_EQ(plan.EnabledOf(name), expected)
                << name.toStdString() << " wholeRange " << wholeRange;
        }
        EXPECT_EQ(plan.EnabledOf(QStringLiteral("Button31")), false);
        EXPECT_EQ(plan.vendorButtonVisible, false);
        EXPECT_EQ(plan.codeFields, CodeFieldLook::Greyed);
    }
    // The discount group stays off whatever the discount type.
    for (int type = 0; type < 4; ++type) {
        const ControlPlan plan = CashierSetPlan({kCashierMode, true, type, false});
        for (const char *name : {"ComboBox9", "ComboBox10", "Edit18", "Edit19", "Edit20",
                                 "Button38", "ComboBox8", "Button34"})
            EXPECT_EQ(On(plan, name), false) << name << " type " << type;
    }
}

TEST(ControlPlans, FullSetExceptions) {
    for (uint8_t mode : {kServiceMode, kSupervisorMode}) {
        for (bool firstModel : {true, false}) {
            for (int type = 0; type < 4; ++type) {
                for (bool wholeRange : {false, true}) {
                    const ControlPlan plan = FullSetPlan({mode, firstModel, type, wholeRange});
                    const bool amount = type == 1 || type == 3;
                    EXPECT_EQ(On(plan, "Button31"), false);
                    EXPECT_EQ(On(plan, "Button22"), std::nullopt);
                    EXPECT_EQ(On(plan, "Button42"), std::nullopt);
                    EXPECT_EQ(On(plan, "BitBtn17"), false);
                    EXPECT_EQ(On(plan, "Edit18"), !amount);
                    EXPECT_EQ(On(plan, "Edit19"), amount);
                    EXPECT_EQ(On(plan, "Edit37"), !wholeRange);
                    EXPECT_EQ(On(plan, "Edit38"), !wholeRange);
                    for (const char *barcode : {"Edit40", "Edit41", "BitBtn19", "BitBtn20"})
                        EXPECT_EQ(On(plan, barcode),
                                  firstModel ? std::optional<bool>(true) : std::nullopt);
                    EXPECT_EQ(plan.codeFields, CodeFieldLook::Working);
                    EXPECT_EQ(plan.vendorButtonVisible,
                              mode == kSupervisorMode ? std::optional<bool>(true) : std::nullopt);
                    const QSet<QString> special =
                        Set("Button22 Button42 BitBtn17 Edit18 Edit19 Edit37 Edit38 Edit40 "
                            "Edit41 BitBtn19 BitBtn20");
                    for (const QString &name : OperationControls()) {
                        if (!special.contains(name)) {
                            EXPECT_EQ(plan.EnabledOf(name), true) << name.toStdString();
                        }
                    }
                }
            }
        }
    }
}

TEST(ControlPlans, CashierNameFieldFollowsTheProgrammedNameBox) {
    for (uint8_t mode : {kCashierMode, kServiceMode, kSupervisorMode}) {
        for (bool programmedName : {false, true}) {
            ModeContext context{mode, true, 0, false};
            context.programmedNameChecked = programmedName;
            const ControlPlan plan = PlanForMode(context);
            EXPECT_EQ(On(plan, "Edit5"), !programmedName) << int(mode);
            EXPECT_EQ(On(plan, "CheckBox3"), true) << int(mode);
        }
    }
}

TEST(ControlPlans, ModeChoosesTheSet) {
    EXPECT_EQ(PlanForMode({kServiceMode, true, 0, false}).EnabledOf("Button6"), true);
    EXPECT_EQ(PlanForMode({kCashierMode, true, 0, false}).EnabledOf("Button6"), false);
    EXPECT_EQ(PlanForMode({7, true, 0, false}).EnabledOf("Button6"),
              false); // unknown mode: cashier
}

TEST(ControlPlans, AppliedToWidgetsByName) {
    auto root = krv::test::MakeControlTree();
    auto *fiscal = root->findChild<QLineEdit *>(QStringLiteral("Edit14"));
    auto *stress = root->findChild<QLineEdit *>(QStringLiteral("Edit23"));
    auto *vendor = root->findChild<QWidget *>(QStringLiteral("Button57"));
    auto *connect = root->findChild<QWidget *>(QStringLiteral("Button31"));
    auto *fiscalize = root->findChild<QWidget *>(QStringLiteral("Button22"));
    ApplyControlPlan(*root, DisabledPlan()); // as the layout starts
    fiscal->setText(QStringLiteral("1234567890"));
    stress->setText(QStringLiteral("PLO"));

    ApplyControlPlan(*root, FullSetPlan({kSupervisorMode, false, 0, false}));
    EXPECT_FALSE(connect->isEnabled());
    EXPECT_TRUE(vendor->isVisibleTo(root.get()));
    EXPECT_TRUE(fiscal->isEnabled());
    EXPECT_FALSE(fiscalize->isEnabled()); // left to the fiscal-number field
    EXPECT_FALSE(root->findChild<QWidget *>(QStringLiteral("BitBtn20"))
                     ->isEnabled()); // second model: left off
    EXPECT_TRUE(root->findChild<QWidget *>(QStringLiteral("Button55"))->isEnabled());

    // A failed open switches the code fields off but keeps their text and colour.
    const QColor working = fiscal->palette().color(QPalette::Base);
    ApplyControlPlan(*root, DisabledPlan(true));
    EXPECT_TRUE(connect->isEnabled());
    EXPECT_FALSE(vendor->isVisibleTo(root.get()));
    EXPECT_FALSE(root->findChild<QWidget *>(QStringLiteral("Button55"))->isEnabled());
    EXPECT_EQ(fiscal->text(), QStringLiteral("1234567890"));
    EXPECT_EQ(stress->text(), QStringLiteral("PLO"));
    EXPECT_FALSE(fiscal->isEnabled());
    EXPECT_FALSE(stress->isEnabled());
    EXPECT_EQ(fiscal->palette().color(QPalette::Base), working);

    ApplyControlPlan(*root, CashierSetPlan({kCashierMode, true, 0, false}));
    EXPECT_FALSE(fiscal->isEnabled());
    EXPECT_EQ(fiscal->text(), QStringLiteral("1234567890"));
    const QColor grey = fiscal->palette().color(QPalette::Base);

    // Disconnecting empties them.
    ApplyControlPlan(*root, DisabledPlan());
    EXPECT_TRUE(fiscal->text().isEmpty());
    EXPECT_TRUE(stress->text().isEmpty());
    EXPECT_FALSE(stress->isEnabled());
    EXPECT_EQ(fiscal->palette().color(QPalette::Base), grey);
    ApplyControlPlan(*root, FullSetPlan({kServiceMode, true, 0, false}));
    EXPECT_NE(fiscal->palette().color(QPalette::Base), grey);
    EXPECT_FALSE(vendor->isVisibleTo(root.get())); // service mode leaves it hidden
}

TEST(Login, CodesAreComparedExactly) {
    EXPECT_EQ(AccessModeForCode(QStringLiteral("tallowbin")), kServiceMode);
    EXPECT_EQ(AccessModeForCode(QStringLiteral("QLWkettle")), kSupervisorMode);
    for (const char *code :
         {"TALLOWBIN", "Tallowbin", "qlwkettle", "tallowbin ", " tallowbin", "tallowbi", "", "x"})
        EXPECT_EQ(AccessModeForCode(QString::fromLatin1(code)), kCashierMode) << code;
    EXPECT_EQ(ModeName(kCashierMode), QStringLiteral("КАССИР"));
    EXPECT_EQ(ModeName(kServiceMode), QStringLiteral("СЕРВИС"));
    EXPECT_EQ(ModeName(kSupervisorMode), QStringLiteral("СУПЕРВИЗОР"));
}

class LoginWindow : public krv::test::ConsoleTest {};

TEST_F(LoginWindow, OkCancelAndFrameSetTheMode) {
    TForm3 login;
    EXPECT_EQ(login.windowTitle(), QStringLiteral("Регистрация"));
    auto *code = login.findChild<QLineEdit *>(QStringLiteral("Edit1"));
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->maxLength(), 15);
    EXPECT_EQ(code->echoMode(), QLineEdit::Password);
    EXPECT_EQ(code->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, code),
              int('*'));

    const auto typeAndPress = [](const char *text, const char *button) {
        return [=](QWidget &window) {
            window.findChild<QLineEdit *>(QStringLiteral("Edit1"))
                ->setText(QString::fromLatin1(text));
            window.findChild<QPushButton *>(QString::fromLatin1(button))->click();
        };
    };
    struct Case {
        std::function<void(QWidget &)> action;
        uint8_t mode;
    } cases[] = {
        {typeAndPress("QLWkettle", "BitBtn1"), kSupervisorMode},
        {typeAndPress("tallowbin", "BitBtn1"), kServiceMode},
        {typeAndPress("wrong", "BitBtn1"), kCashierMode},
        {typeAndPress("tallowbin", "BitBtn2"), kCashierMode},
        {nullptr, kCashierMode}, // closed by its frame
    };
    for (const Case &c : cases) {
        State().AccessMode = 9;
        if (c.action)
            script->modalActions.push_back(c.action);
        ExecModal(login, nullptr);
        EXPECT_EQ(State().AccessMode, c.mode);
        EXPECT_FALSE(login.isVisible());
    }
    // Every showing starts empty.
    script->modalActions.push_back([](QWidget &window) {
        EXPECT_TRUE(window.findChild<QLineEdit *>(QStringLiteral("Edit1"))->text().isEmpty());
    });
    ExecModal(login, nullptr);
}
