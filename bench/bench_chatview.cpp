// Times the WeChat window on one long conversation (100,000 messages by default, one in 100 a
// picture, one in 250 a SILK voice message): from the click to the first page loaded in the
// view, the page file written behind it and the longest the window waited meanwhile, then
// scrolling up until the oldest message is on the page, and the memory of the view's
// processes afterwards. Goals: first page under 1 s, the page file under 2 s, no freeze, the
// view process under 300 MB.
// Run: QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 build/bench/bench_chatview [n]
#include "SampleBackup.h"
#include "ViewBench.h"
#include "WechatData.h"
#include "app/Application.h"
#include "backup/BackupFileManager.h"
#include "chat/ChatSchemes.h"
#include "chat/FormChat.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>

using viewbench::runJs;
using viewbench::viewMemory;

namespace {

const QString kAccount = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString kFriend = QStringLiteral("wxid_bench");

QString md5(const QString& s)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(s.toUtf8(), QCryptographicHash::Md5).toHex());
}

template <typename Done>
double waitUntil(TApplication& app, Done done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        app.processEvents(QEventLoop::AllEvents, 5);
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    registerChatSchemes();
    TApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;

    wechat::Database db;
    db.friends = {
        {kFriend, QStringLiteral("Bench"), wechat::remarkRecord(QStringLiteral("Bencher")), 3}};
    auto& chat = db.chats[kFriend];
    chat.reserve(size_t(count));
    SampleBackup backup;
    const QString domain = QLatin1String(wechat::kDomain);
    const QString account = QStringLiteral("Documents/%1/").arg(kAccount);
    const QByteArray thumb = wechat::jpegImage(160, 120, 0x3a7bd5, QStringLiteral("t"));
    const QByteArray full = wechat::jpegImage(1280, 960, 0x3a7bd5, QStringLiteral("f"));
    const QByteArray voice = wechat::silkVoice(2.0, 440.0);
    int pictures = 0, voices = 0;
    for (int i = 1; i <= count; ++i) {
        QString text = QStringLiteral("Message number %1: the quick brown fox jumps over the lazy dog").arg(i);
        int type = 1;
        if (i % 100 == 0) {
            type = 3;
            text = QStringLiteral("<msg><img length=\"60000\"/></msg>");
            const QString base = account + QStringLiteral("Img/%1/%2").arg(md5(kFriend)).arg(i);
            backup.addFile(domain, base + QStringLiteral(".pic_thum"), thumb);
            backup.addFile(domain, base + QStringLiteral(".pic"), full);
            ++pictures;
        } else if (i % 250 == 0) {
            type = 34;
            text = QStringLiteral("<msg><voicemsg voicelength=\"2000\"/></msg>");
            backup.addFile(domain, account + QStringLiteral("Audio/%1/%2.aud").arg(md5(kFriend)).arg(i),
                           voice);
            ++voices;
        }
        chat.push_back({1462104000 + i * 7, text, type, i % 3 == 0 ? 0 : 1, i});
    }
    backup.addFile(domain, account + QStringLiteral("DB/MM.sqlite"), db.bytes());
    QTemporaryDir dir;
    const QString backupPath = dir.filePath(QStringLiteral("backup"));
    backup.write(backupPath);
    QHash<QString, QString> dict;
    for (const auto& e : backup.entries())
        dict.insert(QStringLiteral("Applications/") + e.domain.mid(10) + QLatin1Char('/') + e.path,
                    SampleBackup::keyOf(e));
    const QString root = QStringLiteral("Applications/com.tencent.xin/") + account;
    const QString dbPath =
        GetRealFileName(backupPath, dict.value(root + QStringLiteral("DB/MM.sqlite")));

    TFormChat form(dbPath, dict, backupPath, root);
    form.InitFriends();
    form.prepareView();
    form.resize(1280, 900);
    form.show();
    if (form.lstFriends->count() < 1) {
        std::fprintf(stderr, "no conversation\n");
        return 1;
    }

    bool shown = false;
    bool written = false;
    QString writtenPath;
    QObject::connect(&form, &TFormChat::pageShown, [&](bool) { shown = true; });
    QObject::connect(&form, &TFormChat::historyWritten, [&](const QString& path) {
        written = true;
        writtenPath = path;
    });
    // The longest the window's event loop was kept from a 10 ms tick while the page file was
    // being written.
    QElapsedTimer tick;
    double longestWait = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (shown && !written)
            longestWait = std::max(longestWait, tick.nsecsElapsed() / 1e6 - 10);
        tick.restart();
    });

    QElapsedTimer clock;
    clock.start();
    form.lstFriends->setCurrentRow(0);
    form.lstFriendsItemClick(form.lstFriends);
    tick.start();
    ticker.start();
    waitUntil(app, [&] { return shown; }, 60000);
    const double firstPage = clock.nsecsElapsed() / 1e6;
    QWebEnginePage* page = form.webHistory->page();
    const int atStart = runJs(page, QStringLiteral("document.querySelectorAll('#list > .e').length")).toInt();
    waitUntil(app, [&] { return written; }, 120000);
    const double history = clock.nsecsElapsed() / 1e6;
    ticker.stop();
    const qint64 historySize = QFileInfo(writtenPath).size();

    clock.restart();
    int first = -1;
    QDeadlineTimer scrolling(600000);
    double longestScript = 0;
    do {
        QElapsedTimer one;
        one.start();
        first = runJs(page, QStringLiteral("window.scrollTo(0, 0); Number(document.body.dataset.first)"))
                    .toInt();
        longestScript = std::max(longestScript, one.nsecsElapsed() / 1e6);
        app.processEvents(QEventLoop::AllEvents, 5);
    } while (first != 0 && !scrolling.hasExpired());
    const double toTop = clock.nsecsElapsed() / 1e6;
    const int atTop = runJs(page, QStringLiteral("document.querySelectorAll('#list > .e').length")).toInt();
    QDeadlineTimer settle(2000);
    while (!settle.hasExpired())
        app.processEvents(QEventLoop::AllEvents, 20);
    const auto [renderer, all] = viewMemory();

    std::printf("conversation of %d messages (%d pictures, %d SILK voice messages)\n", count,
                pictures, voices);
    std::printf("first page shown (rows read, newest %d entries rendered, page loaded): %.0f ms "
                "(goal: under 1000 ms)\n",
                atStart, firstPage);
    std::printf("wechathistory.html written in the background: %.0f ms after the click, %.1f MB%s "
                "(goal: under 2000 ms); longest wait of the window meanwhile: %.0f ms\n",
                history, historySize / 1e6, written ? "" : " (NOT WRITTEN)", longestWait);
    std::printf("scrolled to the oldest message: %.1f s (longest answer of the page %.0f ms), %d "
                "entries on the page\n",
                toTop / 1000.0, longestScript, atTop);
    std::printf("view memory after scrolling to the top: renderer %.0f MB, all web processes %.0f "
                "MB (goal: under 300 MB)\n",
                renderer, all);
    return first == 0 && written ? 0 : 1;
}
