#include "SQLiteWrap.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <sqlite3.h>

namespace {

[[noreturn]] void RaiseOpenError(const QString& fileName, sqlite3* db) {
    QString detail = QStringLiteral("Unknown error");
    if (db)
        detail = QString::fromUtf8(sqlite3_errmsg(db));
    throw ESQLiteException(QStringLiteral("Failed to open database \"%1\" : %2").arg(fileName, detail));
}

bool HasWriteAheadLog(const QString& fileName) {
    const QFileInfo wal(fileName + QStringLiteral("-wal"));
    return wal.isFile() && wal.size() > 0;
}

} // namespace

TSQLiteLibrary::TSQLiteLibrary() { sqlite3_initialize(); }
TSQLiteLibrary::~TSQLiteLibrary() { sqlite3_shutdown(); }

TSQLiteDatabase::TSQLiteDatabase(const QString& fileName, bool localCopy) {
    sqlite3_initialize();
    QString target = fileName;
    bool immutable = false;
    if (!localCopy && HasWriteAheadLog(fileName)) {
        // The log must be read, but opening it where it lies would write SQLite's index
        // file beside it: read both from a private copy instead.
        FCopyDir = std::make_unique<QTemporaryDir>();
        target = FCopyDir->filePath(QStringLiteral("db"));
        if (!FCopyDir->isValid() || !QFile::copy(fileName, target) ||
            !QFile::copy(fileName + QStringLiteral("-wal"), target + QStringLiteral("-wal")))
            RaiseOpenError(fileName, nullptr);
    } else if (!localCopy) {
        immutable = true;
    }
    QByteArray uri = "file:" + QUrl::toPercentEncoding(target, "/");
    if (immutable)
        uri += "?immutable=1";
    // Never SQLITE_OPEN_CREATE: a missing file is an error, not a new empty database.
    const int flags = SQLITE_OPEN_URI | (immutable ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
    const int rc = sqlite3_open_v2(uri.constData(), &FDb, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3* db = FDb;
        FDb = nullptr;
        try {
            RaiseOpenError(fileName, db);
        } catch (...) {
            sqlite3_close(db);
            throw;
        }
    }
}

TSQLiteDatabase::~TSQLiteDatabase() {
    if (FDb)
        sqlite3_close(FDb);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::Query(const QString& sql) {
    return std::make_unique<TSQLiteTable>(this, sql);
}

TSQLiteTable::TSQLiteTable(TSQLiteDatabase* db, const QString& sql) : FDb(db), FSql(sql) {
    const QByteArray text = sql.toUtf8();
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(FDb->Handle(), text.constData(), -1, &FStmt, &tail);
    if (rc != SQLITE_OK)
        RaiseQueryError(QStringLiteral("Error executing SQL"));
    if (!FStmt)
        RaiseQueryError(QStringLiteral("Could not prepare SQL statement"));
    ColumnCount = sqlite3_column_count(FStmt);
    for (int i = 0; i < ColumnCount; ++i)
        ColumnNames.append(QString::fromUtf8(sqlite3_column_name(FStmt, i)).toUpper());
    try {
        Advance();
    } catch (...) {
        sqlite3_finalize(FStmt);
        FStmt = nullptr;
        throw;
    }
}

TSQLiteTable::~TSQLiteTable() {
    if (FStmt)
        sqlite3_finalize(FStmt);
}

bool TSQLiteTable::Advance() {
    AtEnd = true;
    const int rc = sqlite3_step(FStmt);
    if (rc == SQLITE_ROW)
        AtEnd = false;
    else if (rc != SQLITE_DONE) {
        sqlite3_reset(FStmt);
        RaiseQueryError(QStringLiteral("Could not retrieve data"));
    }
    return !AtEnd;
}

qint64 TSQLiteTable::ColumnAsInt64(int index) const { return sqlite3_column_int64(FStmt, index); }

QString TSQLiteTable::ColumnAsText(int index) const {
    const unsigned char* text = sqlite3_column_text(FStmt, index);
    if (!text)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(text), sqlite3_column_bytes(FStmt, index));
}

bool TSQLiteTable::ColumnIsNull(int index) const { return sqlite3_column_text(FStmt, index) == nullptr; }

QByteArray TSQLiteTable::ColumnAsBytes(int index) const {
    const int n = sqlite3_column_bytes(FStmt, index);
    if (n <= 0)
        return {};
    const void* blob = sqlite3_column_blob(FStmt, index);
    return blob ? QByteArray(static_cast<const char*>(blob), n) : QByteArray();
}

std::unique_ptr<TMemoryStream> TSQLiteTable::ColumnAsBlob(int index) const {
    auto stream = std::make_unique<TMemoryStream>();
    const QByteArray bytes = ColumnAsBytes(index);
    if (!bytes.isEmpty()) {
        stream->Write(bytes);
        stream->Position = 0;
    }
    return stream;
}

int TSQLiteTable::ColumnIndexOf(const QString& name) const {
    if (ColumnNames.isEmpty())
        throw ESQLiteException(QStringLiteral("Field %1 Not found. Empty dataset").arg(name));
    const QString upper = name.toUpper();
    for (int i = 0; i < ColumnNames.size(); ++i)
        if (ColumnNames[i].compare(upper, Qt::CaseInsensitive) == 0)
            return i;
    throw ESQLiteException(QStringLiteral("Field not found in dataset: %1").arg(name));
}

void TSQLiteTable::RaiseQueryError(const QString& prefix) const {
    sqlite3* db = FDb->Handle();
    const int code = sqlite3_errcode(db);
    const char* msg = code != 0 ? sqlite3_errmsg(db) : nullptr;
    if (code != 0 && msg)
        throw ESQLiteException(QStringLiteral("%1.\r\nError [%2]: %3.\r\n\"%4\": %5")
                                   .arg(prefix, QString::number(code), SQLiteErrorText(code), FSql,
                                        QString::fromUtf8(msg)));
    throw ESQLiteException(prefix);
}

QString SQLiteErrorText(int code) {
    static const char* const texts[] = {
        "Successful result",
        "SQL error or missing database",
        "An internal logic error in SQLite",
        "Access permission denied",
        "Callback routine requested an abort",
        "The database file is locked",
        "A table in the database is locked",
        "A malloc() failed",
        "Attempt to write a readonly database",
        "Operation terminated by sqlite3_interrupt()",
        "Some kind of disk I/O error occurred",
        "The database disk image is malformed",
        "(Internal Only) Table or record not found",
        "Insertion failed because database is full",
        "Unable to open the database file",
        "Database lock protocol error",
        "Database is empty",
        "The database schema changed",
        "Too much data for one row of a table",
        "Abort due to contraint violation",
        "Data type mismatch",
        "Library used incorrectly",
        "Uses OS features not supported on host",
        "Authorization denied",
        "Auxiliary database format error",
        "2nd parameter to sqlite3_bind out of range",
        "File opened that is not a database file",
    };
    if (code >= 0 && code < int(std::size(texts)))
        return QString::fromLatin1(texts[code]);
    if (code == 100)
        return QStringLiteral("sqlite3_step() has another row ready");
    if (code == 101)
        return QStringLiteral("sqlite3_step() has finished executing");
    return QStringLiteral("Unknown SQLite Error Code \"%1\"").arg(code);
}
