#pragma once

#include "itmobiledev.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class TMemoryStream;

// The program's only contact with an iPhone, iPod touch or iPad: brings a connected
// device up to an open file service connection and offers a small read-only file
// interface on it. Every operation reports failure by its result and leaves the reason
// in LastError. Device events are delivered on the device library's own thread through
// OnDeviceChange; the file operations run on the caller's thread, one at a time.
class TIosHelper {
public:
    using TDeviceChange = std::function<void(bool usable)>;

    TIosHelper(int bufferMegabytes, TDeviceChange onDeviceChange);
    ~TIosHelper();
    TIosHelper(const TIosHelper&) = delete;
    TIosHelper& operator=(const TIosHelper&) = delete;

    // Written under the bridge's lock, also by the device library's thread when a
    // connection fails; read it through LastErrorText() from other threads.
    QString LastError;
    QString LastErrorText() const;
    bool LibraryLoaded = false;
    bool Subscribed = false;
    TDeviceChange OnDeviceChange;
    qint64 BufferSize = 0;

    void Start(bool noSubscribe);

    bool DeviceFileExists(const QString& path);
    // 0 regular file, 1 directory, 2 other kind, 3 no information.
    quint8 GetFileKind(const QString& path);
    bool IsDirectory(const QString& path) { return GetFileKind(path) == 1; }
    qint32 GetFileSize(const QString& path);
    bool CopyToStream(const QString& path, TMemoryStream& stream);
    bool CopyToFile(const QString& path, const QString& localFileName);
    // Copies the device file into an open local file descriptor (the caller names,
    // publishes or removes the file).
    bool CopyToDescriptor(const QString& path, int fd);
    bool OpenDeviceFile(const QString& path);
    bool ReadAt(quint32 count, char* buffer, qint64 offset);
    void CloseDeviceFile();
    void ListFiles(const QString& dir, QStringList& list);
    void ListFilesRecursive(const QString& dir, QStringList& list);
    bool ConvertPlistToXml(const QString& source, const QString& dest);

    // How the transfer buffer is allocated (malloc); tests replace it to simulate a
    // shortage of memory.
    static void* (*BufferAllocator)(size_t bytes);

private:
    friend void DeliverDeviceNotification(const MobileLib::TDeviceNotification& info);
    void DeviceNotification(const char* udid, int message);
    bool ConnectDevice(const std::string& udid);
    bool CloseConnection();
    void SetBufferSize(qint64 bytes);
    void SetError(const QString& text);
    bool ExistsLocked(const QByteArray& path);
    bool GetFileInfoValue(const QByteArray& path, const char* key, QByteArray& value);
    quint8 FileKindLocked(const QByteArray& path);
    template <typename Writer> bool CopyLocked(const QString& path, Writer&& write);
    void ListLocked(const QString& dir, QStringList& list, bool recursive, int depth);

    int FBufferMegabytes = 0;
    mutable std::mutex FStateLock;               // LastError and the device reference
    std::mutex FConnectionLock;                  // the connection, the open file and the buffer
    std::string FDeviceUdid;                     // the device of the last connection notification
    std::string FUsableUdid;                     // the device of the open connection
    std::unique_ptr<MobileLib::TDevice> FDevice; // the device of the open connection
    MobileLib::TAfcConnection FAfcConnection = nullptr;
    bool FAfcOpen = false;
    MobileLib::TAfcFileRef FOpenFileRef = 0;
    bool FFileOpen = false;
    struct TFreeBuffer {
        void operator()(char* p) const;
    };
    std::unique_ptr<char, TFreeBuffer> FBuffer;
};

// The one bridge that device notifications are delivered to. Assigned on the session's
// thread and read on the device library's thread, hence atomic; it reads like a pointer.
class TCurrentIosHelper {
public:
    TCurrentIosHelper& operator=(TIosHelper* helper) {
        FHelper.store(helper);
        return *this;
    }
    operator TIosHelper*() const { return FHelper.load(); }
    TIosHelper* operator->() const { return FHelper.load(); }

private:
    std::atomic<TIosHelper*> FHelper{nullptr};
};
extern TCurrentIosHelper CurrentIosHelper;
