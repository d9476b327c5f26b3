#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <QHash>

#include <functional>
#include <iterator>
#include <memory>
#include <vector>

class TdmGlobal;

// One name/value attribute of a binary-catalog entry.
struct TBackupFileProperty
{
    QString Name;
    QString Value;
};

// One catalog entry, from either catalog format. Only Domain, Path and Key are used further;
// the rest is kept for completeness.
struct TBackupFileRecord
{
    bool IsOld = false; // read from Manifest.mbdb
    QString Domain;
    QString Path; // path inside the domain, '/'-separated
    QString LinkTarget;
    QString DataHash;
    qint32 UserId = 0;
    qint32 GroupId = 0;
    qint64 FileLength = 0;
    quint8 Flag = 0;
    quint8 PropertyCount = 0;
    QString Key; // name of the stored copy in the backup folder
    QList<TBackupFileProperty> Properties;
    // Manifest.mbdb of an encrypted backup: the fifth string, the file's wrapped key (4-byte
    // little-endian class and 40 bytes, or the 40 bytes alone with the class in Flag).
    QByteArray EncryptionKey;
    quint32 LastModified = 0; // Manifest.mbdb: the modification time, Unix seconds; 0 unknown
};

// The records of one catalog, held compactly: a million entries must fit in a few hundred
// megabytes beside their tree. Paths are UTF-16 in large blocks that never move, domains are
// interned, a path of Latin-1 characters alone takes a byte a character, a Key that is a SHA-1
// in hex is kept as its 20 bytes, and the rarely used extras of a
// Manifest.mbdb entry stay as their raw bytes. Reading an entry builds a TBackupFileRecord;
// the views (domain, path) serve the loops that visit every entry.
class TBackupFileRecords final
{
public:
    class const_iterator
    {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = TBackupFileRecord;
        using difference_type = std::ptrdiff_t;
        using reference = TBackupFileRecord;
        using pointer = void;
        const_iterator(const TBackupFileRecords* owner, size_t index) : m_owner(owner), m_index(index) {}
        TBackupFileRecord operator*() const { return (*m_owner)[m_index]; }
        const_iterator& operator++() { ++m_index; return *this; }
        bool operator==(const const_iterator& other) const { return m_index == other.m_index; }
        bool operator!=(const const_iterator& other) const { return m_index != other.m_index; }
        difference_type operator-(const const_iterator& other) const { return difference_type(m_index) - difference_type(other.m_index); }

    private:
        const TBackupFileRecords* m_owner;
        size_t m_index;
    };

    TBackupFileRecords() = default;
    TBackupFileRecords(const TBackupFileRecords&) = delete;
    TBackupFileRecords& operator=(const TBackupFileRecords&) = delete;

    size_t size() const { return m_slots.size(); }
    bool empty() const { return m_slots.empty(); }
    TBackupFileRecord operator[](size_t index) const;
    TBackupFileRecord at(size_t index) const; // throws std::out_of_range
    TBackupFileRecord back() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    const QString& domain(size_t index) const { return m_domains[m_slots[index].domain]; }
    // Entry index's path: a view of the records, or of buffer, which it may fill.
    QStringView path(size_t index, QString& buffer) const;
    QString key(size_t index) const;

    void clear();
    void reserve(size_t count) { m_slots.reserve(count); }
    void reserveExtras(qint64 bytes) { m_extras.reserve(qsizetype(bytes)); }
    // Appends an entry; extras are the raw bytes of a Manifest.mbdb entry after its path.
    void append(QStringView domain, QStringView path, QStringView key, QByteArrayView extras = {});
    // The same with the Key given as its 20 digest bytes.
    void appendHashed(QStringView domain, QStringView path, QByteArrayView digest,
                      QByteArrayView extras = {});

private:
    struct Slot
    {
        const char* path; // UTF-16, or Latin-1 when pathLength has kLatin1
        quint32 pathLength;
        quint32 domain;
        quint32 keyLength; // 0: key holds the 20 digest bytes; else the text follows the path
        quint8 key[20];
    };
    static constexpr quint32 kLatin1 = 0x80000000u;
    static QStringView textAt(const char* at, qsizetype length, bool latin1, QString& buffer);
    // Copies first and second together; sets latin1 when they take a byte a character.
    const char* store(QStringView first, QStringView second, bool& latin1);
    void push(Slot slot, QStringView path, QStringView keyText, QByteArrayView extras);
    quint32 internDomain(QStringView domain);

    std::vector<Slot> m_slots;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_free = nullptr;
    size_t m_freeLeft = 0;
    QList<QString> m_domains;
    QHash<QString, quint32> m_domainIds;
    quint32 m_lastDomain = 0; // entries of a domain come together: most lookups end here
    // Manifest.mbdb only: where entry i's extras start in m_extras (one more at the end).
    std::vector<qint64> m_extraStarts;
    QByteArray m_extras;
};

// Reads a backup's catalog, Manifest.mbdb or else Manifest.db, into one list of records in
// catalog order. Lives on the GUI thread: the event hook runs once per record, so a reader
// can repaint, run its progress timer and set Cancel while ParseDb works.
class TBackupFileManager final
{
public:
    using EventHook = std::function<void()>;

    // Chooses the catalog of the backup folder APath, or reads catalogFile instead when given
    // (a private copy or decryption of the folder's Manifest.db); for Manifest.db points dm's
    // shared connection at it. Throws when there is no catalog or the database won't open.
    TBackupFileManager(const QString& APath, TdmGlobal& dm, EventHook eventHook = {},
                       const QString& catalogFile = {});
    TBackupFileManager(const TBackupFileManager&) = delete;
    TBackupFileManager& operator=(const TBackupFileManager&) = delete;

    // Replaces Records with the catalog's entries. Stops early when Cancel is set; throws on a
    // read error or a truncated catalog, keeping the records read until then.
    void ParseDb();

    const TBackupFileRecords& Records() const { return FRecords; }
    double Progress() const { return FProgress; }
    void setProgress(double progress) { FProgress = progress; }
    bool Cancel() const { return FCancel; }
    void setCancel(bool cancel) { FCancel = cancel; }

    const QString& dbPath() const { return FDb; }
    bool isSqlite() const { return FIsSqlite; }

private:
    void parseMbdb();
    void parseSqlite();
    void handleEvents()
    {
        if (m_eventHook)
            m_eventHook();
    }

    TdmGlobal& m_dm;
    EventHook m_eventHook;
    TBackupFileRecords FRecords;
    double FProgress = 0;
    QString FDb;
    bool FIsSqlite = false;
    bool FCancel = false;
};

// The stored copy of a catalog entry: backupPath/Key when that file exists (flat layout),
// otherwise backupPath/<first two characters of Key>/Key, unchecked.
QString GetRealFileName(const QString& backupPath, const QString& Key);

// The key a binary catalog gives an entry: lowercase hex SHA-1 of domain, '-', path.
QString CatalogKey(QByteArrayView domainUtf8, QByteArrayView pathUtf8);
