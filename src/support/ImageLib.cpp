#include "ImageLib.h"

#include "MemoryStream.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <libheif/heif.h>

namespace {
// No camera picture comes near this; a damaged header must not make us allocate more.
constexpr qint64 MaxPicturePixels = 200LL * 1000 * 1000;
} // namespace

void TImagePicture::LoadFromStream(const TMemoryStream& stream) {
    LoadFromBytes(QByteArray::fromRawData(stream.Data(), stream.Size()));
}

void TImagePicture::LoadFromBytes(const QByteArray& bytes) {
    FImage = QImage();
    if (bytes.isEmpty()) return;
    QImage image;
    if (IsHeifData(bytes)) {
        image = DecodeHeif(bytes);
    } else {
        QByteArray copy(bytes.constData(), bytes.size());
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid() && qint64(size.width()) * size.height() > MaxPicturePixels) return;
        image = reader.read();
    }
    if (!image.isNull() && image.width() > 0 && image.height() > 0) FImage = std::move(image);
}

void TImagePicture::DrawOnBitmap(QImage& bitmap) const {
    if (Empty() || bitmap.isNull()) return;
    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, bitmap.width(), bitmap.height()), FImage);
}

void TImagePicture::Assign(const QImage& bitmap) {
    FImage = bitmap.copy();
}

void TImagePicture::Assign(const TImagePicture* source) {
    if (!source || source->Empty())
        FImage = QImage();
    else
        FImage = source->FImage.copy();
}

void TImagePicture::SaveToStream(QByteArray& out) const {
    if (Empty()) return;
    QBuffer buffer(&out);
    buffer.open(QIODevice::Append);
    FImage.save(&buffer, "PNG");
}

void TImagePicture::SaveToFile(const QString& fileName) const {
    QByteArray bytes;
    SaveToStream(bytes);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EPictureError(QStringLiteral("Cannot write the picture ") + fileName + QStringLiteral(": ") +
                            file.errorString());
}

void TJpegImage::SaveToStream(QByteArray& out) const {
    if (Empty()) return;
    out += EncodeJpeg(FImage, CompressionQuality);
}

bool IsHeifData(const QByteArray& bytes) {
    if (bytes.size() < 12 || bytes.mid(4, 4) != "ftyp") return false;
    return heif_check_filetype(reinterpret_cast<const uint8_t*>(bytes.constData()),
                               int(qMin<qsizetype>(bytes.size(), 64))) == heif_filetype_yes_supported;
}

QImage DecodeHeif(const QByteArray& bytes) {
    heif_context* ctx = heif_context_alloc();
    if (!ctx) return {};
    QImage result;
    heif_image_handle* handle = nullptr;
    heif_image* img = nullptr;
    if (heif_context_read_from_memory_without_copy(ctx, bytes.constData(), size_t(bytes.size()), nullptr)
                .code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
        qint64(heif_image_handle_get_width(handle)) * heif_image_handle_get_height(handle) <=
            MaxPicturePixels &&
        heif_decode_image(handle, &img, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code ==
            heif_error_Ok) {
        const int w = heif_image_get_width(img, heif_channel_interleaved);
        const int h = heif_image_get_height(img, heif_channel_interleaved);
        int stride = 0;
        const uint8_t* data = heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
        if (data && w > 0 && h > 0 && stride >= w * 3) {
            result = QImage(w, h, QImage::Format_RGB888);
            for (int y = 0; y < h; ++y)
                memcpy(result.scanLine(y), data + qint64(y) * stride, size_t(w) * 3);
        }
    }
    if (img) heif_image_release(img);
    if (handle) heif_image_handle_release(handle);
    heif_context_free(ctx);
    return result;
}

QByteArray EncodeJpegWithQt(const QImage& image, int quality) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(quality);
    writer.write(image);
    return out;
}

namespace {

struct TJpegErrorExit {
    jpeg_error_mgr Manager;
    jmp_buf Jump;
};

// libjpeg calls this on a fatal error; it must not return into the library.
[[noreturn]] void JpegFatal(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<TJpegErrorExit*>(cinfo->err)->Jump, 1);
}

} // namespace

QByteArray EncodeJpeg(const QImage& source, int quality) {
    if (source.isNull()) return {};
    const QImage image =
        source.format() == QImage::Format_RGB888 ? source : source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct cinfo{};
    TJpegErrorExit error{};
    cinfo.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = JpegFatal;
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    QByteArray out;
    if (setjmp(error.Jump) == 0) {
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &mem, &memSize);
        cinfo.image_width = JDIMENSION(image.width());
        cinfo.image_height = JDIMENSION(image.height());
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, qBound(0, quality, 100), TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(int(cinfo.next_scanline)));
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        out = QByteArray(reinterpret_cast<const char*>(mem), qsizetype(memSize));
    } else {
        out.clear();
    }
    jpeg_destroy_compress(&cinfo);
    free(mem);
    return out;
}
