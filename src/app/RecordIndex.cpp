#include "app/RecordIndex.h"

#include "backup/BackupFileManager.h"

#include <QRegularExpression>

QString treePathOf(const QString& domain, const QString& path)
{
    static const QString appDomain = QStringLiteral("AppDomain-");
    if (!domain.startsWith(appDomain))
        return path;
    return QStringLiteral("Applications/") + domain.mid(appDomain.size()) + QLatin1Char('/') + path;
}

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
bool isCompanion(const QString& path)
{
    return path.endsWith(QLatin1String("-wal")) || path.endsWith(QLatin1String("-shm")) ||
           path.endsWith(QLatin1String("-journal"));
}

} // namespace

void TRecordIndex::indexRecord(const TBackupFileRecord& record, const QString& treePath)
{
    const QString& path = record.Path;
    if (path == QLatin1String("Library/Notes/notes.sqlite"))
        FnotesDbFile = record.Key;
    if (path == QLatin1String("Library/SMS/sms.db"))
        FsmsDbFile = record.Key;
    if (path == QLatin1String("Library/CallHistory/call_history.db"))
        FcallHistoryDbFile = record.Key;
    if (path.startsWith(QLatin1String("Media/DCIM/100APPLE")))
        FHasCamera = true;
    if (path.startsWith(QLatin1String("Media/Recordings/AssetManifest.plist")))
        FRecordingDb = record.Key;
    if (path.startsWith(QLatin1String("Library/AddressBook/AddressBook.sqlite")) &&
        !isCompanion(path))
        FcontactsDbFile = record.Key;
    if (path == QLatin1String("Library/Calendar/Calendar.sqlitedb"))
        FcalendarDbFile = record.Key;

    if (path == QLatin1String("Library/CallHistoryDB/CallHistory.storedata"))
        FcallRecordsDbFile = record.Key;
    if (record.Domain == QLatin1String("AppDomainGroup-group.com.apple.notes") &&
        path == QLatin1String("NoteStore.sqlite"))
        FnoteStoreDbFile = record.Key;
    if (record.Domain == QLatin1String("AppDomainGroup-group.com.apple.VoiceMemos.shared") &&
        path.startsWith(QLatin1String("Recordings/"))) {
        if (path == QLatin1String("Recordings/CloudRecordings.db"))
            FvoiceMemosDbFile = record.Key;
        else if (!isCompanion(path) && path.indexOf(QLatin1Char('/'), 11) < 0 && path.size() > 11)
            FVoiceMemoFiles.insert(path.mid(11), record.Key);
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
        root = QString(treePath).remove(QStringLiteral("DB/MM.sqlite"));
    } else if (treePath.startsWith(QLatin1String("Applications/com.tencent.xin/Documents/"))) {
        const QRegularExpressionMatch m = current.match(treePath);
        if (m.hasMatch())
            root = m.captured(1);
    }
    if (!root.isEmpty()) {
        const qsizetype k = FWechatRoots.indexOf(root);
        if (k < 0) {
            FWechatDbs.append(record.Key);
            FWechatRoots.append(root);
        } else if (mm) {
            FWechatDbs[k] = record.Key;
        }
        FWechatDbFile = FWechatDbs.at(k < 0 ? FWechatDbs.size() - 1 : k);
        FWechatRoot = root;
    }
    if (record.Domain == QLatin1String("AppDomainGroup-group.com.tencent.xin") &&
        !FWechatGroupFiles.contains(record.Path))
        FWechatGroupFiles.insert(record.Path, record.Key);

    if (!FRecordDict.contains(treePath))
        FRecordDict.insert(treePath, record.Key);
}
