#include "MemoryStream.h"
#include "TestSupport.h"
#include "iPodDev.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class DiskFetch : public ::testing::Test {
protected:
    void SetUp() override {
        Root = Dir.filePath(QStringLiteral("ipod"));
        QDir().mkpath(Root + QStringLiteral("/iPod_Control/iTunes"));
        qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(Root));
        Session = std::make_unique<TIpodDevice>(nullptr, nullptr, false);
        ASSERT_TRUE(Session->ScanDrives());
        Session->Log.clear();
    }
    void Put(const QString& rel, const QByteArray& bytes) { WriteAll(Root + rel, bytes); }
    QTemporaryDir Dir;
    QString Root;
    std::unique_ptr<TIpodDevice> Session;
};

TEST_F(DiskFetch, WholeFileReadsAndTheirLogLines) {
    TMemoryStream s;
    EXPECT_FALSE(Session->ReadFileToStream(QStringLiteral("/iPod_Control/iTunes/nothing"), s));
    EXPECT_EQ(Session->Log, QStringLiteral("\r\nNot found: /iPod_Control/iTunes/nothing"));
    Put(QStringLiteral("/iPod_Control/iTunes/iTunesDB"), "plain");
    bool compressed = true;
    ASSERT_TRUE(Session->ReadMusicDatabase(s, compressed));
    EXPECT_FALSE(compressed);
    EXPECT_EQ(s.ToByteArray(), QByteArray("plain"));
    Put(QStringLiteral("/iPod_Control/iTunes/iTunesCDB"), "packed");
    ASSERT_TRUE(Session->ReadMusicDatabase(s, compressed));
    EXPECT_TRUE(compressed);
    EXPECT_EQ(s.ToByteArray(), QByteArray("packed"));
    EXPECT_EQ(s.Position, 0);
    Put(QStringLiteral("/Photos/Photo Database"), "photos");
    ASSERT_TRUE(Session->LoadPhotoDatabase(s));
    EXPECT_EQ(s.ToByteArray(), QByteArray("photos"));
}

TEST_F(DiskFetch, LibraryFilesAreTheDevicesOwnFiles) {
    QString path = QStringLiteral("x");
    Session->FetchLibraryFile(QStringLiteral("Library.itdb"), true, path);
    EXPECT_EQ(path, QString());
    EXPECT_EQ(Session->Log, QString());
    Put(QStringLiteral("/iPod_Control/iTunes/iTunes Library.itlp/Library.itdb"), "db");
    Session->FetchLibraryFile(QStringLiteral("Library.itdb"), true, path);
    EXPECT_EQ(path, Root + QStringLiteral("/iPod_Control/iTunes/iTunes Library.itlp/Library.itdb"));
    Put(QStringLiteral("/iPod_Control/iTunes/MediaLibrary.sqlitedb"), "db");
    Session->FetchLibraryFile(QStringLiteral("MediaLibrary.sqlitedb"), false, path);
    EXPECT_EQ(path, Root + QStringLiteral("/iPod_Control/iTunes/MediaLibrary.sqlitedb"));
    Put(QStringLiteral("/PhotoData/Photos.sqlite"), "db");
    Session->FetchPhotoDataFile(QStringLiteral("Photos.sqlite"), QString(), path);
    EXPECT_EQ(path, Root + QStringLiteral("/PhotoData/Photos.sqlite"));
    Session->FetchBooksPlist(false, path);
    EXPECT_EQ(path, QString());
    EXPECT_TRUE(Session->WorkFile.isEmpty()); // disk mode needs no work file
}

TEST_F(DiskFetch, CopiesNeverOverwriteAndStayInsideTheDevice) {
    Put(QStringLiteral("/iPod_Control/Music/F00/A.mp3"), "song");
    const QString target = Dir.filePath(QStringLiteral("A.mp3"));
    EXPECT_EQ(Session->CopyFromDevice(QStringLiteral(":iPod_Control:Music:F00:A.mp3"), target), 0);
    EXPECT_EQ(ReadAll(target), QByteArray("song"));
    Put(QStringLiteral("/iPod_Control/Music/F00/B.mp3"), "other");
    EXPECT_EQ(Session->CopyFromDevice(QStringLiteral(":iPod_Control:Music:F00:B.mp3"), target), 17);
    EXPECT_EQ(ReadAll(target), QByteArray("song"));
    EXPECT_EQ(Session->CopyFromDevice(QStringLiteral(":iPod_Control:Music:F00:gone.mp3"), Dir.filePath(QStringLiteral("g"))), 2);
    EXPECT_FALSE(QFileInfo::exists(Dir.filePath(QStringLiteral("g"))));
    // A location that climbs out of the device is read inside it, or not at all.
    WriteAll(Dir.filePath(QStringLiteral("secret")), "secret");
    EXPECT_NE(Session->CopyFromDevice(QStringLiteral(":..:secret"), Dir.filePath(QStringLiteral("s"))), 0);
    EXPECT_EQ(Session->DeviceFileSize(QStringLiteral(":..:secret")), 0);
    EXPECT_EQ(Session->DeviceFileSize(QStringLiteral(":iPod_Control:Music:F00:B.mp3")), 5);
    EXPECT_TRUE(Session->FileExistsOnDevice(QStringLiteral("/iPod_Control/Music/F00/B.mp3")));
    EXPECT_TRUE(Session->FileExistsOnDevice(QStringLiteral("\\iPod_Control\\Music\\F00\\B.mp3")));
    EXPECT_FALSE(Session->FileExistsOnDevice(QStringLiteral("/../secret")));
    QString playable;
    Session->FetchPlayableFile(QStringLiteral(":iPod_Control:Music:F00:B.mp3"), playable);
    EXPECT_EQ(playable, Root + QStringLiteral("/iPod_Control/Music/F00/B.mp3"));
}

TEST_F(DiskFetch, LocalFileSizeBeyondFourGigabytes) {
    const QString name = Dir.filePath(QStringLiteral("sparse"));
    const int fd = ::open(QFile::encodeName(name).constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, (qint64(5) << 30) + 3), 0);
    ::close(fd);
    EXPECT_EQ(TIpodDevice::LocalFileSize(name), (qint64(5) << 30) + 3);
    EXPECT_TRUE(TIpodDevice::HasLocalSize(name, (qint64(5) << 30) + 3));
    EXPECT_EQ(TIpodDevice::LocalFileSize(Dir.filePath(QStringLiteral("none"))), 0);
}

TEST_F(DiskFetch, ThumbnailReadsAtOffsets) {
    EXPECT_FALSE(Session->OpenThumbFile(QStringLiteral("F1019_1"), 16));
    EXPECT_EQ(Session->Log, QStringLiteral("\r\nFile not found: F1019_1"));
    Put(QStringLiteral("/Photos/Thumbs/F1019_1.ithmb"), "0123456789");
    ASSERT_TRUE(Session->OpenThumbFile(QStringLiteral("F1019_1"), 16));
    TMemoryStream s;
    EXPECT_TRUE(Session->ReadThumb(4, s, 3));
    EXPECT_EQ(s.ToByteArray(), QByteArray("3456"));
    EXPECT_EQ(s.Position, 0);
    TMemoryStream past;
    EXPECT_FALSE(Session->ReadThumb(4, past, 8)); // only two bytes are there
    Session->CloseThumbFile();
    EXPECT_FALSE(Session->ReadThumb(1, past, 0));
    EXPECT_TRUE(Session->Log.endsWith(QStringLiteral("\r\nSeek error")));
}

TEST_F(DiskFetch, CameraRollListAndPreviews) {
    const QString roll = QStringLiteral("/DCIM/100APPLE/");
    Put(roll + QStringLiteral("IMG_0001.JPG"), "jpeg1");
    Put(roll + QStringLiteral("IMG_0002.MOV"), "movie");
    Put(roll + QStringLiteral("IMG_0002.THM"), "thumb2");
    Put(roll + QStringLiteral("IMG_0003.MOV"), "movie3");
    Put(roll + QStringLiteral(".MISC/IMG_0004.THM"), "misc4");
    Put(roll + QStringLiteral("IMG_0004.MP4"), "movie4");
    Put(roll + QStringLiteral("other.jpg"), "not listed");
    QDir().mkpath(Root + roll + QStringLiteral("IMG_DIR.X"));
    QStringList list;
    EXPECT_EQ(Session->ListCameraRoll(list), 4);
    list.sort();
    EXPECT_EQ(list, (QStringList{QStringLiteral("IMG_0001.JPG"), QStringLiteral("IMG_0002.MOV"),
                                 QStringLiteral("IMG_0003.MOV"), QStringLiteral("IMG_0004.MP4")}));
    const QString folder = Session->CameraRollFolder();
    EXPECT_EQ(folder, Root + roll);
    const struct {
        const char* Name;
        bool Ok;
        const char* Ext;
        QByteArray Bytes;
    } cases[] = {{"IMG_0004.MP4", true, ".JPG", "misc4"},
                 {"IMG_0002.MOV", true, ".JPG", "thumb2"},
                 {"IMG_0003.MOV", true, ".MOV", ""},
                 {"IMG_0001.JPG", true, ".JPG", "jpeg1"},
                 {"IMG_0009.JPG", false, ".JPG", ""},
                 {"../../secret.JPG", false, ".JPG", ""}};
    for (const auto& c : cases) {
        TMemoryStream s;
        QString ext;
        EXPECT_EQ(Session->FetchCameraPreview(folder, QString::fromLatin1(c.Name), s, ext), c.Ok) << c.Name;
        EXPECT_EQ(ext, QString::fromLatin1(c.Ext)) << c.Name;
        EXPECT_EQ(s.ToByteArray(), c.Bytes) << c.Name;
    }
    EXPECT_TRUE(Session->Log.contains(QStringLiteral("\r\nNot found: ") + Root + roll + QStringLiteral("IMG_0009.JPG")));
}

} // namespace
