#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

struct TBackupFileRecord;
class TBackupFileRecords;

// The path under which a record appears in the file tree and in FRecordDict: application
// domains ("AppDomain-<id>") go under "Applications/<id>/", every other domain contributes
// only its Path, so the same path in two domains shares one tree path.
QString treePathOf(const QString& domain, const QString& path);
// The same into buffer, reused from call to call; the result is path itself where the domain
// adds nothing, and a view of buffer otherwise.
QStringView treePathOf(const QString& domain, QStringView path, QString& buffer);

// Tree path -> Key, the first entry of a path staying. Holds no strings of its own for the
// records of a catalog: a slot names a record, whose tree path and Key are made when asked
// for. Entries added by text (insert) are kept as given.
class TRecordDict
{
public:
    qsizetype size() const { return qsizetype(m_used); }
    bool isEmpty() const { return m_used == 0; }
    bool contains(QStringView treePath) const;
    QString value(const QString& treePath, const QString& fallback = {}) const;
    void clear();
    void reserve(size_t count);

    // Adds treePath -> key unless treePath is there already.
    void insert(const QString& treePath, const QString& key);
    // Adds record index of records under treePath unless treePath is there already. All
    // records added so must be of the same records, which must stay while they are here.
    void insertRecord(const TBackupFileRecords& records, size_t index, QStringView treePath);
    // The entries whose tree path starts with prefix, as a plain dictionary.
    QHash<QString, QString> below(QStringView prefix) const;

private:
    struct Slot
    {
        quint32 hash;
        quint32 entry; // 0 free; else a record index + 1, or bit 31 and an index into m_texts + 1
    };
    static constexpr quint32 kText = 0x80000000u;
    QStringView treePathOf(quint32 entry, QString& pathBuffer, QString& buffer) const;
    QString keyOf(quint32 entry) const;
    // The slot of treePath, or of the free slot where it would go.
    size_t slotOf(QStringView treePath, quint32 hash) const;
    void add(QStringView treePath, quint32 entry);

    std::vector<Slot> m_table; // a power of two long, at most half full
    size_t m_used = 0;
    const TBackupFileRecords* m_records = nullptr;
    std::vector<std::pair<QString, QString>> m_texts;
};

// Where the well-known databases of a loaded backup lie, and the tree-path dictionary the
// chat viewer looks media up in. Every string field holds the Key of the matching record,
// empty when none matched; the last matching record in catalog order wins.
class TRecordIndex
{
public:
    // Empties the database fields; FWechatRoot is left as it is (it only means something
    // while FWechatDbFile is set).
    void initState();
    // initState, and empties FRecordDict and the WeChat account lists.
    void clearIndex();
    // Matches one record against the well-known databases, then offers it to FRecordDict.
    void indexRecord(const TBackupFileRecord& record, const QString& treePath);
    // The same for entry index of records (which must stay while FRecordDict holds it).
    void indexRecord(const TBackupFileRecords& records, size_t index, QStringView path,
                     QStringView treePath);

    QString FnotesDbFile;
    QString FsmsDbFile;
    QString FcallHistoryDbFile;
    bool FHasCamera = false;
    QString FRecordingDb;
    QString FcontactsDbFile;
    QString FcalendarDbFile;
    QString FWechatDbFile;
    QString FWechatRoot;
    // Current iPhones (iOS 8 and later) keep these databases elsewhere and in other formats.
    QString FcallRecordsDbFile; // Library/CallHistoryDB/CallHistory.storedata
    QString FnoteStoreDbFile;   // the Notes group container's NoteStore.sqlite
    QString FvoiceMemosDbFile;  // the Voice Memos group container's Recordings/CloudRecordings.db
    QHash<QString, QString> FVoiceMemoFiles; // file name in its Recordings/ -> Key
    // One entry per WeChat account folder (Documents/<folder>/ holding DB/MM.sqlite, or, for
    // current versions, DB/WCDB_Contact.sqlite or DB/message_N.sqlite under a 32-hex folder):
    // the Key of its MM.sqlite, else of the first of its databases in catalog order.
    QStringList FWechatDbs;
    QStringList FWechatRoots; // entry k: the tree-path prefix of FWechatDbs[k]'s account
    // The files of WeChat's app-group container (AppDomainGroup-group.com.tencent.xin), which
    // the file tree files under their bare paths: path -> Key, the first record of a path stays.
    QHash<QString, QString> FWechatGroupFiles;
    TRecordDict FRecordDict; // tree path -> Key; the first record of a path stays

private:
    template <typename KeyOf>
    void match(QStringView domain, QStringView path, QStringView treePath, const KeyOf& keyOf);
};
