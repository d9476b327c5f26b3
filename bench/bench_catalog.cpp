// Times catalog reading (ParseDb) on generated catalogs of 50k, 200k and 400k records in both
// formats, with the per-record event hook pumping the real event loop, as the main window does.
// Run: QT_QPA_PLATFORM=offscreen build/bench/bench_catalog
#include "app/DmGlobal.h"
#include "backup/BackupFileManager.h"
#include "SampleBackup.h"
#include "util/EventPump.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    TdmGlobal dm;
    QTimer progressTimer; // the main window polls progress once a second while loading
    progressTimer.start(1000);
    QTemporaryDir root;
    const QByteArray mode = qgetenv("BENCH_HOOK");
    // paced (default): what the main window does; perrecord: processEvents for every record.
    TBackupFileManager::EventHook hook = EventPump();
    if (mode == "none")
        hook = {};
    else if (mode == "perrecord")
        hook = [] { QCoreApplication::processEvents(); };
    std::printf("event handling: %s\n", mode.isEmpty() ? "paced" : mode.constData());

    std::printf("%-14s %9s %10s %14s\n", "catalog", "records", "best ms", "records/s");
    for (auto catalog : {SampleBackup::Catalog::Mbdb, SampleBackup::Catalog::Db}) {
        double ms200k = 0;
        for (int count : {50000, 200000, 400000}) {
            SampleBackup backup;
            backup.catalog = catalog;
            backup.writeCopies = false;
            backup.addFiller(count, 42);
            const QString folder = root.filePath(QStringLiteral("b%1-%2").arg(int(catalog)).arg(count));
            backup.write(folder);

            double best = 1e18;
            size_t records = 0;
            for (int run = 0; run < 3; ++run) {
                TBackupFileManager mgr(folder, dm, hook);
                QElapsedTimer timer;
                timer.start();
                mgr.ParseDb();
                best = std::min(best, timer.nsecsElapsed() / 1e6);
                records = mgr.Records().size();
            }
            if (count == 200000)
                ms200k = best;
            std::printf("%-14s %9zu %10.1f %14.0f", catalog == SampleBackup::Catalog::Mbdb ? "Manifest.mbdb" : "Manifest.db",
                        records, best, records / (best / 1000.0));
            if (count == 400000)
                std::printf("   (400k/200k time: %.2f)", best / ms200k);
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
