#pragma once

#include <QString>
#include <QThread>
#include <functional>

class TIpodMusicDb;

// Runs the music transfer of one database on a worker thread. Progress and the final
// status reach the receiver through synchronised calls: they run on the thread this
// object belongs to (the one that created it, unless moved) and the worker waits until
// they have run. That thread must keep an event loop running until the final status
// (stage 2) has arrived; waiting for the worker with wait() before then would block both.
// A stop request (requestInterruption) is noticed when the next track is reported:
// that track is still copied and the transfer ends before the following one.
class TMusicCopyThread : public QThread {
    Q_OBJECT
public:
    using TProgressEvent = std::function<void(const QString& text)>;
    using TStatusEvent = std::function<void(const QString& text, quint8 stage)>;

    // Attaches the thread to db (the current MusicDb when none is given) and empties
    // its log. The thread starts with start().
    explicit TMusicCopyThread(bool syncToITunes, TIpodMusicDb* db = nullptr);
    ~TMusicCopyThread() override;

    // Whether the copied tracks are to be added to the music library afterwards.
    // The library hand-over is not part of this build: the flag is kept for the
    // windows' setting, and no addition is made.
    bool SyncToITunes = false;
    int Copied = 0;
    quint8 Stage = 0;
    QString ProgressText;
    QString StatusText;
    TProgressEvent OnProgress;
    TStatusEvent OnStatus;
    // The thread deletes itself (deleteLater on its own thread) once it has finished.
    bool FreeOnTerminate = true;

    // Called by CopySelected on the worker thread.
    void RelayProgress(const QString& text);

protected:
    void run() override;

private:
    // Runs call on this object's thread and waits for it.
    void Synchronize(const std::function<void()>& call);
    TIpodMusicDb* FDb;
};
