#include "PhotoDbWriter.h"
#include "PhotoTestDevice.h"
#include "TestSupport.h"
#include "iPodPhoto.h"

#include <gtest/gtest.h>

namespace {

TFixturePicture Pic(quint32 format, quint32 offset, quint32 size, quint16 w, quint16 h, const QString& name) {
    TFixturePicture p;
    p.FormatId = format;
    p.Offset = offset;
    p.Size = size;
    p.Width = w;
    p.Height = h;
    p.Name = name;
    return p;
}

void WriteDb(const QString& root, const TPhotoDbContent& c) {
    WriteAll(root + QStringLiteral("/Photos/Photo Database"), BuildPhotoDatabase(c));
}

TFixtureImage Image(quint32 id, const QVector<TFixturePicture>& pictures) {
    TFixtureImage i;
    i.ImageId = id;
    i.Pictures = pictures;
    return i;
}

} // namespace

TEST(PhotoDatabase, ChoosesWidestForCopyAndSmallestForTilesAndLocatesPictures) {
    TPhotoTestDevice t;
    TPhotoDbContent c;
    c.UpperCaseTags = true;
    c.Images = {
        Image(7, {Pic(1009, 0, 2520, 42, 30, QStringLiteral(":Thumbs:F1009_1.ithmb")),
                  Pic(1024, 0, 153600, 320, 240, QStringLiteral(":Thumbs:F1024_1.ithmb")),
                  Pic(1015, 0, 22880, 130, 88, QStringLiteral(":Thumbs:F1015_1.ithmb"))}),
        Image(8, {Pic(1024, 153600, 153600, 320, 240, QStringLiteral(":Thumbs:F1024_3.ithmb")),
                  Pic(1009, 2520, 2520, 42, 30, QStringLiteral(":Thumbs:F1009_1.ithmb"))}),
        Image(9, {Pic(1024, 0, 153600, 320, 240, QStringLiteral(":Thumbs:Fnonumber.ithmb")),
                  Pic(1009, 5040, 2520, 42, 30, QStringLiteral(":Thumbs:F1009_1.ithmb"))}),
        // no display thumbnail: dropped
        Image(10, {Pic(1024, 0, 153600, 320, 240, QStringLiteral(":Thumbs:F1024_1.ithmb"))}),
    };
    c.Albums = {{QStringLiteral("Library"), false, {7, 8, 9}},
                {QStringLiteral("Ferien \u00e9t\u00e9"), true, {9, 42}}};
    WriteDb(t.Root, c);
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase()) << db.Log.toStdString();
    EXPECT_FALSE(db.CopyByPath);
    EXPECT_EQ(db.CopyInfo.FormatId, 1024);
    EXPECT_EQ(db.CopyInfo.ImageSize, 153600);
    EXPECT_EQ(db.CopyInfo.Width, 320);
    EXPECT_EQ(db.CopyInfo.Height, 240);
    EXPECT_EQ(db.CopyInfo.FileCount, 3);
    EXPECT_EQ(db.ThumbInfo.FormatId, 1009);
    EXPECT_EQ(db.ThumbInfo.ImageSize, 2520);
    EXPECT_EQ(db.ThumbInfo.FileCount, 1);
    ASSERT_EQ(db.Photos.Count(), 3);
    EXPECT_EQ(db.Photos[0].ImageId, 7u);
    EXPECT_EQ(db.Photos[0].FileIndex, 1);
    EXPECT_EQ(db.Photos[1].FileIndex, 3);
    EXPECT_EQ(db.Photos[1].Offset, 153600u);
    EXPECT_EQ(db.Photos[1].Size, 153600u);
    EXPECT_EQ(db.Photos[1].ThumbOffset, 2520u);
    EXPECT_EQ(db.Photos[2].FileIndex, 1);
    EXPECT_EQ(db.Photos[2].ThumbOffset, 5040u);
    ASSERT_EQ(db.Albums.Count(), 2);
    EXPECT_EQ(db.Albums.Items(0).Name, QStringLiteral("Library"));
    EXPECT_EQ(db.Albums.Items(0).Count, 3);
    EXPECT_EQ(db.Albums.Items(1).Name, QStringLiteral("Ferien \u00e9t\u00e9"));
    EXPECT_EQ(db.Albums.Items(1).ImageIds, (QVector<quint32>{9, 42}));
    EXPECT_EQ(db.AlbumTile.PerPage, 350); // layout applied for 1009
}

TEST(PhotoDatabase, PreferredDisplayFormatWinsAndTiesGoToTheFirst) {
    TPhotoTestDevice t;
    TPhotoDbContent c;
    c.Images = {Image(1, {Pic(1009, 0, 2520, 42, 30, QStringLiteral("F1009_1.ithmb")),
                          Pic(1036, 0, 4100, 50, 41, QStringLiteral("F1036_1.ithmb")),
                          Pic(1024, 0, 153600, 320, 240, QStringLiteral("F1024_1.ithmb")),
                          Pic(1064, 0, 153600, 320, 240, QStringLiteral("F1064_1.ithmb"))})};
    WriteDb(t.Root, c);
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase());
    EXPECT_EQ(db.ThumbInfo.FormatId, 1036);
    EXPECT_EQ(db.ThumbInfo.Width, 50);
    EXPECT_EQ(db.CopyInfo.FormatId, 1024);
    EXPECT_EQ(db.AlbumTile.PerRow, 8);
}

TEST(PhotoDatabase, SingleFormatDropsEveryImageButStillSucceeds) {
    TPhotoTestDevice t;
    TPhotoDbContent c;
    c.Images = {Image(1, {Pic(1024, 0, 153600, 320, 240, QStringLiteral("F1024_1.ithmb"))}),
                Image(2, {Pic(1024, 153600, 153600, 320, 240, QStringLiteral("F1024_1.ithmb"))})};
    WriteDb(t.Root, c);
    TIpodPhotoDb db(t.Device.get(), false);
    EXPECT_TRUE(db.ReadPhotoDatabase());
    EXPECT_EQ(db.Photos.Count(), 0);
    EXPECT_EQ(db.CopyInfo.FormatId, 1024);
    EXPECT_EQ(db.ThumbInfo.FormatId, 1024);
}

TEST(PhotoDatabase, FullSizeChildOrPathFormatSwitchesToCopyByPath) {
    for (const bool typeFive : {true, false}) {
        TPhotoTestDevice t;
        TPhotoDbContent c;
        for (quint32 id : {5u, 6u}) {
            TFixturePicture full =
                Pic(typeFive ? 1 : 4005, 0, 0, 0, 0, QStringLiteral(":F00:IMG_%1.JPG").arg(id));
            full.FullSize = typeFive;
            c.Images.append(
                Image(id, {Pic(3004, id * 100, 8176, 56, 73, QStringLiteral("F3004_1.ithmb")), full}));
        }
        WriteDb(t.Root, c);
        TIpodPhotoDb db(t.Device.get(), false);
        ASSERT_TRUE(db.ReadPhotoDatabase()) << db.Log.toStdString();
        EXPECT_TRUE(db.CopyByPath);
        EXPECT_EQ(db.CopyInfo.FormatId, typeFive ? 0 : 4005);
        EXPECT_EQ(db.CopyInfo.ImageSize, 0);
        ASSERT_EQ(db.Photos.Count(), 2) << typeFive;
        EXPECT_EQ(db.Photos[1].Path, QStringLiteral(":F00:IMG_6.JPG"));
        EXPECT_EQ(db.Photos[1].ThumbOffset, 600u);
        EXPECT_EQ(db.Photos[1].Size, 0u);
    }
}

TEST(PhotoDatabase, MissingOrEmptyImageListIsNotRead) {
    struct TCase {
        bool WithImages;
        int ImageCount;
        const char* Log;
    };
    for (const TCase& k : {TCase{false, 0, ""}, TCase{true, 0, ""}}) {
        TPhotoTestDevice t;
        TPhotoDbContent c;
        c.WithImageList = k.WithImages;
        WriteDb(t.Root, c);
        TIpodPhotoDb db(t.Device.get(), false);
        EXPECT_FALSE(db.ReadPhotoDatabase());
        EXPECT_EQ(db.Log, QString::fromLatin1(k.Log));
    }
}

TEST(PhotoDatabase, FailureLinesAsTheReaderWritesThem) {
    TPhotoTestDevice t;
    {
        TIpodPhotoDb db(t.Device.get(), false);
        EXPECT_FALSE(db.ReadPhotoDatabase());
        EXPECT_TRUE(db.Log.startsWith(QStringLiteral("\r\nRead DB fail: "))) << db.Log.toStdString();
        EXPECT_TRUE(db.Log.contains(QStringLiteral("\r\nNot found: "))) << db.Log.toStdString();
    }
    WriteAll(t.Root + QStringLiteral("/Photos/Photo Database"), QByteArray("mhbd") + QByteArray(40, '\0'));
    {
        TIpodPhotoDb db(t.Device.get(), false);
        EXPECT_FALSE(db.ReadPhotoDatabase());
        EXPECT_EQ(db.Log, QStringLiteral("\r\nMHFD Err"));
    }
}

TEST(PhotoDatabase, DamagedAlbumListKeepsImagesWithoutLayout) {
    TPhotoTestDevice t;
    TPhotoDbContent c;
    c.Images = {Image(1, {Pic(1024, 0, 153600, 320, 240, QStringLiteral("F1024_1.ithmb")),
                          Pic(1009, 0, 2520, 42, 30, QStringLiteral("F1009_1.ithmb"))})};
    c.Albums = {{QStringLiteral("A"), false, {1}}};
    QByteArray bytes = BuildPhotoDatabase(c);
    const qsizetype mhla = bytes.indexOf("mhla");
    ASSERT_GT(mhla, 0);
    bytes.replace(mhla, 4, "xxxx");
    WriteAll(t.Root + QStringLiteral("/Photos/Photo Database"), bytes);
    TIpodPhotoDb db(t.Device.get(), false);
    EXPECT_TRUE(db.ReadPhotoDatabase());
    EXPECT_EQ(db.Log, QStringLiteral("\r\nMHLA Err"));
    EXPECT_EQ(db.Photos.Count(), 1);
    EXPECT_EQ(db.AlbumTile.PerPage, 0);
    EXPECT_EQ(db.AlbumPageCount(0), 0);
}

TEST(PhotoDatabase, RealDatabaseIsReadWithoutError) {
    const QString file = RealData(QStringLiteral("photodb/Photo Database"));
    if (file.isEmpty()) GTEST_SKIP() << "real photo database not available";
    TPhotoTestDevice t;
    QDir().mkpath(t.Root + QStringLiteral("/Photos"));
    ASSERT_TRUE(QFile::link(file, t.Root + QStringLiteral("/Photos/Photo Database")));
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase()) << db.Log.toStdString();
    EXPECT_EQ(db.Log, QString());
    // Its photos carry their full-size files: copy by path, tiles from 3004.
    EXPECT_TRUE(db.CopyByPath);
    EXPECT_EQ(db.ThumbInfo.FormatId, 3004);
    EXPECT_EQ(db.ThumbInfo.ImageSize, 6160);
    EXPECT_EQ(db.ThumbInfo.Width, 56);
    ASSERT_GT(db.Photos.Count(), 5);
    EXPECT_GT(db.Albums.Count(), 0);
    for (int i = 0; i < db.Photos.Count(); ++i) {
        EXPECT_TRUE(db.Photos[i].Path.endsWith(QStringLiteral(".JPG"), Qt::CaseInsensitive)) << i;
        EXPECT_EQ(db.Photos[i].ThumbOffset, 0u) << i;
    }
    EXPECT_EQ(db.Photos[0].ImageId, 101u);
    EXPECT_EQ(SafeFileName(db.Photos[0].Path, QStringLiteral(":\\/")), QStringLiteral("Carl.JPG"));
}
