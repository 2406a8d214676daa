#include "access_modes.h"

#include "console_state.h"
#include "receipt_logic.h"

#include <QSet>

namespace krv::console {

namespace {

QStringList Names(const char *list) {
    return QString::fromLatin1(list).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The controls a cashier may use; every other operation control is off.
const QSet<QString> &CashierControls() {
    static const QSet<QString> names = [] {
        const QStringList list = Names("Button40 "
                                       "Edit10 Button14 Button16 Edit29 "
                                       "BitBtn21 SpinEdit1 Edit13 Edit28 Button17 Button2 "
                                       "DateTimePicker2 Button5 Button4 Button12 Button18 "
                                       "Button19 Button20 Button21 Button1 Button54 "
                                       "BitBtn5 "
                                       "SpinEdit2 BitBtn8 Button48 "
                                       "DateTimePicker3 DateTimePicker4 Button28 Button29 Edit15 "
                                       "Edit16 Button30 Button33 CheckBox14 Edit37 "
                                       "Edit38 BitBtn15 BitBtn16 Memo1 BitBtn2 CheckBox6 "
                                       "CheckBox16 CheckBox12 BitBtn4 BitBtn3 BitBtn1 "
                                       "ComboBox2 Edit4 Edit5 CheckBox3 Button7 Button8");
        return QSet<QString>(list.begin(), list.end());
    }();
    return names;
}

void SetEnabled(ControlPlan &plan, const QString &name, std::optional<bool> enabled) {
    for (auto &entry : plan.enabled) {
        if (entry.first == name) {
            entry.second = enabled;
            return;
        }
    }
}

ControlPlan AllOperationControls(bool enabled) {
    ControlPlan plan;
    for (const QString &name : OperationControls())
        plan.enabled.emplace_back(name, enabled);
    return plan;
}

} // namespace

const std::vector<TabControls> &OperationControlsByTab() {
    static const std::vector<TabControls> tabs = {
        {QStringLiteral("Связь"), Names("Button40 ComboBox8 Button34")},
        {QStringLiteral("Операции"), Names("Edit6 Edit7 Edit8 ComboBox3 ComboBox9 Edit18 "
                                           "ComboBox10 Edit20 Edit19 Button38 CheckBox2 CheckBox4 "
                                           "CheckBox1 CheckBox5 CheckBox15 Button32 Button9 "
                                           "Button10 Button39 Edit11 ComboBox4 Button37 Button44 "
                                           "Button13 Edit39 Edit9 Button11 Edit40 BitBtn19 Edit41 "
                                           "BitBtn20 Edit10 Button14 Button16 Edit29")},
        {QStringLiteral("Доп. функции"),
         Names("BitBtn21 SpinEdit1 Edit13 Button17 Edit28 Button3 DateTimePicker1 Button2 "
               "DateTimePicker2 Button5 "
               "Button4 Button12 Button18 Button19 Button20 Button35 Button36 Button21 Button1 "
               "Button54 Button24 "
               "Button45 BitBtn9 BitBtn10 Edit31 CheckBox8 CheckBox9 BitBtn13 Button52")},
        {QStringLiteral("Программирование"),
         Names("Edit14 Button22 Edit12 Button15 Edit27 CheckBox10 CheckBox11 Button26 Edit42 "
               "Edit43 Edit44 Edit45 "
               "Button27 Button49 Button50 Button51 RadioGroup3 StringGrid1 BitBtn5 BitBtn6 "
               "BitBtn14 Edit26 "
               "RadioButton1 RadioButton2 BitBtn17 Button53 Button23")},
        {QStringLiteral("Артикулы"), Names("SpinEdit2 Edit30 ComboBox11 Edit32 BitBtn7 BitBtn8 "
                                           "ComboBox12 CheckBox7 Button48 Button41 Button42 "
                                           "Edit23 Button47")},
        {QStringLiteral("Отчеты"), Names("DateTimePicker3 DateTimePicker4 Button28 Button29 Edit15 "
                                         "Edit16 Button30 Button33 Edit37 Edit38 "
                                         "CheckBox14 BitBtn15 BitBtn16 Memo1 BitBtn2 CheckBox6 "
                                         "CheckBox16 CheckBox12 BitBtn4 BitBtn3 BitBtn1")},
        {QStringLiteral("Пароли"),
         Names("Edit1 Edit2 Edit3 ComboBox1 Button6 Edit21 BitBtn18 Button7 Edit4 ComboBox2 Edit5 "
               "Button8 CheckBox3 "
               "RadioGroup4 Edit22 Button43 RadioGroup1 Edit34 Edit35 Edit36 Button46")},
        {QStringLiteral(" Дамп "),
         Names("Memo2 SpinEdit3 Edit33 BitBtn11 BitBtn12 SpinEdit4 Edit17 Edit24 Button55")},
    };
    return tabs;
}

const QStringList &OperationControls() {
    static const QStringList all = [] {
        QStringList names;
        for (const TabControls &tab : OperationControlsByTab())
            names += tab.names;
        return names;
    }();
    return all;
}

std::optional<bool> ControlPlan::EnabledOf(const QString &name) const {
    if (name == QLatin1String("Button31"))
        return connectButtonEnabled;
    for (const auto &entry : enabled) {
        if (entry.first == name)
            return entry.second;
    }
    return std::nullopt;
}

ControlPlan DisabledPlan(bool keepCodeFields) {
    ControlPlan plan = AllOperationControls(false);
    plan.connectButtonEnabled = true;
    plan.vendorButtonVisible = false;
    // Kept code fields are switched off like the rest; only their text and
    // colour stay.
    plan.codeFields = keepCodeFields ? CodeFieldLook::Keep : CodeFieldLook::GreyedCleared;
    return plan;
}

ControlPlan FullSetPlan(const ModeContext &context) {
    ControlPlan plan = AllOperationControls(true);
    plan.connectButtonEnabled = false;
    // Enabled by their own fields (the fiscal number, the stress-test code).
    SetEnabled(plan, QStringLiteral("Button22"), std::nullopt);
    SetEnabled(plan, QStringLiteral("Button42"), std::nullopt);
    // Enabled once a taxpayer number is typed.
    SetEnabled(plan, QStringLiteral("BitBtn17"), false);

    const bool amountDiscount =
        DiscountValueField(context.discountTypeIndex) == DiscountField::Amount;
    SetEnabled(plan, QStringLiteral("Edit18"), !amountDiscount);
    SetEnabled(plan, QStringLiteral("Edit19"), amountDiscount);

    // A levy is only ever written with included tax: the compound-tax
    // window works only then, and the tax type stays while a group uses
    // the scheme.
    SetEnabled(plan, QStringLiteral("BitBtn14"), context.taxTypeIndex == 1);
    SetEnabled(plan, QStringLiteral("RadioGroup3"), !context.compoundGroupExists);

    SetEnabled(plan, QStringLiteral("Edit37"), !context.wholeRangeChecked);
    SetEnabled(plan, QStringLiteral("Edit38"), !context.wholeRangeChecked);
    // The printer's own cashier name is used while the box is ticked.
    SetEnabled(plan, QStringLiteral("Edit5"), !context.programmedNameChecked);

    // Barcodes print on the first model only.
    for (const char *name : {"Edit40", "Edit41", "BitBtn19", "BitBtn20"})
        SetEnabled(plan, QString::fromLatin1(name),
                   context.isFirstModel ? std::optional<bool>(true) : std::nullopt);

    plan.codeFields = CodeFieldLook::Working;
    if (context.accessMode == kSupervisorMode)
        plan.vendorButtonVisible = true;
    return plan;
}

ControlPlan CashierSetPlan(const ModeContext &context) {
    ControlPlan plan;
    const QSet<QString> &allowed = CashierControls();
    for (const QString &name : OperationControls())
        plan.enabled.emplace_back(name, allowed.contains(name));
    SetEnabled(plan, QStringLiteral("Edit37"), !context.wholeRangeChecked);
    SetEnabled(plan, QStringLiteral("Edit38"), !context.wholeRangeChecked);
    SetEnabled(plan, QStringLiteral("Edit5"), !context.programmedNameChecked);
    plan.connectButtonEnabled = false;
    plan.vendorButtonVisible = false;
    plan.codeFields = CodeFieldLook::Greyed;
    return plan;
}

ControlPlan PlanForMode(const ModeContext &context) {
    if (context.accessMode == kServiceMode || context.accessMode == kSupervisorMode)
        return FullSetPlan(context);
    return CashierSetPlan(context);
}

uint8_t AccessModeForCode(const QString &code) {
    if (code == QLatin1String("tallowbin"))
        return kServiceMode;
    if (code == QLatin1String("QLWkettle"))
        return kSupervisorMode;
    return kCashierMode;
}

QString ModeName(uint8_t accessMode) {
    switch (accessMode) {
    case kServiceMode:
        return QStringLiteral("СЕРВИС");
    case kSupervisorMode:
        return QStringLiteral("СУПЕРВИЗОР");
    default:
        return QStringLiteral("КАССИР");
    }
}

} // namespace krv::console
