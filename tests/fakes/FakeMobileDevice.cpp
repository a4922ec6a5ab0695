// A fake mobile device library: exports the libimobiledevice entry points the program
// binds and serves a local folder as the device's media root. Loaded by the program
// through QUENLOR_MOBILEDEVICE_LIB. Behaviour is chosen by environment variables, read
// when each call is made:
//
//   QUENLOR_FAKE_ROOT          the device's media root; unset or empty: no device
//   QUENLOR_FAKE_UDID          the device id (default "fake-0001")
//   QUENLOR_FAKE_PAIRED        "0": the computer holds no pairing record at first
//   QUENLOR_FAKE_PAIRING       "refuse": the user refuses to trust the computer
//   QUENLOR_FAKE_VALIDATION    "fail": the pairing record is not accepted
//   QUENLOR_FAKE_FAIL          "subscribe", "connect", "lockdown", "session", "service"
//                              or "afc": that step fails
//   QUENLOR_FAKE_READ_ERROR_AT a file read that reaches this byte offset fails
//   QUENLOR_FAKE_GONE_AT       a file read that reaches this byte offset finds the
//                              device gone: it fails, a removal event follows and
//                              every later call on the connection fails
//   QUENLOR_FAKE_SHORT_READS   "1": reads return at most half of what was asked
//   QUENLOR_FAKE_EXTRA_NAMES   names separated by "|" added to every folder listing
//
// Test controls (looked up with dlsym): quenlor_fake_reset, quenlor_fake_post_event
// (1 added, 2 removed, 3 paired), quenlor_fake_counter.

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>
#include <usbmuxd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

struct idevice_private {
    std::string Udid;
};
struct lockdownd_client_private {
    std::string Udid;
    bool Session = false;
};
struct afc_client_private {
    std::string Udid;
    std::string Root;
    long Generation = 0;
};

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}
bool EnvIs(const char* name, const char* value) {
    return Env(name) == value;
}
long long EnvNumber(const char* name) {
    const std::string v = Env(name);
    return v.empty() ? -1 : std::atoll(v.c_str());
}
std::string Udid() {
    const std::string u = Env("QUENLOR_FAKE_UDID");
    return u.empty() ? "fake-0001" : u;
}
bool Present() {
    return !Env("QUENLOR_FAKE_ROOT").empty();
}
bool Fails(const char* step) {
    return EnvIs("QUENLOR_FAKE_FAIL", step);
}

struct TOpenFile {
    int Fd = -1;
    off_t Position = 0;
};

struct TState {
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<std::pair<int, std::string>> Events;
    idevice_event_cb_t Callback = nullptr;
    void* UserData = nullptr;
    std::thread Thread;
    bool Stop = false;
    std::set<std::string> PairedNow; // paired during this run
    std::set<std::string> Gone;      // devices that went away
    long Generation = 0;             // grows with every removal
    std::map<uint64_t, TOpenFile> Files;
    uint64_t NextHandle = 1;
    std::map<std::string, long> Counters;

    ~TState() { StopThread(); }

    void StopThread() {
        std::unique_lock lock(Lock);
        Stop = true;
        Wake.notify_all();
        lock.unlock();
        if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id()) Thread.join();
        lock.lock();
        Stop = false;
        Callback = nullptr;
    }

    // A device arrives or leaves when its event is delivered (or dropped).
    void Apply(int event, const std::string& udid) {
        if (event == IDEVICE_DEVICE_ADD) {
            Gone.erase(udid);
        } else if (event == IDEVICE_DEVICE_REMOVE && !Gone.count(udid)) {
            Gone.insert(udid);
            ++Generation;
        }
    }

    void Post(int event, const std::string& udid) {
        std::lock_guard lock(Lock);
        Events.emplace_back(event, udid);
        Wake.notify_all();
    }

    void Run() {
        std::unique_lock lock(Lock);
        for (;;) {
            Wake.wait(lock, [&] { return Stop || !Events.empty(); });
            if (Stop) return;
            auto [event, udid] = Events.front();
            Events.pop_front();
            Apply(event, udid);
            idevice_event_cb_t cb = Callback;
            void* user = UserData;
            ++Counters["events"];
            lock.unlock();
            if (cb) {
                idevice_event_t info{};
                info.event = idevice_event_type(event);
                info.udid = udid.c_str();
                info.conn_type = CONNECTION_USBMUXD;
                cb(&info, user);
            }
            lock.lock();
            ++Counters["delivered"];
            Wake.notify_all();
        }
    }
};

TState& State() {
    static TState state;
    return state;
}

bool IsPaired(TState& s, const std::string& udid) {
    return !EnvIs("QUENLOR_FAKE_PAIRED", "0") || s.PairedNow.count(udid) > 0;
}

// The pairing record as usbmuxd keeps it: a property list with the host id.
std::string PairRecord() {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "HostID", plist_new_string("FAKE-HOST-ID"));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dict, &xml, &length);
    std::string out(xml, length);
    plist_to_xml_free(xml);
    plist_free(dict);
    return out;
}

// Device paths are relative to the media root, with or without a leading "/".
bool Resolve(const afc_client_private* client, const char* path, std::string& local) {
    if (!path) return false;
    std::string p = path;
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) end = p.size();
        if (p.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    local = client->Root + "/" + p;
    return true;
}

bool Alive(TState& s, const afc_client_private* client) {
    return client && client->Generation == s.Generation && !s.Gone.count(client->Udid);
}

char* Dup(const std::string& s) {
    return strdup(s.c_str());
}

} // namespace

FAKE_EXPORT void quenlor_fake_reset() {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    s.PairedNow.clear();
    s.Gone.clear();
    s.Counters.clear();
    s.Events.clear();
}

FAKE_EXPORT void quenlor_fake_post_event(int event) {
    State().Post(event, Udid());
}

// "write_attempts", "open_files", "pairs", "events", "delivered", "subscriptions".
FAKE_EXPORT long quenlor_fake_counter(const char* name) {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    if (std::strcmp(name, "open_files") == 0) return long(s.Files.size());
    return s.Counters[name];
}

FAKE_EXPORT idevice_error_t idevice_event_subscribe(idevice_event_cb_t callback, void* user_data) {
    if (Fails("subscribe")) return IDEVICE_E_UNKNOWN_ERROR;
    TState& s = State();
    std::lock_guard lock(s.Lock);
    s.Callback = callback;
    s.UserData = user_data;
    ++s.Counters["subscriptions"];
    if (!s.Thread.joinable()) s.Thread = std::thread([&s] { s.Run(); });
    // As usbmuxd does, a new subscriber hears of the devices already attached.
    if (Present() && !s.Gone.count(Udid())) {
        s.Events.emplace_back(IDEVICE_DEVICE_ADD, Udid());
        s.Wake.notify_all();
    }
    return IDEVICE_E_SUCCESS;
}

FAKE_EXPORT idevice_error_t idevice_event_unsubscribe(void) {
    TState& s = State();
    s.StopThread();
    std::lock_guard lock(s.Lock);
    s.Thread = std::thread();
    for (const auto& [event, udid] : s.Events)
        s.Apply(event, udid);
    s.Events.clear();
    return IDEVICE_E_SUCCESS;
}

FAKE_EXPORT idevice_error_t idevice_new(idevice_t* device, const char* udid) {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    if (!device || !udid) return IDEVICE_E_INVALID_ARG;
    if (!Present() || Udid() != udid || s.Gone.count(udid)) return IDEVICE_E_NO_DEVICE;
    if (Fails("connect")) return IDEVICE_E_UNKNOWN_ERROR;
    *device = new idevice_private{udid};
    return IDEVICE_E_SUCCESS;
}

FAKE_EXPORT idevice_error_t idevice_free(idevice_t device) {
    delete device;
    return IDEVICE_E_SUCCESS;
}

FAKE_EXPORT lockdownd_error_t lockdownd_client_new(idevice_t device, lockdownd_client_t* client,
                                                   const char*) {
    if (!device || !client) return LOCKDOWN_E_INVALID_ARG;
    if (Fails("lockdown")) return LOCKDOWN_E_MUX_ERROR;
    *client = new lockdownd_client_private{device->Udid, false};
    return LOCKDOWN_E_SUCCESS;
}

FAKE_EXPORT lockdownd_error_t lockdownd_client_free(lockdownd_client_t client) {
    delete client;
    return LOCKDOWN_E_SUCCESS;
}

FAKE_EXPORT lockdownd_error_t lockdownd_pair(lockdownd_client_t client, lockdownd_pair_record_t) {
    if (!client) return LOCKDOWN_E_INVALID_ARG;
    TState& s = State();
    std::lock_guard lock(s.Lock);
    ++s.Counters["pairs"];
    if (EnvIs("QUENLOR_FAKE_PAIRING", "refuse")) return LOCKDOWN_E_USER_DENIED_PAIRING;
    s.PairedNow.insert(client->Udid);
    // usbmuxd announces the new pairing record.
    s.Events.emplace_back(IDEVICE_DEVICE_PAIRED, client->Udid);
    s.Wake.notify_all();
    return LOCKDOWN_E_SUCCESS;
}

FAKE_EXPORT lockdownd_error_t lockdownd_validate_pair(lockdownd_client_t client, lockdownd_pair_record_t) {
    if (!client) return LOCKDOWN_E_INVALID_ARG;
    TState& s = State();
    std::lock_guard lock(s.Lock);
    // A fresh pairing is valid; the record held from before is what validation refuses.
    if (EnvIs("QUENLOR_FAKE_VALIDATION", "fail") && !s.PairedNow.count(client->Udid))
        return LOCKDOWN_E_INVALID_HOST_ID;
    return IsPaired(s, client->Udid) ? LOCKDOWN_E_SUCCESS : LOCKDOWN_E_INVALID_HOST_ID;
}

FAKE_EXPORT lockdownd_error_t lockdownd_start_session(lockdownd_client_t client, const char* host_id,
                                                      char** session_id, int* ssl_enabled) {
    if (!client || !host_id) return LOCKDOWN_E_INVALID_ARG;
    if (Fails("session")) return LOCKDOWN_E_INVALID_HOST_ID;
    if (std::strcmp(host_id, "FAKE-HOST-ID") != 0) return LOCKDOWN_E_INVALID_HOST_ID;
    client->Session = true;
    if (session_id) *session_id = Dup("FAKE-SESSION");
    if (ssl_enabled) *ssl_enabled = 1;
    return LOCKDOWN_E_SUCCESS;
}

FAKE_EXPORT lockdownd_error_t lockdownd_stop_session(lockdownd_client_t client, const char* session_id) {
    if (!client || !session_id || !client->Session) return LOCKDOWN_E_NO_RUNNING_SESSION;
    client->Session = false;
    return LOCKDOWN_E_SUCCESS;
}

FAKE_EXPORT lockdownd_error_t lockdownd_start_service(lockdownd_client_t client, const char* identifier,
                                                      lockdownd_service_descriptor_t* service) {
    if (!client || !identifier || !service) return LOCKDOWN_E_INVALID_ARG;
    if (!client->Session) return LOCKDOWN_E_NO_RUNNING_SESSION;
    if (Fails("service") || std::strcmp(identifier, "com.apple.afc") != 0) return LOCKDOWN_E_INVALID_SERVICE;
    auto* d =
        static_cast<lockdownd_service_descriptor_t>(std::calloc(1, sizeof(lockdownd_service_descriptor)));
    d->port = 62078;
    d->ssl_enabled = 0;
    d->identifier = Dup(identifier);
    *service = d;
    return LOCKDOWN_E_SUCCESS;
}

FAKE_EXPORT lockdownd_error_t lockdownd_service_descriptor_free(lockdownd_service_descriptor_t service) {
    if (service) {
        std::free(service->identifier);
        std::free(service);
    }
    return LOCKDOWN_E_SUCCESS;
}

FAKE_EXPORT int usbmuxd_read_pair_record(const char* record_id, char** record_data, uint32_t* record_size) {
    TState& s = State();
    {
        std::lock_guard lock(s.Lock);
        if (!record_id || !IsPaired(s, record_id)) return -ENOENT;
    }
    const std::string record = PairRecord();
    *record_data = static_cast<char*>(std::malloc(record.size()));
    std::memcpy(*record_data, record.data(), record.size());
    *record_size = uint32_t(record.size());
    return 0;
}

FAKE_EXPORT afc_error_t afc_client_new(idevice_t device, lockdownd_service_descriptor_t service,
                                       afc_client_t* client) {
    if (!device || !service || !client) return AFC_E_INVALID_ARG;
    if (Fails("afc")) return AFC_E_MUX_ERROR;
    TState& s = State();
    std::lock_guard lock(s.Lock);
    *client = new afc_client_private{device->Udid, Env("QUENLOR_FAKE_ROOT"), s.Generation};
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_client_free(afc_client_t client) {
    delete client;
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_get_file_info(afc_client_t client, const char* path, char*** info) {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    if (!Alive(s, client)) return AFC_E_MUX_ERROR;
    std::string local;
    struct stat st {};
    if (!Resolve(client, path, local) || ::lstat(local.c_str(), &st) != 0) return AFC_E_OBJECT_NOT_FOUND;
    const char* kind = S_ISREG(st.st_mode)   ? "S_IFREG"
                       : S_ISDIR(st.st_mode) ? "S_IFDIR"
                       : S_ISLNK(st.st_mode) ? "S_IFLNK"
                                             : "S_IFIFO";
    const std::vector<std::string> pairs = {"st_size",   std::to_string(st.st_size),
                                            "st_blocks", std::to_string(st.st_blocks),
                                            "st_nlink",  std::to_string(st.st_nlink),
                                            "st_ifmt",   kind,
                                            "st_mtime",  std::to_string(st.st_mtime) + "000000000"};
    char** list = static_cast<char**>(std::calloc(pairs.size() + 1, sizeof(char*)));
    for (size_t i = 0; i < pairs.size(); ++i)
        list[i] = Dup(pairs[i]);
    *info = list;
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_dictionary_free(char** dictionary) {
    if (dictionary) {
        for (char** p = dictionary; *p; ++p)
            std::free(*p);
        std::free(dictionary);
    }
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_read_directory(afc_client_t client, const char* path,
                                           char*** directory_information) {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    if (!Alive(s, client)) return AFC_E_MUX_ERROR;
    std::string local;
    DIR* dir = Resolve(client, path, local) ? ::opendir(local.c_str()) : nullptr;
    if (!dir) return AFC_E_OBJECT_NOT_FOUND;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir))
        names.emplace_back(e->d_name);
    ::closedir(dir);
    const std::string extra = Env("QUENLOR_FAKE_EXTRA_NAMES");
    for (size_t start = 0; !extra.empty() && start <= extra.size();) {
        size_t end = extra.find('|', start);
        if (end == std::string::npos) end = extra.size();
        names.push_back(extra.substr(start, end - start));
        start = end + 1;
    }
    char** list = static_cast<char**>(std::calloc(names.size() + 1, sizeof(char*)));
    for (size_t i = 0; i < names.size(); ++i)
        list[i] = Dup(names[i]);
    *directory_information = list;
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_file_open(afc_client_t client, const char* filename, afc_file_mode_t file_mode,
                                      uint64_t* handle) {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    if (!Alive(s, client)) return AFC_E_MUX_ERROR;
    if (file_mode != AFC_FOPEN_RDONLY) {
        // The program must never open a device file for writing.
        ++s.Counters["write_attempts"];
        return AFC_E_PERM_DENIED;
    }
    std::string local;
    struct stat st {};
    if (!Resolve(client, filename, local) || ::stat(local.c_str(), &st) != 0) return AFC_E_OBJECT_NOT_FOUND;
    if (S_ISDIR(st.st_mode)) return AFC_E_OBJECT_IS_DIR;
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return AFC_E_PERM_DENIED;
    *handle = s.NextHandle++;
    s.Files[*handle] = TOpenFile{fd, 0};
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_file_read(afc_client_t client, uint64_t handle, char* data, uint32_t length,
                                      uint32_t* bytes_read) {
    TState& s = State();
    std::unique_lock lock(s.Lock);
    *bytes_read = 0;
    if (!Alive(s, client)) return AFC_E_MUX_ERROR;
    auto it = s.Files.find(handle);
    if (it == s.Files.end()) return AFC_E_INVALID_ARG;
    TOpenFile& f = it->second;
    const long long end = (long long)f.Position + length;
    const long long errorAt = EnvNumber("QUENLOR_FAKE_READ_ERROR_AT");
    if (errorAt >= 0 && length > 0 && end > errorAt) return AFC_E_READ_ERROR;
    const long long goneAt = EnvNumber("QUENLOR_FAKE_GONE_AT");
    if (goneAt >= 0 && length > 0 && end > goneAt) {
        s.Gone.insert(client->Udid);
        ++s.Generation;
        // Already gone: delivering the removal changes nothing more.
        s.Events.emplace_back(IDEVICE_DEVICE_REMOVE, client->Udid);
        s.Wake.notify_all();
        return AFC_E_MUX_ERROR;
    }
    if (EnvIs("QUENLOR_FAKE_SHORT_READS", "1") && length > 1) length /= 2;
    const int fd = f.Fd;
    const off_t at = f.Position;
    lock.unlock();
    // The bytes go straight into the caller's buffer, as the real library's do.
    const ssize_t n = ::pread(fd, data, length, at);
    lock.lock();
    if (n < 0) return AFC_E_READ_ERROR;
    it = s.Files.find(handle);
    if (it != s.Files.end()) it->second.Position = at + n;
    *bytes_read = uint32_t(n);
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_file_seek(afc_client_t client, uint64_t handle, int64_t offset, int whence) {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    if (!Alive(s, client)) return AFC_E_MUX_ERROR;
    auto it = s.Files.find(handle);
    if (it == s.Files.end()) return AFC_E_INVALID_ARG;
    off_t base = 0;
    if (whence == SEEK_CUR)
        base = it->second.Position;
    else if (whence == SEEK_END)
        base = ::lseek(it->second.Fd, 0, SEEK_END);
    if (base + offset < 0) return AFC_E_INVALID_ARG;
    it->second.Position = base + offset;
    return AFC_E_SUCCESS;
}

FAKE_EXPORT afc_error_t afc_file_close(afc_client_t, uint64_t handle) {
    TState& s = State();
    std::lock_guard lock(s.Lock);
    auto it = s.Files.find(handle);
    if (it == s.Files.end()) return AFC_E_INVALID_ARG;
    ::close(it->second.Fd);
    s.Files.erase(it);
    return AFC_E_SUCCESS;
}
