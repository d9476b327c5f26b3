#include "chat/FormMessages.h"

#include "app/Application.h"
#include "app/DesktopOpen.h"
#include "app/Language.h"
#include "app/RecordIndex.h"
#include "backup/StoredCopies.h"
#include "chat/MessagesPage.h"
#include "chat/PageServing.h"
#include "chat/WebViewPolicy.h"
#include "media/PictureReader.h"
#include "util/Error.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QEventLoop>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineView>

namespace {

constexpr int kPage = 500;                 // entries per request; the page script knows it too
constexpr int kRowRole = Qt::UserRole + 1; // index into conversations()
const QSize kThumbnail(480, 320);

QString host()
{
    return QStringLiteral("conversation");
}

class MessagesWebPage final : public QWebEnginePage
{
public:
    MessagesWebPage(QWebEngineProfile* profile, TFormMessages* form, QObject* parent)
        : QWebEnginePage(profile, parent), m_form(form)
    {
        denyFeaturePermissions(this);
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return m_form->acceptNavigation(url, type == NavigationTypeLinkClicked, isMainFrame);
    }
    // A link with a target opens no second view.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    TFormMessages* m_form;
};

quint64 pairId(int m, int a)
{
    return (quint64(quint32(m)) << 32) | quint32(a);
}

QString listDate(qint64 ms)
{
    if (ms == 0)
        return QString();
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).toLocalTime(),
                              QLocale::ShortFormat);
}

} // namespace

// One conversation read on its thread: the result, or the failure's text.
struct TFormMessages::Read
{
    int serial = 0;
    qint64 id = 0;
    std::vector<TMessage> messages;
    QString failure;
};

TFormMessages::TFormMessages(Sources sources, QWidget* parent)
    : QDialog(parent, Qt::Window), m_sources(std::move(sources))
{
    setWindowTitle(tr("Messages"));
    // The size it has where no window manager maximises it.
    resize(1200, 800);
    tlbMain = new QToolBar(this);
    tlbMain->setFixedHeight(40);
    auto button = [this](QToolButton*& b, const QString& text, QStyle::StandardPixmap icon) {
        b = new QToolButton(tlbMain);
        b->setText(text);
        b->setIcon(style()->standardIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        tlbMain->addWidget(b);
    };
    button(btnClose, tr("Close"), QStyle::SP_DialogCloseButton);
    button(btnExport, tr("Export Conversation"), QStyle::SP_DirIcon);
    button(btnSaveCsv, tr("Save CSV"), QStyle::SP_DialogSaveButton);
    connect(btnClose, &QToolButton::clicked, this, &TFormMessages::close);
    connect(btnExport, &QToolButton::clicked, this, [this] { btnExportClick(); });
    connect(btnSaveCsv, &QToolButton::clicked, this, [this] { btnSaveCsvClick(); });
    btnExport->setEnabled(false);
    btnSaveCsv->setEnabled(false);

    lvConversations = new QTreeWidget(this);
    lvConversations->setHeaderLabels({tr("Conversation"), tr("Last Message"), tr("Messages")});
    lvConversations->setRootIsDecorated(false);
    lvConversations->setUniformRowHeights(true);
    lvConversations->setFixedWidth(420);
    lvConversations->header()->setStretchLastSection(false);
    lvConversations->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    lvConversations->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    lvConversations->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    connect(lvConversations, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        openConversation(item->data(0, kRowRole).toInt());
    });

    m_profile = new QWebEngineProfile(this);
    restrictSettings(m_profile->settings(), false);
    // The page may load what the window serves under its own scheme, nothing else: no file,
    // no server.
    allowOnlySchemes(m_profile, {QLatin1String(kMessagesScheme), QStringLiteral("data")}, this,
                     [this](const QUrl& url) { emit requestBlocked(url); });
    serveScheme(m_profile, kMessagesScheme, [this](QWebEngineUrlRequestJob* job) { serve(job); });
    webMessages = new QWebEngineView(this);
    webMessages->setPage(new MessagesWebPage(m_profile, this, webMessages));
    webMessages->setContextMenuPolicy(Qt::NoContextMenu);
    // Only the conversation's own page: a refused click on a link also ends a load.
    connect(webMessages->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus ||
                    m_shownSerial < 0 || info.url() != QUrl(urlOf(QStringLiteral("page"))))
                    return;
                emit conversationShown(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
            });

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(lvConversations);
    body->addWidget(webMessages, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tlbMain);
    layout->addLayout(body, 1);

    askSavePath = [this](const QString& name) {
        const QString start = QDir(QStandardPaths::writableLocation(
                                       QStandardPaths::DocumentsLocation))
                                  .filePath(name);
        return QFileDialog::getSaveFileName(this, tr("Save As"), start);
    };
    askExportFolder = [this] {
        return QFileDialog::getExistingDirectory(
            this, tr("Export Conversation"),
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    };
}

TFormMessages::~TFormMessages()
{
    m_alive->store(false);
    for (std::thread& t : m_readers)
        t.join();
    // The page goes before its profile.
    delete webMessages;
}

void TFormMessages::loadConversations()
{
    lvConversations->clear();
    m_conversations.clear();
    try {
        if (!m_sources.addressBookDb.isEmpty()) {
            // Names are a comfort: without them the numbers show.
            try {
                m_names = TContactNames(m_sources.addressBookDb);
            } catch (const Error&) {
                m_names = TContactNames();
            }
        }
        const TMessagesStore store(m_sources.smsDb);
        m_conversations = store.conversations();
    } catch (const Error& e) {
        showFailure(e.message());
        return;
    }
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < int(m_conversations.size()); ++i) {
        const TConversation& c = m_conversations[size_t(i)];
        auto* item = new QTreeWidgetItem;
        item->setText(0, conversationTitle(c, m_names));
        item->setToolTip(0, item->text(0));
        item->setText(1, listDate(c.lastDateMs));
        item->setText(2, QLocale().toString(c.messageCount));
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        item->setData(0, kRowRole, i);
        items << item;
    }
    lvConversations->addTopLevelItems(items);
}

void TFormMessages::openConversation(int row)
{
    if (row < 0 || row >= int(m_conversations.size()))
        return;
    auto read = std::make_shared<Read>();
    read->serial = ++m_serial;
    read->id = m_conversations[size_t(row)].id;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Its own connection on its own thread: the window stays live while a long one is read.
    m_readers.emplace_back([this, read, db = m_sources.smsDb, alive = m_alive] {
        try {
            const TMessagesStore store(db);
            read->messages = store.messages(read->id);
        } catch (const Error& e) {
            read->failure = e.message();
        } catch (const std::exception& e) {
            read->failure = QString::fromUtf8(e.what());
        }
        if (alive->load())
            QMetaObject::invokeMethod(this, [this, read] { showRead(read); }, Qt::QueuedConnection);
    });
}

void TFormMessages::showRead(std::shared_ptr<Read> read)
{
    QApplication::restoreOverrideCursor();
    if (read->serial != m_serial)
        return; // another conversation was asked for meanwhile
    if (!read->failure.isEmpty()) {
        showFailure(read->failure);
        return;
    }
    const auto it = std::find_if(m_conversations.begin(), m_conversations.end(),
                                 [&](const TConversation& c) { return c.id == read->id; });
    if (it == m_conversations.end())
        return;
    m_shown = *it;
    m_shownId = read->id;
    m_messages = std::move(read->messages);
    m_available.clear();
    TMessagesRenderer::Links links;
    links.available = [this](int m, int a) { return attachmentAvailable(m, a); };
    links.picture = [this](int m, int a) {
        return urlOf(QStringLiteral("picture/%1/%2").arg(m).arg(a));
    };
    links.open = [this](int m, int a) { return urlOf(QStringLiteral("open/%1/%2").arg(m).arg(a)); };
    m_renderer = std::make_unique<TMessagesRenderer>(m_shown, m_messages, m_names, links);
    m_shownSerial = read->serial;
    m_nonce = QString::number(QRandomGenerator::system()->generate64(), 36);
    btnExport->setEnabled(true);
    btnSaveCsv->setEnabled(true);
    webMessages->load(QUrl(urlOf(QStringLiteral("page"))));
}

QString TFormMessages::urlOf(const QString& what) const
{
    return QStringLiteral("%1://%2/%3/%4")
        .arg(QLatin1String(kMessagesScheme), host())
        .arg(m_shownSerial)
        .arg(what);
}

QStringList TFormMessages::partsOf(const QUrl& url) const
{
    if (url.scheme() != QLatin1String(kMessagesScheme) || url.host() != host())
        return {};
    QStringList parts = url.path().split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.takeFirst() != QString::number(m_shownSerial) || !m_renderer)
        return {};
    return parts;
}

void TFormMessages::serve(QWebEngineUrlRequestJob* job)
{
    const QStringList parts = partsOf(job->requestUrl());
    if (parts.isEmpty()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const QByteArray html = "text/html";
    bool okA = false;
    bool okB = false;
    if (parts.size() == 1 && parts[0] == QLatin1String("page")) {
        const int count = m_renderer->count();
        const int first = std::max(0, count - kPage);
        replyBytes(job, html,
              messagesPageShell(conversationTitle(m_shown, m_names), m_renderer->range(first, count),
                                first, count, urlOf(QStringLiteral("range")), m_nonce)
                  .toUtf8());
    } else if (parts.size() == 3 && parts[0] == QLatin1String("range")) {
        const int a = parts[1].toInt(&okA);
        const int b = parts[2].toInt(&okB);
        // No more than the page ever asks for at once.
        if (!okA || !okB || a < 0 || b < a || b - a > kPage) {
            job->fail(QWebEngineUrlRequestJob::UrlInvalid);
            return;
        }
        replyBytes(job, html, m_renderer->range(a, b).toUtf8());
    } else if (parts.size() == 3 && parts[0] == QLatin1String("picture")) {
        const int m = parts[1].toInt(&okA);
        const int a = parts[2].toInt(&okB);
        if (!okA || !okB) {
            job->fail(QWebEngineUrlRequestJob::UrlInvalid);
            return;
        }
        servePicture(job, m, a);
    } else {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    }
}

QString TFormMessages::attachmentKey(int m, int a) const
{
    if (m < 0 || m >= int(m_messages.size()))
        return QString();
    const auto& attachments = m_messages[size_t(m)].attachments;
    if (a < 0 || a >= int(attachments.size()) || !m_sources.attachments.keyOf)
        return QString();
    return m_sources.attachments.keyOf(attachments[size_t(a)]);
}

bool TFormMessages::attachmentAvailable(int m, int a)
{
    const quint64 id = pairId(m, a);
    const auto it = m_available.constFind(id);
    if (it != m_available.constEnd())
        return *it;
    const QString key = attachmentKey(m, a);
    const bool available = !key.isEmpty() && m_sources.attachments.available &&
                           m_sources.attachments.available(key);
    m_available.insert(id, available);
    return available;
}

void TFormMessages::servePicture(QWebEngineUrlRequestJob* job, int m, int a)
{
    QString path;
    try {
        const QString key = attachmentKey(m, a);
        if (!key.isEmpty() && attachmentAvailable(m, a))
            path = m_sources.readable(key);
    } catch (const Error&) {
    }
    if (path.isEmpty()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // Decoding (HEIC especially) takes a while: off the GUI thread, the answer back on it.
    QPointer<QWebEngineUrlRequestJob> target(job);
    QThreadPool::globalInstance()->start([path, target, alive = m_alive] {
        QImage image = readThumbnail(path, kThumbnail);
        QByteArray jpeg;
        if (!image.isNull()) {
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            image.convertToFormat(QImage::Format_RGB888).save(&buffer, "JPEG", 85);
        }
        QMetaObject::invokeMethod(
            qApp,
            [target, alive, jpeg] {
                if (!alive->load() || !target)
                    return;
                if (jpeg.isEmpty())
                    target->fail(QWebEngineUrlRequestJob::RequestFailed);
                else
                    replyBytes(target, "image/jpeg", jpeg);
            },
            Qt::QueuedConnection);
    });
}

bool TFormMessages::acceptNavigation(const QUrl& url, bool linkClicked, bool isMainFrame)
{
    if (!isMainFrame)
        return false;
    if (url.scheme() == QLatin1String("data"))
        return m_blankPending;
    const QStringList parts = partsOf(url);
    if (parts.size() == 1 && parts[0] == QLatin1String("page"))
        return true;
    if (linkClicked && parts.size() == 3 && parts[0] == QLatin1String("open")) {
        bool okM = false;
        bool okA = false;
        const int m = parts[1].toInt(&okM);
        const int a = parts[2].toInt(&okA);
        if (okM && okA)
            openAttachment(m, a);
        return false;
    }
    // Only an address the page shows as a link, and only in the user's browser: script on the
    // page cannot send what it read anywhere.
    if (linkClicked && m_renderer && m_renderer->showsLink(url))
        openExternally(url);
    return false;
}

void TFormMessages::openAttachment(int m, int a)
{
    const QString key = attachmentKey(m, a);
    if (key.isEmpty() || !attachmentAvailable(m, a))
        return;
    const TMessageAttachment& att = m_messages[size_t(m)].attachments[size_t(a)];
    try {
        switch (attachmentKind(att)) {
        case TAttachmentKind::akPicture:
        case TAttachmentKind::akVideo:
        case TAttachmentKind::akAudio: {
            TExportFile file;
            file.srcFile = m_sources.readable(key);
            // The phone's own name, for saving.
            file.dstFile = QDir(QFileInfo(file.srcFile).path()).filePath(safeFileName(att.name));
            const auto& open = attachmentKind(att) == TAttachmentKind::akPicture ? openImage
                                                                                 : openVideo;
            if (open)
                open(file);
            return;
        }
        case TAttachmentKind::akFile:
            break;
        }
        const QString path = askSavePath ? askSavePath(safeFileName(att.name)) : QString();
        if (path.isEmpty())
            return;
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            throw Error(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        m_sources.attachments.writeContent(key, out);
        if (!out.commit())
            throw Error(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    } catch (const Error& e) {
        showFailure(e.message());
    }
}

void TFormMessages::btnSaveCsvClick()
{
    if (!m_renderer)
        return;
    const QString path =
        askSavePath ? askSavePath(safeFileName(conversationTitle(m_shown, m_names)) +
                                  QStringLiteral(".csv"))
                    : QString();
    if (path.isEmpty())
        return;
    try {
        saveConversationCsv(path, m_shown, m_messages, m_names);
    } catch (const Error& e) {
        showFailure(e.message());
        return;
    }
    ShowMessage(QStringLiteral("Export csv successfully"));
}

void TFormMessages::btnExportClick()
{
    if (!m_renderer)
        return;
    const QString parent = askExportFolder ? askExportFolder() : QString();
    if (parent.isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        const TConversationExport done =
            exportConversation(parent, conversationTitle(m_shown, m_names), m_shown, m_messages,
                               m_names, m_sources.attachments);
        QApplication::restoreOverrideCursor();
        if (done.missing > 0)
            ShowMessage(QStringLiteral("The conversation was exported to %1; %2 attachments are not in this backup")
                            .arg(done.folder)
                            .arg(done.missing));
        else
            ShowMessage(QStringLiteral("The conversation was exported to %1").arg(done.folder));
    } catch (const Error& e) {
        QApplication::restoreOverrideCursor();
        showFailure(e.message());
    }
}

void TFormMessages::prepareView()
{
    QEventLoop loop;
    connect(webMessages, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    m_blankPending = true;
    webMessages->setHtml(QString());
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_blankPending = false;
}

void TFormMessages::showFailure(const QString& text)
{
    QMessageBox::warning(this, translateMessage(QCoreApplication::applicationName()),
                         translateMessage(text));
}

void ShowMessagesForm(TStoredCopies& copies,
                      const std::function<QString(const QString& treePath)>& keyOfTreePath,
                      const QString& smsKey, const QString& contactsKey, QWidget* parent,
                      const std::function<void(TFormMessages&)>& prepare)
{
    TFormMessages::Sources sources;
    sources.smsDb = copies.readableDatabase(smsKey);
    if (!contactsKey.isEmpty()) {
        try {
            sources.addressBookDb = copies.readableDatabase(contactsKey);
        } catch (const Error&) {
            // Without the address book the conversations show numbers and addresses.
        }
    }
    sources.attachments.keyOf = [&keyOfTreePath](const TMessageAttachment& a) {
        if (a.domain.isEmpty() || a.path.isEmpty())
            return QString();
        return keyOfTreePath(treePathOf(a.domain, a.path));
    };
    sources.attachments.available = [&copies](const QString& key) {
        return copies.hasReadableCopy(key);
    };
    sources.attachments.writeContent = [&copies](const QString& key, QIODevice& out) {
        copies.writeContent(copies.storedPath(key), out);
    };
    sources.attachments.writeJpeg = [&copies](const QString& key, const QString& path) {
        try {
            return writeJpegCopy(copies.readable(key), path);
        } catch (const Error&) {
            return false;
        }
    };
    sources.readable = [&copies](const QString& key) { return copies.readable(key); };

    TFormMessages form(std::move(sources), parent);
    form.loadConversations();
    if (prepare)
        prepare(form);
    form.prepareView();
    form.setWindowState(form.windowState() | Qt::WindowMaximized);
    form.exec();
}
