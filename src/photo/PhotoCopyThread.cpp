#include "PhotoCopyThread.h"

#include "QuenlorError.h"
#include "iPodDev.h"
#include "iPodPhoto.h"

#include <QMetaObject>

TPhotoCopyThread::TPhotoCopyThread(QObject* receiver) : FReceiver(receiver) {
    if (PhotoDb) {
        PhotoDb->OnFile = [this](const QString& name) { FileDone(name); };
        PhotoDb->Log.clear();
    }
}

TPhotoCopyThread::~TPhotoCopyThread() {
    wait();
    if (PhotoDb) PhotoDb->OnFile = nullptr;
}

void TPhotoCopyThread::Resume(bool freeOnEnd) {
    if (freeOnEnd) connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

void TPhotoCopyThread::Synchronize(const std::function<void()>& call) {
    QObject* receiver = FReceiver.data();
    if (!receiver || receiver->thread() == QThread::currentThread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(receiver, call, Qt::BlockingQueuedConnection);
}

void TPhotoCopyThread::FileDone(const QString& name) {
    if (isInterruptionRequested() && PhotoDb) PhotoDb->Cancelled = true;
    FileName = name;
    if (OnFile) Synchronize([this] { OnFile(FileName); });
}

void TPhotoCopyThread::run() {
    try {
        if (PhotoDb) {
            Count = PhotoDb->CopySelected();
            PhotoCount = Count;
            PhotoDb->AddLog(QStringLiteral("Copy pics: t") + QString::number(PhotoDb->Photos.SelCount) +
                            QStringLiteral(", c") + QString::number(Count));
            if (PhotoDb->CamPhotos && PhotoDb->CamPhotos->SelCount > 0) {
                Count = PhotoDb->CopyCameraPhotos();
                CameraCount = Count;
                PhotoDb->AddLog(QStringLiteral("Copy cam pics: t") +
                                QString::number(PhotoDb->CamPhotos->SelCount) + QStringLiteral(", c") +
                                QString::number(Count));
            }
        }
    } catch (const EQuenlorError& e) {
        ErrorText = e.Message();
    } catch (const std::exception& e) {
        ErrorText = QString::fromUtf8(e.what());
    }
    // A decoder that raised left its thumbnail file open.
    if (!ErrorText.isEmpty() && PhotoDb && PhotoDb->Device) PhotoDb->Device->CloseThumbFile();
    if (OnDone) Synchronize([this] { OnDone(); });
}
