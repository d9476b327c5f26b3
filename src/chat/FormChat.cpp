#include "chat/FormChat.h"

#include "app/DesktopOpen.h"
#include "util/WorkFolder.h"

#include "app/FormProgress.h"
#include "app/Language.h"
#include "chat/ChatSchemes.h"
#include "chat/ChatSession.h"
#include "chat/WebViewPolicy.h"
#include "util/Error.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QMutex>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>

namespace {

constexpr int kUsrNameRole = Qt::UserRole + 1;

// Every request of the chat view's profile passes here: the page may load its own file and the
// pictures it shows, nothing else, so script on it reads no other file and reaches no server.
// Thread-safe: the engine may ask from a thread of its own.
class ChatRequestFilter final : public QWebEngineUrlRequestInterceptor
{
public:
    ChatRequestFilter(TFormChat* form, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), m_form(form)
    {
    }

    // Called from the GUI thread.
    void setAllowed(QSet<QString> files)
    {
        QMutexLocker lock(&m_mutex);
        m_allowed = std::move(files);
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QUrl url = info.requestUrl();
        if (url.isLocalFile()) {
            QMutexLocker lock(&m_mutex);
            if (m_allowed.contains(QDir::cleanPath(url.toLocalFile())))
                return;
        }
        info.block(true);
        // Queued, and dropped with the window.
        QMetaObject::invokeMethod(
            m_form, [form = m_form, url] { emit form->requestBlocked(url); }, Qt::QueuedConnection);
    }

private:
    TFormChat* m_form;
    QMutex m_mutex;
    QSet<QString> m_allowed;
};

// A page that exists only to catch the address of a link opened with target _blank and hand
// it to the user's browser; the chat page never leaves the view.
class LinkCatcherPage final : public QWebEnginePage
{
public:
    LinkCatcherPage(QWebEngineProfile* profile, TFormChat* form, QObject* parent)
        : QWebEnginePage(profile, parent), m_form(form)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        m_form->openLink(url);
        deleteLater();
        return false;
    }

private:
    TFormChat* m_form;
};

// The view's page: every navigation passes the window's handler first.
class ChatWebPage final : public QWebEnginePage
{
public:
    ChatWebPage(QWebEngineProfile* profile, TFormChat* form, QObject* parent)
        : QWebEnginePage(profile, parent), m_form(form)
    {
        // No camera, microphone, position or notifications for anything on the page.
        connect(this, &QWebEnginePage::featurePermissionRequested, this,
                [this](const QUrl& origin, Feature feature) {
                    setFeaturePermission(origin, feature, PermissionDeniedByUser);
                });
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (m_form->webHistoryBeforeNavigate(url.toString()))
            return false;
        // A shared link followed in place would replace the conversation; it opens outside.
        if (type == NavigationTypeLinkClicked && isMainFrame && isWebAddress(url)) {
            m_form->openLink(url);
            return false;
        }
        return m_form->navigationAllowed(url, isMainFrame);
    }

    QWebEnginePage* createWindow(WebWindowType) override
    {
        return new LinkCatcherPage(profile(), m_form, this);
    }

private:
    TFormChat* m_form;
};

} // namespace

TFormChat::TFormChat(const QString& db, const QHash<QString, QString>& recordDict,
                     const QString& backupPath, const QString& root, QWidget* parent)
    : QDialog(parent, Qt::Window)
{
    // The page, its media and decoded voice are someone's private messages: they go into a
    // private folder of their own, removed when the window closes.
    m_work = std::make_unique<TWorkFolder>(QStringLiteral("chat"));
    m_session = std::make_unique<TChatSession>(db, recordDict, backupPath, root, m_work->path());

    setWindowTitle(tr("Wechat History"));
    tlbMain = new QToolBar(this);
    tlbMain->setFixedHeight(40);
    btnClose = new QToolButton(tlbMain);
    btnClose->setText(tr("Close"));
    btnClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    btnClose->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tlbMain->addWidget(btnClose);
    connect(btnClose, &QToolButton::clicked, this, &TFormChat::close);

    tbcFriend = new QTabWidget(this);
    tbcFriend->setFixedWidth(200);
    auto makeTab = [this](QWidget*& tab, QListWidget*& list, const QString& caption) {
        tab = new QWidget(tbcFriend);
        list = new QListWidget(tab);
        auto* layout = new QVBoxLayout(tab);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(list);
        tbcFriend->addTab(tab, caption);
        connect(list, &QListWidget::itemClicked, this, [this, list] { lstFriendsItemClick(list); });
    };
    makeTab(tabFriend, lstFriends, tr("Friends"));
    makeTab(tabGroup, lstGroups, tr("Groups"));
    makeTab(tabOthers, lstOthers, tr("Others"));
    tbcFriend->setCurrentWidget(tabFriend);

    // A profile of the window's own, off the record: nothing of the conversations is cached on
    // disk, and its request filter governs this view only.
    m_profile = new QWebEngineProfile(this);
    // Its pictures are file URLs: the request filter narrows file access to the page's own.
    restrictSettings(m_profile->settings(), true);
    m_requestFilter = new ChatRequestFilter(this, m_profile);
    m_profile->setUrlRequestInterceptor(m_requestFilter);
    installChatSchemeHandler(m_profile);
    webHistory = new QWebEngineView(this);
    webHistory->setPage(new ChatWebPage(m_profile, this, webHistory));
    webHistory->setContextMenuPolicy(Qt::NoContextMenu);
    connect(webHistory, &QWebEngineView::loadFinished, this, &TFormChat::pageShown);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(tbcFriend);
    body->addWidget(webHistory, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tlbMain);
    layout->addLayout(body, 1);

    FProgress = new TFormProgress(this);
}

TFormChat::~TFormChat()
{
    // The page goes before its profile.
    delete webHistory;
}

void TFormChat::InitFriends()
{
    for (QListWidget* list : {lstFriends, lstGroups, lstOthers})
        list->setUpdatesEnabled(false);
    try {
        m_session->InitFriends();
    } catch (const Error& e) {
        fillLists();
        for (QListWidget* list : {lstFriends, lstGroups, lstOthers})
            list->setUpdatesEnabled(true);
        showFailure(e.message());
        return;
    }
    fillLists();
    for (QListWidget* list : {lstFriends, lstGroups, lstOthers})
        list->setUpdatesEnabled(true);
}

void TFormChat::fillLists()
{
    const std::pair<TFriendClass, QListWidget*> lists[] = {{TFriendClass::fcFriends, lstFriends},
                                                           {TFriendClass::fcGroups, lstGroups},
                                                           {TFriendClass::fcOthers, lstOthers}};
    for (const auto& [c, list] : lists) {
        list->clear();
        for (const TFriendInfo* info : m_session->listed(c)) {
            auto* item = new QListWidgetItem(info->DisplayName, list);
            item->setData(kUsrNameRole, info->UsrName);
        }
    }
}

void TFormChat::lstFriendsItemClick(QListWidget* sender)
{
    if (m_busy)
        return;
    const QListWidgetItem* item = sender->currentItem();
    if (!item)
        return;
    const TFriendInfo* info = m_session->friendInfo(item->data(kUsrNameRole).toString());
    if (!info)
        return;
    TChatSession::BuildHooks hooks;
    hooks.progress = [this](double percent) { FProgress->setProgress(percent); };
    hooks.pumpEvents = [] { QCoreApplication::processEvents(); };
    hooks.showMessage = [this](const QString& text) { showFailure(text); };
    DisableGUI();
    try {
        const bool written = m_session->buildPage(*info, hooks);
        EnableGUI();
        if (written)
            showPage();
    } catch (const Error& e) {
        EnableGUI();
        showFailure(e.message());
    }
}

bool TFormChat::webHistoryBeforeNavigate(const QString& address)
{
    struct Route
    {
        const char* prefix;
        const char* folder;
        bool image;
    };
    static const Route routes[] = {
        {"audio://", "Audio", false}, {"image://", "Image", true}, {"video://", "Video", false}};
    for (const Route& route : routes) {
        if (!address.startsWith(QLatin1String(route.prefix)))
            continue;
        QString name = address;
        name.remove(QLatin1String(route.prefix));
        name.remove(QLatin1Char('/'));
        TExportFile file;
        file.srcFile = m_session->tempFolder(route.folder) + name;
        file.dstFile = file.srcFile;
        const auto& open = route.image ? openImage : openVideo;
        if (open)
            open(file);
        return true;
    }
    return false;
}

void TFormChat::showPage()
{
    const QString page = QDir::cleanPath(m_session->tempFile());
    QSet<QString> allowed = m_session->pageFiles();
    allowed.insert(page);
    static_cast<ChatRequestFilter*>(m_requestFilter)->setAllowed(std::move(allowed));
    m_links.clear();
    for (const QString& address : m_session->pageLinks())
        m_links.push_back(comparableAddress(QUrl(address)));
    m_pageUrl = QUrl::fromLocalFile(page);
    webHistory->load(m_pageUrl);
}

bool TFormChat::navigationAllowed(const QUrl& url, bool isMainFrame) const
{
    if (!isMainFrame)
        return false;
    if (m_blankPending && url.scheme() == QLatin1String("data"))
        return true;
    return !m_pageUrl.isEmpty() && url.adjusted(QUrl::RemoveFragment) == m_pageUrl;
}

void TFormChat::openLink(const QUrl& url)
{
    if (!isWebAddress(url))
        return;
    // Only a link the page shows: script on the page cannot send what it read to a server.
    if (std::find(m_links.begin(), m_links.end(), comparableAddress(url)) == m_links.end())
        return;
    openExternally(url);
}

void TFormChat::setStoredCopyReader(std::function<QString(const QString& stored)> reader)
{
    m_session->setStoredCopyReader(std::move(reader));
}

void TFormChat::prepareView()
{
    QEventLoop loop;
    connect(webHistory, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    m_blankPending = true;
    webHistory->setHtml(QString());
    // Not a second press of the main window's buttons while waiting.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_blankPending = false;
}

void TFormChat::DisableGUI()
{
    m_busy = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    tbcFriend->setEnabled(false);
    tlbMain->setEnabled(false);
    FProgress->setProgress(0);
    FProgress->show();
}

void TFormChat::EnableGUI()
{
    FProgress->hide();
    QApplication::restoreOverrideCursor();
    tbcFriend->setEnabled(true);
    tlbMain->setEnabled(true);
    m_busy = false;
}

void TFormChat::reject()
{
    // Escape during a build would leave the build running in a closed window.
    if (!m_busy)
        QDialog::reject();
}

void TFormChat::closeEvent(QCloseEvent* event)
{
    if (m_busy)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TFormChat::showFailure(const QString& text)
{
    QMessageBox::warning(this, translateMessage(QCoreApplication::applicationName()),
                         translateMessage(text));
}

void ShowChatForm(const QString& db, const QHash<QString, QString>& FRecordDict,
                  const QString& backupPath, const QString& root, QWidget* parent,
                  const std::function<void(TFormChat&)>& prepare)
{
    TFormChat form(db, FRecordDict, backupPath, root, parent);
    form.InitFriends();
    if (prepare)
        prepare(form);
    form.prepareView();
    form.setWindowState(form.windowState() | Qt::WindowMaximized);
    form.exec();
}
