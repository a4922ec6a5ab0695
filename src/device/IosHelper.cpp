#include "IosHelper.h"

#include "MemoryStream.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

TCurrentIosHelper CurrentIosHelper;
void* (*TIosHelper::BufferAllocator)(size_t bytes) = std::malloc;

namespace {

// Held while a notification is inside a bridge, and by a bridge's destructor while it
// withdraws from CurrentIosHelper: no event can reach a destroyed bridge.
std::mutex GDeliveryLock;

constexpr qint64 FallbackBufferSize = 524288;
// A books list or other property list larger than this is not one the device writes.
constexpr qint64 MaxPlistBytes = 64 * 1024 * 1024;
// Folder walks stop this deep: a device's media tree is far shallower.
constexpr int MaxListDepth = 64;

QByteArray DevicePathBytes(const QString& path) {
    return path.toUtf8();
}

QString Code(int code) {
    return QString::number(code);
}

// Names from a listing are untrusted: one that is not a plain name is never used.
bool IsPlainName(const char* name) {
    return name && *name && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
           !std::strchr(name, '/');
}

int WriteAll(int fd, const char* data, qint64 count) {
    while (count > 0) {
        const ssize_t w = ::write(fd, data, size_t(count));
        if (w < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += w;
        count -= w;
    }
    return 0;
}

} // namespace

void DeliverDeviceNotification(const MobileLib::TDeviceNotification& info) {
    std::lock_guard lock(GDeliveryLock);
    if (TIosHelper* helper = CurrentIosHelper) helper->DeviceNotification(info.Udid, info.Message);
}

void TIosHelper::TFreeBuffer::operator()(char* p) const {
    std::free(p);
}

TIosHelper::TIosHelper(int bufferMegabytes, TDeviceChange onDeviceChange)
    : OnDeviceChange(std::move(onDeviceChange)), FBufferMegabytes(bufferMegabytes) {
    LibraryLoaded = MobileLib::LoadMobileDeviceLibraries();
}

TIosHelper::~TIosHelper() {
    {
        std::lock_guard lock(GDeliveryLock);
        if (CurrentIosHelper == this) CurrentIosHelper = nullptr;
    }
    std::lock_guard lock(FConnectionLock);
    if (Subscribed) CloseConnection();
    if (FDevice) MobileLib::FreeDevice(*FDevice);
    FDevice.reset();
    FBuffer.reset();
}

QString TIosHelper::LastErrorText() const {
    std::lock_guard lock(FStateLock);
    return LastError;
}

void TIosHelper::SetError(const QString& text) {
    std::lock_guard lock(FStateLock);
    LastError = text;
}

void TIosHelper::Start(bool noSubscribe) {
    // The buffer comes first: a device announced right after subscribing may be read
    // from at once.
    {
        std::lock_guard lock(FConnectionLock);
        SetBufferSize(qint64(FBufferMegabytes) * 1048576);
    }
    if (!noSubscribe && LibraryLoaded) {
        const int rc = MobileLib::AMDeviceNotificationSubscribe(DeliverDeviceNotification);
        Subscribed = rc == 0;
        if (!Subscribed) SetError(QStringLiteral("Subscribes error: ") + Code(rc));
    }
}

void TIosHelper::SetBufferSize(qint64 bytes) {
    if (bytes == BufferSize && (FBuffer || bytes == 0)) return;
    FBuffer.reset();
    BufferSize = 0;
    if (bytes <= 0) return;
    if (char* p = static_cast<char*>(BufferAllocator(size_t(bytes)))) {
        FBuffer.reset(p);
        BufferSize = bytes;
    } else if (char* small = static_cast<char*>(BufferAllocator(size_t(FallbackBufferSize)))) {
        FBuffer.reset(small);
        BufferSize = FallbackBufferSize;
    }
}

void TIosHelper::DeviceNotification(const char* udid, int message) {
    const std::string id = udid ? udid : "";
    if (message == MobileLib::MessageConnected || message == MobileLib::MessagePaired) {
        {
            std::lock_guard lock(FStateLock);
            // A pairing completed: only a device that is not yet usable is brought up.
            if (message == MobileLib::MessagePaired && FUsableUdid == id) return;
            FDeviceUdid = id;
        }
        if (ConnectDevice(id) && OnDeviceChange) OnDeviceChange(true);
        return;
    }
    {
        // Another device leaving does not end the session with this one: only the
        // device in use, or the one last announced, counts.
        std::lock_guard lock(FStateLock);
        const bool noneKnown = FDeviceUdid.empty() && FUsableUdid.empty();
        if (!noneKnown && id != FDeviceUdid && id != FUsableUdid) return;
    }
    if (OnDeviceChange) OnDeviceChange(false);
}

bool TIosHelper::ConnectDevice(const std::string& udid) {
    // The new connection is built aside and swapped in under the lock, so a transfer
    // using the old one finishes its current operation first.
    auto device = std::make_unique<MobileLib::TDevice>();
    device->Udid = udid;
    auto fail = [&](const QString& text) {
        MobileLib::FreeDevice(*device);
        SetError(text);
        return false;
    };
    const QString pairHint = QStringLiteral(" (Run iTunes to pair the device)");
    int rc = MobileLib::AMDeviceConnect(*device);
    if (rc != 0) return fail(QStringLiteral("Connect failed: ") + Code(rc));
    if (!MobileLib::AMDeviceIsPaired(*device)) {
        rc = MobileLib::AMDevicePair(*device);
        if (rc != 0) return fail(QStringLiteral("Pair failed: ") + Code(rc) + pairHint);
    } else if (MobileLib::AMDeviceValidatePairing(*device) != 0) {
        rc = MobileLib::AMDevicePair(*device);
        if (rc != 0) return fail(QStringLiteral("Invalid pair: ") + Code(rc) + pairHint);
    }
    rc = MobileLib::AMDeviceStartSession(*device);
    if (rc != 0) return fail(QStringLiteral("Cannot start session: ") + Code(rc));
    MobileLib::TServiceHandle service = nullptr;
    rc = MobileLib::StartDeviceService(*device, "com.apple.afc", service);
    if (rc != 0) return fail(QStringLiteral("Cannot start AFC service: ") + Code(rc));
    // The file service stays usable without the session.
    MobileLib::AMDeviceStopSession(*device);
    MobileLib::AMDeviceDisconnect(*device);
    MobileLib::TAfcConnection connection = nullptr;
    rc = MobileLib::AFCConnectionOpen(*device, service, connection);
    MobileLib::FreeService(service);
    if (rc != 0) return fail(QStringLiteral("Open AFC error: ") + Code(rc));

    std::lock_guard lock(FConnectionLock);
    // A connection that would not close may still rest on its device handle: that one
    // is then left alone rather than freed under it.
    if (CloseConnection() && FDevice)
        MobileLib::FreeDevice(*FDevice);
    else
        (void)FDevice.release();
    FDevice = std::move(device);
    FAfcConnection = connection;
    FAfcOpen = true;
    FFileOpen = false;
    std::lock_guard state(FStateLock);
    FUsableUdid = udid;
    return true;
}

bool TIosHelper::CloseConnection() {
    // Called with the connection lock held. An open file belongs to the connection.
    FFileOpen = false;
    if (!FAfcOpen) return true;
    if (!MobileLib::CanCloseConnection()) {
        // Without the close entry point the connection (and the device handle it rests
        // on) is left to the process's end.
        FAfcOpen = false;
        FAfcConnection = nullptr;
        (void)FDevice.release();
        std::lock_guard state(FStateLock);
        FUsableUdid.clear();
        return true;
    }
    const int rc = MobileLib::AFCConnectionClose(FAfcConnection);
    if (rc != 0) {
        SetError(QStringLiteral("Close AFC error: ") + Code(rc));
        return false;
    }
    FAfcOpen = false;
    FAfcConnection = nullptr;
    std::lock_guard state(FStateLock);
    FUsableUdid.clear();
    return true;
}

bool TIosHelper::ExistsLocked(const QByteArray& path) {
    if (!FAfcOpen) return false;
    MobileLib::TAfcList info;
    if (MobileLib::AFCFileInfoOpen(FAfcConnection, path.constData(), info) != 0) return false;
    MobileLib::AFCKeyValueClose(info);
    return true;
}

bool TIosHelper::DeviceFileExists(const QString& path) {
    std::lock_guard lock(FConnectionLock);
    return ExistsLocked(DevicePathBytes(path));
}

bool TIosHelper::GetFileInfoValue(const QByteArray& path, const char* key, QByteArray& value) {
    if (!FAfcOpen) return false;
    MobileLib::TAfcList info;
    if (MobileLib::AFCFileInfoOpen(FAfcConnection, path.constData(), info) != 0) return false;
    bool found = false;
    const char* k = nullptr;
    const char* v = nullptr;
    while (MobileLib::AFCKeyValueRead(info, k, v)) {
        if (qstricmp(k, key) == 0) {
            value = QByteArray(v);
            found = true;
            break;
        }
    }
    MobileLib::AFCKeyValueClose(info);
    return found;
}

quint8 TIosHelper::FileKindLocked(const QByteArray& path) {
    QByteArray kind;
    if (!GetFileInfoValue(path, "st_ifmt", kind)) return 3;
    if (qstricmp(kind.constData(), "S_IFDIR") == 0) return 1;
    if (qstricmp(kind.constData(), "S_IFREG") == 0) return 0;
    return 2;
}

quint8 TIosHelper::GetFileKind(const QString& path) {
    std::lock_guard lock(FConnectionLock);
    return FileKindLocked(DevicePathBytes(path));
}

qint32 TIosHelper::GetFileSize(const QString& path) {
    std::lock_guard lock(FConnectionLock);
    QByteArray size;
    if (!GetFileInfoValue(DevicePathBytes(path), "st_size", size)) return 0;
    bool ok = false;
    const qint32 n = size.trimmed().toInt(&ok, 10);
    return ok ? n : 0;
}

template <typename Writer> bool TIosHelper::CopyLocked(const QString& path, Writer&& write) {
    const QByteArray device = DevicePathBytes(path);
    if (!ExistsLocked(device)) {
        SetError(QStringLiteral("Not found: ") + path);
        return false;
    }
    if (!FBuffer || BufferSize <= 0) {
        // Without a buffer nothing can be copied; an empty result is no copy.
        SetError(QStringLiteral("Internal - out of Memory"));
        return false;
    }
    // The size the device reports decides where the file ends: a short read before it
    // is not taken for the end of the file.
    QByteArray sizeText;
    bool sizeKnown = GetFileInfoValue(device, "st_size", sizeText);
    const qint64 expected = sizeKnown ? sizeText.trimmed().toLongLong(&sizeKnown) : -1;
    MobileLib::TAfcFileRef ref = 0;
    int rc = MobileLib::AFCFileRefOpen(FAfcConnection, device.constData(), ref);
    if (rc != 0) {
        SetError(QStringLiteral("Open error: ") + Code(rc));
        return false;
    }
    bool ok = true;
    qint64 total = 0;
    for (;;) {
        std::uint32_t n = std::uint32_t(BufferSize);
        rc = MobileLib::AFCFileRefRead(FAfcConnection, ref, FBuffer.get(), n);
        if (rc != 0) {
            SetError(QStringLiteral("Read error: ") + Code(rc));
            ok = false;
            break;
        }
        if (n > 0) {
            const int error = write(FBuffer.get(), qint64(n));
            if (error != 0) {
                SetError(QStringLiteral("Exp! ") + Code(error));
                ok = false;
                break;
            }
        }
        total += n;
        if (n == 0 || (qint64(n) < BufferSize && (!sizeKnown || total >= expected))) break;
    }
    MobileLib::AFCFileRefClose(FAfcConnection, ref);
    if (ok && sizeKnown && total < expected) {
        SetError(QStringLiteral("Read error: the file ended at byte %1 of %2").arg(total).arg(expected));
        ok = false;
    }
    return ok;
}

bool TIosHelper::CopyToStream(const QString& path, TMemoryStream& stream) {
    std::lock_guard lock(FConnectionLock);
    return CopyLocked(path, [&](const char* data, qint64 count) {
        try {
            stream.Write(data, count);
            return 0;
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        } catch (const std::exception&) {
            return errno != 0 ? errno : EIO;
        }
    });
}

bool TIosHelper::CopyToDescriptor(const QString& path, int fd) {
    std::lock_guard lock(FConnectionLock);
    return CopyLocked(path, [fd](const char* data, qint64 count) { return WriteAll(fd, data, count); });
}

bool TIosHelper::CopyToFile(const QString& path, const QString& localFileName) {
    // The bytes go to a temporary beside the target, which only a complete copy
    // replaces: a failed copy leaves no partial file under the name.
    const QString folder = QFileInfo(localFileName).absolutePath();
    QString temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + QStringLiteral("/.~ip%1.part")
                            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        fd = ::open(QFile::encodeName(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        SetError(QStringLiteral("Exp! ") + Code(errno));
        return false;
    }
    bool ok = CopyToDescriptor(path, fd);
    if (::close(fd) != 0 && ok) {
        SetError(QStringLiteral("Exp! ") + Code(errno));
        ok = false;
    }
    const QByteArray tempName = QFile::encodeName(temp);
    if (ok && ::rename(tempName.constData(), QFile::encodeName(localFileName).constData()) != 0) {
        SetError(QStringLiteral("Exp! ") + Code(errno));
        ok = false;
    }
    if (!ok) ::unlink(tempName.constData());
    return ok;
}

bool TIosHelper::OpenDeviceFile(const QString& path) {
    std::lock_guard lock(FConnectionLock);
    const QByteArray device = DevicePathBytes(path);
    if (!ExistsLocked(device)) {
        SetError(QStringLiteral("Not found"));
        return false;
    }
    if (FFileOpen) {
        MobileLib::AFCFileRefClose(FAfcConnection, FOpenFileRef);
        FFileOpen = false;
    }
    const int rc = MobileLib::AFCFileRefOpen(FAfcConnection, device.constData(), FOpenFileRef);
    if (rc != 0) {
        SetError(QStringLiteral("Open err: ") + Code(rc));
        return false;
    }
    FFileOpen = true;
    return true;
}

bool TIosHelper::ReadAt(quint32 count, char* buffer, qint64 offset) {
    std::lock_guard lock(FConnectionLock);
    if (!FAfcOpen || !FFileOpen) {
        SetError(QStringLiteral("Not found"));
        return false;
    }
    int rc = MobileLib::AFCFileRefSeek(FAfcConnection, FOpenFileRef, offset);
    if (rc != 0) {
        SetError(QStringLiteral("Seek Err: ") + Code(rc));
        return false;
    }
    // All Count bytes or a failure: a read error or the end of the file before them is
    // reported, never a buffer with stale bytes in it.
    quint32 done = 0;
    while (done < count) {
        std::uint32_t n = count - done;
        rc = MobileLib::AFCFileRefRead(FAfcConnection, FOpenFileRef, buffer + done, n);
        if (rc != 0) {
            SetError(QStringLiteral("Read Err: ") + Code(rc));
            return false;
        }
        if (n == 0) {
            SetError(
                QStringLiteral("Read Err: %1 of %2 bytes at offset %3").arg(done).arg(count).arg(offset));
            return false;
        }
        done += n;
    }
    return true;
}

void TIosHelper::CloseDeviceFile() {
    std::lock_guard lock(FConnectionLock);
    if (FFileOpen && FAfcOpen) MobileLib::AFCFileRefClose(FAfcConnection, FOpenFileRef);
    FFileOpen = false;
}

void TIosHelper::ListLocked(const QString& dir, QStringList& list, bool recursive, int depth) {
    if (!FAfcOpen) return;
    MobileLib::TAfcList entries;
    if (depth > MaxListDepth ||
        MobileLib::AFCDirectoryOpen(FAfcConnection, DevicePathBytes(dir).constData(), entries) != 0) {
        SetError(QStringLiteral("Path not found: ") + dir);
        return;
    }
    const char* name = nullptr;
    while (MobileLib::AFCDirectoryRead(entries, name)) {
        if (!IsPlainName(name)) continue;
        const QString entry = QString::fromUtf8(name);
        switch (FileKindLocked(DevicePathBytes(dir + entry))) {
        case 0:
            list.append(recursive ? dir + entry : entry);
            break;
        case 1:
            if (recursive) ListLocked(dir + entry + QLatin1Char('/'), list, true, depth + 1);
            break;
        default:
            break;
        }
    }
    MobileLib::AFCDirectoryClose(entries);
}

void TIosHelper::ListFiles(const QString& dir, QStringList& list) {
    std::lock_guard lock(FConnectionLock);
    ListLocked(dir, list, false, 0);
}

void TIosHelper::ListFilesRecursive(const QString& dir, QStringList& list) {
    std::lock_guard lock(FConnectionLock);
    ListLocked(dir, list, true, 0);
}

bool TIosHelper::ConvertPlistToXml(const QString& source, const QString& dest) {
    if (!MobileLib::CanConvertPlists()) {
        SetError(QStringLiteral("Cannot convert the property list: libplist is not available"));
        return false;
    }
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly) || in.size() > MaxPlistBytes) {
        SetError(QStringLiteral("Cannot read the property list: ") + source);
        return false;
    }
    const QByteArray bytes = in.readAll();
    in.close();
    std::string xml;
    if (!MobileLib::PlistToXml(std::string(bytes.constData(), size_t(bytes.size())), xml)) {
        SetError(QStringLiteral("Not a property list: ") + source);
        return false;
    }
    QSaveFile out(dest);
    if (!out.open(QIODevice::WriteOnly) || out.write(xml.data(), qint64(xml.size())) != qint64(xml.size()) ||
        !out.commit()) {
        SetError(QStringLiteral("Cannot write the property list: ") + dest);
        return false;
    }
    return true;
}
