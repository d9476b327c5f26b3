#pragma once

#include "app/FileTreeModel.h"
#include "app/FileTreeShape.h"
#include "app/RecordIndex.h"
#include "util/ExportFile.h"

#include <QModelIndex>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QProgressBar;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeView;
class TBackupFileManager;
class TBackupInfo;
class TBackupKeys;
class TStoredCopies;
class TdmGlobal;
struct TManifestInfo;

// The main window: a two-step wizard. The Start page picks a backup and loads it, with
// progress and Cancel; the Main page offers one button per kind of personal data (Wizard)
// and the checkable file tree with export (Advanced).
//
// Loading runs on the GUI thread and handles pending events once per record (through the
// event hook), so the window repaints, the progress timer ticks, the enabling rules run and
// Cancel can be pressed while a catalog is read and the tree is built.
//
// The index fields (FsmsDbFile, FRecordDict, ...) are public: the data windows are opened
// from them. Each holds a Key; RealFileName turns it into the path of the stored copy.
class TFormMain final : public QWidget, public TRecordIndex
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormMain)

public:
    // Data roles of a file node of tvTree; folder nodes carry neither.
    static constexpr int kRecordIndexRole = TFileTreeModel::kRecordIndexRole; // in Records()
    static constexpr int kTreePathRole = TFileTreeModel::kTreePathRole; // the record's tree path

    using EventHook = std::function<void()>;

    explicit TFormMain(TdmGlobal& dm, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The backup of the selected list entry, or nullptr when none is selected.
    TBackupInfo* BackupInfo() const;
    // The stored copy of Key in the backup that was loaded last.
    QString RealFileName(const QString& Key) const;
    // The catalog reader of the last load, or nullptr before the first.
    TBackupFileManager* BackupMgr() const { return FBackupMgr.get(); }
    // The readable files of the loaded backup, or nullptr when none is loaded (before the
    // first load, and after Previous: unloading removes every private copy and wipes the keys).
    TStoredCopies* StoredCopies() const { return FStoredCopies.get(); }

    // Called once per record while a load reads the catalog and builds the tree. The default
    // (an empty hook) lets the window handle its pending events, at most every
    // kEventInterval ms; tests put their own to press Cancel at a chosen record.
    void setEventHook(EventHook hook);
    static EventHook defaultEventHook();
    static void processPendingEvents();
    static constexpr qint64 kEventInterval = 5;

    // The folder choosers; tests replace them. An empty result means the user cancelled.
    std::function<QString()> chooseBackupFile;
    std::function<QString()> chooseExportFolder;
    // Asks for an encrypted backup's password; nothing when the user cancels. Tests replace it.
    std::function<std::optional<QString>()> askPassword;

    // Runs every action's update handler (enabling rules). Runs whenever the event loop
    // falls idle and every 100 ms, also while a load handles pending events.
    void updateActions();

    // The nodes of tvTree are indexes of treeModel. The nodes right under node (the top
    // level for an invalid index), in order.
    QModelIndexList childNodes(const QModelIndex& node = {}) const;
    // Sets the mark of node and of every node below it, children before their parent.
    void SetCheckedRecursive(const QModelIndex& node, Qt::CheckState state);
    // Appends the export entries of the checked file nodes among nodes and below them.
    void CollectCheckedFiles(const QModelIndexList& nodes, std::vector<TExportFile>& list);

    // The first of nodes (one level, in order) whose text is text exactly, or an invalid index.
    static QModelIndex FindNode(const QModelIndexList& nodes, const QString& text);
    // Append the camera-roll files, or the voice recordings, in and below nodes, depth first,
    // skipping those whose stored copy is missing.
    void CollectMedia(const QModelIndexList& nodes, std::vector<TExportFile>& list);
    void CollectRecordings(const QModelIndexList& nodes, std::vector<TExportFile>& list);

    QString FExportPath; // the folder of the last export followed by "/", empty before

    // Controls, by their names in the layout.
    QToolBar* tlbTop = nullptr;
    QToolButton* btnClose = nullptr;
    QToolButton* btnHome = nullptr;
    QToolBar* tlbBottom = nullptr;
    QToolButton* btnPrev = nullptr;
    QToolButton* btnNext = nullptr;
    QStackedWidget* tbcMain = nullptr;
    QWidget* tabStart = nullptr;
    QWidget* tabMain = nullptr;
    QLabel* lbl1 = nullptr;
    QComboBox* cbbBackup = nullptr;
    QToolButton* btnBrowse = nullptr;
    QLabel* lblImport = nullptr;
    QProgressBar* pbImport = nullptr;
    QToolButton* btnCancel = nullptr;
    QTabWidget* tbcWizard = nullptr;
    QWidget* tabWizard = nullptr;
    QWidget* tabAdv = nullptr;
    QToolButton* btnContact = nullptr;
    QToolButton* btnSMS = nullptr;
    QToolButton* btnMessages = nullptr;
    QToolButton* btnCallHis = nullptr;
    QToolButton* btnNotes = nullptr;
    QToolButton* btnCalendar = nullptr;
    QToolButton* btnCamera = nullptr;
    QToolButton* btnRecording = nullptr;
    QToolButton* btnWechat = nullptr;
    QToolBar* tlb1 = nullptr;
    QToolButton* btnExport = nullptr;
    QTreeView* tvTree = nullptr;
    TFileTreeModel* treeModel = nullptr; // tvTree's model
    QTimer* tmrUpdate = nullptr;

    QAction* actNext = nullptr;
    QAction* actPrev = nullptr;
    QAction* actCancel = nullptr;
    QAction* actHome = nullptr;
    QAction* actExport = nullptr;
    QAction* actSms = nullptr;
    QAction* actMessages = nullptr;
    QAction* actCallHis = nullptr;
    QAction* actNotes = nullptr;
    QAction* actCalendar = nullptr;
    QAction* actContact = nullptr;
    QAction* actCamera = nullptr;
    QAction* actRecording = nullptr;
    QAction* actWechat = nullptr;

    bool FCancel = false;  // the user cancelled the current load
    double FProgress = 0;  // progress of tree building and indexing, 0 to 100
    bool FParsing = false; // a load is running

public slots:
    void btnBrowseClick();
    void actNextExecute();
    void actPrevExecute();
    void actCancelExecute();
    void actHomeExecute();
    void actExportExecute();
    // The data views open their windows from these.
    void actSmsExecute();
    void actMessagesExecute();
    void actCallHisExecute();
    void actNotesExecute();
    void actCalendarExecute();
    void actContactExecute();
    void actCameraExecute();
    void actRecordingExecute();
    void actWechatExecute();
    void tmrUpdateTimer();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void LoadLanguageFile();
    void LoadBackupList();
    void LoadBackup();
    std::unique_ptr<TBackupKeys> unlockBackup(const TManifestInfo& manifest);
    void unloadBackup();
    TStoredCopies& copies() const;
    QString readableDatabase(const QString& Key) const;
    QString readableMedia(const QString& srcFile) const;
    void reportKeylessFiles();
    // Whether Key names a stored copy that can be read (for an encrypted backup: with its key).
    bool hasReadable(const QString& Key);
    // An unencrypted backup of iOS 13 or later, which the phone leaves its call history out of.
    bool callHistoryLeftOut() const;
    // The Voice Memos app's recordings, titled, with the list's line for each.
    void collectVoiceMemos(std::vector<TExportFile>& list, QStringList& captions);
    void retranslateUi();
    void createLayout();
    void createActions();
    void addBackup(std::unique_ptr<TBackupInfo> info);
    void collectFiles(const QModelIndexList& nodes, std::vector<TExportFile>& list,
                      bool (*wanted)(const QString& name));

    void actNextUpdate();
    void actPrevUpdate();
    void actCancelUpdate();
    void actSmsUpdate();
    void actMessagesUpdate();
    void actCallHisUpdate();
    void actNotesUpdate();
    void actCalendarUpdate();
    void actContactUpdate();
    void actCameraUpdate();
    void actRecordingUpdate();
    void actWechatUpdate();

    TdmGlobal& m_dm;
    EventHook m_eventHook;
    std::vector<std::unique_ptr<TBackupInfo>> m_backups; // owned; list entries point into them
    std::unique_ptr<TBackupFileManager> FBackupMgr;
    // After FBackupMgr, so it goes first: it reads the reader's records.
    std::unique_ptr<TStoredCopies> FStoredCopies;
    std::atomic_bool* m_unlockCancel = nullptr; // while a password is being checked
    bool* m_exportCancel = nullptr;  // while an export runs
    // While an export collects its files: called for every tree node; false stops collecting.
    std::function<bool()> m_collectHook;
    bool m_closeAfterExport = false; // the window was closed during an export
    int m_keylessFiles = 0; // files of the last collection left out for want of a key
    QString m_loadedBackupPath; // the backup FBackupMgr reads, whatever is selected since
    QString m_productVersion;   // the loaded backup's iOS version, empty when it does not say
    // The nodes treeModel shows; the model takes them in one step when building ends.
    TFileTreeShape m_treeShape;
    QTimer* m_actionTimer = nullptr;
    bool m_loading = false; // a load is on the stack, cancelled or not
};
