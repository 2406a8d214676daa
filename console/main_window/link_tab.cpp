// The tab "Связь" of the main window: connect with the rate scan and the
// login, disconnect, change the link rate, the automatic-rate switch and the
// modem diagnostics window. The model and access-mode set-up that follows a
// connect lives in the window's core (main_window.cpp).
#include "main_window.h"

#include "access_modes.h"
#include "connection.h"
#include "console_state.h"
#include "console_windows.h"
#include "driver_error_box.h"
#include "message_layer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QStatusBar>

using namespace krv::console;

namespace {} // namespace

void TForm1::Button31Click() {
    auto *rates = Control<QComboBox>(QStringLiteral("ComboBox7"));
    const auto *autoRate = Control<QCheckBox>(QStringLiteral("CheckBox13"));
    const int port = SelectedPort();

    ScanObserver observer;
    observer.portOpened = [this](int rateIndex) {
        SetStatusPanel(0, TryingPanelText(rateIndex));
        statusBar()->repaint();
    };
    observer.portClosed = [this] { SetStatusPanel(0, ClosedPanelText()); };

    const ScanResult result = ScanForPrinter(Driver(), port, rates ? rates->currentIndex() : 0,
                                             autoRate && autoRate->isChecked(), observer);
    switch (result.outcome) {
    case ScanOutcome::PortNotOpened:
        DisableAllControls(true);
        ShowMessage(this, kErrorBoxCaption, PortNotOpenedText(port), Icon::Error, Buttons::Ok);
        Driver().Close();
        State().Connected = false;
        SetStatusPanel(0, ClosedPanelText());
        return;
    case ScanOutcome::NoAnswer:
        ShowDriverError(this);
        return;
    case ScanOutcome::UnknownDesignation:
        ShowMessage(
            this, kErrorBoxCaption,
            QStringLiteral("Программа работает только с версиями прошивок \"МВ-21\" и \"МВ-22\"!"),
            Icon::Error, Buttons::Ok);
        return;
    case ScanOutcome::Found:
        break;
    }

    ConsoleState &state = State();
    state.SerialNumberPrefix = SerialNumberPrefixOf(result.status.serialNumber);
    state.ConnectedPort = port;
    if (rates)
        rates->setCurrentIndex(result.rateIndex);
    SetStatusPanel(0, QString());

    if (IsFreeArgument(state.StartupArgument)) {
        state.AccessMode = kServiceMode;
    } else if (QWidget *login = Windows().Form3) {
        ExecModal(*login, this); // the login window sets AccessMode
    } else {
        state.AccessMode = kCashierMode;
    }

    ApplyModel(result.status.firmware);
    EnableControlsForMode();
}

void TForm1::Button40Click() {
    // Whatever the close answers, the port is given up: staying "connected"
    // on a port that may be closed would leave no way out.
    Driver().Close();
    EnterClosedState();
}

void TForm1::Button34Click() {
    const auto *newRates = Control<QComboBox>(QStringLiteral("ComboBox8"));
    if (!newRates || newRates->currentIndex() < 0 ||
        newRates->currentIndex() >= static_cast<int>(kLinkRates.size()))
        return;
    const int rateIndex = newRates->currentIndex();
    const QString rateText = newRates->currentText();

    if (!Driver().ChangeBaudRate(rateIndex)) {
        ShowDriverError(this);
        return;
    }
    // The printer talks at the new rate now. A failed close is no reason to
    // stop: reopening closes whatever is left open first.
    Driver().Close();
    SetStatusPanel(0, QStringLiteral("Порт закрыт"));
    // Reopen the port of the link, not whatever the port list shows now.
    if (!Driver().Init(State().ConnectedPort, kLinkRates[static_cast<size_t>(rateIndex)])) {
        ShowMessage(this, kErrorBoxCaption, PortNotOpenedText(State().ConnectedPort), Icon::Error,
                    Buttons::Ok);
        EnterClosedState();
        return;
    }
    if (auto *rates = Control<QComboBox>(QStringLiteral("ComboBox7")))
        rates->setCurrentIndex(rateIndex);
    SetStatusPanel(0, OpenPanelText(rateText, State().AccessMode));
    ShowMessage(this, kInformationBoxCaption, NewRateMessage(rateText), Icon::Information,
                Buttons::Ok);
}

void TForm1::CheckBox13Click() {
    const auto *autoRate = Control<QCheckBox>(QStringLiteral("CheckBox13"));
    if (QWidget *rates = Control(QStringLiteral("ComboBox7")))
        rates->setEnabled(!(autoRate && autoRate->isChecked()));
}

void TForm1::Button56Click() {
    if (QWidget *modem = Windows().Form8)
        ExecModal(*modem, this);
}
