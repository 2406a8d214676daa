// The shop logo as the console hands it to the driver: a ".bmp" file read
// and checked before anything is sent, then offered to FPLoadBMP as a
// LogoBitmap over the file's bytes.
//
// The driver takes from those bytes only the pixel rows, counted back from
// the end of the file, one bit per dot, bottom row last. A file that is not
// such a picture would be read as rows of whatever it holds, so the console
// accepts only uncompressed one-bit-per-dot pictures whose rows lie inside
// the file; a picture stored top row first is handed over bottom row first,
// and bytes after the rows are left out.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace krv::console {

// Larger files are refused unread: the largest logo a model takes is a few
// tens of kilobytes.
inline constexpr int64_t kMaxLogoFileBytes = 4 * 1024 * 1024;

struct LogoImage {
    int32_t width = 0;          // dots
    int32_t height = 0;         // dots
    std::vector<uint8_t> bytes; // the picture as a bottom-up BMP file
};

struct LogoLoad {
    bool ok = false;
    LogoImage image;
    QString error; // the text of the error box (caption "Ошибка!")
};

// Checks the bytes of a BMP file and gives the picture the driver reads.
LogoLoad LogoFromBytes(const std::vector<uint8_t> &file);
// Reads a regular file (never a pipe or a device) and checks it.
LogoLoad LoadLogoFile(const QString &path);

// The folder the file dialog opens in: the folder of the path in the field
// when it names one that exists, else the user's home folder.
QString LogoDialogFolder(const QString &fieldText);
// The path the field shows when nothing was chosen yet.
QString DefaultLogoPath();

// FPLoadBMP with the picture; doubleHeight and invert are the two check boxes.
bool CallLoadLogo(uint16_t password, uint16_t maxWidth, uint16_t maxHeight, const LogoImage &image,
                  bool doubleHeight, bool invert);

} // namespace krv::console
