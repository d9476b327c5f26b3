#include "SampleBackup.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "app/FormProgress.h"
#include "tables/FormSQL.h"
#include "app/Language.h"
#include "backup/BackupFileManager.h"
#include "backup/BackupInfo.h"
#include "backup/StoredCopies.h"
#include "util/WorkFolder.h"
#include "FolderSnapshot.h"
#include "PhoneDatabases.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QTableView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <memory>

// Drives the real main window under the offscreen platform. Dialogs are replaced by answers,
// message boxes by a list of the texts they would show.
class TestFormMain : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void defaultFolderFillsTheList();
    void nextNeedsASelectedBackup();
    void browseToAFolderWithoutBackup();
    void loadReachesTheMainPage();
    void barPassesHalfWhenCatalogEnds();
    void cancel_data();
    void cancel();
    void defaultHookHandlesEventsDuringLoad();
    void closingDuringLoadCancelsIt();
    void failedReadReturnsToIdle();
    void missingCatalogFailsAtOnce();
    void previousThenNextRebuildsTheTree();
    void fileNodesCarryRecordAndTreePath();
    void wechatDisabledAfterBackupWithout();
    void wizardOpensRecordTables_data();
    void wizardOpensRecordTables();
    void rowsOnlyInTheWalShow_data();
    void rowsOnlyInTheWalShow();
    void catalogRowsOnlyInTheWalShow();
    void pathsResolveAgainstTheLoadedBackup();
    void exportCheckedFiles();
    void exportNeverWritesIntoTheBackup();
    void exportStopsMidway_data();
    void exportStopsMidway();
    void exportCancelledWhileCollecting();
    void chineseTable();
    void chineseWithoutTableStartsInEnglish();
    void otherLanguageReadsNoTable();
    void languageTableCoversTheWindow();

private:
    std::unique_ptr<TFormMain> makeForm();
    QString writeBackup(const QString& name, SampleBackup& backup);
    void browseTo(TFormMain& form, const QString& folder);
    static QStringList filePaths(const QTreeView* tree);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TdmGlobal> m_dm;
    QStringList m_messages;
    QStringList m_errors;
};

void TestFormMain::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // An empty data folder: no default backups unless a test writes some.
    qputenv("XDG_DATA_HOME", m_dir->filePath("data").toUtf8());
    m_dm = std::make_unique<TdmGlobal>();
    m_messages.clear();
    m_errors.clear();
    setMessageSink([this](const QString& text, bool isError) {
        (isError ? m_errors : m_messages).append(text);
    });
}

void TestFormMain::cleanup()
{
    setMessageSink({});
    removeLanguageTable();
    QLocale::setDefault(QLocale::c());
    m_dm.reset();
    m_dir.reset();
}

std::unique_ptr<TFormMain> TestFormMain::makeForm()
{
    auto form = std::make_unique<TFormMain>(*m_dm);
    form->show();
    return form;
}

QString TestFormMain::writeBackup(const QString& name, SampleBackup& backup)
{
    const QString folder = m_dir->filePath(name);
    backup.write(folder);
    return folder;
}

void TestFormMain::browseTo(TFormMain& form, const QString& folder)
{
    form.chooseBackupFile = [folder] { return QDir(folder).filePath("Info.plist"); };
    form.btnBrowse->click();
}

QStringList TestFormMain::filePaths(const QTreeView* tree)
{
    QStringList paths;
    const QAbstractItemModel* model = tree->model();
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& item) {
        const QVariant path = item.data(TFormMain::kTreePathRole);
        if (path.isValid())
            paths << path.toString();
        for (int i = 0; i < model->rowCount(item); ++i)
            walk(model->index(i, 0, item));
    };
    for (int i = 0; i < model->rowCount(); ++i)
        walk(model->index(i, 0));
    return paths;
}

namespace {

// A node of the tree view, with the calls the tests make on one.
struct TreeNode
{
    QModelIndex index;
    explicit operator bool() const { return index.isValid(); }
    const TreeNode* operator->() const { return this; }
    QVariant data(int, int role) const { return index.data(role); }
    Qt::CheckState checkState(int) const
    {
        return Qt::CheckState(index.data(Qt::CheckStateRole).toInt());
    }
    void setCheckState(int, Qt::CheckState state) const
    {
        const_cast<QAbstractItemModel*>(index.model())->setData(index, state, Qt::CheckStateRole);
    }
};

TreeNode findNode(QTreeView* tree, const QString& treePath)
{
    const QAbstractItemModel* model = tree->model();
    QModelIndex node;
    for (const QString& part : treePath.split('/')) {
        QModelIndex next;
        for (int i = 0; i < model->rowCount(node) && !next.isValid(); ++i) {
            const QModelIndex child = model->index(i, 0, node);
            if (child.data().toString() == part)
                next = child;
        }
        if (!next.isValid())
            return {};
        node = next;
    }
    return {node};
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

SampleBackup smallBackup()
{
    SampleBackup b;
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms");
    b.addFile("HomeDomain", "Library/Notes/notes.sqlite", "notes");
    b.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", "jpeg");
    b.addFile("AppDomain-com.tencent.xin", "Documents/abc/DB/MM.sqlite", "mm");
    for (int i = 0; i < 30; ++i)
        b.addFile("HomeDomain", QStringLiteral("Library/Caches/f%1.txt").arg(i), "cache");
    return b;
}

} // namespace

void TestFormMain::defaultFolderFillsTheList()
{
    SampleBackup a;
    a.deviceName = QStringLiteral("Phone A");
    a.write(m_dir->filePath("data/Apple Computer/MobileSync/Backup/a"));
    QDir().mkpath(m_dir->filePath("data/Apple Computer/MobileSync/Backup/not-a-backup"));
    auto form = makeForm();
    QCOMPARE(form->cbbBackup->count(), 1);
    // The name with the date, so two backups of one phone can be told apart.
    QCOMPARE(form->cbbBackup->itemText(0),
             QStringLiteral("Phone A \u2014 ") + FormatBackupDate(*a.lastBackup));
    QCOMPARE(form->cbbBackup->currentIndex(), -1);
    QVERIFY(!form->BackupInfo());
    QVERIFY(m_errors.isEmpty());
    QVERIFY(m_messages.isEmpty());
}

void TestFormMain::nextNeedsASelectedBackup()
{
    SampleBackup b = smallBackup();
    const QString folder = writeBackup("b", b);
    auto form = makeForm(); // no default folder at all: an empty list, and the window opens
    QCOMPARE(form->cbbBackup->count(), 0);
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(!form->actNext->isEnabled());
    QVERIFY(!form->actPrev->isEnabled());
    QVERIFY(form->btnCancel->isHidden());
    QVERIFY(form->pbImport->isHidden());
    QVERIFY(form->lblImport->isHidden());

    // Browsing to another file of the folder (Status.plist) adds the backup all the same.
    form->chooseBackupFile = [folder] { return QDir(folder).filePath("Status.plist"); };
    form->btnBrowse->click();
    QCOMPARE(form->cbbBackup->count(), 1);
    QCOMPARE(form->cbbBackup->currentIndex(), 0);
    QCOMPARE(form->BackupInfo()->FBackupPath, QFileInfo(folder).absoluteFilePath());
    QVERIFY(form->actNext->isEnabled());

    // Cancelling the dialog changes nothing.
    form->chooseBackupFile = [] { return QString(); };
    form->btnBrowse->click();
    QCOMPARE(form->cbbBackup->count(), 1);
    QVERIFY(m_messages.isEmpty());
}

void TestFormMain::browseToAFolderWithoutBackup()
{
    QDir().mkpath(m_dir->filePath("empty"));
    QFile(m_dir->filePath("empty/other.plist")).open(QIODevice::WriteOnly);
    auto form = makeForm();
    form->chooseBackupFile = [this] { return m_dir->filePath("empty/other.plist"); };
    form->btnBrowse->click();
    QCOMPARE(m_messages, QStringList{"no backup found!"});
    QCOMPARE(form->cbbBackup->count(), 0);
    QVERIFY(!form->actNext->isEnabled());
}

void TestFormMain::loadReachesTheMainPage()
{
    SampleBackup b = smallBackup();
    const QString folder = writeBackup("b", b);
    auto form = makeForm();
    browseTo(*form, folder);
    form->actNext->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(form->tbcMain->currentWidget(), form->tabMain);
    QCOMPARE(form->tbcWizard->currentWidget(), form->tabWizard);
    QVERIFY(!form->FParsing);
    QVERIFY(!form->actNext->isEnabled());
    QVERIFY(form->actPrev->isEnabled());
    QVERIFY(form->btnCancel->isHidden());

    QVERIFY(form->actSms->isEnabled());
    QVERIFY(form->actNotes->isEnabled());
    QVERIFY(form->actCamera->isEnabled());
    QVERIFY(form->actWechat->isEnabled());
    // No call history, but an unencrypted backup of iOS 14: the button says why it is missing.
    QVERIFY(form->actCallHis->isEnabled());
    QVERIFY(!form->actContact->isEnabled());
    QVERIFY(!form->actRecording->isEnabled());
    QVERIFY(!form->actCalendar->isEnabled());
    QVERIFY(form->btnCalendar->isHidden());

    QCOMPARE(form->RealFileName(form->FsmsDbFile),
             GetRealFileName(folder, SampleBackup::keyOf("HomeDomain", "Library/SMS/sms.db")));
    QCOMPARE(readFile(form->RealFileName(form->FsmsDbFile)), QByteArray("sms"));
    QCOMPARE(form->FWechatDbs.size(), 1);
    QCOMPARE(form->FWechatRoot, QStringLiteral("Applications/com.tencent.xin/Documents/abc/"));
    QCOMPARE(form->FRecordDict.size(), qsizetype(b.entries().size()));
    QVERIFY(findNode(form->tvTree, "Library/SMS/sms.db"));
    QVERIFY(findNode(form->tvTree, "Applications/com.tencent.xin/Documents/abc/DB/MM.sqlite"));
}

void TestFormMain::barPassesHalfWhenCatalogEnds()
{
    SampleBackup b = smallBackup();
    auto form = makeForm();
    browseTo(*form, writeBackup("b", b));
    const int records = int(b.entries().size());
    int calls = 0;
    int atTreeStart = -1;
    form->setEventHook([&] {
        if (++calls == records + 1) { // the first record of the tree
            form->tmrUpdateTimer();
            atTreeStart = form->pbImport->value();
        }
    });
    form->actNext->trigger();
    QCOMPARE(calls, 2 * records);
    QVERIFY2(atTreeStart >= 50 && atTreeStart <= 52, qPrintable(QString::number(atTreeStart)));
}

void TestFormMain::cancel_data()
{
    QTest::addColumn<bool>("mbdb");
    QTest::addColumn<int>("at"); // the hook call that presses Cancel, counting from 1
    QTest::addColumn<bool>("inTree");
    QTest::newRow("db, catalog reading") << false << 5 << false;
    QTest::newRow("mbdb, catalog reading") << true << 5 << false;
    QTest::newRow("db, tree building") << false << 7 << true;
    QTest::newRow("mbdb, tree building") << true << 7 << true;
}

void TestFormMain::cancel()
{
    QFETCH(bool, mbdb);
    QFETCH(int, at);
    QFETCH(bool, inTree);
    SampleBackup b = smallBackup();
    b.catalog = mbdb ? SampleBackup::Catalog::Mbdb : SampleBackup::Catalog::Db;
    const QString folder = writeBackup("b", b);
    const int records = int(b.entries().size());
    auto form = makeForm();
    browseTo(*form, folder);

    const int pressAt = inTree ? records + at : at;
    int calls = 0;
    bool rowShown = false;
    form->setEventHook([&] {
        if (++calls != pressAt)
            return;
        rowShown = form->btnCancel->isVisible() && form->pbImport->isVisible() &&
                   form->lblImport->isVisible() && !form->actNext->isEnabled();
        form->btnCancel->click();
    });
    form->actNext->trigger();
    QVERIFY(rowShown);
    QVERIFY(m_errors.isEmpty());
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(form->FCancel);
    QVERIFY(!form->FParsing);
    QVERIFY(form->actNext->isEnabled());
    QVERIFY(form->btnCancel->isHidden());
    QVERIFY(form->lblImport->isHidden());
    if (inTree) {
        // The record during whose events Cancel came is still placed; the loop ends there.
        QCOMPARE(calls, records + at);
        QCOMPARE(qsizetype(form->BackupMgr()->Records().size()), qsizetype(records));
        QCOMPARE(form->FRecordDict.size(), qsizetype(at));
    } else {
        QCOMPARE(calls, at);
        QCOMPARE(qsizetype(form->BackupMgr()->Records().size()), qsizetype(at - 1));
        QVERIFY(form->FRecordDict.isEmpty());
    }

    // Next again reads the backup from the start.
    form->setEventHook({});
    form->actNext->trigger();
    QCOMPARE(form->tbcMain->currentWidget(), form->tabMain);
    QCOMPARE(qsizetype(form->BackupMgr()->Records().size()), qsizetype(records));
    QCOMPARE(form->FRecordDict.size(), qsizetype(records));
}

void TestFormMain::defaultHookHandlesEventsDuringLoad()
{
    SampleBackup b = smallBackup();
    auto form = makeForm();
    browseTo(*form, writeBackup("b", b));
    // A click queued before Next reaches the window while the catalog is being read.
    bool rowShown = false;
    QTimer::singleShot(0, form.get(), [&] {
        rowShown = form->btnCancel->isVisible();
        form->btnCancel->click();
    });
    form->actNext->trigger();
    QVERIFY(rowShown);
    QVERIFY(form->FCancel);
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(form->BackupMgr()->Records().empty());
    QVERIFY(form->actNext->isEnabled());
}

void TestFormMain::closingDuringLoadCancelsIt()
{
    SampleBackup b = smallBackup();
    auto form = makeForm();
    browseTo(*form, writeBackup("b", b));
    int calls = 0;
    form->setEventHook([&] {
        if (++calls == 3)
            form->btnClose->click();
    });
    form->actNext->trigger();
    QCOMPARE(calls, 3);
    QVERIFY(!form->isVisible());
    QVERIFY(form->FCancel);
    QVERIFY(!form->FParsing);
}

void TestFormMain::failedReadReturnsToIdle()
{
    SampleBackup b = smallBackup();
    b.catalog = SampleBackup::Catalog::Mbdb;
    const QString folder = writeBackup("b", b);
    QFile catalog(QDir(folder).filePath("Manifest.mbdb"));
    QVERIFY(catalog.resize(catalog.size() - 7)); // the last record is cut short
    auto form = makeForm();
    browseTo(*form, folder);
    form->actNext->trigger();
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].contains("truncated"), qPrintable(m_errors[0]));
    // After the error the Start page is idle again: no busy row, Next available at once.
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(!form->FParsing);
    QVERIFY(form->btnCancel->isHidden());
    QVERIFY(form->pbImport->isHidden());
    QVERIFY(form->lblImport->isHidden());
    QVERIFY(form->actNext->isEnabled());
    QVERIFY(!form->actCancel->isEnabled());
}

void TestFormMain::missingCatalogFailsAtOnce()
{
    SampleBackup b = smallBackup();
    const QString folder = writeBackup("b", b);
    QVERIFY(QFile::remove(QDir(folder).filePath("Manifest.db")));
    auto form = makeForm();
    browseTo(*form, folder);
    form->actNext->trigger();
    QCOMPARE(m_errors.size(), 1);
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(!form->FParsing);
    QVERIFY(form->btnCancel->isHidden());
    QVERIFY(form->actNext->isEnabled());
}

void TestFormMain::previousThenNextRebuildsTheTree()
{
    SampleBackup a = smallBackup();
    a.deviceName = QStringLiteral("A");
    a.addFile("HomeDomain", "Library/OnlyInA/a.txt", "a");
    // The same path in two domains gives one file node, the first one's.
    a.addFile("MediaDomain", "Library/SMS/sms.db", "other sms");
    SampleBackup b;
    b.deviceName = QStringLiteral("B");
    b.addFile("HomeDomain", "Library/OnlyInB/b.txt", "b");
    const QString folderA = writeBackup("a", a);
    const QString folderB = writeBackup("b", b);
    auto form = makeForm();
    browseTo(*form, folderA);
    browseTo(*form, folderB);
    form->cbbBackup->setCurrentIndex(0);
    form->actNext->trigger();
    const QStringList first = filePaths(form->tvTree);
    QCOMPARE(first.count("Library/SMS/sms.db"), 1);
    QCOMPARE(QSet<QString>(first.begin(), first.end()).size(), first.size());
    const int smsIndex =
        findNode(form->tvTree, "Library/SMS/sms.db")->data(0, TFormMain::kRecordIndexRole).toInt();
    QCOMPARE(form->BackupMgr()->Records()[size_t(smsIndex)].Domain, QStringLiteral("HomeDomain"));

    form->actPrev->trigger();
    QCOMPARE(form->tbcMain->currentWidget(), form->tabStart);
    QVERIFY(form->actNext->isEnabled());
    form->actNext->trigger();
    QCOMPARE(filePaths(form->tvTree), first);

    form->actPrev->trigger();
    form->cbbBackup->setCurrentIndex(1);
    form->actNext->trigger();
    QCOMPARE(filePaths(form->tvTree), QStringList{"Library/OnlyInB/b.txt"});
    QCOMPARE(form->tvTree->model()->rowCount(), 1);
}

void TestFormMain::fileNodesCarryRecordAndTreePath()
{
    SampleBackup b;
    b.addDirectory("AppDomain-app1", "");
    b.addFile("AppDomain-app1", "Documents/a.db", "a");
    b.addFile("HomeDomain", "Manifest", "no extension");
    b.addFile("HomeDomain", "top.txt", "single component");
    auto form = makeForm();
    browseTo(*form, writeBackup("b", b));
    form->actNext->trigger();
    const TreeNode node = findNode(form->tvTree, "Applications/app1/Documents/a.db");
    QVERIFY(node);
    QCOMPARE(node->data(0, TFormMain::kRecordIndexRole).toInt(), 1);
    QCOMPARE(node->data(0, TFormMain::kTreePathRole).toString(),
             QStringLiteral("Applications/app1/Documents/a.db"));
    QCOMPARE(node->checkState(0), Qt::Unchecked);
    const TreeNode folder = findNode(form->tvTree, "Applications/app1");
    QVERIFY(!folder->data(0, TFormMain::kRecordIndexRole).isValid());
    QCOMPARE(form->tvTree->model()->rowCount(), 1);
    QCOMPARE(form->tvTree->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Backup"));
}

void TestFormMain::rowsOnlyInTheWalShow_data()
{
    QTest::addColumn<int>("catalog");
    QTest::newRow("Manifest.db") << int(SampleBackup::Catalog::Db);
    QTest::newRow("Manifest.mbdb") << int(SampleBackup::Catalog::Mbdb);
}

void TestFormMain::rowsOnlyInTheWalShow()
{
    QFETCH(int, catalog);
    SampleBackup b;
    b.catalog = SampleBackup::Catalog(catalog);
    addPhoneDatabases(b, true);
    const QString folder = writeBackup("wal", b);
    const auto before = folderSnapshot(folder);
    auto form = makeForm();
    browseTo(*form, folder);
    form->actNext->trigger();
    QStringList texts;
    QString opened;
    QTimer::singleShot(0, [&] {
        auto* table = qobject_cast<TFormSQL*>(QApplication::activeModalWidget());
        if (!table)
            return;
        const QAbstractItemModel* model = table->lvSQL->model();
        for (int r = 0; r < model->rowCount(); ++r)
            texts << model->index(r, 2).data().toString();
        opened = form->StoredCopies()->readableDatabase(form->FsmsDbFile);
        table->btnClose->click();
    });
    form->actSms->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QVERIFY2(texts.contains("Only in the write-ahead log"), qPrintable(texts.join('|')));
    QVERIFY(texts.contains("Newest of all, also in the log"));
    QVERIFY(texts.contains(QStringLiteral("晚上一起吃饭吗？"))); // and the rows of the main file
    // The table read a private copy with its -wal beside it, under the database's own name.
    QVERIFY(TWorkFolder::contains(opened));
    QCOMPARE(QFileInfo(opened).fileName(), QStringLiteral("sms.db"));
    QVERIFY(QFileInfo::exists(opened + "-wal"));
    QCOMPARE(QFileInfo(opened).permissions() & 0x0077, QFile::Permissions());

    form->actPrev->trigger(); // unloads: the private copies go
    QVERIFY(!form->StoredCopies());
    QVERIFY(!QFileInfo::exists(opened));
    QCOMPARE(folderSnapshot(folder), before);
}

void TestFormMain::catalogRowsOnlyInTheWalShow()
{
    SampleBackup b;
    b.addFile("HomeDomain", "Library/InTheMainFile/a.txt", "a");
    const QString folder = writeBackup("catalogwal", b);
    const QString manifest = QDir(folder).filePath("Manifest.db");
    const auto pair = PhoneDatabases::withRowsInWal(
        readFile(manifest), {"INSERT INTO Files VALUES ('0123456789012345678901234567890123456789', "
                             "'HomeDomain', 'Library/OnlyInTheWal/b.txt', 1, NULL)"});
    QFile::remove(manifest);
    for (const auto& [path, bytes] :
         {std::pair{manifest, pair.db}, std::pair{manifest + "-wal", pair.wal}}) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    const auto before = folderSnapshot(folder);
    auto form = makeForm();
    browseTo(*form, folder);
    form->actNext->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    const QStringList paths = filePaths(form->tvTree);
    QVERIFY2(paths.contains("Library/OnlyInTheWal/b.txt"), qPrintable(paths.join('|')));
    QVERIFY(paths.contains("Library/InTheMainFile/a.txt"));
    form.reset();
    QCOMPARE(folderSnapshot(folder), before);
}

void TestFormMain::wizardOpensRecordTables_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("column"); // a column the window must show
    QTest::newRow("SMS") << "actSms" << "Text";
    QTest::newRow("Call History") << "actCallHis" << "Number";
    QTest::newRow("Notes") << "actNotes" << "Title";
    QTest::newRow("Contact") << "actContact" << "Phone / E-mail";
}

void TestFormMain::wizardOpensRecordTables()
{
    // The demo backup carries the phone's databases: each button shows its rows.
    QFETCH(QString, action);
    QFETCH(QString, column);
    SampleBackup demo = SampleBackup::demo();
    const QString folder = writeBackup("demo", demo);
    auto form = makeForm();
    browseTo(*form, folder);
    form->actNext->trigger();
    auto* act = form->findChild<QAction*>(action);
    QVERIFY(act);
    QVERIFY(act->isEnabled());
    int rows = -1;
    QStringList columns;
    QTimer::singleShot(0, [&] {
        auto* table = qobject_cast<TFormSQL*>(QApplication::activeModalWidget());
        if (!table)
            return;
        rows = table->lvSQL->model()->rowCount();
        for (int c = 0; c < table->lvSQL->model()->columnCount(); ++c)
            columns << table->lvSQL->model()->headerData(c, Qt::Horizontal).toString();
        table->btnClose->click();
    });
    act->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QVERIFY2(rows > 0, qPrintable(QString::number(rows)));
    QVERIFY2(columns.contains(column), qPrintable(columns.join(',')));
}

void TestFormMain::wechatDisabledAfterBackupWithout()
{
    SampleBackup a = smallBackup();
    SampleBackup b;
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms");
    auto form = makeForm();
    browseTo(*form, writeBackup("a", a));
    form->actNext->trigger();
    QVERIFY(form->actWechat->isEnabled());
    form->actPrev->trigger();
    browseTo(*form, writeBackup("b", b));
    form->actNext->trigger();
    QVERIFY(!form->actWechat->isEnabled());
    QVERIFY(!form->actCamera->isEnabled());
    QVERIFY(form->actSms->isEnabled());
    QVERIFY(!form->FWechatRoot.isEmpty()); // left from the first backup, and unused
}

void TestFormMain::pathsResolveAgainstTheLoadedBackup()
{
    SampleBackup a;
    a.addFile("HomeDomain", "Library/SMS/sms.db", "sms of A");
    SampleBackup b;
    b.layout = SampleBackup::Layout::Flat; // a stored copy of the same key, elsewhere
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms of B");
    const QString folderA = writeBackup("a", a);
    const QString folderB = writeBackup("b", b);
    auto form = makeForm();
    browseTo(*form, folderA);
    form->actNext->trigger();
    form->actPrev->trigger();
    browseTo(*form, folderB); // selected, not loaded
    QCOMPARE(readFile(form->RealFileName(form->FsmsDbFile)), QByteArray("sms of A"));
}

void TestFormMain::exportCheckedFiles()
{
    SampleBackup b;
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms");
    b.addFile("HomeDomain", "Library/SMS/a.txt", "unchecked");
    b.addMissingFile("HomeDomain", "Library/SMS/b.txt");
    b.addFile("HomeDomain", "Library/SMS/Drafts/c.plist", "draft");
    b.addFile("AppDomain-app1", "Documents/x.db", "app file");
    b.addFile("HomeDomain", "Library/Notes/notes.sqlite", "not checked");
    auto form = makeForm();
    browseTo(*form, writeBackup("b", b));
    form->actNext->trigger();
    QTreeView* tree = form->tvTree;

    // Checking a folder checks everything below it; unchecking one file leaves the folder's mark.
    findNode(tree, "Library/SMS")->setCheckState(0, Qt::Checked);
    QCOMPARE(findNode(tree, "Library/SMS/Drafts/c.plist")->checkState(0), Qt::Checked);
    QCOMPARE(findNode(tree, "Library/SMS/sms.db")->checkState(0), Qt::Checked);
    QCOMPARE(findNode(tree, "Library")->checkState(0), Qt::Unchecked);
    findNode(tree, "Library/SMS/a.txt")->setCheckState(0, Qt::Unchecked);
    QCOMPARE(findNode(tree, "Library/SMS")->checkState(0), Qt::Checked);
    QCOMPARE(findNode(tree, "Library/SMS/sms.db")->checkState(0), Qt::Checked);
    findNode(tree, "Applications")->setCheckState(0, Qt::Checked);

    const QString out = m_dir->filePath("export");
    QDir().mkpath(out);
    form->chooseExportFolder = [out] { return out; };
    form->tbcWizard->setCurrentWidget(form->tabAdv);
    form->btnExport->click();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(m_messages, QStringList{"Export Files sucessfully"});
    QCOMPARE(form->FExportPath, out + '/');
    QCOMPARE(readFile(out + "/Library/SMS/sms.db"), QByteArray("sms"));
    QCOMPARE(readFile(out + "/Library/SMS/Drafts/c.plist"), QByteArray("draft"));
    QCOMPARE(readFile(out + "/Applications/app1/Documents/x.db"), QByteArray("app file"));
    QVERIFY(!QFile::exists(out + "/Library/SMS/a.txt"));
    QVERIFY(!QFile::exists(out + "/Library/SMS/b.txt")); // no stored copy: skipped silently
    QVERIFY(!QFile::exists(out + "/Library/Notes"));

    // Exporting again replaces the files of the first export.
    QFile changed(out + "/Library/SMS/sms.db");
    QVERIFY(changed.open(QIODevice::WriteOnly | QIODevice::Truncate));
    changed.write("edited meanwhile");
    changed.close();
    form->btnExport->click();
    QCOMPARE(m_messages.size(), 2);
    QCOMPARE(readFile(out + "/Library/SMS/sms.db"), QByteArray("sms"));

    // Nothing checked: nothing copied, the message all the same.
    findNode(tree, "Library")->setCheckState(0, Qt::Checked);
    findNode(tree, "Library")->setCheckState(0, Qt::Unchecked);
    findNode(tree, "Applications")->setCheckState(0, Qt::Unchecked);
    const QString empty = m_dir->filePath("empty-export");
    QDir().mkpath(empty);
    form->chooseExportFolder = [empty] { return empty; };
    form->btnExport->click();
    QCOMPARE(m_messages.size(), 3);
    QVERIFY(QDir(empty).isEmpty());

    // Cancelling the folder chooser does nothing.
    form->chooseExportFolder = [] { return QString(); };
    form->btnExport->click();
    QCOMPARE(m_messages.size(), 3);
    QVERIFY(m_errors.isEmpty());
}

void TestFormMain::exportNeverWritesIntoTheBackup()
{
    SampleBackup b;
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms");
    const QString folder = writeBackup("b", b);
    auto form = makeForm();
    browseTo(*form, folder);
    form->actNext->trigger();
    findNode(form->tvTree, "Library")->setCheckState(0, Qt::Checked);
    const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    form->chooseExportFolder = [folder] { return QDir(folder).filePath("out"); };
    form->btnExport->click();
    QCOMPARE(m_errors.size(), 1);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

void TestFormMain::exportStopsMidway_data()
{
    QTest::addColumn<bool>("byClosing"); // closing the main window instead of Cancel
    QTest::newRow("Cancel") << false;
    QTest::newRow("closing the window") << true;
}

void TestFormMain::exportStopsMidway()
{
    QFETCH(bool, byClosing);
    SampleBackup b;
    b.addFile("HomeDomain", "Library/SMS/a.txt", "first");
    b.addFile("HomeDomain", "Library/SMS/b.txt", "second");
    b.addFile("HomeDomain", "Library/SMS/c.txt", "third");
    auto form = makeForm();
    browseTo(*form, writeBackup("b", b));
    form->actNext->trigger();
    findNode(form->tvTree, "Library")->setCheckState(0, Qt::Checked);
    const QString out = m_dir->filePath("export");
    form->chooseExportFolder = [out] { return out; };

    // Reports: before the first file, then after each chunk and each file; stop after the first
    // file (a small file is one chunk).
    int calls = 0;
    QString title;
    QString text;
    bool modal = false;
    form->setEventHook([&] {
        if (++calls != 3)
            return;
        auto* progress = form->findChild<TFormProgress*>();
        QVERIFY(progress && progress->isVisible());
        title = progress->windowTitle();
        text = progress->text();
        modal = progress->isModal();
        if (byClosing)
            form->close();
        else
            progress->btnCancel->click();
    });
    form->actExport->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(title, QStringLiteral("Exporting files ..."));
    QVERIFY2(text.startsWith("0 of 3 files, "), qPrintable(text));
    QVERIFY(modal);
    QCOMPARE(readFile(out + "/Library/SMS/a.txt"), QByteArray("first"));
    QVERIFY(!QFile::exists(out + "/Library/SMS/b.txt"));
    QVERIFY(!QFile::exists(out + "/Library/SMS/c.txt"));
    QCOMPARE(QDir(out + "/Library/SMS").entryList(QDir::Files | QDir::Hidden), {"a.txt"});
    if (byClosing) {
        // The window waits for the export to stop, then closes; no message in between.
        QVERIFY(form->isVisible());
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!form->StoredCopies());
    } else {
        QCOMPARE(m_messages, QStringList{"Export cancelled: 1 of 3 files exported"});
        QVERIFY(!form->findChild<TFormProgress*>());
    }
}

// A large tree takes a while to walk: the progress window is up meanwhile, and its Cancel
// stops the export before anything is copied.
void TestFormMain::exportCancelledWhileCollecting()
{
    SampleBackup b;
    constexpr int kFiles = 20000;
    for (int i = 0; i < kFiles; ++i)
        b.addFile("HomeDomain", QStringLiteral("Library/Many/%1/f%2.txt").arg(i % 100).arg(i), "x");
    auto form = makeForm();
    browseTo(*form, writeBackup("many", b));
    form->actNext->trigger();
    findNode(form->tvTree, "Library")->setCheckState(0, Qt::Checked);
    const QString out = m_dir->filePath("export-many");
    form->chooseExportFolder = [out] { return out; };
    int copyReports = 0;
    form->setEventHook([&copyReports] { ++copyReports; });
    QString text;
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, this, [&] {
        auto* progress = form->findChild<TFormProgress*>();
        if (!progress || !progress->isVisible() || !text.isEmpty())
            return;
        text = progress->text();
        progress->btnCancel->click();
    });
    canceller.start(1);
    form->actExport->trigger();
    canceller.stop();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QVERIFY2(text.startsWith(QStringLiteral("Collecting the checked files: ")), qPrintable(text));
    QCOMPARE(copyReports, 0);
    QCOMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages.first().startsWith(QStringLiteral("Export cancelled: 0 of ")),
             qPrintable(m_messages.first()));
    QVERIFY(!QFileInfo::exists(out + "/Library"));
    QVERIFY(!form->findChild<TFormProgress*>());
}

void TestFormMain::chineseTable()
{
    QDir().mkpath(m_dir->filePath("cwd/Lang"));
    QFile lang(m_dir->filePath("cwd/Lang/zh.txt"));
    QVERIFY(lang.open(QIODevice::WriteOnly));
    lang.write("next=wrong\r\nNext=\xe4\xb8\x8b\xe4\xb8\x80\xe6\xad\xa5\r\n"
               "Export Files sucessfully=\xe5\xaf\xbc\xe5\x87\xba\xe6\x88\x90\xe5\x8a\x9f\r\n");
    lang.close();
    const QString savedCwd = QDir::currentPath();
    QDir::setCurrent(m_dir->filePath("cwd"));
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    SampleBackup b;
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms");
    auto form = makeForm();
    QDir::setCurrent(savedCwd);
    QCOMPARE(form->actNext->text(), QStringLiteral("下一步"));
    QCOMPARE(form->btnNext->text(), QStringLiteral("下一步"));
    QCOMPARE(form->actPrev->text(), QStringLiteral("Previous")); // no entry: unchanged
    QCOMPARE(form->windowTitle(), QStringLiteral("铁芯备份查看器 1.0"));

    browseTo(*form, writeBackup("b", b));
    form->actNext->trigger();
    form->chooseExportFolder = [this] { return m_dir->path(); };
    form->btnExport->click();
    QCOMPARE(m_messages, QStringList{QStringLiteral("导出成功")});
}

void TestFormMain::chineseWithoutTableStartsInEnglish()
{
    QDir().mkpath(m_dir->filePath("cwd"));
    const QString savedCwd = QDir::currentPath();
    QDir::setCurrent(m_dir->filePath("cwd"));
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::Taiwan));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("language file"));
    auto form = makeForm();
    QDir::setCurrent(savedCwd);
    QCOMPARE(form->actNext->text(), QStringLiteral("Next"));
    QVERIFY(form->isVisible());
    QVERIFY(m_errors.isEmpty());
}

void TestFormMain::otherLanguageReadsNoTable()
{
    QDir().mkpath(m_dir->filePath("cwd/Lang"));
    QFile lang(m_dir->filePath("cwd/Lang/zh.txt"));
    QVERIFY(lang.open(QIODevice::WriteOnly));
    lang.write("Next=X\n");
    lang.close();
    const QString savedCwd = QDir::currentPath();
    QDir::setCurrent(m_dir->filePath("cwd"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    auto form = makeForm();
    QDir::setCurrent(savedCwd);
    QCOMPARE(form->actNext->text(), QStringLiteral("Next"));
    QCOMPARE(form->windowTitle(), QStringLiteral("Ferrowick 1.0"));
}

void TestFormMain::languageTableCoversTheWindow()
{
    const TLanguageTable table =
        TLanguageTable::load(QStringLiteral(FERROWICK_SOURCE_DIR "/Lang/zh.txt"));
    auto form = makeForm();
    QStringList texts = {"no backup found!", "Export Files sucessfully",
                         "Export To",        "Specify Backup Information File",
                         "Plist(*.plist)",   "Progress..."};
    for (const QAction* action : form->findChildren<QAction*>())
        texts << action->text();
    for (const QAbstractButton* button : form->findChildren<QAbstractButton*>())
        texts << button->text();
    for (const QLabel* label : form->findChildren<QLabel*>())
        texts << label->text();
    for (int i = 0; i < form->tbcWizard->count(); ++i)
        texts << form->tbcWizard->tabText(i);
    texts << form->tvTree->model()->headerData(0, Qt::Horizontal).toString();
    texts.removeAll(QString());
    texts.removeDuplicates();
    QVERIFY(texts.size() > 20);
    for (const QString& text : texts)
        QVERIFY2(!table.lookup(text).isEmpty(), qPrintable("no translation of " + text));
}

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
