#include "CliList.h"

#include "QuenlorError.h"
#include "iPodDev.h"
#include "iPodMusic.h"

#include "JsonWriter.h"

#include <cstdio>

namespace {

const char* const CategoryNames[] = {"Music", "Movies", "Books", "Ringtone"};

void WriteListJson(const TIpodDevice& device, const TIpodMusicDb& db) {
    TJsonWriter w(stdout);
    w.BeginObject();
    w.Key("device");
    w.BeginObject();
    w.Field("root", device.Root);
    w.Field("mobile", device.IsMobile);
    w.Field("name", DeviceName(db));
    w.EndObject();
    w.Field("source", db.Source);
    w.Key("tracks");
    w.BeginArray();
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        const TTrackItem& t = db.Tracks[i];
        w.BeginObject();
        w.Field("index", i);
        w.Field("id", t.Id);
        w.Field("title", t.Title);
        w.Field("artist", t.Artist);
        w.Field("album", t.Album);
        w.Field("genre", t.Genre);
        w.Field("rating", t.Rating);
        w.Field("playCount", t.PlayCount);
        w.Field("size", t.Size);
        w.Field("durationMs", t.Duration);
        w.Field("durationText", t.DurationText);
        w.Field("sizeText", t.SizeText);
        w.Field("location", t.Location);
        w.Field("mediaKind", t.MediaKind);
        w.Field("checked", t.Checked);
        w.EndObject();
    }
    w.EndArray();
    w.Key("playlists");
    w.BeginArray();
    for (int i = 0; i < db.Playlists.Count(); ++i) {
        const TPlayListItem& p = db.Playlists.Items(i);
        w.BeginObject();
        w.Field("index", i);
        w.Field("id", p.Id);
        w.Field("name", p.Name);
        w.Field("smart", p.Smart);
        w.Key("trackIds");
        w.BeginArray();
        for (qint64 id : p.TrackIds)
            w.Value(id);
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    w.Key("totals");
    w.BeginObject();
    w.Field("tracks", db.Tracks.Count());
    w.Field("totalBytes", db.TotalBytes);
    w.Field("checkedCount", db.Tracks.CheckedCount);
    w.Field("checkedBytes", db.Tracks.CheckedBytes);
    w.EndObject();
    w.Field("log", db.Log);
    w.EndObject();
}

QString Pad(const QString& s, int width) { return s.leftJustified(width, QLatin1Char(' '), true); }

void PrintList(const TIpodDevice& device, const TIpodMusicDb& db) {
    QString out;
    out += QStringLiteral("Device: %1 (%2)\n").arg(DeviceName(db), device.IsMobile ? QStringLiteral("mobile") : device.Root);
    out += QStringLiteral("Database: %1\n\n").arg(db.Source);
    int counts[4] = {};
    qint64 bytes[4] = {};
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        const TTrackItem& t = db.Tracks[i];
        const int k = t.MediaKind < 4 ? t.MediaKind : 0;
        ++counts[k];
        bytes[k] += t.Size;
    }
    out += QStringLiteral("Categories:\n");
    for (int k = 0; k < 4; ++k)
        out += QStringLiteral("  %1 %2 tracks, %3\n")
                   .arg(Pad(QString::fromLatin1(CategoryNames[k]), 9))
                   .arg(counts[k], 6)
                   .arg(TIpodDevice::SizeText(bytes[k]));
    out += QStringLiteral("  Ticked: %1 of %2 tracks, %3 of %4\n\n")
               .arg(db.Tracks.CheckedCount)
               .arg(db.Tracks.Count())
               .arg(TIpodDevice::SizeText(db.Tracks.CheckedBytes), TIpodDevice::SizeText(db.TotalBytes));
    out += QStringLiteral("Playlists:\n");
    for (int i = 1; i < db.Playlists.Count(); ++i) {
        const TPlayListItem& p = db.Playlists.Items(i);
        out += QStringLiteral("  %1%2 (%3 tracks)\n").arg(p.Name, p.Smart ? QStringLiteral(" [smart]") : QString()).arg(p.Count);
    }
    out += QStringLiteral("\nTracks:\n");
    out += QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11\n")
               .arg(Pad(QStringLiteral("#"), 5), Pad(QStringLiteral("Title"), 28), Pad(QStringLiteral("Artist"), 20),
                    Pad(QStringLiteral("Album"), 20), Pad(QStringLiteral("Genre"), 12), Pad(QStringLiteral("Time"), 8),
                    Pad(QStringLiteral("Size"), 10), Pad(QStringLiteral("Rating"), 6), Pad(QStringLiteral("Plays"), 5),
                    QStringLiteral("Ticked"), QStringLiteral("Location"));
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        const TTrackItem& t = db.Tracks[i];
        out += QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11\n")
                   .arg(Pad(QString::number(i + 1), 5), Pad(t.Title, 28), Pad(t.Artist, 20), Pad(t.Album, 20),
                        Pad(t.Genre, 12), Pad(t.DurationText, 8), Pad(t.SizeText, 10),
                        Pad(QString::number(t.Rating), 6), Pad(QString::number(t.PlayCount), 5))
                   .arg(Pad(t.Checked ? QStringLiteral("yes") : QStringLiteral("no"), 6), t.Location);
    }
    Out(out);
}

} // namespace

QString DeviceName(const TIpodMusicDb& db) { return db.Playlists.Count() > 0 ? db.Playlists.Items(0).Name : QString(); }

bool LoadMusic(TIpodMusicDb& db, QString& error) {
    try {
        if (db.Load(true))
            return true;
        error = QStringLiteral("The device's music database could not be read.\n") + LogText(db.Log);
    } catch (const EQuenlorError& e) {
        error = QStringLiteral("The device's music database is damaged: ") + e.Message();
    } catch (const std::exception& e) {
        error = QStringLiteral("The device's music database could not be read: ") + QString::fromUtf8(e.what());
    }
    return false;
}

int RunList(const TCliOptions& options) {
    if (options.Help || !options.Rest.isEmpty()) {
        Out(QStringLiteral("Usage: quenlor-cli list [--device DIR] [--json]\n"
                           "Lists the connected device's categories, playlists and tracks.\n"));
        return options.Help ? ExitOk : ExitUsage;
    }
    QString log;
    const std::unique_ptr<TIpodDevice> device = OpenDevice(options, log);
    if (!device) {
        Err(QStringLiteral("No iPod found. Connect the iPod, or name its folder with --device DIR.\n"));
        if (!log.isEmpty())
            Err(LogText(log) + QLatin1Char('\n'));
        return ExitNoDevice;
    }
    TIpodMusicDb db(device.get());
    MusicDb = &db;
    QString error;
    if (!LoadMusic(db, error)) {
        if (options.Json)
            WriteListJson(*device, db);
        Err(error + QLatin1Char('\n'));
        return ExitNoDevice;
    }
    if (options.Json)
        WriteListJson(*device, db);
    else
        PrintList(*device, db);
    return ExitOk;
}
