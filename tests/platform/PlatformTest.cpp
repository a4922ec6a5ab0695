#include "FileCopy.h"
#include "Folders.h"
#include "MountTable.h"
#include "MountWatcher.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

namespace {

TEST(MountTable, ParsesMountInfoWithEscapesAndOptionalFields) {
    const QByteArray text =
        "22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
        "40 22 8:17 / /media/me/MY\\040IPOD rw,nosuid shared:5 master:3 - vfat /dev/sdb1 rw,uid=1000\n"
        "41 22 0:5 / /proc rw - proc proc rw\n"
        "garbage line\n";
    const QList<TMountEntry> e = ParseMountTable(text);
    ASSERT_EQ(e.size(), 3);
    EXPECT_EQ(e[0].MountPoint, QStringLiteral("/"));
    EXPECT_EQ(e[1].MountPoint, QStringLiteral("/media/me/MY IPOD"));
    EXPECT_EQ(e[1].FsType, QStringLiteral("vfat"));
    EXPECT_EQ(e[1].Source, QStringLiteral("/dev/sdb1"));
    EXPECT_EQ(e[1].Major, 8u);
    EXPECT_EQ(e[1].Minor, 17u);
    EXPECT_FALSE(ReadMountTable().isEmpty()); // this machine's own table
}

TEST(MountTable, RemovableDisksAsSysfsDescribesThem) {
    QTemporaryDir sys;
    auto disk = [&](const QString& devPath, const char* removable) {
        const QString dir = sys.filePath(QStringLiteral("devices/") + devPath);
        QDir().mkpath(dir);
        WriteAll(dir + QStringLiteral("/removable"), removable);
        return dir;
    };
    auto link = [&](const QString& majMin, const QString& target) {
        QDir().mkpath(sys.filePath(QStringLiteral("dev/block")));
        QFile::link(target, sys.filePath(QStringLiteral("dev/block/") + majMin));
    };
    const QString card = disk(QStringLiteral("platform/mmc/block/mmcblk0"), "1\n");
    QDir().mkpath(card + QStringLiteral("/mmcblk0p1"));
    WriteAll(card + QStringLiteral("/mmcblk0p1/partition"), "1");
    link(QStringLiteral("179:1"), card + QStringLiteral("/mmcblk0p1"));
    const QString usb = disk(QStringLiteral("pci0000:00/usb1/1-1/block/sdb"), "0\n");
    link(QStringLiteral("8:16"), usb);
    const QString fixed = disk(QStringLiteral("pci0000:00/ata1/block/sda"), "0\n");
    link(QStringLiteral("8:0"), fixed);
    EXPECT_TRUE(IsRemovableBlockDevice(179, 1, sys.path()));
    EXPECT_TRUE(IsRemovableBlockDevice(8, 16, sys.path()));
    EXPECT_FALSE(IsRemovableBlockDevice(8, 0, sys.path()));
    EXPECT_FALSE(IsRemovableBlockDevice(9, 9, sys.path()));
}

TEST(MountTable, SystemMountsNeverCount) {
    for (const char* m : {"/", "/boot", "/boot/efi", "/proc/x", "/sys/fs", "/dev/shm", "/home"})
        EXPECT_TRUE(IsSystemMountPoint(QString::fromLatin1(m))) << m;
    for (const char* m : {"/media/me/IPOD", "/run/media/me/IPOD", "/mnt/ipod"})
        EXPECT_FALSE(IsSystemMountPoint(QString::fromLatin1(m))) << m;
}

TEST(MountTable, ExtraRootsComeFirst) {
    QTemporaryDir a, b;
    qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(b.path() + QStringLiteral("/:") + a.path()));
    const QStringList roots = RemovableDriveRoots();
    ASSERT_GE(roots.size(), 2);
    EXPECT_EQ(roots[0], b.path());
    EXPECT_EQ(roots[1], a.path());
    EXPECT_TRUE(IsRemovableDrive(a.path() + QStringLiteral("/")));
    qunsetenv("QUENLOR_DEVICE_ROOTS");
    EXPECT_FALSE(IsRemovableDrive(a.path()));
    EXPECT_EQ(MountPointOf(QStringLiteral("/proc/self")), QStringLiteral("/proc"));
}

TEST(MountWatcher, ReportsDrivesThatComeAndGo) {
    QTemporaryDir a;
    qunsetenv("QUENLOR_DEVICE_ROOTS");
    TMountWatcher watcher;
    QStringList arrived, removed;
    QObject::connect(&watcher, &TMountWatcher::Arrived, [&](const QString& m) { arrived.append(m); });
    QObject::connect(&watcher, &TMountWatcher::Removed, [&](const QString& m) { removed.append(m); });
    qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(a.path()));
    watcher.Rescan();
    EXPECT_EQ(arrived, QStringList{a.path()});
    qunsetenv("QUENLOR_DEVICE_ROOTS");
    watcher.Rescan();
    EXPECT_EQ(removed, QStringList{a.path()});
}

TEST(FileCopy, NeverOverwritesAndLeavesNoPartialFile) {
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("src"));
    QByteArray bytes(3 << 20, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 31);
    WriteAll(src, bytes);
    const QString dest = dir.filePath(QStringLiteral("dest"));
    EXPECT_EQ(CopyFileNoOverwrite(src, dest), 0);
    EXPECT_EQ(ReadAll(dest), bytes);
    WriteAll(src, "new");
    EXPECT_EQ(CopyFileNoOverwrite(src, dest), CopyErrorFileExists);
    EXPECT_EQ(ReadAll(dest), bytes);
    EXPECT_EQ(CopyFileNoOverwrite(dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("m"))), ENOENT);
    EXPECT_EQ(CopyFileNoOverwrite(src, dir.filePath(QStringLiteral("no/folder/x"))), ENOENT);
    EXPECT_EQ(CopyFileNoOverwrite(dir.path(), dir.filePath(QStringLiteral("d"))), EISDIR);
    // A failing writer (a full disk, say) leaves neither the file nor its temporary.
    const QString full = dir.filePath(QStringLiteral("full"));
    EXPECT_EQ(WriteFileNoOverwrite(full, [](int fd) { return ::write(fd, "abc", 3) == 3 ? ENOSPC : errno; }), ENOSPC);
    EXPECT_FALSE(QFileInfo::exists(full));
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, (QStringList{QStringLiteral("dest"), QStringLiteral("src")}));
}

TEST(Folders, FreeSpaceTempNamesAndTrash) {
    QTemporaryDir dir;
    EXPECT_EQ(NearestExistingAncestor(dir.filePath(QStringLiteral("a/b/c"))), dir.path());
    EXPECT_EQ(NearestExistingAncestor(QStringLiteral("relative")), QString());
    EXPECT_GT(FreeBytes(dir.filePath(QStringLiteral("a/b"))), 0);
    EXPECT_EQ(FreeBytes(QStringLiteral("relative")), -1);
    EXPECT_TRUE(SameFileSystem(dir.path(), dir.path()));

    const QString temp = UniqueTempName(QStringLiteral("~ip"));
    EXPECT_TRUE(QFileInfo(temp).fileName().startsWith(QStringLiteral("~ip")));
    EXPECT_FALSE(QFileInfo::exists(temp));
    EXPECT_NE(UniqueTempName(QStringLiteral("~ip")), temp);

    const QString doomed = dir.filePath(QStringLiteral("work"));
    WriteAll(doomed + QStringLiteral("/file.txt"), "x");
    ASSERT_TRUE(MoveToTrash(doomed));
    EXPECT_FALSE(QFileInfo::exists(doomed));
    EXPECT_FALSE(QDir(QDir::home().filePath(QStringLiteral(".local/share/Trash/files"))).isEmpty());
}

} // namespace
