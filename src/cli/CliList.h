#pragma once

#include "CliCommon.h"

class TIpodMusicDb;
class TIpodDevice;

// quenlor-cli list: the device's categories, playlists and tracks.
int RunList(const TCliOptions& options);

// Loads the music database of a found device; false (with a message) when it cannot
// be read.
bool LoadMusic(TIpodMusicDb& db, QString& error);

// The name of the device: its master playlist's name.
QString DeviceName(const TIpodMusicDb& db);
