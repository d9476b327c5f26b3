#pragma once

#include "chat/MessagesExport.h"
#include "chat/MessagesStore.h"
#include "util/ExportFile.h"

#include <QDialog>
#include <QHash>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QTreeWidget;
class QToolBar;
class QToolButton;
class QWebEngineProfile;
class QWebEngineUrlRequestJob;
class QWebEngineView;
class TMessagesRenderer;
class TStoredCopies;

// The Messages window: the phone's conversations on the left, newest first; the chosen one on
// the right as a chat page. The page shows the newest messages at once and asks for older ones
// as the user scrolls up, so a conversation of any length opens without delay.
class TFormMessages final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormMessages)

public:
    struct Sources
    {
        QString smsDb;         // a readable sms.db (its -wal beside it)
        QString addressBookDb; // a readable AddressBook.sqlitedb, or empty
        TAttachmentSource attachments;
        // A readable file of Key's content. Throws Error.
        std::function<QString(const QString& key)> readable;
    };

    explicit TFormMessages(Sources sources, QWidget* parent = nullptr);
    ~TFormMessages() override;

    // Reads the conversation list; a failure is shown and the window still opens.
    void loadConversations();
    // Reads conversation row of the list on a thread of its own, then shows its page.
    void openConversation(int row);
    // Loads a blank page and waits for it; call before the window is first shown (see
    // TFormChat::prepareView).
    void prepareView();

    // Opens a clicked picture, or plays a clicked video or audio message; the window waits.
    std::function<void(const TExportFile&)> openImage;
    std::function<void(const TExportFile&)> openVideo;
    // Asks where to save a file (the suggested name given); empty: not saved. Replaceable by tests.
    std::function<QString(const QString& name)> askSavePath;
    // Asks for the folder an export goes into; empty: no export.
    std::function<QString()> askExportFolder;

    // The conversation shown and its messages (empty before the first is read).
    const std::vector<TConversation>& conversations() const { return m_conversations; }
    const std::vector<TMessage>& messages() const { return m_messages; }
    qint64 shownConversation() const { return m_shownId; }

    void btnExportClick();
    void btnSaveCsvClick();

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
    QToolButton* btnExport = nullptr;
    QToolButton* btnSaveCsv = nullptr;
    QTreeWidget* lvConversations = nullptr;
    QWebEngineView* webMessages = nullptr;

    // The engine's calls, routed here by the window's page and scheme handler.
    bool acceptNavigation(const QUrl& url, bool linkClicked, bool isMainFrame);
    void serve(QWebEngineUrlRequestJob* job);

signals:
    // The first page of a conversation finished loading (ok: without error).
    void conversationShown(bool ok);
    // The view refused to load url.
    void requestBlocked(const QUrl& url);

private:
    struct Read;
    void showRead(std::shared_ptr<Read> read);
    void openAttachment(int m, int a);
    bool attachmentAvailable(int m, int a);
    QString attachmentKey(int m, int a) const;
    void servePicture(QWebEngineUrlRequestJob* job, int m, int a);
    void showFailure(const QString& text);
    QString urlOf(const QString& what) const;
    // Parses a URL of the page shown: its serial must be the current one. Empty when not ours.
    QStringList partsOf(const QUrl& url) const;

    Sources m_sources;
    TContactNames m_names;
    std::vector<TConversation> m_conversations;
    std::vector<TMessage> m_messages;
    TConversation m_shown;
    qint64 m_shownId = -1;
    std::unique_ptr<TMessagesRenderer> m_renderer;
    QHash<quint64, bool> m_available; // attachment (m, a) -> readable, asked once
    QString m_nonce;
    int m_serial = 0;   // of the conversation requested last; the page's URLs carry it
    int m_shownSerial = -1;
    std::vector<std::thread> m_readers;
    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
    QWebEngineProfile* m_profile = nullptr;
    bool m_blankPending = false;
};

// Opens the Messages window on the backup's sms.db (Key smsKey) with names from the address book
// (contactsKey, may be empty), modally; keyOfTreePath finds an attachment's Key by its tree path
// (empty when the catalog has none).
void ShowMessagesForm(TStoredCopies& copies,
                      const std::function<QString(const QString& treePath)>& keyOfTreePath,
                      const QString& smsKey, const QString& contactsKey, QWidget* parent,
                      const std::function<void(TFormMessages&)>& prepare = {});

// The private scheme of the Messages page; registered with the chat schemes at start-up.
inline constexpr const char* kMessagesScheme = "ferrowick-messages";
