#include "app/DmGlobal.h"

#include "tables/NoteStore.h"
#include "tables/PersonalDataQueries.h"
#include "util/Sqlite.h"

#include <QAtomicInt>

static QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("connSqlite-%1").arg(counter.fetchAndAddRelaxed(1));
}

TdmGlobal::TdmGlobal(QObject* parent)
    : QObject(parent),
      connSqlite(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nextConnectionName()))
{
}

TdmGlobal::~TdmGlobal()
{
    const QString name = connSqlite.connectionName();
    qrySQL = QSqlQuery();
    connSqlite.close();
    connSqlite = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

void TdmGlobal::openDatabase(const QString& file)
{
    qrySQL = QSqlQuery(); // a live query would keep the old file busy
    openReadOnlyDatabase(connSqlite, file);
    registerMessageFunctions(connSqlite);
    registerContactFunctions(connSqlite);
    registerNoteFunctions(connSqlite);
    qrySQL = QSqlQuery(connSqlite);
    qrySQL.setForwardOnly(true);
}

void TdmGlobal::closeDatabase()
{
    qrySQL = QSqlQuery();
    connSqlite.close();
}
