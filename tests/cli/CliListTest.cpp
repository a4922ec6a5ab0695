#include "FixtureDevice.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TProgramRun RunCli(const QStringList& args) { return RunProgram(QStringLiteral(QUENLOR_CLI), args); }

TITunesDbContent Content() {
    TITunesDbContent c;
    c.Tracks = {{7, QStringLiteral("Song \"One\""), QStringLiteral("Ann"), QStringLiteral("Alb"), QStringLiteral("Pop"),
                 QStringLiteral(":iPod_Control:Music:F00:A.mp3"), 4200, 61000, 9, 60},
                {4000000000u, QString::fromUtf8("B\xC3\xA9la"), QString::fromUtf8("Tab\there \x01 back\\slash \xF0\x9F\x98\x80"), QString(), QString(),
                 QStringLiteral(":iPod_Control:Music:F01:B.pdf"), 1000, 0, 0, 0}};
    c.Playlists = {{QStringLiteral("Test iPod"), true, false, {7, 4000000000u}, 0},
                   {QStringLiteral("Mix"), true, true, {4000000000u}, 0}};
    return c;
}

TEST(CliList, JsonDescribesTheDeviceAndLeavesItUnchanged) {
    QTemporaryDir dir;
    TFixtureDevice device(dir.filePath(QStringLiteral("ipod")));
    device.WriteITunesDb(Content(), true);
    device.WriteMediaFor(Content().Tracks);
    const auto before = TreeSnapshot(device.Root);
    const TProgramRun r = RunCli({QStringLiteral("list"), QStringLiteral("--device"), device.Root, QStringLiteral("--json")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(r.Out, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.Out.toStdString();
    EXPECT_EQ(o[QStringLiteral("device")][QStringLiteral("root")].toString(), device.Root);
    EXPECT_EQ(o[QStringLiteral("device")][QStringLiteral("mobile")].toBool(true), false);
    EXPECT_EQ(o[QStringLiteral("device")][QStringLiteral("name")].toString(), QStringLiteral("Test iPod"));
    EXPECT_EQ(o[QStringLiteral("source")].toString(), QStringLiteral("iTunesCDB"));
    const QJsonArray tracks = o[QStringLiteral("tracks")].toArray();
    ASSERT_EQ(tracks.size(), 2);
    const QJsonObject t0 = tracks[0].toObject();
    EXPECT_EQ(t0[QStringLiteral("index")].toInt(), 0);
    EXPECT_EQ(t0[QStringLiteral("id")].toInteger(), 7);
    EXPECT_EQ(t0[QStringLiteral("title")].toString(), QStringLiteral("Song \"One\""));
    EXPECT_EQ(t0[QStringLiteral("rating")].toInt(), 60);
    EXPECT_EQ(t0[QStringLiteral("playCount")].toInt(), 9);
    EXPECT_EQ(t0[QStringLiteral("size")].toInt(), 4200);
    EXPECT_EQ(t0[QStringLiteral("durationMs")].toInt(), 61000);
    EXPECT_EQ(t0[QStringLiteral("durationText")].toString(), QStringLiteral("1:01"));
    EXPECT_EQ(t0[QStringLiteral("sizeText")].toString(), QStringLiteral("4.10 KB"));
    EXPECT_EQ(t0[QStringLiteral("location")].toString(), QStringLiteral(":iPod_Control:Music:F00:A.mp3"));
    EXPECT_EQ(t0[QStringLiteral("mediaKind")].toInt(), 0);
    EXPECT_TRUE(t0[QStringLiteral("checked")].toBool());
    const QJsonObject t1 = tracks[1].toObject();
    EXPECT_EQ(t1[QStringLiteral("id")].toInteger(), 4000000000LL);
    EXPECT_EQ(t1[QStringLiteral("title")].toString(), QString::fromUtf8("B\xC3\xA9la"));
    // Control characters, backslashes and characters beyond the BMP survive the trip.
    EXPECT_EQ(t1[QStringLiteral("artist")].toString(), QString::fromUtf8("Tab\there \x01 back\\slash \xF0\x9F\x98\x80"));
    EXPECT_EQ(t1[QStringLiteral("mediaKind")].toInt(), 2);
    EXPECT_FALSE(t1[QStringLiteral("checked")].toBool(true));
    const QJsonArray playlists = o[QStringLiteral("playlists")].toArray();
    ASSERT_EQ(playlists.size(), 2);
    EXPECT_EQ(playlists[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Test iPod"));
    EXPECT_TRUE(playlists[1].toObject()[QStringLiteral("smart")].toBool());
    EXPECT_EQ(playlists[1].toObject()[QStringLiteral("trackIds")].toArray()[0].toInteger(), 4000000000LL);
    const QJsonObject totals = o[QStringLiteral("totals")].toObject();
    EXPECT_EQ(totals[QStringLiteral("tracks")].toInt(), 2);
    EXPECT_EQ(totals[QStringLiteral("totalBytes")].toInt(), 5200);
    EXPECT_EQ(totals[QStringLiteral("checkedCount")].toInt(), 1);
    EXPECT_EQ(totals[QStringLiteral("checkedBytes")].toInt(), 4200);
    EXPECT_TRUE(o[QStringLiteral("log")].isString());
    EXPECT_EQ(TreeSnapshot(device.Root), before);

    const TProgramRun text = RunCli({QStringLiteral("list"), QStringLiteral("--device"), device.Root});
    ASSERT_EQ(text.ExitCode, 0);
    EXPECT_TRUE(text.Out.contains("Mix [smart] (1 tracks)"));
    EXPECT_TRUE(text.Out.contains("Books          1 tracks, 0.98 KB"));
}

TEST(CliList, ErrorsAndExitCodes) {
    QTemporaryDir dir;
    const TProgramRun none = RunCli({QStringLiteral("list"), QStringLiteral("--device"), dir.path()});
    EXPECT_EQ(none.ExitCode, 3);
    EXPECT_TRUE(none.Err.contains("No iPod found")) << none.Err.toStdString();

    TFixtureDevice device(dir.filePath(QStringLiteral("ipod")));
    WriteAll(device.ITunesFolder() + QStringLiteral("/iTunesDB"), QByteArray("mhxx and nothing else"));
    const TProgramRun damaged = RunCli({QStringLiteral("list"), QStringLiteral("--device"), device.Root});
    EXPECT_EQ(damaged.ExitCode, 3);
    EXPECT_TRUE(damaged.Err.contains("MHDB incorrect")) << damaged.Err.toStdString();

    WriteAll(device.ITunesFolder() + QStringLiteral("/iTunesCDB"), WriteITunesDb(Content()));
    const TProgramRun notZlib = RunCli({QStringLiteral("list"), QStringLiteral("--device"), device.Root});
    EXPECT_EQ(notZlib.ExitCode, 3);
    EXPECT_TRUE(notZlib.Err.contains("damaged")) << notZlib.Err.toStdString();

    EXPECT_EQ(RunCli({QStringLiteral("list"), QStringLiteral("--device")}).ExitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("list"), QStringLiteral("extra")}).ExitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("frobnicate")}).ExitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("list"), QStringLiteral("--help")}).ExitCode, 0);
}

} // namespace
