// A mobile-mode session over the fake device library: the notification reaching the
// owner on its thread, loading the device's music library and books list, the fetch
// and copy operations, and the command-line tool finding the device.
#include "BinaryPlist.h"
#include "MemoryStream.h"
#include "MobileTestSupport.h"
#include "SqliteLibraryWriter.h"
#include "TestSupport.h"
#include "iPodDev.h"
#include "iPodMusic.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

struct TChange {
    bool Connected;
    bool Mobile;
    bool OnOwnerThread;
    bool operator==(const TChange& o) const {
        return Connected == o.Connected && Mobile == o.Mobile && OnOwnerThread == o.OnOwnerThread;
    }
};

std::ostream& operator<<(std::ostream& os, const TChange& c) {
    return os << "(" << c.Connected << "," << c.Mobile << "," << c.OnOwnerThread << ")";
}

class MobileSession : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(Fake.Work() + QStringLiteral("/none")));
    }
    void TearDown() override { qunsetenv("QUENLOR_DEVICE_ROOTS"); }

    std::unique_ptr<TIpodDevice> Start() {
        auto s = std::make_unique<TIpodDevice>(
            [this](bool c, bool m) {
                Changes.push_back({c, m, QThread::currentThread() == qApp->thread()});
            },
            nullptr, false);
        s->ScanDrives();
        return s;
    }
    bool WaitChanges(size_t n) {
        return WaitFor([&] { return Changes.size() >= n; });
    }

    void WriteLibrary() {
        TSqlLibraryContent content;
        content.BaseLocations = {{1, QStringLiteral("iTunes_Control/Music/F00")}};
        content.MasterPid = 1;
        for (int i = 0; i < 3; ++i) {
            TSqlTrack t;
            t.Pid = 100 + i;
            t.Title = QStringLiteral("Song %1").arg(i);
            t.Artist = QStringLiteral("Artist");
            t.Album = QStringLiteral("Album");
            t.Location = QStringLiteral("S%1.mp3").arg(i);
            t.FileSize = 1000 + i;
            content.Tracks.append(t);
            Fake.AddFile(QStringLiteral("iTunes_Control/Music/F00/S%1.mp3").arg(i), Pattern(1000 + i, i));
        }
        content.Playlists.append({1, QStringLiteral("Library"), false, false, {100, 101, 102}, 0});
        // The third song is only in the -wal file.
        QDir().mkpath(Fake.Root() + QStringLiteral("/iTunes_Control/iTunes"));
        ::WriteMediaLibrary(Fake.Root() + QStringLiteral("/iTunes_Control/iTunes/MediaLibrary.sqlitedb"),
                            content, 2);
        Fake.AddFile(
            QStringLiteral("Books/Books.plist"),
            BinaryBooksPlist(
                {{QStringLiteral("Folder Book"), QStringLiteral("Writer"), QStringLiteral("Folder.epub")},
                 {QStringLiteral("Flat Book"), QStringLiteral("Writer"), QStringLiteral("flat.pdf")}}));
    }

    TFakeDevice Fake;
    std::vector<TChange> Changes;
};

TEST_F(MobileSession, NotificationReachesTheOwnerAndTheLibraryLoads) {
    WriteLibrary();
    auto s = Start();
    EXPECT_FALSE(s->MobileUnavailable);
    ASSERT_TRUE(WaitChanges(1));
    EXPECT_EQ(Changes, (std::vector<TChange>{{true, true, true}}));
    EXPECT_TRUE(s->Connected);
    EXPECT_TRUE(s->IsMobile);
    EXPECT_FALSE(s->CanEject);

    TIpodMusicDb db(s.get());
    ASSERT_TRUE(db.Load(true)) << db.Log.toStdString();
    EXPECT_EQ(db.Source, QStringLiteral("MediaLibrary.sqlitedb"));
    QStringList titles;
    for (int i = 0; i < db.Tracks.Count(); ++i)
        titles << db.Tracks[i].Title + QLatin1Char('|') + db.Tracks[i].Location;
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Song 0|iTunes_Control/Music/F00/S0.mp3"),
                                   QStringLiteral("Song 1|iTunes_Control/Music/F00/S1.mp3"),
                                   QStringLiteral("Song 2|iTunes_Control/Music/F00/S2.mp3"),
                                   QStringLiteral("Folder Book|Books/Folder.epub"),
                                   QStringLiteral("Flat Book|Books/flat.pdf")}));
    EXPECT_EQ(db.Tracks[3].MediaKind, MediaBooks);
    EXPECT_EQ(db.Tracks[3].Artist, QStringLiteral("Writer"));
    // The fetched copies are gone again.
    ASSERT_FALSE(s->WorkFile.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(s->WorkFile));
    EXPECT_FALSE(QFileInfo::exists(s->WorkFile + QStringLiteral("-wal")));
    EXPECT_EQ(Fake.Counter("write_attempts"), 0);

    // Removals and arrivals reach the owner in their order, on its thread.
    for (int e : {2, 1, 2, 1})
        Fake.PostEvent(e);
    ASSERT_TRUE(WaitChanges(5));
    EXPECT_EQ(Changes, (std::vector<TChange>{{true, true, true},
                                             {false, true, true},
                                             {true, true, true},
                                             {false, true, true},
                                             {true, true, true}}));
    EXPECT_TRUE(s->IsMobile);
}

TEST_F(MobileSession, DiskSessionIgnoresMobileDevicesAndDoesNotAnnounceThemLater) {
    const QString ipod = Fake.Work() + QStringLiteral("/ipod");
    QDir().mkpath(ipod + QStringLiteral("/iPod_Control/iTunes"));
    qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(ipod));
    Fake.Unset("QUENLOR_FAKE_ROOT"); // no mobile device yet
    auto s = Start();
    ASSERT_TRUE(s->Connected);
    ASSERT_FALSE(s->IsMobile);
    Fake.Set("QUENLOR_FAKE_ROOT", QFile::encodeName(Fake.Root()));
    Fake.PostEvent(1);
    ASSERT_TRUE(Fake.WaitDelivered(1));
    WaitFor([] { return false; }, 50);
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, ipod});
    WaitFor([] { return false; }, 50);
    EXPECT_EQ(Changes, (std::vector<TChange>{{true, false, true}, {false, false, true}}));
    EXPECT_FALSE(s->IsMobile);
}

TEST_F(MobileSession, SessionFreedWhileEventsArriveIsNotCalled) {
    bool alive = true;
    for (int round = 0; round < 10; ++round) {
        auto s = std::make_unique<TIpodDevice>([&alive](bool, bool) { EXPECT_TRUE(alive); }, nullptr, false);
        for (int e : {1, 2, 1, 3, 2})
            Fake.PostEvent(e);
        if (round % 2) WaitFor([] { return false; }, 3);
        alive = false;
        s.reset();
        WaitFor([] { return false; }, 10);
        alive = true;
    }
}

TEST_F(MobileSession, FetchAndCopyFailuresAreReportedAndLeaveNoFiles) {
    Fake.AddFile(QStringLiteral("iTunes_Control/Music/F00/A.mp3"), Pattern(5 * 1048576, 9));
    Fake.AddFile(QStringLiteral("PhotoData/Thumbnails/F3141"), Pattern(2000, 3));
    Fake.AddFile(QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"), "jpg");
    Fake.AddFile(QStringLiteral("DCIM/100APPLE/IMG_0001.THM"), "thm");
    Fake.AddFile(QStringLiteral("DCIM/100APPLE/IMG_0002.MOV"), "mov");
    Fake.AddFile(QStringLiteral("Books/Purchases/Purchases.plist"), "bplist00 not really");
    auto s = Start();
    ASSERT_TRUE(WaitChanges(1));

    QString path;
    s->FetchLibraryFile(QStringLiteral("Library.itdb"), true, path);
    EXPECT_TRUE(path.isEmpty());
    EXPECT_TRUE(s->Log.endsWith(QStringLiteral(
        "\r\nCopy itdb failed: Not found: /iTunes_Control/iTunes/iTunes Library.itlp/Library.itdb")));
    s->FetchBooksPlist(true, path);
    EXPECT_TRUE(path.isEmpty());
    EXPECT_TRUE(s->Log.contains(QStringLiteral("\r\nConvert bookplist failed: ")));
    EXPECT_FALSE(QFileInfo::exists(s->WorkFile));

    const QString dest = Fake.Work() + QStringLiteral("/A.mp3");
    EXPECT_EQ(s->CopyFromDevice(QStringLiteral(":iTunes_Control:Music:F00:A.mp3"), dest), 0);
    EXPECT_EQ(ReadAll(dest), Pattern(5 * 1048576, 9));
    EXPECT_EQ(s->CopyFromDevice(QStringLiteral(":iTunes_Control:Music:F00:A.mp3"), dest), 17);
    EXPECT_EQ(s->DeviceFileSize(QStringLiteral(":iTunes_Control:Music:F00:A.mp3")), 5 * 1048576);

    Fake.Set("QUENLOR_FAKE_READ_ERROR_AT", "4000000");
    const QString failed = Fake.Work() + QStringLiteral("/B.mp3");
    EXPECT_EQ(s->CopyFromDevice(QStringLiteral(":iTunes_Control:Music:F00:A.mp3"), failed), 2);
    EXPECT_TRUE(s->Log.endsWith(QStringLiteral("\r\nCopy fail: Read error: 4")));
    EXPECT_EQ(QDir(Fake.Work()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("A.mp3")});
    Fake.Unset("QUENLOR_FAKE_READ_ERROR_AT");

    // Thumbnails: the second folder's file is opened by its name as given.
    ASSERT_TRUE(s->OpenThumbFile(QStringLiteral("F3141"), 1000));
    TMemoryStream thumb;
    ASSERT_TRUE(s->ReadThumb(500, thumb, 1000));
    EXPECT_EQ(thumb.ToByteArray(), Pattern(2000, 3).mid(1000, 500));
    TMemoryStream past;
    EXPECT_FALSE(s->ReadThumb(500, past, 1800));
    s->CloseThumbFile();
    EXPECT_EQ(Fake.Counter("open_files"), 0);

    QStringList roll;
    EXPECT_EQ(s->ListCameraRoll(roll), 2);
    roll.sort();
    EXPECT_EQ(roll, (QStringList{QStringLiteral("IMG_0001.JPG"), QStringLiteral("IMG_0002.MOV")}));
}

TEST_F(MobileSession, DeviceGoingAwayMidCopyFailsTheCopyAndEndsTheSession) {
    Fake.AddFile(QStringLiteral("iTunes_Control/Music/F00/A.mp3"), Pattern(10 * 1048576, 9));
    Fake.Set("QUENLOR_FAKE_GONE_AT", QByteArray::number(7 * 1048576));
    auto s = Start();
    ASSERT_TRUE(WaitChanges(1));
    const QString dest = Fake.Work() + QStringLiteral("/A.mp3");
    EXPECT_EQ(s->CopyFromDevice(QStringLiteral(":iTunes_Control:Music:F00:A.mp3"), dest), 2);
    EXPECT_TRUE(s->Log.endsWith(QStringLiteral("\r\nCopy fail: Read error: 30")));
    EXPECT_TRUE(QDir(Fake.Work()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    ASSERT_TRUE(WaitChanges(2));
    EXPECT_EQ(Changes.back(), (TChange{false, true, true}));
    EXPECT_FALSE(s->Connected);
}

// The command-line tool in its own process, with the fake as its device library.
struct TCliRun {
    int Exit = -1;
    QString Out;
    QString Err;
};

TCliRun RunCli(const QStringList& args, const QList<QPair<QString, QString>>& env) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& key : e.keys())
        if (key.startsWith(QLatin1String("QUENLOR_FAKE_")) ||
            key == QLatin1String("QUENLOR_MOBILEDEVICE_LIB"))
            e.remove(key);
    e.insert(QStringLiteral("QUENLOR_DEVICE_ROOTS"), QStringLiteral("/nonexistent-quenlor"));
    for (const auto& [k, v] : env)
        e.insert(k, v);
    p.setProcessEnvironment(e);
    p.start(QStringLiteral(QUENLOR_CLI), args);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST_F(MobileSession, CommandLineToolServesTheMobileDevice) {
    WriteLibrary();
    const QList<QPair<QString, QString>> base = {
        {QStringLiteral("QUENLOR_MOBILEDEVICE_LIB"), QStringLiteral(QUENLOR_FAKE_LIB)},
        {QStringLiteral("QUENLOR_FAKE_ROOT"), Fake.Root()},
        {QStringLiteral("QUENLOR_MOBILE_WAIT_MS"), QStringLiteral("3000")}};
    const TCliRun ok = RunCli({QStringLiteral("list")}, base);
    EXPECT_EQ(ok.Exit, 0) << ok.Err.toStdString();
    EXPECT_TRUE(ok.Out.contains(QStringLiteral("Song 2"))) << ok.Out.toStdString();
    EXPECT_TRUE(ok.Out.contains(QStringLiteral("Folder Book")));

    const QString to = Fake.Work() + QStringLiteral("/cli-copy");
    const TCliRun copy = RunCli({QStringLiteral("copy"), QStringLiteral("--to"), to, QStringLiteral("--kind"),
                                 QStringLiteral("music")},
                                base);
    EXPECT_EQ(copy.Exit, 0) << copy.Err.toStdString();
    EXPECT_EQ(ReadAll(to + QStringLiteral("/Song 2.mp3")), Pattern(1002, 2));

    auto refused = base;
    refused.append({QStringLiteral("QUENLOR_FAKE_PAIRED"), QStringLiteral("0")});
    refused.append({QStringLiteral("QUENLOR_FAKE_PAIRING"), QStringLiteral("refuse")});
    refused.append({QStringLiteral("QUENLOR_MOBILE_WAIT_MS"), QStringLiteral("1000")});
    const TCliRun notPaired = RunCli({QStringLiteral("list")}, refused);
    EXPECT_EQ(notPaired.Exit, 3);
    EXPECT_TRUE(notPaired.Err.contains(QStringLiteral("Pair failed: -18 (Run iTunes to pair the device)")))
        << notPaired.Err.toStdString();
    EXPECT_TRUE(notPaired.Err.contains(QStringLiteral("not paired with this computer")));

    // The real libraries with no device attached: subscribed, and simply no device.
    const TCliRun real =
        RunCli({QStringLiteral("list")}, {{QStringLiteral("QUENLOR_MOBILE_WAIT_MS"), QStringLiteral("300")}});
    EXPECT_EQ(real.Exit, 3);
    EXPECT_FALSE(real.Err.contains(QStringLiteral("Cannot access iPhone/iTouch/iPad.")))
        << real.Err.toStdString();

    const TCliRun missing =
        RunCli({QStringLiteral("list")},
               {{QStringLiteral("QUENLOR_MOBILEDEVICE_LIB"), QStringLiteral("/nonexistent/libfake.so")}});
    EXPECT_EQ(missing.Exit, 3);
    EXPECT_TRUE(
        missing.Err.contains(QStringLiteral("Cannot load the iTunes Dll, requires iTunes 7.5 or above.")));
    EXPECT_TRUE(missing.Err.contains(QStringLiteral("Cannot access iPhone/iTouch/iPad.")));
    EXPECT_TRUE(missing.Err.contains(QStringLiteral("the mobile device library is missing")))
        << missing.Err.toStdString();
}

} // namespace
