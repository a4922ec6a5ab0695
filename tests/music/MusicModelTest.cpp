#include "iPodDev.h"
#include "iPodMusic.h"

#include <gtest/gtest.h>

TEST(MusicModel, MediaKindFromExtension) {
    const struct {
        const char* Ext;
        quint8 Kind;
    } cases[] = {{".mp3", MediaMusic},  {".M4A", MediaMusic},  {".mp4", MediaMovies}, {".m4v", MediaMovies},
                 {".MOV", MediaMovies}, {".epub", MediaBooks}, {".PDF", MediaBooks},  {".m4r", MediaRingtones},
                 {".wav", MediaMusic},  {"", MediaMusic}};
    for (const auto& c : cases)
        EXPECT_EQ(TIpodMusicDb::MediaKindOf(QString::fromLatin1(c.Ext)), c.Kind) << c.Ext;
}

TEST(MusicModel, DurationText) {
    const struct {
        quint32 Ms;
        const char* Text;
    } cases[] = {{0, "0:00"},           {999, "0:00"},          {61000, "1:01"},
                 {3599999, "59:59"},    {3600000, "1:00:00"},   {36061000, "10:01:01"},
                 {4294967295u, "1193:02:47"}};
    for (const auto& c : cases)
        EXPECT_EQ(TIpodMusicDb::DurationText(c.Ms), QString::fromLatin1(c.Text)) << c.Ms;
}

TEST(MusicModel, SizeText) {
    const struct {
        qint64 Bytes;
        const char* Text;
    } cases[] = {{0, "0.00 KB"},         {1536, "1.50 KB"},          {1048575, "1024.00 KB"},
                 {1048576, "1.00 MB"},   {1073741824, "1024.00 MB"}, {1073741825, "1.00 GB"},
                 {5368709120, "5.00 GB"}};
    for (const auto& c : cases)
        EXPECT_EQ(TIpodDevice::SizeText(c.Bytes), QString::fromLatin1(c.Text)) << c.Bytes;
}

TEST(MusicModel, CheckAndUncheckKeepTheTotals) {
    TTrackList list;
    list.Add().Size = 100;
    list.Add().Size = 50;
    list.CheckItem(0);
    list.CheckItem(0);
    EXPECT_EQ(list.CheckedCount, 1);
    EXPECT_EQ(list.CheckedBytes, 100);
    list.UncheckItem(1);
    EXPECT_EQ(list.CheckedCount, 1);
    list.CheckItem(1);
    list.UncheckItem(0);
    list.UncheckItem(0);
    EXPECT_EQ(list.CheckedCount, 1);
    EXPECT_EQ(list.CheckedBytes, 50);
}

TEST(MusicModel, PlaylistInsertPutsTheMasterFirst) {
    TPlayLists p;
    p.Add().Name = QStringLiteral("b");
    p.Insert(0).Name = QStringLiteral("a");
    p.Items(1).AddTrackId(7);
    EXPECT_EQ(p.Items(0).Name, QStringLiteral("a"));
    EXPECT_EQ(p.Items(1).Count, 1);
    EXPECT_EQ(p.Items(1).TrackIdAt(0), 7);
}
