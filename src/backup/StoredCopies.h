#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include "util/Error.h"

#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class TBackupFileManager;
class TBackupKeys;
class TWorkFolder;
struct TManifestInfo;

// The one way from a catalog entry to a file a reader may open. Owned with the loaded backup.
//
// A plain backup's stored copies are opened where they lie (databases read-only and
// immutable), except a database whose catalog lists a -wal companion: the two are copied side
// by side under the database's own file name into the private working folder, so SQLite sees
// the rows that live only in the -wal. An encrypted backup's copies are decrypted into the
// working folder on first use and kept there for the session. The working folder, and with it
// every copy, goes away with this object; so do the keys. Nothing is written into the backup.
//
// GUI thread only.
class TStoredCopies final
{
    Q_DISABLE_COPY_MOVE(TStoredCopies)

public:
    explicit TStoredCopies(const QString& backupPath);
    ~TStoredCopies();

    const QString& backupPath() const { return m_backupPath; }

    // Encrypted backups: the class keys that open the files' own keys.
    void setKeys(std::unique_ptr<TBackupKeys> keys);
    bool isEncrypted() const { return m_keys != nullptr; }

    // The catalog to read for the backup: Manifest.mbdb, or Manifest.db where it lies when it
    // is plain and has no Manifest.db-wal beside it; else a private copy (with its -wal beside
    // it) or, encrypted, its decryption with ManifestKey (keys must be set). Throws Error.
    QString readableCatalog(const TManifestInfo& info);

    // Called once the catalog has been read; it must outlive this object.
    void setCatalog(const TBackupFileManager* catalog);

    // The stored copy of Key inside the backup folder (flat or in its two-character folder),
    // whether it exists or not.
    QString storedPath(const QString& Key) const;
    // Whether Key's stored copy exists and, for an encrypted backup, its key can be had.
    bool hasReadableCopy(const QString& Key);

    // A path to read Key's content from. Throws Error when the stored copy is missing or, for
    // an encrypted backup, its key is missing or cannot be unwrapped (TMissingKey).
    QString readable(const QString& Key);
    // As readable, for a SQLite database: companions listed in the catalog (-wal) come along.
    QString readableDatabase(const QString& Key);
    // For a file named by a list entry (TExportFile::srcFile): a stored copy of this backup is
    // made readable; any other file (a chat's temporary copy) is returned as it is.
    QString readableFile(const QString& srcFile);

    // Writes the readable content of srcFile (as for readableFile) to out, in large chunks:
    // memory stays flat whatever the size. progress hears, after each chunk, of the bytes of
    // srcFile read so far (for an encrypted copy the stored, encrypted bytes); returning false
    // stops with Error("cancelled"). Throws Error on failure.
    void writeContent(const QString& srcFile, QIODevice& out,
                      const std::function<bool(qint64)>& progress = {});

    // The entry's modification time from the catalog, Unix seconds, when it has one.
    std::optional<qint64> lastModified(const QString& Key);
    // The same for a file named by a list entry; nothing for files not of this backup.
    std::optional<qint64> lastModifiedOfFile(const QString& srcFile);

    // This backup's private folder, below the program's working folder; made on first use.
    const QString& workPath();

private:
    struct Entry
    {
        QString domain;
        QString path;
        QByteArray wrappedKey; // class (4 bytes, little-endian) and the wrapped file key
        std::optional<qint64> lastModified;
    };

    std::optional<Entry> entryOf(const QString& Key);
    std::optional<QString> keyOf(const QString& domain, const QString& path);
    QString catalogConnection();
    QString keyOfStoredPath(const QString& srcFile) const;
    QString materialise(const QString& Key, const QString& folder, const QString& name);
    void decryptTo(const QString& Key, const Entry& entry, QIODevice& out,
                   const std::function<bool(qint64)>& progress = {});
    QString privateFolderFor(const QString& Key);

    QString m_backupPath;
    std::unique_ptr<TBackupKeys> m_keys;
    std::unique_ptr<TWorkFolder> m_work;
    const TBackupFileManager* m_catalog = nullptr;
    QString m_catalogFile; // the readable catalog
    QString m_connectionName;                // own read-only connection to the readable catalog
    QHash<QString, qsizetype> m_recordOfKey; // Manifest.mbdb: Key -> record index, made lazily
    QHash<QString, QString> m_readable;      // Key -> its readable path, for the session
    int m_folderCount = 0;
};

// The failure of a file whose key is missing from the catalog or cannot be unwrapped: views and
// exports skip such files and say how many they skipped.
class TMissingKey final : public Error
{
public:
    using Error::Error;
};
