#include "app/RecordIndex.h"
#include "backup/BackupFileManager.h"

#include <QTest>

// Records are given as "domain|path"; record n gets the Key "k<n>".
class TestRecordIndex : public QObject
{
    Q_OBJECT
private slots:
    void treePath_data();
    void treePath();
    void matching_data();
    void matching();
    void initStateKeepsWechatRoot();
};

namespace {

TRecordIndex indexOf(const QStringList& records)
{
    TRecordIndex index;
    index.clearIndex();
    for (int i = 0; i < records.size(); ++i) {
        const QStringList parts = records[i].split(QLatin1Char('|'));
        TBackupFileRecord record;
        record.Domain = parts[0];
        record.Path = parts[1];
        record.Key = QStringLiteral("k%1").arg(i);
        index.indexRecord(record, treePathOf(record.Domain, record.Path));
    }
    return index;
}

QString field(const TRecordIndex& index, const QString& name)
{
    if (name == QLatin1String("sms"))
        return index.FsmsDbFile;
    if (name == QLatin1String("notes"))
        return index.FnotesDbFile;
    if (name == QLatin1String("callHistory"))
        return index.FcallHistoryDbFile;
    if (name == QLatin1String("camera"))
        return index.FHasCamera ? "true" : "false";
    if (name == QLatin1String("recording"))
        return index.FRecordingDb;
    if (name == QLatin1String("contacts"))
        return index.FcontactsDbFile;
    if (name == QLatin1String("calendar"))
        return index.FcalendarDbFile;
    if (name == QLatin1String("wechat"))
        return index.FWechatDbFile;
    if (name == QLatin1String("wechatRoot"))
        return index.FWechatRoot;
    if (name == QLatin1String("wechatDbs"))
        return index.FWechatDbs.join(QLatin1Char(','));
    if (name == QLatin1String("wechatRoots"))
        return index.FWechatRoots.join(QLatin1Char(','));
    if (name.startsWith(QLatin1String("group:")))
        return index.FWechatGroupFiles.value(name.mid(6), QStringLiteral("<none>"));
    if (name == QLatin1String("callRecords"))
        return index.FcallRecordsDbFile;
    if (name == QLatin1String("noteStore"))
        return index.FnoteStoreDbFile;
    if (name == QLatin1String("voiceMemos"))
        return index.FvoiceMemosDbFile;
    if (name == QLatin1String("voiceMemoFiles")) {
        QStringList files;
        for (auto it = index.FVoiceMemoFiles.cbegin(); it != index.FVoiceMemoFiles.cend(); ++it)
            files << it.key() + QLatin1Char('=') + it.value();
        files.sort();
        return files.join(QLatin1Char(','));
    }
    if (name.startsWith(QLatin1String("dict:")))
        return index.FRecordDict.value(name.mid(5), QStringLiteral("<none>"));
    qFatal("unknown field %s", qPrintable(name));
}

} // namespace

void TestRecordIndex::treePath_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("treePath");
    QTest::newRow("home domain") << "HomeDomain"
                                 << "Library/SMS/sms.db"
                                 << "Library/SMS/sms.db";
    QTest::newRow("app domain") << "AppDomain-app1"
                                << "Documents/a.db"
                                << "Applications/app1/Documents/a.db";
    QTest::newRow("app root entry") << "AppDomain-app1"
                                    << ""
                                    << "Applications/app1/";
    QTest::newRow("prefix is case-sensitive") << "appdomain-app1"
                                              << "x/a.db"
                                              << "x/a.db";
    QTest::newRow("app group domain") << "AppDomainGroup-group.x"
                                      << "a/b.db"
                                      << "a/b.db";
}

void TestRecordIndex::treePath()
{
    QFETCH(QString, domain);
    QFETCH(QString, path);
    QFETCH(QString, treePath);
    QCOMPARE(treePathOf(domain, path), treePath);
}

void TestRecordIndex::matching_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    const QString wx = QStringLiteral("AppDomain-com.tencent.xin|");
    const QString wxRoot = QStringLiteral("Applications/com.tencent.xin/Documents/");

    QTest::newRow("sms by equality") << QStringList{"HomeDomain|Library/SMS/sms.db"} << "sms"
                                     << "k0";
    QTest::newRow("sms companion does not match")
        << QStringList{"HomeDomain|Library/SMS/sms.db-wal"} << "sms"
        << "";
    QTest::newRow("sms in another domain") << QStringList{"MediaDomain|Library/SMS/sms.db"} << "sms"
                                           << "k0";
    QTest::newRow("sms is case-sensitive") << QStringList{"HomeDomain|library/sms/sms.db"} << "sms"
                                           << "";
    QTest::newRow("last match wins")
        << QStringList{"HomeDomain|Library/SMS/sms.db", "MediaDomain|Library/SMS/sms.db"} << "sms"
        << "k1";
    QTest::newRow("notes") << QStringList{"HomeDomain|Library/Notes/notes.sqlite"} << "notes"
                           << "k0";
    QTest::newRow("call history")
        << QStringList{"WirelessDomain|Library/CallHistory/call_history.db"} << "callHistory"
        << "k0";
    QTest::newRow("calendar by equality")
        << QStringList{"HomeDomain|Library/Calendar/Calendar.sqlitedb",
                       "HomeDomain|Library/Calendar/Calendar.sqlitedb-wal"}
        << "calendar"
        << "k0";
    // A companion file is read with its database, never instead of it.
    QTest::newRow("contacts by prefix, companion last")
        << QStringList{"HomeDomain|Library/AddressBook/AddressBook.sqlitedb",
                       "HomeDomain|Library/AddressBook/AddressBook.sqlitedb-wal"}
        << "contacts"
        << "k0";
    QTest::newRow("contacts by prefix, database last")
        << QStringList{"HomeDomain|Library/AddressBook/AddressBook.sqlitedb-wal",
                       "HomeDomain|Library/AddressBook/AddressBook.sqlitedb"}
        << "contacts"
        << "k1";
    // Current iPhones: the databases are known by their own domain where others share the path.
    const QString memos = QStringLiteral("AppDomainGroup-group.com.apple.VoiceMemos.shared|");
    QTest::newRow("CallHistory.storedata")
        << QStringList{"HomeDomain|Library/CallHistoryDB/CallHistory.storedata",
                       "HomeDomain|Library/CallHistoryDB/CallHistory.storedata-wal"}
        << "callRecords"
        << "k0";
    QTest::newRow("NoteStore in the Notes group")
        << QStringList{"AppDomainGroup-group.com.apple.notes|NoteStore.sqlite",
                       "AppDomainGroup-group.com.apple.notes|NoteStore.sqlite-wal"}
        << "noteStore"
        << "k0";
    QTest::newRow("NoteStore of another app")
        << QStringList{"AppDomainGroup-group.com.other|NoteStore.sqlite"} << "noteStore"
        << "";
    QTest::newRow("CloudRecordings.db")
        << QStringList{memos + "Recordings/CloudRecordings.db",
                       memos + "Recordings/CloudRecordings.db-wal"}
        << "voiceMemos"
        << "k0";
    QTest::newRow("voice memo files: database, companions and sub-folders left out")
        << QStringList{memos + "Recordings/CloudRecordings.db",
                       memos + "Recordings/CloudRecordings.db-shm",
                       memos + "Recordings/20240101 101010-AB.m4a",
                       memos + "Recordings/Sub/x.m4a", memos + "Recordings/",
                       "MediaDomain|Recordings/y.m4a", memos + "Recordings/20240102 0909-CD.qta"}
        << "voiceMemoFiles"
        << "20240101 101010-AB.m4a=k2,20240102 0909-CD.qta=k6";
    QTest::newRow("recordings by prefix")
        << QStringList{"MediaDomain|Media/Recordings/AssetManifest.plist"} << "recording"
        << "k0";
    QTest::newRow("camera 100APPLE")
        << QStringList{"CameraRollDomain|Media/DCIM/100APPLE/IMG_0001.JPG"} << "camera"
        << "true";
    QTest::newRow("camera 100APPLE in any domain")
        << QStringList{"AppDomain-x|Media/DCIM/100APPLE/IMG_0001.JPG"} << "camera"
        << "true";
    QTest::newRow("camera 101APPLE alone")
        << QStringList{"CameraRollDomain|Media/DCIM/101APPLE/IMG_0001.JPG"} << "camera"
        << "false";
    QTest::newRow("camera stays set")
        << QStringList{"CameraRollDomain|Media/DCIM/100APPLE/IMG_0001.JPG",
                       "CameraRollDomain|Media/DCIM/101APPLE/IMG_0002.JPG"}
        << "camera"
        << "true";

    QTest::newRow("wechat account") << QStringList{wx + "Documents/abc/DB/MM.sqlite"} << "wechat"
                                    << "k0";
    QTest::newRow("wechat root") << QStringList{wx + "Documents/abc/DB/MM.sqlite"} << "wechatRoot"
                                 << wxRoot + "abc/";
    // Only a database named exactly MM.sqlite is an account, never its companions.
    QTest::newRow("wechat companions are no accounts")
        << QStringList{wx + "Documents/abc/DB/MM.sqlite", wx + "Documents/abc/DB/MM.sqlite-wal",
                       wx + "Documents/abc/DB/MM.sqlite-shm"}
        << "wechatRoots" << wxRoot + "abc/";
    QTest::newRow("wechat companion last leaves the account")
        << QStringList{wx + "Documents/abc/DB/MM.sqlite", wx + "Documents/abc/DB/MM.sqlite-shm"}
        << "wechat"
        << "k0";
    QTest::newRow("wechat two accounts")
        << QStringList{wx + "Documents/abc/DB/MM.sqlite", wx + "Documents/def/DB/MM.sqlite"}
        << "wechatDbs"
        << "k0,k1";
    QTest::newRow("wechat last account is the field")
        << QStringList{wx + "Documents/abc/DB/MM.sqlite", wx + "Documents/def/DB/MM.sqlite"}
        << "wechat"
        << "k1";
    QTest::newRow("wechat needs the application")
        << QStringList{"AppDomain-com.other|Documents/abc/DB/MM.sqlite"} << "wechatDbs"
        << "";
    QTest::newRow("wechat database by its exact name")
        << QStringList{wx + "Documents/abc/MM.sqlite.bak", wx + "Documents/abc/Backup/MM.sqlite"}
        << "wechatRoots"
        << "";

    // Current versions: an account folder holding WCDB_Contact.sqlite or message shards, with
    // or without MM.sqlite, is one account whose entry names MM.sqlite when it has one.
    const QString hex = QStringLiteral("0123456789abcdef0123456789ABCDEF");
    QTest::newRow("wechat account of contacts only")
        << QStringList{wx + "Documents/" + hex + "/DB/WCDB_Contact.sqlite"} << "wechatRoots"
        << wxRoot + hex + "/";
    QTest::newRow("wechat account of shards only")
        << QStringList{wx + "Documents/" + hex + "/DB/message_2.sqlite",
                       wx + "Documents/" + hex + "/DB/message_1.sqlite"}
        << "wechatDbs"
        << "k0";
    QTest::newRow("wechat shards and MM.sqlite are one account")
        << QStringList{wx + "Documents/" + hex + "/DB/message_1.sqlite",
                       wx + "Documents/" + hex + "/DB/MM.sqlite",
                       wx + "Documents/" + hex + "/DB/WCDB_Contact.sqlite"}
        << "wechatDbs"
        << "k1";
    QTest::newRow("wechat current account is the field")
        << QStringList{wx + "Documents/abc/DB/MM.sqlite",
                       wx + "Documents/" + hex + "/DB/message_1.sqlite"}
        << "wechatRoot" << wxRoot + hex + "/";
    QTest::newRow("wechat shard needs a 32-hex folder")
        << QStringList{wx + "Documents/abc/DB/message_1.sqlite",
                       wx + "Documents/" + hex + "x/DB/message_1.sqlite"}
        << "wechatRoots"
        << "";
    QTest::newRow("wechat shard companions are no accounts")
        << QStringList{wx + "Documents/" + hex + "/DB/message_1.sqlite-wal",
                       wx + "Documents/" + hex + "/DB/WCDB_Contact.sqlite-shm",
                       wx + "Documents/" + hex + "/DB/message_x.sqlite"}
        << "wechatRoots"
        << "";
    QTest::newRow("wechat app-group files by path")
        << QStringList{"AppDomainGroup-group.com.tencent.xin|share/a/Img/b/1.pic",
                       "AppDomainGroup-group.com.other|share/a/Img/b/1.pic"}
        << "group:share/a/Img/b/1.pic"
        << "k0";
    QTest::newRow("wechat app-group of another app")
        << QStringList{"AppDomainGroup-group.com.other|share/a/Img/b/2.pic"}
        << "group:share/a/Img/b/2.pic"
        << "<none>";

    QTest::newRow("dictionary keeps the first record of a path")
        << QStringList{"HomeDomain|Library/SMS/sms.db", "MediaDomain|Library/SMS/sms.db"}
        << "dict:Library/SMS/sms.db"
        << "k0";
    QTest::newRow("dictionary by tree path")
        << QStringList{"AppDomain-app1|Documents/a.db"} << "dict:Applications/app1/Documents/a.db"
        << "k0";
    QTest::newRow("dictionary compares exactly")
        << QStringList{"HomeDomain|Library/SMS/sms.db"} << "dict:library/sms/sms.db"
        << "<none>";
}

void TestRecordIndex::matching()
{
    QFETCH(QStringList, records);
    QFETCH(QString, field);
    QFETCH(QString, expected);
    QCOMPARE(::field(indexOf(records), field), expected);
}

void TestRecordIndex::initStateKeepsWechatRoot()
{
    TRecordIndex index =
        indexOf({"AppDomain-com.tencent.xin|Documents/abc/DB/MM.sqlite",
                 "HomeDomain|Library/SMS/sms.db", "CameraRollDomain|Media/DCIM/100APPLE/a.jpg"});
    index.clearIndex();
    QVERIFY(index.FWechatDbFile.isEmpty());
    QVERIFY(index.FsmsDbFile.isEmpty());
    QVERIFY(!index.FHasCamera);
    QVERIFY(index.FWechatDbs.isEmpty());
    QVERIFY(index.FRecordDict.isEmpty());
    QCOMPARE(index.FWechatRoot, QStringLiteral("Applications/com.tencent.xin/Documents/abc/"));
}

QTEST_GUILESS_MAIN(TestRecordIndex)
#include "tst_recordindex.moc"
