#include "CliCopy.h"

#include "CliList.h"
#include "CliProgress.h"
#include "MusicCopyThread.h"
#include "MusicLog.h"
#include "iPodDev.h"
#include "iPodMusic.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <memory>

namespace {

void Usage() {
    QString text = QStringLiteral(
        "Usage: quenlor-cli copy --to DIR [--naming 0..6] [--kind KINDS] [--playlist NAME]\n"
        "                        [--search TEXT] [--device DIR] [--json]\n"
        "Copies the ticked music of the connected device into DIR; never writes to the device.\n\n"
        "  --to DIR         target folder (created when missing)\n"
        "  --naming N       file names (default 1):\n");
    for (int i = 0; i <= 6; ++i)
        text += QStringLiteral("                     %1  %2\n").arg(i).arg(SaveTypeText(i));
    text += QStringLiteral(
        "  --kind KINDS     only these kinds, comma-separated: music,movies,books,ringtones\n"
        "  --playlist NAME  only the tracks of this playlist\n"
        "  --search TEXT    only tracks whose title, artist, album or genre contains TEXT\n"
        "Without --kind, --playlist and --search the device's own ticks are copied.\n"
        "Ctrl+C stops after the current track. Files already in DIR are never overwritten.\n\n"
        "Exit codes: 0 every ticked track copied, 1 some failed or the copy was stopped,\n"
        "2 bad usage or a target folder that cannot be used, 3 no device or unreadable database.\n");
    Out(text);
}

bool Contains(const TTrackItem& t, const QString& text) {
    return t.Title.contains(text, Qt::CaseInsensitive) || t.Artist.contains(text, Qt::CaseInsensitive) ||
           t.Album.contains(text, Qt::CaseInsensitive) || t.Genre.contains(text, Qt::CaseInsensitive);
}

// "3/12  Title" as the engine reports it.
void ParseProgress(const QString& text, int& number, int& count, QString& title) {
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    const qsizetype gap = text.indexOf(QStringLiteral("  "), slash + 1);
    number = text.left(slash).toInt();
    count = text.mid(slash + 1, gap - slash - 1).toInt();
    title = gap >= 0 ? text.mid(gap + 2) : QString();
}

QJsonObject CopyJson(const TIpodMusicDb& db, int copied, const QString& log) {
    QJsonArray tracks;
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        const TTrackItem& t = db.Tracks[i];
        if (!t.Checked)
            continue;
        tracks.append(QJsonObject{{QStringLiteral("index"), i},
                                  {QStringLiteral("title"), t.Title},
                                  {QStringLiteral("copyState"), t.CopyState},
                                  {QStringLiteral("destPath"), t.DestPath}});
    }
    return QJsonObject{{QStringLiteral("copied"), copied},
                       {QStringLiteral("checked"), db.Tracks.CheckedCount},
                       {QStringLiteral("log"), log},
                       {QStringLiteral("tracks"), tracks}};
}

// What the interrupt handler reaches; it outlives the command, so it holds no references.
struct TCancelTarget {
    QPointer<TMusicCopyThread> Thread;
    TCliProgress* Progress = nullptr;
};
TCancelTarget CancelTarget;

} // namespace

bool ParseKinds(const QString& text, QSet<int>& kinds) {
    for (const QString& raw : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = raw.trimmed().toLower();
        if (name == QLatin1String("music"))
            kinds.insert(MediaMusic);
        else if (name == QLatin1String("movies") || name == QLatin1String("movie"))
            kinds.insert(MediaMovies);
        else if (name == QLatin1String("books") || name == QLatin1String("book"))
            kinds.insert(MediaBooks);
        else if (name == QLatin1String("ringtones") || name == QLatin1String("ringtone"))
            kinds.insert(MediaRingtones);
        else
            return false;
    }
    return !kinds.isEmpty();
}

bool ApplySelection(TIpodMusicDb& db, const TTrackSelection& selection, QString& error) {
    if (!selection.IsSet())
        return true;
    QSet<qint64> inPlaylist;
    if (!selection.Playlist.isEmpty()) {
        // The master playlist (0) is the device itself, not a playlist.
        int found = -1;
        for (int pass = 0; pass < 2 && found < 0; ++pass)
            for (int i = 1; i < db.Playlists.Count() && found < 0; ++i)
                if (db.Playlists.Items(i).Name.compare(selection.Playlist,
                                                       pass == 0 ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0)
                    found = i;
        if (found < 0) {
            error = QStringLiteral("No playlist named \"%1\" on the device.").arg(selection.Playlist);
            return false;
        }
        const TPlayListItem& p = db.Playlists.Items(found);
        inPlaylist = QSet<qint64>(p.TrackIds.cbegin(), p.TrackIds.cend());
    }
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        const TTrackItem& t = db.Tracks[i];
        const bool match = (selection.Kinds.isEmpty() || selection.Kinds.contains(t.MediaKind)) &&
                           (selection.Playlist.isEmpty() || inPlaylist.contains(t.Id)) &&
                           (selection.Search.isEmpty() || Contains(t, selection.Search));
        if (match)
            db.Tracks.CheckItem(i);
        else
            db.Tracks.UncheckItem(i);
    }
    return true;
}

int RunCopy(const TCliOptions& options) {
    if (options.Help) {
        Usage();
        return ExitOk;
    }
    QStringList rest = options.Rest;
    bool ok = true;
    const QString to = TakeOption(rest, QStringLiteral("--to"), ok);
    const QString naming = TakeOption(rest, QStringLiteral("--naming"), ok);
    const QString kinds = TakeOption(rest, QStringLiteral("--kind"), ok);
    TTrackSelection selection;
    selection.Playlist = TakeOption(rest, QStringLiteral("--playlist"), ok);
    selection.Search = TakeOption(rest, QStringLiteral("--search"), ok);
    int saveType = 1;
    if (!naming.isEmpty()) {
        bool number = false;
        saveType = naming.toInt(&number);
        if (!number || saveType < 0 || saveType > 6) {
            Err(QStringLiteral("--naming takes a number from 0 to 6\n"));
            return ExitUsage;
        }
    }
    if (!kinds.isEmpty() && !ParseKinds(kinds, selection.Kinds)) {
        Err(QStringLiteral("--kind takes music, movies, books and ringtones, separated by commas\n"));
        return ExitUsage;
    }
    if (!ok || to.isEmpty() || !rest.isEmpty()) {
        if (!rest.isEmpty())
            Err(QStringLiteral("Unknown argument: %1\n").arg(rest.first()));
        else if (to.isEmpty())
            Err(QStringLiteral("copy needs --to DIR\n"));
        else
            Err(QStringLiteral("An option lacks its value\n"));
        Usage();
        return ExitUsage;
    }

    QString deviceLog;
    const std::unique_ptr<TIpodDevice> device = OpenDevice(options, deviceLog);
    if (!device) {
        Err(QStringLiteral("No iPod found. Connect the iPod, or name its folder with --device DIR.\n"));
        if (!deviceLog.isEmpty())
            Err(LogText(deviceLog) + QLatin1Char('\n'));
        return ExitNoDevice;
    }
    TIpodMusicDb db(device.get());
    MusicDb = &db;
    QString error;
    if (!LoadMusic(db, error)) {
        Err(error + QLatin1Char('\n'));
        return ExitNoDevice;
    }
    if (!ApplySelection(db, selection, error)) {
        Err(error + QLatin1Char('\n'));
        return ExitUsage;
    }
    QString folder = QDir::cleanPath(QDir(to).absolutePath());
    if (!db.CheckDestDir(folder)) {
        Err(LogText(folder) + QLatin1Char('\n'));
        return ExitUsage;
    }
    db.SaveType = quint8(saveType);
    TMusicLog log;
    log.Begin(saveType, device->IsMobile);

    TCliProgress progress;
    QEventLoop loop;
    TMusicCopyThread thread(false, &db);
    thread.FreeOnTerminate = false;
    thread.OnProgress = [&progress](const QString& text) {
        int number = 0, count = 0;
        QString title;
        ParseProgress(text, number, count, title);
        progress.Update(number, count, title);
    };
    thread.OnStatus = [&loop](const QString&, quint8 stage) {
        if (stage == 2)
            loop.quit();
    };
    CancelTarget.Thread = &thread;
    CancelTarget.Progress = &progress;
    InstallInterruptHandler([] {
        if (!CancelTarget.Thread)
            return;
        CancelTarget.Thread->requestInterruption();
        if (CancelTarget.Progress)
            CancelTarget.Progress->Status(QStringLiteral("Stopping after the current track ..."));
    });
    Err(QStringLiteral("Copying %1 tracks (%2) from %3 into %4\n")
            .arg(db.Tracks.CheckedCount)
            .arg(TIpodDevice::SizeText(db.Tracks.CheckedBytes), DeviceName(db), db.DestDir));
    thread.start();
    loop.exec();
    thread.wait();
    progress.Finish();
    CancelTarget = {};

    log.Complete(db.Log);
    const int copied = thread.Copied;
    const int checked = db.Tracks.CheckedCount;
    if (options.Json) {
        Out(QString::fromUtf8(QJsonDocument(CopyJson(db, copied, log.Text)).toJson(QJsonDocument::Compact)) +
            QLatin1Char('\n'));
    } else {
        Out(LogText(log.Text) + QLatin1Char('\n'));
        Err(QStringLiteral("%1 of %2 tracks are in %3%4\n")
                .arg(copied)
                .arg(checked)
                .arg(db.DestDir, db.Cancelled ? QStringLiteral(" (stopped)") : QString()));
    }
    return copied == checked ? ExitOk : ExitItemsFailed;
}
