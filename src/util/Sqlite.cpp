#include "util/Sqlite.h"

#include "util/Error.h"
#include "util/WorkFolder.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QUrl>

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
