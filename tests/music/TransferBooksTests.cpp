// Books kept as folders: packing into one archive, the work folder, the helpers.
#include "TransferTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>
#include <zip.h>

namespace {

// The archive's entries with their bytes.
QMap<QString, QByteArray> ZipEntries(const QString& archive) {
    QMap<QString, QByteArray> entries;
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
    if (!zip)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip, zip_uint64_t(i), 0, &st) != 0)
            continue;
        QByteArray bytes(qsizetype(st.size), '\0');
        zip_file_t* f = zip_fopen_index(zip, zip_uint64_t(i), 0);
        if (f) {
            zip_fread(f, bytes.data(), st.size);
            zip_fclose(f);
        }
        entries.insert(QString::fromUtf8(st.name), bytes);
    }
    zip_close(zip);
    return entries;
}

QString FirstEntryName(const QString& archive) {
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
    if (!zip)
        return {};
    const char* name = zip_get_name(zip, 0, 0);
    const QString result = name ? QString::fromUtf8(name) : QString();
    zip_close(zip);
    return result;
}

QStringList TrashedNames() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files"))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class TransferBooksTest : public TTransferTest {
protected:
    // A copied book folder below the target.
    QString MakeBookFolder(const QString& name) {
        const QString folder = Dest + name + QLatin1Char('/');
        WriteAll(folder + QStringLiteral("mimetype"), "application/epub+zip");
        WriteAll(folder + QStringLiteral("META-INF/container.xml"), "<container/>");
        WriteAll(folder + QStringLiteral("OEBPS/Text/ch1.xhtml"), "<html>one</html>");
        WriteAll(folder + QStringLiteral(".hidden"), "h");
        return folder;
    }
};

TEST_F(TransferBooksTest, PackFolderStoresRelativePathsAndTrashesTheFolder) {
    const QString folder = MakeBookFolder(QStringLiteral("Book"));
    QString finalName;
    ASSERT_TRUE(Db->PackFolder(folder, folder.chopped(1), QStringLiteral(".epub"), &finalName));
    EXPECT_EQ(finalName, Dest + QStringLiteral("Book.epub"));
    const auto entries = ZipEntries(finalName);
    EXPECT_EQ(entries.keys(), QStringList({QStringLiteral(".hidden"), QStringLiteral("META-INF/container.xml"),
                                           QStringLiteral("OEBPS/Text/ch1.xhtml"), QStringLiteral("mimetype")}));
    EXPECT_EQ(entries.value(QStringLiteral("OEBPS/Text/ch1.xhtml")), "<html>one</html>");
    EXPECT_EQ(FirstEntryName(finalName), QStringLiteral("mimetype"));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(QFileInfo::exists(Dest + QStringLiteral("Book.zip")));
    EXPECT_TRUE(TrashedNames().contains(QStringLiteral("OEBPS")));
}

TEST_F(TransferBooksTest, FinalNameIsNumberedOrTheSameBookIsKept) {
    // Pack once to learn the archive's size, then pack the same book again.
    QString first;
    ASSERT_TRUE(Db->PackFolder(MakeBookFolder(QStringLiteral("Book")), Dest + QStringLiteral("Book"),
                               QStringLiteral(".epub"), &first));
    const auto before = TreeSnapshot(Dest);
    QString second;
    ASSERT_TRUE(Db->PackFolder(MakeBookFolder(QStringLiteral("Book")), Dest + QStringLiteral("Book"),
                               QStringLiteral(".epub"), &second));
    EXPECT_EQ(second, first);
    EXPECT_EQ(TreeSnapshot(Dest), before);

    // Another size under the name: the next number; an unrelated Book.zip is untouched.
    WriteAll(Dest + QStringLiteral("Book.zip"), "the user's own archive");
    const QString other = Dest + QStringLiteral("Book/");
    WriteAll(other + QStringLiteral("only.txt"), "different");
    QString third;
    ASSERT_TRUE(Db->PackFolder(other, Dest + QStringLiteral("Book"), QStringLiteral(".epub"), &third));
    EXPECT_EQ(third, Dest + QStringLiteral("Book_1.epub"));
    EXPECT_EQ(ZipEntries(third).keys(), QStringList({QStringLiteral("only.txt")}));
    EXPECT_EQ(ReadAll(Dest + QStringLiteral("Book.zip")), "the user's own archive");
}

TEST_F(TransferBooksTest, AnEmptyFolderPacksNothing) {
    QDir().mkpath(Dest + QStringLiteral("Empty/sub"));
    EXPECT_FALSE(Db->PackFolder(Dest + QStringLiteral("Empty/"), Dest + QStringLiteral("Empty"), QStringLiteral(".pdf")));
    EXPECT_EQ(FilesOutsideDevice(), QStringList({QStringLiteral("out")}));
}

TEST_F(TransferBooksTest, RemoveWorkFolderOnlyInsideTheTarget) {
    WriteAll(Temp.path() + QStringLiteral("/beside/keep.txt"), "keep");
    WriteAll(Dest + QStringLiteral("inside/keep.txt"), "keep");
    const struct {
        QString Folder;
        bool Removed;
    } cases[] = {
        {Dest + QStringLiteral("../beside/"), false},
        {Temp.path() + QStringLiteral("/beside/"), false},
        {Dest, false},
        {Dest + QStringLiteral("./"), false},
        {Dest + QStringLiteral("inside/"), true},
    };
    for (const auto& c : cases)
        Db->RemoveWorkFolder(c.Folder);
    EXPECT_TRUE(QFileInfo::exists(Temp.path() + QStringLiteral("/beside/keep.txt")));
    EXPECT_FALSE(QFileInfo::exists(Dest + QStringLiteral("inside")));
    EXPECT_TRUE(QFileInfo(Dest).isDir());
    Db->DestDir.clear();
    WriteAll(Dest + QStringLiteral("again/keep.txt"), "keep");
    Db->RemoveWorkFolder(Dest + QStringLiteral("again/"));
    EXPECT_TRUE(QFileInfo::exists(Dest + QStringLiteral("again/keep.txt")));
}

TEST_F(TransferBooksTest, Helpers) {
    EXPECT_EQ(TIpodMusicDb::BookExtension(QStringLiteral(":Books:abc.pdf")), QStringLiteral(".pdf"));
    EXPECT_EQ(TIpodMusicDb::BookExtension(QStringLiteral("/Books/abc")), QStringLiteral(".epub"));
    EXPECT_EQ(TIpodMusicDb::BookExtension(QStringLiteral("/Books/a.b/abc")), QStringLiteral(".epub"));
    WriteAll(Dest + QStringLiteral("a"), "12345");
    WriteAll(Dest + QStringLiteral("b"), "abcde");
    WriteAll(Dest + QStringLiteral("c"), "abc");
    WriteAll(Dest + QStringLiteral("empty1"), "");
    WriteAll(Dest + QStringLiteral("empty2"), "");
    EXPECT_TRUE(TIpodMusicDb::SameSizeFiles(Dest + QStringLiteral("a"), Dest + QStringLiteral("b")));
    EXPECT_FALSE(TIpodMusicDb::SameSizeFiles(Dest + QStringLiteral("a"), Dest + QStringLiteral("c")));
    EXPECT_FALSE(TIpodMusicDb::SameSizeFiles(Dest + QStringLiteral("empty1"), Dest + QStringLiteral("empty2")));
    EXPECT_FALSE(TIpodMusicDb::SameSizeFiles(Dest + QStringLiteral("missing"), Dest + QStringLiteral("missing2")));
}

TEST_F(TransferBooksTest, ABookOnADiskModeDeviceIsLoggedAsError1) {
    AddTrack(QStringLiteral("A Book"), {}, {}, QStringLiteral("BOOK.epub"), "book");
    ASSERT_EQ(Db->Tracks[0].MediaKind, MediaBooks);
    AddTrack(QStringLiteral("A Song"), {}, {}, QStringLiteral("SONG.mp3"), "song");
    Db->SaveType = 2;
    EXPECT_EQ(Db->CopySelected(), 1);
    EXPECT_EQ(Db->Log, QStringLiteral("\r\nA Book: Error 1"));
    EXPECT_EQ(Db->Tracks[0].CopyState, 0);
    EXPECT_EQ(Db->Tracks[1].DestPath, Dest + QStringLiteral("Unknown Artist - A Song.mp3"));
}
