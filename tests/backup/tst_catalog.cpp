#include "app/DmGlobal.h"
#include "backup/BackupFileManager.h"
#include "util/Error.h"
#include "FolderSnapshot.h"
#include "SampleBackup.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Hand-made Manifest.mbdb bytes, for layouts the generator would never write.
struct Mbdb
{
    QByteArray bytes = QByteArray("mbdb\x05\x00", 6);

    Mbdb& str(const QByteArray& s)
    {
        bytes.append(char(s.size() >> 8)).append(char(s.size() & 0xff)).append(s);
        return *this;
    }
    Mbdb& null()
    {
        bytes.append("\xff\xff", 2);
        return *this;
    }
    Mbdb& raw(const QByteArray& b)
    {
        bytes.append(b);
        return *this;
    }
    // A 40-byte block with the given fields and zeros elsewhere.
    Mbdb& block(qint32 uid, qint32 gid, qint64 length, quint8 flag, quint8 count)
    {
        QByteArray b(40, '\0');
        auto put = [&b](int at, quint64 v, int size) {
            for (int i = 0; i < size; ++i)
                b[at + i] = char((v >> (8 * (size - 1 - i))) & 0xff);
        };
        put(10, quint32(uid), 4);
        put(14, quint32(gid), 4);
        put(30, quint64(length), 8);
        b[38] = char(flag);
        b[39] = char(count);
        return raw(b);
    }
    Mbdb& record(const QByteArray& domain, const QByteArray& path)
    {
        return str(domain).str(path).null().null().null().block(501, 501, 10, 4, 0);
    }
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QString sha1sum(const QByteArray& text)
{
    QProcess p;
    p.start(QStringLiteral("sha1sum"), {});
    p.waitForStarted();
    p.write(text);
    p.closeWriteChannel();
    p.waitForFinished();
    return QString::fromLatin1(p.readAllStandardOutput().left(40));
}

QString errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.message();
    }
    return {};
}

} // namespace

class TestCatalog : public QObject
{
    Q_OBJECT
private slots:
    void catalogStrings_data();
    void catalogStrings();
    void keyRule();
    void fixedBlockAndProperties();
    void bothFormatsReadTheSameRecords();
    void progressAndCancel_data();
    void progressAndCancel();
    void emptyCatalogs_data();
    void emptyCatalogs();
    void truncatedMbdb_data();
    void truncatedMbdb();
    void catalogErrors_data();
    void catalogErrors();
    void eventsRunWhileAStatementRuns();
    void bothCatalogsPrefersMbdb();
    void storedCopyLayouts();
    void nothingWrittenIntoTheBackup_data();
    void nothingWrittenIntoTheBackup();
    void mutatedMbdbNeverCrashes();
    void realBackup();

private:
    TdmGlobal m_dm;
};

void TestCatalog::catalogStrings_data()
{
    QTest::addColumn<QByteArray>("domain"); // raw bytes as stored; empty means null
    QTest::addColumn<bool>("isNull");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null FFFF") << QByteArray() << true << QString();
    QTest::newRow("empty") << QByteArray("") << false << QString();
    QTest::newRow("ascii") << QByteArray("HomeDomain") << false << QStringLiteral("HomeDomain");
    QTest::newRow("utf-8") << QByteArray("Fotos/Übersicht 照片") << false << QStringLiteral("Fotos/Übersicht 照片");
    QTest::newRow("malformed utf-8") << QByteArray("bad\xff\xfe" "end") << false
                                     << QStringLiteral("bad\uFFFD\uFFFDend");
}

void TestCatalog::catalogStrings()
{
    QFETCH(QByteArray, domain);
    QFETCH(bool, isNull);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    Mbdb m;
    if (isNull)
        m.null();
    else
        m.str(domain);
    // The string must take exactly its bytes: the next fields and record read back intact.
    m.str("path").null().null().null().block(1, 2, 3, 4, 0).record("Next", "record");
    writeFile(dir.filePath("Manifest.mbdb"), m.bytes);

    TBackupFileManager mgr(dir.path(), m_dm);
    mgr.ParseDb();
    QCOMPARE(mgr.Records().size(), size_t(2));
    QCOMPARE(mgr.Records()[0].Domain, expected);
    QCOMPARE(mgr.Records()[0].Path, QStringLiteral("path"));
    QCOMPARE(mgr.Records()[1].Domain, QStringLiteral("Next"));
    // The key is the digest of the bytes as stored, so even a malformed name finds its copy.
    QCOMPARE(mgr.Records()[0].Key, SampleBackup::keyOf(domain, "path"));
}

void TestCatalog::keyRule()
{
    // Independent references: sha1sum, and the key the device gave sms.db in a real backup.
    const QString expected = sha1sum("HomeDomain-Library/SMS/sms.db");
    QCOMPARE(expected, QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28"));
    QTemporaryDir dir;
    writeFile(dir.filePath("Manifest.mbdb"), Mbdb().record("HomeDomain", "Library/SMS/sms.db").bytes);
    TBackupFileManager mgr(dir.path(), m_dm);
    mgr.ParseDb();
    QCOMPARE(mgr.Records().at(0).Key, expected);
    QCOMPARE(CatalogKey("HomeDomain", "Library/SMS/sms.db"), expected);
}

void TestCatalog::fixedBlockAndProperties()
{
    QTemporaryDir dir;
    Mbdb m;
    m.str("MediaDomain").str("Media/a.jpg").str("../target").str("\x01\x02hash").str("enc-key");
    m.block(-2, 501, 0x100000002LL, 0xA5, 2);
    m.str("com.apple.assetsd.UUID").str("1234-ABCD").str("empty").null();
    m.record("HomeDomain", "after");
    writeFile(dir.filePath("Manifest.mbdb"), m.bytes);

    TBackupFileManager mgr(dir.path(), m_dm);
    mgr.ParseDb();
    QCOMPARE(mgr.Records().size(), size_t(2));
    const TBackupFileRecord& r = mgr.Records()[0];
    QVERIFY(r.IsOld);
    QCOMPARE(r.LinkTarget, QStringLiteral("../target"));
    QCOMPARE(r.DataHash, QString::fromUtf8("\x01\x02hash"));
    QCOMPARE(r.UserId, -2);
    QCOMPARE(r.GroupId, 501);
    QCOMPARE(r.FileLength, 0x100000002LL);
    QCOMPARE(r.Flag, quint8(0xA5));
    QCOMPARE(r.PropertyCount, quint8(2));
    QCOMPARE(r.Properties.size(), 2);
    QCOMPARE(r.Properties[0].Name, QStringLiteral("com.apple.assetsd.UUID"));
    QCOMPARE(r.Properties[0].Value, QStringLiteral("1234-ABCD"));
    QCOMPARE(r.Properties[1].Name, QStringLiteral("empty"));
    QCOMPARE(r.Properties[1].Value, QString());
    QCOMPARE(mgr.Records()[1].Path, QStringLiteral("after"));
}

void TestCatalog::bothFormatsReadTheSameRecords()
{
    SampleBackup backup;
    backup.addFiller(500, 3);
    for (auto catalog : {SampleBackup::Catalog::Mbdb, SampleBackup::Catalog::Db}) {
        QTemporaryDir dir;
        backup.catalog = catalog;
        backup.write(dir.path());
        TBackupFileManager mgr(dir.path(), m_dm);
        QCOMPARE(mgr.isSqlite(), catalog == SampleBackup::Catalog::Db);
        mgr.ParseDb();
        QCOMPARE(mgr.Records().size(), backup.entries().size());
        for (size_t i = 0; i < backup.entries().size(); ++i) {
            const auto& e = backup.entries()[i];
            const auto& r = mgr.Records()[i];
            QCOMPARE(r.Domain, e.domain);
            QCOMPARE(r.Path, e.path);
            QCOMPARE(r.Key, SampleBackup::keyOf(e));
            QCOMPARE(r.IsOld, catalog == SampleBackup::Catalog::Mbdb);
        }
    }
}

void TestCatalog::progressAndCancel_data()
{
    QTest::addColumn<bool>("sqlite");
    QTest::newRow("Manifest.mbdb") << false;
    QTest::newRow("Manifest.db") << true;
}

void TestCatalog::progressAndCancel()
{
    QFETCH(bool, sqlite);
    QTemporaryDir dir;
    SampleBackup backup;
    backup.catalog = sqlite ? SampleBackup::Catalog::Db : SampleBackup::Catalog::Mbdb;
    backup.addFiller(100, 5);
    backup.write(dir.path());

    // A full read: the hook runs once per record and progress only grows; the binary reader
    // reports the position before each record (below 100), the SQLite one reaches 100.
    QList<double> seen;
    TBackupFileManager* current = nullptr;
    TBackupFileManager full(dir.path(), m_dm, [&] { seen.append(current->Progress()); });
    current = &full;
    full.ParseDb();
    QCOMPARE(full.Records().size(), size_t(100));
    QCOMPARE(seen.size(), 100);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QVERIFY(seen.last() < 100.0);
    QCOMPARE(full.Progress(), sqlite ? 100.0 : seen.last());

    // Cancel pressed while the 38th record is due: 37 records stay, the rest are never read.
    int calls = 0;
    TBackupFileManager cancelled(dir.path(), m_dm, [&] {
        if (++calls == 38)
            current->setCancel(true);
    });
    current = &cancelled;
    cancelled.ParseDb();
    QCOMPARE(calls, 38);
    QCOMPARE(cancelled.Records().size(), size_t(37));
    QCOMPARE(cancelled.Records().back().Path, backup.entries()[36].path);
}

void TestCatalog::emptyCatalogs_data()
{
    progressAndCancel_data();
}

void TestCatalog::emptyCatalogs()
{
    QFETCH(bool, sqlite);
    QTemporaryDir dir;
    SampleBackup backup;
    backup.catalog = sqlite ? SampleBackup::Catalog::Db : SampleBackup::Catalog::Mbdb;
    backup.write(dir.path());
    int calls = 0;
    TBackupFileManager mgr(dir.path(), m_dm, [&] { ++calls; });
    mgr.ParseDb();
    QVERIFY(mgr.Records().empty());
    QCOMPARE(calls, 0);
    QCOMPARE(mgr.Progress(), 0.0);
}

void TestCatalog::truncatedMbdb_data()
{
    QTest::addColumn<int>("cut"); // bytes removed from the end of a two-record catalog
    QTest::addColumn<int>("kept");
    // The second record, 66 bytes: "Home" (2+4), "second" (2+6), 3 nulls (6), block (40),
    // one attribute pair (2+1, 2+1).
    QTest::newRow("inside a property value") << 1 << 1;
    QTest::newRow("between name and value") << 3 << 1;
    QTest::newRow("inside the fixed block") << 30 << 1;
    QTest::newRow("inside a length") << 65 << 1;
    QTest::newRow("inside a string") << 56 << 1;
    QTest::newRow("inside the header") << 128 << 0;
}

void TestCatalog::truncatedMbdb()
{
    QFETCH(int, cut);
    QFETCH(int, kept);
    QTemporaryDir dir;
    Mbdb m;
    m.record("Home", "first!");
    m.str("Home").str("second").null().null().null().block(0, 0, 0, 0, 1).str("n").str("v");
    QCOMPARE(m.bytes.size(), 6 + 60 + 66);
    m.bytes.chop(cut);
    writeFile(dir.filePath("Manifest.mbdb"), m.bytes);

    TBackupFileManager mgr(dir.path(), m_dm);
    const QString message = errorOf([&] { mgr.ParseDb(); });
    QVERIFY2(message.contains(QStringLiteral("truncated")), qPrintable(message));
    QVERIFY2(message.contains(dir.filePath("Manifest.mbdb")), qPrintable(message));
    QCOMPARE(mgr.Records().size(), size_t(kept));
    if (kept)
        QCOMPARE(mgr.Records()[0].Path, QStringLiteral("first!"));
}

void TestCatalog::catalogErrors_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expected"); // %1 stands for the backup folder
    QTest::newRow("no catalog") << "none" << "no Manifest.mbdb or Manifest.db in %1";
    QTest::newRow("not a database") << "garbage" << "%1/Manifest.db is not a SQLite database";
    QTest::newRow("no table Files") << "notable" << "no table Files in %1/Manifest.db";
    QTest::newRow("other columns") << "columns"
                                   << "the table Files in %1/Manifest.db lacks the columns domain, "
                                      "relativePath and fileID";
    // A view that recurses forever would hang before its first row.
    QTest::newRow("recursive view") << "view" << "Files in %1/Manifest.db is not a table";
}

void TestCatalog::catalogErrors()
{
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString db = dir.filePath("Manifest.db");
    if (setup == "garbage") {
        writeFile(db, QByteArray(4096, 'x'));
    } else if (setup != "none") {
        QSqlDatabase conn = QSqlDatabase::addDatabase("QSQLITE", "maker");
        conn.setDatabaseName(db);
        QVERIFY(conn.open());
        QSqlQuery(conn).exec(
            setup == "notable" ? "CREATE TABLE Other (x)"
            : setup == "view"
                ? "CREATE VIEW Files AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                  "FROM r) SELECT n AS fileID, n AS domain, n AS relativePath FROM r WHERE n < 0"
                : "CREATE TABLE Files (id TEXT, name TEXT)");
        conn.close();
        conn = QSqlDatabase();
        QSqlDatabase::removeDatabase("maker");
    }
    const QString message = errorOf([&] {
        TBackupFileManager mgr(dir.path(), m_dm);
        mgr.ParseDb();
    });
    QCOMPARE(message, expected.arg(dir.path()));
}

void TestCatalog::eventsRunWhileAStatementRuns()
{
    QTemporaryDir dir;
    {
        QSqlDatabase conn = QSqlDatabase::addDatabase("QSQLITE", "maker");
        conn.setDatabaseName(dir.filePath("Manifest.db"));
        QVERIFY(conn.open());
        QSqlQuery q(conn);
        QVERIFY(q.exec("CREATE TABLE Files (fileID TEXT, domain TEXT, relativePath TEXT)"));
        QVERIFY(q.exec("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE "
                       "n < 100000) INSERT INTO Files SELECT printf('%040d', n), 'HomeDomain', "
                       "'Library/f' || n FROM r"));
        q.finish();
        conn.close();
    }
    QSqlDatabase::removeDatabase("maker");
    // The hook runs once per row, and in between while the engine works on a statement.
    int calls = 0;
    TBackupFileManager mgr(dir.path(), m_dm, [&calls] { ++calls; });
    mgr.ParseDb();
    QCOMPARE(mgr.Records().size(), size_t(100000));
    QVERIFY2(calls > 100000 + 20, qPrintable(QString::number(calls)));

    // Cancel from inside a statement stops it without an error.
    TBackupFileManager* self = nullptr;
    TBackupFileManager cancelled(dir.path(), m_dm, [&self] { self->setCancel(true); });
    self = &cancelled;
    QCOMPARE(errorOf([&] { cancelled.ParseDb(); }), QString());
    QVERIFY(cancelled.Records().empty());
}

void TestCatalog::bothCatalogsPrefersMbdb()
{
    QTemporaryDir dir;
    SampleBackup backup;
    backup.bothCatalogs = true;
    backup.catalog = SampleBackup::Catalog::Mbdb;
    backup.addFiller(20);
    backup.write(dir.path());
    TBackupFileManager mgr(dir.path(), m_dm);
    mgr.ParseDb();
    QVERIFY(!mgr.isSqlite());
    QCOMPARE(mgr.Records().size(), size_t(20));
    QVERIFY(mgr.Records()[0].IsOld);
}

void TestCatalog::storedCopyLayouts()
{
    QTemporaryDir dir;
    const QDir folder(dir.path());
    const QString key = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    const QString split = folder.filePath("3d/" + key);
    const QString flat = folder.filePath(key);
    // Missing everywhere: the sub-folder candidate, unchecked.
    QCOMPARE(GetRealFileName(dir.path(), key), split);
    folder.mkdir("3d");
    writeFile(split, "split");
    QCOMPARE(GetRealFileName(dir.path(), key), split);
    writeFile(flat, "flat");
    QCOMPARE(GetRealFileName(dir.path(), key), flat);
    QFile::remove(split);
    QCOMPARE(GetRealFileName(dir.path(), key), flat);
    // A trailing separator on the folder changes nothing.
    QCOMPARE(GetRealFileName(dir.path() + "/", key), flat);
}

void TestCatalog::nothingWrittenIntoTheBackup_data()
{
    QTest::addColumn<int>("catalog");
    QTest::addColumn<bool>("wal");
    QTest::addColumn<QString>("folderName");
    const QString plain = QStringLiteral("backup");
    QTest::newRow("Manifest.mbdb") << int(SampleBackup::Catalog::Mbdb) << false << plain;
    QTest::newRow("Manifest.db") << int(SampleBackup::Catalog::Db) << false << plain;
    QTest::newRow("Manifest.db in WAL mode") << int(SampleBackup::Catalog::Db) << true << plain;
    // Characters that mean something in a URI or in SQL must reach the file system as they are.
    QTest::newRow("Manifest.db, odd folder name")
        << int(SampleBackup::Catalog::Db) << true << QStringLiteral("Zoë's #1 ?a=b&c %20 备份");
}

void TestCatalog::nothingWrittenIntoTheBackup()
{
    QFETCH(int, catalog);
    QFETCH(bool, wal);
    QFETCH(QString, folderName);
    QTemporaryDir root;
    const QString folder = QDir(root.path()).filePath(folderName);
    SampleBackup backup;
    backup.catalog = SampleBackup::Catalog(catalog);
    backup.walCatalog = wal;
    backup.addFiller(50);
    backup.write(folder);
    if (wal) {
        QFile db(QDir(folder).filePath("Manifest.db"));
        QVERIFY(db.open(QIODevice::ReadOnly));
        QCOMPARE(db.read(20).mid(18, 2), QByteArray("\x02\x02", 2));
    }
    const auto before = folderSnapshot(root.path());
    {
        TBackupFileManager mgr(folder, m_dm);
        mgr.ParseDb();
        QCOMPARE(mgr.Records().size(), size_t(50));
        QCOMPARE(folderSnapshot(root.path()), before);
    }
    // The shared connection stays on the file afterwards; still nothing appears.
    QCOMPARE(folderSnapshot(root.path()), before);
}

void TestCatalog::mutatedMbdbNeverCrashes()
{
    // Bounded random mutation: every damaged catalog either reads or fails with an Error,
    // never crashes, hangs or reads past its end (ASan builds check the last).
    SampleBackup backup;
    backup.catalog = SampleBackup::Catalog::Mbdb;
    backup.writeCopies = false;
    backup.addFiller(30, 11);
    QTemporaryDir dir;
    backup.write(dir.path());
    QFile source(dir.filePath("Manifest.mbdb"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray original = source.readAll();
    source.close();

    QRandomGenerator rng(20261209);
    int failures = 0;
    for (int round = 0; round < 1500; ++round) {
        QByteArray bytes = original;
        const int edits = 1 + int(rng.bounded(8u));
        for (int i = 0; i < edits; ++i) {
            const int at = int(rng.bounded(quint32(bytes.size())));
            switch (rng.bounded(3u)) {
            case 0: bytes[at] = char(rng.bounded(256u)); break;
            case 1: bytes[at] = char(0xff); break;
            default: bytes.truncate(at); break;
            }
            if (bytes.isEmpty())
                break;
        }
        writeFile(dir.filePath("Manifest.mbdb"), bytes);
        TBackupFileManager mgr(dir.path(), m_dm);
        if (!errorOf([&] { mgr.ParseDb(); }).isEmpty())
            ++failures;
    }
    QVERIFY(failures > 0); // the mutations do reach the truncation checks
}

void TestCatalog::realBackup()
{
    const QString folder = QStringLiteral(FERROWICK_REAL_BACKUPS "/ios14-manifest-db");
    if (!QFileInfo::exists(folder + "/Manifest.db"))
        QSKIP("the real backups are not beside this clone");
    const auto before = folderSnapshot(folder);
    {
        TBackupFileManager mgr(folder, m_dm);
        QVERIFY(mgr.isSqlite());
        mgr.ParseDb();
        QCOMPARE(mgr.Records().size(), size_t(3721));
        QString smsKey;
        for (const TBackupFileRecord& r : mgr.Records()) {
            QCOMPARE(r.Key, CatalogKey(r.Domain.toUtf8(), r.Path.toUtf8()));
            if (r.Domain == "HomeDomain" && r.Path == "Library/SMS/sms.db")
                smsKey = r.Key;
        }
        const QString sms = GetRealFileName(folder, smsKey);
        QCOMPARE(sms, folder + "/3d/" + smsKey);
        QVERIFY(QFileInfo(sms).isFile());
    }
    QCOMPARE(folderSnapshot(folder), before);
}

QTEST_GUILESS_MAIN(TestCatalog)
#include "tst_catalog.moc"
