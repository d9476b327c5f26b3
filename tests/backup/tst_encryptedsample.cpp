// Encrypted sample backups opened with nothing but the crypto pieces: Manifest.plist through
// libplist, the keybag, the password key, the class keys, ManifestKey and each file's key from
// the catalog (the MBFile of Manifest.db, the fifth string of Manifest.mbdb).
#include "SampleBackup.h"
#include "backup/BackupCrypto.h"
#include "backup/MbFile.h"
#include "backup/Plist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

using Catalog = SampleBackup::Catalog;

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint32 littleEndian32(QByteArrayView v)
{
    const auto* p = reinterpret_cast<const uchar*>(v.data());
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

quint32 bigEndian32(QByteArrayView v)
{
    const auto* p = reinterpret_cast<const uchar*>(v.data());
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

// What the catalog says about one entry, whichever its format.
struct CatalogEntry
{
    QString domain;
    QString path;
    int flags = 0;
    qint64 size = -1;
    quint32 protectionClass = 0;
    qint64 modified = 0;
    QByteArray wrappedKey; // 44 bytes, or empty
};

// A reader of Manifest.mbdb of its own, so that the test does not trust the program's.
std::map<QString, CatalogEntry> readMbdb(const QByteArray& bytes)
{
    std::map<QString, CatalogEntry> entries;
    qsizetype pos = 6;
    auto string = [&](bool& isNull) {
        if (pos + 2 > bytes.size())
            throw std::runtime_error("cut short");
        const int n = (uchar(bytes[pos]) << 8) | uchar(bytes[pos + 1]);
        pos += 2;
        isNull = n == 0xffff;
        if (isNull)
            return QByteArray();
        if (pos + n > bytes.size())
            throw std::runtime_error("cut short");
        pos += n;
        return bytes.mid(pos - n, n);
    };
    while (pos < bytes.size()) {
        bool isNull = false;
        const QByteArray domain = string(isNull);
        const QByteArray path = string(isNull);
        string(isNull);
        string(isNull);
        CatalogEntry e;
        e.domain = QString::fromUtf8(domain);
        e.path = QString::fromUtf8(path);
        e.wrappedKey = string(isNull);
        if (pos + 40 > bytes.size())
            throw std::runtime_error("cut short");
        const QByteArray block = bytes.mid(pos, 40);
        pos += 40;
        const quint16 mode = quint16((uchar(block[0]) << 8) | uchar(block[1]));
        e.flags = (mode & 0xF000) == 0x4000 ? 2 : (mode & 0xF000) == 0xA000 ? 4 : 1;
        e.modified = bigEndian32(block.mid(22, 4));
        // All three time stamps carry the same date.
        if (bigEndian32(block.mid(18, 4)) != e.modified ||
            bigEndian32(block.mid(26, 4)) != e.modified)
            throw std::runtime_error("time stamps differ");
        e.size = (qint64(bigEndian32(block.mid(30, 4))) << 32) | bigEndian32(block.mid(34, 4));
        e.protectionClass = uchar(block[38]);
        for (int i = 0; i < uchar(block[39]); ++i) {
            string(isNull);
            string(isNull);
        }
        entries[SampleBackup::keyOf(domain, path)] = e;
    }
    return entries;
}

std::map<QString, CatalogEntry> readManifestDb(const QString& path, QStringList& problems)
{
    std::map<QString, CatalogEntry> entries;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("m"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(path);
        if (!db.open())
            problems << QStringLiteral("does not open");
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select fileID, flags, file, domain, relativePath from Files")))
            problems << QStringLiteral("no Files");
        while (q.next()) {
            CatalogEntry e;
            e.flags = q.value(1).toInt();
            e.domain = q.value(3).toString();
            e.path = q.value(4).toString();
            const std::optional<TMbFile> file = parseMbFile(q.value(2).toByteArray());
            if (!file) {
                problems << q.value(0).toString() + QStringLiteral(": no MBFile");
                continue;
            }
            e.size = file->size;
            e.protectionClass = file->protectionClass.value_or(0);
            e.modified = file->lastModified.value_or(-1);
            if (file->birth != file->lastModified)
                problems << q.value(0).toString() + QStringLiteral(": Birth differs");
            const quint32 type = file->mode & 0170000;
            if (type != (e.flags == 2 ? 0040000u : e.flags == 4 ? 0120000u : 0100000u))
                problems << q.value(0).toString() +
                                QStringLiteral(": mode %1").arg(file->mode, 0, 8);
            e.wrappedKey = file->encryptionKey;
            entries[q.value(0).toString()] = e;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("m"));
    return entries;
}

SampleBackup sampleWithFaults()
{
    SampleBackup b;
    b.addDirectory(QStringLiteral("HomeDomain"), QStringLiteral("Library"));
    for (int n : {0, 1, 15, 16, 17, 100003}) {
        QByteArray content(n, '\0');
        for (int i = 0; i < n; ++i)
            content[i] = char(i * 31 + n);
        b.addFile(QStringLiteral("HomeDomain"), QStringLiteral("Library/f%1").arg(n), content);
    }
    b.entries().back().lastModified = 1600000000;
    SampleBackup::Entry noKey;
    noKey.domain = QStringLiteral("HomeDomain");
    noKey.path = QStringLiteral("Library/no key");
    noKey.content = "a file the device left without a key";
    noKey.encryptionFault = SampleBackup::NoKey;
    b.addEntry(noKey);
    for (int n : {5, 32}) {
        SampleBackup::Entry bad;
        bad.domain = QStringLiteral("MediaDomain");
        bad.path = QStringLiteral("Media/bad padding %1").arg(n);
        bad.content = QByteArray(n, 'b');
        bad.encryptionFault = SampleBackup::BadPadding;
        b.addEntry(bad);
    }
    return b;
}

} // namespace

class TestEncryptedSample : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void plainCatalogHasRealMbFiles();
};

void TestEncryptedSample::roundTrip_data()
{
    QTest::addColumn<int>("catalog");
    QTest::addColumn<bool>("wal");
    QTest::newRow("iOS 10.2+, Manifest.db") << int(Catalog::Db) << false;
    QTest::newRow("iOS 10.2+, Manifest.db written in WAL mode") << int(Catalog::Db) << true;
    QTest::newRow("iOS 4 to 9, Manifest.mbdb") << int(Catalog::Mbdb) << false;
}

void TestEncryptedSample::roundTrip()
{
    QFETCH(int, catalog);
    QFETCH(bool, wal);
    const bool modern = Catalog(catalog) == Catalog::Db;
    const QByteArray password = "p\xc3\xa4ssword";
    SampleBackup b = sampleWithFaults();
    b.catalog = Catalog(catalog);
    b.walCatalog = wal;
    b.encryption = SampleEncryption{password, 10, 10, 5};
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("backup"));
    b.write(folder);
    const QDir backup(folder);

    // Manifest.plist, read with libplist.
    const PlistPointer manifest = plistFromMemory(readAll(backup.filePath("Manifest.plist")));
    QVERIFY(manifest);
    QCOMPARE(plistDictBool(manifest.get(), "IsEncrypted"), std::optional<bool>(true));
    plist_t lockdown = plistDictItem(manifest.get(), "Lockdown", PLIST_DICT);
    QCOMPARE(plistDictString(lockdown, "ProductVersion").value_or(QString()),
             modern ? QStringLiteral("17.1") : QStringLiteral("9.3.5"));
    QVERIFY(plistDictString(lockdown, "DeviceName"));
    const std::optional<QByteArray> keybagBytes = plistDictData(manifest.get(), "BackupKeyBag");
    QVERIFY(keybagBytes);

    const TKeybag keybag = parseKeybag(*keybagBytes);
    QCOMPARE(keybag.type, 1u);
    QCOMPARE(keybag.salt.size(), 20);
    QCOMPARE(keybag.iter, 10u);
    QCOMPARE(keybag.hasDoubleDerivation(), modern);
    if (modern) {
        QCOMPARE(*keybag.dpic, 10u);
        QCOMPARE(keybag.dpsl.size(), 20);
    }
    QCOMPARE(keybag.classKeys.size(), size_t(11));
    for (const TKeybagClassKey& k : keybag.classKeys) {
        QCOMPARE(k.wrap, 3u);
        QCOMPARE(k.wpky.size(), 40);
    }

    const std::optional<TSecret> wrongKey = derivePasswordKey("password", keybag);
    QVERIFY(wrongKey);
    QVERIFY(!TBackupKeys::unlock(keybag, *wrongKey));
    const std::optional<TSecret> passwordKey = derivePasswordKey(password, keybag);
    QVERIFY(passwordKey);
    const std::optional<TBackupKeys> keys = TBackupKeys::unlock(keybag, *passwordKey);
    QVERIFY(keys);
    for (quint32 clas = 1; clas <= 11; ++clas)
        QVERIFY(keys->hasClass(clas));

    std::map<QString, CatalogEntry> entries;
    if (modern) {
        QVERIFY(!QFile::exists(backup.filePath("Manifest.db-wal")));
        QVERIFY(!QFile::exists(backup.filePath("Manifest.db-shm")));
        QVERIFY(!readAll(backup.filePath("Manifest.db")).startsWith("SQLite format 3"));
        const std::optional<QByteArray> manifestKey = plistDictData(manifest.get(), "ManifestKey");
        QVERIFY(manifestKey);
        QCOMPARE(manifestKey->size(), 44);
        QCOMPARE(littleEndian32(*manifestKey), 4u);
        const std::optional<TSecret> dbKey = keys->fileKey(*manifestKey);
        QVERIFY(dbKey);
        const QString plainDb = dir.filePath(QStringLiteral("Manifest-plain.db"));
        QVERIFY(decryptFile(backup.filePath("Manifest.db"), plainDb, *dbKey).paddingValid);
        QVERIFY(readAll(plainDb).startsWith(QByteArray("SQLite format 3\0", 16)));
        QStringList problems;
        entries = readManifestDb(plainDb, problems);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    } else {
        QVERIFY(!plistDictData(manifest.get(), "ManifestKey"));
        entries = readMbdb(readAll(backup.filePath("Manifest.mbdb")));
    }

    QCOMPARE(entries.size(), b.entries().size());
    int checked = 0;
    for (const SampleBackup::Entry& e : b.entries()) {
        const QString id = SampleBackup::keyOf(e);
        QVERIFY2(entries.count(id), qPrintable(e.path));
        const CatalogEntry& c = entries.at(id);
        QCOMPARE(c.domain, e.domain);
        QCOMPARE(c.path, e.path);
        QCOMPARE(c.flags, int(e.kind));
        QCOMPARE(c.modified, e.lastModified.value_or(SampleBackup::kDefaultModified));
        if (e.kind != SampleBackup::File) {
            QVERIFY(c.wrappedKey.isEmpty());
            continue;
        }
        // Size stays the plaintext's.
        QCOMPARE(c.size, e.content.size());
        const QString stored =
            modern ? backup.filePath(id.left(2) + QLatin1Char('/') + id) : backup.filePath(id);
        const qint64 storedSize = QFileInfo(stored).size();
        if (e.encryptionFault == SampleBackup::NoKey) {
            QVERIFY2(c.wrappedKey.isEmpty(), qPrintable(e.path));
            QVERIFY(storedSize > e.content.size());
            continue;
        }
        QCOMPARE(c.wrappedKey.size(), 44);
        QCOMPARE(c.protectionClass, littleEndian32(c.wrappedKey));
        const std::optional<TSecret> fileKey = keys->fileKey(c.wrappedKey);
        QVERIFY2(fileKey, qPrintable(e.path));
        QCOMPARE(storedSize % 16, 0);
        QVERIFY(storedSize >= e.content.size() + 1 && storedSize <= e.content.size() + 16);

        const QString plain = dir.filePath(id);
        const TDecryptResult result = decryptFile(stored, plain, *fileKey);
        if (e.encryptionFault == SampleBackup::BadPadding) {
            // Kept whole: the content, then the zero bytes that are no padding.
            QVERIFY(!result.paddingValid);
            const QByteArray got = readAll(plain);
            QCOMPARE(got.size(), storedSize);
            QCOMPARE(got.left(e.content.size()), e.content);
            QCOMPARE(got.mid(e.content.size()), QByteArray(got.size() - e.content.size(), '\0'));
        } else {
            QVERIFY(result.paddingValid);
            QCOMPARE(readAll(plain), e.content);
        }
        ++checked;
    }
    QCOMPARE(checked, 8); // six plain files and two with bad padding
}

// Plain Manifest.db backups carry real MBFile archives too.
void TestEncryptedSample::plainCatalogHasRealMbFiles()
{
    SampleBackup b = sampleWithFaults();
    QTemporaryDir dir;
    b.write(dir.path());
    QStringList problems;
    const std::map<QString, CatalogEntry> entries =
        readManifestDb(dir.filePath(QStringLiteral("Manifest.db")), problems);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QCOMPARE(entries.size(), b.entries().size());
    for (const SampleBackup::Entry& e : b.entries()) {
        const CatalogEntry& c = entries.at(SampleBackup::keyOf(e));
        QCOMPARE(c.size, e.kind == SampleBackup::File ? e.content.size() : 0);
        QCOMPARE(c.modified, e.lastModified.value_or(SampleBackup::kDefaultModified));
        QVERIFY(c.wrappedKey.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestEncryptedSample)
#include "tst_encryptedsample.moc"
