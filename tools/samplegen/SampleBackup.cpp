#include "SampleBackup.h"

#include "MediaData.h"
#include "PhoneDatabases.h"
#include "WechatData.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <plist/plist.h>

#include <cstdlib>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

QByteArray entryDomain(const SampleBackup::Entry& e)
{
    return e.rawDomain.isNull() ? e.domain.toUtf8() : e.rawDomain;
}

QByteArray entryPath(const SampleBackup::Entry& e)
{
    return e.rawPath.isNull() ? e.path.toUtf8() : e.rawPath;
}

struct PlistFree
{
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

QByteArray plistBytes(plist_t root, bool binary)
{
    char* out = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(root, &out, &length);
    else
        plist_to_xml(root, &out, &length);
    QByteArray bytes(out, int(length));
    std::free(out); // libplist hands over a malloc'ed buffer
    return bytes;
}

void setString(plist_t dict, const char* key, const QString& value)
{
    plist_dict_set_item(dict, key, plist_new_string(value.toUtf8().constData()));
}

} // namespace

void SampleBackup::addFile(const QString& domain, const QString& path, const QByteArray& content)
{
    Entry e;
    e.domain = domain;
    e.path = path;
    e.content = content;
    m_entries.push_back(std::move(e));
}

void SampleBackup::addDirectory(const QString& domain, const QString& path)
{
    Entry e;
    e.domain = domain;
    e.path = path;
    e.kind = Directory;
    e.hasCopy = false;
    m_entries.push_back(std::move(e));
}

void SampleBackup::addMissingFile(const QString& domain, const QString& path)
{
    Entry e;
    e.domain = domain;
    e.path = path;
    e.content = "absent";
    e.hasCopy = false;
    m_entries.push_back(std::move(e));
}

void SampleBackup::addFiller(int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    static const char* const prefs[] = {"com.apple.springboard", "com.apple.mobilesafari",
                                        "com.apple.weather", "com.apple.Maps", "com.apple.stocks"};
    int made = 0;
    int folder = 0;
    QSet<QString> knownDirs;
    while (made < count) {
        // Folders of varying size, each introduced by its directory entry, as devices list them.
        const int kind = int(rng.bounded(5));
        const int files = 1 + int(rng.bounded(kind == 0 ? 200u : 40u));
        QString domain;
        QString dir;
        switch (kind) {
        case 0:
            domain = QStringLiteral("CameraRollDomain");
            dir = QStringLiteral("Media/DCIM/%1APPLE").arg(100 + folder % 900);
            break;
        case 1:
            domain = QStringLiteral("HomeDomain");
            dir = QStringLiteral("Library/Caches/Snapshots/%1").arg(folder);
            break;
        case 2:
            domain = QStringLiteral("AppDomain-com.example.app%1").arg(folder % 37);
            dir = QStringLiteral("Documents/folder%1").arg(folder);
            break;
        case 3:
            domain = QStringLiteral("MediaDomain");
            dir = QStringLiteral("Library/SMS/Attachments/%1/%2")
                      .arg(folder % 256, 2, 16, QLatin1Char('0'))
                      .arg(folder);
            break;
        default:
            domain = QStringLiteral("HomeDomain");
            dir = QStringLiteral("Library/Preferences");
            break;
        }
        // A folder met again is not listed twice: keys are unique in a real catalog.
        if (!knownDirs.contains(domain + QLatin1Char('-') + dir)) {
            knownDirs.insert(domain + QLatin1Char('-') + dir);
            addDirectory(domain, dir);
            ++made;
        }
        for (int i = 0; i < files && made < count; ++i, ++made) {
            QString name;
            switch (kind) {
            case 0:
                name = QStringLiteral("IMG_%1.JPG").arg(made, 4, 10, QLatin1Char('0'));
                break;
            case 1:
                name = QStringLiteral("UIApplicationAutomaticSnapshot%1.png").arg(made);
                break;
            case 2:
                name = (made % 11 == 0) ? QStringLiteral("Übersicht %1.txt").arg(made)
                                        : QStringLiteral("file%1.dat").arg(made);
                break;
            case 3:
                name = QStringLiteral("attachment-%1.heic").arg(made);
                break;
            default:
                name = QStringLiteral("%1.%2.plist").arg(prefs[made % 5]).arg(made);
                break;
            }
            Entry e;
            e.domain = domain;
            e.path = dir + QLatin1Char('/') + name;
            e.content = QByteArray("sample ") + QByteArray::number(made);
            if (made % 7 == 0)
                e.properties.append(
                    {"com.apple.assetsd.UUID",
                     QUuid::fromRfc4122(QByteArray::number(made).leftJustified(16, 'x'))
                         .toByteArray(QUuid::WithoutBraces)});
            m_entries.push_back(std::move(e));
        }
        ++folder;
    }
}

QString SampleBackup::keyOf(const QByteArray& domain, const QByteArray& path)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(domain + '-' + path, QCryptographicHash::Sha1).toHex());
}

QString SampleBackup::keyOf(const Entry& entry)
{
    return keyOf(entryDomain(entry), entryPath(entry));
}

struct SampleBackup::FileKeys
{
    std::vector<QByteArray> key;     // per entry; empty for entries without a copy
    std::vector<QByteArray> wrapped; // per entry; empty where the catalog holds no key
};

void SampleBackup::write(const QString& folder) const
{
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("cannot create %1").arg(folder));
    const QDir dir(folder);
    writeInfoPlist(folder);
    const bool mbdb = catalog == Catalog::Mbdb || bothCatalogs;
    const bool db = catalog == Catalog::Db || bothCatalogs;

    std::optional<SampleKeys> keys;
    FileKeys fileKeys;
    if (encryption) {
        keys.emplace(*encryption, catalog == Catalog::Db);
        for (const Entry& e : m_entries) {
            const bool file = e.kind == File;
            fileKeys.key.push_back(file ? keys->newFileKey() : QByteArray());
            fileKeys.wrapped.push_back(file && e.encryptionFault != NoKey
                                           ? keys->wrap(kFileClass, fileKeys.key.back())
                                           : QByteArray());
        }
    }
    const FileKeys* k = encryption ? &fileKeys : nullptr;
    if (mbdb)
        writeMbdb(dir.filePath(QStringLiteral("Manifest.mbdb")), k);
    QByteArray manifestKey;
    if (db) {
        const QString manifest = dir.filePath(QStringLiteral("Manifest.db"));
        writeManifestDb(manifest, k);
        if (keys && catalog == Catalog::Db) {
            // The whole catalog is encrypted with a key of class 4, kept in Manifest.plist.
            if (QFile::exists(manifest + QStringLiteral("-wal")))
                fail(QStringLiteral("%1 still has rows in its -wal").arg(manifest));
            QFile in(manifest);
            if (!in.open(QIODevice::ReadOnly))
                fail(QStringLiteral("cannot read %1").arg(manifest));
            const QByteArray plain = in.readAll();
            in.close();
            const QByteArray key = keys->newFileKey();
            manifestKey = keys->wrap(4, key);
            writeFile(manifest, SampleKeys::encrypt(plain, key));
        }
    }
    if (keys)
        writeManifestPlist(folder, keys->keybag(), manifestKey);
    if (writeCopies) {
        const bool split =
            layout == Layout::Split || (layout == Layout::Auto && catalog == Catalog::Db);
        writeCopiesInto(folder, split, k);
    }
}

void SampleBackup::writeManifestPlist(const QString& folder, const QByteArray& keybag,
                                      const QByteArray& manifestKey) const
{
    Plist root(plist_new_dict());
    plist_dict_set_item(root.get(), "IsEncrypted", plist_new_bool(1));
    plist_dict_set_item(root.get(), "BackupKeyBag",
                        plist_new_data(keybag.constData(), uint64_t(keybag.size())));
    if (!manifestKey.isEmpty())
        plist_dict_set_item(root.get(), "ManifestKey",
                            plist_new_data(manifestKey.constData(), uint64_t(manifestKey.size())));
    plist_t lockdown = plist_new_dict();
    setString(lockdown, "ProductVersion",
              catalog == Catalog::Db ? QStringLiteral("17.1") : QStringLiteral("9.3.5"));
    setString(lockdown, "DeviceName", deviceName.value_or(QStringLiteral("iPhone")));
    plist_dict_set_item(root.get(), "Lockdown", lockdown);
    writeFile(QDir(folder).filePath(QStringLiteral("Manifest.plist")),
              plistBytes(root.get(), false));
}

QByteArray SampleBackup::storedContent(size_t i, const FileKeys* keys) const
{
    const Entry& e = m_entries[i];
    if (!keys)
        return e.content;
    if (e.encryptionFault == BadPadding) {
        // Zero bytes are never valid padding: the reader keeps them.
        const QByteArray plain = e.content + QByteArray(16 - int(e.content.size() % 16), '\0');
        return SampleKeys::encrypt(plain, keys->key[i], false);
    }
    return SampleKeys::encrypt(e.content, keys->key[i]);
}

void SampleBackup::writeInfoPlist(const QString& folder) const
{
    const QDir dir(folder);
    if (infoForm == InfoForm::Missing)
        return;
    if (infoForm == InfoForm::Garbage) {
        writeFile(dir.filePath(QStringLiteral("Info.plist")), "this is not a property list\n");
        return;
    }
    Plist root(plist_new_dict());
    if (deviceName) {
        setString(root.get(), "Device Name", *deviceName);
        setString(root.get(), "Display Name", *deviceName);
    }
    if (lastBackup) {
        const qint64 seconds =
            lastBackup->toSecsSinceEpoch() - 978307200; // plist dates count from 2001
        plist_dict_set_item(root.get(), "Last Backup Date", plist_new_date(int32_t(seconds), 0));
    }
    setString(root.get(), "Product Type", QStringLiteral("iPhone12,1"));
    setString(root.get(), "Product Version", QStringLiteral("14.3"));
    setString(root.get(), "Unique Identifier", QStringLiteral("00008030-0012345678901234"));
    setString(root.get(), "iTunes Version", QStringLiteral("12.11"));
    writeFile(dir.filePath(QStringLiteral("Info.plist")),
              plistBytes(root.get(), infoForm == InfoForm::Binary));

    Plist status(plist_new_dict());
    setString(status.get(), "SnapshotState", QStringLiteral("finished"));
    plist_dict_set_item(status.get(), "IsFullBackup", plist_new_bool(0));
    writeFile(dir.filePath(QStringLiteral("Status.plist")), plistBytes(status.get(), false));
}

void SampleBackup::writeMbdb(const QString& file, const FileKeys* keys) const
{
    QByteArray out("mbdb\x05\x00", 6);
    out.reserve(int(m_entries.size()) * 160);
    auto putString = [&out](const QByteArray& s, bool null = false) {
        if (null) {
            out.append("\xff\xff", 2);
            return;
        }
        out.append(char(s.size() >> 8)).append(char(s.size() & 0xff)).append(s);
    };
    auto put32 = [&out](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(char((v >> shift) & 0xff));
    };
    quint32 inode = 1000;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        putString(entryDomain(e));
        putString(entryPath(e));
        putString(e.kind == Symlink ? e.content : QByteArray(), e.kind != Symlink);
        const bool file = e.kind == File;
        putString(file ? QCryptographicHash::hash(e.content, QCryptographicHash::Sha1)
                       : QByteArray(),
                  !file);
        const QByteArray wrapped = keys ? keys->wrapped[i] : QByteArray();
        putString(wrapped, wrapped.isEmpty()); // the file's wrapped key, when encrypted
        const quint16 mode = e.kind == Directory ? 0x41ed : e.kind == Symlink ? 0xa1ed : 0x81a4;
        out.append(char(mode >> 8)).append(char(mode & 0xff));
        put32(0);
        put32(inode++);
        put32(501); // uid
        put32(501); // gid
        const quint32 modified = quint32(e.lastModified.value_or(kDefaultModified));
        put32(modified);
        put32(modified);
        put32(modified);
        const quint64 length = file ? quint64(e.content.size()) : 0;
        put32(quint32(length >> 32));
        put32(quint32(length));
        out.append(char(file ? (keys ? kFileClass : 4) : 0)); // the protection class
        out.append(char(e.properties.size()));
        for (const auto& [name, value] : e.properties) {
            putString(name);
            putString(value);
        }
    }
    writeFile(file, out);
}

namespace {

// The `file` column: an MBFile dictionary as NSKeyedArchiver writes it.
QByteArray mbFileBlob(const SampleBackup::Entry& e, qint64 size, const QByteArray& wrappedKey,
                      quint32 protectionClass, quint32 inode)
{
    Plist root(plist_new_dict());
    plist_dict_set_item(root.get(), "$version", plist_new_uint(100000));
    plist_dict_set_item(root.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    plist_dict_set_item(root.get(), "$top", top);
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t file = plist_new_dict();
    const qint64 modified = e.lastModified.value_or(SampleBackup::kDefaultModified);
    const quint64 mode = e.kind == SampleBackup::Directory ? 040755
                         : e.kind == SampleBackup::Symlink ? 0120755
                                                           : 0100644;
    plist_dict_set_item(file, "Size", plist_new_uint(uint64_t(size)));
    plist_dict_set_item(file, "ProtectionClass", plist_new_uint(protectionClass));
    plist_dict_set_item(file, "Mode", plist_new_uint(mode));
    plist_dict_set_item(file, "UserID", plist_new_uint(501));
    plist_dict_set_item(file, "GroupID", plist_new_uint(501));
    plist_dict_set_item(file, "InodeNumber", plist_new_uint(inode));
    plist_dict_set_item(file, "Flags", plist_new_uint(0));
    plist_dict_set_item(file, "LastModified", plist_new_uint(uint64_t(modified)));
    plist_dict_set_item(file, "Birth", plist_new_uint(uint64_t(modified)));
    plist_dict_set_item(file, "LastStatusChange", plist_new_uint(uint64_t(modified)));
    plist_dict_set_item(file, "RelativePath", plist_new_uid(2));
    plist_dict_set_item(file, "$class", plist_new_uid(3));
    plist_array_append_item(objects, file);
    plist_array_append_item(objects, plist_new_string(e.path.toUtf8().constData()));
    plist_t mbClass = plist_new_dict();
    plist_dict_set_item(mbClass, "$classname", plist_new_string("MBFile"));
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string("MBFile"));
    plist_array_append_item(classes, plist_new_string("NSObject"));
    plist_dict_set_item(mbClass, "$classes", classes);
    plist_array_append_item(objects, mbClass);
    if (!wrappedKey.isEmpty()) {
        plist_dict_set_item(file, "EncryptionKey", plist_new_uid(4));
        plist_t data = plist_new_dict();
        plist_dict_set_item(data, "NS.data",
                            plist_new_data(wrappedKey.constData(), uint64_t(wrappedKey.size())));
        plist_dict_set_item(data, "$class", plist_new_uid(5));
        plist_array_append_item(objects, data);
        plist_t dataClass = plist_new_dict();
        plist_dict_set_item(dataClass, "$classname", plist_new_string("NSMutableData"));
        plist_t dataClasses = plist_new_array();
        plist_array_append_item(dataClasses, plist_new_string("NSMutableData"));
        plist_array_append_item(dataClasses, plist_new_string("NSData"));
        plist_array_append_item(dataClasses, plist_new_string("NSObject"));
        plist_dict_set_item(dataClass, "$classes", dataClasses);
        plist_array_append_item(objects, dataClass);
    }
    plist_dict_set_item(root.get(), "$objects", objects);
    return plistBytes(root.get(), true);
}

} // namespace

void SampleBackup::writeManifestDb(const QString& file, const FileKeys* keys) const
{
    QFile::remove(file);
    const QString name = QStringLiteral("samplegen-%1").arg(QUuid::createUuid().toString());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open())
            fail(QStringLiteral("cannot create %1: %2").arg(file, db.lastError().text()));
        QSqlQuery q(db);
        auto exec = [&q, &file](const QString& sql) {
            if (!q.exec(sql))
                fail(QStringLiteral("%1: %2").arg(file, q.lastError().text()));
        };
        if (walCatalog)
            exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        exec(QStringLiteral("CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, "
                            "relativePath TEXT, flags INTEGER, file BLOB)"));
        exec(QStringLiteral("CREATE INDEX FilesDomainIdx ON Files(domain)"));
        exec(QStringLiteral("CREATE INDEX FilesRelativePathIdx ON Files(relativePath)"));
        exec(QStringLiteral("CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)"));
        db.transaction();
        if (!q.prepare(QStringLiteral("INSERT OR REPLACE INTO Files VALUES (?, ?, ?, ?, ?)")))
            fail(q.lastError().text());
        for (size_t i = 0; i < m_entries.size(); ++i) {
            const Entry& e = m_entries[i];
            q.addBindValue(keyOf(e));
            q.addBindValue(e.domain);
            q.addBindValue(e.path);
            q.addBindValue(int(e.kind));
            q.addBindValue(mbFileBlob(e, e.kind == File ? e.content.size() : 0,
                                      keys ? keys->wrapped[i] : QByteArray(), keys ? kFileClass : 4,
                                      quint32(1000 + i)));
            if (!q.exec())
                fail(QStringLiteral("%1: %2").arg(file, q.lastError().text()));
        }
        if (!db.commit())
            fail(db.lastError().text());
        // Every row into the main file: an encrypted catalog is one file, with no -wal beside it.
        if (walCatalog)
            exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

void SampleBackup::writeCopiesInto(const QString& folder, bool split, const FileKeys* keys) const
{
    const QDir dir(folder);
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (e.kind != File || !e.hasCopy)
            continue;
        const QString key = keyOf(e);
        QString path = dir.filePath(key);
        if (split) {
            const QString sub = dir.filePath(key.left(2));
            QDir().mkpath(sub);
            path = QDir(sub).filePath(key);
        }
        writeFile(path, storedContent(i, keys));
    }
}

SampleBackup SampleBackup::demo()
{
    SampleBackup backup;
    backup.deviceName = QStringLiteral("Ferrowick Demo iPhone");
    backup.lastBackup = QDateTime(QDate(2026, 11, 28), QTime(19, 42, 5), Qt::UTC);
    backup.addFile(QStringLiteral("HomeDomain"),
                   QStringLiteral("Library/Preferences/com.apple.demo.plist"),
                   "<plist version=\"1.0\"><dict/></plist>\n");
    backup.addFiller(400, 7);
    addPhoneDatabases(backup, true);
    wechat::addWechatData(backup);
    media::addMediaData(backup);
    return backup;
}
