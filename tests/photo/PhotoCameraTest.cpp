#include "CameraRollWriter.h"
#include "PhotoDbWriter.h"
#include "PhotoSqliteWriter.h"
#include "PhotoTestDevice.h"
#include "TestSupport.h"
#include "iPodPhoto.h"

#include <QFileInfo>
#include <QImage>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QByteArray Picture(const TFixtureFormat& f, int) {
    return Rgb16Fill(f.Width, f.Height, 0xFFFF);
}

QStringList Names(const TCamPhotoList& list) {
    QStringList n;
    for (int i = 0; i < list.Count(); ++i)
        n << list.Items(i).FileName;
    n.sort();
    return n;
}

} // namespace

TEST(PhotoCamera, ListingLeavesOutPreviewsAndCopiesOnlyNewFiles) {
    TPhotoTestDevice t;
    WriteCameraRoll(t.Root, {{QStringLiteral("IMG_0001.JPG"), "first", SolidJpeg(8, 8, qRgb(1, 2, 3)), false},
                             {QStringLiteral("IMG_0002.MOV"), FakeMovie(), {}, false},
                             {QStringLiteral("IMG_0003.JPG"), "third", {}, false},
                             {QStringLiteral("OTHER.JPG"), "not listed on a disk-mode iPod", {}, false}});
    TIpodPhotoDb db(t.Device.get(), true);
    EXPECT_EQ(db.LoadCameraRoll(), 3);
    EXPECT_EQ(Names(*db.CamPhotos),
              (QStringList{QStringLiteral("IMG_0001.JPG"), QStringLiteral("IMG_0002.MOV"),
                           QStringLiteral("IMG_0003.JPG")}));
    EXPECT_EQ(db.CamPhotos->Folder, t.Root + QStringLiteral("/DCIM/100APPLE/"));
    EXPECT_EQ(db.CamTile.PerPage, 100);

    // An existing target file is kept whatever its size, and not counted.
    WriteAll(t.Target + QStringLiteral("IMG_0001.JPG"), "older, longer content");
    db.DestDir = t.Target;
    for (int i = 0; i < db.CamPhotos->Count(); ++i)
        db.CamPhotos->SelectItem(i);
    QStringList reported;
    db.OnFile = [&](const QString& n) { reported << n; };
    EXPECT_EQ(db.CopyCameraPhotos(), 2);
    EXPECT_EQ(reported.size(), 3);
    EXPECT_EQ(ReadAll(t.Target + QStringLiteral("IMG_0001.JPG")), QByteArray("older, longer content"));
    EXPECT_EQ(ReadAll(t.Target + QStringLiteral("IMG_0003.JPG")), QByteArray("third"));
    EXPECT_EQ(db.CopyCameraPhotos(), 0);
}

TEST(PhotoCamera, HeicPicturesAlsoGetAJpegCopy) {
    TPhotoTestDevice t;
    WriteCameraRoll(t.Root, {{QStringLiteral("IMG_0005.HEIC"), SolidHeic(64, 48, qRgb(0, 0, 200)), {}, false},
                             {QStringLiteral("IMG_0006.HEIC"), "not a picture", {}, false}});
    TIpodPhotoDb db(t.Device.get(), true);
    ASSERT_EQ(db.LoadCameraRoll(), 2);
    db.DestDir = t.Target;
    for (int i = 0; i < db.CamPhotos->Count(); ++i)
        db.CamPhotos->SelectItem(i);
    EXPECT_EQ(db.CopyCameraPhotos(), 2);
    // The device's own file is kept as it is, with a JPEG beside it.
    EXPECT_EQ(ReadAll(t.Target + QStringLiteral("IMG_0005.HEIC")), SolidHeic(64, 48, qRgb(0, 0, 200)));
    const QImage jpeg(t.Target + QStringLiteral("IMG_0005.HEIC.jpg"), "JPEG");
    ASSERT_FALSE(jpeg.isNull());
    EXPECT_EQ(jpeg.size(), QSize(64, 48));
    EXPECT_NEAR(qBlue(jpeg.pixel(32, 24)), 200, 12);
    EXPECT_NEAR(qRed(jpeg.pixel(32, 24)), 0, 12);
    // A file that cannot be decoded is still copied; the log says why no JPEG came.
    EXPECT_FALSE(QFileInfo::exists(t.Target + QStringLiteral("IMG_0006.HEIC.jpg")));
    EXPECT_TRUE(db.Log.contains(QStringLiteral("\r\n[!] IMG_0006.HEIC: no JPEG copy could be made")));
    EXPECT_EQ(db.CopyCameraPhotos(), 0);
}

TEST(PhotoCamera, FailuresAreLoggedAndTheTwentyFirstEndsTheCamera) {
    TPhotoTestDevice t;
    TIpodPhotoDb db(t.Device.get(), true);
    db.CamPhotos->Folder = t.Root + QStringLiteral("/DCIM/100APPLE/");
    for (int i = 0; i < 22; ++i)
        db.CamPhotos->Add().FileName = QStringLiteral("IMG_%1.JPG").arg(i);
    for (int i = 0; i < 22; ++i)
        db.CamPhotos->SelectItem(i);
    db.DestDir = t.Target;
    EXPECT_EQ(db.CopyCameraPhotos(), 0);
    EXPECT_TRUE(db.Log.startsWith(QStringLiteral("\r\nIMG_0.JPG: Error 2\r\n")));
    EXPECT_EQ(db.Log.count(QStringLiteral(": Error ")), 21);
    EXPECT_TRUE(db.Log.endsWith(QStringLiteral("\r\nToo many error, camera photos transfer abort.")));
}

TEST(PhotoCamera, PreviewComesFromMiscThenBesideThenTheFileItself) {
    TPhotoTestDevice t;
    const QByteArray misc = SolidJpeg(8, 8, qRgb(255, 0, 0)), beside = SolidJpeg(8, 8, qRgb(0, 255, 0));
    WriteCameraRoll(t.Root, {{QStringLiteral("IMG_1.JPG"), "own", misc, true},
                             {QStringLiteral("IMG_2.JPG"), "own", beside, false},
                             {QStringLiteral("IMG_3.JPG"), "own bytes", {}, false},
                             {QStringLiteral("IMG_4.MOV"), FakeMovie(), {}, false}});
    const QString folder = t.Device->CameraRollFolder();
    struct TCase {
        const char* Name;
        QByteArray Bytes;
        const char* Ext;
    };
    for (const TCase& c : {TCase{"IMG_1.JPG", misc, ".JPG"}, TCase{"IMG_2.JPG", beside, ".JPG"},
                           TCase{"IMG_3.JPG", "own bytes", ".JPG"}, TCase{"IMG_4.MOV", {}, ".MOV"}}) {
        TMemoryStream s;
        QString ext;
        EXPECT_TRUE(t.Device->FetchCameraPreview(folder, QString::fromLatin1(c.Name), s, ext)) << c.Name;
        EXPECT_EQ(s.ToByteArray(), c.Bytes) << c.Name;
        EXPECT_EQ(ext, QString::fromLatin1(c.Ext));
    }
}

TEST(PhotoLoad, SourcesInTheirFixedOrder) {
    struct TCase {
        bool PhotoDb, EmptyImageList, Sqlite, Camera;
        bool Result;
        const char* Source;
        int Photos;
    };
    const TCase cases[] = {
        {true, false, true, true, true, "Photo Database", 2},
        {true, true, true, false, true, "Photos.sqlite", 1},
        {false, false, false, true, true, "none", 0},
        {false, false, false, false, false, "none", 0},
        {true, true, false, false, false, "none", 0},
    };
    for (const TCase& c : cases) {
        TPhotoTestDevice t;
        if (c.PhotoDb)
            WritePhotoLibrary(t.Root, {{1024, 320, 240, 153600, 0}, {1009, 42, 30, 2520, 0}},
                              c.EmptyImageList ? 0 : 2, Picture);
        if (c.Sqlite) {
            TPhotoSqliteContent s;
            s.Assets = {{1, 0, QStringLiteral("DCIM/100APPLE"), QStringLiteral("IMG_0001.JPG")}};
            s.ThumbnailCount = 1;
            WritePhotoSqlite(t.Root, s);
        }
        if (c.Camera) WriteCameraRoll(t.Root, {{QStringLiteral("IMG_0001.JPG"), "x", {}, false}});
        TIpodPhotoDb db(t.Device.get(), true);
        EXPECT_EQ(db.LoadPhotos(), c.Result) << c.Source;
        EXPECT_EQ(db.Source, QString::fromLatin1(c.Source));
        EXPECT_EQ(db.Photos.Count(), c.Photos);
        EXPECT_EQ(db.CamPhotos->Count(), c.Camera ? 1 : 0);
        // The device's own database file is read where it lies and left alone.
        if (c.Sqlite) {
            EXPECT_TRUE(QFileInfo::exists(t.Root + QStringLiteral("/PhotoData/Photos.sqlite")));
        }
    }
}

TEST(PhotoLoad, AlbumsOfAnUnreadPhotoDatabaseDoNotMixWithTheIosLibrary) {
    TPhotoTestDevice t;
    // Album list first, then an image list whose first image is damaged.
    TPhotoDbContent c;
    c.WithImageList = false;
    c.Albums = {{QStringLiteral("From the database"), false, {1}}};
    QByteArray db = BuildPhotoDatabase(c);
    TPhotoDbContent images;
    images.Images = {TFixtureImage{}};
    images.WithAlbumList = false;
    QByteArray list = BuildPhotoDatabase(images);
    const qsizetype mhii = list.indexOf("mhii");
    list.replace(mhii, 4, "xxxx");
    // Splice the image-list section in after the album section and count it.
    const qsizetype section = list.indexOf("mhsd");
    const QByteArray imageSection =
        list.mid(section, qFromLittleEndian<quint32>(list.constData() + section + 8));
    db.insert(db.indexOf("mhsd", db.indexOf("mhla")), imageSection);
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(db.constData() + 20) + 1, db.data() + 20);
    qToLittleEndian<quint32>(quint32(db.size()), db.data() + 8);
    WriteAll(t.Root + QStringLiteral("/Photos/Photo Database"), db);
    TPhotoSqliteContent s;
    s.Assets = {{1, 0, QStringLiteral("DCIM/100APPLE"), QStringLiteral("IMG_0001.JPG")}};
    WritePhotoSqlite(t.Root, s);
    TIpodPhotoDb photos(t.Device.get(), false);
    EXPECT_TRUE(photos.LoadPhotos());
    EXPECT_TRUE(photos.Log.contains(QStringLiteral("Get info: MHII err"))) << photos.Log.toStdString();
    EXPECT_EQ(photos.Source, QStringLiteral("Photos.sqlite"));
    ASSERT_EQ(photos.Albums.Count(), 1);
    EXPECT_EQ(photos.Albums.Items(0).Name, QStringLiteral("Pictures"));
}
