// Choosing the music database by trying the sources in a fixed order, and fetching
// a track for the preview.
#include "iPodMusic.h"

#include "iPodDev.h"

bool TIpodMusicDb::Load(bool preferSqlite) {
    NeedBooksPlist = true;
    if (preferSqlite) {
        bool ok = false;
        try {
            ok = ReadSqliteLibrary();
            if (NeedBooksPlist)
                ReadBooksPlist(false);
        } catch (const std::exception&) {
            ok = false;
        }
        if (!ok)
            AddLog(QStringLiteral("itdb, ") + Device->Log);
        else
            return true;
    }
    NeedBooksPlist = false;
    if (ReadITunesDB())
        return true;
    AddLog(QStringLiteral("iTunesDb, ") + Device->Log);
    if (preferSqlite)
        return false;
    const bool ok = ReadSqliteLibrary();
    if (!ok)
        AddLog(QStringLiteral("itdb, ") + Device->Log);
    return ok;
}

void TIpodMusicDb::PreviewFile(int index, QString& path) {
    path.clear();
    if (index < 0 || index >= Tracks.Count())
        return;
    Device->FetchPlayableFile(Tracks[index].Location, path);
    if (!path.isEmpty())
        PreviewIndex = index;
}
