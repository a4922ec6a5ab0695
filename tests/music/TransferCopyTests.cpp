// Copying ticked tracks: numbering, same-size skips, failures and the error limit.
#include "TransferTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <thread>

class TransferCopyTest : public TTransferTest {};

TEST_F(TransferCopyTest, SameTitlesAreNumberedAndASecondRunCopiesNothing) {
    AddTrack(QStringLiteral("Song"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("AAAA.mp3"), "first");
    AddTrack(QStringLiteral("Song"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("BBBB.mp3"), "second!");
    AddTrack(QStringLiteral("Song"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("CCCC.mp3"), "third!!!");
    AddTrack(QStringLiteral("Other"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("DDDD"), "no extension");
    ASSERT_EQ(Db->CopySelected(), 4);
    EXPECT_TRUE(Db->Log.isEmpty()) << qPrintable(Db->Log);
    EXPECT_EQ(Db->Tracks[0].DestPath, Dest + QStringLiteral("Song.mp3"));
    EXPECT_EQ(Db->Tracks[1].DestPath, Dest + QStringLiteral("Song1.mp3"));
    EXPECT_EQ(Db->Tracks[2].DestPath, Dest + QStringLiteral("Song2.mp3"));
    EXPECT_EQ(Db->Tracks[3].DestPath, Dest + QStringLiteral("Other"));
    EXPECT_EQ(ReadAll(Dest + QStringLiteral("Song1.mp3")), "second!");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Db->Tracks[i].CopyState, 1);

    const auto before = TreeSnapshot(Dest);
    Db->Tracks[0].DestPath.clear();
    ASSERT_EQ(Db->CopySelected(), 4);
    EXPECT_EQ(TreeSnapshot(Dest), before);
    EXPECT_EQ(Db->Tracks[0].DestPath, Dest + QStringLiteral("Song.mp3"));
    EXPECT_EQ(Db->Tracks[2].DestPath, Dest + QStringLiteral("Song2.mp3"));
}

// Files already in the target are never overwritten: the same size counts as copied,
// another size gets the next free number.
TEST_F(TransferCopyTest, ExistingFilesAreKept) {
    struct TCase {
        const char* Label;
        QByteArray Existing;  // in Song.mp3
        QByteArray Existing1; // in Song1.mp3, empty for none
        QString ExpectedPath;
        bool Written;
    } const cases[] = {
        {"same size", "XXXXX", {}, QStringLiteral("Song.mp3"), false},
        {"other size", "XX", {}, QStringLiteral("Song1.mp3"), true},
        {"numbered one has the size", "XX", "YYYYY", QStringLiteral("Song1.mp3"), false},
        {"both taken", "XX", "YY", QStringLiteral("Song2.mp3"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        QDir(Dest).removeRecursively();
        QDir().mkpath(Dest);
        WriteAll(Dest + QStringLiteral("Song.mp3"), c.Existing);
        if (!c.Existing1.isEmpty())
            WriteAll(Dest + QStringLiteral("Song1.mp3"), c.Existing1);
        Db->Tracks.Clear();
        Db->Tracks.CheckedCount = 0;
        AddTrack(QStringLiteral("Song"), {}, {}, QStringLiteral("S.mp3"), "music");
        ASSERT_EQ(Db->CopySelected(), 1);
        EXPECT_EQ(Db->Tracks[0].DestPath, Dest + c.ExpectedPath);
        EXPECT_EQ(ReadAll(Dest + QStringLiteral("Song.mp3")), c.Existing);
        if (!c.Existing1.isEmpty()) {
            EXPECT_EQ(ReadAll(Dest + QStringLiteral("Song1.mp3")), c.Existing1);
        }
        EXPECT_EQ(ReadAll(Dest + c.ExpectedPath) == "music", c.Written);
    }
}

TEST_F(TransferCopyTest, AFolderOrLinkUnderTheNameIsNotTakenForTheTrack) {
    QDir().mkpath(Dest + QStringLiteral("Song.mp3"));
    QFile::link(Temp.path() + QStringLiteral("/nowhere"), Dest + QStringLiteral("Song1.mp3"));
    AddTrack(QStringLiteral("Song"), {}, {}, QStringLiteral("S.mp3"), "");
    ASSERT_EQ(Db->CopySelected(), 1);
    EXPECT_EQ(Db->Tracks[0].DestPath, Dest + QStringLiteral("Song2.mp3"));
    EXPECT_FALSE(QFileInfo::exists(Temp.path() + QStringLiteral("/nowhere")));
}

// A copy that fails is logged with its code and leaves nothing under the track's name.
TEST_F(TransferCopyTest, FailedCopiesAreLoggedAndLeaveNoFile) {
    AddTrack(QStringLiteral("Vanished"), {}, {}, QStringLiteral("GONE.mp3"), "abc", false);
    AddTrack(QStringLiteral("Folder"), {}, {}, QStringLiteral("DIR.mp3"), "", false);
    QDir().mkpath(DevicePath(QStringLiteral("DIR.mp3")));
    AddTrack(QStringLiteral("Unreadable"), {}, {}, QStringLiteral("EIO.mp3"), "", false);
    QFile::link(QStringLiteral("/proc/self/mem"), DevicePath(QStringLiteral("EIO.mp3")));
    Db->Tracks[2].Size = 4096;
    AddTrack(QStringLiteral("Fine"), {}, {}, QStringLiteral("OK.mp3"), "ok");
    EXPECT_EQ(Db->CopySelected(), 1);
    EXPECT_EQ(Db->Log, QStringLiteral("\r\nVanished: Error 2\r\nFolder: Error 21\r\nUnreadable: Error 5"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Db->Tracks[i].CopyState, 0);
        EXPECT_TRUE(Db->Tracks[i].DestPath.isEmpty());
    }
    EXPECT_EQ(FilesOutsideDevice(), QStringList({QStringLiteral("out"), QStringLiteral("out/Fine.mp3")}));
}

TEST_F(TransferCopyTest, TheThirtySixthErrorEndsTheTransfer) {
    for (int errors : {35, 36}) {
        SCOPED_TRACE(errors);
        QDir(Dest).removeRecursively();
        QDir().mkpath(Dest);
        Db = std::make_unique<TIpodMusicDb>(Device.get());
        Db->DestDir = Dest;
        QString expected;
        for (int i = 0; i < errors; ++i) {
            AddTrack(QStringLiteral("Missing %1").arg(i), {}, {}, QStringLiteral("M%1.mp3").arg(i), "x", false);
            expected += QStringLiteral("\r\nMissing %1: Error 2").arg(i);
        }
        AddTrack(QStringLiteral("After"), {}, {}, QStringLiteral("AFTER.mp3"), "after");
        if (errors > 35)
            expected += QStringLiteral("\r\nToo many errors, transfer abort.");
        const int copied = Db->CopySelected();
        EXPECT_EQ(Db->Log, expected);
        const TTrackItem& after = Db->Tracks[errors];
        if (errors > 35) {
            EXPECT_EQ(copied, 0);
            EXPECT_EQ(after.CopyState, -1);
            EXPECT_FALSE(QFileInfo::exists(Dest + QStringLiteral("After.mp3")));
        } else {
            EXPECT_EQ(copied, 1);
            EXPECT_EQ(after.CopyState, 1);
        }
    }
}

TEST_F(TransferCopyTest, ProgressCountsTickedTracksOnly) {
    AddTrack(QStringLiteral("One"), {}, {}, QStringLiteral("1.mp3"), "1");
    AddTrack(QStringLiteral("Skipped"), {}, {}, QStringLiteral("2.mp3"), "22");
    AddTrack(QStringLiteral("Three"), {}, {}, QStringLiteral("3.mp3"), "333");
    Db->Tracks.UncheckItem(1);
    Db->Tracks[1].DestPath = QStringLiteral("kept");
    QStringList progress;
    Db->OnProgress = [&](const QString& text) { progress.append(text); };
    EXPECT_EQ(Db->CopySelected(), 2);
    EXPECT_EQ(progress, QStringList({QStringLiteral("1/2  One"), QStringLiteral("2/2  Three")}));
    EXPECT_EQ(Db->Tracks[1].CopyState, -1);
    EXPECT_EQ(Db->Tracks[1].DestPath, QStringLiteral("kept"));
    EXPECT_FALSE(QFileInfo::exists(Dest + QStringLiteral("Skipped.mp3")));
}

TEST_F(TransferCopyTest, CancelledStopsBeforeTheNextTrack) {
    for (int i = 0; i < 4; ++i)
        AddTrack(QStringLiteral("T%1").arg(i), {}, {}, QStringLiteral("%1.mp3").arg(i), QByteArray(i + 1, 'x'));
    Db->OnProgress = [&](const QString& text) {
        if (text.startsWith(QLatin1String("2/")))
            Db->Cancelled = true;
    };
    EXPECT_EQ(Db->CopySelected(), 2);
    EXPECT_EQ(Db->Tracks[1].CopyState, 1);
    EXPECT_EQ(Db->Tracks[2].CopyState, -1);
    // The next transfer starts afresh.
    Db->OnProgress = nullptr;
    EXPECT_EQ(Db->CopySelected(), 4);
}

// A copy that fails with the invalid-parameter code is tried once more after the pause.
TEST_F(TransferCopyTest, InvalidParameterIsRetriedOnceAfterThePause) {
    AddTrack(QStringLiteral("Retry"), {}, {}, QStringLiteral("R.mp3"), "", false);
    AddTrack(QStringLiteral("Twice"), {}, {}, QStringLiteral("T.mp3"), "", false);
    const QString retry = DevicePath(QStringLiteral("R.mp3"));
    // Reading this file fails with EINVAL.
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/clear_refs"), retry));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/clear_refs"), DevicePath(QStringLiteral("T.mp3"))));
    Db->Tracks[0].Size = 5;
    Db->RetryPauseMs = 2500;
    std::thread fixer;
    Db->OnProgress = [&](const QString& text) {
        if (!text.endsWith(QLatin1String("Retry")))
            return;
        // During the pause the device file becomes readable.
        fixer = std::thread([retry] {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            QFile::remove(retry);
            WriteAll(retry, "fixed");
        });
    };
    const int copied = Db->CopySelected();
    fixer.join();
    EXPECT_EQ(copied, 1);
    EXPECT_EQ(ReadAll(Dest + QStringLiteral("Retry.mp3")), "fixed");
    EXPECT_EQ(Db->Log, QStringLiteral("\r\nTwice: Error 22"));
    EXPECT_FALSE(QFileInfo::exists(Dest + QStringLiteral("Twice.mp3")));
}
