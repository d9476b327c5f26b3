// Times the Messages window on one long conversation (100,000 messages by default): from the
// click to the first page loaded in the view, then scrolling up until every message is on the
// page, and the memory of the view's processes afterwards. Goals: first page under 1 s, the
// view process under 300 MB after scrolling to the top.
// Run: QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 build/bench/bench_messagesview [n]
#include "MessagesDatabases.h"
#include "SampleBackup.h"
#include "app/Application.h"
#include "chat/ChatSchemes.h"
#include "chat/FormMessages.h"
#include "util/Error.h"
#include "ViewBench.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdio>
#include <unistd.h>

using viewbench::runJs;
using viewbench::viewMemory;

int main(int argc, char* argv[])
{
    registerChatSchemes();
    TApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    QTemporaryDir dir;
    const QString backupPath = dir.filePath(QStringLiteral("backup"));
    SampleBackup backup;
    MessagesDatabases::addLongConversation(backup, count);
    backup.write(backupPath);
    auto stored = [&](const QString& domain, const QString& path) {
        const QString key = SampleBackup::keyOf(domain.toUtf8(), path.toUtf8());
        return QDir(backupPath).filePath(key.left(2) + u'/' + key);
    };

    TFormMessages::Sources sources;
    sources.smsDb = stored(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
    sources.attachments.keyOf = [&](const TMessageAttachment& a) {
        return a.domain.isEmpty() ? QString() : stored(a.domain, a.path);
    };
    sources.attachments.available = [](const QString& key) { return QFile::exists(key); };
    sources.readable = [](const QString& key) { return key; };
    TFormMessages form(std::move(sources));
    form.loadConversations();
    form.prepareView();
    form.resize(1280, 900);
    form.show();
    if (form.conversations().empty()) {
        std::fprintf(stderr, "no conversation\n");
        return 1;
    }

    QElapsedTimer timer;
    timer.start();
    bool shown = false;
    QObject::connect(&form, &TFormMessages::conversationShown, [&](bool) { shown = true; });
    form.openConversation(0);
    QDeadlineTimer deadline(60000);
    while (!shown && !deadline.hasExpired())
        app.processEvents(QEventLoop::AllEvents, 5);
    const double firstPage = timer.nsecsElapsed() / 1e6;
    QWebEnginePage* page = form.webMessages->page();
    const int atStart =
        runJs(page, QStringLiteral("document.querySelectorAll('#list > .m, #list > .ev').length")).toInt();

    timer.restart();
    int first = -1;
    QDeadlineTimer scrolling(600000);
    do {
        first = runJs(page, QStringLiteral("window.scrollTo(0, 0); Number(document.body.dataset.first)"))
                    .toInt();
        app.processEvents(QEventLoop::AllEvents, 5);
    } while (first != 0 && !scrolling.hasExpired());
    const double toTop = timer.nsecsElapsed() / 1e6;
    const int atTop =
        runJs(page, QStringLiteral("document.querySelectorAll('#list > .m, #list > .ev').length")).toInt();
    // Let the renderer settle before reading its memory.
    QDeadlineTimer settle(2000);
    while (!settle.hasExpired())
        app.processEvents(QEventLoop::AllEvents, 20);
    const auto [renderer, all] = viewMemory();

    std::printf("conversation of %d messages (%zu entries)\n", count, form.messages().size());
    std::printf("first page shown (model read, newest %d entries rendered, page loaded): %.0f ms "
                "(goal: under 1000 ms)\n",
                atStart, firstPage);
    std::printf("scrolled to the oldest message: %.1f s, %d entries on the page\n", toTop / 1000.0,
                atTop);
    std::printf("view memory after scrolling to the top: renderer %.0f MB, all web processes %.0f "
                "MB (goal: under 300 MB)\n",
                renderer, all);
    return 0;
}
