// Copying the selected photos: thumbnail export or copy by path.
#include "iPodPhoto.h"

#include "FileCopy.h"
#include "iPodDev.h"

#include <QFileInfo>
#include <QThread>
#include <set>

void TIpodPhotoDb::DefaultDestDir(QString& folder) const {
    const QString pictures = TIpodDevice::SpecialFolder(true);
    folder = pictures.isEmpty() ? QString() : pictures + QStringLiteral("iPod Photos/");
}

bool TIpodPhotoDb::CheckDestDir(QString& folderOrMessage) {
    qint64 needed = Photos.SelBytes;
    if (needed <= 0) {
        needed = qint64(quint32(CopyInfo.ImageSize)) * Photos.SelCount;
        if (needed == 0) needed = qint64(Photos.SelCount) * 819200;
    }
    if (HasCamera) needed += qint64(CamPhotos->SelCount) * 600000;
    if (!Device->CheckDestFolder(folderOrMessage, needed)) return false;
    DestDir = folderOrMessage;
    return true;
}

int TIpodPhotoDb::CopySelected() {
    return ThumbInfo.ByName ? CopyIosPhotos() : CopyPhotos();
}

int TIpodPhotoDb::CopyPhotos() {
    Cancelled = false;
    if (CopyByPath) return CopyByPaths(false);
    switch (CopyInfo.FormatId) {
    case FormatUyvy:
        return ExportThumbnails(&TIpodPhotoDb::DecodeUyvy, QStringLiteral("Cannot open uYUV DB: "),
                                UyvyRawSize);
    case FormatNanoRgb:
        BuildBmpHeader(false);
        return ExportThumbnails(&TIpodPhotoDb::DecodeNanoRgb, QStringLiteral("Cannot open nRGB DB: "), -1);
    case FormatYuv:
        return ExportThumbnails(&TIpodPhotoDb::DecodeYuv, QStringLiteral("Cannot open Yuv DB: "), -1);
    case FormatJpeg:
        return ExportThumbnails(&TIpodPhotoDb::DecodeJpeg, QStringLiteral("Cannot open Jpg DB: "), 0);
    default:
        BuildBmpHeader(false);
        return ExportThumbnails(&TIpodPhotoDb::DecodeRgb, QStringLiteral("Cannot open RGB DB: "), -1);
    }
}

// readSize: bytes read per photo; -1 for CopyInfo.ImageSize, 0 for each photo's own Size.
int TIpodPhotoDb::ExportThumbnails(TDecoder decoder, const QString& openFailText, qint64 readSize) {
    const bool withHeader = decoder == &TIpodPhotoDb::DecodeRgb;
    auto bytesFor = [&](const TPhotoItem& p) -> qint64 {
        return readSize < 0 ? qint64(CopyInfo.ImageSize) : readSize == 0 ? qint64(p.Size) : readSize;
    };
    // Only the thumbnail files that photos name are opened, so a damaged file number
    // cannot make the loop try billions of files.
    std::set<int> fileNumbers;
    for (int i = 0; i < Photos.Count(); ++i)
        if (Photos[i].FileIndex >= 1 && Photos[i].FileIndex <= CopyInfo.FileCount)
            fileNumbers.insert(Photos[i].FileIndex);
    int written = 0;
    for (const int n : fileNumbers) {
        const QString name =
            QStringLiteral("F") + QString::number(CopyInfo.FormatId) + QLatin1Char('_') + QString::number(n);
        // The open size covers every read of this pass (the camera roll's "Jpg" photos
        // carry their own sizes); reads beyond the sane limit are refused.
        qint64 openSize = qMax<qint64>(0, CopyInfo.ImageSize);
        for (int i = 0; i < Photos.Count(); ++i)
            if (Photos[i].Selected && Photos[i].FileIndex == n && bytesFor(Photos[i]) <= MaxPictureRead)
                openSize = qMax(openSize, bytesFor(Photos[i]));
        openSize = qMin(openSize, MaxPictureRead);
        if (!Device->OpenThumbFile(name, int(openSize))) {
            AddLog(openFailText + QString::number(CopyInfo.FormatId) + QLatin1Char('_') + QString::number(n));
            AddLog(Device->Log);
            continue;
        }
        for (int i = 0; i < Photos.Count(); ++i) {
            const TPhotoItem& photo = Photos[i];
            if (photo.Selected && photo.FileIndex == n) {
                const QString fileName = QString::number(photo.ImageId) + QStringLiteral(".jpg");
                const QString outFile = DestDir + fileName;
                if (!QFileInfo::exists(outFile)) {
                    const qint64 count = bytesFor(photo);
                    EmptyBuffer();
                    if (withHeader) Buffer.Write(BmpHeader, BmpHeaderSize);
                    if (count >= 0 && count <= openSize &&
                        Device->ReadThumb(int(count), Buffer, photo.Offset)) {
                        if ((this->*decoder)(outFile)) ++written;
                    }
                    EmptyBuffer();
                }
                if (OnFile) OnFile(fileName);
            }
            if (Cancelled) break;
        }
        Device->CloseThumbFile();
        if (Cancelled) break;
    }
    return written;
}

int TIpodPhotoDb::CopyIosPhotos() {
    Cancelled = false;
    return CopyByPaths(true);
}

int TIpodPhotoDb::CopyByPaths(bool ios) {
    Cancelled = false;
    int copied = 0;
    int errors = 0;
    for (int i = 0; i < Photos.Count() && !Cancelled; ++i) {
        const TPhotoItem& photo = Photos[i];
        if (!photo.Selected) continue;
        const QString source = ios ? photo.Path : QStringLiteral(":Photos:") + photo.Path;
        // The name from the device never climbs out of the target folder.
        QString name = SafeFileName(photo.Path, ios ? QStringLiteral("/") : QStringLiteral(":\\/"));
        if (OnFile) OnFile(name.isEmpty() ? photo.Path : name);
        int code = CopyErrorInvalidParameter;
        if (!name.isEmpty()) {
            bool skipped = false;
            int n = 0;
            while (QFileInfo::exists(DestDir + name)) {
                const qint64 local = TIpodDevice::LocalFileSize(DestDir + name);
                if (local > 0 && local == Device->DeviceFileSize(source)) {
                    skipped = true;
                    break;
                }
                name = QString::number(++n) + QLatin1Char('_') + name;
            }
            if (skipped) continue;
            code = Device->CopyFromDevice(source, DestDir + name);
            if (code == CopyErrorInvalidParameter) {
                QThread::msleep(2000);
                code = Device->CopyFromDevice(source, DestDir + name);
            }
        }
        if (code == 0) {
            ++copied;
            continue;
        }
        ++errors;
        AddLog(photo.Path + QStringLiteral(": Error ") + QString::number(code));
        if (errors > 20) {
            AddLog(QStringLiteral("Too many error, transfer abort."));
            break;
        }
    }
    return copied;
}
