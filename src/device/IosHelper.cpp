#include "IosHelper.h"

// Until the mobile device library binding is built in, the bridge reports that its
// libraries are not loaded, as on a machine without the mobile device library.

TIosHelper* CurrentIosHelper = nullptr;

namespace {
const char* const NotLoaded = "The mobile device library is not loaded";
}

TIosHelper::TIosHelper(int bufferMegabytes, TDeviceChange onDeviceChange)
    : OnDeviceChange(std::move(onDeviceChange)), FBufferMegabytes(bufferMegabytes) {}

TIosHelper::~TIosHelper() {
    if (CurrentIosHelper == this)
        CurrentIosHelper = nullptr;
}

void TIosHelper::Start(bool noSubscribe) {
    if (!noSubscribe)
        LastError = QString::fromLatin1(NotLoaded);
    BufferSize = qint64(FBufferMegabytes) * 1048576;
}

bool TIosHelper::DeviceFileExists(const QString&) { return false; }
quint8 TIosHelper::GetFileKind(const QString&) { return 3; }
qint32 TIosHelper::GetFileSize(const QString&) { return 0; }
bool TIosHelper::CopyToStream(const QString& path, TMemoryStream&) {
    LastError = QStringLiteral("Not found: ") + path;
    return false;
}
bool TIosHelper::CopyToFile(const QString& path, const QString&) {
    LastError = QStringLiteral("Not found: ") + path;
    return false;
}
bool TIosHelper::OpenDeviceFile(const QString&) {
    LastError = QStringLiteral("Not found");
    return false;
}
bool TIosHelper::ReadAt(quint32, char*, qint64) { return false; }
void TIosHelper::CloseDeviceFile() {}
void TIosHelper::ListFiles(const QString&, QStringList&) {}
void TIosHelper::ListFilesRecursive(const QString&, QStringList&) {}
bool TIosHelper::ConvertPlistToXml(const QString&, const QString&) { return false; }
