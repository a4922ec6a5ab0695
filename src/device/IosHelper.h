#pragma once

#include <QString>
#include <QStringList>
#include <functional>

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

    QString LastError;
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
    bool OpenDeviceFile(const QString& path);
    bool ReadAt(quint32 count, char* buffer, qint64 offset);
    void CloseDeviceFile();
    void ListFiles(const QString& dir, QStringList& list);
    void ListFilesRecursive(const QString& dir, QStringList& list);
    bool ConvertPlistToXml(const QString& source, const QString& dest);

private:
    int FBufferMegabytes = 0;
};

// The one bridge that device notifications are delivered to.
extern TIosHelper* CurrentIosHelper;
