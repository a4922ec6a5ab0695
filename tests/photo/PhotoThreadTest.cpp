#include "CameraRollWriter.h"
#include "PhotoCopyThread.h"
#include "PhotoDbWriter.h"
#include "PhotoTestDevice.h"
#include "TestSupport.h"
#include "iPodPhoto.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

QByteArray White(const TFixtureFormat& f, int) {
    return Rgb16Fill(f.Width, f.Height, 0xFFFF);
}

struct TThreadRun {
    QObject Receiver;
    QStringList Files;
    bool Done = false;
    bool AllOnReceiverThread = true;
    TPhotoCopyThread* Thread = nullptr;

    void Run(std::function<void(const QString&)> extra = nullptr) {
        TPhotoCopyThread thread(&Receiver);
        Thread = &thread;
        thread.OnFile = [this, extra](const QString& name) {
            AllOnReceiverThread &= QThread::currentThread() == Receiver.thread();
            Files << name;
            if (extra) extra(name);
        };
        thread.OnDone = [this] {
            AllOnReceiverThread &= QThread::currentThread() == Receiver.thread();
            Done = true;
        };
        thread.Resume(false);
        ASSERT_TRUE(WaitFor([this] { return Done; }, 20000));
        thread.wait();
        Error = thread.ErrorText;
        Thread = nullptr;
    }
    QString Error;
};

} // namespace

TEST(PhotoThread, ReportsOnTheReceiversThreadAndLogsBothPhases) {
    TPhotoTestDevice t;
    WritePhotoLibrary(t.Root, {{1024, 320, 240, 153600, 0}, {1009, 42, 30, 2520, 0}}, 3, White);
    WriteCameraRoll(t.Root, {{QStringLiteral("IMG_0001.JPG"), "a", {}, false},
                             {QStringLiteral("IMG_0002.JPG"), "b", {}, false}});
    TIpodPhotoDb db(t.Device.get(), true);
    ASSERT_TRUE(db.LoadPhotos());
    PhotoDb = &db;
    db.Log = QStringLiteral("old");
    db.DestDir = t.Target;
    db.Photos.SelectItem(0);
    db.Photos.SelectItem(2);
    for (int i = 0; i < db.CamPhotos->Count(); ++i)
        db.CamPhotos->SelectItem(i);
    TThreadRun run;
    run.Run();
    EXPECT_TRUE(run.AllOnReceiverThread);
    EXPECT_EQ(run.Files.size(), 4);
    EXPECT_EQ(db.Log, QStringLiteral("\r\nCopy pics: t2, c2\r\nCopy cam pics: t2, c2"));
    PhotoDb = nullptr;
}

TEST(PhotoThread, StopRequestEndsEachPhaseAfterTheItemBeingHandled) {
    TPhotoTestDevice t;
    WritePhotoLibrary(t.Root, {{1024, 320, 240, 153600, 0}, {1009, 42, 30, 2520, 0}}, 4, White);
    WriteCameraRoll(t.Root, {{QStringLiteral("IMG_0001.JPG"), "a", {}, false},
                             {QStringLiteral("IMG_0002.JPG"), "b", {}, false}});
    TIpodPhotoDb db(t.Device.get(), true);
    ASSERT_TRUE(db.LoadPhotos());
    PhotoDb = &db;
    db.DestDir = t.Target;
    for (int i = 0; i < db.Photos.Count(); ++i)
        db.Photos.SelectItem(i);
    for (int i = 0; i < db.CamPhotos->Count(); ++i)
        db.CamPhotos->SelectItem(i);
    TThreadRun run;
    // The stop arrives while the first photo is reported: the photo after it is the one
    // being handled when the engine notices.
    run.Run([&](const QString&) { run.Thread->requestInterruption(); });
    EXPECT_EQ(db.Log, QStringLiteral("\r\nCopy pics: t4, c2\r\nCopy cam pics: t2, c1"));
    EXPECT_EQ(run.Files.size(), 3);
    PhotoDb = nullptr;
}

TEST(PhotoThread, NoPhotosSelectedStillLogsThePhotoLine) {
    TPhotoTestDevice t;
    WriteCameraRoll(t.Root, {{QStringLiteral("IMG_0001.JPG"), "a", {}, false}});
    TIpodPhotoDb db(t.Device.get(), true);
    ASSERT_TRUE(db.LoadPhotos());
    PhotoDb = &db;
    db.DestDir = t.Target;
    db.CamPhotos->SelectItem(0);
    TThreadRun run;
    run.Run();
    EXPECT_EQ(db.Log, QStringLiteral("\r\nCopy pics: t0, c0\r\nCopy cam pics: t1, c1"));
    PhotoDb = nullptr;
}

TEST(PhotoThread, PictureErrorEndsTheTransferWithoutSummaryButWithDone) {
    TPhotoTestDevice t;
    // An unknown format whose stated rows need more bytes than its pictures hold.
    WritePhotoLibrary(t.Root, {{1777, 300, 300, 100, 0}, {1009, 42, 30, 2520, 0}}, 2, White);
    TIpodPhotoDb db(t.Device.get(), false);
    ASSERT_TRUE(db.LoadPhotos());
    PhotoDb = &db;
    db.DestDir = t.Target;
    db.Photos.SelectItem(0);
    TThreadRun run;
    run.Run();
    EXPECT_TRUE(run.Done);
    EXPECT_FALSE(run.Error.isEmpty());
    EXPECT_EQ(db.Log, QString());
    EXPECT_TRUE(QDir(t.Target).isEmpty());
    PhotoDb = nullptr;
}
