#include "driver_binding.h"

#include "codepage.h"

#include <KRV_T100DRV.h>

#include <dlfcn.h>
#include <link.h>

namespace krv::console {

bool DriverSucceeded(int32_t result) {
    return static_cast<int16_t>(result) != 0;
}

std::string ToDriverText(const QString &text) {
    return platform::Utf8ToCp1251(text.toStdString());
}

QString FromDriverText(const char *text) {
    return text ? QString::fromStdString(platform::Cp1251ToUtf8(text)) : QString();
}

uint8_t IndexByte(int index) {
    return index >= 0 && index <= 255 ? static_cast<uint8_t>(index) : 255;
}

bool CallReadMemory(uint16_t address, int32_t bank, uint8_t length, std::vector<uint8_t> &block) {
    std::vector<uint8_t> buffer(256, 0);
    uint8_t count = length;
    if (!DriverSucceeded(FPGetMemoryData(buffer.data(), static_cast<int32_t>(buffer.size()) - 1,
                                         &count, address, bank)))
        return false;
    buffer.resize(count);
    block = std::move(buffer);
    return true;
}

namespace {

// Read and write time-outs of the link, in the driver's 100 ms units.
constexpr uint8_t kLinkTimeout = 3;

class ExportedDriver final : public DriverApi {
  public:
    bool Init(int port, uint32_t baud) override {
        // The driver takes the COM number in one byte; a larger number would
        // wrap around to another port.
        if (port < 1 || port > 255)
            return false;
        return DriverSucceeded(
            FPInit(static_cast<uint8_t>(port), baud, kLinkTimeout, kLinkTimeout));
    }
    bool Close() override { return DriverSucceeded(FPClose()); }

    bool GetStatus(PrinterStatus &status) override {
        KrvBool16 flags[13] = {};
        const char *texts[7] = {};
        KrvDateTime date = 0, time = 0;
        if (!DriverSucceeded(FPGetStatus(
                &flags[0], &flags[1], &flags[2], &flags[3], &flags[4], &flags[5], &flags[6],
                &flags[7], &flags[8], &flags[9], &flags[10], &flags[11], &flags[12], &texts[0],
                &texts[1], &texts[2], &texts[3], &texts[4], &texts[5], &texts[6], &date, &time)))
            return false;
        for (size_t i = 0; i < status.flags.size(); ++i)
            status.flags[i] = flags[i];
        QString *fields[7] = {&status.serialNumber, &status.fiscalNumber, &status.headerLine1,
                              &status.headerLine2,  &status.headerLine3,  &status.taxNumber,
                              &status.firmware};
        for (size_t i = 0; i < 7; ++i)
            *fields[i] = FromDriverText(texts[i]);
        status.registrationDate = date;
        status.registrationTime = time;
        return true;
    }

    bool ChangeBaudRate(int rateIndex) override {
        return DriverSucceeded(FPChangeBaudRate(rateIndex));
    }

    bool GetPaperState(PaperState &state) override {
        KrvBool16 f[5] = {};
        if (!DriverSucceeded(FPGetPaperState(&f[0], &f[1], &f[2], &f[3], &f[4])))
            return false;
        for (size_t i = 0; i < state.flags.size(); ++i)
            state.flags[i] = f[i];
        return true;
    }

    QString ErrorMessage() override { return FromDriverText(FPErrorMessage()); }

    void CodeError(uint8_t &result, uint8_t &status, uint8_t &extFlags) override {
        FPCodeError(&result, &status, &extFlags);
    }
};

DriverApi *g_driver = nullptr;

} // namespace

VersionVerdict JudgeDriverVersion(const std::optional<platform::FileVersion> &version) {
    if (!version)
        return VersionVerdict::NoVersion;
    const auto [major, minor, release, build] = *version;
    (void)build;
    if (major != 2)
        return major > 2 ? VersionVerdict::Accepted : VersionVerdict::TooOld;
    if (minor != 0)
        return VersionVerdict::Accepted;
    return release >= 2 ? VersionVerdict::Accepted : VersionVerdict::TooOld;
}

void *LoadDriverLibrary(const QString &libraryName) {
    const QByteArray name = libraryName.toLocal8Bit();
    if (void *handle = dlopen(name.constData(), RTLD_LAZY | RTLD_LOCAL))
        return handle;
    // The search by name follows the run path of the caller; where that is
    // lost (an interposed dlopen, say), the driver the program is bound to is
    // the file meant: take it by the path the loader used for it.
    if (libraryName == QLatin1String(kDriverLibraryName)) {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void *>(&FPInit), &info) != 0 && info.dli_fname &&
            *info.dli_fname)
            return dlopen(info.dli_fname, RTLD_LAZY | RTLD_LOCAL);
    }
    return nullptr;
}

QString LoadedLibraryPath(void *handle) {
    if (!handle)
        return {};
    link_map *map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return {};
    return QString::fromLocal8Bit(map->l_name);
}

void ReleaseDriverLibrary(void *handle) {
    if (handle)
        dlclose(handle);
}

VersionVerdict CheckDriverVersion(void *handle) {
    const QString path = LoadedLibraryPath(handle);
    if (path.isEmpty())
        return VersionVerdict::NoVersion;
    return JudgeDriverVersion(platform::ReadFileVersion(path.toLocal8Bit().toStdString()));
}

QString VersionRefusalText(VersionVerdict verdict) {
    switch (verdict) {
    case VersionVerdict::NoVersion:
        return QStringLiteral("Библиотека KRV_T100DRV.DLL не содержит информации о версии!\r\n"
                              "Дальнейшая работа невозможна!");
    case VersionVerdict::TooOld:
        return QStringLiteral("Версия библиотеки KRV_T100DRV.DLL должна быть не ниже 2.0.2\r\n"
                              "Дальнейшая работа невозможна!");
    case VersionVerdict::Accepted:
        break;
    }
    return {};
}

DriverApi &RealDriver() {
    static ExportedDriver driver;
    return driver;
}

DriverApi &Driver() {
    return g_driver ? *g_driver : RealDriver();
}

void SetDriver(DriverApi *driver) {
    g_driver = driver;
}

QString DriverErrorDetail() {
    uint8_t result = 0, status = 0, extFlags = 0;
    Driver().CodeError(result, status, extFlags);
    QString text;
    if (status != 0)
        text += QStringLiteral("\r\nБайт статуса: ") + QString::number(status);
    if (result != 0)
        text +=
            QStringLiteral("\r\n") + QStringLiteral("Байт результата: ") + QString::number(result);
    return text;
}

QString ReplyFormatErrorText() {
    return QStringLiteral("Ответная посылка не соответсвует формату данных!");
}

QString DriverErrorText() {
    return Driver().ErrorMessage() + DriverErrorDetail();
}

QString PaperLowText(const PaperState &state) {
    if (state.flags[0])
        return {};
    const bool controlTape = state.flags[1] != 0;
    const bool receiptTape = state.flags[2] != 0;
    if (controlTape && receiptTape)
        return QStringLiteral("Заканчиваются контрольная и чековая ленты!");
    if (controlTape)
        return QStringLiteral("Заканчивается контрольная лента!");
    if (receiptTape)
        return QStringLiteral("Заканчивается чековая лента!");
    return {};
}

} // namespace krv::console
