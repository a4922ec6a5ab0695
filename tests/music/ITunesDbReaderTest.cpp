#include "MusicTestDevice.h"
#include "QuenlorError.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

TITunesDbContent SampleContent() {
    TITunesDbContent c;
    c.Tracks = SampleTracks();
    c.Playlists = {
        {QStringLiteral("My iPod"), true, false, {101, 102, 103, 104, 105, 106}, 0},
        {QStringLiteral("Favourites"), true, false, {102, 101, 999}, 2},
        {QStringLiteral("Smart One"), true, true, {105}, 0},
        {QString(), false, false, {103}, 0},
    };
    return c;
}

void ExpectSampleRead(const TIpodMusicDb& db) {
    ASSERT_EQ(db.Tracks.Count(), 6);
    const TTrackItem& first = db.Tracks[0];
    EXPECT_EQ(first.Id, 101);
    EXPECT_EQ(first.Title, QStringLiteral("First Song"));
    EXPECT_EQ(first.Artist, QStringLiteral("Alpha"));
    EXPECT_EQ(first.Album, QStringLiteral("One"));
    EXPECT_EQ(first.Genre, QStringLiteral("Rock"));
    EXPECT_EQ(first.Location, QStringLiteral(":iPod_Control:Music:F00:AAAA.mp3"));
    EXPECT_EQ(first.Size, 5000u);
    EXPECT_EQ(first.Duration, 185000u);
    EXPECT_EQ(first.PlayCount, 3u);
    EXPECT_EQ(first.Rating, 80);
    EXPECT_EQ(first.DurationText, QStringLiteral("3:05"));
    EXPECT_EQ(first.SizeText, QStringLiteral("4.88 KB"));
    EXPECT_EQ(first.CopyState, -1);
    EXPECT_EQ(first.ITunesSourceId, -1);
    EXPECT_TRUE(first.Checked);

    const quint8 kinds[] = {MediaMusic, MediaMusic, MediaMovies, MediaBooks, MediaRingtones, MediaMusic};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(db.Tracks[i].MediaKind, kinds[i]) << i;
    EXPECT_EQ(db.Tracks[1].DurationText, QStringLiteral("1:00:00"));
    EXPECT_FALSE(db.Tracks[3].Checked); // books are never ticked when read
    EXPECT_EQ(db.Tracks[5].Title, QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"));

    EXPECT_EQ(db.TotalBytes, 24000);
    EXPECT_EQ(db.Tracks.CheckedCount, 5);
    EXPECT_EQ(db.Tracks.CheckedBytes, 21000);

    ASSERT_EQ(db.Playlists.Count(), 4);
    EXPECT_EQ(db.Playlists.Items(0).Name, QStringLiteral("My iPod"));
    EXPECT_EQ(db.Playlists.Items(0).Count, 6);
    const TPlayListItem& fav = db.Playlists.Items(1);
    EXPECT_EQ(fav.Name, QStringLiteral("Favourites"));
    EXPECT_EQ(fav.Count, 3); // the two foreign entries are skipped
    EXPECT_EQ(fav.TrackIds, (QList<qint64>{102, 101, 999}));
    EXPECT_FALSE(fav.Smart);
    EXPECT_TRUE(db.Playlists.Items(2).Smart);
    EXPECT_EQ(db.Playlists.Items(3).Name, QString());
    EXPECT_EQ(db.Playlists.Items(3).Id, 0);
}

TEST(ITunesDbReader, ReadsTracksAndPlaylistsOfEveryKind) {
    for (bool compressed : {false, true}) {
        for (bool playlistsFirst : {false, true}) {
            SCOPED_TRACE(testing::Message() << "compressed " << compressed << " playlists first " << playlistsFirst);
            TMusicTestDevice d;
            TITunesDbContent c = SampleContent();
            c.PlaylistsFirst = playlistsFirst;
            d.Tree.WriteITunesDb(c, compressed);
            ASSERT_TRUE(d.Load());
            ExpectSampleRead(*d.Db);
            EXPECT_EQ(d.Db->Source, compressed ? QStringLiteral("iTunesCDB") : QStringLiteral("iTunesDB"));
        }
    }
}

TEST(ITunesDbReader, ShortTrackHeadersOfOldDatabases) {
    TMusicTestDevice d;
    TITunesDbContent c = SampleContent();
    c.TrackHeaderLength = 156;
    c.DatabaseHeaderLength = 104;
    c.OtherChunks = false;
    d.Tree.WriteITunesDb(c);
    ASSERT_TRUE(d.Load());
    ExpectSampleRead(*d.Db);
}

TEST(ITunesDbReader, CompressedDatabaseIsPreferred) {
    TMusicTestDevice d;
    TITunesDbContent plain = SampleContent();
    plain.Tracks.resize(1);
    d.Tree.WriteITunesDb(plain, false);
    d.Tree.WriteITunesDb(SampleContent(), true);
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.Db->Tracks.Count(), 6);
}

TEST(ITunesDbReader, WrongFileTagIsReported) {
    TMusicTestDevice d;
    QByteArray bytes = WriteITunesDb(SampleContent());
    bytes.replace(0, 4, "mhxx");
    WriteAll(d.Tree.ITunesFolder() + QStringLiteral("/iTunesDB"), bytes);
    EXPECT_FALSE(d.Load());
    EXPECT_TRUE(d.Db->Log.contains(QStringLiteral("\r\nMHDB incorrect"))) << d.Db->Log.toStdString();
    EXPECT_TRUE(d.Db->Log.contains(QStringLiteral("\r\niTunesDb, ")));
}

TEST(ITunesDbReader, DatabaseWithoutTrackListFails) {
    TMusicTestDevice d;
    TITunesDbContent c = SampleContent();
    c.Tracks.clear();
    QByteArray bytes = WriteITunesDb(c);
    bytes.replace(bytes.indexOf("mhlt"), 4, "mhzz");
    WriteAll(d.Tree.ITunesFolder() + QStringLiteral("/iTunesDB"), bytes);
    EXPECT_FALSE(d.Load());
}

TEST(ITunesDbReader, CorruptCompressedStreamRaisesToTheCaller) {
    TMusicTestDevice d;
    QByteArray bytes = WriteITunesCdb(SampleContent());
    for (qsizetype i = 260; i < bytes.size(); i += 7)
        bytes[i] = char(bytes[i] ^ 0x5A);
    WriteAll(d.Tree.ITunesFolder() + QStringLiteral("/iTunesCDB"), bytes);
    EXPECT_THROW(d.Load(), EZlibError);
}

// A database cut at any byte loads without a crash or hang and says that it failed:
// no tracks when the track list is cut, the exception line when a later list is.
TEST(ITunesDbReader, TruncatedAtAnyByteFailsCleanly) {
    TITunesDbContent c = SampleContent();
    c.OtherChunks = false;
    const QByteArray whole = WriteITunesDb(c);
    TMusicTestDevice d(true);
    const QString file = d.Tree.ITunesFolder() + QStringLiteral("/iTunesDB");
    for (qsizetype cut = 0; cut < whole.size(); ++cut) {
        WriteAll(file, whole.left(cut));
        const bool ok = d.Reload();
        if (ok)
            ASSERT_TRUE(d.Db->Log.contains(QStringLiteral("\r\nException on reading iTunesDb"))) << "cut at " << cut;
        else
            ASSERT_TRUE(d.Db->Log.contains(QStringLiteral("\r\niTunesDb, "))) << "cut at " << cut;
    }
    WriteAll(file, whole);
    EXPECT_TRUE(d.Reload());
    EXPECT_FALSE(d.Db->Log.contains(QStringLiteral("Exception")));
}

TEST(ITunesDbReader, CompressedTruncatedAtManyOffsetsNeverCrashes) {
    const QByteArray whole = WriteITunesCdb(SampleContent());
    TMusicTestDevice d(true);
    const QString file = d.Tree.ITunesFolder() + QStringLiteral("/iTunesCDB");
    for (qsizetype cut = 0; cut < whole.size(); cut += 3) {
        WriteAll(file, whole.left(cut));
        try {
            EXPECT_FALSE(d.Reload()) << cut;
        } catch (const EZlibError&) {
            // A cut inside the compressed stream is reported by the inflation.
        }
    }
}

// Bytes flipped all over the file: no crash, no hang, nothing outside the stream read.
TEST(ITunesDbReader, CorruptedBytesNeverCrash) {
    const QByteArray whole = WriteITunesDb(SampleContent());
    TMusicTestDevice d(true);
    const QString file = d.Tree.ITunesFolder() + QStringLiteral("/iTunesDB");
    const char patterns[] = {'\x00', '\xff', '\x7f', '\x80'};
    for (qsizetype at = 0; at < whole.size(); ++at) {
        QByteArray bytes = whole;
        bytes[at] = patterns[at % 4];
        WriteAll(file, bytes);
        d.Reload();
    }
    SUCCEED();
}

TEST(ITunesDbReader, ZeroLengthDataObjectEndsThePlaylistChain) {
    TMusicTestDevice d;
    TITunesDbContent c = SampleContent();
    c.OtherChunks = false;
    QByteArray bytes = WriteITunesDb(c);
    // The name data object of the second playlist gets a total length of 0.
    const qsizetype mhyp = bytes.indexOf("mhyp", bytes.indexOf("mhyp") + 4);
    const qsizetype mhod = bytes.indexOf("mhod", mhyp);
    bytes[mhod + 8] = bytes[mhod + 9] = bytes[mhod + 10] = bytes[mhod + 11] = 0;
    WriteAll(d.Tree.ITunesFolder() + QStringLiteral("/iTunesDB"), bytes);
    d.Load(); // terminates
    SUCCEED();
}

TEST(ITunesDbReader, ListingLeavesTheDeviceUnchanged) {
    TMusicTestDevice d;
    d.Tree.WriteITunesDb(SampleContent(), true);
    d.Tree.WriteMediaFor(SampleTracks());
    const auto before = TreeSnapshot(d.Tree.Root);
    ASSERT_TRUE(d.Load());
    d.Reset();
    EXPECT_EQ(TreeSnapshot(d.Tree.Root), before);
}

TEST(ITunesDbReader, RealDatabasesOfEveryVersion) {
    const struct {
        const char* File;
        int Tracks;
    } cases[] = {{"itunesdb/v73-1799-tracks.iTunesDB", 1799},
                 {"itunesdb/v0c-5375-tracks.iTunesDB", 5375},
                 {"itunesdb/v4f-japanese-2-tracks.iTunesDB", 2}};
    for (const auto& c : cases) {
        const QString real = RealData(QString::fromLatin1(c.File));
        if (real.isEmpty()) {
            ADD_FAILURE() << "missing real database " << c.File;
            continue;
        }
        TMusicTestDevice d;
        QFile::copy(real, d.Tree.ITunesFolder() + QStringLiteral("/iTunesDB"));
        ASSERT_TRUE(d.Load()) << c.File << d.Db->Log.toStdString();
        EXPECT_EQ(d.Db->Tracks.Count(), c.Tracks) << c.File;
        EXPECT_FALSE(d.Db->Log.contains(QStringLiteral("Exception"))) << c.File;
        EXPECT_GE(d.Db->Playlists.Count(), 1) << c.File;
        int named = 0;
        for (int i = 0; i < d.Db->Tracks.Count(); ++i)
            named += d.Db->Tracks[i].Location.startsWith(QLatin1Char(':')) ? 1 : 0;
        EXPECT_EQ(named, c.Tracks) << c.File;
        // Playlists refer to tracks that exist.
        QSet<qint64> ids;
        for (int i = 0; i < d.Db->Tracks.Count(); ++i)
            ids.insert(d.Db->Tracks[i].Id);
        EXPECT_EQ(d.Db->Playlists.Items(0).Count, c.Tracks) << c.File;
        for (qint64 id : d.Db->Playlists.Items(0).TrackIds)
            EXPECT_TRUE(ids.contains(id));
    }
}

} // namespace
