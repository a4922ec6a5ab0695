// Fetching device files for the readers and copying them for the transfers.
#include "iPodDev.h"
#include "IosHelper.h"

#include "FileCopy.h"
#include "Folders.h"
#include "MemoryStream.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>

namespace {

QString WithExtension(const QString& name, const QString& ext) {
    const QString current = PathExtension(name);
    return name.left(name.size() - current.size()) + ext;
}

TIosHelper* Bridge() { return CurrentIosHelper; }

QString BridgeError() { return Bridge() ? Bridge()->LastErrorText() : QString(); }

} // namespace

void TIpodDevice::PrepareWorkFile() {
    if (WorkFile.isEmpty())
        WorkFile = UniqueTempName(QStringLiteral("~ip"));
}

void TIpodDevice::FetchLibraryFile(const QString& name, bool inLibraryFolder, QString& path, const QString& suffix) {
    path.clear();
    const QString folder = inLibraryFolder ? Folders().SqliteLibrary : Folders().MusicDatabase;
    if (IsMobile) {
        PrepareWorkFile();
        const QString local = WorkFile + suffix;
        if (Bridge() && Bridge()->CopyToFile(folder + name, local)) {
            path = local;
        } else {
            // Nothing of an earlier fetch may stay under the name (a stale -wal would
            // be applied to the next database).
            QFile::remove(local);
            AddLog(QStringLiteral("Copy itdb failed: ") + BridgeError());
        }
        return;
    }
    const QString local = Root + folder + name;
    if (QFileInfo(local).isFile())
        path = local;
}

void TIpodDevice::FetchPhotoDataFile(const QString& name, const QString& suffix, QString& path) {
    path.clear();
    const QString folder = Folders().PhotoData;
    if (IsMobile) {
        PrepareWorkFile();
        const QString local = WorkFile + suffix;
        if (Bridge() && Bridge()->CopyToFile(folder + name, local)) {
            path = local;
        } else {
            QFile::remove(local);
            AddLog(QStringLiteral("Copy photodb failed: ") + BridgeError());
        }
        return;
    }
    const QString local = Root + folder + name;
    if (QFileInfo(local).isFile())
        path = local;
}

void TIpodDevice::FetchBooksPlist(bool purchased, QString& path) {
    path.clear();
    if (!IsMobile)
        return;
    PrepareWorkFile();
    const QString device = purchased ? QStringLiteral("Books/Purchases/Purchases.plist") : QStringLiteral("Books/Books.plist");
    if (!Bridge() || !Bridge()->CopyToFile(device, WorkFile)) {
        QFile::remove(WorkFile);
        AddLog((purchased ? QStringLiteral("Copy puchased bookplist failed: ") : QStringLiteral("Copy bookplist failed: ")) +
               BridgeError());
        return;
    }
    if (EnsureXmlPlist(WorkFile, WorkFile)) {
        path = WorkFile;
    } else {
        // The reason belongs in the log, and the unreadable copy goes.
        QFile::remove(WorkFile);
        AddLog(QStringLiteral("Convert bookplist failed: ") + BridgeError());
    }
}

bool TIpodDevice::EnsureXmlPlist(const QString& fileName, const QString& dest) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(6);
    file.close();
    if (head != "bplist")
        return true;
    return Bridge() && Bridge()->ConvertPlistToXml(fileName, dest);
}

bool TIpodDevice::FileExistsOnDevice(const QString& path) {
    if (IsMobile) {
        QString p = path;
        p.replace(QLatin1Char('\\'), QLatin1Char('/'));
        return Bridge() && Bridge()->DeviceFileExists(p);
    }
    return QFileInfo::exists(Root + CleanDevicePath(path));
}

int TIpodDevice::CopyFromDevice(const QString& devicePath, const QString& destFile) {
    if (IsMobile)
        return CopyDeviceFile(LocationToMobilePath(devicePath), destFile);
    return CopyDeviceFile(LocationToDiskPath(devicePath), destFile);
}

int TIpodDevice::CopyDeviceFile(const QString& path, const QString& destFile) {
    if (!IsMobile)
        return CopyFileNoOverwrite(path, destFile);
    if (QFileInfo::exists(destFile))
        return CopyErrorFileExists;
    // Written beside the target and given its name only when complete, never over an
    // existing file.
    bool copied = false;
    const int error = WriteFileNoOverwrite(destFile, [&](int fd) {
        copied = Bridge() && Bridge()->CopyToDescriptor(path, fd);
        return copied ? 0 : EIO;
    });
    if (error == 0)
        return 0;
    AddLog(QStringLiteral("Copy fail: ") + (copied ? QStringLiteral("Exp! ") + QString::number(error) : BridgeError()));
    return 2;
}

qint64 TIpodDevice::LocalFileSize(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() ? info.size() : 0;
}

qint64 TIpodDevice::DeviceFileSize(const QString& devicePath) {
    if (IsMobile)
        return Bridge() ? Bridge()->GetFileSize(LocationToMobilePath(devicePath)) : 0;
    return LocalFileSize(LocationToDiskPath(devicePath));
}

bool TIpodDevice::OpenThumbFile(const QString& name, int bufferSize) {
    CloseThumbFile();
    if (IsMobile) {
        TIosHelper* b = Bridge();
        if (b && (b->OpenDeviceFile(QStringLiteral("/Photos/Thumbs/") + name + QStringLiteral(".ithmb")) ||
                  b->OpenDeviceFile(QStringLiteral("/PhotoData/Thumbnails/") + name))) {
            ThumbBuffer = std::make_unique<QByteArray>(qMax(0, bufferSize), '\0');
            return true;
        }
        AddLog(BridgeError());
        return false;
    }
    // As in mobile mode, the iOS library's thumbnail file is found by its own name in
    // the PhotoData folder when the Photos folder has no such file.
    const QString safe = CleanDevicePath(name).mid(1);
    auto file = std::make_unique<QFile>(Root + DiskFolders().Thumbnails + safe + QStringLiteral(".ithmb"));
    if (!file->open(QIODevice::ReadOnly) && !safe.isEmpty())
        file = std::make_unique<QFile>(Root + DiskFolders().PhotoData + QStringLiteral("Thumbnails/") + safe);
    if (!file->isOpen() && !file->open(QIODevice::ReadOnly)) {
        AddLog(QStringLiteral("File not found: ") + name);
        return false;
    }
    ThumbStream = std::move(file);
    return true;
}

bool TIpodDevice::ReadThumb(int count, TMemoryStream& stream, qint64 offset) {
    if (count < 0 || offset < 0)
        return false;
    if (IsMobile) {
        // Never read more than the buffer the caller sized.
        if (!ThumbBuffer || count > ThumbBuffer->size() || !Bridge() ||
            !Bridge()->ReadAt(quint32(count), ThumbBuffer->data(), offset)) {
            AddLog(BridgeError());
            return false;
        }
        stream.Write(ThumbBuffer->constData(), count);
        stream.Position = 0;
        return true;
    }
    if (!ThumbStream || !ThumbStream->seek(offset) || ThumbStream->pos() != offset) {
        AddLog(QStringLiteral("Seek error"));
        return false;
    }
    // Never ask for more than the file holds: a damaged offset or size from the
    // database must not make us allocate what is not there.
    const qint64 available = qMax<qint64>(0, ThumbStream->size() - offset);
    const QByteArray bytes = ThumbStream->read(qMin<qint64>(count, available));
    stream.Write(bytes);
    stream.Position = 0;
    return bytes.size() == count;
}

void TIpodDevice::CloseThumbFile() {
    if (IsMobile && ThumbBuffer && Bridge())
        Bridge()->CloseDeviceFile();
    ThumbStream.reset();
    ThumbBuffer.reset();
}

bool TIpodDevice::FetchCameraPreview(const QString& folder, const QString& name, TMemoryStream& stream, QString& ext) {
    stream.Clear();
    const QString safeName = CleanDevicePath(name).mid(1);
    if (safeName.isEmpty())
        return false;
    const QString thm = WithExtension(safeName, QStringLiteral(".THM"));
    auto load = [&](const QString& path) {
        if (IsMobile)
            return ReadFileToStream(path, stream);
        stream.Clear();
        if (!QFileInfo(path).isFile()) {
            AddLog(QStringLiteral("Not found: ") + path);
            return false;
        }
        if (!stream.LoadFromFile(path)) {
            AddLog(QStringLiteral("iPod not found, connect iPod to try again."));
            return false;
        }
        return true;
    };
    if (load(folder + QStringLiteral(".MISC/") + thm) || load(folder + thm)) {
        ext = QStringLiteral(".JPG");
        stream.Position = 0;
        return true;
    }
    ext = PathExtension(safeName);
    const QString lower = ext.toLower();
    if (lower == QLatin1String(".mov") || lower == QLatin1String(".wav") || lower == QLatin1String(".aac")) {
        stream.Clear();
        return true;
    }
    const bool ok = load(folder + safeName);
    stream.Position = 0;
    return ok;
}

void TIpodDevice::FetchPlayableFile(const QString& devicePath, QString& path) {
    path.clear();
    if (IsMobile) {
        PrepareWorkFile();
        QFile::remove(WorkFile);
        if (Bridge() && Bridge()->CopyToFile(LocationToMobilePath(devicePath), WorkFile))
            path = WorkFile;
        return;
    }
    path = LocationToDiskPath(devicePath);
}

QString TIpodDevice::CameraRollFolder() const {
    return IsMobile ? MobileFolders().CameraRoll : Root + DiskFolders().CameraRoll;
}

int TIpodDevice::ListCameraRoll(QStringList& list) {
    int count = 0;
    auto isThm = [](const QString& n) { return PathExtension(n).compare(QLatin1String(".THM"), Qt::CaseInsensitive) == 0; };
    if (IsMobile) {
        QStringList names;
        if (Bridge())
            Bridge()->ListFiles(MobileFolders().CameraRoll, names);
        for (const QString& n : names)
            if (!isThm(n)) {
                list.append(n);
                ++count;
            }
        return count;
    }
    QDir dir(Root + DiskFolders().CameraRoll);
    const QStringList names = dir.entryList({QStringLiteral("IMG*.*")}, QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& n : names)
        if (!isThm(n)) {
            list.append(n);
            ++count;
        }
    return count;
}
