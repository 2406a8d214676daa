#include "connection.h"

#include "access_modes.h"
#include "console_state.h"
#include "serial_port.h"

#include <QStringList>

#include <cerrno>
#include <cstring>

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
    return State().Connected;
}

bool NoteLinkFailure(DriverApi &driver) {
    ConsoleState &state = State();
    // A silent printer on a present port is an ordinary failure: the link
    // stays, the next call may work. A gone device never comes back on this
    // open port, and the driver fails every call until it is reopened.
    if (!state.Connected || state.ConnectedPort <= 0 ||
        platform::ComDevicePresent(static_cast<unsigned>(state.ConnectedPort)))
        return false;
    driver.Close();
    state.Connected = false;
    state.LinkLost = true;
    return true;
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

QString PortNotOpenedText(int port) {
    const unsigned com = port > 0 ? static_cast<unsigned>(port) : 0;
    const QString device = QString::fromLocal8Bit(platform::ComDevicePath(com));
    QString reason;
    switch (const int error = platform::ComOpenError(com)) {
    case 0:
        reason = QStringLiteral("устройство не приняло настройки линии");
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        reason = QStringLiteral("нет такого устройства");
        break;
    case EACCES:
    case EPERM:
        reason = QStringLiteral("нет прав на чтение и запись; пользователь должен входить в "
                                "группу dialout (sudo usermod -aG dialout $USER, затем войти "
                                "в систему заново)");
        break;
    case EWOULDBLOCK:
    case EBUSY:
        reason = QStringLiteral("порт занят другой программой");
        break;
    case ENOTTY:
        reason = QStringLiteral("это не последовательный порт");
        break;
    default:
        reason = QString::fromLocal8Bit(std::strerror(error));
        break;
    }
    return QStringLiteral("Невозможно открыть порт!\n%1: %2")
        .arg(device.isEmpty() ? QStringLiteral("COM%1").arg(port) : device, reason);
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
