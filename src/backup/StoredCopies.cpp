#include "backup/StoredCopies.h"

#include "backup/BackupCrypto.h"
#include "backup/BackupFileManager.h"
#include "backup/ManifestInfo.h"
#include "backup/MbFile.h"
#include "util/FileCopy.h"
#include "util/Sqlite.h"
#include "util/WorkFolder.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

Q_LOGGING_CATEGORY(lcStoredCopies, "ferrowick.storedcopies")

namespace {

// A file name for a copy in the private folder: the phone's own name, when it is one.
QString safeFileName(const QString& path, const QString& fallback)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QChar(0)))
        return fallback;
    return name;
}

QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xff);
    return bytes;
}

} // namespace

TStoredCopies::TStoredCopies(const QString& backupPath) : m_backupPath(backupPath)
{
    static QAtomicInt counter;
    m_connectionName = QStringLiteral("ferrowick-copies-%1").arg(counter.fetchAndAddRelaxed(1));
}

TStoredCopies::~TStoredCopies()
{
    if (QSqlDatabase::contains(m_connectionName)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
    }
    if (m_keys)
        m_keys->wipe();
    // m_work removes the private folder with every copy in it.
}

void TStoredCopies::setKeys(std::unique_ptr<TBackupKeys> keys)
{
    m_keys = std::move(keys);
}

const QString& TStoredCopies::workPath()
{
    if (!m_work)
        m_work = std::make_unique<TWorkFolder>(QStringLiteral("backup"));
    return m_work->path();
}

QString TStoredCopies::privateFolderFor(const QString& what)
{
    // Numbered, never named after catalog text: a hostile fileID must not pick a path.
    const QString folder =
        QDir(workPath()).filePath(QStringLiteral("%1-%2").arg(what).arg(++m_folderCount));
    if (!QDir().mkdir(folder) ||
        !QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner))
        throw Error(QStringLiteral("cannot create the private folder %1").arg(folder));
    return folder;
}

QString TStoredCopies::readableCatalog(const TManifestInfo& info)
{
    const QDir dir(m_backupPath);
    const QString mbdb = dir.filePath(QStringLiteral("Manifest.mbdb"));
    if (QFileInfo(mbdb).isFile()) {
        m_catalogFile = mbdb;
        return m_catalogFile;
    }
    const QString db = dir.filePath(QStringLiteral("Manifest.db"));
    if (!QFileInfo(db).isFile())
        throw Error(QStringLiteral("no Manifest.mbdb or Manifest.db in %1").arg(m_backupPath));

    if (!info.isEncrypted) {
        const QString wal = db + QStringLiteral("-wal");
        if (!QFileInfo(wal).isFile()) {
            m_catalogFile = db;
            return m_catalogFile;
        }
        const QString folder = privateFolderFor(QStringLiteral("catalog"));
        const QString copy = QDir(folder).filePath(QStringLiteral("Manifest.db"));
        for (const auto& [from, to] :
             {std::pair{db, copy}, std::pair{wal, copy + QStringLiteral("-wal")}}) {
            QFile in(from);
            if (!in.open(QIODevice::ReadOnly))
                throw Error(QStringLiteral("cannot open %1: %2").arg(from, in.errorString()));
            QFile out;
            createPrivateFile(out, to);
            copyContent(in, out, from);
        }
        m_catalogFile = copy;
        return m_catalogFile;
    }

    if (!m_keys)
        throw Error(QStringLiteral("the backup %1 is encrypted").arg(m_backupPath));
    if (info.manifestKey.size() != 44)
        throw Error(QStringLiteral("the backup's Manifest.plist holds no usable ManifestKey"));
    const std::optional<TSecret> key = m_keys->fileKey(info.manifestKey);
    if (!key)
        throw Error(QStringLiteral("the backup's ManifestKey cannot be unwrapped"));
    const QString copy =
        QDir(privateFolderFor(QStringLiteral("catalog"))).filePath(QStringLiteral("Manifest.db"));
    {
        QFile in(db);
        if (!in.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("cannot open %1: %2").arg(db, in.errorString()));
        QFile out;
        createPrivateFile(out, copy);
        decryptStream(in, out, *key);
    }
    if (!isPlainSqliteFile(copy))
        throw Error(QStringLiteral("Manifest.db of %1 does not decrypt to a SQLite database")
                        .arg(m_backupPath));
    m_catalogFile = copy;
    return m_catalogFile;
}

void TStoredCopies::setCatalog(const TBackupFileManager* catalog)
{
    m_catalog = catalog;
    m_recordOfKey.clear();
}

QString TStoredCopies::storedPath(const QString& Key) const
{
    return GetRealFileName(m_backupPath, Key);
}

QString TStoredCopies::catalogConnection()
{
    if (!QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        openReadOnlyDatabase(db, m_catalog ? m_catalog->dbPath() : m_catalogFile);
    }
    return m_connectionName;
}

std::optional<TStoredCopies::Entry> TStoredCopies::entryOf(const QString& Key)
{
    if (!m_catalog)
        return std::nullopt;
    if (!m_catalog->isSqlite()) {
        const auto& records = m_catalog->Records();
        if (m_recordOfKey.isEmpty() && !records.empty()) {
            m_recordOfKey.reserve(qsizetype(records.size()));
            for (size_t i = 0; i < records.size(); ++i)
                m_recordOfKey.insert(records.key(i), qsizetype(i)); // the last of a Key wins
        }
        const auto it = m_recordOfKey.constFind(Key);
        if (it == m_recordOfKey.constEnd())
            return std::nullopt;
        const TBackupFileRecord& record = records[size_t(it.value())];
        Entry entry{record.Domain, record.Path, record.EncryptionKey, {}};
        // Older catalogs hold the 40 wrapped bytes alone; the class is the record's flag byte.
        if (entry.wrappedKey.size() == 40)
            entry.wrappedKey.prepend(littleEndian32(record.Flag));
        if (record.LastModified > 0)
            entry.lastModified = record.LastModified;
        return entry;
    }

    QSqlQuery query(QSqlDatabase::database(catalogConnection(), false));
    query.setForwardOnly(true);
    if (!query.prepare(
            QStringLiteral("select domain, relativePath, file from Files where fileID = ?")))
        throw Error(describeSqlError(query.lastError(), m_catalogFile));
    query.addBindValue(Key);
    if (!query.exec())
        throw Error(describeSqlError(query.lastError(), m_catalogFile));
    if (!query.next())
        return std::nullopt;
    Entry entry{query.value(0).toString(), query.value(1).toString(), {}, {}};
    if (const auto file = parseMbFile(query.value(2).toByteArray())) {
        entry.wrappedKey = file->encryptionKey;
        entry.lastModified = file->lastModified;
    }
    return entry;
}

std::optional<QString> TStoredCopies::keyOf(const QString& domain, const QString& path)
{
    if (!m_catalog)
        return std::nullopt;
    if (!m_catalog->isSqlite()) {
        // The binary catalog names copies by its own rule; it counts only when listed.
        const QString key = CatalogKey(domain.toUtf8(), path.toUtf8());
        entryOf(key); // makes the index
        if (!m_recordOfKey.contains(key))
            return std::nullopt;
        return key;
    }
    QSqlQuery query(QSqlDatabase::database(catalogConnection(), false));
    query.setForwardOnly(true);
    if (!query.prepare(
            QStringLiteral("select fileID from Files where domain = ? and relativePath = ?")))
        throw Error(describeSqlError(query.lastError(), m_catalogFile));
    query.addBindValue(domain);
    query.addBindValue(path);
    if (!query.exec())
        throw Error(describeSqlError(query.lastError(), m_catalogFile));
    if (!query.next())
        return std::nullopt;
    return query.value(0).toString();
}

bool TStoredCopies::hasReadableCopy(const QString& Key)
{
    if (!QFileInfo(storedPath(Key)).isFile())
        return false;
    if (!m_keys)
        return true;
    const auto entry = entryOf(Key);
    if (!entry || entry->wrappedKey.size() != 44)
        return false;
    const quint32 clas =
        quint32(uchar(entry->wrappedKey[0])) | (quint32(uchar(entry->wrappedKey[1])) << 8) |
        (quint32(uchar(entry->wrappedKey[2])) << 16) | (quint32(uchar(entry->wrappedKey[3])) << 24);
    return m_keys->hasClass(clas);
}

void TStoredCopies::decryptTo(const QString& Key, const Entry& entry, QIODevice& out,
                              const std::function<bool(qint64)>& progress)
{
    const QString stored = storedPath(Key);
    if (entry.wrappedKey.isEmpty())
        throw TMissingKey(QStringLiteral("the catalog holds no key for %1").arg(entry.path));
    const std::optional<TSecret> key = m_keys->fileKey(entry.wrappedKey);
    if (!key)
        throw TMissingKey(QStringLiteral("the key of %1 cannot be unwrapped").arg(entry.path));
    QFile in(stored);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot open %1: %2").arg(stored, in.errorString()));
    const TDecryptResult result = decryptStream(in, out, *key, progress);
    if (!result.paddingValid)
        qCWarning(lcStoredCopies, "%s (%s): no valid padding after decryption; kept whole",
                  qUtf8Printable(entry.path), qUtf8Printable(Key));
}

QString TStoredCopies::materialise(const QString& Key, const QString& folder, const QString& name)
{
    const QString target = QDir(folder).filePath(name);
    QFile out;
    createPrivateFile(out, target);
    try {
        if (m_keys) {
            const auto entry = entryOf(Key);
            if (!entry)
                throw TMissingKey(QStringLiteral("%1 is not in the catalog").arg(Key));
            decryptTo(Key, *entry, out);
        } else {
            const QString stored = storedPath(Key);
            QFile in(stored);
            if (!in.open(QIODevice::ReadOnly))
                throw Error(QStringLiteral("cannot open %1: %2").arg(stored, in.errorString()));
            copyContent(in, out, stored);
        }
    } catch (...) {
        out.close();
        QFile::remove(target);
        throw;
    }
    return target;
}

QString TStoredCopies::readable(const QString& Key)
{
    const QString stored = storedPath(Key);
    if (!QFileInfo(stored).isFile())
        throw Error(QStringLiteral("the backup holds no stored copy %1").arg(Key));
    if (!m_keys)
        return stored;
    if (const auto it = m_readable.constFind(Key); it != m_readable.constEnd())
        return it.value();
    const auto entry = entryOf(Key);
    if (!entry)
        throw TMissingKey(QStringLiteral("%1 is not in the catalog").arg(Key));
    const QString path =
        materialise(Key, privateFolderFor(QStringLiteral("file")), safeFileName(entry->path, Key));
    m_readable.insert(Key, path);
    return path;
}

QString TStoredCopies::readableDatabase(const QString& Key)
{
    const QString cacheKey = QStringLiteral("db:") + Key;
    if (const auto it = m_readable.constFind(cacheKey); it != m_readable.constEnd())
        return it.value();
    const auto entry = entryOf(Key);
    const auto walKey =
        entry ? keyOf(entry->domain, entry->path + QStringLiteral("-wal")) : std::nullopt;
    if (!walKey || !QFileInfo(storedPath(*walKey)).isFile()) {
        const QString path = readable(Key);
        m_readable.insert(cacheKey, path);
        return path;
    }
    if (!QFileInfo(storedPath(Key)).isFile())
        throw Error(QStringLiteral("the backup holds no stored copy %1").arg(Key));
    const QString folder = privateFolderFor(QStringLiteral("db"));
    const QString name = safeFileName(entry->path, QStringLiteral("database"));
    const QString path = materialise(Key, folder, name);
    materialise(*walKey, folder, name + QStringLiteral("-wal"));
    m_readable.insert(cacheKey, path);
    return path;
}

QString TStoredCopies::keyOfStoredPath(const QString& srcFile) const
{
    const QString key = QFileInfo(srcFile).fileName();
    if (key.isEmpty() || QDir::cleanPath(QFileInfo(storedPath(key)).absoluteFilePath()) !=
                             QDir::cleanPath(QFileInfo(srcFile).absoluteFilePath()))
        return {};
    return key;
}

QString TStoredCopies::readableFile(const QString& srcFile)
{
    const QString key = keyOfStoredPath(srcFile);
    return key.isEmpty() ? srcFile : readable(key);
}

void TStoredCopies::writeContent(const QString& srcFile, QIODevice& out,
                                 const std::function<bool(qint64)>& progress)
{
    const QString key = keyOfStoredPath(srcFile);
    if (m_keys && !key.isEmpty()) {
        const auto entry = entryOf(key);
        if (!entry)
            throw TMissingKey(QStringLiteral("%1 is not in the catalog").arg(key));
        decryptTo(key, *entry, out, progress);
        return;
    }
    QFile in(srcFile);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot open %1: %2").arg(srcFile, in.errorString()));
    copyContent(in, out, srcFile, progress);
}

std::optional<qint64> TStoredCopies::lastModified(const QString& Key)
{
    const auto entry = entryOf(Key);
    return entry ? entry->lastModified : std::nullopt;
}

std::optional<qint64> TStoredCopies::lastModifiedOfFile(const QString& srcFile)
{
    const QString key = keyOfStoredPath(srcFile);
    return key.isEmpty() ? std::nullopt : lastModified(key);
}
