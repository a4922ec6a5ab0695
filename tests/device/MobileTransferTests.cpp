// The whole mobile path ending in a transfer: the device's notification, the session,
// loading its library and books list, and copying songs and books, a book kept as a
// folder packed into one file, with names from the device kept inside the target.
#include "BinaryPlist.h"
#include "MobileTestSupport.h"
#include "SqliteLibraryWriter.h"
#include "TestSupport.h"
#include "iPodDev.h"
#include "iPodMusic.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <zip.h>

namespace {

QStringList ZipEntries(const QString& fileName) {
    QStringList names;
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(fileName).constData(), ZIP_RDONLY, &error);
    if (!z) return names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i)
        names << QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
    zip_close(z);
    names.sort();
    return names;
}

QStringList FilesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

TEST(MobileTransfer, FromNotificationToCopiedSongsAndPackedBooks) {
    TFakeDevice fake;
    qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(fake.Work() + QStringLiteral("/none")));
    TSqlLibraryContent content;
    content.BaseLocations = {{1, QStringLiteral("iTunes_Control/Music/F00")}};
    content.MasterPid = 1;
    for (int i = 0; i < 2; ++i) {
        TSqlTrack t;
        t.Pid = 100 + i;
        t.Title = i == 0 ? QStringLiteral("AC/DC: Live?") : QStringLiteral("Second");
        t.Artist = QStringLiteral("Band");
        t.Album = QStringLiteral("Album");
        t.Location = QStringLiteral("S%1.mp3").arg(i);
        t.FileSize = 4 * 1048576 + i;
        content.Tracks.append(t);
        fake.AddFile(QStringLiteral("iTunes_Control/Music/F00/S%1.mp3").arg(i), Pattern(t.FileSize, i));
    }
    content.Playlists.append({1, QStringLiteral("Library"), false, false, {100, 101}, 0});
    QDir().mkpath(fake.Root() + QStringLiteral("/iTunes_Control/iTunes"));
    ::WriteMediaLibrary(fake.Root() + QStringLiteral("/iTunes_Control/iTunes/MediaLibrary.sqlitedb"), content,
                        1);
    fake.AddFile(QStringLiteral("Books/Kept.epub/mimetype"), "application/epub+zip");
    fake.AddFile(QStringLiteral("Books/Kept.epub/META-INF/container.xml"), "<container/>");
    fake.AddFile(QStringLiteral("Books/Kept.epub/OEBPS/content.opf"), "<package/>");
    fake.AddFile(QStringLiteral("Books/flat.pdf"), "%PDF-1.4 flat");
    fake.AddFile(QStringLiteral("escape.pdf"), "outside the books folder");
    fake.AddFile(
        QStringLiteral("Books/Books.plist"),
        BinaryBooksPlist(
            {{QStringLiteral("Kept Book"), QStringLiteral("Writer"), QStringLiteral("Kept.epub")},
             {QStringLiteral("Flat Book"), QStringLiteral("Writer"), QStringLiteral("flat.pdf")},
             {QStringLiteral("../../Climber"), QStringLiteral("Writer"), QStringLiteral("../escape.pdf")}}));
    // Listings of the book folder also name entries that are not plain names.
    fake.Set("QUENLOR_FAKE_EXTRA_NAMES", "..|../../outside.txt|.");

    std::vector<std::pair<bool, bool>> changes;
    TIpodDevice session([&](bool c, bool m) { changes.push_back({c, m}); }, nullptr, false);
    session.ScanDrives();
    ASSERT_TRUE(WaitFor([&] { return !changes.empty(); }));
    ASSERT_EQ(changes.front(), (std::pair{true, true}));

    TIpodMusicDb db(&session);
    MusicDb = &db;
    ASSERT_TRUE(db.Load(true)) << db.Log.toStdString();
    ASSERT_EQ(db.Tracks.Count(), 5);
    for (int i = 0; i < db.Tracks.Count(); ++i)
        if (!db.Tracks[i].Checked) db.Tracks.CheckItem(i);
    const QString outer = fake.Work() + QStringLiteral("/out");
    const QString dest = outer + QStringLiteral("/Music/");
    QDir().mkpath(dest);
    db.DestDir = dest;
    db.SaveType = 1;
    const int copied = db.CopySelected();
    MusicDb = nullptr;

    // The book whose path climbs out of the books folder is not found there.
    EXPECT_EQ(copied, 4) << db.Log.toStdString() << session.Log.toStdString();
    EXPECT_TRUE(db.Log.contains(QStringLiteral("../../Climber: Error 2")));
    EXPECT_EQ(ReadAll(dest + QStringLiteral("AC_DC_ Live_.mp3")), Pattern(4 * 1048576, 0));
    EXPECT_EQ(ReadAll(dest + QStringLiteral("Second.mp3")), Pattern(4 * 1048576 + 1, 1));
    EXPECT_EQ(ReadAll(dest + QStringLiteral("Flat Book.pdf")), QByteArray("%PDF-1.4 flat"));
    EXPECT_EQ(ZipEntries(dest + QStringLiteral("Kept Book.epub")),
              (QStringList{QStringLiteral("META-INF/container.xml"), QStringLiteral("OEBPS/content.opf"),
                           QStringLiteral("mimetype")}));
    // Nothing was written outside the target folder, and the book's work folder is gone.
    EXPECT_EQ(FilesBelow(outer).filter(QStringLiteral("Music/"), Qt::CaseSensitive).size(),
              FilesBelow(outer).size());
    EXPECT_FALSE(QFileInfo::exists(dest + QStringLiteral("Kept Book")));
    EXPECT_EQ(fake.Counter("write_attempts"), 0);
    qunsetenv("QUENLOR_DEVICE_ROOTS");
}

} // namespace
