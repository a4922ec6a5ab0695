#pragma once

#include "MemoryStream.h"
#include "QuenlorError.h"

#include <QStringList>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;
class QTemporaryDir;

class ESQLiteException : public EQuenlorError {
public:
    using EQuenlorError::EQuenlorError;
};

class TSQLiteTable;

// One read-only connection to a database file. Never writes to the file it is given:
// a database on the device is opened immutable, or, when a write-ahead log lies beside
// it, read from a private local copy of both so that the log's content is seen.
// A file the program fetched itself (LocalCopy) is opened in place, so that its log is
// read by SQLite as usual. Raises ESQLiteException when the file cannot be opened.
class TSQLiteDatabase {
public:
    explicit TSQLiteDatabase(const QString& fileName, bool localCopy = false);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    // Prepares the first statement of sql and stands on its first row.
    std::unique_ptr<TSQLiteTable> Query(const QString& sql);
    sqlite3* Handle() const { return FDb; }

private:
    sqlite3* FDb = nullptr;
    std::unique_ptr<QTemporaryDir> FCopyDir;
};

// A prepared statement with a forward-only cursor; must be freed before its database.
class TSQLiteTable {
public:
    TSQLiteTable(TSQLiteDatabase* db, const QString& sql);
    ~TSQLiteTable();
    TSQLiteTable(const TSQLiteTable&) = delete;
    TSQLiteTable& operator=(const TSQLiteTable&) = delete;

    int ColumnCount = 0;
    QStringList ColumnNames;
    bool AtEnd = true;

    bool Advance();
    qint64 ColumnAsInt64(int index) const;
    QString ColumnAsText(int index) const;
    bool ColumnIsNull(int index) const;
    std::unique_ptr<TMemoryStream> ColumnAsBlob(int index) const;
    // The blob's bytes without a stream around them.
    QByteArray ColumnAsBytes(int index) const;
    int ColumnIndexOf(const QString& name) const;

private:
    [[noreturn]] void RaiseQueryError(const QString& prefix) const;
    sqlite3_stmt* FStmt = nullptr;
    TSQLiteDatabase* FDb;
    QString FSql;
};

QString SQLiteErrorText(int code);

// Library start and end; the program's mains hold one for their whole run.
class TSQLiteLibrary {
public:
    TSQLiteLibrary();
    ~TSQLiteLibrary();
};
