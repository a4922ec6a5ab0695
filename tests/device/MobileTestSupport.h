#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <mutex>
#include <vector>

// Drives the fake mobile device library: the folder it serves as the device's media
// root, its switches (environment variables it reads) and its events. One at a time.
class TFakeDevice {
public:
    TFakeDevice();
    ~TFakeDevice();

    QString Root() const { return FRoot; }
    QString Work() const { return FDir.path() + QStringLiteral("/work"); }
    void Set(const char* name, const QByteArray& value);
    void Unset(const char* name);
    // Writes a file below the media root.
    void AddFile(const QString& relative, const QByteArray& bytes) const;
    // 1 added, 2 removed, 3 paired.
    void PostEvent(int event) const;
    long Counter(const char* name) const;
    // Waits until the fake has delivered this many events in all.
    bool WaitDelivered(long count, int milliseconds = 5000) const;

private:
    QTemporaryDir FDir;
    QString FRoot;
    QList<QByteArray> FSet;
};

// Events a bridge reported, recorded from the library's thread.
class TEventLog {
public:
    void Add(bool usable) {
        std::lock_guard lock(FLock);
        FEvents.push_back(usable);
    }
    std::vector<bool> Events() const {
        std::lock_guard lock(FLock);
        return FEvents;
    }
    size_t Count() const { return Events().size(); }

private:
    mutable std::mutex FLock;
    std::vector<bool> FEvents;
};

// Bytes that differ from position to position, so a misplaced chunk shows.
QByteArray Pattern(qint64 size, int seed = 1);
