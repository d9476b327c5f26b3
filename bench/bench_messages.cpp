// Times reading a long Messages conversation into the model: opening sms.db, listing the
// conversations and reading every message of one of 100,000 (texts, a third of them only in
// attributedBody, every 50th with a picture, every 20th with a reaction). Goal: under 1.5 s.
// Run: build/bench/bench_messages [messages]
#include "MessagesDatabases.h"
#include "chat/MessagesStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sms.db"));
    {
        QElapsedTimer made;
        made.start();
        const auto sample = MessagesDatabases::longConversation(count);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(sample.db) != sample.db.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("generated sms.db of %d messages: %.1f MB in %lld ms\n", count,
                    sample.db.size() / 1e6, made.elapsed());
    }
    std::printf("%-5s %10s %10s %12s %10s %10s %12s\n", "run", "open ms", "list ms",
                "messages ms", "total ms", "messages", "att./react.");
    std::vector<double> totals;
    for (int run = 1; run <= 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        TMessagesStore store(path);
        const double opened = timer.nsecsElapsed() / 1e6;
        const auto conversations = store.conversations();
        const double listed = timer.nsecsElapsed() / 1e6;
        const auto messages = store.messages(conversations.front().id);
        const double total = timer.nsecsElapsed() / 1e6;
        size_t attachments = 0, reactions = 0;
        for (const TMessage& m : messages) {
            attachments += m.attachments.size();
            reactions += m.reactions.size();
        }
        std::printf("%-5d %10.1f %10.1f %12.1f %10.1f %10zu %5zu/%zu\n", run, opened,
                    listed - opened, total - listed, total, messages.size(), attachments,
                    reactions);
        totals.push_back(total);
    }
    std::sort(totals.begin(), totals.end());
    std::printf("model of %d messages: best %.0f ms, median %.0f ms (goal: under 1500 ms)\n",
                count, totals.front(), totals[totals.size() / 2]);
    return 0;
}
