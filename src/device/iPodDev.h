#pragma once

#include "DevicePaths.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TIosHelper;
class TMemoryStream;
class TMountWatcher;

// Device-change messages as the session's message handler receives them. On Linux the
// mount table watcher produces them; the volume is named by its mount point.
constexpr quint32 WM_DEVICECHANGE = 537;
constexpr quint32 DBT_DEVICEARRIVAL = 0x8000;
constexpr quint32 DBT_DEVICEQUERYREMOVE = 0x8001;
constexpr quint32 DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr quint32 DBT_DEVTYP_VOLUME = 2;
constexpr qintptr BROADCAST_QUERY_DENY = 0x424D5144;

struct TDeviceMessage {
    quint32 Msg = WM_DEVICECHANGE;
    quint32 Event = 0;
    quint32 DeviceType = DBT_DEVTYP_VOLUME;
    QString MountPoint;
};

// Shell folder ids the session knows.
constexpr int CSIDL_MYMUSIC = 13;
constexpr int CSIDL_MYPICTURES = 39;

// The session with one connected player, in disk mode (an iPod mounted at Root) or in
// mobile mode (a device reached through the mobile device bridge). Lives on the UI
// thread; OnChange is always called there, in the order the events happened.
// Device file operations may also be called from one transfer thread at a time.
class TIpodDevice : public QObject {
    Q_OBJECT
public:
    using TChangeEvent = std::function<void(bool connected, bool mobileEvent)>;

    // watchMounts: follow the mount table for arrivals and removals (tests hand
    // WndProc messages directly instead).
    explicit TIpodDevice(TChangeEvent onChange, QObject* owner = nullptr, bool watchMounts = true);
    ~TIpodDevice() override;

    QString Log;
    bool IsMobile = false;
    bool Connected = false;
    bool EjectOnClose = false;
    bool CanEject = false;
    QString Root;
    QString WorkFile;
    TChangeEvent OnChange;
    bool MobileUnavailable = false;
    std::unique_ptr<QByteArray> ThumbBuffer;
    std::unique_ptr<QFile> ThumbStream;

    void AddLog(const QString& text);
    bool ScanDrives();
    virtual qintptr WndProc(const TDeviceMessage& message);
    // Called by the bridge on its own thread; handled on the session's thread.
    void MobileDeviceChanged(bool connected);

    bool CheckDestFolder(QString& folder, qint64 bytesNeeded);
    static QString ShellFolderPath(int csidl);
    static QString SpecialFolder(bool pictures);
    static QString SizeText(qint64 bytes);

    bool ReadFileToStream(const QString& path, TMemoryStream& stream);
    bool ReadMusicDatabase(TMemoryStream& stream, bool& compressed);
    bool LoadPhotoDatabase(TMemoryStream& stream);

    // Fetching and copying device files.
    void PrepareWorkFile();
    void FetchLibraryFile(const QString& name, bool inLibraryFolder, QString& path, const QString& suffix = {});
    void FetchPhotoDataFile(const QString& name, const QString& suffix, QString& path);
    void FetchBooksPlist(bool purchased, QString& path);
    bool EnsureXmlPlist(const QString& fileName, const QString& dest);
    bool FileExistsOnDevice(const QString& path);
    int CopyFromDevice(const QString& devicePath, const QString& destFile);
    int CopyDeviceFile(const QString& path, const QString& destFile);
    static qint64 LocalFileSize(const QString& path);
    static bool HasLocalSize(const QString& path, qint64 size) { return LocalFileSize(path) == size; }
    qint64 DeviceFileSize(const QString& devicePath);
    bool OpenThumbFile(const QString& name, int bufferSize);
    bool ReadThumb(int count, TMemoryStream& stream, qint64 offset);
    void CloseThumbFile();
    bool FetchCameraPreview(const QString& folder, const QString& name, TMemoryStream& stream, QString& ext);
    void FetchPlayableFile(const QString& devicePath, QString& path);
    QString CameraRollFolder() const;
    int ListCameraRoll(QStringList& list);

    // Copies for the music transfer: never overwrite, number names that are taken.
    int CopyToUniqueName(const QString& location, QString& target, quint32 size);
    int CopyItemOrFolder(const QString& location, QString& target, bool& isFolder, quint32 size);
    int CopyDeviceFolder(const QString& deviceDir, QString& target);
    // The extension of a device location with its dot, made fit for a local file name.
    static QString LocalExtension(const QString& location);
    // A path whose last part is cut (at a character boundary) so that part plus tail
    // fits the file system's 255-byte name limit, then tail appended.
    static QString FitFileName(const QString& path, const QString& tail);

    // The fixed folders of the current mode.
    const TDeviceFolders& Folders() const { return IsMobile ? MobileFolders() : DiskFolders(); }
    // A database location (":" form) as a local path below Root, or as a device path.
    QString LocationToDiskPath(const QString& location) const { return Root + CleanDevicePath(location); }
    static QString LocationToMobilePath(const QString& location) { return CleanDevicePath(location); }

protected:
    bool TestDrive(const QString& root);

private:
    // Starts a disk session at root when it holds an iPod; root is a removable drive.
    bool TakeDrive(const QString& root);
    void HandleMobileChange(bool connected);
    std::unique_ptr<TIosHelper> FBridge;
    std::unique_ptr<TMountWatcher> FWatcher;
};
