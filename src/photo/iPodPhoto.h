#pragma once

#include "MemoryStream.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <vector>

class TIpodDevice;
class TTileBox;
class TJpegImage;
class TImagePicture;

// One photo of the device's photo library and the places of its pictures.
class TPhotoItem {
public:
    bool Selected = false;
    quint32 ImageId = 0;
    qint32 FileIndex = 0;
    quint32 Offset = 0;
    quint32 Size = 0;
    quint32 ThumbOffset = 0;
    QString Path;
};

// All photos with the running totals of the selected ones. Add returns a reference
// that stays valid until the next Add or RemoveLast.
class TPhotoList {
public:
    TPhotoItem& Add() { return FItems.emplace_back(); }
    void RemoveLast() { FItems.pop_back(); }
    void Reserve(int count) { FItems.reserve(size_t(count)); }
    int Count() const { return int(FItems.size()); }
    TPhotoItem& Items(int i) { return FItems[size_t(i)]; }
    const TPhotoItem& Items(int i) const { return FItems[size_t(i)]; }
    TPhotoItem& operator[](int i) { return Items(i); }
    const TPhotoItem& operator[](int i) const { return Items(i); }
    void Clear() {
        FItems.clear();
        SelCount = 0;
        SelBytes = 0;
    }
    void SelectItem(int i);
    void DeselectItem(int i);

    int SelCount = 0;
    qint64 SelBytes = 0;

private:
    std::vector<TPhotoItem> FItems;
};

class TPhotoAlbumItem {
public:
    QString Name;
    QVector<quint32> ImageIds;
    int Count = 0;
    int Key = 0;
    void AddImageId(quint32 id) {
        ImageIds.append(id);
        ++Count;
    }
};

class TPhotoAlbumList {
public:
    TPhotoAlbumItem& Add() {
        FItems.append(TPhotoAlbumItem());
        return FItems.last();
    }
    int Count() const { return int(FItems.size()); }
    TPhotoAlbumItem& Items(int i) { return FItems[i]; }
    const TPhotoAlbumItem& Items(int i) const { return FItems[i]; }
    void Clear() { FItems.clear(); }

private:
    QList<TPhotoAlbumItem> FItems;
};

class TCamPhotoItem {
public:
    bool Selected = false;
    QString FileName;
};

class TCamPhotoList {
public:
    TCamPhotoItem& Add() { return FItems.emplace_back(); }
    int Count() const { return int(FItems.size()); }
    TCamPhotoItem& Items(int i) { return FItems[size_t(i)]; }
    const TCamPhotoItem& Items(int i) const { return FItems[size_t(i)]; }
    void SelectItem(int i);
    void DeselectItem(int i);

    int SelCount = 0;
    QString Folder;

private:
    std::vector<TCamPhotoItem> FItems;
};

// One thumbnail format.
struct TPhotoInfo {
    int FormatId = 0;
    int ImageSize = 0;
    int Width = 0;
    int Height = 0;
    int FileCount = 0;
    bool ByName = false;
    QString FileName;
};

struct TTileLayout {
    int Width = 0;
    int Height = 0;
    int Spacing = 0;
    int PerPage = 0;
    int PerRow = 0;
};

// The horizontal position at which every tile draws its picture (set by SetTileLayout).
extern int TileImageLeft;

constexpr int BmpHeaderSize = 66;

// Format ids the readers and decoders treat specially.
constexpr int FormatUyvy = 1019;
constexpr int FormatNanoRgb = 1023;
constexpr int FormatYuv = 1067;
constexpr int FormatJpeg = 1081;
constexpr int FormatIosThumb = 3011;
constexpr int UyvyRawSize = 691200;
constexpr int NanoRgbWorkSize = 46464;
constexpr int YuvWorkSize = 691200;
// No real thumbnail or picture comes near this; larger reads are refused.
constexpr qint64 MaxPictureRead = 64 * 1024 * 1024;

// Pixel work of the thumbnail decoders, usable on its own (tests, tiles).
namespace PhotoDecode {
// The colour value of an expression given as an exact numerator over 1000: rounded to
// the nearest integer with ties to even, limited to 0..255.
int ClampThousandths(qint64 numerator);
// The floating-point form for a real value (same rounding and limits).
int ClampByte(double value);
// A 16-bit bit-field BMP (the 66-byte header followed by pixels) as an RGB888 image.
// Null when the header is not one we wrote or the pixels are short.
QImage DecodeBmp16(const char* data, qint64 size);
// Interlaced UYVY 720x480 (691,200 bytes) to the 704x480 RGB888 work bitmap.
void UyvyToBitmap(const char* raw, QImage& out704);
// Planar 4:2:0 720x480 (691,200 bytes) to a 720x480 RGB888 bitmap.
void YuvToBitmap(const char* raw, QImage& out720);
// Bilinear 16.16 resampling of one RGB888 bitmap into the other's size.
void ResizeBitmap(const QImage& source, QImage& dest);
} // namespace PhotoDecode

// The photo library of one device session: photos, albums, camera roll, the chosen
// thumbnail formats, page display and the copy of the selected items. Lives on the UI
// thread; CopySelected and CopyCameraPhotos run on the transfer thread while the UI
// starts nothing else (Buffer and the open thumbnail file are shared).
class TIpodPhotoDb {
public:
    TIpodPhotoDb(TIpodDevice* device, bool hasCamera, TTileBox* tileBox = nullptr);
    ~TIpodPhotoDb();
    TIpodPhotoDb(const TIpodPhotoDb&) = delete;
    TIpodPhotoDb& operator=(const TIpodPhotoDb&) = delete;

    QString Log;
    QString DestDir;
    bool Cancelled = false;
    bool CopyByPath = false;
    TPhotoList Photos;
    TPhotoAlbumList Albums;
    const bool HasCamera;
    std::unique_ptr<TCamPhotoList> CamPhotos;
    quint8 BmpHeader[BmpHeaderSize] = {};
    TIpodDevice* Device;
    TPhotoInfo CopyInfo;
    TPhotoInfo ThumbInfo;
    TTileLayout AlbumTile;
    TTileLayout CamTile;
    TMemoryStream Buffer;
    std::function<void(int index, bool selected)> OnSelect;
    std::function<void(const QString& name)> OnFile;
    std::function<void(int count)> OnTileLoaded;
    TTileBox* TileBox;
    // Which source LoadPhotos read: "Photo Database", "Photos.sqlite" or "none".
    QString Source = QStringLiteral("none");

    void AddLog(const QString& text);
    // Empties Buffer but keeps its memory for the next picture.
    void EmptyBuffer() {
        Buffer.Resize(0);
        Buffer.Position = 0;
    }
    void SetTileLayout(bool camera);
    static void LookupFormat(TPhotoInfo& info);

    // Loading (iPodPhotoLoad.cpp and the readers).
    bool LoadPhotos();
    bool ReadPhotoDatabase();
    bool ReadIosLibrary(const QString& fileName);
    bool FindIosThumbs();
    int LoadCameraRoll();

    // Decoders: Buffer holds one photo's raw bytes; each writes outFile.
    void BuildBmpHeader(bool forThumb);
    bool DecodeRgb(const QString& outFile);
    bool DecodeNanoRgb(const QString& outFile);
    bool DecodeUyvy(const QString& outFile);
    bool DecodeYuv(const QString& outFile);
    bool DecodeJpeg(const QString& outFile);

    // Transfer.
    void DefaultDestDir(QString& folder) const;
    bool CheckDestDir(QString& folderOrMessage);
    int CopySelected();
    int CopyPhotos();
    int CopyIosPhotos();
    int CopyCameraPhotos();

    // Pages (PhotoPages.cpp).
    int AlbumPageCount(int albumIndex) const;
    int CameraPageCount() const;
    int ShowAlbumPage(int albumIndex, int page, int fileNumber);
    int ShowCameraPage(int page);
    void SetAllTiles(int mode);
    void ClearTiles();
    // A click on shown tile number tile (its place on the page), from the tile box.
    void TileClick(int tileNumber);

    // The tiles of the page shown last, as the tile box holds them.
    struct TShownTile {
        int Index = 0;
        bool Camera = false;
        bool Selected = false;
    };
    const std::vector<TShownTile>& ShownTiles() const { return FShownTiles; }

private:
    // Photo database reader steps.
    bool ReadImageList(const char* data, qint64 size, qint64 s, qint64 h);
    bool ReadFormats(const char* data, qint64 size, qint64 p);
    qint64 ReadImage(const char* data, qint64 size, qint64 p);
    bool ReadImageName(const char* data, qint64 size, qint64 b, int& found, int type);
    bool ReadAlbumList(const char* data, qint64 size, qint64 s, qint64 h);

    using TDecoder = bool (TIpodPhotoDb::*)(const QString&);
    int ExportThumbnails(TDecoder decoder, const QString& openFailText, qint64 readSize);
    int CopyByPaths(bool ios);
    bool SaveBitmapAsJpeg(const QImage& bitmap, const QString& outFile);
    void AddShownTile(int index, bool camera, const QImage& picture, int& x, int& y,
                      const TTileLayout& layout);

    std::unique_ptr<TJpegImage> FJpeg;
    QImage FBitmap;
    QImage FResized;
    QByteArray FWorkArea;
    std::vector<TShownTile> FShownTiles;
};

// The database object of the photo window; the transfer thread reaches it here.
extern TIpodPhotoDb* PhotoDb;

// The file name part of a device name, or empty when nothing safe is left (no
// separators, never "." or "..").
QString SafeFileName(const QString& name, const QString& separators);
