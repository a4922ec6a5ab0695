// Builds a small but realistic disk-mode iPod tree for the demo: about forty tracks of
// every media kind with tiny real media files, and several playlists.
#include "DemoPhotos.h"
#include "FixtureDevice.h"
#include "MediaFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace {

struct TAlbum {
    const char* Artist;
    const char* Album;
    const char* Genre;
    QList<const char*> Titles;
};

const QList<TAlbum> Albums = {
    {"The Lantern Choir", "Night Harbour", "Folk",
     {"Harbour Lights", "Salt and Cedar", "The Long Tide", "Lantern Song", "Fog Bell", "Morning Ferry"}},
    {"Mira Okafor", "Glass Orchard", "Jazz",
     {"Glass Orchard", "Blue Hour", "Quiet Arithmetic", "Seven Bridges", "Paper Moons"}},
    {"Static Parade", "Signal / Noise", "Electronic",
     {"Carrier Wave", "Cold Start", "AC/DC: Live?", "Null Island", "Packet Loss", "Handshake"}},
    {"Éloïse Varga", "Chansons d'hiver", "Pop",
     {"Neige sur Paris", "Café du matin", "L'Hiver doux", "Minuit"}},
    {"Kenji Arai", "山と川", "Classical", {"山の朝", "川の歌", "静かな夜"}},
    {"The Ninth Ward Brass", "Second Line", "Blues",
     {"Second Line", "Rain on Frenchmen Street", "Tuba Sunday", "Last Call", "Parade Home", "Levee"}},
    {"", "", "Rock", {"Untitled Demo", "Garage Take 2"}},
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "Usage: quenlor-demo-device FOLDER\n");
        return 2;
    }
    const QString root = QDir(args[1]).absolutePath();
    if (QFileInfo::exists(root + QStringLiteral("/iPod_Control"))) {
        std::fprintf(stderr, "%s already holds a device tree\n", qPrintable(root));
        return 1;
    }
    TFixtureDevice device(root);
    TITunesDbContent db;
    quint32 id = 5001;
    int file = 0;
    auto location = [&](const char* ext) {
        return QStringLiteral(":iPod_Control:Music:F%1:DEMO%2.%3")
            .arg(file % 20, 2, 10, QLatin1Char('0'))
            .arg(file, 4, 10, QLatin1Char('0'))
            .arg(QLatin1String(ext));
    };
    TFixturePlaylist master{QStringLiteral("Demo iPod"), true, false, {}, 0};
    TFixturePlaylist favourites{QStringLiteral("Favourites"), true, false, {}, 0};
    TFixturePlaylist road{QStringLiteral("Road Trip"), true, false, {}, 0};
    TFixturePlaylist topRated{QStringLiteral("Top Rated"), true, true, {}, 0};
    auto add = [&](QString title, QString artist, QString album, QString genre, const char* ext, quint32 ms,
                   quint32 plays, quint8 rating, int minSize = 0) {
        TFixtureTrack t;
        t.Id = id++;
        t.Title = std::move(title);
        t.Artist = std::move(artist);
        t.Album = std::move(album);
        t.Genre = std::move(genre);
        t.Location = location(ext);
        ++file;
        const QByteArray bytes = MediaBytesFor(t.Location, minSize);
        t.Size = quint32(bytes.size());
        t.DurationMs = ms;
        t.PlayCount = plays;
        t.Rating = rating;
        device.WriteFile(t.Location, bytes);
        db.Tracks.append(t);
        master.TrackIds.append(t.Id);
        return t.Id;
    };
    int n = 0;
    for (const TAlbum& a : Albums) {
        for (const char* title : a.Titles) {
            const char* ext = n % 3 == 1 ? "m4a" : "mp3";
            const quint8 rating = quint8((n * 7 % 6) * 20);
            const quint32 tid = add(QString::fromUtf8(title), QString::fromUtf8(a.Artist), QString::fromUtf8(a.Album),
                                    QString::fromUtf8(a.Genre), ext, quint32(150000 + n * 13337 % 200000),
                                    quint32(n * 5 % 23), rating);
            if (n % 4 == 0)
                favourites.TrackIds.append(tid);
            if (n % 3 != 2)
                road.TrackIds.append(tid);
            if (rating >= 80)
                topRated.TrackIds.append(tid);
            ++n;
        }
    }
    // A title that appears twice with another recording (another size), so the copy
    // shows its numbering.
    add(QStringLiteral("Harbour Lights"), QStringLiteral("The Lantern Choir"), QStringLiteral("Live at the Pier"),
        QStringLiteral("Folk"), "mp3", 201000, 2, 60, 20000);
    add(QStringLiteral("Aurora Timelapse"), QStringLiteral("Northbound Films"), QString(), QStringLiteral("Documentary"),
        "m4v", 95000, 4, 80);
    add(QStringLiteral("City at Night"), QStringLiteral("Northbound Films"), QString(), QStringLiteral("Documentary"),
        "mp4", 64000, 1, 60);
    add(QStringLiteral("Family Picnic"), QString(), QString(), QString(), "mov", 42000, 0, 0);
    add(QStringLiteral("Sailing Basics"), QStringLiteral("Ada Lindqvist"), QString(), QStringLiteral("Books"), "epub", 0,
        0, 0);
    add(QStringLiteral("Harbour Charts"), QStringLiteral("Port Authority"), QString(), QStringLiteral("Books"), "pdf", 0,
        0, 0);
    add(QStringLiteral("Marimba Wake"), QString(), QString(), QStringLiteral("Ringtone"), "m4r", 20000, 0, 0);
    add(QStringLiteral("Ship's Bell"), QString(), QString(), QStringLiteral("Ringtone"), "m4r", 8000, 0, 0);
    db.Playlists = {master, favourites, road, topRated};
    device.WriteITunesDb(db, true);
    WriteDemoPhotos(root);
    std::printf("Demo device with %d tracks, %d playlists and photos written to %s\n", int(db.Tracks.size()),
                int(db.Playlists.size() - 1), qPrintable(root));
    return 0;
}
