#include "SQLiteWrap.h"
#include "SqliteLibraryWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SQLiteWrap : public ::testing::Test {
protected:
    void SetUp() override {
        FileName = Dir.filePath(QStringLiteral("t.db"));
        ExecSql(FileName, QStringLiteral("CREATE TABLE base_location (id INTEGER, path TEXT, data BLOB);"
                                         "INSERT INTO base_location VALUES (1, 'Music', x'0102');"
                                         "INSERT INTO base_location VALUES (2, NULL, NULL);"
                                         "INSERT INTO base_location VALUES (3, '', x'');"));
    }
    QTemporaryDir Dir;
    QString FileName;
};

QString MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESQLiteException& e) {
        return e.Message();
    }
    return QStringLiteral("<no exception>");
}

TEST_F(SQLiteWrap, WalksRowsAndReadsColumnsOfEveryKind) {
    TSQLiteDatabase db(FileName);
    auto t = db.Query(QStringLiteral("SELECT id, path, data FROM base_location ORDER BY id"));
    EXPECT_EQ(t->ColumnCount, 3);
    EXPECT_EQ(t->ColumnNames, QStringList({QStringLiteral("ID"), QStringLiteral("PATH"), QStringLiteral("DATA")}));
    ASSERT_FALSE(t->AtEnd);
    EXPECT_EQ(t->ColumnAsInt64(0), 1);
    EXPECT_EQ(t->ColumnAsText(1), QStringLiteral("Music"));
    EXPECT_EQ(t->ColumnAsBlob(2)->ToByteArray(), QByteArray("\x01\x02", 2));
    EXPECT_EQ(t->ColumnAsBlob(2)->Position, 0);

    ASSERT_TRUE(t->Advance()); // NULLs
    EXPECT_TRUE(t->ColumnIsNull(1));
    EXPECT_EQ(t->ColumnAsText(1), QString());
    EXPECT_EQ(t->ColumnAsInt64(1), 0);
    EXPECT_EQ(t->ColumnAsBlob(2)->Size(), 0);

    ASSERT_TRUE(t->Advance()); // empty text is not NULL
    EXPECT_FALSE(t->ColumnIsNull(1));
    EXPECT_EQ(t->ColumnAsText(1), QString());

    EXPECT_FALSE(t->Advance());
    EXPECT_TRUE(t->AtEnd);
}

TEST_F(SQLiteWrap, EmptyResultStandsAtEnd) {
    TSQLiteDatabase db(FileName);
    auto t = db.Query(QStringLiteral("SELECT * FROM base_location WHERE id = 99"));
    EXPECT_TRUE(t->AtEnd);
    EXPECT_FALSE(t->Advance());
    EXPECT_TRUE(t->AtEnd);
}

TEST_F(SQLiteWrap, RunsOnlyTheFirstOfSeveralStatements) {
    TSQLiteDatabase db(FileName);
    auto t = db.Query(QStringLiteral("SELECT 7; DROP TABLE base_location"));
    EXPECT_EQ(t->ColumnAsInt64(0), 7);
    t.reset();
    auto again = db.Query(QStringLiteral("SELECT count(*) FROM base_location"));
    EXPECT_EQ(again->ColumnAsInt64(0), 3);
}

TEST_F(SQLiteWrap, ColumnIndexOfIgnoresCaseAndNamesTheMissingField) {
    TSQLiteDatabase db(FileName);
    auto t = db.Query(QStringLiteral("SELECT * FROM base_location"));
    EXPECT_EQ(t->ColumnIndexOf(QStringLiteral("path")), 1);
    EXPECT_EQ(t->ColumnIndexOf(QStringLiteral("PATH")), 1);
    EXPECT_EQ(MessageOf([&] { t->ColumnIndexOf(QStringLiteral("Nope")); }),
              QStringLiteral("Field not found in dataset: Nope"));
}

TEST_F(SQLiteWrap, ErrorMessagesAreComposedAsTheUserSeesThem) {
    TSQLiteDatabase db(FileName);
    EXPECT_EQ(MessageOf([&] { db.Query(QString()); }), QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(MessageOf([&] { db.Query(QStringLiteral("-- only a comment")); }),
              QStringLiteral("Could not prepare SQL statement"));
    EXPECT_EQ(MessageOf([&] { db.Query(QStringLiteral("SELECT * FROM missing")); }),
              QStringLiteral("Error executing SQL.\r\nError [1]: SQL error or missing database.\r\n"
                             "\"SELECT * FROM missing\": no such table: missing"));
}

TEST(SQLiteErrorTexts, KnownAndUnknownCodes) {
    const struct {
        int Code;
        const char* Text;
    } cases[] = {{0, "Successful result"},
                 {1, "SQL error or missing database"},
                 {19, "Abort due to contraint violation"},
                 {26, "File opened that is not a database file"},
                 {27, "Unknown SQLite Error Code \"27\""},
                 {100, "sqlite3_step() has another row ready"},
                 {101, "sqlite3_step() has finished executing"}};
    for (const auto& c : cases)
        EXPECT_EQ(SQLiteErrorText(c.Code), QString::fromLatin1(c.Text)) << c.Code;
}

TEST(SQLiteOpen, MissingFileFailsWithoutCreatingIt) {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("no/such/folder/x.db"));
    const QString message = MessageOf([&] { TSQLiteDatabase db(name); });
    EXPECT_TRUE(message.startsWith(QStringLiteral("Failed to open database \"%1\" : ").arg(name))) << message.toStdString();
    EXPECT_GT(message.size(), QStringLiteral("Failed to open database \"%1\" : ").arg(name).size());
    EXPECT_FALSE(QFileInfo::exists(name));
    const QString flat = dir.filePath(QStringLiteral("x.db"));
    EXPECT_NE(MessageOf([&] { TSQLiteDatabase db(flat); }), QStringLiteral("<no exception>"));
    EXPECT_FALSE(QFileInfo::exists(flat));
}

TEST(SQLiteOpen, WriteAheadLogIsReadWithoutWritingBesideTheDatabase) {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("MediaLibrary.sqlitedb"));
    TSqlLibraryContent content;
    for (int i = 0; i < 4; ++i)
        content.Tracks.append(TSqlTrack{.Pid = 10 + i, .Title = QStringLiteral("T%1").arg(i), .FileSize = 100});
    WriteMediaLibrary(name, content, 2);
    ASSERT_GT(QFileInfo(name + QStringLiteral("-wal")).size(), 0);
    const auto before = TreeSnapshot(dir.path());
    {
        TSQLiteDatabase db(name);
        auto t = db.Query(QStringLiteral("SELECT count(*) FROM item_extra"));
        EXPECT_EQ(t->ColumnAsInt64(0), 4); // two of them live only in the log
    }
    EXPECT_EQ(TreeSnapshot(dir.path()), before);
}

TEST(SQLiteOpen, DatabaseWithoutLogIsOpenedInPlaceAndLeftUntouched) {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("Library.itdb"));
    ExecSql(name, QStringLiteral("CREATE TABLE item (pid INTEGER); INSERT INTO item VALUES (5);"));
    const auto before = TreeSnapshot(dir.path());
    {
        TSQLiteDatabase db(name);
        EXPECT_EQ(db.Query(QStringLiteral("SELECT pid FROM item"))->ColumnAsInt64(0), 5);
    }
    EXPECT_EQ(TreeSnapshot(dir.path()), before);
}

} // namespace
