#include "chat/FormChat.h"

#include "app/DesktopOpen.h"
#include "util/WorkFolder.h"

#include "app/Application.h"
#include "app/FormProgress.h"
#include "app/Language.h"
#include "chat/ChatSchemes.h"
#include "chat/ChatConversation.h"
#include "chat/ChatExport.h"
#include "chat/ChatPage.h"
#include "chat/ChatPageEntries.h"
#include "chat/ChatSession.h"
#include "chat/PageServing.h"
#include "chat/WebViewPolicy.h"
#include "media/MediaDialogs.h"
#include "util/Error.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineView>

#include <algorithm>

namespace {

constexpr int kUsrNameRole = Qt::UserRole + 1;
// Entries the page shows first and asks for at a time, and keeps at most.
constexpr int kPage = 250;
constexpr int kKeep = 750;
// The page file is written in slices of this much GUI time, so the view stays live.
constexpr std::chrono::milliseconds kHistorySlice(15);

QString pageHost()
{
    return QStringLiteral("conversation");
}

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
        denyFeaturePermissions(this);
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
    auto addExport = [this](QToolButton*& button, const char* name, const QString& text) {
        button = new QToolButton(tlbMain);
        button->setObjectName(QLatin1String(name));
        button->setText(text);
        button->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setEnabled(false);
        tlbMain->addWidget(button);
    };
    addExport(btnExportFolder, "btnExportFolder", tr("Export Conversation"));
    addExport(btnExportCsv, "btnExportCsv", tr("Save CSV"));
    connect(btnExportFolder, &QToolButton::clicked, this, &TFormChat::btnExportFolderClick);
    connect(btnExportCsv, &QToolButton::clicked, this, &TFormChat::btnExportCsvClick);

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
    // Everything the page shows comes through the window's scheme: no file access.
    restrictSettings(m_profile->settings(), false);
    // The page may load what the window serves under its own scheme, nothing else, so script
    // on it reads no file and reaches no server.
    allowOnlySchemes(m_profile, {QLatin1String(kWechatScheme)}, this,
                     [this](const QUrl& url) { emit requestBlocked(url); });
    installChatSchemeHandler(m_profile);
    serveScheme(m_profile, kWechatScheme, [this](QWebEngineUrlRequestJob* job) { serve(job); });
    webHistory = new QWebEngineView(this);
    webHistory->setPage(new ChatWebPage(m_profile, this, webHistory));
    webHistory->setContextMenuPolicy(Qt::NoContextMenu);
    connect(webHistory, &QWebEngineView::loadFinished, this, [this](bool ok) {
        // The page file waits for the first page, then takes the GUI thread in slices.
        if (ok && m_entries && !m_historyComplete && !m_historyTimer->isActive() &&
            webHistory->url() == m_pageUrl)
            m_historyTimer->start();
        emit pageShown(ok);
    });
    m_historyTimer = new QTimer(this);
    m_historyTimer->setInterval(0);
    connect(m_historyTimer, &QTimer::timeout, this, &TFormChat::writeHistoryStep);

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
    m_entries.reset();
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
    QStringList skipped;
    for (const auto& [name, reason] : m_session->warnings())
        skipped << tr("%1 could not be read: %2").arg(name, translateMessage(reason));
    if (!skipped.isEmpty())
        QMessageBox::warning(this, translateMessage(QCoreApplication::applicationName()),
                             skipped.join(QLatin1Char('\n')));
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
    // Entries render inside the engine's requests: no event loop runs there, a failure is
    // shown after, and voice is decoded when played.
    hooks.showMessage = [this](const QString& text) { showFailureLater(text); };
    hooks.decodeVoiceOnPlay = true;
    DisableGUI();
    try {
        auto conversation = m_session->openConversation(*info);
        conversation->setHooks(hooks);
        auto entries = std::make_unique<TChatPageEntries>(*conversation);
        const int total = entries->count();
        if (total == 0) {
            EnableGUI();
            return;
        }
        const int first = std::max(0, total - kPage);
        const QByteArray newest = entries->viewRange(first, total);
        stopHistory();
        m_entries.reset();
        m_conversation = std::move(conversation);
        m_entries = std::move(entries);
        ++m_serial;
        const QString base = QStringLiteral("%1://%2/%3/")
                                 .arg(QLatin1String(kWechatScheme), pageHost())
                                 .arg(m_serial);
        m_firstPage = chatPageShell(newest, first, total, base + QStringLiteral("range"),
                                    QLatin1String(kWechatScheme), kPage, kKeep);
        m_rangeFailed = false;
        m_shown = info;
        EnableGUI();
        btnExportFolder->setEnabled(true);
        btnExportCsv->setEnabled(true);
        m_pageUrl = QUrl(base + QStringLiteral("page"));
        webHistory->load(m_pageUrl);
    } catch (const Error& e) {
        EnableGUI();
        showFailure(e.message());
    }
}

void TFormChat::serve(QWebEngineUrlRequestJob* job)
{
    const QUrl url = job->requestUrl();
    if (url.scheme() != QLatin1String(kWechatScheme) || url.host() != pageHost() || !m_entries) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // A picture the entries rendered so far show, by its path (the entries name their
    // thumbnails by path, so the page file shows them too).
    const QString path = QDir::cleanPath(url.path());
    if (m_conversation->files().contains(path)) {
        auto* file = new QFile(path, job);
        if (!file->open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        const QByteArray type = QMimeDatabase().mimeTypeForData(file->peek(64)).name().toLatin1();
        job->reply(type.startsWith("image/") ? type : QByteArray("image/jpeg"), file);
        return;
    }
    const QStringList parts = url.path().split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts[0] != QString::number(m_serial)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    if (parts.size() == 2 && parts[1] == QLatin1String("page")) {
        replyBytes(job, "text/html", m_firstPage);
        return;
    }
    bool okA = false;
    bool okB = false;
    const int a = parts.size() == 4 ? parts[2].toInt(&okA) : 0;
    const int b = parts.size() == 4 ? parts[3].toInt(&okB) : 0;
    // No more than the page ever asks for at once.
    if (parts.size() != 4 || parts[1] != QLatin1String("range") || !okA || !okB || a < 0 ||
        b < a || b - a > kPage || b > m_entries->count()) {
        job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        return;
    }
    try {
        replyBytes(job, "text/html", m_entries->viewRange(a, b));
    } catch (const Error& e) {
        // The page stops asking; what it shows stays.
        job->fail(QWebEngineUrlRequestJob::RequestFailed);
        if (!m_rangeFailed)
            showFailureLater(e.message());
        m_rangeFailed = true;
    }
}

void TFormChat::stopHistory()
{
    m_historyTimer->stop();
    m_historyComplete = false;
}

void TFormChat::writeHistoryStep()
{
    if (!m_entries) {
        m_historyTimer->stop();
        return;
    }
    try {
        if (!m_entries->renderFor(kHistorySlice))
            return; // the timer comes back after the events waiting
        m_historyTimer->stop();
        m_entries->save(m_session->tempFile());
        m_historyComplete = true;
        emit historyWritten(m_session->tempFile());
    } catch (const Error& e) {
        m_historyTimer->stop();
        // One box for a failure that the page's own request met already.
        if (!m_rangeFailed)
            showFailureLater(e.message());
        m_rangeFailed = true;
        emit historyWritten(QString());
    }
}

void TFormChat::showFailureLater(const QString& text)
{
    QTimer::singleShot(0, this, [this, text] { showFailure(text); });
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
        if (!route.image && QLatin1String(route.prefix) == QLatin1String("audio://")) {
            // Voice is decoded when it is first played.
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_session->decodeVoice(
                name, [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
            QApplication::restoreOverrideCursor();
        }
        TExportFile file;
        file.srcFile = m_session->tempFolder(route.folder) + name;
        file.dstFile = file.srcFile;
        const auto& open = route.image ? openImage : openVideo;
        if (open)
            open(file);
        return true;
    }
    static const QString save = QStringLiteral("save://");
    if (address.startsWith(save)) {
        QString name = address.mid(save.size());
        name.remove(QLatin1Char('/'));
        const QString file = m_session->tempFolder("Image") + name;
        if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || !QFile::exists(file))
            return true;
        // Called from the view's navigation hook: failures stop here, in a box.
        try {
            const QString folder = chooseMediaFolder(this, tr("Save Image To"));
            if (!folder.isEmpty()) {
                saveMediaCopy(file, folder, name);
                ShowMessage(QStringLiteral("Export Image successfully"));
            }
        } catch (const Error& e) {
            showFailure(e.message());
        }
        return true;
    }
    return false;
}

void TFormChat::btnExportFolderClick()
{
    if (m_busy || !m_shown)
        return;
    const QString folder = chooseMediaFolder(this, tr("Export To"));
    if (folder.isEmpty())
        return;
    TChatSession::BuildHooks hooks;
    hooks.progress = [this](double percent) { FProgress->setProgress(percent); };
    hooks.pumpEvents = [] { QCoreApplication::processEvents(); };
    DisableGUI();
    try {
        const auto conversation = m_session->openConversation(*m_shown);
        const QString made = exportConversationFolder(*m_session, *conversation, folder, hooks);
        EnableGUI();
        ShowMessage(QStringLiteral("The conversation was exported to %1").arg(QDir::toNativeSeparators(made)));
    } catch (const Error& e) {
        EnableGUI();
        showFailure(e.message());
    }
}

void TFormChat::btnExportCsvClick()
{
    if (m_busy || !m_shown)
        return;
    const QString folder = chooseMediaFolder(this, tr("Export To"));
    if (folder.isEmpty())
        return;
    DisableGUI();
    try {
        const auto conversation = m_session->openConversation(*m_shown);
        QString path = QDir(folder).filePath(exportName(m_shown->DisplayName) + QStringLiteral(".csv"));
        for (int n = 2; QFile::exists(path); ++n)
            path = QDir(folder).filePath(QStringLiteral("%1 (%2).csv").arg(exportName(m_shown->DisplayName)).arg(n));
        exportConversationCsv(*conversation, path);
        EnableGUI();
        ShowMessage(QStringLiteral("Export csv successfully"));
    } catch (const Error& e) {
        EnableGUI();
        showFailure(e.message());
    }
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
    if (!m_conversation)
        return;
    const QUrl wanted = comparableAddress(url);
    const QStringList& links = m_conversation->links();
    if (std::none_of(links.begin(), links.end(),
                     [&](const QString& a) { return comparableAddress(QUrl(a)) == wanted; }))
        return;
    openExternally(url);
}

void TFormChat::setStoredCopyReader(std::function<QString(const QString& stored)> reader)
{
    m_session->setStoredCopyReader(std::move(reader));
}

void TFormChat::setDatabaseReader(std::function<QString(const QString& stored)> reader)
{
    m_session->setDatabaseReader(std::move(reader));
}

void TFormChat::setGroupFiles(const QHash<QString, QString>* groupFiles)
{
    m_session->setGroupFiles(groupFiles);
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
    if (prepare)
        prepare(form);
    form.InitFriends();
    form.prepareView();
    form.setWindowState(form.windowState() | Qt::WindowMaximized);
    form.exec();
}
