#include "Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <sys/stat.h>
#include <sys/statvfs.h>

QString NearestExistingAncestor(const QString& path) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return {};
    QString p = QDir::cleanPath(path);
    while (!QFileInfo::exists(p)) {
        const QString parent = QFileInfo(p).path();
        if (parent == p)
            return {};
        p = parent;
    }
    return p;
}

qint64 FreeBytes(const QString& path) {
    const QString existing = NearestExistingAncestor(path);
    if (existing.isEmpty())
        return -1;
    struct statvfs st {};
    if (::statvfs(QFile::encodeName(existing).constData(), &st) != 0)
        return -1;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

bool SameFileSystem(const QString& a, const QString& b) {
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev;
}

static QString WithSlash(const QString& folder) {
    if (folder.isEmpty())
        return {};
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString UserMusicFolder() {
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
}

QString UserPicturesFolder() {
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
}

QString UniqueTempName(const QString& prefix) {
    QTemporaryFile file(QDir::tempPath() + QLatin1Char('/') + prefix + QStringLiteral("XXXXXX.tmp"));
    if (!file.open())
        return {};
    const QString name = file.fileName();
    file.close();
    file.remove();
    return name;
}

bool MoveToTrash(const QString& path) {
    // Qt moves into ./files/ when the data folder is missing: make sure it exists.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data + QStringLiteral("/Trash/files")) ||
        !QDir().mkpath(data + QStringLiteral("/Trash/info")))
        return false;
    QString where;
    if (!QFile::moveToTrash(path, &where))
        return false;
    return !where.isEmpty() && QFileInfo(where).isAbsolute() && !QFileInfo::exists(path);
}
