#include "chat/FormChat.h"

#include "util/WorkFolder.h"

#include "app/FormProgress.h"
#include "chat/ChatSchemes.h"
#include "chat/ChatSession.h"
#include "util/Error.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>

namespace {
bool isBlankPageUrl(const QUrl& url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("about") || scheme == QLatin1String("data");
}
} // namespace

// Blocks every request of the page but the files of its own folder, the link schemes (which
// the window routes) and the blank page shown before the first conversation.
class TChatRequestGuard final : public QWebEngineUrlRequestInterceptor
{
public:
    TChatRequestGuard(const QString& folder, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent),
          m_folder(QDir::cleanPath(folder) + QLatin1Char('/'))
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QUrl url = info.requestUrl();
        const QString scheme = url.scheme();
        const bool allowed =
            (url.isLocalFile() && QDir::cleanPath(url.toLocalFile()).startsWith(m_folder)) ||
            scheme == QLatin1String("image") || scheme == QLatin1String("video") ||
            scheme == QLatin1String("audio") || isBlankPageUrl(url);
        if (!allowed) {
            info.block(true);
            m_blocked.append(url);
        }
    }

    QList<QUrl> m_blocked;

private:
    QString m_folder;
};

namespace {

constexpr int kUsrNameRole = Qt::UserRole + 1;

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// A page that exists only to catch the address of a link opened with target _blank (how the
// chat page shows shared links) and hand it to the user's browser; the chat page never leaves
// the view. Script cannot get here: the view lets no script open a window.
class LinkCatcherPage final : public QWebEnginePage
{
public:
    LinkCatcherPage(QWebEngineProfile* profile, QObject* parent, TFormChat* form)
        : QWebEnginePage(profile, parent), m_form(form)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        if (isWebAddress(url))
            m_form->openExternalLink(url);
        deleteLater();
        return false;
    }

private:
    TFormChat* m_form;
};

// The view's page: every navigation passes the window's handler first. Text from a backup
// reaches the page, so whatever got through as script must find no way out: the page loads
// only files of its own private folder, and goes nowhere but the link schemes.
class ChatWebPage final : public QWebEnginePage
{
public:
    ChatWebPage(QWebEngineProfile* profile, TFormChat* form)
        : QWebEnginePage(profile, form), m_form(form)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (m_form->webHistoryBeforeNavigate(url.toString()))
            return false;
        // Nothing replaces the conversation in the view: shared links open outside through a
        // new window (target _blank), and a navigation anywhere else is refused.
        Q_UNUSED(type);
        const bool ownPage = url.isLocalFile() && QDir::cleanPath(url.toLocalFile()) ==
                                                      QDir::cleanPath(m_form->session().tempFile());
        if (!isMainFrame || !(ownPage || isBlankPageUrl(url)))
            return false;
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

    QWebEnginePage* createWindow(WebWindowType) override
    {
        return new LinkCatcherPage(profile(), this, m_form);
    }

private:
    TFormChat* m_form;
};

QString translated(const QString& text)
{
    return QCoreApplication::translate("TFormChat", text.toUtf8().constData());
}

} // namespace

TFormChat::TFormChat(const QString& db, const QHash<QString, QString>& recordDict,
                     const QString& backupPath, const QString& root, QWidget* parent)
    : QDialog(parent, Qt::Window)
{
    // The page, its media and decoded voice are someone's private messages: they go into a
    // private folder of their own, removed when the window closes.
    m_work = std::make_unique<TWorkFolder>(QStringLiteral("chat"));
    m_session = std::make_unique<TChatSession>(db, recordDict, backupPath, root, m_work->path());

    setWindowTitle(QStringLiteral("Wechat History"));
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

    webHistory = new QWebEngineView(this);
    installChatSchemeHandler(webHistory->page()->profile());
    auto* page = new ChatWebPage(webHistory->page()->profile(), this);
    m_guard = new TChatRequestGuard(m_session->tempPath(), this);
    page->setUrlRequestInterceptor(m_guard);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    // The page needs its own pictures; the guard keeps it to its own folder.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    webHistory->setPage(page);
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

TFormChat::~TFormChat() = default;

QList<QUrl> TFormChat::blockedRequests() const
{
    return m_guard ? m_guard->m_blocked : QList<QUrl>();
}

void TFormChat::openExternalLink(const QUrl& url)
{
    if (QDesktopServices::openUrl(url))
        return;
    // Said after the navigation hook has returned: no modal box inside the view's callback.
    QTimer::singleShot(0, this, [this, url] {
        showFailure(QStringLiteral("No program is set up to open %1").arg(url.toString()));
    });
}

void TFormChat::setStoredCopyReader(std::function<QString(const QString& stored)> reader)
{
    m_session->setStoredCopyReader(std::move(reader));
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
            webHistory->load(QUrl::fromLocalFile(m_session->tempFile()));
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

void TFormChat::prepareView()
{
    QEventLoop loop;
    connect(webHistory, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    webHistory->setHtml(QString());
    // Not a second press of the main window's buttons while waiting.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
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
    QMessageBox::warning(this, QCoreApplication::applicationName(), translated(text));
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
