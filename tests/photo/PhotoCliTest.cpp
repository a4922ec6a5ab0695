// The command-line tool on the demo device's photos.
#include "DemoPhotos.h"
#include "PhotoDbWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace {

struct TCliRun {
    int Code = -1;
    QByteArray Out, Err;
};

TCliRun RunCli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QUENLOR_CLI), args);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

TEST(PhotoCli, ListsAndExportsTheDemoDevicePhotos) {
    QTemporaryDir dir;
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KEEPDEMO"));
    const QString root = dir.path() + QStringLiteral("/ipod");
    QDir().mkpath(root + QStringLiteral("/iPod_Control/iTunes"));
    WriteDemoPhotos(root);

    const TCliRun list =
        RunCli({QStringLiteral("photos"), QStringLiteral("--device"), root, QStringLiteral("--json")});
    ASSERT_EQ(list.Code, 0) << list.Err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(list.Out).object();
    EXPECT_EQ(o[QStringLiteral("source")].toString(), QStringLiteral("Photo Database"));
    EXPECT_FALSE(o[QStringLiteral("copyByPath")].toBool());
    EXPECT_EQ(o[QStringLiteral("copyFormat")].toObject()[QStringLiteral("formatId")].toInt(), 1024);
    EXPECT_EQ(o[QStringLiteral("copyFormat")].toObject()[QStringLiteral("fileCount")].toInt(), 2);
    EXPECT_EQ(o[QStringLiteral("thumbFormat")].toObject()[QStringLiteral("formatId")].toInt(), 1036);
    EXPECT_EQ(o[QStringLiteral("photos")].toArray().size(), 8);
    EXPECT_EQ(o[QStringLiteral("photos")].toArray()[6].toObject()[QStringLiteral("fileIndex")].toInt(), 2);
    EXPECT_EQ(o[QStringLiteral("albums")].toArray()[1].toObject()[QStringLiteral("name")].toString(),
              QStringLiteral("Holidays"));
    EXPECT_EQ(o[QStringLiteral("camera")].toObject()[QStringLiteral("files")].toArray().size(), 4);

    const QString target = dir.path() + QStringLiteral("/out");
    const QStringList copy = {
        QStringLiteral("copy-photos"), QStringLiteral("--device"), root, QStringLiteral("--to"), target,
        QStringLiteral("--camera")};
    const TCliRun first = RunCli(copy);
    ASSERT_EQ(first.Code, 0) << first.Err.toStdString() << first.Out.toStdString();
    EXPECT_TRUE(first.Out.startsWith("Quenlor 2.7\n[iPod]\n\nCopy pics: t8, c8\nCopy cam pics: t4, c4"))
        << first.Out.toStdString();
    EXPECT_FALSE(first.Out.contains("Done."));
    // 8 exported photos, 4 camera-roll files and the JPEG copy of the HEIC one.
    EXPECT_EQ(QDir(target).entryList(QDir::Files).size(), 13);
    EXPECT_TRUE(QFileInfo::exists(target + QStringLiteral("/IMG_0003.HEIC.jpg")));
    const auto before = TreeSnapshot(target);
    const TCliRun again = RunCli(copy);
    EXPECT_EQ(again.Code, 0);
    EXPECT_TRUE(again.Out.contains("Copy pics: t8, c0\nCopy cam pics: t4, c0"));
    EXPECT_EQ(TreeSnapshot(target), before);

    const TCliRun album =
        RunCli({QStringLiteral("copy-photos"), QStringLiteral("--device"), root, QStringLiteral("--to"),
                dir.path() + QStringLiteral("/album"), QStringLiteral("--album"), QStringLiteral("Holidays"),
                QStringLiteral("--json")});
    EXPECT_EQ(album.Code, 0);
    const QJsonObject a = QJsonDocument::fromJson(album.Out).object();
    EXPECT_EQ(a[QStringLiteral("photos")].toObject()[QStringLiteral("copied")].toInt(), 3);
    EXPECT_EQ(QDir(dir.path() + QStringLiteral("/album")).entryList(QDir::Files),
              (QStringList{QStringLiteral("101.jpg"), QStringLiteral("103.jpg"), QStringLiteral("105.jpg")}));

    EXPECT_EQ(RunCli({QStringLiteral("copy-photos"), QStringLiteral("--device"), root}).Code, 2);
    EXPECT_EQ(RunCli({QStringLiteral("copy-photos"), QStringLiteral("--device"), root, QStringLiteral("--to"),
                      target, QStringLiteral("--album"), QStringLiteral("Nope")})
                  .Code,
              2);
    EXPECT_EQ(
        RunCli({QStringLiteral("photos"), QStringLiteral("--device"), dir.path() + QStringLiteral("/none")})
            .Code,
        3);
}

namespace {
quint8 Luma(int row, int col) {
    return quint8(16 + (row * 3 + col) % 200);
}
QByteArray Frame(const TFixtureFormat& f, int) {
    return f.FormatId == 1019 ? UyvyFrame(Luma, 110, 150) : QByteArray();
}
} // namespace

TEST(PhotoCli, InterruptLetsTheCurrentPhotoFinishAndAttemptsNoMore) {
    QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                          ? QStringLiteral("/dev/shm/quenlor-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/quenlor-XXXXXX"));
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KEEPDEMO"));
    const QString root = dir.path() + QStringLiteral("/ipod");
    QDir().mkpath(root + QStringLiteral("/iPod_Control/iTunes"));
    WritePhotoLibrary(root, {{1019, 720, 480, 691200, 0}, {1009, 42, 30, 2520, 0}}, 150, Frame);
    const QString target = dir.path() + QStringLiteral("/out");
    QProcess p;
    p.start(QStringLiteral(QUENLOR_CLI), {QStringLiteral("copy-photos"), QStringLiteral("--device"), root,
                                          QStringLiteral("--to"), target});
    ASSERT_TRUE(p.waitForStarted());
    p.setReadChannel(QProcess::StandardError);
    // Progress goes to standard error, one line per photo when it is not a terminal.
    QByteArray err;
    while (!err.contains("1/150") && p.state() == QProcess::Running) {
        p.waitForReadyRead(5000);
        err += p.readAllStandardError();
    }
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(60000));
    const QByteArray out = p.readAllStandardOutput();
    err += p.readAllStandardError();
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("Cancelling ..."));
    const int written = int(QDir(target).entryList(QDir::Files).size());
    EXPECT_GE(written, 1);
    EXPECT_LT(written, 150);
    EXPECT_TRUE(out.contains(QByteArray("Copy pics: t150, c") + QByteArray::number(written)))
        << out.toStdString();
    // Nothing half-written is left behind.
    for (const QString& name : QDir(target).entryList(QDir::Files | QDir::Hidden))
        EXPECT_TRUE(name.endsWith(QStringLiteral(".jpg")) && !name.startsWith(QLatin1Char('.')))
            << name.toStdString();
}
