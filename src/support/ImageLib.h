#pragma once

#include "QuenlorError.h"

#include <QByteArray>
#include <QImage>
#include <QString>

class TMemoryStream;

// Raised when a picture cannot be decoded or written where the caller needs it.
class EPictureError : public EQuenlorError {
public:
    using EQuenlorError::EQuenlorError;
};

// A decoded picture: the camera-roll files (every format Qt reads, and HEIC through
// libheif) and the bitmaps the thumbnail decoders make. Empty when nothing usable was
// loaded; no load raises. One picture object belongs to one thread.
class TImagePicture {
public:
    TImagePicture() = default;
    virtual ~TImagePicture() = default;

    // Reads the whole stream from its beginning, whatever its position.
    void LoadFromStream(const TMemoryStream& stream);
    void LoadFromBytes(const QByteArray& bytes);
    // Paints the picture stretched over the whole bitmap (aspect ratio not kept);
    // an empty picture leaves the bitmap untouched.
    void DrawOnBitmap(QImage& bitmap) const;
    // Takes a copy of a bitmap, or of another picture; a null source empties this one.
    void Assign(const QImage& bitmap);
    void Assign(const TImagePicture* source);

    int Width() const { return FImage.width(); }
    int Height() const { return FImage.height(); }
    bool Empty() const { return FImage.isNull() || FImage.width() == 0 || FImage.height() == 0; }
    const QImage& Image() const { return FImage; }

    // Encodes into bytes appended to out; a plain picture writes PNG.
    virtual void SaveToStream(QByteArray& out) const;
    // Writes the file, replacing an existing one; raises EPictureError when the file
    // cannot be written. An empty picture leaves an empty file.
    void SaveToFile(const QString& fileName) const;

protected:
    QImage FImage;
};

// JPEG at CompressionQuality (80 unless changed), encoded with libjpeg-turbo.
class TJpegImage : public TImagePicture {
public:
    int CompressionQuality = 80;
    void SaveToStream(QByteArray& out) const override;
};

// Whether bytes look like an HEIF/HEIC file (ISO base media "ftyp" with an HEIF brand).
bool IsHeifData(const QByteArray& bytes);
// Decodes the primary image of HEIF bytes; null on failure.
QImage DecodeHeif(const QByteArray& bytes);
// JPEG encoding of an image through Qt's own writer (kept for comparison in the bench).
QByteArray EncodeJpegWithQt(const QImage& image, int quality);
// JPEG encoding through libjpeg-turbo; empty on failure.
QByteArray EncodeJpeg(const QImage& image, int quality);
