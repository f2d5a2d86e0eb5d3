#include "platform/qt/ScreenCapture.h"

#include <jpeglib.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <vector>

#include "platform/TextCodec.h"

namespace korvane::platform {

QImage GrabPrimaryScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return {};
    return screen->grabWindow(0).toImage();
}

bool SaveJpeg(const QImage& image, const std::string& path, int quality, std::string& error) {
    if (image.isNull()) {
        error = "нет изображения экрана";
        return false;
    }
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    // libjpeg's default error handler exits the process; encoding into
    // memory with valid parameters cannot fail, so the default is kept.
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&cinfo, &mem, &memSize);
    cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(mem), memSize);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return WriteFileAtomically(path, bytes, error);
}

}  // namespace korvane::platform
