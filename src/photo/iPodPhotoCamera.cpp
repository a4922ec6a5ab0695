// The camera-roll folder: listing and the copy of the selected files.
#include "iPodPhoto.h"

#include "DevicePaths.h"
#include "FileCopy.h"
#include "ImageLib.h"
#include "iPodDev.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <cerrno>
#include <unistd.h>

namespace {

// Many programs on the computer cannot open HEIC pictures: a JPEG copy of each goes
// beside the device's own file, named after it with ".jpg" added so that it can never
// take the name of another file from the camera roll. Never replaces a file.
bool WriteJpegBeside(const QString& heicFile) {
    QFile in(heicFile);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QImage image = DecodeHeif(in.readAll());
    if (image.isNull())
        return false;
    TJpegImage jpeg;
    jpeg.Assign(image);
    QByteArray bytes;
    jpeg.SaveToStream(bytes);
    if (bytes.isEmpty())
        return false;
    const int code = WriteFileNoOverwrite(heicFile + QStringLiteral(".jpg"), [&](int fd) {
        for (qint64 done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0)
                return errno;
            done += n;
        }
        return 0;
    });
    return code == 0 || code == CopyErrorFileExists;
}

bool IsHeifName(const QString& name) {
    const QString ext = PathExtension(name).toLower();
    return ext == QLatin1String(".heic") || ext == QLatin1String(".heif");
}

} // namespace

int TIpodPhotoDb::LoadCameraRoll() {
    QStringList names;
    const int count = Device->ListCameraRoll(names);
    for (const QString& name : names)
        CamPhotos->Add().FileName = name;
    SetTileLayout(true);
    CamPhotos->Folder = Device->CameraRollFolder();
    return count;
}

int TIpodPhotoDb::CopyCameraPhotos() {
    Cancelled = false;
    int copied = 0;
    int errors = 0;
    if (!CamPhotos) return 0;
    for (int i = 0; i < CamPhotos->Count() && !Cancelled; ++i) {
        const TCamPhotoItem& item = CamPhotos->Items(i);
        if (!item.Selected) continue;
        if (OnFile) OnFile(item.FileName);
        // A listed name never leaves the target folder.
        const QString name = SafeFileName(item.FileName, QStringLiteral("/\\"));
        int result = CopyErrorInvalidParameter;
        if (!name.isEmpty()) {
            if (QFileInfo::exists(DestDir + name)) continue;
            result = Device->CopyDeviceFile(CamPhotos->Folder + name, DestDir + name);
            if (result == CopyErrorInvalidParameter) {
                QThread::msleep(2000);
                result = Device->CopyDeviceFile(CamPhotos->Folder + name, DestDir + name);
            }
        }
        if (result == 0) {
            ++copied;
            if (IsHeifName(name) && !WriteJpegBeside(DestDir + name))
                AddLog(QStringLiteral("[!] ") + item.FileName + QStringLiteral(": no JPEG copy could be made"));
            continue;
        }
        ++errors;
        AddLog(item.FileName + QStringLiteral(": Error ") + QString::number(result));
        if (errors > 20) {
            AddLog(QStringLiteral("Too many error, camera photos transfer abort."));
            break;
        }
    }
    return copied;
}
