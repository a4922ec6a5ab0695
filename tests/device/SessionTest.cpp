#include "TestSupport.h"
#include "iPodDev.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

namespace {

struct TEvent {
    bool Connected;
    bool Mobile;
    bool operator==(const TEvent&) const = default;
};

// Device roots in a temporary folder, made known as removable drives.
class Session : public ::testing::Test {
protected:
    QString MakeIpod(const QString& name) {
        const QString root = Dir.filePath(name);
        QDir().mkpath(root + QStringLiteral("/iPod_Control/iTunes"));
        return root;
    }
    QString MakeStick(const QString& name) {
        const QString root = Dir.filePath(name);
        QDir().mkpath(root + QStringLiteral("/Documents"));
        return root;
    }
    std::unique_ptr<TIpodDevice> Start(const QStringList& roots) {
        qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(roots.join(QLatin1Char(':'))));
        return std::make_unique<TIpodDevice>([this](bool c, bool m) { Events.append({c, m}); }, nullptr, false);
    }
    QTemporaryDir Dir;
    QList<TEvent> Events;
};

TEST_F(Session, ScanTakesTheFirstDriveHoldingAnIpod) {
    const QString stick = MakeStick(QStringLiteral("a-stick"));
    const QString first = MakeIpod(QStringLiteral("b-ipod"));
    const QString second = MakeIpod(QStringLiteral("c-ipod"));
    auto s = Start({stick, first, second});
    ASSERT_TRUE(s->ScanDrives());
    EXPECT_EQ(s->Root, first);
    EXPECT_TRUE(s->Connected);
    EXPECT_TRUE(s->CanEject);
    EXPECT_FALSE(s->IsMobile);
    EXPECT_EQ(Events, (QList<TEvent>{{true, false}}));
}

TEST_F(Session, ScanWithoutIpodReportsNothing) {
    auto s = Start({MakeStick(QStringLiteral("stick"))});
    EXPECT_FALSE(s->ScanDrives());
    EXPECT_FALSE(s->Connected);
    EXPECT_TRUE(Events.isEmpty());
}

TEST_F(Session, MissingMobileLibraryIsLoggedAndDiskIpodsStillServed) {
    auto s = Start({MakeIpod(QStringLiteral("ipod"))});
    if (s->MobileUnavailable) {
        EXPECT_TRUE(s->Log.contains(QStringLiteral("\r\nCannot access iPhone/iTouch/iPad.")));
    }
    EXPECT_TRUE(s->ScanDrives());
}

TEST_F(Session, VolumeMessagesStartAndEndTheDiskSession) {
    const QString ipod = MakeIpod(QStringLiteral("ipod"));
    const QString other = MakeIpod(QStringLiteral("other"));
    auto s = Start({ipod, other});
    // An arrival on a drive that is no removable drive is not tested further.
    EXPECT_EQ(s->WndProc({WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, Dir.path()}), 0);
    EXPECT_FALSE(s->Connected);
    // Only volume broadcasts count.
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 5, ipod});
    EXPECT_FALSE(s->Connected);
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, ipod});
    EXPECT_TRUE(s->Connected);
    EXPECT_EQ(s->Root, ipod);
    // A second arrival while in session is ignored.
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, other});
    EXPECT_EQ(s->Root, ipod);
    // The removal query is refused unless the user agreed to eject.
    EXPECT_EQ(s->WndProc({WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, 6, {}}), BROADCAST_QUERY_DENY);
    s->EjectOnClose = true;
    EXPECT_EQ(s->WndProc({WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, 6, {}}), 0);
    // Removal of another volume changes nothing; removal of ours ends the session.
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, other});
    EXPECT_TRUE(s->Connected);
    EXPECT_EQ(s->WndProc({WM_DEVICECHANGE + 1, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, ipod}), 0);
    EXPECT_TRUE(s->Connected);
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, ipod});
    EXPECT_FALSE(s->Connected);
    EXPECT_FALSE(s->CanEject);
    EXPECT_EQ(s->Root, QString());
    EXPECT_TRUE(s->Log.endsWith(QStringLiteral("\r\n[!]: Lost iPod, please connect iPod to try again")));
    EXPECT_EQ(Events, (QList<TEvent>{{true, false}, {false, false}}));
}

TEST_F(Session, MobileEventsFollowTheStateTable) {
    const QString ipod = MakeIpod(QStringLiteral("ipod"));
    auto s = Start({ipod});
    s->MobileDeviceChanged(false); // a disconnect while idle still reaches the window
    s->MobileDeviceChanged(true);
    EXPECT_TRUE(s->Connected);
    EXPECT_TRUE(s->IsMobile);
    EXPECT_FALSE(s->CanEject);
    // Volume messages are not examined during a mobile session.
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, ipod});
    EXPECT_TRUE(s->IsMobile);
    EXPECT_EQ(s->WndProc({WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, 6, {}}), 0);
    s->MobileDeviceChanged(false);
    EXPECT_FALSE(s->Connected);
    // A disk session ignores the bridge, and the ignored device is not announced later.
    ASSERT_TRUE(s->ScanDrives());
    s->MobileDeviceChanged(true);
    s->MobileDeviceChanged(false);
    EXPECT_FALSE(s->IsMobile);
    s->WndProc({WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, ipod});
    EXPECT_EQ(Events, (QList<TEvent>{{false, true}, {true, true}, {false, true}, {true, false}, {false, false}}));
}

TEST_F(Session, MobileEventFromAnotherThreadReachesTheOwnerOnItsThread) {
    auto s = Start({});
    QThread* seen = nullptr;
    s->OnChange = [&](bool, bool) { seen = QThread::currentThread(); };
    std::thread bridge([&] { s->MobileDeviceChanged(true); });
    bridge.join();
    EXPECT_EQ(seen, nullptr); // not before the owner's thread runs its events
    ASSERT_TRUE(WaitFor([&] { return seen != nullptr; }));
    EXPECT_EQ(seen, QThread::currentThread());
    EXPECT_TRUE(s->IsMobile);
}

TEST_F(Session, CheckDestFolderMessages) {
    const QString ipod = MakeIpod(QStringLiteral("ipod"));
    auto s = Start({ipod});
    ASSERT_TRUE(s->ScanDrives());

    QString onIpod = ipod + QStringLiteral("/Music/Out");
    EXPECT_FALSE(s->CheckDestFolder(onIpod, 0));
    EXPECT_EQ(onIpod, ipod + QStringLiteral(" is your iPod.\rYou cannot transfer the files from iPod to iPod. "
                                            "Please choose another folder in your computer."));
    EXPECT_FALSE(QFileInfo::exists(ipod + QStringLiteral("/Music")));

    // A folder beside the device folder is on the computer's own disk: allowed.
    QString beside = Dir.filePath(QStringLiteral("out/deeper"));
    ASSERT_TRUE(s->CheckDestFolder(beside, 0)) << beside.toStdString();
    EXPECT_EQ(beside, Dir.filePath(QStringLiteral("out/deeper/")));
    EXPECT_TRUE(QFileInfo(beside).isDir());

    QString tooBig = Dir.filePath(QStringLiteral("big"));
    EXPECT_FALSE(s->CheckDestFolder(tooBig, qint64(1) << 62));
    EXPECT_TRUE(tooBig.endsWith(QStringLiteral(" hasn't enough free disk space to save all the selected items.\r"
                                               "Please choose another place to try again.")));
    EXPECT_FALSE(QFileInfo::exists(Dir.filePath(QStringLiteral("big"))));

    QString relative = QStringLiteral("relative/folder");
    EXPECT_FALSE(s->CheckDestFolder(relative, 0));
    EXPECT_TRUE(relative.contains(QStringLiteral("hasn't enough free disk space")));

    const QString file = Dir.filePath(QStringLiteral("a-file"));
    WriteAll(file, "x");
    QString underFile = file + QStringLiteral("/sub");
    EXPECT_FALSE(s->CheckDestFolder(underFile, 0));
    EXPECT_EQ(underFile, QStringLiteral("Can not create the folder: ") + file +
                             QStringLiteral("/sub\rPlease choose another place."));
}

TEST(SessionFolders, MusicAndPicturesFolders) {
    EXPECT_TRUE(TIpodDevice::SpecialFolder(false).endsWith(QLatin1Char('/')));
    EXPECT_TRUE(TIpodDevice::SpecialFolder(true).endsWith(QLatin1Char('/')));
    EXPECT_NE(TIpodDevice::SpecialFolder(false), TIpodDevice::SpecialFolder(true));
    EXPECT_EQ(TIpodDevice::ShellFolderPath(5), QString());
}

} // namespace
