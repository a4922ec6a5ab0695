// The transfer thread: synchronised progress, stop requests, the final status, the log.
#include "TransferTestSupport.h"

#include "MusicCopyThread.h"
#include "MusicLog.h"
#include "TestSupport.h"

#include <QPointer>
#include <QThread>

namespace {

// What a receiver saw, and on which thread.
struct TReceived {
    QStringList Progress;
    QStringList Status;
    bool AllOnReceiver = true;
    bool Ended = false;
};

void Attach(TMusicCopyThread& thread, TReceived& seen, QThread* receiver,
            std::function<void(const QString&)> onProgress = nullptr) {
    thread.OnProgress = [&seen, receiver, onProgress](const QString& text) {
        seen.AllOnReceiver = seen.AllOnReceiver && QThread::currentThread() == receiver;
        seen.Progress.append(text);
        if (onProgress)
            onProgress(text);
    };
    thread.OnStatus = [&seen, receiver](const QString& text, quint8 stage) {
        seen.AllOnReceiver = seen.AllOnReceiver && QThread::currentThread() == receiver;
        seen.Status.append(text + QLatin1Char(' ') + QString::number(stage));
        seen.Ended = stage == 2;
    };
}

} // namespace

class TransferThreadTest : public TTransferTest {
protected:
    void AddTracks(int count) {
        for (int i = 0; i < count; ++i)
            AddTrack(QStringLiteral("Track %1").arg(i + 1), {}, {}, QStringLiteral("%1.mp3").arg(i), QByteArray(i + 1, 'x'));
    }
};

TEST_F(TransferThreadTest, ProgressAndStatusRunOnTheReceiverWhileTheWorkerWaits) {
    AddTracks(3);
    Db->Log = QStringLiteral("\r\nleft from loading");
    TReceived seen;
    TMusicCopyThread thread(false);
    thread.FreeOnTerminate = false;
    EXPECT_FALSE(thread.SyncToITunes);
    EXPECT_TRUE(Db->Log.isEmpty());
    int copiedWhenReported = -1;
    // While the receiver runs, the worker has not gone on to copy the track.
    Attach(thread, seen, QThread::currentThread(), [&](const QString& text) {
        if (text.startsWith(QLatin1String("2/")))
            copiedWhenReported = int(QFileInfo::exists(Dest + QStringLiteral("Track 2.mp3")));
    });
    thread.start();
    ASSERT_TRUE(WaitFor([&] { return seen.Ended; }));
    thread.wait();
    EXPECT_TRUE(seen.AllOnReceiver);
    EXPECT_EQ(copiedWhenReported, 0);
    EXPECT_EQ(seen.Progress,
              QStringList({QStringLiteral("1/3  Track 1"), QStringLiteral("2/3  Track 2"), QStringLiteral("3/3  Track 3")}));
    EXPECT_EQ(seen.Status, QStringList({QStringLiteral("Done. 2")}));
    EXPECT_EQ(thread.Copied, 3);
    EXPECT_EQ(thread.ProgressText, QStringLiteral("3/3  Track 3"));
    EXPECT_EQ(Db->Log, QStringLiteral("\r\nCopy files: t3, c3"));
}

TEST_F(TransferThreadTest, AStopRequestEndsAfterTheReportedTrack) {
    AddTracks(5);
    TReceived seen;
    TMusicCopyThread thread(false);
    thread.FreeOnTerminate = false;
    Attach(thread, seen, QThread::currentThread(), [&](const QString& text) {
        if (text.startsWith(QLatin1String("1/")))
            thread.requestInterruption();
    });
    thread.start();
    ASSERT_TRUE(WaitFor([&] { return seen.Ended; }));
    thread.wait();
    // Noticed when track 2 is reported: track 2 is still copied, track 3 is not tried.
    EXPECT_EQ(seen.Progress.size(), 2);
    EXPECT_EQ(thread.Copied, 2);
    EXPECT_EQ(Db->Tracks[1].CopyState, 1);
    EXPECT_EQ(Db->Tracks[2].CopyState, -1);
    EXPECT_EQ(Db->Log, QStringLiteral("\r\nCopy files: t5, c2"));
    EXPECT_EQ(seen.Status, QStringList({QStringLiteral("Done. 2")}));
}

// The receiver may be any thread with an event loop, not only the main one.
TEST_F(TransferThreadTest, WorksWithAReceiverOnAnotherThread) {
    AddTracks(2);
    QThread receiver;
    receiver.start();
    TReceived seen;
    std::atomic<bool> ended{false};
    QPointer<TMusicCopyThread> thread = new TMusicCopyThread(false);
    thread->moveToThread(&receiver);
    Attach(*thread, seen, &receiver);
    thread->OnStatus = [&, inner = thread->OnStatus](const QString& text, quint8 stage) {
        inner(text, stage);
        ended = true;
    };
    thread->start();
    // The thread frees itself on its receiver's thread once it has finished.
    ASSERT_TRUE(WaitFor([&] { return ended.load() && thread.isNull(); }));
    receiver.quit();
    receiver.wait();
    EXPECT_TRUE(seen.AllOnReceiver);
    EXPECT_EQ(seen.Progress.size(), 2);
    EXPECT_EQ(Db->Log, QStringLiteral("\r\nCopy files: t2, c2"));
}

TEST(MusicLog, HeaderEngineLinesAndDone) {
    const struct {
        const char* Label;
        int SaveType;
        bool Mobile;
        QString Engine;
        QString Expected;
    } cases[] = {
        {"disk-mode iPod", 1, false, QStringLiteral("\r\nCopy files: t12, c12"),
         QStringLiteral("Quenlor 2.7, 1\r\n[iPod]\r\n\r\nCopy files: t12, c12\r\nDone.")},
        {"mobile device", 4, true, QStringLiteral("\r\nA: Error 2\r\nCopy files: t2, c1"),
         QStringLiteral("Quenlor 2.7, 4\r\n\r\nA: Error 2\r\nCopy files: t2, c1\r\nDone.")},
        {"no naming option, empty engine log", -1, false, QString(),
         QStringLiteral("Quenlor 2.7, -1\r\n[iPod]\r\n\r\nDone.")},
    };
    TMusicLog log;
    for (const auto& c : cases) {
        log.Text = QStringLiteral("the previous transfer");
        log.Begin(c.SaveType, c.Mobile);
        log.Complete(c.Engine);
        EXPECT_EQ(log.Text, c.Expected) << c.Label;
    }
    EXPECT_EQ(SaveTypeText(0), QStringLiteral("Place files into artist and album folders"));
    EXPECT_EQ(SaveTypeText(4), QStringLiteral("[Artist] - [Album] - [Title]"));
    EXPECT_TRUE(SaveTypeText(7).isEmpty());
}
