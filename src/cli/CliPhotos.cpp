#include "CliPhotos.h"

#include "CliProgress.h"
#include "PhotoCopyThread.h"
#include "QuenlorError.h"
#include "iPodDev.h"
#include "iPodPhoto.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

QJsonObject InfoJson(const TPhotoInfo& info) {
    return QJsonObject{{QStringLiteral("formatId"), info.FormatId},
                       {QStringLiteral("imageSize"), info.ImageSize},
                       {QStringLiteral("width"), info.Width},
                       {QStringLiteral("height"), info.Height},
                       {QStringLiteral("fileCount"), info.FileCount}};
}

QJsonObject DeviceJson(const TIpodDevice& device) {
    return QJsonObject{{QStringLiteral("root"), device.Root}, {QStringLiteral("mobile"), device.IsMobile}};
}

QJsonObject PhotosJson(const TIpodDevice& device, const TIpodPhotoDb& db) {
    QJsonArray photos;
    for (int i = 0; i < db.Photos.Count(); ++i) {
        const TPhotoItem& p = db.Photos[i];
        photos.append(QJsonObject{{QStringLiteral("index"), i},
                                  {QStringLiteral("imageId"), double(p.ImageId)},
                                  {QStringLiteral("fileIndex"), p.FileIndex},
                                  {QStringLiteral("offset"), double(p.Offset)},
                                  {QStringLiteral("size"), double(p.Size)},
                                  {QStringLiteral("thumbOffset"), double(p.ThumbOffset)},
                                  {QStringLiteral("path"), p.Path}});
    }
    QJsonArray albums;
    for (int i = 0; i < db.Albums.Count(); ++i) {
        const TPhotoAlbumItem& a = db.Albums.Items(i);
        QJsonArray ids;
        for (quint32 id : a.ImageIds)
            ids.append(double(id));
        albums.append(QJsonObject{{QStringLiteral("index"), i},
                                  {QStringLiteral("name"), a.Name},
                                  {QStringLiteral("key"), a.Key},
                                  {QStringLiteral("imageIds"), ids}});
    }
    QJsonArray files;
    if (db.CamPhotos)
        for (int i = 0; i < db.CamPhotos->Count(); ++i)
            files.append(db.CamPhotos->Items(i).FileName);
    return QJsonObject{
        {QStringLiteral("device"), DeviceJson(device)},
        {QStringLiteral("source"), db.Source},
        {QStringLiteral("copyByPath"), db.CopyByPath},
        {QStringLiteral("copyFormat"), InfoJson(db.CopyInfo)},
        {QStringLiteral("thumbFormat"), InfoJson(db.ThumbInfo)},
        {QStringLiteral("photos"), photos},
        {QStringLiteral("albums"), albums},
        {QStringLiteral("camera"),
         QJsonObject{{QStringLiteral("folder"), db.CamPhotos ? db.CamPhotos->Folder : QString()},
                     {QStringLiteral("files"), files}}},
        {QStringLiteral("log"), db.Log}};
}

void PrintJson(const QJsonObject& o) {
    Out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
}

QString FormatText(const TPhotoInfo& info) {
    if (info.FormatId == 0) return QStringLiteral("none");
    return QStringLiteral("%1 (%2 x %3, %4 bytes, %5 file(s))")
        .arg(info.FormatId)
        .arg(info.Width)
        .arg(info.Height)
        .arg(info.ImageSize)
        .arg(info.FileCount);
}

void PrintPhotos(const TIpodDevice& device, const TIpodPhotoDb& db) {
    QString out;
    out += QStringLiteral("Device: %1\n").arg(device.IsMobile ? QStringLiteral("mobile") : device.Root);
    out += QStringLiteral("Source: %1\n").arg(db.Source);
    out += QStringLiteral("Photos: %1 (%2)\n")
               .arg(db.Photos.Count())
               .arg(db.CopyByPath ? QStringLiteral("copied by path")
                                  : QStringLiteral("exported from thumbnails"));
    if (!db.CopyByPath) out += QStringLiteral("Copy format: %1\n").arg(FormatText(db.CopyInfo));
    out += QStringLiteral("Tile format: %1\n\nAlbums:\n").arg(FormatText(db.ThumbInfo));
    for (int i = 0; i < db.Albums.Count(); ++i) {
        const TPhotoAlbumItem& a = db.Albums.Items(i);
        out += QStringLiteral("  %1 (%2 photos)\n").arg(a.Name).arg(i == 0 ? db.Photos.Count() : a.Count);
    }
    const int cam = db.CamPhotos ? db.CamPhotos->Count() : 0;
    out += QStringLiteral("\nCamera Photos: %1 files").arg(cam);
    if (cam > 0) out += QStringLiteral(" in %1").arg(db.CamPhotos->Folder);
    out += QLatin1Char('\n');
    for (int i = 0; i < cam; ++i)
        out += QStringLiteral("  %1\n").arg(db.CamPhotos->Items(i).FileName);
    Out(out);
}

// Finds the device and reads its photos; on failure prints why and gives the exit code.
std::unique_ptr<TIpodDevice> LoadDevicePhotos(const TCliOptions& options, std::unique_ptr<TIpodPhotoDb>& db,
                                              int& code) {
    QString log;
    std::unique_ptr<TIpodDevice> device = OpenDevice(options, log);
    if (!device) {
        Err(QStringLiteral("No iPod found. Connect the iPod, or name its folder with --device DIR.\n"));
        if (!log.isEmpty()) Err(LogText(log) + QLatin1Char('\n'));
        code = ExitNoDevice;
        return nullptr;
    }
    db = std::make_unique<TIpodPhotoDb>(device.get(), true);
    QString error;
    try {
        if (!db->LoadPhotos()) error = QStringLiteral("The device holds no photos that could be read.");
    } catch (const EQuenlorError& e) {
        error = QStringLiteral("The device's photo library is damaged: ") + e.Message();
    }
    if (!error.isEmpty()) {
        if (options.Json) PrintJson(PhotosJson(*device, *db));
        Err(error + QLatin1Char('\n'));
        if (!db->Log.isEmpty()) Err(LogText(db->Log) + QLatin1Char('\n'));
        code = ExitNoDevice;
        return nullptr;
    }
    code = ExitOk;
    return device;
}

} // namespace

int RunPhotos(const TCliOptions& options) {
    if (options.Help || !options.Rest.isEmpty()) {
        Out(QStringLiteral(
            "Usage: quenlor-cli photos [--device DIR] [--json]\n"
            "Lists the connected device's photo source, thumbnail formats, albums and camera roll.\n"));
        return options.Help ? ExitOk : ExitUsage;
    }
    std::unique_ptr<TIpodPhotoDb> db;
    int code = ExitOk;
    const std::unique_ptr<TIpodDevice> device = LoadDevicePhotos(options, db, code);
    if (!device) return code;
    if (options.Json)
        PrintJson(PhotosJson(*device, *db));
    else
        PrintPhotos(*device, *db);
    return ExitOk;
}

int RunCopyPhotos(const TCliOptions& options) {
    QStringList rest = options.Rest;
    bool ok = true;
    QString target = TakeOption(rest, QStringLiteral("--to"), ok);
    const bool hasAlbum = rest.contains(QStringLiteral("--album"));
    const QString albumName = TakeOption(rest, QStringLiteral("--album"), ok);
    const bool camera = TakeFlag(rest, QStringLiteral("--camera"));
    if (options.Help || !ok || !rest.isEmpty() || target.isEmpty()) {
        Out(QStringLiteral(
            "Usage: quenlor-cli copy-photos --to DIR [--album NAME] [--camera] [--device DIR] [--json]\n"
            "Exports the device's photos (all, or those of one album) into DIR as JPEG files, or\n"
            "copies their own files; --camera also copies the camera roll. Ctrl+C stops after\n"
            "the file being copied.\n"));
        return options.Help ? ExitOk : ExitUsage;
    }
    std::unique_ptr<TIpodPhotoDb> db;
    int code = ExitOk;
    const std::unique_ptr<TIpodDevice> device = LoadDevicePhotos(options, db, code);
    if (!device) return code;
    PhotoDb = db.get();

    if (hasAlbum) {
        int album = -1;
        for (int i = 0; i < db->Albums.Count() && album < 0; ++i)
            if (db->Albums.Items(i).Name == albumName) album = i;
        if (album < 0) {
            Err(QStringLiteral("The device has no album named \"%1\".\n").arg(albumName));
            return ExitUsage;
        }
        if (album == 0) {
            for (int i = 0; i < db->Photos.Count(); ++i)
                db->Photos.SelectItem(i);
        } else {
            const QVector<quint32>& ids = db->Albums.Items(album).ImageIds;
            const QSet<quint32> wanted(ids.begin(), ids.end());
            for (int i = 0; i < db->Photos.Count(); ++i)
                if (wanted.contains(db->Photos[i].ImageId)) db->Photos.SelectItem(i);
        }
    } else {
        for (int i = 0; i < db->Photos.Count(); ++i)
            db->Photos.SelectItem(i);
    }
    if (camera && db->CamPhotos)
        for (int i = 0; i < db->CamPhotos->Count(); ++i)
            db->CamPhotos->SelectItem(i);

    target = QDir(target).absolutePath();
    if (!db->CheckDestDir(target)) {
        Err(QString(target).replace(QLatin1Char('\r'), QLatin1Char('\n')) + QLatin1Char('\n'));
        return ExitUsage;
    }

    // The transfer log as the photo window composes it.
    QString transferLog = QStringLiteral("Quenlor 2.7\r\n");
    if (!device->IsMobile) transferLog += QStringLiteral("[iPod]\r\n");

    const int total = db->Photos.SelCount + (db->CamPhotos ? db->CamPhotos->SelCount : 0);
    TCliProgress progress;
    QObject receiver;
    TPhotoCopyThread thread(&receiver);
    int number = 0;
    bool interrupted = false;
    thread.OnFile = [&](const QString& name) { progress.Update(++number, total, name); };
    thread.OnDone = [&] { QCoreApplication::quit(); };
    // The handler outlives this function; it reaches the transfer only while it runs.
    static std::function<void()> onInterrupt;
    onInterrupt = [&] {
        interrupted = true;
        thread.requestInterruption();
        progress.Status(QStringLiteral("Cancelling ..."));
    };
    InstallInterruptHandler([] {
        if (onInterrupt) onInterrupt();
    });
    thread.Resume(false);
    QCoreApplication::exec();
    thread.wait();
    onInterrupt = nullptr;
    progress.Finish();
    transferLog += db->Log;
    PhotoDb = nullptr;

    const bool failed = interrupted || !thread.ErrorText.isEmpty() ||
                        db->Log.contains(QStringLiteral(": Error ")) ||
                        db->Log.contains(QStringLiteral("Cannot open ")) ||
                        db->Log.contains(QStringLiteral("Too many error"));
    if (options.Json) {
        PrintJson(QJsonObject{
            {QStringLiteral("device"), DeviceJson(*device)},
            {QStringLiteral("target"), db->DestDir},
            {QStringLiteral("photos"), QJsonObject{{QStringLiteral("selected"), db->Photos.SelCount},
                                                   {QStringLiteral("copied"), thread.PhotoCount}}},
            {QStringLiteral("camera"),
             QJsonObject{{QStringLiteral("selected"), db->CamPhotos ? db->CamPhotos->SelCount : 0},
                         {QStringLiteral("copied"), thread.CameraCount}}},
            {QStringLiteral("cancelled"), interrupted},
            {QStringLiteral("error"), thread.ErrorText},
            {QStringLiteral("log"), transferLog}});
    } else {
        Out(LogText(transferLog) + QLatin1Char('\n'));
        if (!thread.ErrorText.isEmpty())
            Err(QStringLiteral("The transfer ended early: ") + thread.ErrorText + QLatin1Char('\n'));
    }
    return failed ? ExitItemsFailed : ExitOk;
}
