#include "TransferTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>

void TTransferTest::SetUp() {
    ASSERT_TRUE(Temp.isValid());
    Root = Temp.path() + QStringLiteral("/ipod");
    Dest = Temp.path() + QStringLiteral("/out/");
    ASSERT_TRUE(QDir().mkpath(Root + QStringLiteral("/iPod_Control/iTunes")));
    ASSERT_TRUE(QDir().mkpath(Root + QStringLiteral("/iPod_Control/Music/F00")));
    ASSERT_TRUE(QDir().mkpath(Dest));
    Device = std::make_unique<TIpodDevice>(nullptr, nullptr, false);
    Device->Root = Root;
    Device->Connected = true;
    Db = std::make_unique<TIpodMusicDb>(Device.get());
    Db->DestDir = Dest;
    MusicDb = Db.get();
}

void TTransferTest::TearDown() {
    MusicDb = nullptr;
    Db.reset();
    Device.reset();
}

QString TTransferTest::DevicePath(const QString& fileName) const {
    return Root + QStringLiteral("/iPod_Control/Music/F00/") + fileName;
}

TTrackItem& TTransferTest::AddTrack(const QString& title, const QString& artist, const QString& album,
                                    const QString& fileName, const QByteArray& content, bool fileOnDevice) {
    if (fileOnDevice)
        WriteAll(DevicePath(fileName), content);
    TTrackItem& t = Db->Tracks.Add();
    t.Title = title;
    t.Artist = artist;
    t.Album = album;
    t.Location = QStringLiteral(":iPod_Control:Music:F00:") + fileName;
    t.Size = quint32(content.size());
    t.MediaKind = TIpodMusicDb::MediaKindOf(PathExtension(fileName));
    t.CopyState = -1;
    t.ITunesSourceId = -1;
    Db->Tracks.CheckItem(Db->Tracks.Count() - 1);
    return Db->Tracks[Db->Tracks.Count() - 1];
}

QStringList TTransferTest::FilesOutsideDevice() const {
    QStringList list;
    QDirIterator it(Temp.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(Temp.path()).relativeFilePath(it.next());
        if (rel != QLatin1String("ipod") && !rel.startsWith(QLatin1String("ipod/")))
            list.append(rel);
    }
    list.sort();
    return list;
}
