#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
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

    const std::vector<TBackupFileRecord>& Records() const { return FRecords; }
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
    std::vector<TBackupFileRecord> FRecords;
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
