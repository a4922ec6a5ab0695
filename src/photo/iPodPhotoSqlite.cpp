// The iOS photo library "Photos.sqlite" with its 79x79 thumbnail file.
#include "iPodPhoto.h"

#include "SQLiteWrap.h"
#include "iPodDev.h"

bool TIpodPhotoDb::FindIosThumbs() {
    const bool exists = Device->FileExistsOnDevice(QStringLiteral("PhotoData/Thumbnails/79x79.ithmb"));
    ThumbInfo.ByName = true;
    ThumbInfo.FileName = exists ? QStringLiteral("79x79.ithmb") : QString();
    LookupFormat(ThumbInfo);
    return exists;
}

bool TIpodPhotoDb::ReadIosLibrary(const QString& fileName) {
    CopyByPath = true;
    // A copy the session fetched may be opened in place; the device's own file is
    // opened so that nothing is written beside it.
    TSQLiteDatabase db(fileName, Device->IsMobile);
    SetTileLayout(!FindIosThumbs());

    TPhotoAlbumItem& pictures = Albums.Add();
    pictures.Name = QStringLiteral("Pictures");
    pictures.Key = 0;

    int untitled = 0;
    {
        auto table = db.Query(
            QStringLiteral("SELECT Z_PK,ZTITLE FROM ZGENERICALBUM WHERE Z_ENT=6 AND ZKIND=1550 OR ZKIND=2"));
        for (; !table->AtEnd; table->Advance()) {
            const int key = int(quint32(table->ColumnAsInt64(0)));
            if (key == 0) continue;
            TPhotoAlbumItem& album = Albums.Add();
            album.Key = key;
            album.Name = table->ColumnAsText(1);
            if (album.Name.isEmpty())
                album.Name = QStringLiteral("Photo Album ") + QString::number(++untitled);
        }
    }
    {
        auto table = db.Query(QStringLiteral(
            "SELECT Z_PK,ZTHUMBNAILINDEX,ZDIRECTORY,ZFILENAME FROM ZGENERICASSET WHERE Z_ENT=12"));
        for (; !table->AtEnd; table->Advance()) {
            TPhotoItem& item = Photos.Add();
            item.ImageId = quint32(table->ColumnAsInt64(0));
            item.ThumbOffset = quint32(table->ColumnAsInt64(1)) * quint32(ThumbInfo.ImageSize);
            item.Path = table->ColumnAsText(2) + QLatin1Char('/') + table->ColumnAsText(3);
        }
    }
    TPhotoAlbumItem& all = Albums.Items(0);
    for (int i = 0; i < Photos.Count(); ++i)
        all.AddImageId(Photos[i].ImageId);
    for (int a = 0; a < Albums.Count(); ++a) {
        TPhotoAlbumItem& album = Albums.Items(a);
        auto table = db.Query(QStringLiteral("SELECT Z_11ASSETS FROM Z_6ASSETS WHERE Z_6ALBUMS=") +
                              QString::number(album.Key));
        for (; !table->AtEnd; table->Advance())
            album.AddImageId(quint32(table->ColumnAsInt64(0)));
    }
    return true;
}
