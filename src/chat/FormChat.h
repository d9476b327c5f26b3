#pragma once

#include "util/ExportFile.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class TFormProgress;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QToolBar;
class QToolButton;
class QWebEngineProfile;
class QTimer;
class QWebEngineUrlRequestJob;
class QWebEngineView;
class TChatConversation;
class TChatPageEntries;
class TChatSession;
struct TFriendInfo;
class TWorkFolder;

// The chat history window of one WeChat account: three contact lists on the left, the
// conversation's page on the right. The page shows the newest messages at once and asks for
// others as the user scrolls; the conversation's wechathistory.html is written behind it.
class TFormChat final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormChat)

public:
    // recordDict is borrowed and must outlive the window. Throws when the temporary folders
    // cannot be made.
    TFormChat(const QString& db, const QHash<QString, QString>& recordDict,
              const QString& backupPath, const QString& root, QWidget* parent = nullptr);
    ~TFormChat() override;

    // Reads the contacts into the three lists; a failure is shown and the window still opens.
    void InitFriends();

    // Reads the conversation of the clicked list's selected contact and shows its newest
    // entries; the page file follows in the background (historyWritten).
    void lstFriendsItemClick(QListWidget* sender);

    // The address of the page shown (the window's private scheme); empty before the first.
    QUrl pageUrl() const { return m_pageUrl; }
    // Whether the page file of the conversation shown has been written.
    bool historyComplete() const { return m_historyComplete; }
    // The engine's requests under the window's scheme: the page, its ranges of entries and
    // the thumbnails those show.
    void serve(QWebEngineUrlRequestJob* job);

    // Every navigation of the view comes here first, with its target address; true cancels it.
    // The three media schemes (case-sensitive) go to openImage/openVideo, "save://" offers to
    // save a picture the view cannot show; all else goes ahead.
    bool webHistoryBeforeNavigate(const QString& address);

    // Whether the view may go to url: only the page built here (a reload too) and the blank
    // page of prepareView, never another file or a frame inside the page.
    bool navigationAllowed(const QUrl& url, bool isMainFrame) const;
    // Hands a web address to the user's browser when it is the address of a shared link on the
    // page shown; anything else is dropped.
    void openLink(const QUrl& url);

    // Loads a blank page and waits for it; call before the window is first shown. The view
    // makes its drawing surface with its first page, and a window already on screen then gets a
    // new native window that drops out of Qt's modal bookkeeping: once a window opened from
    // this one had closed, the main window below would take clicks again.
    void prepareView();

    void DisableGUI();
    void EnableGUI();
    bool busy() const { return m_busy; }

    // Opens a clicked picture, or plays a clicked video or voice message; the window waits.
    std::function<void(const TExportFile&)> openImage;
    std::function<void(const TExportFile&)> openVideo;

    const TChatSession& session() const { return *m_session; }
    // How the session reads the account's stored files (see TChatSession::GetRealFileName).
    void setStoredCopyReader(std::function<QString(const QString& stored)> reader);
    // How it makes the account's other databases readable, and the app-group container's
    // files (see TChatSession); set before InitFriends.
    void setDatabaseReader(std::function<QString(const QString& stored)> reader);
    void setGroupFiles(const QHash<QString, QString>* groupFiles);

    // The conversation shown, exported as a folder with its media, or as CSV, into a folder
    // the user picks. Failures are shown; the page stays.
    void btnExportFolderClick();
    void btnExportCsvClick();
    // The contact whose page is shown; none before the first page.
    const TFriendInfo* shownContact() const { return m_shown; }

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
    QToolButton* btnExportFolder = nullptr;
    QToolButton* btnExportCsv = nullptr;
    QTabWidget* tbcFriend = nullptr;
    QWidget* tabFriend = nullptr;
    QWidget* tabGroup = nullptr;
    QWidget* tabOthers = nullptr;
    QListWidget* lstFriends = nullptr;
    QListWidget* lstGroups = nullptr;
    QListWidget* lstOthers = nullptr;
    QWebEngineView* webHistory = nullptr;

signals:
    // The view finished loading a page built here.
    void pageShown(bool ok);
    // The view refused to load url: the page may load only what the window serves.
    void requestBlocked(const QUrl& url);
    // The page file of the conversation shown was written to path (empty: it failed, and
    // the failure was shown).
    void historyWritten(const QString& path);

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void fillLists();
    void showFailure(const QString& text);
    // Shows text once the engine's call that met it has returned.
    void showFailureLater(const QString& text);
    void stopHistory();
    void writeHistoryStep();

    std::unique_ptr<TWorkFolder> m_work; // before m_session, which writes into it
    std::unique_ptr<TChatSession> m_session;
    TFormProgress* FProgress = nullptr;
    bool m_busy = false;
    QWebEngineProfile* m_profile = nullptr;                     // owned through the QObject tree
    QUrl m_pageUrl;
    std::unique_ptr<TChatConversation> m_conversation; // shown
    std::unique_ptr<TChatPageEntries> m_entries;       // of m_conversation; goes first
    QByteArray m_firstPage;
    int m_serial = 0; // of the page shown; its addresses carry it
    QTimer* m_historyTimer = nullptr;
    bool m_historyComplete = false;
    bool m_rangeFailed = false; // shown once per page
    bool m_blankPending = false;
    const TFriendInfo* m_shown = nullptr;
};

// Opens the chat window on the stored MM.sqlite at db, modally, and frees it when closed.
void ShowChatForm(const QString& db, const QHash<QString, QString>& FRecordDict,
                  const QString& backupPath, const QString& root, QWidget* parent = nullptr,
                  const std::function<void(TFormChat&)>& prepare = {});
