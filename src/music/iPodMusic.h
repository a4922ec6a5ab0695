#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

class TIpodDevice;
class TMemoryStream;

// One track: a song, video, book or ringtone on the device.
class TTrackItem {
public:
    bool Checked = false;
    QString DestPath;
    quint8 Rating = 0;
    qint64 Id = 0;
    quint32 Size = 0;
    quint32 Duration = 0;
    quint32 PlayCount = 0;
    QString Location;
    QString Title;
    QString Artist;
    QString Album;
    QString Genre;
    QString DurationText;
    QString SizeText;
    qint32 ITunesSourceId = 0;
    qint32 ITunesPlaylistId = 0;
    qint32 ITunesTrackId = 0;
    qint32 ITunesDatabaseId = 0;
    quint8 MediaKind = 0;
    qint32 CopyState = 0;
};

// Media kinds, from the file extension.
enum : quint8 { MediaMusic = 0, MediaMovies = 1, MediaBooks = 2, MediaRingtones = 3 };

// All tracks with the running totals of the ticked ones. Add returns a reference that
// stays valid until the next Add.
class TTrackList {
public:
    TTrackItem& Add();
    int Count() const { return int(FItems.size()); }
    TTrackItem& Items(int i) { return FItems[size_t(i)]; }
    const TTrackItem& Items(int i) const { return FItems[size_t(i)]; }
    TTrackItem& operator[](int i) { return Items(i); }
    const TTrackItem& operator[](int i) const { return Items(i); }
    void CheckItem(int i);
    void UncheckItem(int i);
    // Empties the list; the totals are left as they are.
    void Clear() { FItems.clear(); }
    void Reserve(int count) { FItems.reserve(size_t(count)); }
    // Counts a track as ticked (readers do this as they tick tracks).
    void CountChecked(const TTrackItem& track) {
        ++CheckedCount;
        CheckedBytes += track.Size;
    }

    int CheckedCount = 0;
    qint64 CheckedBytes = 0;

private:
    std::vector<TTrackItem> FItems;
};

class TPlayListItem {
public:
    qint64 Id = 0;
    int Count = 0;
    QString Name;
    QList<qint64> TrackIds;
    bool Smart = false;
    qint64 TrackIdAt(int i) const { return TrackIds[i]; }
    void AddTrackId(qint64 id) {
        TrackIds.append(id);
        ++Count;
    }
};

class TPlayLists {
public:
    TPlayListItem& Add();
    TPlayListItem& Insert(int i);
    int Count() const { return int(FItems.size()); }
    TPlayListItem& Items(int i) { return FItems[i]; }
    const TPlayListItem& Items(int i) const { return FItems[i]; }
    void Clear() { FItems.clear(); }

private:
    QList<TPlayListItem> FItems;
};

// The music content of the device in session: tracks, playlists, loading, transfer.
// Used on the UI thread, and by one transfer thread at a time.
class TIpodMusicDb {
public:
    explicit TIpodMusicDb(TIpodDevice* device);
    ~TIpodMusicDb();
    TIpodMusicDb(const TIpodMusicDb&) = delete;
    TIpodMusicDb& operator=(const TIpodMusicDb&) = delete;

    QString Log;
    TTrackList Tracks;
    TPlayLists Playlists;
    qint64 TotalBytes = 0;
    int PreviewIndex = -1;
    QString DestDir;
    quint8 SaveType = 1;
    bool Cancelled = false;
    TIpodDevice* Device;
    bool NeedBooksPlist = false;
    std::function<void(const QString&)> OnProgress;
    // Which database the tracks came from ("iTunesDB", "iTunesCDB", "Library.itdb",
    // "MediaLibrary.sqlitedb"); empty until one was read.
    QString Source;

    void AddLog(const QString& text);
    bool Load(bool preferSqlite);
    void PreviewFile(int index, QString& path);
    bool CheckDestDir(QString& folder);
    void DefaultDestDir(QString& path);

    static QString DurationText(quint32 milliseconds);
    static quint8 MediaKindOf(const QString& extension);

    // iTunesDB reader.
    bool ReadITunesDB();
    static void InflateDatabase(TMemoryStream& stream);
    bool ReadTrackList(const TMemoryStream& stream, qint64 sectionOffset, qint64 sectionHeaderLength);
    bool ReadPlaylistList(const TMemoryStream& stream, qint64 sectionOffset, qint64 sectionHeaderLength);
    static qint64 ReadMhod(const TMemoryStream& stream, qint64 offset, quint32& type, QString& text);

    // SQLite library reader.
    bool ReadSqliteLibrary();
    int ReadLibraryItdb(const QString& fileName);
    bool ReadLocationsItdb(const QString& fileName);
    bool ReadDynamicItdb(const QString& fileName);
    int ReadMediaLibrary(const QString& fileName);

    // Books list reader.
    int ReadBooksPlist(bool purchased);
    // The books of a local XML property list; what was read before an error stays.
    int ReadBooksFromFile(const QString& path);

    // Transfer of the ticked tracks into DestDir.
    int CopySelected();
    void TargetName(int index, quint8 saveType, QString& path);
    static QString CleanNamePart(const QString& text, const QString& suffix);
    static QString BookExtension(const QString& location);
    // finalName (when given) receives the archive's final name, or the file already there.
    bool PackFolder(const QString& folderWithDelimiter, const QString& folder, const QString& extension,
                    QString* finalName = nullptr);
    static bool SameSizeFiles(const QString& a, const QString& b);
    void RemoveWorkFolder(const QString& folder);
    // Pause before the second try after an invalid-parameter result, in milliseconds.
    int RetryPauseMs = 3000;

    // Repeated texts (artists, albums, genres, size and duration texts) share one copy.
    QString Shared(const QString& text);

private:
    void FinishTrack(TTrackItem& track);
    QString SharedDurationText(quint32 milliseconds);
    QHash<QString, QString> FTextPool;
    // Duration texts by whole seconds, so most tracks need no formatting at all.
    QHash<quint32, QString> FDurationTexts;
};

// The current music database object, through which the transfer thread reaches it.
extern TIpodMusicDb* MusicDb;
