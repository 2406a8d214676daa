#include "header_picture.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

// The resource lives in a static library: make sure the linker keeps it.
static void InitConsoleResources() {
    Q_INIT_RESOURCE(Telmar23);
}

namespace krv::console {

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    auto *manager = reinterpret_cast<JpegErrorManager *>(info->err);
    std::longjmp(manager->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

// Larger pictures are not ours; refuse them rather than allocate blindly.
constexpr unsigned kMaxSide = 8192;

// Reads the header once, then decodes into `image`. No C++ object with a
// destructor lives in this frame across the long jump: the image belongs to
// the caller and is only assigned here.
bool DecodeInto(const QByteArray &data, QImage &image) {
    jpeg_decompress_struct info{};
    JpegErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnJpegError;
    errors.base.output_message = IgnoreJpegMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.image_width == 0 ||
        info.image_height == 0 || info.image_width > kMaxSide || info.image_height > kMaxSide) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    if (image.isNull() || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // A cut-off or damaged file only warns (the library pads it with grey);
    // such a picture is not shown.
    const bool clean = errors.base.num_warnings == 0;
    jpeg_destroy_decompress(&info);
    return clean;
}

} // namespace

QImage DecodeJpeg(const QByteArray &data) {
    QImage image;
    if (data.isEmpty() || !DecodeInto(data, image))
        return {};
    return image;
}

QImage HeaderPicture() {
    InitConsoleResources();
    QFile file(QStringLiteral(":/console/header.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return DecodeJpeg(file.readAll());
}

void ShowHeaderPicture(QLabel &label) {
    const QImage image = HeaderPicture();
    if (image.isNull())
        return;
    QSize size = label.size();
    if (size.isEmpty())
        size = image.size();
    label.setPixmap(
        QPixmap::fromImage(image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    label.setAlignment(Qt::AlignCenter);
    label.setAttribute(Qt::WA_TranslucentBackground);
}

} // namespace krv::console
