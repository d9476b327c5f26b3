#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

class QSqlDatabase;
class QSqlError;

// The SQLite URI that opens a database read-only. A file of a backup opens immutable: SQLite
// then writes nothing beside it (no journal, -wal or -shm), and WAL-mode files still open. A
// copy in the private working folder opens plainly, so a -wal beside it is applied.
QString readOnlyUri(const QString& path);

// Points db (a QSQLITE connection) at path, read-only (see readOnlyUri). Never creates the
// file: throws an Error naming the path when it is missing or cannot be opened.
void openReadOnlyDatabase(QSqlDatabase& db, const QString& path);

// A readable message for a failed statement on the database file at path: the driver's
// own text where it is clear, plainer words where it is cryptic.
QString describeSqlError(const QSqlError& error, const QString& path);

struct sqlite3;
// The SQLite handle under a QSQLITE connection, or nullptr when it is not open.
sqlite3* sqliteHandle(const QSqlDatabase& db);

// The column names of table in the database at path (opened read-only as above, on a connection
// of its own); empty when the file or the table cannot be read.
QStringList tableColumns(const QString& path, const QString& table);

// Registers name(blob) on db's connection: the text decode makes of a BLOB argument, NULL for
// any other argument or when decode finds none.
void registerBlobTextFunction(const QSqlDatabase& db, const char* name,
                              std::optional<QString> (*decode)(QByteArrayView));
