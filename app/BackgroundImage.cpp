#include "BackgroundImage.h"

#include <QFile>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

static_assert(JPEG_LIB_VERSION == 62, "the decoder is written against the libjpeg 6.2 interface");

namespace korvan {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr) {}

// Memory source: the whole picture is one buffer, so there is never more to fill.
void InitSource(j_decompress_ptr) {}
boolean FillInputBuffer(j_decompress_ptr info) {
    // Past the end: hand over an end-of-image marker so a truncated picture ends cleanly.
    static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
    WARNMS(info, JWRN_JPEG_EOF);
    info->src->next_input_byte = kEnd;
    info->src->bytes_in_buffer = 2;
    return TRUE;
}
void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    while (count > static_cast<long>(info->src->bytes_in_buffer)) {
        count -= static_cast<long>(info->src->bytes_in_buffer);
        FillInputBuffer(info);
    }
    info->src->next_input_byte += count;
    info->src->bytes_in_buffer -= static_cast<std::size_t>(count);
}
void TermSource(j_decompress_ptr) {}

// Plain C data flow only between setjmp and longjmp: the results go to objects the caller owns.
bool DecodeRgb(const unsigned char* data, std::size_t size, std::vector<unsigned char>* pixels,
               int* width, int* height) {
    jpeg_decompress_struct info{};
    ErrorManager error{};
    jpeg_source_mgr source{};
    info.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = OnJpegError;
    error.pub.output_message = OnJpegMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    source.next_input_byte = data;
    source.bytes_in_buffer = size;
    source.init_source = InitSource;
    source.fill_input_buffer = FillInputBuffer;
    source.skip_input_data = SkipInputData;
    source.resync_to_restart = jpeg_resync_to_restart;
    source.term_source = TermSource;
    info.src = &source;

    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 3;
    pixels->resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels->data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    *width = static_cast<int>(info.output_width);
    *height = static_cast<int>(info.output_height);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size) {
    std::vector<unsigned char> pixels;
    int width = 0;
    int height = 0;
    if (data == nullptr || size == 0 || !DecodeRgb(data, size, &pixels, &width, &height)) return {};
    QImage image(width, height, QImage::Format_RGB888);
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::copy_n(pixels.data() + stride * y, stride, image.scanLine(y));
    return image;
}

QImage LoadBackgroundPicture() {
    QFile file(QStringLiteral(":/korvan/background.jpg"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return DecodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()),
                      static_cast<std::size_t>(bytes.size()));
}

TBackground::TBackground(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void TBackground::SetPicture(const QImage& picture) {
    picture_ = picture.convertToFormat(QImage::Format_RGB32);
    stretched_ = QPixmap();
    update();
}

void TBackground::resizeEvent(QResizeEvent*) {
    // Scaled at the next paint: sizes that come and go before the window shows cost nothing.
    update();
}

void TBackground::Rescale() {
    if (picture_.isNull() || width() <= 0 || height() <= 0) {
        stretched_ = QPixmap();
        return;
    }
    if (stretched_.size() == size()) return;
    // Kept in the window's own pixel format, so a paint is a plain copy without conversion.
    stretched_ = QPixmap::fromImage(
        picture_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    ++scaleCount_;
}

void TBackground::paintEvent(QPaintEvent* event) {
    Rescale();
    QPainter painter(this);
    const QRect area = event->rect();
    if (stretched_.isNull())
        painter.fillRect(area, palette().color(QPalette::Window));
    else
        painter.drawPixmap(area, stretched_, area);
}

} // namespace korvan
