#include "main_window.h"

#include "access_modes.h"
#include "connection.h"
#include "console_state.h"
#include "console_windows.h"
#include "control_plan_view.h"
#include "driver_error_box.h"
#include "header_picture.h"
#include "main_window_layout.h"
#include "message_layer.h"
#include "widgets.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTableWidget>

using namespace krv::console;

namespace {

constexpr int kPortCount = 256;

void SetGridCell(QTableWidget *grid, int row, int column, const QString &text) {
    if (!grid || row >= grid->rowCount() || column >= grid->columnCount())
        return;
    if (QTableWidgetItem *item = grid->item(row, column))
        item->setText(text);
    else
        grid->setItem(row, column, new QTableWidgetItem(text));
}

} // namespace

TForm1::TForm1(QWidget *parent, const QString &driverLibrary)
    : QMainWindow(parent), m_driverLibrary(driverLibrary) {
    // The layout sets the caption, the fixed size and every control.
    BuildForm1Layout(*this);
    for (int i = 0; i < 2; ++i)
        m_panels[i] = krv::console::StatusPanel(*this, i);
    if (auto *image = Control<QLabel>(QStringLiteral("Image1")))
        ShowHeaderPicture(*image);
    ConnectHandlersByName(*this, *this);
    // A port found gone after a failed call closes the link on screen too.
    SetLinkLostHandler([this] { EnterClosedState(); });
    if (QScreen *screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormCreate();
}

TForm1::~TForm1() {
    SetLinkLostHandler({});
}

QLabel *TForm1::StatusPanel(int index) const {
    return (index == 0 || index == 1) ? m_panels[index] : nullptr;
}

void TForm1::SetStatusPanel(int index, const QString &text) {
    if (QLabel *panel = StatusPanel(index)) {
        panel->setText(text);
        krv::console::FitStatusPanels(*this);
    }
}

QString TForm1::StatusPanelText(int index) const {
    const QLabel *panel = StatusPanel(index);
    return panel ? panel->text() : QString();
}

// ---- Start-up and close ----------------------------------------------------

void TForm1::FormCreate() {
    ConsoleState &state = State();

    state.DriverLibraryHandle = LoadDriverLibrary(m_driverLibrary);
    const VersionVerdict verdict = CheckDriverVersion(state.DriverLibraryHandle);
    if (verdict != VersionVerdict::Accepted) {
        ShowMessage(this, kErrorBoxCaption, VersionRefusalText(verdict), Icon::Error, Buttons::Ok);
        // The rest of start-up still runs; the program ends before its
        // message loop.
        state.TerminationRequested = true;
    }

    if (auto *ports = Control<QComboBox>(QStringLiteral("ComboBox6"))) {
        ports->clear();
        for (int port = 1; port <= kPortCount; ++port)
            ports->addItem(QStringLiteral("COM%1").arg(port));
        ports->setCurrentIndex(0);
    }

    const QDateTime now = QDateTime::currentDateTime();
    for (const char *name :
         {"DateTimePicker1", "DateTimePicker2", "DateTimePicker3", "DateTimePicker4"}) {
        if (auto *picker = Control<QDateTimeEdit>(QString::fromLatin1(name)))
            picker->setDateTime(now);
    }

    for (const char *name : {"Button22", "Edit11"}) {
        if (QWidget *widget = Control(QString::fromLatin1(name)))
            widget->setEnabled(false);
    }

    state.ReportPassword = 0;
    state.ProgrammingPassword = 0;
    state.FiscalizationWizardActive = false;

    const QChar sep = LocaleDecimalSeparator();
    const auto setText = [this](const char *name, const QString &text) {
        if (auto *edit = Control<QLineEdit>(QString::fromLatin1(name)))
            edit->setText(text);
    };
    setText("Edit6", QStringLiteral("Товар №1"));
    setText("Edit30", QStringLiteral("Товар №1"));
    if (auto *grid = Control<QTableWidget>(QStringLiteral("StringGrid1"))) {
        SetGridCell(grid, 0, 0, QStringLiteral("Группа"));
        const char16_t *groups[] = {u"Группа А", u"Группа Б", u"Группа В", u"Группа Г",
                                    u"Группа Д"};
        for (int row = 1; row <= 5; ++row)
            SetGridCell(grid, row, 0, QString::fromUtf16(groups[row - 1]));
        SetGridCell(grid, 0, 1, QStringLiteral("Ставка (%)"));
        SetGridCell(grid, 1, 1, QStringLiteral("20") + sep + QStringLiteral("00"));
        SetGridCell(grid, 2, 1, QStringLiteral("0") + sep + QStringLiteral("00"));
    }
    setText("Edit7", QStringLiteral("1") + sep + QStringLiteral("000"));
    for (const char *name : {"Edit8", "Edit10", "Edit11", "Edit19", "Edit29", "Edit32"})
        setText(name, QStringLiteral("0") + sep + QStringLiteral("00"));

    state.StartupArgument = StartupArgumentFrom(QCoreApplication::arguments());
}

void TForm1::FormClose() {
    if (m_closed)
        return;
    m_closed = true;
    ConsoleState &state = State();
    if (state.Connected) {
        Driver().Close(); // the program ends either way
        state.Connected = false;
    }
    ReleaseDriverLibrary(state.DriverLibraryHandle);
    state.DriverLibraryHandle = nullptr;
}

void TForm1::closeEvent(QCloseEvent *event) {
    // A loop running on this thread would go on printing with the link
    // closed under it: the close stops it and is refused this time.
    if (StopRunningLoops()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    // Closing the main window ends the program, secondary windows included.
    QCoreApplication::quit();
}

// ---- The link --------------------------------------------------------------

int TForm1::SelectedPort() const {
    const auto *ports = Control<QComboBox>(QStringLiteral("ComboBox6"));
    return ports ? ports->currentIndex() + 1 : 1;
}

void TForm1::ApplyModel(const QString &designation) {
    ConsoleState &state = State();
    const auto setVisible = [this](const char *name, bool visible) {
        if (QWidget *widget = Control(QString::fromLatin1(name)))
            widget->setVisible(visible);
    };
    if (IsSecondModel(designation)) {
        setVisible("GroupBox29", true);
        setVisible("GroupBox30", false);
        setVisible("CheckBox15", false);
        if (auto *barcode = Control<QCheckBox>(QStringLiteral("CheckBox15")))
            barcode->setChecked(false);
        state.LogoMaxWidth = kSecondModelLogoWidth;
        state.LogoMaxHeight = kSecondModelLogoHeight;
        state.IsFirstModel = 0;
    } else if (designation.contains(QStringLiteral("МВ-21"))) {
        setVisible("GroupBox29", false);
        setVisible("GroupBox30", true);
        setVisible("CheckBox15", true);
        state.LogoMaxWidth = kFirstModelLogoWidth;
        state.LogoMaxHeight = kFirstModelLogoHeight;
        state.IsFirstModel = -1;
    }
}

void TForm1::EnableControlsForMode() {
    ConsoleState &state = State();
    const auto *rates = Control<QComboBox>(QStringLiteral("ComboBox7"));
    const QString rateText = rates ? rates->currentText() : QString();
    state.Connected = true;
    state.LinkLost = false;
    if (QWidget *connect = Control(QStringLiteral("Button31")))
        connect->setEnabled(false);

    if (state.AccessMode == kServiceMode || state.AccessMode == kSupervisorMode) {
        SetStatusPanel(0, OpenPanelText(rateText, state.AccessMode));
        if (state.AccessMode == kServiceMode && !IsFreeArgument(state.StartupArgument))
            ShowMessage(this, QStringLiteral("Внимание"),
                        QStringLiteral("Программа работает в сервисном режиме! "), Icon::Warning,
                        Buttons::Ok);
        if (state.AccessMode == kSupervisorMode)
            ShowMessage(this, QStringLiteral("Внимание"),
                        QStringLiteral("Программа работает в режиме супервизора! "), Icon::Warning,
                        Buttons::Ok);
    } else {
        SetStatusPanel(0, OpenPanelText(rateText, kCashierMode));
        ShowMessage(
            this, QStringLiteral("Режим кассира"),
            QStringLiteral(
                " Программа работает режиме кассира!\r\nК некоторым функциям доступ ограничен!"),
            Icon::Information, Buttons::Ok);
    }
    ReadPaymentFormNames();
    ApplyControlsForMode();
}

ModeContext TForm1::CurrentModeContext() const {
    ModeContext context;
    context.accessMode = State().AccessMode;
    context.isFirstModel = State().IsFirstModel != 0;
    if (const auto *discountType = Control<QComboBox>(QStringLiteral("ComboBox9")))
        context.discountTypeIndex = discountType->currentIndex();
    if (const auto *wholeRange = Control<QCheckBox>(QStringLiteral("CheckBox14")))
        context.wholeRangeChecked = wholeRange->isChecked();
    if (const auto *programmedName = Control<QCheckBox>(QStringLiteral("CheckBox3")))
        context.programmedNameChecked = programmedName->isChecked();
    if (const auto *taxType = Control<RadioGroup>(QStringLiteral("RadioGroup3")))
        context.taxTypeIndex = taxType->itemIndex();
    context.compoundGroupExists = AnyCompoundGroup(State().CompoundTaxWorking);
    return context;
}

void TForm1::ApplyControlsForMode() {
    ApplyControlPlan(*this, PlanForMode(CurrentModeContext()));
}

bool TForm1::ModeEnables(const QString &name) const {
    return State().Connected && PlanForMode(CurrentModeContext()).EnabledOf(name).value_or(false);
}

void TForm1::ReadPaymentFormNames() {
    // The payment-form window reads the printer's names; its errors are its own.
    QWidget *forms = Windows().Form5;
    if (forms && forms->metaObject()->indexOfMethod("Button1Click()") >= 0)
        QMetaObject::invokeMethod(forms, "Button1Click", Qt::DirectConnection);
}

void TForm1::DisableAllControls(bool keepCodeFields) {
    ApplyControlPlan(*this, DisabledPlan(keepCodeFields));
}

void TForm1::EnterClosedState() {
    SetStatusPanel(0, ClosedPanelText());
    DisableAllControls();
    State().Connected = false;
}
