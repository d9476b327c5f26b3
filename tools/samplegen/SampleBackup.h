#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include "SampleEncryption.h"

#include <optional>
#include <vector>

// Writes synthetic backup folders: the fixture factory of the tests and the demo data.
// Everything is deterministic for a given seed.
class SampleBackup
{
public:
    enum class Catalog
    {
        Mbdb,
        Db
    };
    // Where stored copies go: Auto puts them flat for Mbdb and in two-character sub-folders for Db.
    enum class Layout
    {
        Auto,
        Flat,
        Split
    };
    enum class InfoForm
    {
        Xml,
        Binary,
        Garbage,
        Missing
    };

    enum EntryKind
    {
        File = 1,
        Directory = 2,
        Symlink = 4
    };
    // Encrypted backups: a file whose catalog holds no key, or whose copy decrypts to a last
    // block that is no valid padding (its plaintext: the content and 1 to 16 zero bytes).
    enum EncryptionFault
    {
        NoFault,
        NoKey,
        BadPadding
    };
    static constexpr qint64 kDefaultModified = 1482997230; // 2016-12-29 07:40:30 UTC
    struct Entry
    {
        QString domain;
        QString path;
        QByteArray content;
        EntryKind kind = File;
        bool hasCopy = true;
        QList<QPair<QByteArray, QByteArray>> properties; // binary catalog only
        QByteArray rawDomain; // when set, written instead of domain's UTF-8 (malformed names)
        QByteArray rawPath;
        std::optional<qint64> lastModified; // Unix seconds; kDefaultModified when unset
        EncryptionFault encryptionFault = NoFault;
    };

    std::optional<QString> deviceName = QStringLiteral("Ferrowick Demo iPhone");
    std::optional<QDateTime> lastBackup =
        QDateTime(QDate(2016, 12, 29), QTime(10, 20, 30), Qt::UTC);
    InfoForm infoForm = InfoForm::Xml;
    Catalog catalog = Catalog::Db;
    Layout layout = Layout::Auto;
    bool walCatalog = false;   // Manifest.db in WAL journal mode
    bool writeCopies = true;   // false: catalog only, for benchmarks of catalog reading
    bool bothCatalogs = false; // write Manifest.mbdb and Manifest.db side by side
    // Encrypts the backup: iOS 9 style with Catalog::Mbdb, iOS 10.2+ style with Catalog::Db.
    std::optional<SampleEncryption> encryption;
    static constexpr quint32 kFileClass = 3; // the protection class of every file

    void addFile(const QString& domain, const QString& path, const QByteArray& content);
    void addDirectory(const QString& domain, const QString& path);
    // A catalog entry whose stored copy is absent.
    void addMissingFile(const QString& domain, const QString& path);
    void addEntry(Entry entry) { m_entries.push_back(std::move(entry)); }
    // count realistic entries over several domains, with small contents.
    void addFiller(int count, quint32 seed = 1);

    const std::vector<Entry>& entries() const { return m_entries; }
    std::vector<Entry>& entries() { return m_entries; }

    // Writes the backup into folder, creating it. Throws std::runtime_error on failure.
    void write(const QString& folder) const;

    // The stored-copy name of an entry: lowercase hex SHA-1 of domain, '-', path.
    static QString keyOf(const QByteArray& domain, const QByteArray& path);
    static QString keyOf(const Entry& entry);

    // The demo backup of the run command: an iOS 6-era phone.
    static SampleBackup demo();
    // The run command's second demo backup: a current iPhone's databases, media and apps.
    static SampleBackup demoCurrent();

private:
    void writeInfoPlist(const QString& folder) const;
    struct FileKeys; // per entry: the file key and its wrapped form, for encrypted backups
    void writeMbdb(const QString& file, const FileKeys* keys) const;
    void writeManifestDb(const QString& file, const FileKeys* keys) const;
    void writeCopiesInto(const QString& folder, bool split, const FileKeys* keys) const;
    void writeManifestPlist(const QString& folder, const QByteArray& keybag,
                            const QByteArray& manifestKey) const;
    // The stored form of entry i: its content, encrypted when keys are given.
    QByteArray storedContent(size_t i, const FileKeys* keys) const;

    std::vector<Entry> m_entries;
};
