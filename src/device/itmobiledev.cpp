#include "itmobiledev.h"

// The library headers give the types only; nothing here is linked against them.
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <limits>
#include <mutex>

namespace MobileLib {
namespace {

const char* const DeviceLibrarySoname = "libimobiledevice-1.0.so.6";
const char* const PlistLibrarySoname = "libplist-2.0.so.3";
// Shown to the device when the computer asks it for a connection.
const char* const ClientLabel = "quenlor";

// Pairing records live with usbmuxd; libimobiledevice depends on libusbmuxd, so the
// lookup through its handle finds this entry point too.
using TReadPairRecord = int (*)(const char* recordId, char** data, uint32_t* size);

struct TEntryPoints {
    decltype(&idevice_event_subscribe) EventSubscribe = nullptr;
    decltype(&idevice_event_unsubscribe) EventUnsubscribe = nullptr;
    decltype(&idevice_new) New = nullptr;
    decltype(&idevice_free) Free = nullptr;
    decltype(&lockdownd_client_new) LockdownNew = nullptr;
    decltype(&lockdownd_client_free) LockdownFree = nullptr;
    decltype(&lockdownd_pair) Pair = nullptr;
    decltype(&lockdownd_validate_pair) ValidatePair = nullptr;
    decltype(&lockdownd_start_session) StartSession = nullptr;
    decltype(&lockdownd_stop_session) StopSession = nullptr;
    decltype(&lockdownd_start_service) StartService = nullptr;
    decltype(&lockdownd_service_descriptor_free) ServiceFree = nullptr;
    TReadPairRecord ReadPairRecord = nullptr;
    decltype(&afc_client_new) AfcNew = nullptr;
    decltype(&afc_client_free) AfcFree = nullptr;
    decltype(&afc_get_file_info) AfcFileInfo = nullptr;
    decltype(&afc_dictionary_free) AfcListFree = nullptr;
    decltype(&afc_file_open) AfcOpen = nullptr;
    decltype(&afc_file_read) AfcRead = nullptr;
    decltype(&afc_file_seek) AfcSeek = nullptr;
    decltype(&afc_file_close) AfcClose = nullptr;
    decltype(&afc_read_directory) AfcReadDirectory = nullptr;
    decltype(&plist_from_memory) PlistFromMemory = nullptr;
    decltype(&plist_dict_get_item) PlistDictItem = nullptr;
    decltype(&plist_get_string_val) PlistString = nullptr;
    decltype(&plist_get_node_type) PlistNodeType = nullptr;
    decltype(&plist_free) PlistFree = nullptr;
    decltype(&plist_to_xml) PlistToXml = nullptr;
    decltype(&plist_to_xml_free) PlistXmlFree = nullptr;
};

struct TBinding {
    void** Slot;
    const char* Name;
    bool FromPlist;
    bool Required;
};

std::mutex GLoadLock;
void* GDeviceLibrary = nullptr;
void* GPlistLibrary = nullptr;
bool GLoaded = false;
std::string GLoadFailure;
TEntryPoints E;

template <typename T> void** SlotOf(T& fn) {
    return reinterpret_cast<void**>(&fn);
}

// The fixed list, in binding order.
const TBinding* Bindings(int& count) {
    static const TBinding list[] = {
        {SlotOf(E.EventSubscribe), "idevice_event_subscribe", false, true},
        {SlotOf(E.EventUnsubscribe), "idevice_event_unsubscribe", false, true},
        {SlotOf(E.New), "idevice_new", false, true},
        {SlotOf(E.Free), "idevice_free", false, true},
        {SlotOf(E.LockdownNew), "lockdownd_client_new", false, true},
        {SlotOf(E.LockdownFree), "lockdownd_client_free", false, true},
        {SlotOf(E.Pair), "lockdownd_pair", false, true},
        {SlotOf(E.ValidatePair), "lockdownd_validate_pair", false, true},
        {SlotOf(E.StartSession), "lockdownd_start_session", false, true},
        {SlotOf(E.StopSession), "lockdownd_stop_session", false, true},
        {SlotOf(E.StartService), "lockdownd_start_service", false, true},
        {SlotOf(E.ServiceFree), "lockdownd_service_descriptor_free", false, true},
        {SlotOf(E.ReadPairRecord), "usbmuxd_read_pair_record", false, true},
        {SlotOf(E.AfcNew), "afc_client_new", false, true},
        {SlotOf(E.AfcFileInfo), "afc_get_file_info", false, true},
        {SlotOf(E.AfcListFree), "afc_dictionary_free", false, true},
        {SlotOf(E.AfcOpen), "afc_file_open", false, true},
        {SlotOf(E.AfcRead), "afc_file_read", false, true},
        {SlotOf(E.AfcSeek), "afc_file_seek", false, true},
        {SlotOf(E.AfcClose), "afc_file_close", false, true},
        {SlotOf(E.AfcReadDirectory), "afc_read_directory", false, true},
        {SlotOf(E.AfcFree), "afc_client_free", false, false},
        {SlotOf(E.PlistFromMemory), "plist_from_memory", true, true},
        {SlotOf(E.PlistDictItem), "plist_dict_get_item", true, true},
        {SlotOf(E.PlistString), "plist_get_string_val", true, true},
        {SlotOf(E.PlistNodeType), "plist_get_node_type", true, true},
        {SlotOf(E.PlistFree), "plist_free", true, true},
        {SlotOf(E.PlistToXml), "plist_to_xml", true, false},
        {SlotOf(E.PlistXmlFree), "plist_to_xml_free", true, false},
    };
    count = int(sizeof list / sizeof list[0]);
    return list;
}

void UnloadLocked() {
    // Closing the plist library first mirrors the load order in reverse.
    if (GPlistLibrary) dlclose(GPlistLibrary);
    if (GDeviceLibrary) dlclose(GDeviceLibrary);
    GPlistLibrary = nullptr;
    GDeviceLibrary = nullptr;
    GLoaded = false;
    E = TEntryPoints();
}

bool LoadLocked() {
    const char* over = std::getenv("QUENLOR_MOBILEDEVICE_LIB");
    const char* deviceFile = over && *over ? over : DeviceLibrarySoname;
    GDeviceLibrary = dlopen(deviceFile, RTLD_NOW | RTLD_LOCAL);
    if (!GDeviceLibrary) {
        GLoadFailure = std::string("cannot load ") + deviceFile;
        return false;
    }
    GPlistLibrary = dlopen(PlistLibrarySoname, RTLD_NOW | RTLD_LOCAL);
    if (!GPlistLibrary) {
        GLoadFailure = std::string("cannot load ") + PlistLibrarySoname;
        UnloadLocked();
        return false;
    }
    int count = 0;
    const TBinding* list = Bindings(count);
    for (int i = 0; i < count; ++i) {
        *list[i].Slot = dlsym(list[i].FromPlist ? GPlistLibrary : GDeviceLibrary, list[i].Name);
        if (!*list[i].Slot && list[i].Required) {
            GLoadFailure = std::string("missing entry point ") + list[i].Name;
            UnloadLocked();
            return false;
        }
    }
    GLoadFailure.clear();
    return true;
}

// The pairing record's host id, which the session start needs. Empty when there is none.
std::string ReadHostId(const std::string& udid) {
    char* data = nullptr;
    uint32_t size = 0;
    if (E.ReadPairRecord(udid.c_str(), &data, &size) != 0 || !data) return {};
    plist_t record = nullptr;
    E.PlistFromMemory(data, size, &record);
    std::free(data);
    std::string hostId;
    if (record) {
        plist_t item = E.PlistDictItem(record, "HostID");
        char* text = nullptr;
        if (item && E.PlistNodeType(item) == PLIST_STRING) E.PlistString(item, &text);
        if (text) {
            hostId = text;
            std::free(text);
        }
        E.PlistFree(record);
    }
    return hostId;
}

std::atomic<TNotificationCallback> GCallback{nullptr};
std::mutex GSubscribeLock;
bool GSubscribed = false;

void LibraryEvent(const idevice_event_t* event, void*) {
    // Network devices show up a second time beside their cable connection: only
    // devices on the cable are served.
    if (!event || !event->udid || event->conn_type != CONNECTION_USBMUXD) return;
    TDeviceNotification info;
    info.Udid = event->udid;
    switch (event->event) {
    case IDEVICE_DEVICE_ADD:
        info.Message = MessageConnected;
        break;
    case IDEVICE_DEVICE_REMOVE:
        info.Message = MessageGone;
        break;
    case IDEVICE_DEVICE_PAIRED:
        info.Message = MessagePaired;
        break;
    default:
        return;
    }
    if (TNotificationCallback cb = GCallback.load()) cb(info);
}

} // namespace

bool LoadMobileDeviceLibraries() {
    std::lock_guard lock(GLoadLock);
    if (GLoaded) return true;
    GLoaded = LoadLocked();
    return GLoaded;
}

void UnloadMobileDeviceLibraries() {
    std::lock_guard lock(GLoadLock);
    UnloadLocked();
}

std::string LoadFailure() {
    std::lock_guard lock(GLoadLock);
    return GLoadFailure;
}

int AMDeviceNotificationSubscribe(TNotificationCallback callback) {
    std::lock_guard lock(GSubscribeLock);
    GCallback.store(callback);
    // One subscription per process. A later subscriber (the next window's session)
    // renews it, because the library names the devices already attached only to a
    // new subscription.
    if (GSubscribed) E.EventUnsubscribe();
    const int rc = E.EventSubscribe(LibraryEvent, nullptr);
    GSubscribed = rc == 0;
    return rc;
}

int AMDeviceConnect(TDevice& device) {
    if (!device.Handle) {
        const int rc = E.New(&device.Handle, device.Udid.c_str());
        if (rc != 0) {
            device.Handle = nullptr;
            return rc;
        }
    }
    if (device.Lockdown) return 0;
    const int rc = E.LockdownNew(device.Handle, &device.Lockdown, ClientLabel);
    if (rc != 0) device.Lockdown = nullptr;
    return rc;
}

int AMDeviceIsPaired(TDevice& device) {
    return ReadHostId(device.Udid).empty() ? 0 : 1;
}

int AMDevicePair(TDevice& device) {
    return E.Pair(device.Lockdown, nullptr);
}

int AMDeviceValidatePairing(TDevice& device) {
    return E.ValidatePair(device.Lockdown, nullptr);
}

int AMDeviceStartSession(TDevice& device) {
    const std::string hostId = ReadHostId(device.Udid);
    if (hostId.empty()) return LOCKDOWN_E_MISSING_PAIR_RECORD;
    int ssl = 0;
    return E.StartSession(device.Lockdown, hostId.c_str(), &device.SessionId, &ssl);
}

void AMDeviceStopSession(TDevice& device) {
    if (device.Lockdown && device.SessionId) E.StopSession(device.Lockdown, device.SessionId);
    std::free(device.SessionId);
    device.SessionId = nullptr;
}

void AMDeviceDisconnect(TDevice& device) {
    if (device.Lockdown) E.LockdownFree(device.Lockdown);
    device.Lockdown = nullptr;
}

void FreeDevice(TDevice& device) {
    AMDeviceStopSession(device);
    AMDeviceDisconnect(device);
    if (device.Handle) E.Free(device.Handle);
    device.Handle = nullptr;
}

int StartDeviceService(TDevice& device, const char* serviceName, TServiceHandle& service) {
    service = nullptr;
    const int rc = E.StartService(device.Lockdown, serviceName, &service);
    if (rc != 0 && service) {
        E.ServiceFree(service);
        service = nullptr;
    }
    return rc;
}

void FreeService(TServiceHandle service) {
    if (service) E.ServiceFree(service);
}

int AFCConnectionOpen(TDevice& device, TServiceHandle service, TAfcConnection& connection) {
    connection = nullptr;
    const int rc = E.AfcNew(device.Handle, service, &connection);
    if (rc != 0) connection = nullptr;
    return rc;
}

bool CanCloseConnection() {
    return E.AfcFree != nullptr;
}

int AFCConnectionClose(TAfcConnection connection) {
    return E.AfcFree ? E.AfcFree(connection) : 0;
}

int AFCFileInfoOpen(TAfcConnection connection, const char* path, TAfcList& info) {
    info = TAfcList();
    const int rc = E.AfcFileInfo(connection, path, &info.Items);
    if (rc != 0 || !info.Items) {
        AFCKeyValueClose(info);
        return rc != 0 ? rc : AFC_E_OBJECT_NOT_FOUND;
    }
    return 0;
}

bool AFCKeyValueRead(TAfcList& info, const char*& key, const char*& value) {
    if (!info.Items || !info.Items[info.Next] || !info.Items[info.Next + 1]) return false;
    key = info.Items[info.Next];
    value = info.Items[info.Next + 1];
    info.Next += 2;
    return true;
}

void AFCKeyValueClose(TAfcList& info) {
    if (info.Items) E.AfcListFree(info.Items);
    info = TAfcList();
}

int AFCFileRefOpen(TAfcConnection connection, const char* path, TAfcFileRef& ref) {
    ref = 0;
    // Mode 2 would be read-write and create the file: the device is only ever read.
    return E.AfcOpen(connection, path, AFC_FOPEN_RDONLY, &ref);
}

int AFCFileRefRead(TAfcConnection connection, TAfcFileRef ref, char* buffer, std::uint32_t& length) {
    uint32_t got = 0;
    const int rc = E.AfcRead(connection, ref, buffer, length, &got);
    length = got <= length ? got : length;
    return rc;
}

int AFCFileRefSeek(TAfcConnection connection, TAfcFileRef ref, std::int64_t offset) {
    return E.AfcSeek(connection, ref, offset, SEEK_SET);
}

void AFCFileRefClose(TAfcConnection connection, TAfcFileRef ref) {
    E.AfcClose(connection, ref);
}

int AFCDirectoryOpen(TAfcConnection connection, const char* path, TAfcList& dir) {
    dir = TAfcList();
    const int rc = E.AfcReadDirectory(connection, path, &dir.Items);
    if (rc != 0) {
        AFCDirectoryClose(dir);
        return rc;
    }
    return 0;
}

bool AFCDirectoryRead(TAfcList& dir, const char*& name) {
    if (!dir.Items || !dir.Items[dir.Next]) return false;
    name = dir.Items[dir.Next++];
    return true;
}

void AFCDirectoryClose(TAfcList& dir) {
    AFCKeyValueClose(dir);
}

bool CanConvertPlists() {
    return E.PlistToXml && E.PlistXmlFree && E.PlistFromMemory && E.PlistFree;
}

bool PlistToXml(const std::string& data, std::string& xml) {
    xml.clear();
    if (!CanConvertPlists() || data.empty() || data.size() > std::numeric_limits<uint32_t>::max())
        return false;
    plist_t list = nullptr;
    E.PlistFromMemory(data.data(), uint32_t(data.size()), &list);
    if (!list) return false;
    char* text = nullptr;
    uint32_t length = 0;
    E.PlistToXml(list, &text, &length);
    E.PlistFree(list);
    if (!text) return false;
    xml.assign(text, length);
    E.PlistXmlFree(text);
    return !xml.empty();
}

} // namespace MobileLib
