// The camera-roll folder: listing and the copy of the selected files.
#include "iPodPhoto.h"

#include "FileCopy.h"
#include "iPodDev.h"

#include <QFileInfo>
#include <QStringList>
#include <QThread>

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
