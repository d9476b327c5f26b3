// Times the chat page build (query, media copies, entries, page file), without the view's own
// rendering: a conversation of 100,000 text messages and one of 1,000 image messages, with the
// event pump and progress hooks live as in the chat window. Then a current-layout account whose
// 100,000-message conversation is spread over MM.sqlite and three message shards: reading it
// into rows, rendering the newest 50 entries (what a first page needs) and writing the whole
// wechathistory.html.
// Run: QT_QPA_PLATFORM=offscreen build/bench/bench_chat
#include "SampleBackup.h"
#include "WechatData.h"
#include "backup/BackupFileManager.h"
#include "chat/ChatConversation.h"
#include "chat/ChatSession.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const QString kAccount = QStringLiteral("benchaccount");
const QString kFriend = QStringLiteral("wxid_bench");

QString md5(const QString& s)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(s.toUtf8(), QCryptographicHash::Md5).toHex());
}

struct Case
{
    const char* name;
    int messages;
    bool images;
};

void run(const Case& c)
{
    wechat::Database db;
    db.friends = {
        {kFriend, QStringLiteral("Bench"), wechat::remarkRecord(QStringLiteral("Bencher")), 3}};
    auto& chat = db.chats[kFriend];
    chat.reserve(size_t(c.messages));
    for (int i = 1; i <= c.messages; ++i) {
        const QString text =
            c.images
                ? QStringLiteral("<msg><img length=\"60000\"/></msg>")
                : QStringLiteral("Message number %1: the quick brown fox jumps over the lazy dog")
                      .arg(i);
        chat.push_back({1462104000 + i * 7, text, c.images ? 3 : 1, i % 3 == 0 ? 0 : 1, i});
    }
    SampleBackup backup;
    const QString domain = QLatin1String(wechat::kDomain);
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/MM.sqlite").arg(kAccount), db.bytes());
    if (c.images) {
        const QByteArray thumb = wechat::jpegImage(160, 120, 0x3a7bd5, QStringLiteral("t"));
        const QByteArray full = wechat::jpegImage(1280, 960, 0x3a7bd5, QStringLiteral("f"));
        for (int i = 1; i <= c.messages; ++i) {
            const QString base =
                QStringLiteral("Documents/%1/Img/%2/%3").arg(kAccount, md5(kFriend)).arg(i);
            backup.addFile(domain, base + QStringLiteral(".pic_thum"), thumb);
            backup.addFile(domain, base + QStringLiteral(".pic"), full);
        }
        std::printf("  (%d images of %lld + %lld bytes)\n", c.messages, qint64(thumb.size()),
                    qint64(full.size()));
    }
    QTemporaryDir dir;
    const QString backupPath = dir.filePath(QStringLiteral("backup"));
    backup.write(backupPath);
    QHash<QString, QString> dict;
    for (const auto& e : backup.entries())
        dict.insert(QStringLiteral("Applications/") + e.domain.mid(10) + QLatin1Char('/') + e.path,
                    SampleBackup::keyOf(e));
    const QString root = QStringLiteral("Applications/com.tencent.xin/Documents/%1/").arg(kAccount);
    const QString dbPath =
        GetRealFileName(backupPath, dict.value(root + QStringLiteral("DB/MM.sqlite")));

    double best = 1e9;
    qint64 size = 0;
    for (int round = 0; round < 3; ++round) {
        TChatSession session(dbPath, dict, backupPath, root, dir.filePath(QStringLiteral("tmp")));
        session.InitFriends();
        TChatSession::BuildHooks hooks;
        double progress = 0;
        hooks.progress = [&progress](double p) { progress = p; };
        hooks.pumpEvents = [] { QCoreApplication::processEvents(); };
        QElapsedTimer timer;
        timer.start();
        session.buildPage(*session.friendInfo(kFriend), hooks);
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        size = QFileInfo(session.tempFile()).size();
    }
    std::printf("%-26s %9d %10.0f %12.1f\n", c.name, c.messages, best, size / 1e6);
}

double msSince(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

void runCurrent(int messages)
{
    const QString account = QStringLiteral("0123456789abcdef0123456789abcdef");
    const std::vector<wechat::Message> all = wechat::longConversation(messages);
    wechat::ContactDatabase contacts;
    contacts.contacts = {{kFriend, wechat::contactRemark(QStringLiteral("Bench"), {}, {}), 3}};
    wechat::Database mm;
    wechat::Database shards[3];
    // The oldest tenth in MM.sqlite, the rest in blocks over the shards, so every database
    // contributes and the merge has work to do.
    for (size_t i = 0; i < all.size(); ++i) {
        if (i < all.size() / 10)
            mm.chats[kFriend].push_back(all[i]);
        else
            shards[(i / 1000) % 3].chats[kFriend].push_back(all[i]);
    }
    SampleBackup backup;
    const QString domain = QLatin1String(wechat::kDomain);
    const QString db = QStringLiteral("Documents/%1/DB/").arg(account);
    backup.addFile(domain, db + QStringLiteral("WCDB_Contact.sqlite"), contacts.bytes());
    backup.addFile(domain, db + QStringLiteral("MM.sqlite"), mm.bytes());
    for (int k = 0; k < 3; ++k) {
        shards[k].friendTable = false;
        backup.addFile(domain, db + QStringLiteral("message_%1.sqlite").arg(k + 1),
                       shards[k].bytes());
    }
    QTemporaryDir dir;
    const QString backupPath = dir.filePath(QStringLiteral("backup"));
    backup.write(backupPath);
    QHash<QString, QString> dict;
    for (const auto& e : backup.entries())
        dict.insert(QStringLiteral("Applications/") + e.domain.mid(10) + QLatin1Char('/') + e.path,
                    SampleBackup::keyOf(e));
    const QString root = QStringLiteral("Applications/com.tencent.xin/Documents/%1/").arg(account);
    const QString dbPath =
        GetRealFileName(backupPath, dict.value(root + QStringLiteral("DB/MM.sqlite")));

    double bestOpen = 1e9, bestRead = 1e9, bestFirst = 1e9, bestWrite = 1e9;
    qint64 size = 0;
    int rows = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        TChatSession session(dbPath, dict, backupPath, root, dir.filePath(QStringLiteral("tmp")));
        session.InitFriends();
        bestOpen = std::min(bestOpen, msSince(timer));
        timer.restart();
        const auto conversation = session.openConversation(*session.friendInfo(kFriend));
        bestRead = std::min(bestRead, msSince(timer));
        rows = conversation->count();
        timer.restart();
        QString first;
        for (int i = std::max(0, rows - 50); i < rows; ++i)
            first += conversation->entry(i);
        bestFirst = std::min(bestFirst, msSince(timer));
        TChatSession::BuildHooks hooks;
        hooks.pumpEvents = [] { QCoreApplication::processEvents(); };
        timer.restart();
        session.writePage(*conversation, session.tempFile(), hooks);
        bestWrite = std::min(bestWrite, msSince(timer));
        size = QFileInfo(session.tempFile()).size();
    }
    std::printf("\ncurrent layout, %d messages over MM.sqlite and 3 shards (%d rows with an entry)\n",
                messages, rows);
    std::printf("  open account (5 databases, contacts)  %8.1f ms\n", bestOpen);
    std::printf("  read conversation into rows           %8.1f ms\n", bestRead);
    std::printf("  render the newest 50 entries          %8.1f ms\n", bestFirst);
    std::printf("  write wechathistory.html (all)        %8.1f ms  (%.1f MB)\n", bestWrite,
                size / 1e6);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    std::printf("%-26s %9s %10s %12s\n", "conversation", "messages", "best ms", "page MB");
    const QByteArray only = qgetenv("BENCH_CASE"); // text, images or current; all by default
    if (only.isEmpty() || only == "text")
        run({"text messages", 100000, false});
    if (only.isEmpty() || only == "images")
        run({"image messages", 1000, true});
    if (only.isEmpty() || only == "current")
        runCurrent(100000);
    return 0;
}
