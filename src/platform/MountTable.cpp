#include "MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
QString Unescape(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int v = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(v));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

QString StripSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

QList<TMountEntry> ParseMountTable(const QByteArray& text) {
    QList<TMountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        // id parent maj:min root mountpoint options [optional...] - fstype source super
        if (f.size() < 10)
            continue;
        const qsizetype dash = f.indexOf("-", 6);
        if (dash < 0 || dash + 2 >= f.size())
            continue;
        TMountEntry e;
        const QList<QByteArray> mm = f[2].split(':');
        if (mm.size() == 2) {
            e.Major = mm[0].toUInt();
            e.Minor = mm[1].toUInt();
        }
        e.MountPoint = Unescape(f[4]);
        e.FsType = Unescape(f[dash + 1]);
        e.Source = Unescape(f[dash + 2]);
        entries.append(e);
    }
    return entries;
}

QList<TMountEntry> ReadMountTable(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Procfs files report no size: read until the end.
    return ParseMountTable(file.readAll());
}

bool IsRemovableBlockDevice(quint32 major, quint32 minor, const QString& sysRoot) {
    const QString link = sysRoot + QStringLiteral("/dev/block/%1:%2").arg(major).arg(minor);
    const QFileInfo info(link);
    if (!info.exists())
        return false;
    QString dev = info.canonicalFilePath();
    if (dev.contains(QStringLiteral("/usb")))
        return true;
    // A partition's own folder has a "partition" file; its disk is the parent folder.
    if (QFileInfo::exists(dev + QStringLiteral("/partition")))
        dev = QFileInfo(dev).path();
    QFile removable(dev + QStringLiteral("/removable"));
    if (!removable.open(QIODevice::ReadOnly))
        return false;
    return removable.readAll().trimmed() == "1";
}

bool IsSystemMountPoint(const QString& mountPoint) {
    static const QStringList system = {QStringLiteral("/"),    QStringLiteral("/boot"), QStringLiteral("/usr"),
                                       QStringLiteral("/var"), QStringLiteral("/home"), QStringLiteral("/opt"),
                                       QStringLiteral("/srv"), QStringLiteral("/tmp")};
    if (system.contains(mountPoint))
        return true;
    for (const char* prefix : {"/proc", "/sys", "/dev", "/boot/", "/snap/"})
        if (mountPoint.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

QStringList ExtraDeviceRoots() {
    QStringList roots;
    const QString value = qEnvironmentVariable("QUENLOR_DEVICE_ROOTS");
    for (const QString& part : value.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        roots.append(StripSlash(QDir::cleanPath(QDir(part).absolutePath())));
    return roots;
}

QStringList RemovableDriveRoots() {
    QStringList roots = ExtraDeviceRoots();
    QStringList mounts;
    for (const TMountEntry& e : ReadMountTable()) {
        if (e.Major == 0 || IsSystemMountPoint(e.MountPoint))
            continue;
        if (IsRemovableBlockDevice(e.Major, e.Minor) && !mounts.contains(e.MountPoint))
            mounts.append(e.MountPoint);
    }
    std::sort(mounts.begin(), mounts.end());
    for (const QString& m : mounts)
        if (!roots.contains(m))
            roots.append(m);
    return roots;
}

bool IsRemovableDrive(const QString& root) { return RemovableDriveRoots().contains(StripSlash(root)); }

QString MountPointOf(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    QString best;
    for (const TMountEntry& e : ReadMountTable()) {
        const QString& m = e.MountPoint;
        const bool under = m == QLatin1String("/") || clean == m || clean.startsWith(m + QLatin1Char('/'));
        if (under && m.size() >= best.size())
            best = m;
    }
    return best;
}
