#include "PhotoSqliteWriter.h"
#include "PhotoTestDevice.h"
#include "SQLiteWrap.h"
#include "TestSupport.h"
#include "iPodPhoto.h"

#include <gtest/gtest.h>

namespace {

TPhotoSqliteContent Library() {
    TPhotoSqliteContent c;
    c.Albums = {
        {10, QString(), 6, 1550, {2, 1}},
        {11, QStringLiteral("Trips"), 6, 1550, {3}},
        {12, QString(), 6, 1550, {}},
        {13, QStringLiteral("Kind two, any entity"), 99, 2, {1}},
        {14, QStringLiteral("Wrong kind"), 6, 1000, {1}},
        {0, QStringLiteral("Key zero"), 6, 1550, {}},
    };
    c.Assets = {
        {1, 0, QStringLiteral("DCIM/100APPLE"), QStringLiteral("IMG_0001.JPG")},
        {2, 3, QStringLiteral("DCIM/100APPLE"), QStringLiteral("IMG_0002.JPG")},
        {3, 1, QStringLiteral("DCIM/101APPLE"), QStringLiteral("IMG_0100.JPG")},
        {4, 2, QStringLiteral("X"), QStringLiteral("NOT_AN_ASSET.JPG"), 13},
    };
    c.KeyZeroAssets = {3};
    return c;
}

} // namespace

TEST(PhotoSqlite, AlbumsAssetsAndThumbnailPlaces) {
    for (const bool withThumbs : {true, false}) {
        TPhotoTestDevice t;
        TPhotoSqliteContent c = Library();
        c.ThumbnailCount = withThumbs ? 4 : 0;
        const QString file = WritePhotoSqlite(t.Root, c);
        TIpodPhotoDb db(t.Device.get(), false);
        ASSERT_TRUE(db.ReadIosLibrary(file));
        EXPECT_TRUE(db.CopyByPath);
        EXPECT_TRUE(db.ThumbInfo.ByName);
        EXPECT_EQ(db.ThumbInfo.FormatId, 3011);
        EXPECT_EQ(db.ThumbInfo.ImageSize, withThumbs ? 12668 : 0);
        EXPECT_EQ(db.AlbumTile.PerPage, withThumbs ? 300 : 0);
        EXPECT_EQ(db.CamTile.PerPage, withThumbs ? 0 : 100);

        QStringList names;
        for (int i = 0; i < db.Albums.Count(); ++i)
            names << db.Albums.Items(i).Name;
        EXPECT_EQ(names, (QStringList{QStringLiteral("Pictures"), QStringLiteral("Photo Album 1"),
                                      QStringLiteral("Trips"), QStringLiteral("Photo Album 2"),
                                      QStringLiteral("Kind two, any entity")}));
        ASSERT_EQ(db.Photos.Count(), 3);
        EXPECT_EQ(db.Photos[1].ImageId, 2u);
        EXPECT_EQ(db.Photos[1].ThumbOffset, withThumbs ? 38004u : 0u);
        EXPECT_EQ(db.Photos[0].Path, QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"));
        // "Pictures" lists every asset, then what its own query for key 0 returns.
        EXPECT_EQ(db.Albums.Items(0).ImageIds, (QVector<quint32>{1, 2, 3, 3}));
        EXPECT_EQ(db.Albums.Items(1).ImageIds, (QVector<quint32>{2, 1}));
        EXPECT_EQ(db.Albums.Items(1).Key, 10);
        EXPECT_EQ(db.Albums.Items(3).Count, 0);
        EXPECT_EQ(db.Albums.Items(4).ImageIds, (QVector<quint32>{1}));
    }
}

TEST(PhotoSqlite, CopiedUnderTheFileNameBehindTheLastSlash) {
    TPhotoTestDevice t;
    TPhotoSqliteContent c = Library();
    c.ThumbnailCount = 4;
    const QString file = WritePhotoSqlite(t.Root, c);
    WriteAll(t.Root + QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"), "one");
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadIosLibrary(file));
    db.DestDir = t.Target;
    db.Photos.SelectItem(0);
    EXPECT_EQ(db.CopySelected(), 1);
    EXPECT_EQ(ReadAll(t.Target + QStringLiteral("IMG_0001.JPG")), QByteArray("one"));
}

TEST(PhotoSqlite, RejectedStatementRaises) {
    TPhotoTestDevice t;
    QDir().mkpath(t.Root + QStringLiteral("/PhotoData"));
    const QString file = t.Root + QStringLiteral("/PhotoData/Photos.sqlite");
    WriteAll(file, QByteArray());
    TIpodPhotoDb db(t.Device.get(), false);
    EXPECT_THROW(db.ReadIosLibrary(file), ESQLiteException);
}

TEST(PhotoSqlite, TilesComeFromTheThumbnailFileAtIndexTimesItsSize) {
    TPhotoTestDevice t;
    TPhotoSqliteContent c = Library();
    c.ThumbnailCount = 4;
    const QString file = WritePhotoSqlite(t.Root, c);
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadIosLibrary(file));
    // Album "Photo Album 1" holds assets 2 and 1: thumbnails 3 and 0, each filled with index + 1.
    ASSERT_EQ(db.ShowAlbumPage(1, 1, 1), 2);
    ASSERT_EQ(db.ShownTiles().size(), 2u);
    EXPECT_EQ(db.ShownTiles()[0].Index, 1);
    EXPECT_EQ(db.ShownTiles()[1].Index, 0);
}
