// Export and CSV save against the system's own tools, on the same data in the same run:
//   many files: 20,000 stored copies of 50 kB exported into a tree, beside `cp -r` of them;
//   one big file (4 GB by default), beside `cp`;
//   CSV: a 1,000,000-row table saved by the table window's writer, beside `sqlite3 -csv`.
// Prints seconds, MB/s, the ratio, and the process's peak memory after each step.
// Run: build/bench/bench_export SCRATCH_FOLDER [big file GB] (the folder is emptied at the end)
#include "app/DmGlobal.h"
#include "app/ExportFiles.h"
#include "tables/CsvWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

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

void run(const QString& program, const QStringList& args, const QString& output = {});

// Times work, after writing back what earlier steps left dirty: neither side pays for the other.
double seconds(const std::function<void()>& work)
{
    run(QStringLiteral("sync"), {});
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

void run(const QString& program, const QStringList& args, const QString& output)
{
    QProcess process;
    if (!output.isEmpty())
        process.setStandardOutputFile(output);
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        throw std::runtime_error(qPrintable(program + QStringLiteral(" failed")));
}

void removeTree(const QString& path)
{
    QDir(path).removeRecursively();
}

void row(const char* what, double ours, double theirs, double megabytes, const char* baseline)
{
    std::printf("%-22s %8.2f s %8.0f MB/s | %-12s %8.2f s %8.0f MB/s | time ratio %.2f, "
                "throughput %.2fx | peak %.0f MB\n",
                what, ours, megabytes / ours, baseline, theirs, megabytes / theirs, ours / theirs,
                theirs / ours, peakMegabytes());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_export SCRATCH_FOLDER [big file GB]\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const int bigGb = argc > 2 ? std::atoi(argv[2]) : 4;
    QDir().mkpath(root.path());
    std::printf("best of two runs each, ours and the baseline alternating, page cache warm, "
                "dirty pages written back before each run (not timed)\n");

    // Many small files, laid out as stored copies are: <first two hex digits>/<key>.
    // BENCH_ONLY=files, big or csv runs that step alone.
    const QByteArray only = qgetenv("BENCH_ONLY");
    double ours = 1e9;
    double theirs = 1e9;
    if (only.isEmpty() || only == "files" || only == "files-once") {
    const QString store = root.filePath(QStringLiteral("store"));
    const int files = 20000;
    const QByteArray content(50 * 1000, 'x');
    std::vector<TExportFile> list;
    for (int i = 0; i < files; ++i) {
        const QString key = QStringLiteral("%1").arg(i * 2654435761u % 0xFFFFFFFFu, 40, 16,
                                                     QLatin1Char('0'));
        const QString folder = store + QLatin1Char('/') + key.left(2);
        QDir().mkpath(folder);
        QFile f(folder + QLatin1Char('/') + key);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return 1;
        list.push_back({f.fileName(),
                        QStringLiteral("Media/DCIM/%1APPLE/IMG_%2.JPG").arg(100 + i / 1000).arg(i),
                        {}});
    }
    const double smallMb = double(files) * content.size() / 1e6;
    if (only == "files-once") {
        // For counting system calls: `strace -o LOG bench_export DIR` with BENCH_ONLY=files-once;
        // the export's calls follow the access() of this marker.
        access("ferrowick-export-starts-here", F_OK);
        const QString out = root.filePath(QStringLiteral("export-ours/"));
        std::vector<TExportFile> entries = list;
        for (TExportFile& e : entries)
            e.dstFile = out + e.dstFile;
        CopyExportFiles(entries);
        access("ferrowick-export-ends-here", F_OK);
        removeTree(out);
        removeTree(store);
        return 0;
    }
    ours = theirs = 1e9;
    for (int round = 0; round < 2; ++round) {
        const QString out = root.filePath(QStringLiteral("export-ours/"));
        std::vector<TExportFile> entries = list;
        for (TExportFile& e : entries)
            e.dstFile = out + e.dstFile;
        ours = std::min(ours, seconds([&] { CopyExportFiles(entries); }));
        removeTree(out);
        const QString cpOut = root.filePath(QStringLiteral("export-cp"));
        theirs = std::min(theirs, seconds([&] {
                              run(QStringLiteral("cp"), {QStringLiteral("-r"), store, cpOut});
                          }));
        removeTree(cpOut);
    }
    row("20,000 files of 50 kB", ours, theirs, smallMb, "cp -r");
    removeTree(store);
    }

    // One big file.
    if (only.isEmpty() || only == "big") {
    const QString big = root.filePath(QStringLiteral("big.bin"));
    run(QStringLiteral("dd"), {QStringLiteral("if=/dev/urandom"), QStringLiteral("of=") + big,
                               QStringLiteral("bs=16M"), QStringLiteral("count=%1").arg(bigGb * 64),
                               QStringLiteral("status=none")});
    const double bigMb = double(QFileInfo(big).size()) / 1e6;
    ours = theirs = 1e9;
    for (int round = 0; round < 2; ++round) {
        const QString out = root.filePath(QStringLiteral("big-ours/"));
        ours = std::min(ours, seconds([&] {
                            CopyExportFiles({{big, out + QStringLiteral("big.bin"), {}}});
                        }));
        removeTree(out);
        const QString cpOut = root.filePath(QStringLiteral("big-cp.bin"));
        theirs = std::min(theirs,
                          seconds([&] { run(QStringLiteral("cp"), {big, cpOut}); }));
        QFile::remove(cpOut);
    }
    row(qPrintable(QStringLiteral("one file of %1 GB").arg(bigGb)), ours, theirs, bigMb, "cp");
    QFile::remove(big);
    }

    // CSV of a million rows.
    if (!only.isEmpty() && only != "csv")
        return 0;
    const QString db = root.filePath(QStringLiteral("table.db"));
    {
        QSqlDatabase maker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("maker"));
        maker.setDatabaseName(db);
        maker.open();
        QSqlQuery q(maker);
        q.exec(QStringLiteral("create table message (ROWID integer primary key, date integer, "
                              "handle text, text text, service text)"));
        q.exec(QStringLiteral(
            "with recursive r(n) as (select 1 union all select n + 1 from r where n < 1000000) "
            "insert into message select n, 600000000 + n * 37, '+1555' || (n % 9973), "
            "'Message ' || n || ', with \"quotes\" and a comma', 'iMessage' from r"));
        q.finish();
        maker.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("maker"));
    const QString statement = QStringLiteral("select * from message");
    const QString csv = root.filePath(QStringLiteral("ours.csv"));
    const QString csvTheirs = root.filePath(QStringLiteral("sqlite3.csv"));
    ours = theirs = 1e9;
    {
        TdmGlobal dm;
        dm.openDatabase(db);
        for (int round = 0; round < 2; ++round) {
            ours = std::min(ours, seconds([&] { saveQueryAsCsv(dm.qrySQL, statement, csv); }));
            theirs = std::min(theirs, seconds([&] {
                                  run(QStringLiteral("sqlite3"),
                                      {QStringLiteral("-csv"), QStringLiteral("-header"), db,
                                       statement},
                                      csvTheirs);
                              }));
        }
        dm.closeDatabase();
    }
    row("CSV of 1,000,000 rows", ours, theirs, double(QFileInfo(csv).size()) / 1e6, "sqlite3 -csv");
    QFile::remove(csv);
    QFile::remove(csvTheirs);
    QFile::remove(db);
    return 0;
}
