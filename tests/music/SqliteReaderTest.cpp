#include "MusicTestDevice.h"
#include "SQLiteWrap.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

TSqlLibraryContent SampleLibrary() {
    TSqlLibraryContent c;
    c.MasterPid = 900;
    c.BaseLocations = {{1, QStringLiteral("iTunes_Control/Music/F00")}, {2, QStringLiteral("iTunes_Control/Music/F01")}};
    auto track = [](qint64 pid, const char* title, const char* artist, const char* genre, qint64 base, const char* loc,
                    qint64 size, qint64 plays, qint64 rating) {
        TSqlTrack t;
        t.Pid = pid;
        t.Title = QString::fromUtf8(title);
        t.Artist = QString::fromUtf8(artist);
        t.Album = QStringLiteral("Album of ") + t.Artist;
        t.Genre = QString::fromUtf8(genre);
        t.BaseLocationId = base;
        t.Location = QString::fromUtf8(loc);
        t.FileSize = size;
        t.TimeMs = 200000;
        t.PlayCount = plays;
        t.Rating = rating;
        return t;
    };
    c.Tracks = {track(11, "One", "Ann", "Rock", 1, "AAAA.mp3", 1000, 5, 60),
                track(12, "Two", "Bob", "Jazz", 2, "BBBB.m4v", 2000, 0, 100),
                track(13, "Three", "Ann", "", 7, "CCCC.m4r", 3000, 1, 0),          // base folder missing
                track(14, "Four", "Cyd", "Rock", 0, "/abs/DDDD.mp3", 4000, 2, 40)}; // stored whole
    c.Playlists = {{901, QStringLiteral("Road"), false, false, {12, 11, 55}, 4},
                   {900, QStringLiteral("Phone"), false, false, {11, 12, 13, 14}, 0},
                   {902, QString(), true, true, {13}, 0}};
    return c;
}

TEST(SqliteReader, ItlpLibraryWithLocationsAndStatistics) {
    TMusicTestDevice d;
    TSqlLibraryContent c = SampleLibrary();
    c.OrphanRows = true;
    d.Tree.WriteItlp(c);
    ASSERT_TRUE(d.Load()) << d.Db->Log.toStdString();
    const TIpodMusicDb& db = *d.Db;
    EXPECT_EQ(db.Source, QStringLiteral("Library.itdb"));
    ASSERT_EQ(db.Tracks.Count(), 4);
    EXPECT_EQ(db.Tracks[0].Title, QStringLiteral("One"));
    EXPECT_EQ(db.Tracks[0].Artist, QStringLiteral("Ann"));
    EXPECT_EQ(db.Tracks[0].Album, QStringLiteral("Album of Ann"));
    EXPECT_EQ(db.Tracks[0].Genre, QStringLiteral("Rock"));
    EXPECT_EQ(db.Tracks[1].Genre, QStringLiteral("Jazz"));
    EXPECT_EQ(db.Tracks[2].Genre, QString());
    EXPECT_EQ(db.Tracks[0].Location, QStringLiteral("iTunes_Control/Music/F00/AAAA.mp3"));
    EXPECT_EQ(db.Tracks[2].Location, QStringLiteral("/CCCC.m4r"));
    EXPECT_EQ(db.Tracks[3].Location, QStringLiteral("/abs/DDDD.mp3"));
    EXPECT_EQ(db.Tracks[1].MediaKind, MediaMovies);
    EXPECT_EQ(db.Tracks[2].MediaKind, MediaRingtones);
    EXPECT_EQ(db.Tracks[0].Rating, 60);
    EXPECT_EQ(db.Tracks[0].PlayCount, 5u);
    EXPECT_EQ(db.Tracks[1].Size, 2000u);
    EXPECT_EQ(db.Tracks[1].SizeText, QStringLiteral("1.95 KB"));
    EXPECT_EQ(db.Tracks[0].DurationText, QStringLiteral("3:20"));
    EXPECT_EQ(db.TotalBytes, 10000);
    EXPECT_EQ(db.Tracks.CheckedCount, 4);
    EXPECT_EQ(db.Tracks.CheckedBytes, 10000);

    ASSERT_EQ(db.Playlists.Count(), 3);
    EXPECT_EQ(db.Playlists.Items(0).Name, QStringLiteral("Phone")); // the master, though not first
    EXPECT_EQ(db.Playlists.Items(0).Count, 0);                      // gets no entries
    EXPECT_EQ(db.Playlists.Items(1).Name, QStringLiteral("Road"));
    EXPECT_EQ(db.Playlists.Items(1).TrackIds, (QList<qint64>{12, 11, 55}));
    EXPECT_EQ(db.Playlists.Items(1).Id, 901);
    EXPECT_FALSE(db.Playlists.Items(1).Smart);
    EXPECT_EQ(db.Playlists.Items(2).Name, QStringLiteral("Unknown"));
    EXPECT_TRUE(db.Playlists.Items(2).Smart);
}

TEST(SqliteReader, ItlpTrackWithoutLocationStaysTickedButUncounted) {
    TMusicTestDevice d;
    TSqlLibraryContent c = SampleLibrary();
    c.Tracks[1].HasLocationRow = false;
    c.Tracks[1].HasStatsRow = false;
    d.Tree.WriteItlp(c);
    ASSERT_TRUE(d.Load());
    EXPECT_TRUE(d.Db->Tracks[1].Checked);
    EXPECT_EQ(d.Db->Tracks[1].Location, QString());
    EXPECT_EQ(d.Db->Tracks[1].Rating, 0);
    EXPECT_EQ(d.Db->Tracks.CheckedCount, 3);
}

TEST(SqliteReader, ItlpWithoutLocationsFallsBackToTheITunesDb) {
    TMusicTestDevice d;
    d.Tree.WriteItlp(SampleLibrary());
    QFile::remove(d.Tree.LibraryFolder() + QStringLiteral("/Locations.itdb"));
    TITunesDbContent c;
    c.Tracks = SampleTracks();
    c.Playlists = {{QStringLiteral("Old"), true, false, {101}, 0}};
    d.Tree.WriteITunesDb(c);
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.Db->Source, QStringLiteral("iTunesDB"));
    EXPECT_EQ(d.Db->Tracks.Count(), 6);
    EXPECT_TRUE(d.Db->Log.startsWith(QStringLiteral("\r\nitdb, ")));
}

TEST(SqliteReader, MediaLibraryWithContentOnlyInItsLog) {
    TMusicTestDevice d;
    TSqlLibraryContent c = SampleLibrary();
    d.Tree.WriteMediaLibrary(c, 2);
    const QString wal = d.Tree.ITunesFolder() + QStringLiteral("/MediaLibrary.sqlitedb-wal");
    ASSERT_GT(QFileInfo(wal).size(), 0);
    const auto before = TreeSnapshot(d.Tree.Root);
    ASSERT_TRUE(d.Load()) << d.Db->Log.toStdString();
    const TIpodMusicDb& db = *d.Db;
    EXPECT_EQ(db.Source, QStringLiteral("MediaLibrary.sqlitedb"));
    ASSERT_EQ(db.Tracks.Count(), 4);
    EXPECT_EQ(db.Tracks[3].Title, QStringLiteral("Four"));
    EXPECT_EQ(db.Tracks[0].Location, QStringLiteral("iTunes_Control/Music/F00/AAAA.mp3"));
    EXPECT_EQ(db.Tracks[2].Location, QStringLiteral("/CCCC.m4r")); // missing base folder
    EXPECT_EQ(db.Tracks[3].Location, QStringLiteral("//abs/DDDD.mp3"));
    EXPECT_EQ(db.Tracks[1].Artist, QStringLiteral("Bob"));
    EXPECT_EQ(db.Tracks[1].Album, QStringLiteral("Album of Bob"));
    EXPECT_EQ(db.Tracks[1].Genre, QStringLiteral("Jazz"));
    EXPECT_EQ(db.Tracks[2].Genre, QString());
    EXPECT_EQ(db.Tracks[0].Rating, 60);
    EXPECT_EQ(db.Tracks[0].PlayCount, 5u);
    EXPECT_EQ(db.TotalBytes, 10000);
    ASSERT_EQ(db.Playlists.Count(), 3);
    EXPECT_EQ(db.Playlists.Items(0).Name, QStringLiteral("Phone"));
    EXPECT_EQ(db.Playlists.Items(0).Count, 0);
    // 3 whole entries and 4 bytes of a torn one: the torn one ends the blob.
    EXPECT_EQ(db.Playlists.Items(1).TrackIds, (QList<qint64>{12, 11, 55}));
    EXPECT_EQ(db.Playlists.Items(2).Name, QStringLiteral("Unknown"));
    EXPECT_TRUE(db.Playlists.Items(2).Smart);
    EXPECT_FALSE(db.Playlists.Items(1).Smart);
    d.Reset();
    EXPECT_EQ(TreeSnapshot(d.Tree.Root), before);
}

TEST(SqliteReader, BookInTheLibraryIsUntickedAndSkipsTheBooksList) {
    TMusicTestDevice d;
    TSqlLibraryContent c = SampleLibrary();
    c.Tracks[3].Location = QStringLiteral("Book.epub");
    d.Tree.WriteMediaLibrary(c);
    ASSERT_TRUE(d.Load());
    EXPECT_FALSE(d.Db->Tracks[3].Checked);
    EXPECT_EQ(d.Db->Tracks[3].MediaKind, MediaBooks);
    EXPECT_FALSE(d.Db->NeedBooksPlist);
    EXPECT_EQ(d.Db->Tracks.CheckedCount, 3);
    EXPECT_EQ(d.Db->TotalBytes, 10000);
}

TEST(SqliteReader, DuplicateLookupKeyFailsTheLibrary) {
    TMusicTestDevice d;
    d.Tree.WriteMediaLibrary(SampleLibrary());
    ExecSql(d.Tree.ITunesFolder() + QStringLiteral("/MediaLibrary.sqlitedb"),
            QStringLiteral("PRAGMA journal_mode=DELETE; CREATE TABLE genre2 AS SELECT * FROM genre; DROP TABLE genre;"
                           "CREATE TABLE genre (genre_id INTEGER, genre TEXT); INSERT INTO genre SELECT * FROM genre2;"
                           "INSERT INTO genre VALUES (1, 'Again');"));
    EXPECT_FALSE(d.Load());
    EXPECT_TRUE(d.Db->Log.contains(QStringLiteral("itdb, ")));
    EXPECT_TRUE(d.Db->Log.contains(QStringLiteral("iTunesDb, ")));
}

TEST(SqliteReader, DamagedLibraryFilesNeverCrash) {
    TMusicTestDevice d(true);
    d.Tree.WriteMediaLibrary(SampleLibrary());
    const QString file = d.Tree.ITunesFolder() + QStringLiteral("/MediaLibrary.sqlitedb");
    const QByteArray whole = ReadAll(file);
    for (qsizetype cut = 0; cut < whole.size(); cut += 509) {
        WriteAll(file, whole.left(cut));
        // A cut that only drops pages no query needs still reads the whole library.
        if (d.Reload()) {
            EXPECT_EQ(d.Db->Tracks.Count(), 4) << cut;
        }
    }
    for (qsizetype at = 100; at < whole.size(); at += 97) {
        QByteArray bytes = whole;
        bytes[at] = char(~bytes[at]);
        WriteAll(file, bytes);
        d.Reload();
    }
}

TEST(SqliteReader, RealItlpLibrary) {
    const QString real = RealData(QStringLiteral("sqlite/Library.itdb"));
    ASSERT_FALSE(real.isEmpty());
    TSQLiteDatabase db(real);
    auto t = db.Query(QStringLiteral("SELECT count(*) FROM item"));
    EXPECT_EQ(t->ColumnAsInt64(0), 1408);
    t.reset();
    // Without its Locations.itdb the library is not enough: the reader says so.
    TMusicTestDevice d;
    QDir().mkpath(d.Tree.LibraryFolder());
    QFile::copy(real, d.Tree.LibraryFolder() + QStringLiteral("/Library.itdb"));
    const auto before = TreeSnapshot(d.Tree.Root);
    EXPECT_FALSE(d.Load());
    EXPECT_TRUE(d.Db->Log.contains(QStringLiteral("itdb, ")));
    d.Db = std::make_unique<TIpodMusicDb>(d.Session.get());
    EXPECT_EQ(d.Db->ReadLibraryItdb(d.Tree.LibraryFolder() + QStringLiteral("/Library.itdb")), 1408);
    EXPECT_GE(d.Db->Playlists.Count(), 1);
    d.Reset();
    EXPECT_EQ(TreeSnapshot(d.Tree.Root), before);
}

} // namespace
