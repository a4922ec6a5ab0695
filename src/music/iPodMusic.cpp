#include "iPodMusic.h"

#include "iPodDev.h"

#include <QDir>
#include <QFileInfo>

TIpodMusicDb* MusicDb = nullptr;

TTrackItem& TTrackList::Add() { return FItems.emplace_back(); }

void TTrackList::CheckItem(int i) {
    TTrackItem& t = Items(i);
    if (t.Checked)
        return;
    t.Checked = true;
    CountChecked(t);
}

void TTrackList::UncheckItem(int i) {
    TTrackItem& t = Items(i);
    if (!t.Checked)
        return;
    t.Checked = false;
    --CheckedCount;
    CheckedBytes -= t.Size;
}

TPlayListItem& TPlayLists::Add() {
    FItems.append(TPlayListItem());
    return FItems.last();
}

TPlayListItem& TPlayLists::Insert(int i) {
    FItems.insert(i, TPlayListItem());
    return FItems[i];
}

TIpodMusicDb::TIpodMusicDb(TIpodDevice* device) : Device(device) {}

TIpodMusicDb::~TIpodMusicDb() {
    if (MusicDb == this)
        MusicDb = nullptr;
}

void TIpodMusicDb::AddLog(const QString& text) {
    Log += QStringLiteral("\r\n");
    Log += text;
}

QString TIpodMusicDb::Shared(const QString& text) {
    if (text.isEmpty())
        return {};
    auto it = FTextPool.constFind(text);
    if (it != FTextPool.constEnd())
        return it.value();
    FTextPool.insert(text, text);
    return text;
}

QString TIpodMusicDb::DurationText(quint32 ms) {
    const quint32 seconds = ms / 1000;
    const quint32 minutes = seconds / 60;
    const quint32 hours = minutes / 60;
    if (minutes < 60)
        return QStringLiteral("%1:%2").arg(minutes).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(hours)
        .arg(minutes % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

quint8 TIpodMusicDb::MediaKindOf(const QString& extension) {
    const QString e = extension.toLower();
    if (e == QLatin1String(".mp4") || e == QLatin1String(".m4v") || e == QLatin1String(".mov"))
        return MediaMovies;
    if (e == QLatin1String(".epub") || e == QLatin1String(".pdf"))
        return MediaBooks;
    if (e == QLatin1String(".m4r"))
        return MediaRingtones;
    return MediaMusic;
}

bool TIpodMusicDb::CheckDestDir(QString& folder) {
    if (!Device->CheckDestFolder(folder, Tracks.CheckedBytes))
        return false;
    DestDir = folder;
    return true;
}

void TIpodMusicDb::DefaultDestDir(QString& path) {
    path = TIpodDevice::SpecialFolder(false);
    if (path.isEmpty())
        return;
    const QString media = path + QStringLiteral("iTunes/iTunes Media/");
    path = QFileInfo(media).isDir() ? media : path + QStringLiteral("iTunes/iTunes Music/");
}

QString TIpodMusicDb::SharedDurationText(quint32 milliseconds) {
    const quint32 seconds = milliseconds / 1000;
    auto it = FDurationTexts.constFind(seconds);
    if (it == FDurationTexts.constEnd())
        it = FDurationTexts.insert(seconds, DurationText(milliseconds));
    return it.value();
}

void TIpodMusicDb::FinishTrack(TTrackItem& track) {
    track.DurationText = SharedDurationText(track.Duration);
    track.SizeText = Shared(TIpodDevice::SizeText(track.Size));
}
