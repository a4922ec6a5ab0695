// Readable target names, and names from the device that must not escape the target.
#include "TransferTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

namespace {

struct TCleanCase {
    const char* Label;
    QString Text;
    QString Expected;
};

QString Repeat(const QString& s, int n) { return s.repeated(n); }

} // namespace

TEST(CleanNamePart, CutsTrimsAndReplacesTheNineCharacters) {
    const QString forty = Repeat(QStringLiteral("a"), 40);
    const TCleanCase cases[] = {
        {"replaced characters", QStringLiteral("AC/DC: Live?"), QStringLiteral("AC_DC_ Live_")},
        {"all nine", QStringLiteral("\"*/:<>?\\|"), QStringLiteral("_________")},
        {"empty", QString(), QStringLiteral("Unknown Name")},
        {"blanks only", QStringLiteral("   "), QString()},
        {"trimmed", QStringLiteral("  Song  "), QStringLiteral("Song")},
        {"41 kept whole", Repeat(QStringLiteral("b"), 41), Repeat(QStringLiteral("b"), 41)},
        {"42 cut to 41", Repeat(QStringLiteral("c"), 42), Repeat(QStringLiteral("c"), 41)},
        {"42 cut, then trimmed", forty + QStringLiteral(" xy"), forty},
        {"1000 characters", Repeat(QStringLiteral("d"), 1000), Repeat(QStringLiteral("d"), 41)},
        {"control characters kept", QStringLiteral("a\tb\x01" "c"), QStringLiteral("a\tb\x01" "c")},
        {"characters above 255 kept", QStringLiteral("Caf\u00e9 \u65e5\u672c"), QStringLiteral("Caf\u00e9 \u65e5\u672c")},
        {"dots kept", QStringLiteral(".."), QStringLiteral("..")},
    };
    for (const TCleanCase& c : cases)
        EXPECT_EQ(TIpodMusicDb::CleanNamePart(c.Text, QStringLiteral(" Name")), c.Expected) << c.Label;
    EXPECT_EQ(TIpodMusicDb::CleanNamePart(QString(), QStringLiteral(" Artist")), QStringLiteral("Unknown Artist"));
    EXPECT_EQ(TIpodMusicDb::CleanNamePart(QString(), QStringLiteral(" Album")), QStringLiteral("Unknown Album"));
}

class TargetNameTest : public TTransferTest {};

TEST_F(TargetNameTest, SevenNamingOptions) {
    AddTrack(QStringLiteral("Title"), QStringLiteral("Artist"), QStringLiteral("Album"), QStringLiteral("A.mp3"), "x");
    AddTrack(QStringLiteral("Song"), QString(), QString(), QStringLiteral("B.mp3"), "x");
    struct TCase {
        int Index;
        int SaveType;
        QString Expected;
    } const cases[] = {
        {0, 0, QStringLiteral("Artist/Album/Title")},
        {0, 1, QStringLiteral("Title")},
        {0, 2, QStringLiteral("Artist - Title")},
        {0, 3, QStringLiteral("Title - Artist")},
        {0, 4, QStringLiteral("Artist - Album - Title")},
        {0, 5, QStringLiteral("Title - Album - Artist")},
        {0, 6, QStringLiteral("Title - Artist - Album")},
        {0, 7, QStringLiteral("Title")},
        {0, 255, QStringLiteral("Title")},
        {1, 0, QStringLiteral("Unknown Artist/Unknown Album/Song")},
        {1, 2, QStringLiteral("Unknown Artist - Song")},
        {1, 5, QStringLiteral("Song - Unknown Album - Unknown Artist")},
    };
    for (const auto& c : cases) {
        QString path;
        Db->TargetName(c.Index, quint8(c.SaveType), path);
        EXPECT_EQ(path, Dest + c.Expected) << "option " << c.SaveType;
    }
    EXPECT_TRUE(QFileInfo(Dest + QStringLiteral("Unknown Artist/Unknown Album")).isDir());
}

TEST_F(TargetNameTest, DotPartsStayInsideTheTarget) {
    AddTrack(QStringLiteral(".."), QStringLiteral(".."), QStringLiteral("."), QStringLiteral("A.mp3"), "x");
    QString path;
    Db->TargetName(0, 0, path);
    EXPECT_EQ(path, Dest + QStringLiteral("__/_/__"));
    Db->TargetName(0, 1, path);
    EXPECT_EQ(path, Dest + QStringLiteral("__"));
    Db->TargetName(0, 2, path);
    EXPECT_EQ(path, Dest + QStringLiteral(".. - .."));
}

TEST_F(TargetNameTest, ArtistFolderThatCannotBeCreatedSkipsTheTrack) {
    WriteAll(Dest + QStringLiteral("Blocked"), "a file where the artist folder would go");
    AddTrack(QStringLiteral("First"), QStringLiteral("Blocked"), QStringLiteral("Album"), QStringLiteral("A.mp3"), "one");
    AddTrack(QStringLiteral("Second"), QStringLiteral("Free"), QStringLiteral("Album"), QStringLiteral("B.mp3"), "two");
    Db->SaveType = 0;
    EXPECT_EQ(Db->CopySelected(), 1);
    EXPECT_EQ(Db->Log, QStringLiteral("\r\n[X] Copy stopped at: First\r\n Program cannot create folder: ") + Dest +
                           QStringLiteral("Blocked/Album"));
    EXPECT_EQ(Db->Tracks[0].CopyState, 0);
    EXPECT_TRUE(Db->Tracks[0].DestPath.isEmpty());
    EXPECT_EQ(Db->Tracks[1].CopyState, 1);
    EXPECT_EQ(ReadAll(Dest + QStringLiteral("Free/Album/Second.mp3")), "two");
}

// Every hostile name, under every naming option, gives a file inside the target with
// the track's bytes, and nothing is written anywhere else.
TEST_F(TargetNameTest, HostileNamesAlwaysGiveAFileInsideTheTarget) {
    const QString lone = QString(QChar(0xD800)) + QStringLiteral("x") + QString(QChar(0xDC00));
    const QString euro = Repeat(QStringLiteral("\u20ac"), 41); // 3 bytes each in UTF-8
    const QString emoji = Repeat(QStringLiteral("\U0001F3B5"), 30);
    const QStringList names = {
        QStringLiteral(".."),
        QStringLiteral("."),
        QStringLiteral("/"),
        QStringLiteral("\\"),
        QStringLiteral("../../../etc/passwd"),
        QStringLiteral("..\\..\\x"),
        Repeat(QStringLiteral("L"), 1000),
        QStringLiteral("\x01\x02\t\r\n\x7f"),
        QString(QChar(0)) + QStringLiteral("nul") + QString(QChar(0)),
        lone,
        euro,
        emoji,
        QStringLiteral("   "),
        QString(),
    };
    const int count = int(names.size());
    for (int saveType = 0; saveType <= 6; ++saveType) {
        SCOPED_TRACE(saveType);
        Db = std::make_unique<TIpodMusicDb>(Device.get());
        Db->DestDir = Dest;
        Db->SaveType = quint8(saveType);
        for (int i = 0; i < count; ++i) {
            // Distinct sizes: same-named tracks are numbered rather than taken as copied.
            const QByteArray bytes(i + 1, char('A' + saveType));
            AddTrack(names[i], names[(i + 3) % count], names[(i + 7) % count],
                     QStringLiteral("T%1_%2.m4a").arg(saveType).arg(i), bytes);
        }
        EXPECT_EQ(Db->CopySelected(), count) << qPrintable(Db->Log);
        const QString canonicalDest = QFileInfo(Dest).canonicalFilePath() + QLatin1Char('/');
        for (int i = 0; i < count; ++i) {
            const TTrackItem& t = Db->Tracks[i];
            ASSERT_EQ(t.CopyState, 1) << i;
            const QFileInfo info(t.DestPath);
            EXPECT_TRUE(info.isFile()) << i;
            EXPECT_TRUE(info.canonicalFilePath().startsWith(canonicalDest)) << i;
            EXPECT_LE(info.fileName().toUtf8().size(), 255) << i;
            EXPECT_TRUE(info.fileName().endsWith(QLatin1String(".m4a"))) << i;
            EXPECT_EQ(ReadAll(t.DestPath), QByteArray(i + 1, char('A' + saveType))) << i;
        }
    }
    for (const QString& f : FilesOutsideDevice())
        EXPECT_TRUE(f == QLatin1String("out") || f.startsWith(QLatin1String("out/"))) << qPrintable(f);
}

TEST_F(TargetNameTest, LongNamesAreCutToFitWithTheirNumberAndExtension) {
    // Option 4 with three 41-character parts of 3-byte characters: 387 bytes before cutting.
    const QString part = Repeat(QStringLiteral("\u20ac"), 41);
    for (int i = 0; i < 3; ++i)
        AddTrack(part, part, part, QStringLiteral("L%1.mp3").arg(i), QByteArray(i + 1, 'x'));
    Db->SaveType = 4;
    ASSERT_EQ(Db->CopySelected(), 3);
    const QString first = QFileInfo(Db->Tracks[0].DestPath).fileName();
    const QString second = QFileInfo(Db->Tracks[1].DestPath).fileName();
    EXPECT_TRUE(first.endsWith(QLatin1String(".mp3")));
    EXPECT_TRUE(second.endsWith(QLatin1String("1.mp3")));
    EXPECT_TRUE(QFileInfo(Db->Tracks[2].DestPath).fileName().endsWith(QLatin1String("2.mp3")));
    EXPECT_LE(first.toUtf8().size(), 255);
    EXPECT_GT(first.toUtf8().size(), 250);
    // A second run finds the same cut names and copies nothing.
    const auto before = TreeSnapshot(Dest);
    EXPECT_EQ(Db->CopySelected(), 3);
    EXPECT_EQ(TreeSnapshot(Dest), before);
}
