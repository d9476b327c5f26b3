#include "app/DmGlobal.h"
#include "tables/CsvWriter.h"
#include "tables/QueryResult.h"
#include "util/Error.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using Table = QList<QStringList>;
Q_DECLARE_METATYPE(Table)

namespace {

// A reader of RFC 4180 CSV written apart from the writer: a state machine over the decoded text.
Table parseCsv(const QByteArray& bytes)
{
    if (!bytes.startsWith("\xef\xbb\xbf"))
        throw Error(QStringLiteral("no byte-order mark"));
    const QString text = QString::fromUtf8(bytes.mid(3));
    Table table;
    QStringList record;
    QString field;
    enum
    {
        FieldStart,
        Plain,
        Quoted,
        QuoteInQuoted
    } state = FieldStart;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (state) {
        case FieldStart:
        case Plain:
            if (c == u'"' && state == FieldStart) {
                state = Quoted;
            } else if (c == u',') {
                record << field;
                field.clear();
                state = FieldStart;
            } else if (c == u'\r') {
                if (i + 1 >= text.size() || text[i + 1] != u'\n')
                    throw Error(QStringLiteral("bare CR at %1").arg(i));
                ++i;
                record << field;
                table << record;
                record.clear();
                field.clear();
                state = FieldStart;
            } else if (c == u'\n' || c == u'"') {
                throw Error(QStringLiteral("unquoted %1 at %2").arg(c).arg(i));
            } else {
                field += c;
                state = Plain;
            }
            break;
        case Quoted:
            if (c == u'"')
                state = QuoteInQuoted;
            else
                field += c;
            break;
        case QuoteInQuoted:
            if (c == u'"') {
                field += c;
                state = Quoted;
            } else {
                --i; // the closing quote ended the field; read c as after a plain field
                state = Plain;
                if (text[i + 1] != u',' && text[i + 1] != u'\r')
                    throw Error(QStringLiteral("text after a closing quote at %1").arg(i + 1));
            }
            break;
        }
    }
    if (state != FieldStart || !record.isEmpty() || !field.isEmpty())
        throw Error(QStringLiteral("the last line has no CR LF"));
    return table;
}

} // namespace

class TestCsvWriter : public QObject
{
    Q_OBJECT
private slots:
    void bytes_data();
    void bytes();
    void queryResult();
    void replacesAnExistingFile();
    void unwritableFileThrows();
    void streamedSaveEqualsTheWholeText();
    void savedCellsAreTheDriversCells();
};

void TestCsvWriter::bytes_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("header only") << Table{{"a", "b"}}
                                 << QByteArray("\xef\xbb\xbf"
                                               "a,b\r\n");
    QTest::newRow("plain values unchanged")
        << Table{{"when", "who"}, {" 2000-12-31 18:00:00 ", "+8613800138000"}, {"", ""}}
        << QByteArray("\xef\xbb\xbfwhen,who\r\n 2000-12-31 18:00:00 ,+8613800138000\r\n,\r\n");
    QTest::newRow("comma, quote, CR and LF are quoted")
        << Table{{"h,1", "h2"},
                 {"Milk, eggs", "She said \"hi\"", "line\nbreak", "cr\rhere", "crlf\r\n"},
                 {"\"", ",", "'single' stays"}}
        << QByteArray("\xef\xbb\xbf\"h,1\",h2\r\n"
                      "\"Milk, eggs\",\"She said "
                      "\"\"hi\"\"\",\"line\nbreak\",\"cr\rhere\",\"crlf\r\n\"\r\n"
                      "\"\"\"\",\",\",'single' stays\r\n");
    QTest::newRow("non-ASCII as UTF-8")
        << Table{{"text"}, {QString::fromUtf8("晚上一起吃饭吗？😊")}}
        << QByteArray("\xef\xbb\xbftext\r\n") + QString::fromUtf8("晚上一起吃饭吗？😊").toUtf8() +
               "\r\n";
}

void TestCsvWriter::bytes()
{
    QFETCH(Table, table);
    QFETCH(QByteArray, expected);
    CsvWriter csv;
    for (const QStringList& line : table)
        csv.addLine(line);
    QCOMPARE(csv.bytes(), expected);
    QCOMPARE(parseCsv(csv.bytes()), table);
}

void TestCsvWriter::queryResult()
{
    // A small result through the shared connection, NULL and an empty result set included.
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("t.db"));
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("create table t (a text, b integer, c real)")));
        QVERIFY(
            q.exec(QStringLiteral("insert into t values ('x, \"y\"', 1, 2.5), (null, null, null), "
                                  "('two\nlines', -3, 0.1)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));

    TdmGlobal dm;
    QueryResult result;
    const QString statement = QStringLiteral("select a, b as \"B\", c * 2 from t");
    runStatements(dm, file, {statement}, result);
    const QByteArray csv = queryToCsv(dm.qrySQL, statement);
    QCOMPARE(csv,
             QByteArray("\xef\xbb\xbf"
                        "a,B,c * 2\r\n\"x, \"\"y\"\"\",1,5\r\n,,\r\n\"two\nlines\",-3,0.2\r\n"));
    Table cells{result.columns};
    for (qsizetype r = 0; r < result.rowCount(); ++r) {
        QStringList row;
        for (qsizetype c = 0; c < result.columns.size(); ++c)
            row << result.cell(r, c);
        cells << row;
    }
    QCOMPARE(parseCsv(csv), cells); // the file holds what the table shows

    const QString empty = QStringLiteral("select a, b from t where b > 100");
    QCOMPARE(queryToCsv(dm.qrySQL, empty), QByteArray("\xef\xbb\xbf"
                                                      "a,b\r\n"));
    QVERIFY_THROWS_EXCEPTION(Error, queryToCsv(dm.qrySQL, QStringLiteral("select nothing from t")));
}

void TestCsvWriter::replacesAnExistingFile()
{
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("export.csv"));
    writeFileReplacing(file, QByteArray(10000, 'z'));
    writeFileReplacing(file, "short\r\n");
    QFile read(file);
    QVERIFY(read.open(QIODevice::ReadOnly));
    QCOMPARE(read.readAll(), QByteArray("short\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("export.csv")});
}

void TestCsvWriter::unwritableFileThrows()
{
    QTemporaryDir dir;
    try {
        writeFileReplacing(QDir(dir.path()).filePath(QStringLiteral("no/such/folder/x.csv")), "x");
        QFAIL("no error");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(QLatin1String("x.csv")), qPrintable(e.message()));
    }
}

// Saved in blocks as the rows come, the file is byte for byte the text built whole, across many
// block boundaries and multibyte text; a failing statement leaves the old file as it was.
void TestCsvWriter::streamedSaveEqualsTheWholeText()
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "stream");
    db.setDatabaseName(":memory:");
    QVERIFY(db.open());
    {
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE t (a TEXT, b TEXT)"));
        QVERIFY(
            q.exec("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE n < "
                   "60000) INSERT INTO t SELECT 'row ' || n || ', \"q\"', '你好 ' || n FROM r"));
        const QString statement = "SELECT a AS \"A\", b AS \"B\" FROM t";
        const QByteArray whole = queryToCsv(q, statement);
        QVERIFY(whole.size() > 1536 * 1024); // several blocks
        QTemporaryDir dir;
        const QString path = dir.filePath("out.csv");
        saveQueryAsCsv(q, statement, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == whole);
        file.close();
        QVERIFY_THROWS_EXCEPTION(Error, saveQueryAsCsv(q, "SELECT * FROM nothing", path));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == whole);
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("stream");
}

// The save reads SQLite itself: every kind of cell comes out as the driver's value shows it.
void TestCsvWriter::savedCellsAreTheDriversCells()
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "kinds");
    db.setDatabaseName(":memory:");
    QVERIFY(db.open());
    {
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE t (v)"));
        QVERIFY(q.exec("INSERT INTO t VALUES (0), (-9223372036854775808), (0.1), (1e300), "
                       "(-0.0), (2.5e-7), (123456789.125), (NULL), (x'00ff41'), "
                       "(x'e4bda0e5a5bd'), (CAST(x'41ff42' AS TEXT)), ('a' || char(0) || 'b'), "
                       "('你好, \"x\"'), (''), (x'')"));
        const QString statement = "SELECT v, typeof(v) FROM t";
        const QByteArray whole = queryToCsv(q, statement);
        QTemporaryDir dir;
        const QString path = dir.filePath("kinds.csv");
        saveQueryAsCsv(q, statement, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), whole);
        QVERIFY_THROWS_EXCEPTION(Error, saveQueryAsCsv(q, "SELECT 1; SELECT 2", path));
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("kinds");
}

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
