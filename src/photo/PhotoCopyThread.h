#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <functional>

// The photo transfer: copies the selected photos of PhotoDb, then the selected
// camera-roll files. OnFile and OnDone run on the receiver's thread through
// synchronised calls while the worker waits; the receiver's thread must run an event
// loop (the photo window, or the command-line tool's main loop). requestInterruption
// is the stop request; it takes effect when the next item is reported.
class TPhotoCopyThread : public QThread {
    Q_OBJECT
public:
    // receiver: the object whose thread serves OnFile and OnDone. Installs FileDone as
    // PhotoDb->OnFile and empties PhotoDb->Log.
    explicit TPhotoCopyThread(QObject* receiver);
    ~TPhotoCopyThread() override;

    int Count = 0;
    // Files written by the photo phase and by the camera phase.
    int PhotoCount = 0;
    int CameraCount = 0;
    QString FileName;
    std::function<void(const QString& name)> OnFile;
    // Called once when the transfer has ended, however it ended.
    std::function<void()> OnDone;
    // The message of an exception that ended the transfer early; empty otherwise.
    QString ErrorText;

    // Starts the transfer; with freeOnEnd the thread object deletes itself when done.
    void Resume(bool freeOnEnd = true);

protected:
    void run() override;

private:
    void FileDone(const QString& name);
    void Synchronize(const std::function<void()>& call);
    QPointer<QObject> FReceiver;
};
