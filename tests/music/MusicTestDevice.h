#pragma once

#include "FixtureDevice.h"
#include "iPodDev.h"
#include "iPodMusic.h"

#include <QTemporaryDir>
#include <memory>

// A disk-mode device tree in a temporary folder, found by a session as a removable
// drive, with a music database object on it.
class TMusicTestDevice {
public:
    // inMemory: the tree lives on a memory file system when there is one, for tests
    // that rewrite a database thousands of times.
    explicit TMusicTestDevice(bool inMemory = false);
    ~TMusicTestDevice();

    QTemporaryDir Dir;
    TFixtureDevice Tree;
    std::unique_ptr<TIpodDevice> Session;
    std::unique_ptr<TIpodMusicDb> Db;
    // What the session logged when it started (the mobile library's state).
    QString StartLog;

    // Starts the session (the tree must be written first) and loads the database.
    bool Load(bool preferSqlite = true);
    // Loads again with a new database object on the same session.
    bool Reload(bool preferSqlite = true);
    void Reset();
};

// Tracks of every media kind with declared fields.
QList<TFixtureTrack> SampleTracks();
