// Pages of thumbnail tiles: page counts, tile positions, which photo each tile shows,
// and the selection changes of tile clicks.
#include "PhotoPages.h"

#include "ImageLib.h"
#include "iPodDev.h"
#include "iPodPhoto.h"

namespace {

int PagesFor(int items, int perPage) {
    // A layout that was never set has no pages.
    if (perPage <= 0 || items <= 0) return 0;
    return items / perPage + (items % perPage ? 1 : 0);
}

} // namespace

int TIpodPhotoDb::AlbumPageCount(int albumIndex) const {
    if (albumIndex < 0 || albumIndex >= Albums.Count()) return 0;
    const int n = albumIndex == 0 ? Photos.Count() : Albums.Items(albumIndex).Count;
    return PagesFor(n, AlbumTile.PerPage);
}

int TIpodPhotoDb::CameraPageCount() const {
    return CamPhotos ? PagesFor(CamPhotos->Count(), CamTile.PerPage) : 0;
}

void TIpodPhotoDb::AddShownTile(int index, bool camera, const QImage& picture, int& x, int& y,
                                const TTileLayout& layout) {
    const bool selected = camera ? CamPhotos->Items(index).Selected : Photos[index].Selected;
    FShownTiles.push_back({index, camera, selected});
    if (TileBox) TileBox->AddTile({x, y, layout.Width, layout.Height, picture, selected});
    x += layout.Spacing + layout.Width;
    if ((layout.Width + layout.Spacing) * layout.PerRow < x) {
        x = layout.Spacing;
        y += layout.Spacing + layout.Height;
    }
}

int TIpodPhotoDb::ShowAlbumPage(int albumIndex, int page, int fileNumber) {
    FShownTiles.clear();
    if (TileBox) TileBox->RemoveAllTiles();
    int shown = 0;
    if (albumIndex < 0 || albumIndex >= Albums.Count() || page < 1 || AlbumTile.PerPage <= 0) return 0;
    const TPhotoAlbumItem& album = Albums.Items(albumIndex);
    if (album.Count == 0) return 0;
    int x = AlbumTile.Spacing;
    int y = AlbumTile.Spacing;
    BuildBmpHeader(true);
    const QString name = ThumbInfo.ByName ? ThumbInfo.FileName
                                          : QStringLiteral("F") + QString::number(ThumbInfo.FormatId) +
                                                QLatin1Char('_') + QString::number(fileNumber);
    const int readSize = int(qBound(qint64(0), qint64(ThumbInfo.ImageSize), MaxPictureRead));
    if (!Device->OpenThumbFile(name, readSize)) return 0;
    const qint64 start = qint64(AlbumTile.PerPage) * (page - 1);
    const int entries = qMin(album.Count, int(album.ImageIds.size()));
    for (qint64 k = start; k < entries && shown < AlbumTile.PerPage; ++k) {
        const quint32 id = album.ImageIds[int(k)];
        for (int i = 0; i < Photos.Count(); ++i) {
            if (Photos[i].ImageId != id) continue;
            EmptyBuffer();
            Buffer.Write(BmpHeader, BmpHeaderSize);
            if (Device->ReadThumb(readSize, Buffer, Photos[i].ThumbOffset)) {
                AddShownTile(i, false, PhotoDecode::DecodeBmp16(Buffer.Data(), Buffer.Size()), x, y,
                             AlbumTile);
                ++shown;
            }
            EmptyBuffer();
            if (OnTileLoaded) OnTileLoaded(shown);
        }
    }
    Device->CloseThumbFile();
    return shown;
}

int TIpodPhotoDb::ShowCameraPage(int page) {
    FShownTiles.clear();
    if (TileBox) TileBox->RemoveAllTiles();
    int shown = 0;
    if (!CamPhotos || CamPhotos->Count() == 0 || page < 1 || CamTile.PerPage <= 0) return 0;
    int x = CamTile.Spacing;
    int y = CamTile.Spacing;
    const qint64 start = qint64(CamTile.PerPage) * (page - 1);
    TImagePicture picture;
    TMemoryStream preview;
    for (qint64 k = start; k < CamPhotos->Count() && k < start + CamTile.PerPage; ++k) {
        QString ext;
        if (!Device->FetchCameraPreview(CamPhotos->Folder, CamPhotos->Items(int(k)).FileName, preview, ext))
            continue;
        QImage bitmap(CamTile.Width, CamTile.Height, QImage::Format_RGB888);
        bitmap.fill(Qt::white);
        try {
            picture.LoadFromStream(preview);
            picture.DrawOnBitmap(bitmap);
        } catch (...) {
            // A preview that cannot be shown leaves the tile blank.
        }
        AddShownTile(int(k), true, bitmap, x, y, CamTile);
        ++shown;
        if (OnTileLoaded) OnTileLoaded(shown);
    }
    return shown;
}

void TIpodPhotoDb::SetAllTiles(int mode) {
    if (TileBox) TileBox->SetBoxEnabled(false);
    for (size_t t = 0; t < FShownTiles.size(); ++t) {
        TShownTile& tile = FShownTiles[t];
        const bool now = mode == 0 ? true : mode == 1 ? false : !tile.Selected;
        if (now == tile.Selected) continue;
        tile.Selected = now;
        if (TileBox) TileBox->SetTileSelected(int(t), now);
    }
    if (TileBox) TileBox->SetBoxEnabled(true);
}

void TIpodPhotoDb::ClearTiles() {
    FShownTiles.clear();
    if (!TileBox) return;
    TileBox->SetBoxVisible(false);
    TileBox->RemoveAllTiles();
    TileBox->SetBoxVisible(true);
}

void TIpodPhotoDb::TileClick(int tileNumber) {
    if (tileNumber < 0 || size_t(tileNumber) >= FShownTiles.size()) return;
    TShownTile& tile = FShownTiles[size_t(tileNumber)];
    tile.Selected = !tile.Selected;
    if (tile.Camera) {
        if (tile.Selected)
            CamPhotos->SelectItem(tile.Index);
        else
            CamPhotos->DeselectItem(tile.Index);
    } else {
        if (tile.Selected)
            Photos.SelectItem(tile.Index);
        else
            Photos.DeselectItem(tile.Index);
    }
    if (TileBox) TileBox->SetTileSelected(tileNumber, tile.Selected);
    if (OnSelect) OnSelect(tile.Index, tile.Selected);
}
