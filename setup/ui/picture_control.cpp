#include "picture_control.h"

#include <QFile>
#include <QPainter>

namespace krv::setup {

void PictureControl::Destroy() {
    m_image = QImage();
}

bool PictureControl::LoadFromFile(const std::string &path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        Destroy();
        return false;
    }
    const QByteArray bytes = file.readAll();
    return LoadFromMemory(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool PictureControl::LoadFromMemory(const void *bytes, std::size_t size) {
    Destroy();
    if (!bytes || size == 0)
        return false;
    QImage image;
    if (!image.loadFromData(static_cast<const uchar *>(bytes), static_cast<int>(size)))
        return false;
    m_image = image.convertToFormat(QImage::Format_ARGB32);
    return !m_image.isNull();
}

int PictureControl::PixelsToHimetric(int pixels, int dpi) {
    if (dpi <= 0)
        return 0;
    return static_cast<int>((2540LL * pixels + dpi / 2) / dpi);
}

int PictureControl::HimetricToPixels(int himetric, int dpi) {
    return static_cast<int>((static_cast<long long>(dpi) * himetric + 1270) / 2540);
}

QImage PictureControl::Source() const {
    QImage source = m_crop.isEmpty() ? m_image : m_image.copy(m_crop);
    if (m_transparent && !source.isNull()) {
        const QRgb key = m_transparent->rgb() & 0xFFFFFF;
        for (int y = 0; y < source.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(source.scanLine(y));
            for (int x = 0; x < source.width(); ++x)
                if ((line[x] & 0xFFFFFF) == key)
                    line[x] = 0;
        }
    }
    return source;
}

void PictureControl::Draw(QPainter &painter, const QRect &target) const {
    if (!IsLoaded() || target.isEmpty())
        return;
    painter.drawImage(target, Source());
}

QPixmap PictureControl::ToPixmap() const {
    if (!IsLoaded())
        return {};
    return QPixmap::fromImage(Source());
}

} // namespace krv::setup
