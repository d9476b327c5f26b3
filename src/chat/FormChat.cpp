#include "chat/FormChat.h"

#include "app/DesktopOpen.h"
#include "app/FormProgress.h"
#include "app/Language.h"
#include "chat/ChatSchemes.h"
#include "chat/ChatSession.h"
#include "util/Error.h"

#include <QApplication>
#include <QCloseEvent>
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
#include <QWebEngineView>

#include <algorithm>

namespace {

constexpr int kUsrNameRole = Qt::UserRole + 1;

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// A page that exists only to catch the address of a link opened with target _blank and hand
// it to the user's browser; the chat page never leaves the view.
class LinkCatcherPage final : public QWebEnginePage
{
public:
    explicit LinkCatcherPage(QWebEngineProfile* profile, QObject* parent)
        : QWebEnginePage(profile, parent)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        if (isWebAddress(url))
            openExternally(url);
        deleteLater();
        return false;
    }
};

// The view's page: every navigation passes the window's handler first.
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
        // A shared link followed in place would replace the conversation; it opens outside.
        if (type == NavigationTypeLinkClicked && isWebAddress(url)) {
            openExternally(url);
            return false;
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

    QWebEnginePage* createWindow(WebWindowType) override
    {
        return new LinkCatcherPage(profile(), this);
    }

private:
    TFormChat* m_form;
};

} // namespace

TFormChat::TFormChat(const QString& db, const QHash<QString, QString>& recordDict,
                     const QString& backupPath, const QString& root, QWidget* parent)
    : QDialog(parent, Qt::Window)
{
    m_session = std::make_unique<TChatSession>(db, recordDict, backupPath, root, QDir::tempPath());

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

    webHistory = new QWebEngineView(this);
    installChatSchemeHandler(webHistory->page()->profile());
    webHistory->setPage(new ChatWebPage(webHistory->page()->profile(), this));
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
