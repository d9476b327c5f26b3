// Loads big backup folders (made with `ferrowick-samplegen --records N --no-copies`) through the
// real main window (offscreen) and prints, per folder, the first load in a fresh process beside
// the best of three more, split into catalog and tree+index, the process's peak memory, and
// Python's sqlite3 reading the same rows of the same Manifest.db.
// Run: build/bench/bench_load FOLDER...
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "backup/BackupFileManager.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// VmHWM: the most resident memory the process has had, in MB.
double peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// One folder, in this (fresh) process: prints "first catalog tree cpu | best catalog tree cpu
// | records peakMB".
int loadOne(const QString& folder, int runs)
{
    TdmGlobal dm;
    double first[4] = {};
    double best[4] = {1e18, 0, 0, 0};
    size_t records = 0;
    for (int run = 0; run < runs; ++run) {
        TFormMain form(dm);
        form.show();
        form.chooseBackupFile = [&folder] {
            return QDir(folder).filePath(QStringLiteral("Info.plist"));
        };
        form.btnBrowseClick();
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        qint64 catalogDone = -1;
        TFormMain::EventHook handleEvents = TFormMain::defaultEventHook();
        form.setEventHook([&] {
            if (catalogDone < 0 && form.FProgress > 0)
                catalogDone = clock.nsecsElapsed();
            handleEvents();
        });
        const double cpuStart = cpuSeconds();
        clock.start();
        form.actNext->trigger();
        const double total = clock.nsecsElapsed() / 1e6;
        const double cpu = (cpuSeconds() - cpuStart) * 1e3;
        if (form.tbcMain->currentWidget() != form.tabMain) {
            std::fprintf(stderr, "%s: the Main page was not reached\n", qPrintable(folder));
            return 1;
        }
        records = form.BackupMgr()->Records().size();
        const double figures[4] = {total, catalogDone / 1e6, total - catalogDone / 1e6, cpu};
        if (run == 0)
            std::copy(figures, figures + 4, first);
        else if (total < best[0])
            std::copy(figures, figures + 4, best);
    }
    std::printf("%.0f %.0f %.0f %.0f %.0f %.0f %.0f %.0f %zu %.0f\n", first[0], first[1], first[2],
                first[3], best[0], best[1], best[2], best[3], records, peakMegabytes());
    return 0;
}

// Python's sqlite3 module reading the rows the program reads; best of three, ms and peak MB.
QString pythonBaseline(const QString& db)
{
    const QString script = QStringLiteral(R"(
import sqlite3, time, resource, sys
best = 1e18
for run in range(3):
    t = time.perf_counter()
    c = sqlite3.connect('file:' + sys.argv[1] + '?mode=ro&immutable=1', uri=True)
    rows = c.execute('select domain, relativePath, fileID from Files').fetchall()
    best = min(best, time.perf_counter() - t)
    del rows
    c.close()
print('%.0f %.0f' % (best * 1000, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024))
)");
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, db});
    if (!python.waitForFinished(-1) || python.exitCode() != 0)
        return QStringLiteral("- -");
    return QString::fromLatin1(python.readAllStandardOutput()).trimmed();
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.filePath(QStringLiteral("data")).toUtf8());
    TApplication app(argc, argv);
    setMessageSink(
        [](const QString& text, bool) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--one"))
        return loadOne(args[1], 4);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_load FOLDER...\n");
        return 2;
    }

    std::printf("Next to the Main page, events handled every 5 ms; ms wall (cpu). first = a fresh "
                "process, best = best of the next three\n");
    std::printf("%-10s %-13s %8s %22s %22s %8s %8s %16s\n", "folder", "catalog", "records",
                "first: total (cpu)", "best: total (cpu)", "catalog", "tree", "peak MB");
    double previousBest = 0;
    size_t previousRecords = 0;
    for (const QString& folder : args) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(app.applicationFilePath(), {QStringLiteral("--one"), folder});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::fprintf(stderr, "%s: the load failed\n", qPrintable(folder));
            return 1;
        }
        const QStringList f = QString::fromLatin1(child.readAllStandardOutput()).split(' ');
        const bool mbdb = QFileInfo::exists(QDir(folder).filePath(QStringLiteral("Manifest.mbdb")));
        const size_t records = f.value(8).toULongLong();
        std::printf("%-10s %-13s %8zu %12s (%6s) %14s (%6s) %8s %8s %8s", qPrintable(QFileInfo(folder).fileName()),
                    mbdb ? "Manifest.mbdb" : "Manifest.db", records, qPrintable(f.value(0)),
                    qPrintable(f.value(3)), qPrintable(f.value(4)), qPrintable(f.value(7)),
                    qPrintable(f.value(5)), qPrintable(f.value(6)), qPrintable(f.value(9).trimmed()));
        const double best = f.value(4).toDouble();
        if (previousRecords > 0 && records >= 2 * previousRecords - 2)
            std::printf("   %.2fx the previous", best / previousBest);
        std::printf("\n");
        if (!mbdb) {
            const QStringList py = pythonBaseline(QDir(folder).filePath(QStringLiteral("Manifest.db"))).split(' ');
            std::printf("%-10s %-13s %8s %12s %8s %14s %8s %8s %8s %8s\n", "", "python sqlite3", "", "",
                        "", qPrintable(py.value(0)), "", "", "", qPrintable(py.value(1)));
        }
        std::fflush(stdout);
        previousBest = best;
        previousRecords = records;
    }
    return 0;
}
