#include "connection.h"

#include "access_modes.h"
#include "console_state.h"
#include "console_windows.h"

#include <QStringList>
#include <QWidget>

namespace krv::console {

ScanResult ScanForPrinter(DriverApi &driver, int port, int firstRateIndex, bool autoRate,
                          const ScanObserver &observer) {
    ScanResult result;
    int rate = (firstRateIndex >= 0 && firstRateIndex < static_cast<int>(kLinkRates.size()))
                   ? firstRateIndex
                   : 0;
    const auto closePort = [&] {
        if (driver.Close() && observer.portClosed)
            observer.portClosed();
    };

    for (int tries = 0; tries < 3; ++tries) {
        result.rateIndex = rate;
        if (!driver.Init(port, kLinkRates[static_cast<size_t>(rate)])) {
            result.outcome = ScanOutcome::PortNotOpened;
            return result;
        }
        if (observer.portOpened)
            observer.portOpened(rate);

        PrinterStatus status;
        if (driver.GetStatus(status)) {
            result.status = status;
            if (!IsKnownDesignation(status.firmware)) {
                closePort();
                result.outcome = ScanOutcome::UnknownDesignation;
                return result;
            }
            result.outcome = ScanOutcome::Found;
            return result;
        }

        closePort();
        result.outcome = ScanOutcome::NoAnswer;
        if (!autoRate)
            return result;
        rate = rate == 2 ? 0 : rate + 1;
    }
    return result;
}

bool LinkEstablished() {
    QWidget *mainWindow = Windows().Form1;
    if (!mainWindow)
        return false;
    const QWidget *connect = mainWindow->findChild<QWidget *>(QStringLiteral("Button31"));
    return connect && !connect->isEnabled();
}

bool IsKnownDesignation(const QString &designation) {
    return designation == QStringLiteral("МВ-21") || designation == QStringLiteral("МВ-22");
}

bool IsSecondModel(const QString &designation) {
    return designation.contains(QStringLiteral("МВ-22"));
}

QString SerialNumberPrefixOf(const QString &serialNumber) {
    return serialNumber.left(8);
}

QString StartupArgumentFrom(const QStringList &arguments) {
    return arguments.size() > 1 ? arguments.at(1).left(255) : QString();
}

bool IsFreeArgument(const QString &startupArgument) {
    return startupArgument.toLower() == QLatin1String("-free");
}

QString TryingPanelText(int rateIndex) {
    const uint32_t rate =
        kLinkRates[static_cast<size_t>(rateIndex >= 0 && rateIndex < 3 ? rateIndex : 0)];
    return QStringLiteral("Подождите..., идет сеанс связи с ЭККР, скорость %1 бит/с! ").arg(rate);
}

QString OpenPanelText(const QString &rateText, uint8_t accessMode) {
    return QStringLiteral("Порт открыт (") + rateText + QStringLiteral(" бит/с) Режим - ") +
           ModeName(accessMode);
}

QString ClosedPanelText() {
    return QStringLiteral("Порт закрыт.");
}

QString NewRateMessage(const QString &rateText) {
    return QStringLiteral("Установлена новая скорость связи: ") + rateText +
           QStringLiteral(" бит/с!");
}

} // namespace krv::console
