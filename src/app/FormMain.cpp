#include "app/FormMain.h"

#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/DesktopOpen.h"
#include "app/ExportFiles.h"
#include "app/FormProgress.h"
#include "app/Icons.h"
#include "app/Language.h"
#include "app/UnlockBackup.h"
#include "backup/BackupCrypto.h"
#include "backup/BackupFileManager.h"
#include "backup/BackupInfo.h"
#include "backup/ManifestInfo.h"
#include "backup/Plist.h"
#include "backup/StoredCopies.h"
#include "chat/FormMessages.h"
#include "chat/WechatAction.h"
#include "media/FormImage.h"
#include "media/FormVideo.h"
#include "media/FormPhoto.h"
#include "media/FormRecording.h"
#include "media/MediaFiles.h"
#include "media/VoiceMemos.h"
#include "tables/PersonalDataTables.h"
#include "util/Error.h"
#include "util/EventPump.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSet>
#include <QScopedValueRollback>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <openssl/crypto.h>

Q_DECLARE_METATYPE(TBackupInfo*)

namespace {

const QString kCaption = QStringLiteral("Ferrowick 1.0");
// The product's name in Chinese ("iron wick" backup viewer), for Chinese users' caption.
const QString kChineseCaption = QStringLiteral("铁芯备份查看器 1.0");

QToolButton* makeToolButton(QWidget* parent, const QString& name, QAction* action,
                            const QString& icon = {})
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    if (action)
        button->setDefaultAction(action);
    if (!icon.isEmpty()) {
        button->setIcon(ilMainIcon(icon));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    } else {
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    button->setIconSize(QSize(24, 24));
    button->setMinimumSize(80, 40);
    return button;
}

} // namespace

TFormMain::TFormMain(TdmGlobal& dm, QWidget* parent) : QWidget(parent), m_dm(dm)
{
    setEventHook({});
    chooseBackupFile = [this] {
        return QFileDialog::getOpenFileName(
            this, tr("Specify Backup Information File"),
            QDir(GetDefaultBackupDir()).filePath(QStringLiteral("info.plist")),
            tr("Plist(*.plist)"));
    };
    chooseExportFolder = [this] {
        return QFileDialog::getExistingDirectory(this, tr("Export To"));
    };
    askPassword = [this]() -> std::optional<QString> {
        bool ok = false;
        QString password = QInputDialog::getText(
            this, tr("Backup Password"), tr("This backup is encrypted. Enter its password:"),
            QLineEdit::Password, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return password;
    };
    FormCreate();
}

TFormMain::~TFormMain()
{
    // The model reads the records and the shape, which go before the view and its model do.
    treeModel->reset();
    unloadBackup();
}

void TFormMain::FormCreate()
{
    LoadLanguageFile();
    createActions();
    createLayout();
    retranslateUi();
    tbcMain->setCurrentWidget(tabStart);
    LoadBackupList();
    clearIndex();

    tmrUpdate = new QTimer(this);
    tmrUpdate->setInterval(1000);
    connect(tmrUpdate, &QTimer::timeout, this, guarded([this] { tmrUpdateTimer(); }));
    tmrUpdate->start();

    // Qt has no idle-time action updates: run them whenever the loop is about to wait, and
    // on a timer for the stretches (a load) in which it never waits.
    m_actionTimer = new QTimer(this);
    m_actionTimer->setInterval(100);
    connect(m_actionTimer, &QTimer::timeout, this, &TFormMain::updateActions);
    m_actionTimer->start();
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TFormMain::updateActions);
    updateActions();
}

void TFormMain::createActions()
{
    auto make = [this](QAction*& action, const char* name, void (TFormMain::*execute)()) {
        action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this,
                guarded([this, execute] { (this->*execute)(); }));
    };
    make(actNext, "actNext", &TFormMain::actNextExecute);
    make(actPrev, "actPrev", &TFormMain::actPrevExecute);
    make(actCancel, "actCancel", &TFormMain::actCancelExecute);
    make(actHome, "actHome", &TFormMain::actHomeExecute);
    make(actExport, "actExport", &TFormMain::actExportExecute);
    make(actSms, "actSms", &TFormMain::actSmsExecute);
    make(actMessages, "actMessages", &TFormMain::actMessagesExecute);
    make(actCallHis, "actCallHis", &TFormMain::actCallHisExecute);
    make(actNotes, "actNotes", &TFormMain::actNotesExecute);
    make(actCalendar, "actCalendar", &TFormMain::actCalendarExecute);
    make(actContact, "actContact", &TFormMain::actContactExecute);
    make(actCamera, "actCamera", &TFormMain::actCameraExecute);
    make(actRecording, "actRecording", &TFormMain::actRecordingExecute);
    make(actWechat, "actWechat", &TFormMain::actWechatExecute);
    actNext->setIcon(ilMainIcon(QStringLiteral("next")));
    actPrev->setIcon(ilMainIcon(QStringLiteral("prev")));
    actHome->setIcon(ilMainIcon(QStringLiteral("home")));
    actExport->setIcon(ilMainIcon(QStringLiteral("export")));
    actWechat->setIcon(ilMainIcon(QStringLiteral("wechat")));
}

void TFormMain::createLayout()
{
    setWindowTitle(kCaption);
    setWindowIcon(ilMainIcon(QStringLiteral("export")));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    tlbTop = new QToolBar(this);
    tlbTop->setObjectName(QStringLiteral("tlbTop"));
    btnClose = makeToolButton(tlbTop, QStringLiteral("btnClose"), nullptr, QStringLiteral("close"));
    connect(btnClose, &QToolButton::clicked, this, &QWidget::close);
    btnHome = makeToolButton(tlbTop, QStringLiteral("btnHome"), actHome, QStringLiteral("home"));
    tlbTop->addWidget(btnClose);
    tlbTop->addWidget(btnHome);
    layout->addWidget(tlbTop);

    tbcMain = new QStackedWidget(this);
    tbcMain->setObjectName(QStringLiteral("tbcMain"));
    layout->addWidget(tbcMain, 1);

    // Start page: the backup list, Browse, and the loading row.
    tabStart = new QWidget(tbcMain);
    tabStart->setObjectName(QStringLiteral("tabStart"));
    auto* start = new QGridLayout(tabStart);
    start->setContentsMargins(8, 22, 8, 8);
    start->setHorizontalSpacing(6);
    start->setVerticalSpacing(10);
    lbl1 = new QLabel(tabStart);
    lbl1->setObjectName(QStringLiteral("lbl1"));
    cbbBackup = new QComboBox(tabStart);
    cbbBackup->setObjectName(QStringLiteral("cbbBackup"));
    cbbBackup->setMinimumWidth(345);
    cbbBackup->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    btnBrowse = makeToolButton(tabStart, QStringLiteral("btnBrowse"), nullptr);
    btnBrowse->setMinimumSize(80, 26);
    connect(btnBrowse, &QToolButton::clicked, this, guarded([this] { btnBrowseClick(); }));
    lblImport = new QLabel(tabStart);
    lblImport->setObjectName(QStringLiteral("lblImport"));
    pbImport = new QProgressBar(tabStart);
    pbImport->setObjectName(QStringLiteral("pbImport"));
    pbImport->setRange(0, 100);
    pbImport->setValue(0);
    pbImport->setMinimumHeight(33);
    btnCancel = makeToolButton(tabStart, QStringLiteral("btnCancel"), actCancel);
    btnCancel->setMinimumSize(80, 26);
    start->addWidget(lbl1, 0, 0);
    start->addWidget(cbbBackup, 0, 1);
    start->addWidget(btnBrowse, 0, 2);
    start->addWidget(lblImport, 1, 0, 1, 3);
    start->addWidget(pbImport, 2, 0, 1, 2);
    start->addWidget(btnCancel, 2, 2);
    start->setColumnStretch(1, 1);
    start->setRowStretch(3, 1);
    tbcMain->addWidget(tabStart);

    // Main page: the Wizard and Advanced tabs.
    tabMain = new QWidget(tbcMain);
    tabMain->setObjectName(QStringLiteral("tabMain"));
    auto* mainLayout = new QVBoxLayout(tabMain);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    tbcWizard = new QTabWidget(tabMain);
    tbcWizard->setObjectName(QStringLiteral("tbcWizard"));
    mainLayout->addWidget(tbcWizard);

    tabWizard = new QWidget(tbcWizard);
    tabWizard->setObjectName(QStringLiteral("tabWizard"));
    auto* wizard = new QVBoxLayout(tabWizard);
    wizard->setContentsMargins(0, 0, 0, 0);
    wizard->setSpacing(0);
    auto wizardButton = [this, wizard](const QString& name, QAction* action,
                                       const QString& icon = {}) {
        QToolButton* button = makeToolButton(tabWizard, name, action, icon);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFixedHeight(40);
        wizard->addWidget(button);
        return button;
    };
    btnContact = wizardButton(QStringLiteral("btnContact"), actContact);
    btnSMS = wizardButton(QStringLiteral("btnSMS"), actSms);
    btnMessages = wizardButton(QStringLiteral("btnMessages"), actMessages);
    btnCallHis = wizardButton(QStringLiteral("btnCallHis"), actCallHis);
    btnNotes = wizardButton(QStringLiteral("btnNotes"), actNotes);
    btnCalendar = wizardButton(QStringLiteral("btnCalendar"), actCalendar);
    btnCalendar->setVisible(false); // the calendar view is never offered
    btnCamera = wizardButton(QStringLiteral("btnCamera"), actCamera);
    btnRecording = wizardButton(QStringLiteral("btnRecording"), actRecording);
    btnWechat = wizardButton(QStringLiteral("btnWechat"), actWechat);
    wizard->addStretch(1);
    tbcWizard->addTab(tabWizard, QString());

    tabAdv = new QWidget(tbcWizard);
    tabAdv->setObjectName(QStringLiteral("tabAdv"));
    auto* adv = new QVBoxLayout(tabAdv);
    adv->setContentsMargins(0, 0, 0, 0);
    adv->setSpacing(0);
    tlb1 = new QToolBar(tabAdv);
    tlb1->setObjectName(QStringLiteral("tlb1"));
    btnExport =
        makeToolButton(tlb1, QStringLiteral("btnExport"), actExport, QStringLiteral("export"));
    tlb1->addWidget(btnExport);
    adv->addWidget(tlb1);
    tvTree = new QTreeView(tabAdv);
    tvTree->setObjectName(QStringLiteral("tvTree"));
    treeModel = new TFileTreeModel(tvTree);
    treeModel->setObjectName(QStringLiteral("treeModel"));
    tvTree->setModel(treeModel);
    tvTree->setIndentation(20);
    tvTree->setUniformRowHeights(true);
    tvTree->header()->setStretchLastSection(true);
    tvTree->header()->setDefaultSectionSize(100);
    tvTree->setStyleSheet(QStringLiteral("QTreeView::item { height: 25px; }"));
    adv->addWidget(tvTree, 1);
    tbcWizard->addTab(tabAdv, QString());
    tbcMain->addWidget(tabMain);

    tlbBottom = new QToolBar(this);
    tlbBottom->setObjectName(QStringLiteral("tlbBottom"));
    auto* spacer = new QWidget(tlbBottom);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    tlbBottom->addWidget(spacer);
    btnPrev = makeToolButton(tlbBottom, QStringLiteral("btnPrev"), actPrev, QStringLiteral("prev"));
    btnNext = makeToolButton(tlbBottom, QStringLiteral("btnNext"), actNext, QStringLiteral("next"));
    tlbBottom->addWidget(btnPrev);
    tlbBottom->addWidget(btnNext);
    layout->addWidget(tlbBottom);

    resize(640, 480);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormMain::retranslateUi()
{
    btnClose->setText(tr("Close"));
    lbl1->setText(tr("Select Backup"));
    btnBrowse->setText(tr("Browse"));
    lblImport->setText(tr("Parsing Backup ..."));
    tbcWizard->setTabText(tbcWizard->indexOf(tabWizard), tr("Wizard"));
    tbcWizard->setTabText(tbcWizard->indexOf(tabAdv), tr("Advanced"));
    treeModel->setHeaderText(tr("Backup"));
    actNext->setText(tr("Next"));
    actPrev->setText(tr("Previous"));
    actCancel->setText(tr("Cancel"));
    actHome->setText(tr("Home"));
    actExport->setText(tr("Export Files"));
    actSms->setText(tr("SMS"));
    actMessages->setText(tr("Messages"));
    actCallHis->setText(tr("Call History"));
    actNotes->setText(tr("Notes"));
    actCalendar->setText(tr("Calendar"));
    actContact->setText(tr("Contact"));
    actCamera->setText(tr("Camera"));
    actRecording->setText(tr("Recording"));
    actWechat->setText(tr("Wechat"));
}

void TFormMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange && tbcMain)
        retranslateUi();
    QWidget::changeEvent(event);
}

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TFormMain::FormShow()
{
    if (GetUserLanguage().contains(QLatin1String("zh")))
        setWindowTitle(kChineseCaption);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // An export reads the stored copies: it stops first, and the window closes after it.
    if (m_exportCancel) {
        *m_exportCancel = true;
        m_closeAfterExport = true;
        event->ignore();
        return;
    }
    // Closing mid-load stops the load, so the program ends without reading on.
    if (FParsing)
        actCancelExecute();
    if (m_unlockCancel)
        *m_unlockCancel = true;
    FCancel = FCancel || m_loading;
    unloadBackup();
    event->accept();
}

void TFormMain::LoadLanguageFile()
{
    try {
        LoadUserLanguage();
    } catch (const Error& e) {
        // Without its table the program is still usable, in English.
        qWarning("%s", e.what());
    }
}

TBackupInfo* TFormMain::BackupInfo() const
{
    const int index = cbbBackup->currentIndex();
    return index < 0 ? nullptr : cbbBackup->itemData(index).value<TBackupInfo*>();
}

QString TFormMain::RealFileName(const QString& Key) const
{
    return GetRealFileName(m_loadedBackupPath, Key);
}

void TFormMain::setEventHook(EventHook hook)
{
    m_eventHook = hook ? std::move(hook) : defaultEventHook();
}

TFormMain::EventHook TFormMain::defaultEventHook()
{
    return EventPump(int(kEventInterval));
}

void TFormMain::processPendingEvents()
{
    QCoreApplication::processEvents();
}

void TFormMain::addBackup(std::unique_ptr<TBackupInfo> info)
{
    cbbBackup->addItem(backupListText(*info), QVariant::fromValue(info.get()));
    m_backups.push_back(std::move(info));
}

void TFormMain::LoadBackupList()
{
    // A missing default folder gives an empty list; Browse still works.
    for (auto& info : LoadBackupInfos(GetDefaultBackupDir()))
        addBackup(std::move(info));
    cbbBackup->setCurrentIndex(-1);
}

void TFormMain::btnBrowseClick()
{
    const QString file = chooseBackupFile();
    if (file.isEmpty())
        return;
    try {
        addBackup(std::make_unique<TBackupInfo>(QFileInfo(file).absolutePath()));
        cbbBackup->setCurrentIndex(cbbBackup->count() - 1);
    } catch (const std::exception&) {
        ShowMessage(QStringLiteral("no backup found!"));
    }
    updateActions();
}

namespace {

// Info.plist's "Product Version", for backups without a Manifest.plist that says it.
QString infoPlistProductVersion(const QString& folder)
{
    QFile file(QDir(folder).filePath(QStringLiteral("Info.plist")));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024)
        return {};
    const PlistPointer root = plistFromMemory(file.readAll());
    return plistDictString(root.get(), "Product Version").value_or(QString());
}

} // namespace

void TFormMain::actNextExecute()
{
    if (m_loading)
        return;
    const auto refresh = qScopeGuard([this] { updateActions(); });
    const QScopedValueRollback loading(m_loading, true);
    FCancel = false;
    FProgress = 0;
    try {
        LoadBackup();
    } catch (...) {
        // The error box follows; the Start page is idle again behind it.
        FParsing = false;
        throw;
    }
    if (!FCancel) {
        tbcMain->setCurrentWidget(tabMain);
        tbcWizard->setCurrentWidget(tabWizard);
    }
    FParsing = false;
}

void TFormMain::LoadBackup()
{
    const TBackupInfo* info = BackupInfo();
    if (!info)
        throw Error(QStringLiteral("no backup selected"));
    unloadBackup();
    // The index and the tree point into the records: they go first.
    clearIndex();
    treeModel->reset();
    m_treeShape.clear();
    FBackupMgr.reset();
    m_loadedBackupPath = info->FBackupPath;

    const TManifestInfo manifest = ReadManifestInfo(m_loadedBackupPath);
    m_productVersion = manifest.productVersion;
    if (m_productVersion.isEmpty())
        m_productVersion = infoPlistProductVersion(m_loadedBackupPath);
    auto copies = std::make_unique<TStoredCopies>(m_loadedBackupPath);
    switch (encryptionScheme(m_loadedBackupPath, manifest)) {
    case TEncryptionScheme::esNone:
        break;
    case TEncryptionScheme::esIos10_0:
        throw Error(QStringLiteral("This backup is encrypted in the way of iOS 10.0, which is not "
                                   "supported. Make a new backup of the phone."));
    case TEncryptionScheme::esPerFile:
    case TEncryptionScheme::esManifest: {
        std::unique_ptr<TBackupKeys> keys = unlockBackup(manifest);
        if (!keys) {
            FCancel = true; // back to the Start page with nothing loaded
            return;
        }
        copies->setKeys(std::move(keys));
        break;
    }
    }
    const QString catalog = copies->readableCatalog(manifest);
    FBackupMgr = std::make_unique<TBackupFileManager>(
        m_loadedBackupPath, m_dm, [this] { m_eventHook(); }, catalog);
    copies->setCatalog(FBackupMgr.get());
    FStoredCopies = std::move(copies);
    FParsing = true;
    updateActions();
    FBackupMgr->ParseDb();

    // The records stay put: Next, the only way to replace the reader, is disabled meanwhile.
    const TBackupFileRecords& records = FBackupMgr->Records();
    // The view gets what was built also when the loop stops early or fails.
    const auto attach = qScopeGuard([this, &records] {
        m_treeShape.dropIndex();
        treeModel->setTree(&m_treeShape, [&records](int record) {
            QString pathBuffer;
            QString buffer;
            return treePathOf(records.domain(size_t(record)),
                              records.path(size_t(record), pathBuffer), buffer)
                .toString();
        });
    });

    const size_t count = records.size();
    FRecordDict.reserve(count);
    QString pathBuffer;
    QString buffer;
    for (size_t i = 0; i < count; ++i) {
        if (FCancel)
            break;
        FProgress = double(i + 1) / double(count) * 100.0;
        m_eventHook();
        const QStringView path = records.path(i, pathBuffer);
        const QStringView treePath = treePathOf(records.domain(i), path, buffer);
        m_treeShape.place(int(i), treePath, [](int, int, const QString&, int) {});
        indexRecord(records, i, path, treePath);
    }
}

std::unique_ptr<TBackupKeys> TFormMain::unlockBackup(const TManifestInfo& manifest)
{
    const TKeybag keybag = parseKeybag(manifest.keybag);
    std::atomic_bool cancel{false};
    m_unlockCancel = &cancel;
    const auto done = qScopeGuard([this] { m_unlockCancel = nullptr; });
    for (;;) {
        std::optional<QString> password = askPassword();
        if (!password || cancel)
            return nullptr;
        QByteArray bytes = password->toUtf8();
        password->fill(QChar(0));
        std::unique_ptr<TBackupKeys> keys;
        const TUnlockResult result = deriveBackupKeys(bytes, keybag, this, cancel, keys);
        OPENSSL_cleanse(bytes.data(), size_t(bytes.size()));
        switch (result) {
        case TUnlockResult::urUnlocked:
            return keys;
        case TUnlockResult::urCancelled:
            return nullptr;
        case TUnlockResult::urWrongPassword:
            ShowMessage(QStringLiteral("The password is not correct for this backup"));
            break;
        }
    }
}

void TFormMain::unloadBackup()
{
    // The shared connection may still be open on a private copy: let it go first.
    if (FStoredCopies)
        m_dm.closeDatabase();
    FStoredCopies.reset();
}

TStoredCopies& TFormMain::copies() const
{
    if (!FStoredCopies)
        throw Error(QStringLiteral("no backup is loaded"));
    return *FStoredCopies;
}

QString TFormMain::readableDatabase(const QString& Key) const
{
    // No such database in the backup: the path names no file, and the window says so.
    if (Key.isEmpty())
        return RealFileName(Key);
    return copies().readableDatabase(Key);
}

QString TFormMain::readableMedia(const QString& srcFile) const
{
    return copies().readableFile(srcFile);
}

void TFormMain::actPrevExecute()
{
    unloadBackup();
    tbcMain->setCurrentWidget(tabStart);
    updateActions();
}

void TFormMain::actCancelExecute()
{
    if (FBackupMgr)
        FBackupMgr->setCancel(true);
    FCancel = true;
    FParsing = false;
    updateActions();
}

void TFormMain::actHomeExecute()
{
    openDocumentation();
}

void TFormMain::tmrUpdateTimer()
{
    if (FParsing && FBackupMgr)
        pbImport->setValue(qRound(FBackupMgr->Progress() * 0.5 + FProgress * 0.5));
}

// Enabling rules.

void TFormMain::updateActions()
{
    actNextUpdate();
    actPrevUpdate();
    actCancelUpdate();
    actSmsUpdate();
    actMessagesUpdate();
    actCallHisUpdate();
    actNotesUpdate();
    actCalendarUpdate();
    actContactUpdate();
    actCameraUpdate();
    actRecordingUpdate();
    actWechatUpdate();
}

void TFormMain::actNextUpdate()
{
    // Also off while a cancelled load is still unwinding, so no second load starts under it.
    actNext->setEnabled(tbcMain->currentWidget() == tabStart && cbbBackup->currentIndex() >= 0 &&
                        !FParsing && !m_loading);
}

void TFormMain::actPrevUpdate()
{
    actPrev->setEnabled(tbcMain->currentWidget() == tabMain);
}

void TFormMain::actCancelUpdate()
{
    actCancel->setEnabled(FParsing);
    btnCancel->setVisible(FParsing);
    pbImport->setVisible(FParsing);
    lblImport->setVisible(FParsing);
}

void TFormMain::actSmsUpdate()
{
    actSms->setEnabled(!FsmsDbFile.isEmpty());
}

void TFormMain::actMessagesUpdate()
{
    actMessages->setEnabled(!FsmsDbFile.isEmpty());
}

void TFormMain::actCallHisUpdate()
{
    // Also where the phone left the call history out: the click says why it is missing.
    actCallHis->setEnabled(!FcallHistoryDbFile.isEmpty() || !FcallRecordsDbFile.isEmpty() ||
                           callHistoryLeftOut());
}

void TFormMain::actNotesUpdate()
{
    actNotes->setEnabled(!FnotesDbFile.isEmpty() || !FnoteStoreDbFile.isEmpty());
}

void TFormMain::actCalendarUpdate()
{
    actCalendar->setEnabled(!FcalendarDbFile.isEmpty());
}

void TFormMain::actContactUpdate()
{
    actContact->setEnabled(!FcontactsDbFile.isEmpty());
}

void TFormMain::actCameraUpdate()
{
    actCamera->setEnabled(FHasCamera);
}

void TFormMain::actRecordingUpdate()
{
    actRecording->setEnabled(!FRecordingDb.isEmpty() || !FvoiceMemosDbFile.isEmpty() ||
                             !FVoiceMemoFiles.isEmpty());
}

void TFormMain::actWechatUpdate()
{
    actWechat->setEnabled(!FWechatDbFile.isEmpty());
}

// The data views. Each opens its window from the index: RealFileName of the field named in
// its enabling rule.

void TFormMain::actSmsExecute()
{
    showSmsTable(m_dm, readableDatabase(FsmsDbFile), this);
}

void TFormMain::actMessagesExecute()
{
    ShowMessagesForm(copies(), [this](const QString& treePath) { return FRecordDict.value(treePath); },
                     FsmsDbFile, FcontactsDbFile, this,
                     [](TFormMessages& form) {
                         // Called from the view's navigation hook: failures stop here, in a box.
                         form.openImage = [&form](const TExportFile& file) {
                             guarded([&] { ShowImageForm(file, &form); })();
                         };
                         form.openVideo = [&form](const TExportFile& file) {
                             guarded([&] { ShowVideoForm(file, &form); })();
                         };
                     });
}

bool TFormMain::hasReadable(const QString& Key)
{
    return !Key.isEmpty() && FStoredCopies && FStoredCopies->hasReadableCopy(Key);
}

bool TFormMain::callHistoryLeftOut() const
{
    if (!FStoredCopies || FStoredCopies->isEncrypted() || m_productVersion.isEmpty())
        return false;
    // A binary catalog comes from iOS 9 or earlier, whatever the descriptions say.
    if (QFileInfo::exists(QDir(m_loadedBackupPath).filePath(QStringLiteral("Manifest.mbdb"))))
        return false;
    return m_productVersion.section(QLatin1Char('.'), 0, 0).toInt() >= 13;
}

void TFormMain::actCallHisExecute()
{
    // Names come from the address book where it can be read; the calls are shown without.
    const QString contacts =
        hasReadable(FcontactsDbFile) ? readableDatabase(FcontactsDbFile) : QString();
    if (hasReadable(FcallRecordsDbFile)) {
        showCallRecordsTable(m_dm, readableDatabase(FcallRecordsDbFile), contacts, this);
        return;
    }
    if (hasReadable(FcallHistoryDbFile)) {
        showCallHistoryTable(m_dm, readableDatabase(FcallHistoryDbFile), contacts, this);
        return;
    }
    if (FcallRecordsDbFile.isEmpty() && FcallHistoryDbFile.isEmpty() && callHistoryLeftOut()) {
        ShowMessage(QStringLiteral("This backup is not encrypted. iPhones with iOS 13 or later "
                                   "put their call history only into encrypted backups: make an "
                                   "encrypted backup to see it."));
        return;
    }
    ShowMessage(QStringLiteral("This backup does not contain the call history."));
}

void TFormMain::actNotesExecute()
{
    if (hasReadable(FnoteStoreDbFile)) {
        showNoteStoreTable(m_dm, readableDatabase(FnoteStoreDbFile), this);
        return;
    }
    if (!hasReadable(FnotesDbFile)) {
        ShowMessage(QStringLiteral("This backup does not contain the notes."));
        return;
    }
    showNotesTable(m_dm, readableDatabase(FnotesDbFile), this);
}

void TFormMain::actCalendarExecute()
{
    if (!hasReadable(FcalendarDbFile)) {
        ShowMessage(QStringLiteral("This backup does not contain the calendar."));
        return;
    }
    showCalendarTable(m_dm, readableDatabase(FcalendarDbFile), this);
}

void TFormMain::actContactExecute()
{
    if (!hasReadable(FcontactsDbFile)) {
        ShowMessage(QStringLiteral("This backup does not contain the contacts."));
        return;
    }
    showContactTable(m_dm, readableDatabase(FcontactsDbFile), this);
}

QModelIndexList TFormMain::childNodes(const QModelIndex& node) const
{
    QModelIndexList children;
    const int count = treeModel->rowCount(node);
    children.reserve(count);
    for (int i = 0; i < count; ++i)
        children.append(treeModel->index(i, 0, node));
    return children;
}

QModelIndex TFormMain::FindNode(const QModelIndexList& nodes, const QString& text)
{
    for (const QModelIndex& node : nodes)
        if (node.data(Qt::DisplayRole).toString() == text)
            return node;
    return {};
}

void TFormMain::collectFiles(const QModelIndexList& nodes, std::vector<TExportFile>& list,
                             bool (*wanted)(const QString& name))
{
    const TBackupFileRecords* records = FBackupMgr ? &FBackupMgr->Records() : nullptr;
    for (const QModelIndex& node : nodes) {
        if (treeModel->hasChildren(node)) {
            collectFiles(childNodes(node), list, wanted);
            continue;
        }
        const QVariant index = node.data(kRecordIndexRole);
        const QString name = node.data(Qt::DisplayRole).toString();
        if (!index.isValid() || !records || !wanted(name))
            continue;
        const qsizetype i = index.toLongLong();
        if (i < 0 || size_t(i) >= records->size())
            continue;
        const QModelIndex parent = node.parent();
        const QString parentFolder =
            parent.isValid() ? parent.data(Qt::DisplayRole).toString() : QString();
        const QString key = records->key(size_t(i));
        // An encrypted backup's file without a usable key cannot be shown: leave it out.
        if (FStoredCopies && FStoredCopies->isEncrypted() && QFileInfo::exists(RealFileName(key)) &&
            !FStoredCopies->hasReadableCopy(key)) {
            ++m_keylessFiles;
            continue;
        }
        if (auto file = makeMediaFile(m_loadedBackupPath, key, FExportPath,
                                      node.data(kTreePathRole).toString(), parentFolder))
            list.push_back(std::move(*file));
    }
}

void TFormMain::CollectMedia(const QModelIndexList& nodes, std::vector<TExportFile>& list)
{
    collectFiles(nodes, list, isCameraMediaName);
}

void TFormMain::CollectRecordings(const QModelIndexList& nodes, std::vector<TExportFile>& list)
{
    collectFiles(nodes, list, isRecordingName);
}

void TFormMain::actCameraExecute()
{
    const QModelIndex media = FindNode(childNodes(), QStringLiteral("Media"));
    const QModelIndex dcim =
        media.isValid() ? FindNode(childNodes(media), QStringLiteral("DCIM")) : QModelIndex();
    if (!dcim.isValid())
        return;
    std::vector<TExportFile> list;
    const auto freeList = qScopeGuard([&list] { FreeExportList(list); });
    m_keylessFiles = 0;
    CollectMedia(childNodes(dcim), list);
    reportKeylessFiles();
    ShowPhotoForm(list, this, [this](const QString& file) { return readableMedia(file); },
                  QDir(copies().workPath()).filePath(QStringLiteral("thumbnails")));
}

void TFormMain::actRecordingExecute()
{
    const QModelIndex media = FindNode(childNodes(), QStringLiteral("Media"));
    const QModelIndex folder =
        media.isValid() ? FindNode(childNodes(media), QStringLiteral("Recordings")) : QModelIndex();
    const bool voiceMemos = !FvoiceMemosDbFile.isEmpty() || !FVoiceMemoFiles.isEmpty();
    if (!folder.isValid() && !voiceMemos)
        return;
    std::vector<TExportFile> list;
    const auto freeList = qScopeGuard([&list] { FreeExportList(list); });
    m_keylessFiles = 0;
    if (folder.isValid())
        CollectRecordings(childNodes(folder), list);
    // The old recordings' lines are their file names; the Voice Memos' their titles.
    QStringList captions;
    for (const TExportFile& file : list)
        captions << phoneFileName(file);
    if (voiceMemos)
        collectVoiceMemos(list, captions);
    reportKeylessFiles();
    if (list.empty() && !folder.isValid()) {
        ShowMessage(QStringLiteral("This backup does not contain the voice memos."));
        return;
    }
    ShowRecordingForm(
        list, this, [this](const QString& file) { return readableMedia(file); }, captions);
}

void TFormMain::collectVoiceMemos(std::vector<TExportFile>& list, QStringList& captions)
{
    std::vector<TVoiceMemo> memos;
    if (hasReadable(FvoiceMemosDbFile)) {
        // An unreadable database costs the titles, not the recordings: they are listed by name.
        try {
            memos = readVoiceMemos(readableDatabase(FvoiceMemosDbFile));
        } catch (const Error& e) {
            ShowMessage(e.message());
        }
    }
    // Files the database does not describe (or no database at all) are listed by their names.
    QSet<QString> described;
    for (const TVoiceMemo& memo : memos)
        described.insert(memo.fileName);
    QStringList others;
    for (auto it = FVoiceMemoFiles.cbegin(); it != FVoiceMemoFiles.cend(); ++it) {
        const QString suffix = QFileInfo(it.key()).suffix().toLower();
        if (!described.contains(it.key()) &&
            QStringList{"m4a", "qta", "caf", "aac", "wav", "mp3"}.contains(suffix))
            others << it.key();
    }
    others.sort();
    for (const QString& name : others) {
        TVoiceMemo memo;
        memo.fileName = name;
        memos.push_back(memo);
    }

    for (const TVoiceMemo& memo : memos) {
        const auto key = FVoiceMemoFiles.constFind(memo.fileName);
        if (key == FVoiceMemoFiles.cend())
            continue; // offloaded to iCloud, or not backed up
        if (!hasReadable(*key)) {
            if (FStoredCopies && FStoredCopies->isEncrypted() &&
                QFileInfo::exists(RealFileName(*key)))
                ++m_keylessFiles;
            continue;
        }
        std::optional<QString> tag;
        if (memo.label.isEmpty())
            tag = mp4TitleTag(readableMedia(RealFileName(*key)));
        const QString title = memoTitle(memo, tag);
        TExportFile file;
        file.srcFile = RealFileName(*key);
        file.dstFile = FExportPath + memoSaveName(title, memo.fileName);
        file.parentFolder = QStringLiteral("Recordings");
        list.push_back(std::move(file));
        QStringList line{title};
        if (!memo.date.isEmpty())
            line << memo.date;
        if (memo.duration > 0)
            line << formatDuration(memo.duration);
        QString caption = line.join(QStringLiteral("    "));
        if (memo.recentlyDeleted)
            caption += QLatin1Char(' ') + tr("(Recently Deleted)");
        captions << caption;
    }
}

void TFormMain::reportKeylessFiles()
{
    if (m_keylessFiles > 0)
        ShowMessage(QStringLiteral("%1 files are not shown: the backup holds no usable key for them")
                        .arg(m_keylessFiles));
}

void TFormMain::actWechatExecute()
{
    // The chat window looks up only the files of WeChat's folders.
    const QHash<QString, QString> wechatFiles =
        FRecordDict.below(u"Applications/com.tencent.xin");
    ::actWechatExecute(this, FWechatDbs, FWechatRoots, FWechatDbFile, FWechatRoot, wechatFiles,
                       copies(), &FWechatGroupFiles);
}

// File tree and export.

void TFormMain::SetCheckedRecursive(const QModelIndex& node, Qt::CheckState state)
{
    treeModel->setCheckedRecursive(node, state);
}

void TFormMain::CollectCheckedFiles(const QModelIndexList& nodes, std::vector<TExportFile>& list)
{
    const TBackupFileRecords* records = FBackupMgr ? &FBackupMgr->Records() : nullptr;
    for (const QModelIndex& node : nodes) {
        if (m_collectHook && !m_collectHook())
            return;
        if (treeModel->hasChildren(node)) {
            CollectCheckedFiles(childNodes(node), list);
            continue;
        }
        const QVariant index = node.data(kRecordIndexRole);
        if (!index.isValid() || node.data(Qt::CheckStateRole).toInt() != Qt::Checked || !records)
            continue;
        const qsizetype i = index.toLongLong();
        if (i < 0 || size_t(i) >= records->size())
            continue;
        if (auto file = makeExportFile(m_loadedBackupPath, records->key(size_t(i)), FExportPath,
                                       node.data(kTreePathRole).toString()))
            list.push_back(std::move(*file));
    }
}

void TFormMain::actExportExecute()
{
    const QString folder = chooseExportFolder();
    if (folder.isEmpty())
        return;
    // Nothing is ever written into a backup.
    if (!m_loadedBackupPath.isEmpty() && isInsideFolder(folder, m_loadedBackupPath))
        throw Error(
            QStringLiteral("cannot export into the backup folder %1").arg(m_loadedBackupPath));
    FExportPath = folder + QLatin1Char('/');

    std::vector<TExportFile> list;
    const auto freeList = qScopeGuard([&list] { FreeExportList(list); });

    // The copying runs here, handling pending events between chunks: the stored copies are
    // read through objects of this thread. The progress window is modal, so nothing else can
    // start meanwhile; closing the main window cancels the export first.
    bool cancel = false;
    TFormProgress progress(this);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setCancellable(QStringLiteral("Exporting files ..."));
    connect(&progress, &TFormProgress::cancelled, &progress, [&cancel] { cancel = true; });
    const QScopedValueRollback exporting(m_exportCancel, &cancel);
    const QLocale locale;
    QElapsedTimer sincePump;
    QElapsedTimer sinceShown;
    sincePump.start();
    const auto show = [&](const TExportProgress& p) {
        progress.setProgress(p.bytes > 0 ? 100.0 * double(p.bytesDone) / double(p.bytes)
                                         : 100.0 * p.filesDone / std::max(1, p.files));
        progress.setText(tr("%1 of %2 files, %3 of %4")
                             .arg(p.filesDone)
                             .arg(p.files)
                             .arg(locale.formattedDataSize(p.bytesDone, 1,
                                                           QLocale::DataSizeTraditionalFormat),
                                  locale.formattedDataSize(p.bytes, 1,
                                                           QLocale::DataSizeTraditionalFormat)));
    };
    const auto report = [&](const TExportProgress& p) {
        // The texts change a few times a second at most; a small file is done far faster.
        if (!sinceShown.isValid() || sinceShown.elapsed() >= 100) {
            show(p);
            sinceShown.start();
        }
        m_eventHook();
        if (sincePump.elapsed() >= kEventInterval) {
            processPendingEvents();
            sincePump.start();
        }
        return !cancel;
    };
    // A large tree takes a while to walk: the window shows how many files it has found.
    progress.setProgress(0);
    progress.setText(tr("Collecting the checked files: %1").arg(0));
    progress.show();
    m_collectHook = [&] {
        if (sincePump.elapsed() < kEventInterval)
            return !cancel;
        if (!sinceShown.isValid() || sinceShown.elapsed() >= 100) {
            progress.setText(tr("Collecting the checked files: %1").arg(list.size()));
            sinceShown.start();
        }
        processPendingEvents();
        sincePump.start();
        return !cancel;
    };
    {
        const auto noHook = qScopeGuard([this] { m_collectHook = {}; });
        CollectCheckedFiles(childNodes(), list);
    }
    if (cancel || m_closeAfterExport) {
        progress.hide();
        if (m_closeAfterExport)
            QTimer::singleShot(0, this, &QWidget::close);
        else
            ShowMessage(QStringLiteral("Export cancelled: %1 of %2 files exported")
                            .arg(0)
                            .arg(list.size()));
        return;
    }
    sinceShown.invalidate();
    show({0, int(list.size()), 0, 0});
    const TExportOutcome outcome = CopyExportFilesWithProgress(list, FStoredCopies.get(), report);
    progress.hide();
    if (m_closeAfterExport) {
        // The user closed the window meanwhile: the export stopped, and the window goes now.
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    if (outcome.cancelled)
        ShowMessage(QStringLiteral("Export cancelled: %1 of %2 files exported")
                        .arg(outcome.exported)
                        .arg(list.size()));
    else
        ShowMessage(QStringLiteral("Export Files sucessfully"));
    if (outcome.skipped > 0)
        ShowMessage(QStringLiteral("%1 files were not exported: the backup holds no usable key "
                                   "for them")
                        .arg(outcome.skipped));
}
