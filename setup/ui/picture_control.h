// A picture loaded from a file or from bytes through Qt's image readers,
// drawn whole or cropped, stretched to a target rectangle, optionally with
// one colour transparent. The wizard's header and background pictures use
// it; bytes that are no picture give an empty control that draws nothing.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRect>

#include <cstddef>
#include <optional>
#include <string>

class QPainter;

namespace krv::setup {

class PictureControl {
  public:
    void Destroy();
    // False (and nothing loaded) when the file cannot be read or decoded.
    bool LoadFromFile(const std::string &path);
    bool LoadFromMemory(const void *bytes, std::size_t size);
    bool IsLoaded() const { return !m_image.isNull(); }
    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }

    // Pixels to HIMETRIC (0.01 mm) and back at the given dots per inch.
    static int PixelsToHimetric(int pixels, int dpi);
    static int HimetricToPixels(int himetric, int dpi);

    // Pixels of this colour are left out when drawing (none by default).
    void SetTransparentColor(std::optional<QColor> color) { m_transparent = color; }
    // Part of the picture to draw; an empty rectangle draws all of it.
    void SetCrop(const QRect &crop) { m_crop = crop; }

    // Draws the picture (or its crop) stretched into the rectangle.
    void Draw(QPainter &painter, const QRect &target) const;
    // The picture at its own size; a null pixmap when nothing is loaded.
    QPixmap ToPixmap() const;

  private:
    QImage Source() const;

    QImage m_image;
    std::optional<QColor> m_transparent;
    QRect m_crop;
};

} // namespace krv::setup
