// The raw thumbnail decoders: 16-bit RGB through a bit-field BMP, big-endian RGB,
// interlaced UYVY with its 704-to-640 resampling, planar YUV 4:2:0, and ready JPEG.
#include "iPodPhoto.h"

#include "FileCopy.h"
#include "ImageLib.h"
#include "QuenlorError.h"
#include "iPodDev.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

void Put16(quint8* p, quint32 v) {
    p[0] = quint8(v);
    p[1] = quint8(v >> 8);
}

void Put32(quint8* p, quint32 v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

quint32 Get32(const uchar* p) {
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// Position and width of the set bits of a channel mask.
void MaskShape(quint32 mask, int& shift, int& bits) {
    shift = 0;
    bits = 0;
    if (mask == 0) return;
    while (!(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
}

// Widens a channel of 1..8 bits to 8 bits by repeating its high bits (0x1F -> 255).
inline int Widen(quint32 v, int bits) {
    if (bits >= 8) return int(v >> (bits - 8)) & 0xFF;
    int out = int(v) << (8 - bits);
    for (int have = bits; have < 8; have += bits)
        out |= int(v) << (8 - bits) >> have;
    return out & 0xFF;
}

// ClampThousandths for the value range of the colour formulas (|n| below a million),
// cheap enough for the pixel loops: an even offset keeps the division unsigned.
inline int Clamp1000(int n) {
    // n / 1000 rounded half up is floor((n + 500) / 1000); an exact tie (remainder 0)
    // that landed on an odd number steps back to the even one.
    const unsigned m = unsigned(n + 1000500);
    unsigned q = m / 1000;
    q -= unsigned(m - q * 1000 == 0) & q;
    const int v = int(q) - 1000;
    return std::clamp(v, 0, 255);
}

// Writes a finished picture; it is published only when complete and never over a file
// that appeared meanwhile (false then). Other write failures end the transfer.
bool WritePhotoFile(const QString& outFile, const char* data, qint64 size) {
    const int code = WriteFileNoOverwrite(outFile, [&](int fd) {
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size_t(size - done));
            if (n < 0) return errno ? errno : 5;
            done += n;
        }
        return 0;
    });
    if (code == CopyErrorFileExists) return false;
    if (code != 0)
        throw EFileError(QStringLiteral("Cannot write ") + outFile + QStringLiteral(": error ") +
                         QString::number(code));
    return true;
}

} // namespace

namespace PhotoDecode {

int ClampThousandths(qint64 n) {
    // floor division, then ties to the even neighbour
    qint64 q = n >= 0 ? n / 1000 : -((-n + 999) / 1000);
    const qint64 rem = n - q * 1000;
    if (rem > 500 || (rem == 500 && (q & 1))) ++q;
    return int(q < 0 ? 0 : q > 255 ? 255 : q);
}

int ClampByte(double value) {
    const double r = std::nearbyint(value);
    return r > 255 ? 255 : r < 0 ? 0 : int(r);
}

QImage DecodeBmp16(const char* data, qint64 size) {
    if (!data || size < BmpHeaderSize) return {};
    const auto* p = reinterpret_cast<const uchar*>(data);
    if (p[0] != 'B' || p[1] != 'M' || Get32(p + 10) != BmpHeaderSize || Get32(p + 14) != 40 || p[28] != 16 ||
        Get32(p + 30) != 3)
        return {};
    const qint64 width = qint32(Get32(p + 18));
    const qint64 rawHeight = qint32(Get32(p + 22));
    const bool topDown = rawHeight < 0;
    const qint64 height = topDown ? -rawHeight : rawHeight;
    if (width <= 0 || height <= 0 || width * height > 64LL * 1024 * 1024) return {};
    const qint64 stride = (width * 2 + 3) / 4 * 4;
    if (size - BmpHeaderSize < stride * height) return {};
    int rs, rb, gs, gb, bs, bb;
    MaskShape(Get32(p + 54), rs, rb);
    MaskShape(Get32(p + 58), gs, gb);
    MaskShape(Get32(p + 62), bs, bb);
    if (rb == 0 || gb == 0 || bb == 0) return {};
    QImage image(int(width), int(height), QImage::Format_RGB888);
    if (image.isNull()) return {};
    const quint32 rm = (1u << rb) - 1, gm = (1u << gb) - 1, bm = (1u << bb) - 1;
    for (qint64 y = 0; y < height; ++y) {
        const uchar* row = p + BmpHeaderSize + (topDown ? y : height - 1 - y) * stride;
        uchar* out = image.scanLine(int(y));
        for (qint64 x = 0; x < width; ++x) {
            const quint32 v = quint32(row[2 * x]) | quint32(row[2 * x + 1]) << 8;
            out[3 * x] = uchar(Widen(v >> rs & rm, rb));
            out[3 * x + 1] = uchar(Widen(v >> gs & gm, gb));
            out[3 * x + 2] = uchar(Widen(v >> bs & bm, bb));
        }
    }
    return image;
}

// The colour formulas with their decimal constants as exact integers over 1000; the
// rounding of ClampThousandths gives what evaluating them in extended precision and
// rounding half to even gives, without floating point in the inner loop.
void UyvyToBitmap(const char* raw, QImage& out) {
    if (out.width() != 704 || out.height() != 480 || out.format() != QImage::Format_RGB888)
        out = QImage(704, 480, QImage::Format_RGB888);
    const auto* b0 = reinterpret_cast<const uchar*>(raw);
    for (int line = 0; line < 480; ++line) {
        // The first 240 lines hold the even rows, the next 240 the odd rows.
        const int row = line < 240 ? line * 2 : (line - 240) * 2 + 1;
        const uchar* b = b0 + qint64(line) * 1440;
        uchar* o = out.scanLine(row);
        // Pixels j and j + 1 (j even) share the U of byte 2j and the V of byte 2j + 2.
        for (int j = 8; j < 712; j += 2) {
            const int u = b[2 * j] - 128;
            const int v = b[2 * j + 2] - 128;
            const int rv = 1596 * v, guv = -392 * u - 813 * v, bu = 2017 * u;
            uchar* px = o + 3 * (j - 8);
            const int y0 = 1164 * (b[2 * j + 1] - 16);
            const int y1 = 1164 * (b[2 * j + 3] - 16);
            px[0] = uchar(Clamp1000(y0 + rv));
            px[1] = uchar(Clamp1000(y0 + guv));
            px[2] = uchar(Clamp1000(y0 + bu));
            px[3] = uchar(Clamp1000(y1 + rv));
            px[4] = uchar(Clamp1000(y1 + guv));
            px[5] = uchar(Clamp1000(y1 + bu));
        }
    }
}

void YuvToBitmap(const char* raw, QImage& out) {
    if (out.width() != 720 || out.height() != 480 || out.format() != QImage::Format_RGB888)
        out = QImage(720, 480, QImage::Format_RGB888);
    const auto* b = reinterpret_cast<const uchar*>(raw);
    for (int r = 0; r < 480; ++r) {
        uchar* o = out.scanLine(r);
        const uchar* yRow = b + r * 720;
        const uchar* uRow = b + 345600 + (r / 2) * 360;
        const uchar* vRow = b + 432000 + (r / 2) * 360;
        for (int c = 0; c < 720; ++c) {
            const int yy = 1164 * (yRow[c] - 16);
            const int u = uRow[c / 2] - 128;
            const int v = vRow[c / 2] - 128;
            o[3 * c] = uchar(Clamp1000(yy + 1596 * v));
            o[3 * c + 1] = uchar(Clamp1000(yy - 391 * u - 813 * v));
            o[3 * c + 2] = uchar(Clamp1000(yy + 2018 * u));
        }
    }
}

void ResizeBitmap(const QImage& source, QImage& dest) {
    const int sw = source.width(), sh = source.height(), dw = dest.width(), dh = dest.height();
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    const quint64 stepX = quint64(sw) * 65536 / quint64(dw);
    const quint64 stepY = quint64(sh) * 65536 / quint64(dh);
    // The columns' source pixels and horizontal fractions are the same on every row.
    std::vector<int> col(size_t(dw) * 2);
    std::vector<quint64> frac(static_cast<size_t>(dw));
    for (int x = 0; x < dw; ++x) {
        const quint64 fx = stepX * quint64(x);
        // Other sizes than 704 -> 640 could reach past the row's end; stay inside.
        const int c = qMin(int(fx >> 16), sw - 1);
        col[size_t(2 * x)] = 3 * c;
        col[size_t(2 * x + 1)] = 3 * qMin(c + 1, sw - 1);
        frac[size_t(x)] = fx & 0xFFFF;
    }
    quint64 fy = 0;
    for (int y = 0; y < dh; ++y, fy += stepY) {
        const int r1 = qMin(int(fy >> 16), sh - 1);
        const int r2 = r1 < sh - 1 ? r1 + 1 : r1;
        const quint64 f = fy & 0xFFFF;
        const quint64 g = 65535 - f;
        const uchar* row1 = source.constScanLine(r1);
        const uchar* row2 = source.constScanLine(r2);
        uchar* o = dest.scanLine(y);
        if (f == 0) {
            // On a row that falls exactly on a source row only that row contributes
            // (its partner's weights are 0); the sums are the same without them.
            for (int x = 0; x < dw; ++x) {
                const quint32 w2 = quint32((g * frac[size_t(x)]) >> 16), w1 = quint32(g) - w2;
                const uchar* a = row1 + col[size_t(2 * x)];
                const uchar* b = row1 + col[size_t(2 * x + 1)];
                o[3 * x] = uchar((a[0] * w1 + b[0] * w2) >> 16);
                o[3 * x + 1] = uchar((a[1] * w1 + b[1] * w2) >> 16);
                o[3 * x + 2] = uchar((a[2] * w1 + b[2] * w2) >> 16);
            }
            continue;
        }
        for (int x = 0; x < dw; ++x) {
            const quint64 h = frac[size_t(x)];
            // The weights add up to 65535, so the sums stay within 32 bits.
            const quint32 w2 = quint32((g * h) >> 16), w1 = quint32(g) - w2, w4 = quint32((f * h) >> 16),
                          w3 = quint32(f) - w4;
            const uchar* a = row1 + col[size_t(2 * x)];
            const uchar* b = row1 + col[size_t(2 * x + 1)];
            const uchar* c = row2 + col[size_t(2 * x)];
            const uchar* d = row2 + col[size_t(2 * x + 1)];
            for (int k = 0; k < 3; ++k)
                o[3 * x + k] = uchar((a[k] * w1 + b[k] * w2 + c[k] * w3 + d[k] * w4) >> 16);
        }
    }
}

} // namespace PhotoDecode

void TIpodPhotoDb::BuildBmpHeader(bool forThumb) {
    const TPhotoInfo& info = forThumb ? ThumbInfo : CopyInfo;
    const bool mobile = Device && Device->IsMobile;
    memset(BmpHeader, 0, sizeof BmpHeader);
    BmpHeader[0] = 'B';
    BmpHeader[1] = 'M';
    Put32(BmpHeader + 2, quint32(info.ImageSize + BmpHeaderSize));
    Put32(BmpHeader + 10, BmpHeaderSize);
    Put32(BmpHeader + 14, 40);
    Put32(BmpHeader + 18, quint32(info.Width));
    Put32(BmpHeader + 22, quint32(-info.Height));
    Put16(BmpHeader + 26, 1);
    Put16(BmpHeader + 28, 16);
    Put32(BmpHeader + 30, 3);
    Put32(BmpHeader + 34, quint32(info.ImageSize));
    Put32(BmpHeader + 54, mobile ? 0x7C00 : 0xF800);
    Put32(BmpHeader + 58, mobile ? 0x03E0 : 0x07E0);
    Put32(BmpHeader + 62, 0x001F);
}

bool TIpodPhotoDb::SaveBitmapAsJpeg(const QImage& bitmap, const QString& outFile) {
    if (!FJpeg) FJpeg = std::make_unique<TJpegImage>();
    const QByteArray jpeg = EncodeJpeg(bitmap, FJpeg->CompressionQuality);
    if (jpeg.isEmpty()) throw EPictureError(QStringLiteral("Cannot encode the picture ") + outFile);
    return WritePhotoFile(outFile, jpeg.constData(), jpeg.size());
}

bool TIpodPhotoDb::DecodeRgb(const QString& outFile) {
    // Buffer holds BmpHeader followed by the raw pixels.
    const QImage bitmap = PhotoDecode::DecodeBmp16(Buffer.Data(), Buffer.Size());
    if (bitmap.isNull()) throw EPictureError(QStringLiteral("Bitmap image is not valid"));
    return SaveBitmapAsJpeg(bitmap, outFile);
}

bool TIpodPhotoDb::DecodeNanoRgb(const QString& outFile) {
    // Buffer holds the raw big-endian pixels; at most the work area's worth is used.
    if (FWorkArea.size() != NanoRgbWorkSize)
        FWorkArea = QByteArray(NanoRgbWorkSize, '\0');
    else
        FWorkArea.fill('\0');
    const qint64 n = qMin<qint64>(qMin<qint64>(CopyInfo.ImageSize, NanoRgbWorkSize), Buffer.Size());
    if (n > 0) memcpy(FWorkArea.data(), Buffer.Data(), size_t(n));
    char* w = FWorkArea.data();
    for (int i = 0; i < NanoRgbWorkSize; i += 2)
        std::swap(w[i], w[i + 1]);
    EmptyBuffer();
    Buffer.Write(BmpHeader, BmpHeaderSize);
    const qint64 size = qMax(0, CopyInfo.ImageSize);
    Buffer.Write(FWorkArea.constData(), qMin<qint64>(size, NanoRgbWorkSize));
    if (size > NanoRgbWorkSize) Buffer.Resize(BmpHeaderSize + size);
    return DecodeRgb(outFile);
}

bool TIpodPhotoDb::DecodeUyvy(const QString& outFile) {
    if (Buffer.Size() < UyvyRawSize) return false;
    PhotoDecode::UyvyToBitmap(Buffer.Data(), FBitmap);
    if (FResized.width() != 640 || FResized.height() != 480)
        FResized = QImage(640, 480, QImage::Format_RGB888);
    PhotoDecode::ResizeBitmap(FBitmap, FResized);
    return SaveBitmapAsJpeg(FResized, outFile);
}

bool TIpodPhotoDb::DecodeYuv(const QString& outFile) {
    if (FWorkArea.size() != YuvWorkSize)
        FWorkArea = QByteArray(YuvWorkSize, '\0');
    else
        FWorkArea.fill('\0');
    const qint64 n = qMin<qint64>(qMin<qint64>(CopyInfo.ImageSize, YuvWorkSize), Buffer.Size());
    if (n > 0) memcpy(FWorkArea.data(), Buffer.Data(), size_t(n));
    PhotoDecode::YuvToBitmap(FWorkArea.constData(), FBitmap);
    return SaveBitmapAsJpeg(FBitmap, outFile);
}

bool TIpodPhotoDb::DecodeJpeg(const QString& outFile) {
    return WritePhotoFile(outFile, Buffer.Data(), Buffer.Size());
}
