#include "MusicCopyThread.h"

#include "iPodMusic.h"

TMusicCopyThread::TMusicCopyThread(bool syncToITunes, TIpodMusicDb* db)
    : SyncToITunes(syncToITunes), FDb(db ? db : MusicDb) {
    if (FDb) {
        FDb->OnProgress = [this](const QString& text) { RelayProgress(text); };
        FDb->Log.clear();
    }
}

TMusicCopyThread::~TMusicCopyThread() {
    // The database may outlive the thread; it must not call into a freed object.
    if (FDb)
        FDb->OnProgress = nullptr;
}

void TMusicCopyThread::Synchronize(const std::function<void()>& call) {
    if (QThread::currentThread() == thread())
        call();
    else
        QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
}

void TMusicCopyThread::RelayProgress(const QString& text) {
    if (isInterruptionRequested() && FDb)
        FDb->Cancelled = true;
    ProgressText = text;
    if (OnProgress)
        Synchronize([this] { OnProgress(ProgressText); });
}

void TMusicCopyThread::run() {
    if (FreeOnTerminate)
        connect(this, &QThread::finished, this, &QObject::deleteLater, Qt::UniqueConnection);
    if (FDb) {
        Copied = FDb->CopySelected();
        FDb->AddLog(QStringLiteral("Copy files: t") + QString::number(FDb->Tracks.CheckedCount) + QStringLiteral(", c") +
                    QString::number(Copied));
    }
    // Stage 1, the addition to the music library, joins here once it exists.
    StatusText = QStringLiteral("Done.");
    Stage = 2;
    if (OnStatus)
        Synchronize([this] { OnStatus(StatusText, Stage); });
}
