// Copies of the music transfer: device files to unique local names, book folders.
#include "iPodDev.h"
#include "IosHelper.h"

#include "FileCopy.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

// Longest file name the file systems we write to accept, in bytes.
constexpr int NameMaxBytes = 255;
// An extension longer than this is not a real one; it is cut so the name still fits.
constexpr int ExtensionMaxBytes = 32;

// A name is taken by a file, a folder or a link, even a dangling one.
bool Taken(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Only a regular file of that size counts as the same track already copied.
bool HasFileOfSize(const QString& path, quint32 size) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == qint64(size);
}

int Utf8Length(QStringView text) { return int(text.toUtf8().size()); }

// The longest start of text (whole characters) whose UTF-8 form has at most maxBytes.
QString CutToBytes(const QString& text, int maxBytes) {
    int bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype step = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const int b = Utf8Length(QStringView(text).mid(i, step));
        if (bytes + b > maxBytes)
            break;
        bytes += b;
        i += step;
    }
    return text.left(i);
}

} // namespace

QString TIpodDevice::LocalExtension(const QString& location) {
    return CutToBytes(FileSystemSafe(PathExtension(location)), ExtensionMaxBytes);
}

QString TIpodDevice::FitFileName(const QString& path, const QString& tail) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    const int room = NameMaxBytes - Utf8Length(tail);
    if (Utf8Length(name) <= room)
        return path + tail;
    return folder + CutToBytes(name, qMax(0, room)) + tail;
}

int TIpodDevice::CopyToUniqueName(const QString& location, QString& target, quint32 size) {
    const QString ext = LocalExtension(location);
    QString name = FitFileName(target, ext);
    if (Taken(name)) {
        if (HasFileOfSize(name, size)) {
            target = name;
            return 0;
        }
        // Ends: every number gives another name and a folder holds finitely many.
        for (quint64 c = 1;; ++c) {
            const QString candidate = FitFileName(target, QString::number(c) + ext);
            if (!Taken(candidate)) {
                name = candidate;
                break;
            }
            if (HasFileOfSize(candidate, size)) {
                target = candidate;
                return 0;
            }
        }
    }
    target = name;
    return CopyFromDevice(location, target);
}

int TIpodDevice::CopyItemOrFolder(const QString& location, QString& target, bool& isFolder, quint32 size) {
    isFolder = false;
    if (!IsMobile)
        return 1;
    const QString devicePath = LocationToMobilePath(location);
    if (CurrentIosHelper && CurrentIosHelper->IsDirectory(devicePath)) {
        isFolder = true;
        return CopyDeviceFolder(devicePath + QLatin1Char('/'), target);
    }
    return CopyToUniqueName(location, target, size);
}

int TIpodDevice::CopyDeviceFolder(const QString& deviceDir, QString& target) {
    QString folder = target;
    for (int n = 1; Taken(folder); ++n)
        folder = target + QStringLiteral("_") + QString::number(n);
    target = folder + QLatin1Char('/');
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return 5;
    QStringList files;
    if (CurrentIosHelper)
        CurrentIosHelper->ListFilesRecursive(deviceDir, files);
    if (files.isEmpty())
        return 2;
    int result = 0;
    for (const QString& file : files) {
        // The part below the book folder, cleaned so no device name leaves the target.
        const qsizetype at = file.indexOf(deviceDir, 0, Qt::CaseInsensitive);
        const QString relative = CleanDevicePath(at >= 0 ? file.mid(at + deviceDir.size()) : file);
        if (relative.isEmpty())
            continue;
        const QString local = target + relative.mid(1);
        if (!QDir().mkpath(QFileInfo(local).path())) {
            result = 5;
            continue;
        }
        if (CopyDeviceFile(file, local) != 0) {
            result = 2;
            break;
        }
    }
    return result;
}
