// Times the record tables of current iPhones on large databases: 50,000 calls matched against an
// address book of 5,000 people (two numbers each), and 5,000 notes of about 4 KB each, every
// body inflated and decoded. Prints the time until every row is read (median of 5 runs).
#include "CurrentDatabases.h"
#include "app/DmGlobal.h"
#include "tables/PersonalDataQueries.h"
#include "tables/QueryResult.h"
#include "util/Sqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void build(const QString& path, const std::function<void(QSqlQuery&)>& fill)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "bench");
        db.setDatabaseName(path);
        db.open();
        db.transaction();
        QSqlQuery q(db);
        fill(q);
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase("bench");
}

QString number(int person, int which)
{
    return QStringLiteral("+86 139 %1 %2").arg(person, 4, 10, QLatin1Char('0')).arg(which + 10);
}

double timeRows(TdmGlobal& dm, const QString& db, const QStringList& statements, qsizetype& rows)
{
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        QueryResult result;
        runStatements(dm, db, statements, result);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        rows = result.rowCount();
    }
    return median(times);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int people = 5000, calls = 50000, notes = 5000;
    QTemporaryDir dir;
    const QString book = QDir(dir.path()).filePath("AddressBook.sqlitedb");
    build(book, [&](QSqlQuery& q) {
        q.exec("CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY, First TEXT, Last TEXT, "
               "Organization TEXT)");
        q.exec("CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property "
               "INTEGER, label INTEGER, value TEXT)");
        q.prepare("INSERT INTO ABPerson VALUES (?, ?, ?, NULL)");
        for (int p = 1; p <= people; ++p) {
            q.addBindValue(p);
            q.addBindValue(QStringLiteral("First%1").arg(p));
            q.addBindValue(QStringLiteral("Last%1").arg(p));
            q.exec();
        }
        q.prepare(
            "INSERT INTO ABMultiValue (record_id, property, label, value) VALUES (?, 3, 1, ?)");
        for (int p = 1; p <= people; ++p)
            for (int w = 0; w < 2; ++w) {
                q.addBindValue(p);
                q.addBindValue(number(p, w).remove(QLatin1Char(' ')));
                q.exec();
            }
    });
    const QString store = QDir(dir.path()).filePath("CallHistory.storedata");
    build(store, [&](QSqlQuery& q) {
        q.exec("CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, ZANSWERED INTEGER, ZCALLTYPE "
               "INTEGER, ZORIGINATED INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZADDRESS BLOB, "
               "ZNAME VARCHAR, ZSERVICE_PROVIDER VARCHAR)");
        q.prepare("INSERT INTO ZCALLRECORD VALUES (?, ?, 1, ?, ?, ?, ?, NULL, "
                  "'com.apple.Telephony')");
        for (int c = 1; c <= calls; ++c) {
            q.addBindValue(c);
            q.addBindValue(c % 3 != 0);
            q.addBindValue(c % 2);
            q.addBindValue(700000000.0 + c * 600);
            q.addBindValue(double(c % 4000));
            // Four calls in five from a known number, the rest from strangers.
            q.addBindValue(c % 5 ? number(c % people + 1, c % 2).toUtf8()
                                 : QStringLiteral("+1 415 555 %1").arg(c % 10000).toUtf8());
            q.exec();
        }
    });
    const QString noteStore = QDir(dir.path()).filePath("NoteStore.sqlite");
    QString text;
    for (int line = 0; line < 60; ++line)
        text += QStringLiteral("Line %1 of a long note, with some 文字 in it as well.\n").arg(line);
    const QByteArray body = CurrentDatabases::noteBody(text);
    build(noteStore, [&](QSqlQuery& q) {
        q.exec("CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR)");
        q.exec("INSERT INTO Z_PRIMARYKEY VALUES (12, 'ICNote'), (16, 'ICFolder')");
        q.exec("CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
               "ZISPASSWORDPROTECTED INTEGER, ZMARKEDFORDELETION INTEGER, ZFOLDER INTEGER, "
               "ZNOTEDATA INTEGER, ZCREATIONDATE3 TIMESTAMP, ZMODIFICATIONDATE1 TIMESTAMP, "
               "ZTITLE1 VARCHAR, ZTITLE2 VARCHAR)");
        q.exec("CREATE TABLE ZICNOTEDATA (Z_PK INTEGER PRIMARY KEY, ZNOTE INTEGER, ZDATA BLOB)");
        q.exec("INSERT INTO ZICCLOUDSYNCINGOBJECT (Z_PK, Z_ENT, ZTITLE2) VALUES (1, 16, 'Notes')");
        q.prepare("INSERT INTO ZICCLOUDSYNCINGOBJECT VALUES (?, 12, 0, 0, 1, ?, ?, ?, ?, NULL)");
        for (int n = 2; n <= notes + 1; ++n) {
            q.addBindValue(n);
            q.addBindValue(n);
            q.addBindValue(700000000.0 + n);
            q.addBindValue(700000000.0 + n * 2);
            q.addBindValue(QStringLiteral("Note %1").arg(n));
            q.exec();
        }
        q.prepare("INSERT INTO ZICNOTEDATA VALUES (?, ?, ?)");
        for (int n = 2; n <= notes + 1; ++n) {
            q.addBindValue(n);
            q.addBindValue(n);
            q.addBindValue(body);
            q.exec();
        }
    });

    TdmGlobal dm;
    qsizetype rows = 0;
    const double named =
        timeRows(dm, store, callRecordStatements(tableColumns(store, "ZCALLRECORD"), book), rows);
    std::printf("call history, %lld calls, names from %d cards of 2 numbers: median %.0f ms\n",
                (long long)rows, people, named);
    const double plain = timeRows(
        dm, store, callRecordStatements(tableColumns(store, "ZCALLRECORD"), QString()), rows);
    std::printf("call history, %lld calls, without the address book:      median %.0f ms\n",
                (long long)rows, plain);
    const double read =
        timeRows(dm, noteStore,
                 noteStoreStatements(tableColumns(noteStore, "ZICCLOUDSYNCINGOBJECT"),
                                     tableColumns(noteStore, "ZICNOTEDATA")),
                 rows);
    std::printf("notes, %lld notes of %lld characters, every body inflated:  median %.0f ms\n",
                (long long)rows, (long long)text.size(), read);
    dm.closeDatabase();
    return 0;
}
