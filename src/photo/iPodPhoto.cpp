// The photo model: lists, running totals, tile layouts.
#include "iPodPhoto.h"

#include "ImageLib.h"
#include "PhotoPages.h"

int TileImageLeft = 0;
TIpodPhotoDb* PhotoDb = nullptr;

void TPhotoList::SelectItem(int i) {
    TPhotoItem& item = Items(i);
    if (item.Selected) return;
    item.Selected = true;
    ++SelCount;
    SelBytes += qint64(item.Size);
}

void TPhotoList::DeselectItem(int i) {
    TPhotoItem& item = Items(i);
    if (!item.Selected) return;
    item.Selected = false;
    --SelCount;
    SelBytes -= qint64(item.Size);
}

void TCamPhotoList::SelectItem(int i) {
    TCamPhotoItem& item = Items(i);
    if (item.Selected) return;
    item.Selected = true;
    ++SelCount;
}

void TCamPhotoList::DeselectItem(int i) {
    TCamPhotoItem& item = Items(i);
    if (!item.Selected) return;
    item.Selected = false;
    --SelCount;
}

TIpodPhotoDb::TIpodPhotoDb(TIpodDevice* device, bool hasCamera, TTileBox* tileBox)
    : HasCamera(hasCamera), Device(device), TileBox(tileBox) {
    if (HasCamera) CamPhotos = std::make_unique<TCamPhotoList>();
}

TIpodPhotoDb::~TIpodPhotoDb() {
    ClearTiles();
    if (PhotoDb == this) PhotoDb = nullptr;
}

void TIpodPhotoDb::AddLog(const QString& text) {
    Log += QStringLiteral("\r\n") + text;
}

void TIpodPhotoDb::SetTileLayout(bool camera) {
    if (camera) {
        CamTile = {75, 75, 20, 100, 6};
        TileImageLeft = 0;
        return;
    }
    // Width, Height, Spacing, PerPage, PerRow by display format.
    switch (ThumbInfo.FormatId) {
    case 1015:
        AlbumTile = {119, 88, 22, 200, 4};
        TileImageLeft = -5;
        return;
    case 1032:
        AlbumTile = {42, 37, 18, 400, 10};
        break;
    case 1036:
        AlbumTile = {50, 41, 20, 400, 8};
        break;
    case 3004:
        AlbumTile = {56, 56, 20, 400, 8};
        break;
    case 3011:
        AlbumTile = {75, 75, 20, 300, 6};
        break;
    case 3113:
        AlbumTile = {111, 111, 20, 100, 4};
        break;
    default:
        AlbumTile = {64, 64, 20, 350, 7};
        break;
    }
    TileImageLeft = 0;
}

QString SafeFileName(const QString& name, const QString& separators) {
    qsizetype start = 0;
    for (qsizetype i = name.size() - 1; i >= 0; --i)
        if (separators.contains(name[i])) {
            start = i + 1;
            break;
        }
    QString part = name.mid(start);
    // Whatever separator the device meant, none may reach the local file system.
    if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") ||
        part.contains(QLatin1Char('/')) || part.contains(QLatin1Char('\\')) || part.contains(QChar(0)))
        return {};
    return part;
}
