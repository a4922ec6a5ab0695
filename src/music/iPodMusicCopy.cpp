// The music transfer: ticked tracks copied into DestDir under readable names.
#include "iPodMusic.h"

#include "DevicePaths.h"
#include "FileCopy.h"
#include "Folders.h"
#include "iPodDev.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

namespace {

constexpr int MaxErrors = 35;

bool Taken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// A part that stands alone as a folder or file name: "." and ".." would name the
// folder itself or its parent, so their dots become "_".
QString OwnName(QString part) {
    if (part == QLatin1String(".") || part == QLatin1String(".."))
        part.fill(QLatin1Char('_'));
    return part;
}

// Renames without ever replacing an existing name; errno tells why it failed.
bool MoveNoReplace(const QString& from, const QString& to) {
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(a.constData(), b.constData()) != 0)
        return false;
    ::unlink(a.constData());
    return true;
}

// Every regular file below folder as a path relative to it; links are not followed,
// so nothing outside the folder is packed. An e-book's "mimetype" comes first.
QStringList FilesBelow(const QString& folder) {
    QStringList files;
    const QDir base(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = base.relativeFilePath(it.next());
        if (!relative.isEmpty() && !relative.startsWith(QLatin1String("../")) && relative != QLatin1String(".."))
            files.append(relative);
    }
    files.sort();
    const qsizetype mime = files.indexOf(QStringLiteral("mimetype"));
    if (mime > 0)
        files.move(mime, 0);
    return files;
}

// Writes a zip archive of the files below folder to archive (which must not exist);
// true when it holds at least one entry. A failure leaves no archive behind.
bool WriteZip(const QString& folder, const QString& archive) {
    const QStringList files = FilesBelow(folder);
    if (files.isEmpty())
        return false;
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(archive).constData(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!zip)
        return false;
    bool ok = true;
    for (const QString& relative : files) {
        zip_source_t* source = zip_source_file(zip, QFile::encodeName(folder + relative).constData(), 0, -1);
        if (!source) {
            ok = false;
            break;
        }
        const zip_int64_t index = zip_file_add(zip, relative.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            ok = false;
            break;
        }
        if (relative == QLatin1String("mimetype"))
            zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    if (ok && zip_close(zip) == 0)
        return QFileInfo(archive).isFile();
    zip_discard(zip);
    QFile::remove(archive);
    return false;
}

} // namespace

QString TIpodMusicDb::CleanNamePart(const QString& text, const QString& suffix) {
    QString part;
    if (text.size() >= 42) {
        part = text.left(41).trimmed();
    } else {
        if (text.isEmpty())
            return QStringLiteral("Unknown") + suffix;
        part = text.trimmed();
    }
    for (QChar& c : part)
        switch (c.unicode()) {
        case '"':
        case '*':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
            c = QLatin1Char('_');
            break;
        default:
            break;
        }
    return part;
}

void TIpodMusicDb::TargetName(int index, quint8 saveType, QString& path) {
    const TTrackItem& t = Tracks[index];
    const QString a = FileSystemSafe(CleanNamePart(t.Artist, QStringLiteral(" Artist")));
    const QString b = FileSystemSafe(CleanNamePart(t.Album, QStringLiteral(" Album")));
    const QString n = FileSystemSafe(CleanNamePart(t.Title, QStringLiteral(" Name")));
    const QString dash = QStringLiteral(" - ");
    switch (saveType) {
    case 0: {
        const QString folder = DestDir + OwnName(a) + QLatin1Char('/') + OwnName(b);
        if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
            AddLog(QStringLiteral("[X] Copy stopped at: ") + t.Title + QStringLiteral("\r\n Program cannot create folder: ") +
                   folder);
            path.clear();
            return;
        }
        path = folder + QLatin1Char('/') + OwnName(n);
        return;
    }
    case 2:
        path = DestDir + a + dash + n;
        return;
    case 3:
        path = DestDir + n + dash + a;
        return;
    case 4:
        path = DestDir + a + dash + b + dash + n;
        return;
    case 5:
        path = DestDir + n + dash + b + dash + a;
        return;
    case 6:
        path = DestDir + n + dash + a + dash + b;
        return;
    default:
        path = DestDir + OwnName(n);
        return;
    }
}

QString TIpodMusicDb::BookExtension(const QString& location) {
    const QString ext = TIpodDevice::LocalExtension(location);
    return ext.isEmpty() ? QStringLiteral(".epub") : ext;
}

bool TIpodMusicDb::SameSizeFiles(const QString& a, const QString& b) {
    const qint64 size = TIpodDevice::LocalFileSize(a);
    return size != 0 && size == TIpodDevice::LocalFileSize(b);
}

bool TIpodMusicDb::PackFolder(const QString& folderWithDelimiter, const QString& folder, const QString& extension,
                              QString* finalName) {
    // The archive is written under a name nobody uses, so no existing file is touched.
    QString archive = folder + QStringLiteral(".zip");
    for (int n = 1; Taken(archive); ++n)
        archive = folder + QStringLiteral("_") + QString::number(n) + QStringLiteral(".zip");
    bool ok = WriteZip(folderWithDelimiter, archive);
    if (ok) {
        for (int n = 0;; ++n) {
            const QString name =
                n == 0 ? folder + extension : folder + QStringLiteral("_") + QString::number(n) + extension;
            if (!Taken(name)) {
                if (MoveNoReplace(archive, name)) {
                    if (finalName)
                        *finalName = name;
                    break;
                }
                if (errno == EEXIST)
                    continue;
                // The book would be lost if this were reported as packed.
                QFile::remove(archive);
                ok = false;
                break;
            }
            if (SameSizeFiles(name, archive)) {
                QFile::remove(archive);
                if (finalName)
                    *finalName = name;
                break;
            }
        }
    }
    RemoveWorkFolder(folderWithDelimiter);
    return ok;
}

void TIpodMusicDb::RemoveWorkFolder(const QString& folder) {
    // Only a real folder strictly inside the target is emptied, never the target itself
    // or anything a ".." part would reach.
    if (DestDir.isEmpty() || !folder.startsWith(DestDir))
        return;
    const QFileInfo info(folder);
    if (!info.isDir() || info.isSymLink())
        return;
    const QString clean = QDir::cleanPath(folder);
    if (!clean.startsWith(QDir::cleanPath(DestDir) + QLatin1Char('/')))
        return;
    bool ok = true;
    const QFileInfoList entries =
        QDir(clean).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        ok = MoveToTrash(entry.absoluteFilePath()) && ok;
    if (ok)
        QDir().rmdir(clean);
}

int TIpodMusicDb::CopySelected() {
    Cancelled = false;
    const QString total = QLatin1Char('/') + QString::number(Tracks.CheckedCount) + QStringLiteral("  ");
    int number = 0;
    int copied = 0;
    int errors = 0;
    for (int i = 0; i < Tracks.Count(); ++i) {
        if (Cancelled)
            break;
        if (!Tracks[i].Checked)
            continue;
        ++number;
        if (OnProgress)
            OnProgress(QString::number(number) + total + Tracks[i].Title);
        TTrackItem& track = Tracks[i];
        track.DestPath.clear();
        QString target;
        int result = 0;
        if (track.MediaKind == MediaBooks) {
            track.CopyState = 2;
            TargetName(i, 1, target);
            bool isFolder = false;
            result = Device->CopyItemOrFolder(track.Location, target, isFolder, track.Size);
            if (isFolder && result == 0 && !target.isEmpty()) {
                QString archive;
                if (!PackFolder(target, target.chopped(1), BookExtension(track.Location), &archive)) {
                    track.CopyState = 0;
                    AddLog(track.Title + QStringLiteral(": Error park"));
                    continue;
                }
                // The folder went to the Trash; the book now is the archive.
                target = archive;
            } else if (isFolder && result != 0) {
                RemoveWorkFolder(target);
            }
        } else {
            track.CopyState = 1;
            TargetName(i, SaveType, target);
            if (target.isEmpty()) {
                track.CopyState = 0;
                continue;
            }
            result = Device->CopyToUniqueName(track.Location, target, track.Size);
            if (result == CopyErrorInvalidParameter) {
                TargetName(i, SaveType, target);
                if (target.isEmpty()) {
                    track.CopyState = 0;
                    continue;
                }
                QThread::msleep(ulong(qMax(0, RetryPauseMs)));
                result = Device->CopyToUniqueName(track.Location, target, track.Size);
            }
        }
        if (result == 0) {
            ++copied;
            track.DestPath = target;
            continue;
        }
        ++errors;
        track.CopyState = 0;
        AddLog(track.Title + QStringLiteral(": Error ") + QString::number(result));
        if (errors > MaxErrors) {
            AddLog(QStringLiteral("Too many errors, transfer abort."));
            break;
        }
    }
    return copied;
}
