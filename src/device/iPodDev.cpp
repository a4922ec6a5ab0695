#include "iPodDev.h"
#include "IosHelper.h"

#include "Folders.h"
#include "MemoryStream.h"
#include "MountTable.h"
#include "MountWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

TIpodDevice::TIpodDevice(TChangeEvent onChange, QObject* owner, bool watchMounts)
    : QObject(owner), OnChange(std::move(onChange)) {
    FBridge = std::make_unique<TIosHelper>(3, [this](bool c) { MobileDeviceChanged(c); });
    CurrentIosHelper = FBridge.get();
    if (!FBridge->LibraryLoaded) {
        AddLog(QStringLiteral("Cannot load the iTunes Dll, requires iTunes 7.5 or above."));
        MobileUnavailable = true;
    }
    FBridge->Start(MobileUnavailable);
    if (!FBridge->Subscribed) {
        AddLog(QStringLiteral("Cannot access iPhone/iTouch/iPad."));
        MobileUnavailable = true;
    }
    if (FBridge->BufferSize == 0)
        AddLog(QStringLiteral("Internal - out of Memory"));
    if (watchMounts) {
        FWatcher = std::make_unique<TMountWatcher>();
        connect(FWatcher.get(), &TMountWatcher::Arrived, this, [this](const QString& mountPoint) {
            WndProc({WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, mountPoint});
        });
        connect(FWatcher.get(), &TMountWatcher::Removed, this, [this](const QString& mountPoint) {
            WndProc({WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, mountPoint});
        });
    }
}

TIpodDevice::~TIpodDevice() {
    FWatcher.reset();
    CloseThumbFile();
    if (!WorkFile.isEmpty()) {
        QFile::remove(WorkFile);
        QFile::remove(WorkFile + QStringLiteral("-wal"));
    }
    if (CurrentIosHelper == FBridge.get())
        CurrentIosHelper = nullptr;
    FBridge.reset();
}

void TIpodDevice::AddLog(const QString& text) {
    Log += QStringLiteral("\r\n");
    Log += text;
}

bool TIpodDevice::TestDrive(const QString& root) { return IsRemovableDrive(root) && TakeDrive(root); }

bool TIpodDevice::TakeDrive(const QString& root) {
    if (!QFileInfo(root + QStringLiteral("/iPod_Control/iTunes/")).isDir())
        return false;
    IsMobile = false;
    Root = root;
    return true;
}

bool TIpodDevice::ScanDrives() {
    // The roots listed are removable drives already: no need to ask the system again.
    for (const QString& root : RemovableDriveRoots()) {
        if (TakeDrive(root)) {
            Connected = true;
            CanEject = true;
            if (OnChange)
                OnChange(true, false);
            return true;
        }
    }
    return false;
}

qintptr TIpodDevice::WndProc(const TDeviceMessage& message) {
    if (message.Msg != WM_DEVICECHANGE || (Connected && IsMobile))
        return 0;
    switch (message.Event) {
    case DBT_DEVICEARRIVAL:
        if (!Connected && message.DeviceType == DBT_DEVTYP_VOLUME && TestDrive(message.MountPoint)) {
            Connected = true;
            CanEject = true;
            if (OnChange)
                OnChange(true, false);
        }
        return 0;
    case DBT_DEVICEQUERYREMOVE:
        if (Connected)
            return EjectOnClose ? 0 : BROADCAST_QUERY_DENY;
        return 0;
    case DBT_DEVICEREMOVECOMPLETE:
        if (Connected && message.DeviceType == DBT_DEVTYP_VOLUME && !Root.isEmpty() &&
            QDir::cleanPath(message.MountPoint) == Root) {
            AddLog(QStringLiteral("[!]: Lost iPod, please connect iPod to try again"));
            Connected = false;
            CanEject = false;
            IsMobile = false;
            Root.clear();
            if (OnChange)
                OnChange(false, false);
        }
        return 0;
    default:
        return 0;
    }
}

void TIpodDevice::MobileDeviceChanged(bool connected) {
    // The bridge calls from its own thread; the flags and OnChange belong to ours.
    // A queued call keeps the events' order and is dropped if the session is gone.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, connected] { HandleMobileChange(connected); }, Qt::QueuedConnection);
        return;
    }
    HandleMobileChange(connected);
}

void TIpodDevice::HandleMobileChange(bool connected) {
    if (Connected && !IsMobile)
        return;
    Connected = connected;
    IsMobile = connected;
    if (connected)
        CanEject = false;
    if (OnChange)
        OnChange(connected, true);
}

bool TIpodDevice::CheckDestFolder(QString& folder, qint64 bytesNeeded) {
    const QString existing = NearestExistingAncestor(folder);
    if (Connected && !IsMobile && !Root.isEmpty() && !existing.isEmpty()) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        const QString root = QFileInfo(Root).canonicalFilePath();
        const bool below = canonical == root || canonical.startsWith(root + QLatin1Char('/'));
        const bool rootIsMount = MountPointOf(Root) == Root;
        if (below || (rootIsMount && SameFileSystem(existing, Root))) {
            folder = Root + QStringLiteral(" is your iPod.\rYou cannot transfer the files from iPod to iPod. "
                                           "Please choose another folder in your computer.");
            return false;
        }
    }
    const qint64 free = FreeBytes(folder);
    if (free <= bytesNeeded) {
        const QString drive = existing.isEmpty() ? folder : MountPointOf(existing);
        folder = drive + QStringLiteral(" hasn't enough free disk space to save all the selected items.\r"
                                        "Please choose another place to try again.");
        return false;
    }
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        folder = QStringLiteral("Can not create the folder: ") + folder + QStringLiteral("\rPlease choose another place.");
        return false;
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return true;
}

QString TIpodDevice::ShellFolderPath(int csidl) {
    if (csidl == CSIDL_MYPICTURES)
        return UserPicturesFolder();
    if (csidl == CSIDL_MYMUSIC)
        return UserMusicFolder();
    return {};
}

QString TIpodDevice::SpecialFolder(bool pictures) {
    return ShellFolderPath(pictures ? CSIDL_MYPICTURES : CSIDL_MYMUSIC);
}

QString TIpodDevice::SizeText(qint64 bytes) {
    if (bytes < 1048576)
        return QString::number(double(bytes) / 1024, 'f', 2) + QStringLiteral(" KB");
    if (bytes <= 1073741824)
        return QString::number(double(bytes) / 1048576, 'f', 2) + QStringLiteral(" MB");
    return QString::number(double(bytes) / 1073741824, 'f', 2) + QStringLiteral(" GB");
}

bool TIpodDevice::ReadFileToStream(const QString& path, TMemoryStream& stream) {
    stream.Clear();
    if (IsMobile) {
        if (CurrentIosHelper && CurrentIosHelper->CopyToStream(path, stream)) {
            stream.Position = 0;
            return true;
        }
        AddLog(CurrentIosHelper ? CurrentIosHelper->LastErrorText() : QString());
        return false;
    }
    const QString local = Root + CleanDevicePath(path);
    if (!QFileInfo(local).isFile()) {
        AddLog(QStringLiteral("Not found: ") + path);
        return false;
    }
    if (!stream.LoadFromFile(local)) {
        stream.Clear();
        AddLog(QStringLiteral("iPod not found, connect iPod to try again."));
        return false;
    }
    stream.Position = 0;
    return true;
}

bool TIpodDevice::ReadMusicDatabase(TMemoryStream& stream, bool& compressed) {
    compressed = true;
    if (ReadFileToStream(Folders().MusicDatabase + QStringLiteral("iTunesCDB"), stream))
        return true;
    compressed = false;
    return ReadFileToStream(Folders().MusicDatabase + QStringLiteral("iTunesDB"), stream);
}

bool TIpodDevice::LoadPhotoDatabase(TMemoryStream& stream) {
    return ReadFileToStream(Folders().PhotoDatabase + QStringLiteral("Photo Database"), stream);
}
