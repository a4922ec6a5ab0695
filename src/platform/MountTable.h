#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One line of the kernel's mount table.
struct TMountEntry {
    QString MountPoint;
    QString Source;
    QString FsType;
    quint32 Major = 0;
    quint32 Minor = 0;
};

// Reads the mount table (by default /proc/self/mountinfo); an unreadable file gives none.
QList<TMountEntry> ReadMountTable(const QString& fileName = QStringLiteral("/proc/self/mountinfo"));
QList<TMountEntry> ParseMountTable(const QByteArray& text);

// Whether the block device MAJ:MIN is a removable or USB disk, or a partition of one,
// as sysfs (below sysRoot) describes it.
bool IsRemovableBlockDevice(quint32 major, quint32 minor, const QString& sysRoot = QStringLiteral("/sys"));

// Whether a mount point belongs to the system (root file system, /proc, /boot ...).
bool IsSystemMountPoint(const QString& mountPoint);

// Folders named in QUENLOR_DEVICE_ROOTS (colon-separated): they count as removable
// drives, tested before the real ones.
QStringList ExtraDeviceRoots();

// The places a disk-mode iPod may be found at: the extra roots first, then the
// mount points of removable disks in mount-point order. No trailing "/".
QStringList RemovableDriveRoots();

// Whether a folder counts as a removable drive: an extra root or a removable mount.
bool IsRemovableDrive(const QString& root);

// The mount point of the file system holding path (the longest matching mount point).
QString MountPointOf(const QString& path);
