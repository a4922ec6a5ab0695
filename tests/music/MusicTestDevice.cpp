#include "MusicTestDevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
QString TempTemplate(bool inMemory) {
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString base = inMemory && shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return base + QStringLiteral("/quenlor-test-XXXXXX");
}
} // namespace

TMusicTestDevice::TMusicTestDevice(bool inMemory)
    : Dir(TempTemplate(inMemory)), Tree(Dir.filePath(QStringLiteral("ipod"))) {}

TMusicTestDevice::~TMusicTestDevice() { Reset(); }

void TMusicTestDevice::Reset() {
    Db.reset();
    Session.reset();
}

bool TMusicTestDevice::Load(bool preferSqlite) {
    Reset();
    qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(Tree.Root));
    Session = std::make_unique<TIpodDevice>(nullptr, nullptr, false);
    StartLog = Session->Log;
    if (!Session->ScanDrives())
        return false;
    Db = std::make_unique<TIpodMusicDb>(Session.get());
    return Db->Load(preferSqlite);
}

bool TMusicTestDevice::Reload(bool preferSqlite) {
    if (!Session)
        return Load(preferSqlite);
    Db = std::make_unique<TIpodMusicDb>(Session.get());
    Session->Log = StartLog;
    return Db->Load(preferSqlite);
}

QList<TFixtureTrack> SampleTracks() {
    return {
        {101, QStringLiteral("First Song"), QStringLiteral("Alpha"), QStringLiteral("One"), QStringLiteral("Rock"),
         QStringLiteral(":iPod_Control:Music:F00:AAAA.mp3"), 5000, 185000, 3, 80},
        {102, QStringLiteral("Second Song"), QStringLiteral("Beta"), QStringLiteral("Two"), QStringLiteral("Pop"),
         QStringLiteral(":iPod_Control:Music:F01:BBBB.m4a"), 4000, 3600000, 0, 20},
        {103, QStringLiteral("A Film"), QStringLiteral("Gamma"), QString(), QString(),
         QStringLiteral(":iPod_Control:Music:F02:CCCC.m4v"), 9000, 5400000, 1, 0},
        {104, QStringLiteral("A Book"), QStringLiteral("Writer"), QString(), QString(),
         QStringLiteral(":iPod_Control:Music:F03:DDDD.epub"), 3000, 0, 0, 0},
        {105, QStringLiteral("Bell"), QString(), QString(), QString(),
         QStringLiteral(":iPod_Control:Music:F04:EEEE.m4r"), 2000, 30000, 0, 100},
        {106, QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), QString(), QString(), QString(),
         QStringLiteral(":iPod_Control:Music:F05:FFFF"), 1000, 999, 0, 0},
    };
}
