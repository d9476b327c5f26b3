#include "app/RecordIndex.h"

#include "backup/BackupFileManager.h"

#include <QRegularExpression>
#include <QHashFunctions>

namespace {
const QString kAppDomain = QStringLiteral("AppDomain-");
const QString kApplications = QStringLiteral("Applications/");
} // namespace

QString treePathOf(const QString& domain, const QString& path)
{
    if (!domain.startsWith(kAppDomain))
        return path;
    return kApplications + domain.mid(kAppDomain.size()) + QLatin1Char('/') + path;
}

QStringView treePathOf(const QString& domain, QStringView path, QString& buffer)
{
    if (!domain.startsWith(kAppDomain))
        return path;
    buffer.resize(0);
    buffer.append(kApplications);
    buffer.append(QStringView(domain).mid(kAppDomain.size()));
    buffer.append(QLatin1Char('/'));
    buffer.append(path);
    return buffer;
}

// TRecordDict

void TRecordDict::clear()
{
    m_table = {};
    m_used = 0;
    m_records = nullptr;
    m_texts = {};
}

void TRecordDict::reserve(size_t count)
{
    size_t size = 1024;
    while (size < count * 2)
        size *= 2;
    if (size <= m_table.size())
        return;
    std::vector<Slot> table(size, Slot{0, 0});
    const size_t mask = size - 1;
    for (const Slot& slot : m_table) {
        if (slot.entry == 0)
            continue;
        size_t i = slot.hash & mask;
        while (table[i].entry != 0)
            i = (i + 1) & mask;
        table[i] = slot;
    }
    m_table = std::move(table);
}

QStringView TRecordDict::treePathOf(quint32 entry, QString& pathBuffer, QString& buffer) const
{
    if (entry & kText)
        return m_texts[(entry & ~kText) - 1].first;
    const size_t index = entry - 1;
    return ::treePathOf(m_records->domain(index), m_records->path(index, pathBuffer), buffer);
}

QString TRecordDict::keyOf(quint32 entry) const
{
    if (entry & kText)
        return m_texts[(entry & ~kText) - 1].second;
    return m_records->key(entry - 1);
}

size_t TRecordDict::slotOf(QStringView treePath, quint32 hash) const
{
    const size_t mask = m_table.size() - 1;
    QString pathBuffer;
    QString buffer;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_table[i];
        if (slot.entry == 0 ||
            (slot.hash == hash && treePathOf(slot.entry, pathBuffer, buffer) == treePath))
            return i;
    }
}

bool TRecordDict::contains(QStringView treePath) const
{
    return !m_table.empty() && m_table[slotOf(treePath, quint32(qHash(treePath)))].entry != 0;
}

QString TRecordDict::value(const QString& treePath, const QString& fallback) const
{
    if (m_table.empty())
        return fallback;
    const Slot& slot = m_table[slotOf(treePath, quint32(qHash(treePath)))];
    return slot.entry != 0 ? keyOf(slot.entry) : fallback;
}

void TRecordDict::add(QStringView treePath, quint32 entry)
{
    if ((m_used + 1) * 2 > m_table.size())
        reserve(std::max<size_t>(m_used + 1, m_used * 2));
    const quint32 hash = quint32(qHash(treePath));
    Slot& slot = m_table[slotOf(treePath, hash)];
    if (slot.entry != 0)
        return; // the first entry of a path stays
    slot = Slot{hash, entry};
    ++m_used;
}

void TRecordDict::insert(const QString& treePath, const QString& key)
{
    if (contains(treePath))
        return;
    m_texts.emplace_back(treePath, key);
    add(treePath, quint32(m_texts.size()) | kText);
}

void TRecordDict::insertRecord(const TBackupFileRecords& records, size_t index,
                               QStringView treePath)
{
    if (index + 1 >= kText)
        return;
    m_records = &records;
    add(treePath, quint32(index + 1));
}

QHash<QString, QString> TRecordDict::below(QStringView prefix) const
{
    QHash<QString, QString> result;
    QString pathBuffer;
    QString buffer;
    for (const Slot& slot : m_table) {
        if (slot.entry == 0)
            continue;
        const QStringView treePath = treePathOf(slot.entry, pathBuffer, buffer);
        if (treePath.startsWith(prefix))
            result.insert(treePath.toString(), keyOf(slot.entry));
    }
    return result;
}

// TRecordIndex

void TRecordIndex::initState()
{
    FnotesDbFile.clear();
    FsmsDbFile.clear();
    FcallHistoryDbFile.clear();
    FRecordingDb.clear();
    FcontactsDbFile.clear();
    FcalendarDbFile.clear();
    FWechatDbFile.clear();
    FHasCamera = false;
    FcallRecordsDbFile.clear();
    FnoteStoreDbFile.clear();
    FvoiceMemosDbFile.clear();
    FVoiceMemoFiles.clear();
}

void TRecordIndex::clearIndex()
{
    initState();
    FRecordDict.clear();
    FWechatRoots.clear();
    FWechatDbs.clear();
    FWechatGroupFiles.clear();
}

namespace {

// A database's -wal, -shm or -journal file: read along with the database, never in its place.
bool isCompanion(QStringView path)
{
    return path.endsWith(QLatin1String("-wal")) || path.endsWith(QLatin1String("-shm")) ||
           path.endsWith(QLatin1String("-journal"));
}

} // namespace

template <typename KeyOf>
void TRecordIndex::match(QStringView domain, QStringView path, QStringView treePath,
                         const KeyOf& keyOf)
{
    if (path == QLatin1String("Library/Notes/notes.sqlite"))
        FnotesDbFile = keyOf();
    if (path == QLatin1String("Library/SMS/sms.db"))
        FsmsDbFile = keyOf();
    if (path == QLatin1String("Library/CallHistory/call_history.db"))
        FcallHistoryDbFile = keyOf();
    if (path.startsWith(QLatin1String("Media/DCIM/100APPLE")))
        FHasCamera = true;
    if (path.startsWith(QLatin1String("Media/Recordings/AssetManifest.plist")))
        FRecordingDb = keyOf();
    if (path.startsWith(QLatin1String("Library/AddressBook/AddressBook.sqlite")) &&
        !isCompanion(path))
        FcontactsDbFile = keyOf();
    if (path == QLatin1String("Library/Calendar/Calendar.sqlitedb"))
        FcalendarDbFile = keyOf();

    if (path == QLatin1String("Library/CallHistoryDB/CallHistory.storedata"))
        FcallRecordsDbFile = keyOf();
    if (domain == QLatin1String("AppDomainGroup-group.com.apple.notes") &&
        path == QLatin1String("NoteStore.sqlite"))
        FnoteStoreDbFile = keyOf();
    if (domain == QLatin1String("AppDomainGroup-group.com.apple.VoiceMemos.shared") &&
        path.startsWith(QLatin1String("Recordings/"))) {
        if (path == QLatin1String("Recordings/CloudRecordings.db"))
            FvoiceMemosDbFile = keyOf();
        else if (!isCompanion(path) && path.indexOf(QLatin1Char('/'), 11) < 0 && path.size() > 11)
            FVoiceMemoFiles.insert(path.mid(11).toString(), keyOf());
    }

    // Only the database itself is an account; its -wal and -shm come along when it is read.
    // Current versions keep contacts and messages in other databases of the same folder.
    static const QRegularExpression current(QStringLiteral(
        "^(Applications/com\\.tencent\\.xin/Documents/[0-9A-Fa-f]{32}/)DB/"
        "(?:WCDB_Contact|message_\\d+)\\.sqlite$"));
    const bool mm = treePath.startsWith(QLatin1String("Applications/com.tencent.xin")) &&
                    treePath.endsWith(QLatin1String("/DB/MM.sqlite"));
    QString root;
    if (mm) {
        root = treePath.toString().remove(QStringLiteral("DB/MM.sqlite"));
    } else if (treePath.startsWith(QLatin1String("Applications/com.tencent.xin/Documents/"))) {
        const QRegularExpressionMatch m = current.match(treePath.toString());
        if (m.hasMatch())
            root = m.captured(1);
    }
    if (!root.isEmpty()) {
        const qsizetype k = FWechatRoots.indexOf(root);
        if (k < 0) {
            FWechatDbs.append(keyOf());
            FWechatRoots.append(root);
        } else if (mm) {
            FWechatDbs[k] = keyOf();
        }
        FWechatDbFile = FWechatDbs.at(k < 0 ? FWechatDbs.size() - 1 : k);
        FWechatRoot = root;
    }
    if (domain == QLatin1String("AppDomainGroup-group.com.tencent.xin") &&
        !FWechatGroupFiles.contains(path.toString()))
        FWechatGroupFiles.insert(path.toString(), keyOf());
}

void TRecordIndex::indexRecord(const TBackupFileRecord& record, const QString& treePath)
{
    match(record.Domain, record.Path, treePath, [&record] { return record.Key; });
    FRecordDict.insert(treePath, record.Key);
}

void TRecordIndex::indexRecord(const TBackupFileRecords& records, size_t index, QStringView path,
                               QStringView treePath)
{
    match(records.domain(index), path, treePath, [&records, index] { return records.key(index); });
    FRecordDict.insertRecord(records, index, treePath);
}
