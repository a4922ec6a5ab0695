// A photo database cut or corrupted at any byte is read without crash, overrun or hang,
// and exporting what was read writes nothing outside the target folder.
#include "PhotoDbWriter.h"
#include "PhotoTestDevice.h"
#include "QuenlorError.h"
#include "TestSupport.h"
#include "iPodPhoto.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QByteArray SmallPicture(const TFixtureFormat& f, int index) {
    return Rgb16Fill(f.Width, f.Height, quint16(0x1234 + index));
}

// Reads the database and exports every photo read; checks that only image-id names
// appear in the target and nothing else beside it.
void ReadAndExport(TPhotoTestDevice& t, const QByteArray& db, const char* what, qsizetype at) {
    WriteAll(t.Root + QStringLiteral("/Photos/Photo Database"), db);
    for (const QString& name : QDir(t.Target).entryList(QDir::Files))
        QFile::remove(t.Target + name);
    TIpodPhotoDb photos(t.Device.get(), false);
    photos.DestDir = t.Target;
    const bool ok = photos.ReadPhotoDatabase();
    ASSERT_LE(photos.Photos.Count(), 3) << what << at;
    if (!ok) return;
    for (int i = 0; i < photos.Albums.Count(); ++i)
        ASSERT_LE(photos.Albums.Items(i).Count, 100) << what << at;
    for (int i = 0; i < photos.Photos.Count(); ++i)
        photos.Photos.SelectItem(i);
    try {
        photos.CopySelected();
    } catch (const EQuenlorError&) {
        // a picture the header cannot describe ends the transfer; that is allowed
    }
    t.Device->Log.clear();
    static const QRegularExpression idName(QStringLiteral("^[0-9]+\\.jpg$"));
    const QStringList out = QDir(t.Target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : out)
        ASSERT_TRUE(idName.match(name).hasMatch()) << what << at << " " << name.toStdString();
    const QStringList beside =
        QDir(t.Dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    ASSERT_EQ(beside, (QStringList{QStringLiteral("ipod"), QStringLiteral("out")})) << what << at;
}

} // namespace

TEST(PhotoDatabaseDamage, CutAtEveryByteOrCorruptedAtEveryByte) {
    TPhotoTestDevice t(true);
    TFixtureAlbum extra;
    extra.Name = QStringLiteral("Two");
    extra.ImageIds = {101, 102};
    const QByteArray db = WritePhotoLibrary(t.Root, {{1017, 56, 56, 6272, 2}, {1009, 42, 30, 2520, 0}}, 3,
                                            SmallPicture, 100, {extra});
    for (qsizetype cut = 0; cut < db.size(); ++cut) {
        ReadAndExport(t, db.left(cut), "cut at ", cut);
        if (HasFatalFailure()) return;
    }
    for (qsizetype at = 0; at < db.size(); ++at)
        for (const char value : {char(0x00), char(0xFF), char(0x01)}) {
            QByteArray bad = db;
            bad[at] = value;
            ReadAndExport(t, bad, "corrupt at ", at);
            if (HasFatalFailure()) return;
        }
}

TEST(PhotoDatabaseDamage, ThumbnailFileCutShortLeavesLaterPhotosOut) {
    TPhotoTestDevice t;
    WritePhotoLibrary(t.Root, {{1017, 56, 56, 6272, 0}, {1009, 42, 30, 2520, 0}}, 3, SmallPicture);
    const QString file = t.Root + QStringLiteral("/Photos/Thumbs/F1017_1.ithmb");
    WriteAll(file, ReadAll(file).left(6272 * 2 + 100));
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase());
    db.DestDir = t.Target;
    for (int i = 0; i < db.Photos.Count(); ++i)
        db.Photos.SelectItem(i);
    EXPECT_EQ(db.CopySelected(), 2);
    EXPECT_TRUE(QFileInfo::exists(t.Target + QStringLiteral("101.jpg")));
    EXPECT_FALSE(QFileInfo::exists(t.Target + QStringLiteral("102.jpg")));
}

TEST(PhotoDatabaseDamage, HugeFileNumberDoesNotMakeTheExportTryEveryFile) {
    TPhotoTestDevice t;
    TPhotoDbContent c;
    TFixtureImage image;
    image.ImageId = 1;
    TFixturePicture copy{1017, 0, 6272, 56, 56, 0, 0, QStringLiteral("F1017_2000000000.ithmb"), false};
    TFixturePicture thumb{1009, 0, 2520, 42, 30, 0, 0, QStringLiteral("F1009_1.ithmb"), false};
    image.Pictures = {copy, thumb};
    c.Images = {image};
    WriteAll(t.Root + QStringLiteral("/Photos/Photo Database"), BuildPhotoDatabase(c));
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.ReadPhotoDatabase());
    EXPECT_EQ(db.CopyInfo.FileCount, 2000000000);
    db.DestDir = t.Target;
    db.Photos.SelectItem(0);
    EXPECT_EQ(db.CopySelected(), 0);
    EXPECT_EQ(db.Log.count(QStringLiteral("Cannot open RGB DB")), 1);
}
