#include "logo_file.h"

#include "driver_binding.h"
#include "file_open.h"

#include "KRV_T100DRV.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace krv::console {

namespace {

// BITMAPFILEHEADER (14 bytes) and the BITMAPINFOHEADER fields read here.
constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr size_t kOffBitsAt = 10;
constexpr size_t kHeaderSizeAt = 14;
constexpr size_t kWidthAt = 18;
constexpr size_t kHeightAt = 22;
constexpr size_t kPlanesAt = 26;
constexpr size_t kBitCountAt = 28;
constexpr size_t kCompressionAt = 30;
// The driver passes sizes in 16 bits.
constexpr int64_t kMaxDimension = 0xFFFF;

const QString kNotBitmapText = QStringLiteral("Файл логотипа не является рисунком BMP!");
const QString kNotMonochromeText =
    QStringLiteral("Логотип должен быть монохромным рисунком BMP (1 бит на точку, без сжатия)!");
const QString kTruncatedText =
    QStringLiteral("Файл логотипа поврежден: строки рисунка выходят за конец файла!");
const QString kTooLargeText = QStringLiteral("Файл логотипа слишком велик!");

uint32_t U32(const std::vector<uint8_t> &b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t U16(const std::vector<uint8_t> &b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

void PutU32(std::vector<uint8_t> &b, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

LogoLoad Failure(const QString &text) {
    LogoLoad load;
    load.error = text;
    return load;
}

// The LogoBitmap the driver reads during one call.
int32_t BitmapWidth(void *context) {
    return static_cast<const LogoImage *>(context)->width;
}

int32_t BitmapHeight(void *context) {
    return static_cast<const LogoImage *>(context)->height;
}

int32_t BitmapBytes(void *context, const uint8_t **data) {
    const auto *image = static_cast<const LogoImage *>(context);
    *data = image->bytes.data();
    return static_cast<int32_t>(image->bytes.size());
}

} // namespace

LogoLoad LogoFromBytes(const std::vector<uint8_t> &file) {
    if (file.size() < kFileHeaderBytes + kInfoHeaderBytes || file[0] != 'B' || file[1] != 'M')
        return Failure(kNotBitmapText);
    if (static_cast<int64_t>(file.size()) > kMaxLogoFileBytes)
        return Failure(kTooLargeText);
    const uint32_t headerSize = U32(file, kHeaderSizeAt);
    const uint32_t offBits = U32(file, kOffBitsAt);
    // Older core headers and unknown layouts are no pictures we can judge.
    if (headerSize < kInfoHeaderBytes || headerSize > file.size() - kFileHeaderBytes)
        return Failure(kNotBitmapText);
    if (offBits < kFileHeaderBytes + headerSize || offBits > file.size())
        return Failure(kNotBitmapText);

    const auto width = static_cast<int32_t>(U32(file, kWidthAt));
    const auto storedHeight = static_cast<int32_t>(U32(file, kHeightAt));
    const int64_t height = storedHeight < 0 ? -static_cast<int64_t>(storedHeight) : storedHeight;
    if (width <= 0 || height == 0 || width > kMaxDimension || height > kMaxDimension)
        return Failure(kNotBitmapText);
    if (U16(file, kPlanesAt) != 1 || U16(file, kBitCountAt) != 1 || U32(file, kCompressionAt) != 0)
        return Failure(kNotMonochromeText);

    const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
    const size_t rows = static_cast<size_t>(height);
    if (stride * rows > file.size() - offBits)
        return Failure(kTruncatedText);

    LogoLoad load;
    load.ok = true;
    load.image.width = width;
    load.image.height = static_cast<int32_t>(height);
    // Headers and palette as they are, then the rows bottom-up, ending the file.
    std::vector<uint8_t> &out = load.image.bytes;
    out.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(offBits + stride * rows));
    if (storedHeight < 0) {
        for (size_t row = 0; row < rows; ++row) {
            const auto from = file.begin() + static_cast<std::ptrdiff_t>(offBits + row * stride);
            std::copy(from, from + static_cast<std::ptrdiff_t>(stride),
                      out.begin() +
                          static_cast<std::ptrdiff_t>(offBits + (rows - 1 - row) * stride));
        }
        PutU32(out, kHeightAt, static_cast<uint32_t>(height));
    }
    PutU32(out, 2, static_cast<uint32_t>(out.size())); // bfSize of the bytes handed over
    return load;
}

LogoLoad LoadLogoFile(const QString &path) {
    const QString cannotOpen = QStringLiteral("Не удается открыть файл логотипа:\r\n") + path;
    // Only a regular file: a pipe or a device in its place would block the
    // read or never end it.
    std::string bytes;
    const platform::FileError error =
        platform::ReadRegularFile(QFile::encodeName(path).toStdString(), kMaxLogoFileBytes, bytes);
    if (error == platform::FileError::TooLarge)
        return Failure(kTooLargeText);
    if (error != platform::FileError::None)
        return Failure(cannotOpen);
    return LogoFromBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

QString LogoDialogFolder(const QString &fieldText) {
    const QFileInfo info(fieldText);
    if (!fieldText.isEmpty()) {
        if (info.isDir())
            return info.absoluteFilePath();
        if (info.absoluteDir().exists())
            return info.absolutePath();
    }
    return QDir::homePath();
}

QString DefaultLogoPath() {
    return QDir::homePath() + QLatin1Char('/');
}

bool CallLoadLogo(uint16_t password, uint16_t maxWidth, uint16_t maxHeight, const LogoImage &image,
                  bool doubleHeight, bool invert) {
    LogoBitmap bitmap{const_cast<LogoImage *>(&image), BitmapWidth, BitmapHeight, BitmapBytes};
    return DriverSucceeded(FPLoadBMP(password, maxWidth, maxHeight, &bitmap,
                                     static_cast<KrvBool16>(doubleHeight ? -1 : 0),
                                     invert ? -1 : 0));
}

} // namespace krv::console
