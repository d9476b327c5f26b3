#pragma once

// What the web view benches share: script results and the view processes' memory.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QVariant>
#include <QWebEnginePage>

#include <algorithm>
#include <unistd.h>
#include <utility>

namespace viewbench {

inline QVariant runJs(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    QDeadlineTimer deadline(30000);
    while (!done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return result;
}

// Resident memory (VmRSS, MB) of process pid's children named QtWebEngineProcess: the largest
// one (the page's renderer) and all together.
inline std::pair<double, double> viewMemory()
{
    double largest = 0;
    double total = 0;
    const QString self = QString::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(entry));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(status.readAll());
        if (!text.contains(QLatin1String("Name:\tQtWebEngineProc")))
            continue;
        QString ppid;
        double rss = 0;
        for (const QString& line : text.split(u'\n')) {
            if (line.startsWith(QLatin1String("PPid:")))
                ppid = line.mid(5).trimmed();
            if (line.startsWith(QLatin1String("VmRSS:")))
                rss = line.mid(6).trimmed().split(u' ').first().toDouble() / 1024.0;
        }
        // The zygote's children are the renderers; count both generations.
        if (ppid != self) {
            QFile parent(QStringLiteral("/proc/%1/status").arg(ppid));
            if (!parent.open(QIODevice::ReadOnly) ||
                !parent.readAll().contains("PPid:\t" + self.toUtf8()))
                continue;
        }
        largest = std::max(largest, rss);
        total += rss;
    }
    return {largest, total};
}


} // namespace viewbench
