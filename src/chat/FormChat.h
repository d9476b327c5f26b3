#pragma once

#include "util/ExportFile.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class TFormProgress;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QToolBar;
class QToolButton;
class QWebEngineView;
class TChatSession;
class TWorkFolder;
class TChatRequestGuard;

// The chat history window of one WeChat account: three contact lists on the left, the
// conversation's page on the right.
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

    // Builds and shows the page of the clicked list's selected contact.
    void lstFriendsItemClick(QListWidget* sender);

    // Every navigation of the view comes here first, with its target address; true cancels it.
    // The three media schemes (case-sensitive) go to openImage/openVideo; all else goes ahead.
    bool webHistoryBeforeNavigate(const QString& address);

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
    // What the page tried to load and was refused (anything outside its own folder).
    QList<QUrl> blockedRequests() const;
    // Opens a shared link in the user's browser; says so when nothing can open it.
    void openExternalLink(const QUrl& url);
    // How the session reads the account's stored files (see TChatSession::GetRealFileName).
    void setStoredCopyReader(std::function<QString(const QString& stored)> reader);

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
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

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void fillLists();
    void showFailure(const QString& text);

    std::unique_ptr<TWorkFolder> m_work;  // before m_session, which writes into it
    TChatRequestGuard* m_guard = nullptr; // owned by the window
    std::unique_ptr<TChatSession> m_session;
    TFormProgress* FProgress = nullptr;
    bool m_busy = false;
};

// Opens the chat window on the stored MM.sqlite at db, modally, and frees it when closed.
void ShowChatForm(const QString& db, const QHash<QString, QString>& FRecordDict,
                  const QString& backupPath, const QString& root, QWidget* parent = nullptr,
                  const std::function<void(TFormChat&)>& prepare = {});
