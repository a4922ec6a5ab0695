// Reader of the SQLite music libraries: "iTunes Library.itlp" (Library, Locations,
// Dynamic) and "MediaLibrary.sqlitedb" with its write-ahead log.
#include "iPodMusic.h"

#include "ByteReader.h"
#include "DevicePaths.h"
#include "SQLiteWrap.h"
#include "iPodDev.h"

#include <QFile>

namespace {

using TTextMap = QHash<QString, QString>;

// Lookup tables keyed by the decimal text of their first column; a repeated key means
// the library is not what the reader understands.
TTextMap ReadTextMap(TSQLiteDatabase& db, const QString& sql) {
    TTextMap map;
    for (auto t = db.Query(sql); !t->AtEnd; t->Advance()) {
        const QString key = t->ColumnAsText(0);
        if (map.contains(key))
            throw ESQLiteException(QStringLiteral("Duplicate key %1 in: %2").arg(key, sql));
        map.insert(key, t->ColumnAsText(1));
    }
    return map;
}

qint64 MasterPid(TSQLiteDatabase& db) {
    auto t = db.Query(QStringLiteral("SELECT primary_container_pid FROM db_info"));
    return t->AtEnd ? 0 : t->ColumnAsInt64(0);
}

// The position of the first track with each id: the rows name tracks by pid.
QHash<qint64, int> FirstTrackById(const TTrackList& tracks) {
    QHash<qint64, int> byId;
    byId.reserve(tracks.Count());
    for (int i = tracks.Count() - 1; i >= 0; --i)
        byId.insert(tracks[i].Id, i);
    return byId;
}

void RemoveLocalCopy(TIpodDevice* device, const QString& path) {
    if (device->IsMobile && !path.isEmpty())
        QFile::remove(path);
}

} // namespace

bool TIpodMusicDb::ReadSqliteLibrary() {
    QString path;
    Device->FetchLibraryFile(QStringLiteral("Library.itdb"), true, path);
    if (!path.isEmpty()) {
        bool success = ReadLibraryItdb(path) > 0;
        RemoveLocalCopy(Device, path);
        if (success) {
            Device->FetchLibraryFile(QStringLiteral("Locations.itdb"), true, path);
            if (path.isEmpty())
                success = false;
            else {
                success = ReadLocationsItdb(path);
                RemoveLocalCopy(Device, path);
            }
            Device->FetchLibraryFile(QStringLiteral("Dynamic.itdb"), true, path);
            if (!path.isEmpty()) {
                ReadDynamicItdb(path);
                RemoveLocalCopy(Device, path);
            }
        }
        if (success)
            Source = QStringLiteral("Library.itdb");
        return success;
    }
    Device->FetchLibraryFile(QStringLiteral("MediaLibrary.sqlitedb"), false, path);
    if (path.isEmpty())
        return false;
    QString walPath;
    Device->FetchLibraryFile(QStringLiteral("MediaLibrary.sqlitedb-wal"), false, walPath, QStringLiteral("-wal"));
    const bool success = ReadMediaLibrary(path) > 0;
    RemoveLocalCopy(Device, path);
    RemoveLocalCopy(Device, walPath);
    if (success)
        Source = QStringLiteral("MediaLibrary.sqlitedb");
    return success;
}

int TIpodMusicDb::ReadLibraryItdb(const QString& fileName) {
    TSQLiteDatabase db(fileName, Device->IsMobile);
    QList<QString> genres{QString()};
    for (auto t = db.Query(QStringLiteral("SELECT genre FROM genre_map")); !t->AtEnd; t->Advance())
        genres.append(Shared(t->ColumnAsText(t->ColumnIndexOf(QStringLiteral("genre")))));

    int added = 0;
    {
        auto t = db.Query(QStringLiteral("SELECT * FROM item"));
        const int pid = t->ColumnIndexOf(QStringLiteral("pid"));
        const int title = t->ColumnIndexOf(QStringLiteral("title"));
        const int artist = t->ColumnIndexOf(QStringLiteral("artist"));
        const int album = t->ColumnIndexOf(QStringLiteral("album"));
        const int time = t->ColumnIndexOf(QStringLiteral("total_time_ms"));
        const int genre = t->ColumnIndexOf(QStringLiteral("genre_id"));
        for (; !t->AtEnd; t->Advance()) {
            TTrackItem& track = Tracks.Add();
            track.Checked = true;
            track.CopyState = -1;
            track.ITunesSourceId = -1;
            track.Id = t->ColumnAsInt64(pid);
            track.Title = t->ColumnAsText(title);
            track.Artist = Shared(t->ColumnAsText(artist));
            track.Album = Shared(t->ColumnAsText(album));
            track.Duration = quint32(t->ColumnAsInt64(time));
            const qint64 g = t->ColumnAsInt64(genre);
            track.Genre = g >= 0 && g < genres.size() ? genres[g] : QString();
            track.DurationText = SharedDurationText(track.Duration);
            ++added;
        }
    }

    Playlists.Clear();
    const qint64 master = MasterPid(db);
    {
        auto t = db.Query(QStringLiteral("SELECT * FROM container"));
        const int pid = t->ColumnIndexOf(QStringLiteral("pid"));
        const int name = t->ColumnIndexOf(QStringLiteral("name"));
        const int kinds = t->ColumnIndexOf(QStringLiteral("media_kinds"));
        for (; !t->AtEnd; t->Advance()) {
            const qint64 id = t->ColumnAsInt64(pid);
            TPlayListItem& p = id == master ? Playlists.Insert(0) : Playlists.Add();
            p.Id = id;
            p.Name = t->ColumnIsNull(name) ? QStringLiteral("Unknown") : t->ColumnAsText(name);
            p.Smart = t->ColumnAsInt64(kinds) == 0;
            p.Count = 0;
        }
    }
    if (Playlists.Count() >= 2) {
        for (int i = 1; i < Playlists.Count(); ++i) {
            TPlayListItem& p = Playlists.Items(i);
            auto t = db.Query(QStringLiteral("SELECT item_pid FROM item_to_container WHERE container_pid=") +
                              QString::number(p.Id));
            const int item = t->ColumnIndexOf(QStringLiteral("item_pid"));
            for (; !t->AtEnd; t->Advance())
                p.AddTrackId(t->ColumnAsInt64(item));
        }
    }
    return added;
}

bool TIpodMusicDb::ReadLocationsItdb(const QString& fileName) {
    TSQLiteDatabase db(fileName, Device->IsMobile);
    QHash<qint32, QString> bases;
    {
        auto t = db.Query(QStringLiteral("SELECT * FROM base_location"));
        const int id = t->ColumnIndexOf(QStringLiteral("id"));
        const int path = t->ColumnIndexOf(QStringLiteral("path"));
        for (; !t->AtEnd; t->Advance()) {
            const qint32 key = qint32(t->ColumnAsInt64(id));
            // The first folder with an id wins.
            if (!t->ColumnIsNull(path) && !bases.contains(key))
                bases.insert(key, t->ColumnAsText(path));
        }
    }
    const QHash<qint64, int> byId = FirstTrackById(Tracks);

    auto t = db.Query(QStringLiteral("SELECT * FROM location"));
    const int item = t->ColumnIndexOf(QStringLiteral("item_pid"));
    const int size = t->ColumnIndexOf(QStringLiteral("file_size"));
    const int base = t->ColumnIndexOf(QStringLiteral("base_location_id"));
    const int location = t->ColumnIndexOf(QStringLiteral("location"));
    for (; !t->AtEnd; t->Advance()) {
        const auto found = byId.constFind(t->ColumnAsInt64(item));
        if (found == byId.constEnd())
            continue;
        TTrackItem& track = Tracks[found.value()];
        track.Size = quint32(t->ColumnAsInt64(size));
        TotalBytes += track.Size;
        track.SizeText = Shared(TIpodDevice::SizeText(track.Size));
        const qint64 baseId = t->ColumnAsInt64(base);
        if (baseId != 0) {
            const auto b = bases.constFind(qint32(baseId));
            const QString prefix = (b != bases.constEnd() ? b.value() : QString()) + QLatin1Char('/');
            track.Location = t->ColumnIsNull(location) ? prefix : prefix + t->ColumnAsText(location);
        } else {
            track.Location = t->ColumnAsText(location);
        }
        track.MediaKind = MediaKindOf(PathExtension(track.Location));
        if (track.MediaKind == MediaBooks) {
            track.Checked = false;
            NeedBooksPlist = false;
        } else {
            Tracks.CountChecked(track);
        }
    }
    return true;
}

bool TIpodMusicDb::ReadDynamicItdb(const QString& fileName) {
    TSQLiteDatabase db(fileName, Device->IsMobile);
    const QHash<qint64, int> byId = FirstTrackById(Tracks);
    auto t = db.Query(QStringLiteral("SELECT * FROM item_stats"));
    const int item = t->ColumnIndexOf(QStringLiteral("item_pid"));
    const int rating = t->ColumnIndexOf(QStringLiteral("user_rating"));
    const int plays = t->ColumnIndexOf(QStringLiteral("play_count_user"));
    for (; !t->AtEnd; t->Advance()) {
        const auto found = byId.constFind(t->ColumnAsInt64(item));
        if (found == byId.constEnd())
            continue;
        TTrackItem& track = Tracks[found.value()];
        track.Rating = quint8(t->ColumnAsInt64(rating));
        track.PlayCount = quint32(t->ColumnAsInt64(plays));
    }
    return true;
}

int TIpodMusicDb::ReadMediaLibrary(const QString& fileName) {
    TSQLiteDatabase db(fileName, Device->IsMobile);
    const TTextMap genres = ReadTextMap(db, QStringLiteral("SELECT genre_id,genre FROM genre"));
    const TTextMap albums = ReadTextMap(db, QStringLiteral("SELECT album_pid,album FROM album"));
    const TTextMap bases = ReadTextMap(db, QStringLiteral("SELECT base_location_id,path FROM base_location"));
    const TTextMap artists = ReadTextMap(db, QStringLiteral("SELECT item_artist_pid,item_artist FROM item_artist"));

    int added = 0;
    {
        auto t = db.Query(QStringLiteral(
            "SELECT item.item_pid,item.item_artist_pid,item.album_pid,item.genre_id,item.base_location_id,"
            "item_extra.title,item_extra.location,item_extra.file_size,item_extra.total_time_ms,"
            "item_stats.play_count_user,item_stats.user_rating FROM item,item_extra,item_stats WHERE "
            "item.item_pid=item_extra.item_pid AND item.item_pid=item_stats.item_pid"));
        for (; !t->AtEnd; t->Advance()) {
            TTrackItem& track = Tracks.Add();
            track.Checked = true;
            track.CopyState = -1;
            track.ITunesSourceId = -1;
            track.Id = t->ColumnAsInt64(0);
            track.Artist = Shared(artists.value(t->ColumnAsText(1)));
            track.Album = Shared(albums.value(t->ColumnAsText(2)));
            track.Genre = Shared(genres.value(t->ColumnAsText(3)));
            track.Title = t->ColumnAsText(5);
            const QString stored = t->ColumnAsText(6);
            track.MediaKind = MediaKindOf(PathExtension(stored));
            track.Location = bases.value(t->ColumnAsText(4)) + QLatin1Char('/') + stored;
            track.Size = quint32(t->ColumnAsInt64(7));
            TotalBytes += track.Size;
            track.Duration = quint32(t->ColumnAsInt64(8));
            track.PlayCount = quint32(t->ColumnAsInt64(9));
            track.Rating = quint8(t->ColumnAsInt64(10));
            FinishTrack(track);
            if (track.MediaKind == MediaBooks) {
                track.Checked = false;
                NeedBooksPlist = false;
            } else {
                Tracks.CountChecked(track);
            }
            ++added;
        }
    }

    Playlists.Clear();
    const qint64 master = MasterPid(db);
    {
        auto t = db.Query(QStringLiteral(
            "SELECT container_pid,name,smart_is_dynamic,smart_is_filtered,smart_limit_kind FROM container"));
        for (; !t->AtEnd; t->Advance()) {
            const qint64 id = t->ColumnAsInt64(0);
            TPlayListItem& p = id == master ? Playlists.Insert(0) : Playlists.Add();
            p.Id = id;
            p.Name = t->ColumnIsNull(1) ? QStringLiteral("Unknown") : t->ColumnAsText(1);
            p.Smart = t->ColumnAsInt64(2) != 0 || t->ColumnAsInt64(3) != 0 || t->ColumnAsInt64(4) != 0;
            p.Count = 0;
        }
    }
    if (Playlists.Count() >= 2) {
        QHash<qint64, int> byId;
        for (int i = Playlists.Count() - 1; i >= 1; --i)
            byId.insert(Playlists.Items(i).Id, i);
        for (auto t = db.Query(QStringLiteral("SELECT container_pid,item_pid_data FROM container_items")); !t->AtEnd;
             t->Advance()) {
            const auto found = byId.constFind(t->ColumnAsInt64(0));
            if (found == byId.constEnd())
                continue;
            TPlayListItem& p = Playlists.Items(found.value());
            const QByteArray blob = t->ColumnAsBytes(1);
            const TByteReader r(blob.constData(), blob.size());
            for (qint64 at = 0; r.Has(at, 8); at += 8)
                p.AddTrackId(r.I64(at));
        }
    }
    return added;
}
