#include "BooksPlistWriter.h"
#include "MusicTestDevice.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

struct TBooksCase {
    const char* Name;
    QByteArray Xml;
    QList<QStringList> Expected; // title, location, artist
};

TEST(BooksReader, ReadsBooksFromThePropertyList) {
    const QList<TFixtureBook> books = {
        {QStringLiteral("Moby Dick"), QStringLiteral("Melville"), QStringLiteral("moby.epub"), {}},
        {QStringLiteral("Notes"), QStringLiteral("Me"), QString(), {{QStringLiteral("Genre"), QStringLiteral("x")}}},
        {QString::fromUtf8("Caf\xC3\xA9"), QStringLiteral("A & B"), QStringLiteral("Folder Book"), {}},
    };
    const QByteArray lowerKeys = QByteArray(
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Books</key><array>"
        "<dict><key>name</key><string>Lower</string><key>PATH</key><string>l.pdf</string>"
        "<key>artist</key><string>Case</string></dict>"
        "<dict><key>Name</key><string>Path</string><key>x</key><string>Artist</string></dict>"
        "<dict><key>One</key><string>Two</string></dict>"
        "</array></dict></plist>");
    const TBooksCase cases[] = {
        {"with a Books key",
         BooksPlistXml(books),
         {{QStringLiteral("Moby Dick"), QStringLiteral("Books/moby.epub"), QStringLiteral("Melville")},
          {QStringLiteral("Notes"), QString(), QStringLiteral("Me")},
          {QString::fromUtf8("Caf\xC3\xA9"), QStringLiteral("Books/Folder Book"), QStringLiteral("A & B")}}},
        {"books directly in the top dictionary",
         BooksPlistXml(books.mid(0, 1), false),
         {{QStringLiteral("Moby Dick"), QStringLiteral("Books/moby.epub"), QStringLiteral("Melville")}}},
        // Keys compare without case; a value equal to a key counts as a key; a
        // dictionary of two children is no book.
        {"odd keys",
         lowerKeys,
         {{QStringLiteral("Lower"), QStringLiteral("Books/l.pdf"), QStringLiteral("Case")},
          {QStringLiteral("Path"), QStringLiteral("Books/x"), QString()}}},
        {"not XML", QByteArray("bplist00garbage"), {}},
        {"no children", QByteArray("<plist/>"), {}},
        {"cut short", BooksPlistXml(books).left(300), {}},
    };
    for (const TBooksCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Books.plist"));
        WriteAll(file, c.Xml);
        TIpodMusicDb db(nullptr);
        ASSERT_EQ(db.ReadBooksFromFile(file), c.Expected.size());
        ASSERT_EQ(db.Tracks.Count(), c.Expected.size());
        for (int i = 0; i < c.Expected.size(); ++i) {
            const TTrackItem& t = db.Tracks[i];
            EXPECT_EQ(t.Title, c.Expected[i][0]);
            EXPECT_EQ(t.Location, c.Expected[i][1]);
            EXPECT_EQ(t.Artist, c.Expected[i][2]);
            EXPECT_EQ(t.MediaKind, MediaBooks);
            EXPECT_FALSE(t.Checked);
            EXPECT_EQ(t.Id, 0);
            EXPECT_EQ(t.CopyState, -1);
            EXPECT_EQ(t.ITunesSourceId, -1);
            EXPECT_EQ(t.SizeText, QString());
        }
        EXPECT_EQ(db.Tracks.CheckedCount, 0);
        EXPECT_EQ(db.TotalBytes, 0);
    }
}

TITunesDbContent OneTrackDb() {
    TITunesDbContent c;
    c.Tracks = SampleTracks().mid(0, 1);
    c.Playlists = {{QStringLiteral("Classic"), true, false, {101}, 0}};
    return c;
}

TSqlLibraryContent OneTrackLibrary() {
    TSqlLibraryContent c;
    c.MasterPid = 1;
    c.Tracks = {TSqlTrack{.Pid = 5, .Title = QStringLiteral("From SQLite"), .Location = QStringLiteral("x.mp3"), .FileSize = 10}};
    c.Playlists = {{1, QStringLiteral("New"), false, false, {}, 0}};
    return c;
}

TEST(MusicLoad, PrefersTheSqliteLibrary) {
    TMusicTestDevice d;
    d.Tree.WriteITunesDb(OneTrackDb());
    d.Tree.WriteMediaLibrary(OneTrackLibrary());
    ASSERT_TRUE(d.Load(true));
    EXPECT_EQ(d.Db->Tracks[0].Title, QStringLiteral("From SQLite"));
    EXPECT_EQ(d.Db->Log, QString());
    ASSERT_TRUE(d.Reload(false));
    EXPECT_EQ(d.Db->Tracks[0].Title, QStringLiteral("First Song"));
}

TEST(MusicLoad, DiskIpodWithoutSqliteLibraryLogsAndReadsTheITunesDb) {
    TMusicTestDevice d;
    d.Tree.WriteITunesDb(OneTrackDb());
    ASSERT_TRUE(d.Load(true));
    EXPECT_EQ(d.Db->Log, QStringLiteral("\r\nitdb, ") + d.StartLog);
    EXPECT_EQ(d.Db->Tracks.Count(), 1);
}

TEST(MusicLoad, NeitherDatabaseFailsWithBothLines) {
    TMusicTestDevice d;
    EXPECT_FALSE(d.Load(true));
    const QString notFound = QStringLiteral("\r\nNot found: /iPod_Control/iTunes/iTunesCDB"
                                            "\r\nNot found: /iPod_Control/iTunes/iTunesDB");
    // The session's log grows through the attempts, so the second line repeats the first's.
    EXPECT_EQ(d.Db->Log, QStringLiteral("\r\nitdb, ") + d.StartLog + QStringLiteral("\r\niTunesDb, ") + d.StartLog + notFound);
    EXPECT_FALSE(d.Reload(false));
    EXPECT_EQ(d.Db->Log, QStringLiteral("\r\niTunesDb, ") + d.StartLog + notFound + QStringLiteral("\r\nitdb, ") +
                             d.StartLog + notFound);
}

TEST(MusicLoad, FailedSqliteAttemptIsReplacedByTheITunesDb) {
    TMusicTestDevice d;
    TSqlLibraryContent lib = OneTrackLibrary();
    d.Tree.WriteItlp(lib);
    QFile::remove(d.Tree.LibraryFolder() + QStringLiteral("/Locations.itdb"));
    d.Tree.WriteITunesDb(OneTrackDb());
    ASSERT_TRUE(d.Load(true));
    ASSERT_EQ(d.Db->Tracks.Count(), 1);
    EXPECT_EQ(d.Db->Tracks[0].Title, QStringLiteral("First Song"));
    EXPECT_EQ(d.Db->Playlists.Items(0).Name, QStringLiteral("Classic"));
}

TEST(MusicLoad, PreviewFileOnADiskIpod) {
    TMusicTestDevice d;
    d.Tree.WriteITunesDb(OneTrackDb());
    ASSERT_TRUE(d.Load());
    QString path;
    d.Db->PreviewFile(1, path);
    EXPECT_EQ(path, QString());
    EXPECT_EQ(d.Db->PreviewIndex, -1);
    d.Db->PreviewFile(-1, path);
    EXPECT_EQ(path, QString());
    d.Db->PreviewFile(0, path);
    EXPECT_EQ(path, d.Tree.Root + QStringLiteral("/iPod_Control/Music/F00/AAAA.mp3"));
    EXPECT_EQ(d.Db->PreviewIndex, 0);
}

} // namespace
