#pragma once

// The mobile device library binding: libimobiledevice and libplist, found and loaded at
// run time by file name, never linked. A fixed list of entry points is bound by name;
// the libraries count as present only when every required one was found. The rest of
// the program sees only the small device interface below, named after what the bridge
// relies on: device notifications, connect, pairing, session, the file service and its
// file and directory calls, and property-list conversion.
//
// QUENLOR_MOBILEDEVICE_LIB names another file to use as the device library (the tests
// load their fake device library this way); libplist is loaded by its soname in every case.

#include <cstdint>
#include <string>

struct idevice_private;
struct lockdownd_client_private;
struct afc_client_private;
struct lockdownd_service_descriptor;

namespace MobileLib {

// Messages handed to the notification callback. The library's own events are 1 added,
// 2 removed, 3 paired; a pairing is reported as such, never as a removal.
enum : int { MessageConnected = 1, MessageGone = 2, MessagePaired = 3 };

struct TDeviceNotification {
    const char* Udid = nullptr; // the device reference
    int Message = 0;
};
using TNotificationCallback = void (*)(const TDeviceNotification& info);

// One device as the bridge holds it: the library's handles for it. Owned by the bridge;
// FreeDevice releases whatever is still open.
struct TDevice {
    std::string Udid;
    idevice_private* Handle = nullptr;
    lockdownd_client_private* Lockdown = nullptr;
    char* SessionId = nullptr;
};

using TServiceHandle = lockdownd_service_descriptor*;
using TAfcConnection = afc_client_private*;
using TAfcFileRef = std::uint64_t;
// A key-value list from the file service (names and values alternate, null-terminated).
struct TAfcList {
    char** Items = nullptr;
    int Next = 0;
};

// Locates, loads and binds. After a success later calls return true at once; after a
// failure a later call starts over.
bool LoadMobileDeviceLibraries();
void UnloadMobileDeviceLibraries();
// Why the last load failed (a missing file or entry point), for the logs.
std::string LoadFailure();

// One subscription per process, lasting to its end: a second call renews it (so the
// devices already attached are announced again) rather than adding another. The
// callback runs on the library's thread.
int AMDeviceNotificationSubscribe(TNotificationCallback callback);

int AMDeviceConnect(TDevice& device);
// Non-zero when this computer holds a pairing record for the device.
int AMDeviceIsPaired(TDevice& device);
int AMDevicePair(TDevice& device);
int AMDeviceValidatePairing(TDevice& device);
int AMDeviceStartSession(TDevice& device);
void AMDeviceStopSession(TDevice& device);
// Ends the control connection; the device handle stays for the file service.
void AMDeviceDisconnect(TDevice& device);
// Releases everything the device record still holds.
void FreeDevice(TDevice& device);

int StartDeviceService(TDevice& device, const char* serviceName, TServiceHandle& service);
void FreeService(TServiceHandle service);

int AFCConnectionOpen(TDevice& device, TServiceHandle service, TAfcConnection& connection);
// Whether closing is available (its entry point is not required).
bool CanCloseConnection();
int AFCConnectionClose(TAfcConnection connection);
int AFCFileInfoOpen(TAfcConnection connection, const char* path, TAfcList& info);
// The next pair; false at the end (a null key or value).
bool AFCKeyValueRead(TAfcList& info, const char*& key, const char*& value);
void AFCKeyValueClose(TAfcList& info);
// Files are only ever opened read-only.
int AFCFileRefOpen(TAfcConnection connection, const char* path, TAfcFileRef& ref);
int AFCFileRefRead(TAfcConnection connection, TAfcFileRef ref, char* buffer, std::uint32_t& length);
int AFCFileRefSeek(TAfcConnection connection, TAfcFileRef ref, std::int64_t offset);
void AFCFileRefClose(TAfcConnection connection, TAfcFileRef ref);
int AFCDirectoryOpen(TAfcConnection connection, const char* path, TAfcList& dir);
// The next entry name ("." and ".." included); false at the end.
bool AFCDirectoryRead(TAfcList& dir, const char*& name);
void AFCDirectoryClose(TAfcList& dir);

// Property lists: whether the conversion entry points were bound, and the conversion of
// a binary or XML property list in memory to its XML form (false when it cannot be parsed).
bool CanConvertPlists();
bool PlistToXml(const std::string& data, std::string& xml);

} // namespace MobileLib
