// quenlor-cli copy: the selection options, and the command run as a process on a
// device tree that holds a real iTunesDB (linked from the shared real data, not copied).
#include "CliCopy.h"

#include "TestSupport.h"
#include "iPodMusic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

TEST(CliCopySelection, KindsPlaylistAndSearchTickTheirIntersection) {
    TIpodMusicDb db(nullptr);
    struct TSpec {
        const char* Title;
        const char* Artist;
        quint8 Kind;
        qint64 Id;
    } const specs[] = {{"Intro", "Band", MediaMusic, 10},
                       {"Outro", "Band", MediaMusic, 11},
                       {"Film", "Studio", MediaMovies, 12},
                       {"Novel", "Writer", MediaBooks, 13},
                       {"Ring", "Band", MediaRingtones, 14}};
    for (const TSpec& s : specs) {
        TTrackItem& t = db.Tracks.Add();
        t.Title = QString::fromUtf8(s.Title);
        t.Artist = QString::fromUtf8(s.Artist);
        t.MediaKind = s.Kind;
        t.Id = s.Id;
        t.Size = 100;
    }
    db.Tracks.CheckItem(0);
    db.Playlists.Add().Name = QStringLiteral("Device");
    TPlayListItem& p = db.Playlists.Add();
    p.Name = QStringLiteral("Road Trip");
    for (qint64 id : {11, 12, 14, 999})
        p.AddTrackId(id);

    auto ticked = [&] {
        QStringList titles;
        for (int i = 0; i < db.Tracks.Count(); ++i)
            if (db.Tracks[i].Checked)
                titles.append(db.Tracks[i].Title);
        return titles;
    };
    const struct {
        const char* Kinds;
        const char* Playlist;
        const char* Search;
        QStringList Expected;
    } cases[] = {
        {"", "", "", {QStringLiteral("Intro")}},
        {"music", "", "", {QStringLiteral("Intro"), QStringLiteral("Outro")}},
        {"movies,books", "", "", {QStringLiteral("Film"), QStringLiteral("Novel")}},
        {"", "road trip", "", {QStringLiteral("Outro"), QStringLiteral("Film"), QStringLiteral("Ring")}},
        {"music,ringtones", "Road Trip", "", {QStringLiteral("Outro"), QStringLiteral("Ring")}},
        {"", "", "band", {QStringLiteral("Intro"), QStringLiteral("Outro"), QStringLiteral("Ring")}},
        {"ringtones", "", "tro", {}},
    };
    for (const auto& c : cases) {
        TTrackSelection selection;
        ASSERT_TRUE(QString::fromUtf8(c.Kinds).isEmpty() || ParseKinds(QString::fromUtf8(c.Kinds), selection.Kinds));
        selection.Playlist = QString::fromUtf8(c.Playlist);
        selection.Search = QString::fromUtf8(c.Search);
        QString error;
        ASSERT_TRUE(ApplySelection(db, selection, error)) << qPrintable(error);
        EXPECT_EQ(ticked(), c.Expected) << c.Kinds << "|" << c.Playlist << "|" << c.Search;
        EXPECT_EQ(db.Tracks.CheckedCount, c.Expected.size());
        EXPECT_EQ(db.Tracks.CheckedBytes, 100 * c.Expected.size());
    }
    TTrackSelection master;
    master.Playlist = QStringLiteral("Device");
    QString error;
    EXPECT_FALSE(ApplySelection(db, master, error));
    EXPECT_EQ(error, QStringLiteral("No playlist named \"Device\" on the device."));
    QSet<int> kinds;
    EXPECT_FALSE(ParseKinds(QStringLiteral("music,podcasts"), kinds));
}

namespace {

TProgramRun RunCli(const QStringList& args) { return RunProgram(QStringLiteral(QUENLOR_CLI), args); }

// A disk-mode device tree whose iTunesDB is a link to a real one, with a file at every
// track's location: its location's text, padded to the track's size when fullSize.
class CliCopyRun : public ::testing::Test {
protected:
    bool MakeDevice(const QString& database, bool fullSize = false) {
        const QString real = RealData(database);
        if (real.isEmpty())
            return false;
        Device = Temp.path() + QStringLiteral("/ipod");
        QDir().mkpath(Device + QStringLiteral("/iPod_Control/iTunes"));
        QFile::link(real, Device + QStringLiteral("/iPod_Control/iTunes/iTunesDB"));
        const TProgramRun list = RunCli({QStringLiteral("list"), QStringLiteral("--device"), Device, QStringLiteral("--json")});
        const QJsonArray tracks = QJsonDocument::fromJson(list.Out).object().value(QStringLiteral("tracks")).toArray();
        for (const QJsonValue& t : tracks) {
            const QString location = t.toObject().value(QStringLiteral("location")).toString();
            QString relative = location;
            relative.replace(QLatin1Char(':'), QLatin1Char('/'));
            QByteArray bytes = location.toUtf8();
            if (fullSize)
                bytes.resize(t.toObject().value(QStringLiteral("size")).toInteger(), 'z');
            WriteAll(Device + relative, bytes);
            Locations.append(location);
        }
        return !Locations.isEmpty();
    }

    QTemporaryDir Temp;
    QString Device;
    QStringList Locations;
};

} // namespace

TEST_F(CliCopyRun, CopiesOnceThenFindsEverythingCopied) {
    if (!MakeDevice(QStringLiteral("itunesdb/v4f-japanese-2-tracks.iTunesDB"), true))
        GTEST_SKIP() << "real data not available";
    const QString out = Temp.path() + QStringLiteral("/out");
    const QStringList args = {QStringLiteral("copy"), QStringLiteral("--device"), Device, QStringLiteral("--to"), out,
                              QStringLiteral("--naming"), QStringLiteral("0"), QStringLiteral("--json")};
    const TProgramRun first = RunCli(args);
    ASSERT_EQ(first.ExitCode, 0) << first.Err.constData();
    const QJsonObject result = QJsonDocument::fromJson(first.Out).object();
    EXPECT_EQ(result.value(QStringLiteral("copied")).toInt(), 2);
    EXPECT_EQ(result.value(QStringLiteral("checked")).toInt(), 2);
    EXPECT_EQ(result.value(QStringLiteral("log")).toString(),
              QStringLiteral("Quenlor 2.7, 0\r\n[iPod]\r\n\r\nCopy files: t2, c2\r\nDone."));
    const QJsonArray tracks = result.value(QStringLiteral("tracks")).toArray();
    ASSERT_EQ(tracks.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject t = tracks[i].toObject();
        EXPECT_EQ(t.value(QStringLiteral("index")).toInt(), i);
        EXPECT_EQ(t.value(QStringLiteral("copyState")).toInt(), 1);
        const QString dest = t.value(QStringLiteral("destPath")).toString();
        EXPECT_TRUE(dest.startsWith(out + QStringLiteral("/supercell/Today Is A Beautiful Day/")));
        EXPECT_TRUE(ReadAll(dest).startsWith(Locations[i].toUtf8()));
    }
    const auto before = TreeSnapshot(out);
    const TProgramRun second = RunCli(args);
    EXPECT_EQ(second.ExitCode, 0);
    EXPECT_EQ(QJsonDocument::fromJson(second.Out).object().value(QStringLiteral("copied")).toInt(), 2);
    EXPECT_EQ(TreeSnapshot(out), before);

    // A device file gone: the log names it, the exit code says so.
    QString missing = Locations[1];
    missing.replace(QLatin1Char(':'), QLatin1Char('/'));
    QFile::remove(Device + missing);
    const TProgramRun third =
        RunCli({QStringLiteral("copy"), QStringLiteral("--device"), Device, QStringLiteral("--to"), out + QStringLiteral("2")});
    EXPECT_EQ(third.ExitCode, 1);
    EXPECT_EQ(third.Out, QByteArray("Quenlor 2.7, 1\n[iPod]\n\n"
                                    "\xe5\x90\x9b\xe3\x81\xae\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\xaa\xe3\x81\x84"
                                    "\xe7\x89\xa9\xe8\xaa\x9e: Error 2\nCopy files: t2, c1\nDone.\n"));
}

TEST_F(CliCopyRun, UsageDeviceAndTargetErrors) {
    if (!MakeDevice(QStringLiteral("itunesdb/v4f-japanese-2-tracks.iTunesDB")))
        GTEST_SKIP() << "real data not available";
    const QString out = Temp.path() + QStringLiteral("/out");
    const struct {
        QStringList Args;
        int Exit;
    } cases[] = {
        {{QStringLiteral("--device"), Device}, 2},
        {{QStringLiteral("--device"), Device, QStringLiteral("--to"), out, QStringLiteral("--naming"), QStringLiteral("7")}, 2},
        {{QStringLiteral("--device"), Device, QStringLiteral("--to"), out, QStringLiteral("--kind"), QStringLiteral("x")}, 2},
        {{QStringLiteral("--device"), Device, QStringLiteral("--to"), out, QStringLiteral("--playlist"), QStringLiteral("none")}, 2},
        {{QStringLiteral("--device"), Device, QStringLiteral("--to"), out, QStringLiteral("--bogus")}, 2},
        {{QStringLiteral("--device"), Device, QStringLiteral("--to"), Device + QStringLiteral("/music")}, 2},
        {{QStringLiteral("--device"), Temp.path() + QStringLiteral("/none"), QStringLiteral("--to"), out}, 3},
    };
    for (const auto& c : cases) {
        const TProgramRun run = RunCli(QStringList{QStringLiteral("copy")} + c.Args);
        EXPECT_EQ(run.ExitCode, c.Exit) << qPrintable(c.Args.join(QLatin1Char(' '))) << run.Err.constData();
    }
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_FALSE(QFileInfo::exists(Device + QStringLiteral("/music")));
}

// Ctrl+C acts as the Cancel button: the current track finishes, the rest is not tried.
TEST_F(CliCopyRun, InterruptStopsAfterTheCurrentTrack) {
    if (!MakeDevice(QStringLiteral("itunesdb/v73-1799-tracks.iTunesDB")))
        GTEST_SKIP() << "real data not available";
    const QString out = Temp.path() + QStringLiteral("/out");
    QProcess process;
    // A one-page pipe for the progress lines: unread, it fills after a few tracks and the
    // tool waits in the middle of the copy. That is when Ctrl+C comes, however fast the
    // machine copies.
    process.setChildProcessModifier([] { ::fcntl(STDERR_FILENO, F_SETPIPE_SZ, 4096); });
    process.start(QStringLiteral(QUENLOR_CLI),
                  {QStringLiteral("copy"), QStringLiteral("--device"), Device, QStringLiteral("--to"), out,
                   QStringLiteral("--json")});
    ASSERT_TRUE(process.waitForStarted());
    const QString proc = QStringLiteral("/proc/%1/").arg(process.processId());
    const auto waitingMidCopy = [&] {
        return ReadAll(proc + QStringLiteral("wchan")).contains("pipe_write") &&
               QDir(proc + QStringLiteral("task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() > 1;
    };
    for (int i = 0; i < 3000 && !waitingMidCopy(); ++i)
        QThread::msleep(10);
    ASSERT_TRUE(waitingMidCopy());
    ASSERT_EQ(::kill(pid_t(process.processId()), SIGINT), 0);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains("Stopping after the current track"));
    const QJsonObject result = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    const int copied = result.value(QStringLiteral("copied")).toInt();
    EXPECT_GE(copied, 1);
    EXPECT_LT(copied, Locations.size());
    EXPECT_TRUE(result.value(QStringLiteral("log")).toString().endsWith(QStringLiteral("\r\nDone.")));
    int attempted = 0;
    for (const QJsonValue& t : result.value(QStringLiteral("tracks")).toArray())
        attempted += t.toObject().value(QStringLiteral("copyState")).toInt() != -1;
    EXPECT_EQ(attempted, copied);
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), copied);
}
