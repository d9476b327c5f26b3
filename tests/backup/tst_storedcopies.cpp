#include "FolderSnapshot.h"
#include "PhoneDatabases.h"
#include "SampleBackup.h"
#include "app/DmGlobal.h"
#include "backup/BackupCrypto.h"
#include "backup/BackupFileManager.h"
#include "backup/ManifestInfo.h"
#include "backup/StoredCopies.h"
#include "util/Error.h"
#include "util/Sqlite.h"
#include "util/WorkFolder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <sys/stat.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

int modeOf(const QString& path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList smsTexts(const QString& db)
{
    QStringList texts;
    {
        QSqlDatabase conn = QSqlDatabase::addDatabase("QSQLITE", "reader");
        conn.setConnectOptions("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY");
        conn.setDatabaseName(readOnlyUri(db));
        if (conn.open()) {
            QSqlQuery q(conn);
            q.exec("select text from message order by ROWID");
            while (q.next())
                texts << q.value(0).toString();
        }
        conn.close();
    }
    QSqlDatabase::removeDatabase("reader");
    return texts;
}

} // namespace

// A loaded backup as the main window holds it: the readable files and the catalog reader.
struct LoadedBackup
{
    explicit LoadedBackup(const QString& folder) : copies(std::make_unique<TStoredCopies>(folder))
    {
        const TManifestInfo info = ReadManifestInfo(folder);
        mgr = std::make_unique<TBackupFileManager>(folder, dm, TBackupFileManager::EventHook{},
                                                   copies->readableCatalog(info));
        mgr->ParseDb();
        copies->setCatalog(mgr.get());
    }
    ~LoadedBackup()
    {
        copies.reset();
        dm.closeDatabase();
    }
    QString keyOf(const QString& path) const
    {
        for (const TBackupFileRecord& r : mgr->Records())
            if (r.Path == path)
                return r.Key;
        return {};
    }

    TdmGlobal dm;
    std::unique_ptr<TBackupFileManager> mgr;
    std::unique_ptr<TStoredCopies> copies;
};

class TestStoredCopies : public QObject
{
    Q_OBJECT
private slots:
    void workFolderIsPrivate();
    void plainCopiesAreReadInPlace();
    void databaseWithWalComesWithIt_data();
    void databaseWithWalComesWithIt();
    void encryptedContentReportsChunks_data();
    void encryptedContentReportsChunks();
};

void TestStoredCopies::workFolderIsPrivate()
{
    const QString root = TWorkFolder::root();
    QCOMPARE(modeOf(root), 0700);
    QVERIFY(root.startsWith(QDir::tempPath() + "/"));
    QString sub;
    {
        TWorkFolder folder("probe");
        sub = folder.path();
        QCOMPARE(modeOf(sub), 0700);
        QVERIFY(TWorkFolder::contains(folder.filePath("x")));
        QVERIFY(!TWorkFolder::contains(root + "/../elsewhere"));
        QFile f;
        createPrivateFile(f, folder.filePath("secret"));
        f.write("x");
        f.close();
        QCOMPARE(modeOf(folder.filePath("secret")), 0600);
        // A name that exists already, or a link planted under it, is never opened.
        QVERIFY(QFile::link(QDir::tempPath() + "/planted-target", folder.filePath("link")));
        for (const char* name : {"secret", "link"}) {
            QFile again;
            QVERIFY_THROWS_EXCEPTION(Error, createPrivateFile(again, folder.filePath(name)));
        }
        QVERIFY(!QFileInfo::exists(QDir::tempPath() + "/planted-target"));
    }
    QVERIFY(!QFileInfo::exists(sub));
    TWorkFolder::removeAll();
    QVERIFY(!QFileInfo::exists(root));
    QVERIFY(TWorkFolder::root() != root); // a fresh one
}

void TestStoredCopies::plainCopiesAreReadInPlace()
{
    QTemporaryDir dir;
    SampleBackup b;
    b.addFile("HomeDomain", "Library/Notes/a.txt", "note a");
    b.addMissingFile("HomeDomain", "Library/Notes/gone.txt");
    b.write(dir.filePath("b"));
    const auto before = folderSnapshot(dir.filePath("b"));
    LoadedBackup loaded(dir.filePath("b"));
    TStoredCopies& copies = *loaded.copies;
    const QString key = loaded.keyOf("Library/Notes/a.txt");
    QCOMPARE(copies.readable(key), copies.storedPath(key)); // no copy made
    QCOMPARE(copies.readableDatabase(key), copies.storedPath(key));
    QCOMPARE(copies.readableFile(copies.storedPath(key)), copies.storedPath(key));
    QCOMPARE(copies.readableFile("/elsewhere/x.jpg"), QString("/elsewhere/x.jpg"));
    QVERIFY(copies.hasReadableCopy(key));
    QVERIFY(!copies.hasReadableCopy(loaded.keyOf("Library/Notes/gone.txt")));
    QVERIFY_THROWS_EXCEPTION(Error, copies.readable(loaded.keyOf("Library/Notes/gone.txt")));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    copies.writeContent(copies.storedPath(key), out);
    QCOMPARE(out.data(), QByteArray("note a"));
    QCOMPARE(folderSnapshot(dir.filePath("b")), before);
}

void TestStoredCopies::databaseWithWalComesWithIt_data()
{
    QTest::addColumn<int>("catalog");
    QTest::newRow("Manifest.db") << int(SampleBackup::Catalog::Db);
    QTest::newRow("Manifest.mbdb") << int(SampleBackup::Catalog::Mbdb);
}

void TestStoredCopies::databaseWithWalComesWithIt()
{
    QFETCH(int, catalog);
    QTemporaryDir dir;
    SampleBackup b;
    b.catalog = SampleBackup::Catalog(catalog);
    addPhoneDatabases(b, true);
    b.write(dir.filePath("b"));
    const auto before = folderSnapshot(dir.filePath("b"));
    QString copy;
    {
        LoadedBackup loaded(dir.filePath("b"));
        const QString key = loaded.keyOf("Library/SMS/sms.db");
        // Read in place, the rows of the -wal are missing; through the layer they show.
        const QStringList inPlace = smsTexts(loaded.copies->storedPath(key));
        QVERIFY(!inPlace.contains("Only in the write-ahead log"));
        copy = loaded.copies->readableDatabase(key);
        QCOMPARE(loaded.copies->readableDatabase(key), copy); // once per session
        QCOMPARE(QFileInfo(copy).fileName(), QString("sms.db"));
        QCOMPARE(modeOf(copy), 0600);
        QCOMPARE(modeOf(QFileInfo(copy).absolutePath()), 0700);
        const QStringList texts = smsTexts(copy);
        QCOMPARE(texts.size(), inPlace.size() + 2);
        QCOMPARE(texts.mid(0, inPlace.size()), inPlace);
        QCOMPARE(texts.last(), QString("Newest of all, also in the log"));
    }
    QVERIFY(!QFileInfo::exists(copy)); // gone with the loaded backup
    QCOMPARE(folderSnapshot(dir.filePath("b")), before);
}


void TestStoredCopies::encryptedContentReportsChunks_data()
{
    QTest::addColumn<int>("stopAt"); // the report that answers false; 0: none does
    QTest::newRow("whole") << 0;
    QTest::newRow("stopped after the first chunk") << 1;
}

void TestStoredCopies::encryptedContentReportsChunks()
{
    QFETCH(int, stopAt);
    QByteArray content(3 * 1024 * 1024 + 5, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char((i * 7919) >> 5);
    SampleBackup b;
    b.catalog = SampleBackup::Catalog::Mbdb;
    b.encryption = SampleEncryption{"pw", 1, 10, 4};
    b.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.MOV", content);
    QTemporaryDir dir;
    const QString folder = dir.filePath("backup");
    b.write(folder);
    LoadedBackup loaded(folder);
    const TKeybag keybag = parseKeybag(ReadManifestInfo(folder).keybag);
    const std::optional<TSecret> passwordKey = derivePasswordKey("pw", keybag);
    QVERIFY(passwordKey);
    std::optional<TBackupKeys> keys = TBackupKeys::unlock(keybag, *passwordKey);
    QVERIFY(keys);
    loaded.copies->setKeys(std::make_unique<TBackupKeys>(std::move(*keys)));
    const QString stored =
        loaded.copies->storedPath(loaded.keyOf("Media/DCIM/100APPLE/IMG_0001.MOV"));
    const qint64 storedSize = QFileInfo(stored).size();

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    std::vector<qint64> reports;
    const auto progress = [&](qint64 soFar) {
        reports.push_back(soFar);
        return int(reports.size()) != stopAt;
    };
    if (stopAt == 0) {
        loaded.copies->writeContent(stored, out, progress);
        QCOMPARE(out.data(), content);
        // Counted in the stored bytes, chunk by chunk, up to the stored copy's size.
        QVERIFY(reports.size() >= 3);
        QVERIFY(std::is_sorted(reports.begin(), reports.end()));
        QCOMPARE(reports.back(), storedSize);
    } else {
        QVERIFY_THROWS_EXCEPTION(Error, loaded.copies->writeContent(stored, out, progress));
        QCOMPARE(qsizetype(reports.size()), qsizetype(stopAt));
        QVERIFY(out.data().size() < content.size());
    }
}

QTEST_GUILESS_MAIN(TestStoredCopies)
#include "tst_storedcopies.moc"
