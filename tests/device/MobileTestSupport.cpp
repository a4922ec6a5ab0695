#include "MobileTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

const char* const Switches[] = {"QUENLOR_FAKE_ROOT",          "QUENLOR_FAKE_UDID",
                                "QUENLOR_FAKE_PAIRED",        "QUENLOR_FAKE_PAIRING",
                                "QUENLOR_FAKE_VALIDATION",    "QUENLOR_FAKE_FAIL",
                                "QUENLOR_FAKE_READ_ERROR_AT", "QUENLOR_FAKE_GONE_AT",
                                "QUENLOR_FAKE_SHORT_READS",   "QUENLOR_FAKE_EXTRA_NAMES"};

void* FakeHandle() {
    static void* handle = dlopen(QUENLOR_FAKE_LIB, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

template <typename Fn> Fn FakeEntry(const char* name) {
    void* h = FakeHandle();
    return h ? reinterpret_cast<Fn>(dlsym(h, name)) : nullptr;
}

} // namespace

TFakeDevice::TFakeDevice() {
    // The binding loads its library once per process: every test uses the fake.
    qputenv("QUENLOR_MOBILEDEVICE_LIB", QUENLOR_FAKE_LIB);
    for (const char* name : Switches)
        qunsetenv(name);
    FRoot = FDir.path() + QStringLiteral("/media");
    QDir().mkpath(FRoot);
    QDir().mkpath(Work());
    Set("QUENLOR_FAKE_ROOT", QFile::encodeName(FRoot));
    if (auto reset = FakeEntry<void (*)()>("quenlor_fake_reset"))
        reset();
    else
        ADD_FAILURE() << "fake device library not found: " << QUENLOR_FAKE_LIB;
}

TFakeDevice::~TFakeDevice() {
    for (const char* name : Switches)
        qunsetenv(name);
}

void TFakeDevice::Set(const char* name, const QByteArray& value) {
    qputenv(name, value);
}

void TFakeDevice::Unset(const char* name) {
    qunsetenv(name);
}

void TFakeDevice::AddFile(const QString& relative, const QByteArray& bytes) const {
    WriteAll(FRoot + QLatin1Char('/') + relative, bytes);
}

void TFakeDevice::PostEvent(int event) const {
    if (auto post = FakeEntry<void (*)(int)>("quenlor_fake_post_event")) post(event);
}

long TFakeDevice::Counter(const char* name) const {
    auto counter = FakeEntry<long (*)(const char*)>("quenlor_fake_counter");
    return counter ? counter(name) : -1;
}

bool TFakeDevice::WaitDelivered(long count, int milliseconds) const {
    return WaitFor([&] { return Counter("delivered") >= count; }, milliseconds);
}

QByteArray Pattern(qint64 size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (qint64 i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = char(x >> 24);
    }
    return bytes;
}
