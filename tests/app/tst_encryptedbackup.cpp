#include "FolderSnapshot.h"
#include "PhoneDatabases.h"
#include "SampleBackup.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "app/FormProgress.h"
#include "backup/BackupFileManager.h"
#include "backup/StoredCopies.h"
#include "media/FormPhoto.h"
#include "tables/FormSQL.h"
#include "util/Sqlite.h"
#include "util/WorkFolder.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <sys/stat.h>

namespace {

int modeOf(const QString& path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A backup of every kind of file the readers meet, with two faults of encrypted backups.
SampleBackup phone(SampleBackup::Catalog catalog)
{
    SampleBackup b;
    b.catalog = catalog;
    b.deviceName = QStringLiteral("Locked Phone");
    addPhoneDatabases(b, true); // sms.db with rows only in its -wal
    b.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", QByteArray(5000, 'j'));
    SampleBackup::Entry keylessPhoto;
    keylessPhoto.domain = "CameraRollDomain";
    keylessPhoto.path = "Media/DCIM/100APPLE/IMG_0002.JPG";
    keylessPhoto.content = "a photo without its key";
    keylessPhoto.encryptionFault = SampleBackup::NoKey;
    b.addEntry(keylessPhoto);
    SampleBackup::Entry noKey;
    noKey.domain = "HomeDomain";
    noKey.path = "Library/Keyless/nokey.txt";
    noKey.content = "lost key";
    noKey.encryptionFault = SampleBackup::NoKey;
    b.addEntry(noKey);
    SampleBackup::Entry badPadding = noKey;
    badPadding.path = "Library/Keyless/padding.txt";
    badPadding.content = "no valid padding at the end";
    badPadding.encryptionFault = SampleBackup::BadPadding;
    badPadding.lastModified = 1300000000;
    b.addEntry(badPadding);
    return b;
}

QStringList tableRows(TFormMain& form, QAction* action)
{
    QStringList rows;
    QTimer::singleShot(0, [&] {
        auto* table = qobject_cast<TFormSQL*>(QApplication::activeModalWidget());
        if (!table)
            return;
        const QAbstractItemModel* model = table->lvSQL->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->index(r, c).data().toString();
            rows << cells.join('|');
        }
        table->btnClose->click();
    });
    action->trigger();
    Q_UNUSED(form);
    return rows;
}

void checkAll(TFormMain& form)
{
    for (const QModelIndex& node : form.childNodes())
        form.treeModel->setData(node, Qt::Checked, Qt::CheckStateRole);
}

} // namespace

// The real main window on encrypted backups of both kinds, under Xvfb.
class TestEncryptedBackup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void opensLikeThePlainBackup_data();
    void opensLikeThePlainBackup();
    void encryptedDemoShowsTheSameData();
    void passwordDialogIsMasked();
    void cancelAtThePasswordReturnsToStart();
    void cancelDuringTheDerivation();
    void unsupportedAndDamaged_data();
    void unsupportedAndDamaged();

private:
    // passwords answer the password dialog in turn; without them the window's own dialog asks.
    std::unique_ptr<TFormMain> makeForm(const QString& folder,
                                        std::optional<QStringList> passwords);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TdmGlobal> m_dm;
    QStringList m_messages;
    QStringList m_errors;
    int m_asked = 0;
};

void TestEncryptedBackup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", m_dir->filePath("data").toUtf8());
    m_dm = std::make_unique<TdmGlobal>();
    m_messages.clear();
    m_errors.clear();
    m_asked = 0;
    setMessageSink([this](const QString& text, bool isError) {
        (isError ? m_errors : m_messages).append(text);
    });
}

void TestEncryptedBackup::cleanup()
{
    setMessageSink({});
    m_dm.reset();
    m_dir.reset();
}

std::unique_ptr<TFormMain> TestEncryptedBackup::makeForm(const QString& folder,
                                                         std::optional<QStringList> passwords)
{
    auto form = std::make_unique<TFormMain>(*m_dm);
    if (passwords)
        form->askPassword = [this, answers = *passwords]() mutable -> std::optional<QString> {
            ++m_asked;
            if (answers.isEmpty())
                return std::nullopt;
            return answers.takeFirst();
        };
    form->show();
    form->chooseBackupFile = [folder] { return QDir(folder).filePath("Info.plist"); };
    form->btnBrowse->click();
    return form;
}

void TestEncryptedBackup::opensLikeThePlainBackup_data()
{
    QTest::addColumn<int>("catalog");
    QTest::newRow("iOS 10.2+: Manifest.db with ManifestKey") << int(SampleBackup::Catalog::Db);
    QTest::newRow("iOS 4 to 9: Manifest.mbdb with file keys") << int(SampleBackup::Catalog::Mbdb);
}

void TestEncryptedBackup::opensLikeThePlainBackup()
{
    QFETCH(int, catalog);
    SampleBackup b = phone(SampleBackup::Catalog(catalog));
    b.write(m_dir->filePath("plain"));
    b.encryption = SampleEncryption{"s3cret \xc3\xa9", 10, 10, 7};
    const QString folder = m_dir->filePath("locked");
    b.write(folder);
    const auto before = folderSnapshot(folder);

    // The plain backup, read first, is what the encrypted one must show.
    QStringList plainSms;
    std::vector<QString> plainKeys;
    {
        auto plain = makeForm(m_dir->filePath("plain"), QStringList());
        QVERIFY(!plain->cbbBackup->itemText(0).endsWith("(encrypted)"));
        plain->actNext->trigger();
        plainSms = tableRows(*plain, plain->actSms);
        for (const auto& r : plain->BackupMgr()->Records())
            plainKeys.push_back(r.Key);
    }
    QVERIFY(plainSms.join('\n').contains("Only in the write-ahead log"));

    auto form = makeForm(folder, QStringList{"wrong", QString::fromUtf8("s3cret \xc3\xa9")});
    QVERIFY(form->cbbBackup->itemText(0).endsWith("(encrypted)"));
    form->actNext->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(m_asked, 2);
    QCOMPARE(m_messages, QStringList{"The password is not correct for this backup"});
    QCOMPARE(form->tbcMain->currentWidget(), form->tabMain);
    std::vector<QString> keys;
    for (const auto& r : form->BackupMgr()->Records())
        keys.push_back(r.Key);
    QCOMPARE(keys, plainKeys);
    QVERIFY(form->StoredCopies()->isEncrypted());

    // Every table and file reads as in the plain backup.
    QCOMPARE(tableRows(*form, form->actSms), plainSms);
    TStoredCopies& copies = *form->StoredCopies();
    const QString photo =
        copies.readable(form->FRecordDict.value("Media/DCIM/100APPLE/IMG_0001.JPG"));
    QCOMPARE(readFile(photo), QByteArray(5000, 'j'));
    QVERIFY(TWorkFolder::contains(photo));
    QCOMPARE(modeOf(photo), 0600);
    QCOMPARE(modeOf(QFileInfo(photo).absolutePath()), 0700);
    QCOMPARE(modeOf(copies.workPath()), 0700);

    // The camera roll lists what it can show and says how many it left out.
    int listed = -1;
    QTimer::singleShot(0, [&listed] {
        if (auto* photos = qobject_cast<TFormPhoto*>(QApplication::activeModalWidget())) {
            listed = int(photos->FPhotos->size());
            photos->close();
        }
    });
    m_messages.clear();
    form->actCamera->trigger();
    QCOMPARE(listed, 1);
    QCOMPARE(m_messages,
             QStringList{"1 files are not shown: the backup holds no usable key for them"});

    // Export: decrypted files, the key-less one skipped and counted, the one without valid
    // padding kept whole, the catalog's dates on all.
    m_messages.clear();
    const QString out = m_dir->filePath("export");
    QDir().mkpath(out);
    form->chooseExportFolder = [out] { return out; };
    checkAll(*form);
    form->actExport->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(m_messages,
             (QStringList{"Export Files sucessfully",
                          "2 files were not exported: the backup holds no usable key for them"}));
    QCOMPARE(readFile(out + "/Media/DCIM/100APPLE/IMG_0001.JPG"), QByteArray(5000, 'j'));
    QVERIFY(!QFileInfo::exists(out + "/Library/Keyless/nokey.txt"));
    const QByteArray padded = "no valid padding at the end" + QByteArray(5, '\0');
    QCOMPARE(readFile(out + "/Library/Keyless/padding.txt"), padded);
    QCOMPARE(QFileInfo(out + "/Library/Keyless/padding.txt").lastModified().toSecsSinceEpoch(),
             qint64(1300000000));
    QCOMPARE(QFileInfo(out + "/Media/DCIM/100APPLE/IMG_0001.JPG").lastModified().toSecsSinceEpoch(),
             SampleBackup::kDefaultModified);
    QCOMPARE(readFile(out + "/Library/SMS/sms.db"),
             readFile(GetRealFileName(m_dir->filePath("plain"), form->FsmsDbFile)));

    // Previous unloads the backup: its private copies go, and the keys with them.
    const QString work = copies.workPath();
    form->actPrev->trigger();
    QVERIFY(!form->StoredCopies());
    QVERIFY(!QFileInfo::exists(work));
    QVERIFY(!QFileInfo::exists(photo));
    // Loaded again and closed: gone as well.
    m_asked = 0;
    form->askPassword = [] { return std::optional<QString>(QString::fromUtf8("s3cret \xc3\xa9")); };
    form->actNext->trigger();
    QCOMPARE(form->tbcMain->currentWidget(), form->tabMain);
    const QString again = form->StoredCopies()->workPath();
    QVERIFY(QFileInfo::exists(again));
    form->close();
    QVERIFY(!QFileInfo::exists(again));
    form.reset();
    QCOMPARE(folderSnapshot(folder), before);
}

// Every wizard button of the demo backup shows the same data, encrypted or not.
void TestEncryptedBackup::encryptedDemoShowsTheSameData()
{
    SampleBackup demo = SampleBackup::demo();
    demo.write(m_dir->filePath("plain"));
    demo.encryption = SampleEncryption{"ferrowick", 10, 10, 3};
    demo.write(m_dir->filePath("locked"));
    struct Seen
    {
        QMap<QString, QStringList> tables;
        QMap<QString, QByteArray> media; // camera roll and recordings, by phone file name
        QStringList wechatFriends;
    };
    auto look = [this](const QString& folder) {
        Seen seen;
        auto form = makeForm(folder, QStringList{"ferrowick"});
        form->actNext->trigger();
        for (QAction* action : {form->actSms, form->actCallHis, form->actNotes, form->actContact})
            seen.tables[action->objectName()] = tableRows(*form, action);
        std::vector<TExportFile> media;
        for (const QModelIndex& node : form->childNodes()) {
            form->CollectMedia({node}, media);
            form->CollectRecordings({node}, media);
        }
        for (const TExportFile& file : media)
            seen.media[file.dstFile] = readFile(form->StoredCopies()->readableFile(file.srcFile));
        const QString mm = form->StoredCopies()->readableDatabase(form->FWechatDbFile);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "mm");
            db.setConnectOptions("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY");
            db.setDatabaseName(readOnlyUri(mm));
            if (db.open()) {
                QSqlQuery q(db);
                q.exec("select UsrName, NickName from friend order by UsrName");
                while (q.next())
                    seen.wechatFriends << q.value(0).toString() + "|" + q.value(1).toString();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase("mm");
        return seen;
    };
    const Seen plain = look(m_dir->filePath("plain"));
    const Seen locked = look(m_dir->filePath("locked"));
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    for (auto it = plain.tables.begin(); it != plain.tables.end(); ++it) {
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key()));
        QCOMPARE(locked.tables.value(it.key()), it.value());
    }
    QVERIFY(plain.media.size() > 3);
    QCOMPARE(locked.media.keys(), plain.media.keys());
    for (auto it = plain.media.begin(); it != plain.media.end(); ++it)
        QVERIFY2(locked.media.value(it.key()) == it.value(), qPrintable(it.key()));
    QVERIFY(!plain.wechatFriends.isEmpty());
    QCOMPARE(locked.wechatFriends, plain.wechatFriends);
}

void TestEncryptedBackup::passwordDialogIsMasked()
{
    // The encrypted demo backup, opened through the window's own password dialog.
    SampleBackup b = SampleBackup::demo();
    b.encryption = SampleEncryption{"pw", 10, 10, 1};
    const QString folder = m_dir->filePath("locked");
    b.write(folder);
    auto form = makeForm(folder, std::nullopt);
    QLineEdit::EchoMode mode = QLineEdit::Normal;
    int rounds = 0;
    QTimer typer;
    connect(&typer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        mode = dialog->textEchoMode();
        dialog->setTextValue(++rounds == 1 ? "nope" : "pw");
        dialog->accept();
    });
    typer.start(50);
    form->actNext->trigger();
    QCOMPARE(mode, QLineEdit::Password);
    QCOMPARE(rounds, 2);
    QCOMPARE(form->tbcMain->currentWidget(), form->tabMain);
    QVERIFY(!tableRows(*form, form->actSms).isEmpty());
}

void TestEncryptedBackup::cancelAtThePasswordReturnsToStart()
{
    SampleBackup b = phone(SampleBackup::Catalog::Db);
    b.encryption = SampleEncryption{"pw", 10, 10, 1};
    const QString folder = m_dir->filePath("locked");
    b.write(folder);
    auto form = makeForm(folder, QStringList());
    form->actNext->trigger();
    QCOMPARE(m_asked, 1);
    QVERIFY(m_errors.isEmpty());
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(!form->StoredCopies());
    QVERIFY(!form->BackupMgr());
    QVERIFY(form->actNext->isEnabled());
    QVERIFY(form->btnCancel->isHidden());
}

void TestEncryptedBackup::cancelDuringTheDerivation()
{
    SampleBackup b = phone(SampleBackup::Catalog::Db);
    b.encryption = SampleEncryption{"pw", 10000000, 10, 1}; // seconds of work
    const QString folder = m_dir->filePath("locked");
    b.write(folder);
    auto form = makeForm(folder, QStringList{"pw"});
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    bool busy = false;
    int ticksBeforeCancel = -1;
    QElapsedTimer sinceCancel;
    QTimer::singleShot(400, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<TFormProgress*>(w);
            if (!progress || !progress->isVisible())
                continue;
            busy = progress->pbProgress->maximum() == 0 && progress->btnCancel->isVisible();
            ticksBeforeCancel = ticks;
            sinceCancel.start();
            progress->btnCancel->click();
        }
    });
    form->actNext->trigger();
    const qint64 returnedAfter = sinceCancel.isValid() ? sinceCancel.elapsed() : -1;
    QVERIFY(busy);
    QVERIFY2(ticksBeforeCancel >= 10, qPrintable(QString::number(ticksBeforeCancel))); // live
    QVERIFY2(returnedAfter >= 0 && returnedAfter < 250, qPrintable(QString::number(returnedAfter)));
    QVERIFY(m_errors.isEmpty());
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(!form->StoredCopies());
    QVERIFY(form->actNext->isEnabled());
}

void TestEncryptedBackup::unsupportedAndDamaged_data()
{
    QTest::addColumn<QByteArray>("manifestPlist"); // %KEYBAG% stands for the real keybag
    QTest::addColumn<bool>("encryptCatalog");
    QTest::addColumn<QString>("error");
    const QByteArray head = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                            "<key>IsEncrypted</key><true/>";
    QTest::newRow("iOS 10.0") << head +
                                     "<key>BackupKeyBag</key><data>%KEYBAG%</data></dict></plist>"
                              << false << "iOS 10.0";
    QTest::newRow("keybag cut short")
        << head + "<key>BackupKeyBag</key><data>VkVSUwAAAAQAAAAEVFlQ</data>"
                  "<key>ManifestKey</key><data>AAAA</data></dict></plist>"
        << true << "the backup's keybag is damaged";
}

void TestEncryptedBackup::unsupportedAndDamaged()
{
    QFETCH(QByteArray, manifestPlist);
    QFETCH(bool, encryptCatalog);
    QFETCH(QString, error);
    SampleBackup b = phone(SampleBackup::Catalog::Db);
    b.encryption = SampleEncryption{"pw", 10, 10, 1};
    const QString folder = m_dir->filePath("odd");
    b.write(folder);
    const QString plist = folder + "/Manifest.plist";
    QByteArray keybag;
    {
        // The keybag of the written Manifest.plist, in base64, for the row's own list.
        const QByteArray text = readFile(plist);
        const qsizetype at = text.indexOf("<key>BackupKeyBag</key>");
        const qsizetype open = text.indexOf("<data>", at) + 6;
        keybag = text.mid(open, text.indexOf("</data>", open) - open);
    }
    QFile out(plist);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(QByteArray(manifestPlist).replace("%KEYBAG%", keybag));
    out.close();
    if (!encryptCatalog) {
        SampleBackup plainCatalog = phone(SampleBackup::Catalog::Db);
        plainCatalog.write(m_dir->filePath("plaincatalog"));
        QVERIFY(QFile::remove(folder + "/Manifest.db"));
        QVERIFY(QFile::copy(m_dir->filePath("plaincatalog/Manifest.db"), folder + "/Manifest.db"));
    }
    auto form = makeForm(folder, QStringList{"pw"});
    form->actNext->trigger();
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].contains(error), qPrintable(m_errors[0]));
    QCOMPARE(m_asked, 0);
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(form->actNext->isEnabled());
}

QTEST_MAIN(TestEncryptedBackup)
#include "tst_encryptedbackup.moc"
