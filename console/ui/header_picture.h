// The picture across the top of the main window: a JPEG stored with the
// program, decoded with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>

class QLabel;

namespace krv::console {

// Decodes JPEG data (greyscale or colour) into an RGB image; a null image
// when the data is not a complete, readable JPEG.
QImage DecodeJpeg(const QByteArray &data);

// The stored header picture, decoded.
QImage HeaderPicture();

// Puts the header picture on `label`, scaled to it with its proportions kept.
void ShowHeaderPicture(QLabel &label);

} // namespace krv::console
