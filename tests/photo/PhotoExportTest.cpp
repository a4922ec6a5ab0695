#include "CameraRollWriter.h"
#include "PhotoDbWriter.h"
#include "PhotoTestDevice.h"
#include "TestSupport.h"
#include "iPodPhoto.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

// Photo i of a format: one colour per photo, in the format's own layout.
QByteArray ColourPicture(const TFixtureFormat& f, int index) {
    switch (f.FormatId) {
    case 1019:
        return UyvyFill(index == 0 ? 235 : 81, index == 0 ? 128 : 90, index == 0 ? 128 : 240);
    case 1067:
        return YuvFill(235, 128, 128);
    case 1023:
        return Rgb16Fill(f.Width, f.Height, Rgb565(255, 0, 0), true);
    case 1081:
        return SolidJpeg(64, 48, qRgb(0, 0, 255));
    default:
        return Rgb16Fill(f.Width, f.Height, index % 2 ? Rgb565(0, 255, 0) : Rgb565(255, 255, 255));
    }
}

void SelectAll(TIpodPhotoDb& db) {
    for (int i = 0; i < db.Photos.Count(); ++i)
        db.Photos.SelectItem(i);
}

bool Near(QRgb a, QRgb b, int tolerance = 8) {
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

TEST(PhotoExport, EveryDecoderWritesItsJpegUnderTheImageId) {
    struct TCase {
        TFixtureFormat Format;
        int Width, Height;
        QRgb Colour;
    };
    const TCase cases[] = {
        {{1024, 320, 240, 153600, 0}, 320, 240, qRgb(255, 255, 255)},
        {{1019, 720, 480, 691200, 0}, 640, 480, qRgb(254, 254, 254)},
        {{1023, 176, 132, 46464, 0}, 176, 132, qRgb(255, 0, 0)},
        {{1067, 720, 480, 691200, 0}, 720, 480, qRgb(255, 255, 255)},
        {{1013, 220, 176, 77440, 0}, 220, 176, qRgb(255, 255, 255)},
    };
    for (const TCase& c : cases) {
        TPhotoTestDevice t;
        WritePhotoLibrary(t.Root, {c.Format, {1009, 42, 30, 2520, 0}}, 1, ColourPicture, 4000000000u);
        TIpodPhotoDb db(t.Device.get(), false);
        ASSERT_TRUE(db.ReadPhotoDatabase());
        ASSERT_EQ(db.CopyInfo.FormatId, int(c.Format.FormatId));
        db.DestDir = t.Target;
        SelectAll(db);
        EXPECT_EQ(db.CopySelected(), 1) << c.Format.FormatId << db.Log.toStdString();
        const QImage out(t.Target + QStringLiteral("4000000000.jpg"));
        ASSERT_FALSE(out.isNull()) << c.Format.FormatId;
        EXPECT_EQ(out.width(), c.Width);
        EXPECT_EQ(out.height(), c.Height);
        EXPECT_TRUE(Near(out.pixel(out.width() / 2, out.height() / 2), c.Colour)) << c.Format.FormatId;
    }
}

TEST(PhotoExport, JpegFormatWritesTheStoredBytesUnchanged) {
    TPhotoTestDevice t;
    const QByteArray jpeg = SolidJpeg(64, 48, qRgb(0, 0, 255));
    WritePhotoLibrary(t.Root, {{1081, 640, 480, quint32(jpeg.size()), 0}, {1009, 42, 30, 2520, 0}}, 2,
                      ColourPicture);
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase());
    db.DestDir = t.Target;
    SelectAll(db);
    EXPECT_EQ(db.CopySelected(), 2);
    EXPECT_EQ(ReadAll(t.Target + QStringLiteral("101.jpg")), jpeg);
}

TEST(PhotoExport, SecondRunWritesNothingButReportsEveryPhoto) {
    TPhotoTestDevice t;
    WritePhotoLibrary(t.Root, {{1024, 320, 240, 153600, 2}, {1009, 42, 30, 2520, 0}}, 5, ColourPicture);
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase());
    EXPECT_EQ(db.CopyInfo.FileCount, 3);
    db.DestDir = t.Target;
    SelectAll(db);
    db.Photos.DeselectItem(1);
    QStringList reported;
    db.OnFile = [&](const QString& name) { reported << name; };
    EXPECT_EQ(db.CopySelected(), 4);
    const QStringList expected = {QStringLiteral("100.jpg"), QStringLiteral("102.jpg"),
                                  QStringLiteral("103.jpg"), QStringLiteral("104.jpg")};
    EXPECT_EQ(reported, expected);
    EXPECT_FALSE(QFileInfo::exists(t.Target + QStringLiteral("101.jpg")));
    EXPECT_TRUE(Near(QImage(t.Target + QStringLiteral("102.jpg")).pixel(5, 5), qRgb(255, 255, 255)));
    EXPECT_TRUE(Near(QImage(t.Target + QStringLiteral("103.jpg")).pixel(5, 5), qRgb(0, 255, 0)));
    const auto before = TreeSnapshot(t.Target);
    reported.clear();
    EXPECT_EQ(db.CopySelected(), 0);
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(TreeSnapshot(t.Target), before);
}

TEST(PhotoExport, UnopenableThumbnailFileCostsTwoLinesAndItsPhotos) {
    TPhotoTestDevice t;
    WritePhotoLibrary(t.Root, {{1024, 320, 240, 153600, 2}, {1009, 42, 30, 2520, 0}}, 4, ColourPicture);
    QFile::remove(t.Root + QStringLiteral("/Photos/Thumbs/F1024_2.ithmb"));
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase());
    db.DestDir = t.Target;
    SelectAll(db);
    EXPECT_EQ(db.CopySelected(), 2);
    EXPECT_TRUE(db.Log.startsWith(QStringLiteral("\r\nCannot open RGB DB: 1024_2\r\n")))
        << db.Log.toStdString();
    EXPECT_TRUE(db.Log.endsWith(QStringLiteral("\r\nFile not found: F1024_2"))) << db.Log.toStdString();
}

TEST(PhotoExport, StopRequestTakesEffectAfterThePhotoBeingHandled) {
    TPhotoTestDevice t;
    WritePhotoLibrary(t.Root, {{1024, 320, 240, 153600, 2}, {1009, 42, 30, 2520, 0}}, 4, ColourPicture);
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase());
    db.DestDir = t.Target;
    SelectAll(db);
    int calls = 0;
    db.OnFile = [&](const QString&) {
        ++calls;
        db.Cancelled = true;
    };
    EXPECT_EQ(db.CopySelected(), 1);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(QFileInfo::exists(t.Target + QStringLiteral("101.jpg")));
}

namespace {

// A photo library in copy-by-path mode with the given device paths.
void PathLibrary(TIpodPhotoDb& db, const QStringList& paths) {
    db.CopyByPath = true;
    for (int i = 0; i < paths.size(); ++i) {
        TPhotoItem& p = db.Photos.Add();
        p.ImageId = quint32(i + 1);
        p.Path = paths[i];
    }
    SelectAll(db);
}

} // namespace

TEST(PhotoExport, CopyByPathSkipsSameSizeAndNumbersOthers) {
    TPhotoTestDevice t;
    WriteAll(t.Root + QStringLiteral("/Photos/F00/IMG_1.JPG"), "same");
    WriteAll(t.Root + QStringLiteral("/Photos/F01/IMG_2.JPG"), "device bytes");
    WriteAll(t.Target + QStringLiteral("IMG_1.JPG"), "SAME");
    WriteAll(t.Target + QStringLiteral("IMG_2.JPG"), "other");
    WriteAll(t.Target + QStringLiteral("1_IMG_2.JPG"), "other too");
    TIpodPhotoDb db(t.Device.get(), false);
    db.DestDir = t.Target;
    PathLibrary(db, {QStringLiteral(":F00:IMG_1.JPG"), QStringLiteral("F01:IMG_2.JPG")});
    QStringList reported;
    db.OnFile = [&](const QString& n) { reported << n; };
    EXPECT_EQ(db.CopySelected(), 1);
    EXPECT_EQ(reported, (QStringList{QStringLiteral("IMG_1.JPG"), QStringLiteral("IMG_2.JPG")}));
    EXPECT_EQ(ReadAll(t.Target + QStringLiteral("IMG_1.JPG")), QByteArray("SAME"));
    EXPECT_EQ(ReadAll(t.Target + QStringLiteral("2_1_IMG_2.JPG")), QByteArray("device bytes"));
    EXPECT_EQ(db.Log, QString());
}

TEST(PhotoExport, UnsafeDeviceNamesNeverLeaveTheTarget) {
    TPhotoTestDevice t;
    WriteAll(t.Root + QStringLiteral("/Photos/evil.jpg"), "x");
    TIpodPhotoDb db(t.Device.get(), false);
    db.DestDir = t.Target;
    PathLibrary(db, {QStringLiteral("..:..:evil.jpg"), QStringLiteral(":F00:.."),
                     QStringLiteral("../../../evil.jpg")});
    EXPECT_EQ(db.CopySelected(), 1);
    EXPECT_TRUE(QFileInfo::exists(t.Target + QStringLiteral("evil.jpg")));
    EXPECT_EQ(QDir(t.Dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              (QStringList{QStringLiteral("ipod"), QStringLiteral("out")}));
    EXPECT_TRUE(db.Log.contains(QStringLiteral(":F00:..: Error ")));
}

TEST(PhotoExport, TwentyFirstFailedCopyEndsTheOperation) {
    for (const int failures : {20, 21, 25}) {
        TPhotoTestDevice t;
        TIpodPhotoDb db(t.Device.get(), false);
        db.DestDir = t.Target;
        QStringList paths;
        for (int i = 0; i < failures; ++i)
            paths << QStringLiteral(":F00:MISSING%1.JPG").arg(i);
        PathLibrary(db, paths);
        int reported = 0;
        db.OnFile = [&](const QString&) { ++reported; };
        EXPECT_EQ(db.CopySelected(), 0);
        EXPECT_EQ(db.Log.count(QStringLiteral(": Error 2")), qMin(failures, 21));
        EXPECT_EQ(db.Log.contains(QStringLiteral("\r\nToo many error, transfer abort.")), failures > 20)
            << failures;
        EXPECT_EQ(reported, qMin(failures, 21));
    }
}

TEST(PhotoExport, DestinationEstimateAndDefaultFolder) {
    TPhotoTestDevice t;
    TIpodPhotoDb db(t.Device.get(), true);
    QString folder;
    db.DefaultDestDir(folder);
    EXPECT_TRUE(folder.endsWith(QStringLiteral("/Pictures/iPod Photos/"))) << folder.toStdString();
    QString target = t.Dir.path() + QStringLiteral("/new/folder");
    EXPECT_TRUE(db.CheckDestDir(target));
    EXPECT_EQ(db.DestDir, t.Dir.path() + QStringLiteral("/new/folder/"));
    QString onIpod = t.Root + QStringLiteral("/x");
    EXPECT_FALSE(db.CheckDestDir(onIpod));
    EXPECT_TRUE(onIpod.contains(QStringLiteral("is your iPod.")));
}
