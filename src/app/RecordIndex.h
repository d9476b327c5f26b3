#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

struct TBackupFileRecord;

// The path under which a record appears in the file tree and in FRecordDict: application
// domains ("AppDomain-<id>") go under "Applications/<id>/", every other domain contributes
// only its Path, so the same path in two domains shares one tree path.
QString treePathOf(const QString& domain, const QString& path);

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
    QHash<QString, QString> FRecordDict; // tree path -> Key; the first record of a path stays
};
