#include "MobileTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

const char* const Switches[] = {"QUENLOR_FAKE_ROOT",          "QUENLOR_FAKE_UDID",      "QUENLOR_FAKE_PAIRED",
                                "QUENLOR_FAKE_PAIRING",       "QUENLOR_FAKE_VALIDATION", "QUENLOR_FAKE_FAIL",
                                "QUENLOR_FAKE_READ_ERROR_AT", "QUENLOR_FAKE_GONE_AT",   "QUENLOR_FAKE_SHORT_READS",
                                "QUENLOR_FAKE_EXTRA_NAMES"};

void* FakeHandle() {
    static void* handle = dlopen(QUENLOR_FAKE_LIB, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

template <typename Fn> Fn FakeEntry(const char* name) {
    void* h = FakeHandle();
    return h ? reinterpret_cast<Fn>(dlsym(h, name)) : nullptr;
}

void Exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << (error ? error : "");
        sqlite3_free(error);
    }
}

void InsertTrack(sqlite3* db, int pid, const TMobileTrack& t) {
    const qint64 id = qToLittleEndian(qint64(pid));
    const QByteArray blob = QByteArray(reinterpret_cast<const char*>(&id), 8).toHex();
    const QString sql =
        QStringLiteral("INSERT INTO item_artist VALUES(%1,'%2');INSERT INTO album VALUES(%1,'%3');"
                       "INSERT INTO item VALUES(%1,%1,%1,1,1);INSERT INTO item_extra VALUES(%1,'%4','%5',%6,180000);"
                       "INSERT INTO item_stats VALUES(%1,3,60);INSERT INTO container_items VALUES(1,x'%7');")
            .arg(pid)
            .arg(t.Artist, t.Album, t.Title, t.Location)
            .arg(t.Size)
            .arg(QString::fromLatin1(blob));
    Exec(db, sql.toUtf8().constData());
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

void TFakeDevice::Set(const char* name, const QByteArray& value) { qputenv(name, value); }

void TFakeDevice::Unset(const char* name) { qunsetenv(name); }

void TFakeDevice::AddFile(const QString& relative, const QByteArray& bytes) const {
    WriteAll(FRoot + QLatin1Char('/') + relative, bytes);
}

void TFakeDevice::PostEvent(int event) const {
    if (auto post = FakeEntry<void (*)(int)>("quenlor_fake_post_event"))
        post(event);
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

void WriteMediaLibrary(const QString& folder, const QList<TMobileTrack>& tracks, const TMobileTrack& walTrack) {
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("MediaLibrary.sqlitedb"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    Exec(db, "PRAGMA journal_mode=WAL;"
             "CREATE TABLE genre(genre_id INTEGER PRIMARY KEY, genre TEXT);"
             "CREATE TABLE album(album_pid INTEGER PRIMARY KEY, album TEXT);"
             "CREATE TABLE base_location(base_location_id INTEGER PRIMARY KEY, path TEXT);"
             "CREATE TABLE item_artist(item_artist_pid INTEGER PRIMARY KEY, item_artist TEXT);"
             "CREATE TABLE item(item_pid INTEGER PRIMARY KEY, item_artist_pid INTEGER, album_pid INTEGER,"
             " genre_id INTEGER, base_location_id INTEGER);"
             "CREATE TABLE item_extra(item_pid INTEGER PRIMARY KEY, title TEXT, location TEXT, file_size INTEGER,"
             " total_time_ms INTEGER);"
             "CREATE TABLE item_stats(item_pid INTEGER PRIMARY KEY, play_count_user INTEGER, user_rating INTEGER);"
             "CREATE TABLE db_info(primary_container_pid INTEGER);"
             "CREATE TABLE container(container_pid INTEGER PRIMARY KEY, name TEXT, smart_is_dynamic INTEGER,"
             " smart_is_filtered INTEGER, smart_limit_kind INTEGER);"
             "CREATE TABLE container_items(container_pid INTEGER, item_pid_data BLOB);"
             "INSERT INTO genre VALUES(1,'Rock');"
             "INSERT INTO base_location VALUES(1,'iTunes_Control/Music');"
             "INSERT INTO db_info VALUES(1);"
             "INSERT INTO container VALUES(1,'Library',0,0,0);");
    int pid = 100;
    for (const TMobileTrack& t : tracks)
        InsertTrack(db, ++pid, t);
    // Everything so far goes into the database file; the last track stays in the log.
    Exec(db, "PRAGMA wal_checkpoint(TRUNCATE);");
    InsertTrack(db, ++pid, walTrack);
    QDir().mkpath(folder);
    const QString target = folder + QStringLiteral("/MediaLibrary.sqlitedb");
    QFile::remove(target);
    QFile::remove(target + QStringLiteral("-wal"));
    // Copied while the connection is open, so the log is not folded in on close.
    EXPECT_TRUE(QFile::copy(path, target));
    EXPECT_TRUE(QFile::copy(path + QStringLiteral("-wal"), target + QStringLiteral("-wal")));
    EXPECT_GT(QFileInfo(target + QStringLiteral("-wal")).size(), 0);
    sqlite3_close(db);
}
