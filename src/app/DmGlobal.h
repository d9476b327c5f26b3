#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>

// The shared data module: the application's one SQLite connection and its query. The
// catalog reader and the query windows take turns on it, on the GUI thread only.
class TdmGlobal final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TdmGlobal)

public:
    explicit TdmGlobal(QObject* parent = nullptr);
    ~TdmGlobal() override;

    // Disconnects, points connSqlite at file (read-only, immutable) and reconnects; the
    // query is reset onto the new connection. Throws an Error naming the file on failure.
    void openDatabase(const QString& file);
    // Lets go of the file the connection is on (a private copy about to be removed).
    void closeDatabase();

    QSqlDatabase connSqlite;
    QSqlQuery qrySQL; // forward-only
};
