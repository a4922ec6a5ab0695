#pragma once

#include "CliCommon.h"

#include <QSet>

class TIpodMusicDb;

// quenlor-cli copy: the music transfer into a folder.
int RunCopy(const TCliOptions& options);

// Which tracks a copy takes. Empty fields select everything; with none set, the
// database's own ticks stay.
struct TTrackSelection {
    QSet<int> Kinds;
    QString Playlist;
    QString Search;
    bool IsSet() const { return !Kinds.isEmpty() || !Playlist.isEmpty() || !Search.isEmpty(); }
};

// Parses "music,movies,books,ringtones" into media kinds; false on an unknown name.
bool ParseKinds(const QString& text, QSet<int>& kinds);

// Ticks exactly the tracks the selection matches (all of its fields must match).
// False (with a message) when the named playlist does not exist.
bool ApplySelection(TIpodMusicDb& db, const TTrackSelection& selection, QString& error);
