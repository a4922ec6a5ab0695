// Reading the device's photo sources in their fixed order.
#include "iPodPhoto.h"

#include "iPodDev.h"

#include <QFile>

bool TIpodPhotoDb::LoadPhotos() {
    bool result = ReadPhotoDatabase();
    if (result) {
        Source = QStringLiteral("Photo Database");
    } else {
        // A photo database that was not read may have left albums or photos behind
        // (an album list before a damaged image list); they must not mix with the
        // iOS library's.
        Photos.Clear();
        Albums.Clear();
        QString local;
        Device->FetchPhotoDataFile(QStringLiteral("Photos.sqlite"), QString(), local);
        if (!local.isEmpty()) {
            QString wal;
            Device->FetchPhotoDataFile(QStringLiteral("Photos.sqlite-wal"), QStringLiteral("-wal"), wal);
            struct TRemoveCopies {
                TIpodDevice* Device;
                QString Db, Wal;
                ~TRemoveCopies() {
                    if (!Device->IsMobile) return;
                    QFile::remove(Db);
                    if (!Wal.isEmpty()) QFile::remove(Wal);
                }
            } removeCopies{Device, local, wal};
            result = ReadIosLibrary(local);
            if (result) Source = QStringLiteral("Photos.sqlite");
        }
    }
    if (HasCamera && LoadCameraRoll() > 0) result = true;
    return result;
}
