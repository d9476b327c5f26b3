#include "util/Sqlite.h"

#include "util/Error.h"
#include "util/WorkFolder.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <sqlite3.h>

QString readOnlyUri(const QString& path)
{
    // QUrl escapes '?', '#' and '%' in the path, which SQLite would otherwise read as URI syntax.
    const QString url =
        QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    // Our own copies may carry a -wal beside them whose rows must show; an immutable open
    // would ignore it. Whatever SQLite writes for it stays in the private folder.
    if (TWorkFolder::contains(path))
        return url + QStringLiteral("?mode=ro");
    return url + QStringLiteral("?mode=ro&immutable=1");
}

void openReadOnlyDatabase(QSqlDatabase& db, const QString& path)
{
    db.close();
    const QFileInfo info(path);
    if (!info.isFile())
        throw Error(QStringLiteral("database file not found: %1").arg(path));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY"));
    db.setDatabaseName(readOnlyUri(path));
    if (!db.open())
        throw Error(QStringLiteral("cannot open database %1: %2").arg(path, db.lastError().text()));
}

QString describeSqlError(const QSqlError& error, const QString& path)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    if (text.contains(QLatin1String("file is not a database")) ||
        text.contains(QLatin1String("file is encrypted")))
        return QStringLiteral("%1 is not a SQLite database").arg(path);
    if (text.contains(QLatin1String("database disk image is malformed")))
        return QStringLiteral("%1 is damaged (database disk image is malformed)").arg(path);
    return QStringLiteral("%1: %2").arg(path, text);
}

sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

QStringList tableColumns(const QString& path, const QString& table)
{
    static QAtomicInt counter;
    const QString name = QStringLiteral("ferrowick-columns-%1").arg(counter.fetchAndAddRelaxed(1));
    QStringList columns;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        try {
            openReadOnlyDatabase(db, path);
            QSqlQuery q(db);
            q.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"));
            q.addBindValue(table);
            if (q.exec())
                while (q.next())
                    columns << q.value(0).toString();
        } catch (const Error&) {
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return columns;
}

namespace {

using Decode = std::optional<QString> (*)(QByteArrayView);

void blobTextFunction(sqlite3_context* context, int, sqlite3_value** values)
{
    const auto decode = reinterpret_cast<Decode>(sqlite3_user_data(context));
    if (sqlite3_value_type(values[0]) != SQLITE_BLOB) {
        sqlite3_result_null(context);
        return;
    }
    const auto* data = static_cast<const char*>(sqlite3_value_blob(values[0]));
    const int size = sqlite3_value_bytes(values[0]);
    const std::optional<QString> text = decode(QByteArrayView(data, size));
    if (!text) {
        sqlite3_result_null(context);
        return;
    }
    const QByteArray utf8 = text->toUtf8();
    sqlite3_result_text(context, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

} // namespace

void registerBlobTextFunction(const QSqlDatabase& db, const char* name, Decode decode)
{
    if (sqlite3* handle = sqliteHandle(db))
        sqlite3_create_function(handle, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                reinterpret_cast<void*>(decode), blobTextFunction, nullptr,
                                nullptr);
}
