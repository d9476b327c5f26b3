// Loads synthetic backups through the real main window (offscreen) and prints how long Next
// takes to reach the Main page: catalog reading, then tree and index, events handled per record.
#include "SampleBackup.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "backup/BackupFileManager.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <ctime>

namespace {

// CPU time of the process: the machine is shared, so wall time also measures the neighbours.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Case
{
    const char* name;
    int filler;       // realistic records over many folders
    int singleFolder; // records in one folder
    SampleBackup::Catalog catalog;
};

SampleBackup backupOf(const Case& c)
{
    SampleBackup b;
    b.writeCopies = false;
    b.catalog = c.catalog;
    b.addFiller(c.filler, 11);
    if (c.singleFolder > 0) {
        b.addDirectory(QStringLiteral("CameraRollDomain"), QStringLiteral("Media/DCIM/100APPLE"));
        for (int i = 0; i < c.singleFolder; ++i)
            b.addFile(
                QStringLiteral("CameraRollDomain"),
                QStringLiteral("Media/DCIM/100APPLE/IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0')),
                {});
    }
    return b;
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

    const Case cases[] = {
        {"50k", 50000, 0, SampleBackup::Catalog::Db},
        {"200k", 200000, 0, SampleBackup::Catalog::Db},
        {"400k", 400000, 0, SampleBackup::Catalog::Db},
        {"200k, 100k in one folder", 100000, 100000, SampleBackup::Catalog::Db},
        {"200k, Manifest.mbdb", 200000, 0, SampleBackup::Catalog::Mbdb},
    };
    std::printf("%-26s %8s %10s %10s %10s %10s %10s\n", "backup", "records", "catalog",
                "tree+index", "total", "total cpu", "us/record");
    // BENCH_ONLY=<name> runs one case; BENCH_EVENTS=every handles events at every record
    // instead of the window's default (at most every few milliseconds).
    const QByteArray only = qgetenv("BENCH_ONLY");
    const bool everyRecord = qgetenv("BENCH_EVENTS") == "every";
    std::printf("events handled %s\n",
                everyRecord ? "at every record" : "at most every 5 ms (default)");
    for (const Case& c : cases) {
        if (!only.isEmpty() && only != c.name)
            continue;
        const QString folder = data.filePath(QString::fromLatin1(c.name).replace(' ', '_'));
        backupOf(c).write(folder);

        TdmGlobal dm;
        TFormMain form(dm);
        form.show();
        form.chooseBackupFile = [&folder] {
            return QDir(folder).filePath(QStringLiteral("Info.plist"));
        };
        form.btnBrowseClick();
        app.processEvents();

        QElapsedTimer clock;
        qint64 catalogDone = -1;
        bool inTree = false;
        TFormMain::EventHook handleEvents =
            everyRecord ? TFormMain::EventHook(&TFormMain::processPendingEvents)
                        : TFormMain::defaultEventHook();
        form.setEventHook([&] {
            if (!inTree && form.FProgress > 0) {
                inTree = true;
                catalogDone = clock.nsecsElapsed();
            }
            handleEvents();
        });
        const double cpuStart = cpuSeconds();
        clock.start();
        form.actNext->trigger();
        const qint64 total = clock.nsecsElapsed();
        const double cpu = cpuSeconds() - cpuStart;
        const size_t records = form.BackupMgr() ? form.BackupMgr()->Records().size() : 0;
        if (form.tbcMain->currentWidget() != form.tabMain) {
            std::fprintf(stderr, "%s: the Main page was not reached\n", c.name);
            return 1;
        }
        std::printf("%-26s %8zu %8.0fms %8.0fms %8.0fms %8.0fms %10.2f\n", c.name, records,
                    catalogDone / 1e6, (total - catalogDone) / 1e6, total / 1e6, cpu * 1e3,
                    total / 1e3 / double(records));
        std::fflush(stdout);
    }
    return 0;
}
