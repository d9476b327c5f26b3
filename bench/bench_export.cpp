// Export and CSV save against the system's own tools, on the same data in the same run:
//   many files: 20,000 stored copies of 50 kB exported into a tree, beside `cp -r` of them;
//   one big file (4 GB by default), beside `cp`, three times each, alternating (the second
//   round with cp first);
//   an encrypted backup (iOS 9 style): 20,000 files of 50 kB and one big file (1 GB by
//   default) exported through the stored copies' decryption, beside `cp` of the same stored
//   bytes and, for the big file, `openssl enc -d -aes-256-cbc` with its key;
//   CSV: a 1,000,000-row table saved by the table window's writer, beside `sqlite3 -csv`.
// Prints seconds, MB/s, the ratio, and the process's peak memory after each step.
// Run: build/bench/bench_export SCRATCH_FOLDER [big file GB] [encrypted big file MB]
// (the folder is emptied at the end). BENCH_ONLY=files, big, encrypted, encrypted-big (its
// big file alone) or csv runs one step.
#include "SampleBackup.h"
#include "app/DmGlobal.h"
#include "app/ExportFiles.h"
#include "backup/BackupCrypto.h"
#include "backup/BackupFileManager.h"
#include "backup/ManifestInfo.h"
#include "backup/StoredCopies.h"
#include "tables/CsvWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
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

double processCpu()
{
    timespec ts = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Dirty and under-writeback page-cache megabytes (/proc/meminfo).
double dirtyMegabytes()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return -1;
    double kb = 0;
    for (const QByteArray& line : meminfo.readAll().split('\n'))
        if (line.startsWith("Dirty:") || line.startsWith("Writeback:"))
            kb += line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toDouble();
    return kb / 1024;
}

double lastCpu = 0; // this process's CPU seconds in the last timed work (user and system)

// Times work, after writing back what earlier steps left dirty: neither side pays for the other.
double seconds(const std::function<void()>& work)
{
    run(QStringLiteral("sync"), {});
    QElapsedTimer timer;
    const double cpuBefore = processCpu();
    timer.start();
    work();
    lastCpu = processCpu() - cpuBefore;
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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString secondsList(const std::vector<double>& v)
{
    QStringList parts;
    for (const double x : v)
        parts << QString::number(x, 'f', 2);
    return parts.join(QStringLiteral(", "));
}

// Three runs of each, alternating; prints every run and the medians.
void rowOfThree(const char* what, const std::vector<double>& ours,
                const std::vector<double>& theirs, double megabytes, const char* baseline)
{
    std::printf("%-22s runs: ours %s s | %s %s s\n", what, qPrintable(secondsList(ours)),
                baseline, qPrintable(secondsList(theirs)));
    row(qPrintable(QStringLiteral("%1 (median)").arg(QLatin1String(what))), median(ours),
        median(theirs), megabytes, baseline);
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(' ', 0, 2)
                                       : QStringLiteral("?");
}

// Overwrites path with size bytes of pseudo-random plaintext, AES-256-CBC encrypted with key
// and a zero IV, PKCS#7 padded: the stored copy of an encrypted backup, written in chunks.
bool writeEncrypted(const QString& path, const TSecret& key, qint64 size, quint64 seed)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char iv[16] = {};
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv);
    QByteArray plain(4 * 1024 * 1024, Qt::Uninitialized);
    QByteArray cipher(plain.size() + 32, Qt::Uninitialized);
    quint64 state = seed * 0x9E3779B97F4A7C15ull + 1;
    bool ok = true;
    for (qint64 left = size; ok && left > 0;) {
        const int n = int(std::min<qint64>(left, plain.size()));
        auto* words = reinterpret_cast<quint64*>(plain.data());
        for (int i = 0; i < (n + 7) / 8; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            words[i] = state;
        }
        int written = 0;
        ok = EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &written,
                               reinterpret_cast<const unsigned char*>(plain.constData()), n) == 1 &&
             out.write(cipher.constData(), written) == written;
        left -= n;
    }
    int tail = 0;
    ok = ok &&
         EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &tail) == 1 &&
         out.write(cipher.constData(), tail) == tail && out.flush();
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

// The export of an encrypted backup's files: 20,000 of 50 kB, then one big file.
int benchEncrypted(const QDir& root, int bigMegabytes, bool bigOnly)
{
    const QString folder = root.filePath(QStringLiteral("encrypted"));
    const QByteArray password = "bench password";
    const int files = bigOnly ? 0 : 20000;
    const qint64 smallSize = 50 * 1000;
    SampleBackup sample;
    sample.catalog = SampleBackup::Catalog::Mbdb;
    sample.encryption = SampleEncryption{password, 1, 10, 3};
    sample.deviceName = QStringLiteral("Bench");
    for (int i = 0; i < files; ++i)
        sample.addFile(QStringLiteral("CameraRollDomain"),
                       QStringLiteral("Media/DCIM/%1APPLE/IMG_%2.JPG").arg(100 + i / 1000).arg(i),
                       "x");
    sample.addFile(QStringLiteral("CameraRollDomain"), QStringLiteral("Media/DCIM/big.MOV"), "x");
    sample.write(folder);

    // Opened as the main window opens it: the password, the keys, the catalog.
    const TManifestInfo info = ReadManifestInfo(folder);
    const TKeybag keybag = parseKeybag(info.keybag);
    const std::optional<TSecret> passwordKey = derivePasswordKey(password, keybag);
    std::optional<TBackupKeys> keys = passwordKey ? TBackupKeys::unlock(keybag, *passwordKey)
                                                  : std::nullopt;
    std::optional<TBackupKeys> ownKeys =
        passwordKey ? TBackupKeys::unlock(keybag, *passwordKey) : std::nullopt;
    if (!keys || !ownKeys) {
        std::fprintf(stderr, "the sample's keys do not unlock\n");
        return 1;
    }
    TdmGlobal dm;
    TStoredCopies copies(folder);
    copies.setKeys(std::make_unique<TBackupKeys>(std::move(*keys)));
    TBackupFileManager catalog(folder, dm, {}, copies.readableCatalog(info));
    catalog.ParseDb();
    copies.setCatalog(&catalog);

    // The stored copies get their real sizes, encrypted with each file's own key.
    std::vector<TExportFile> small;
    TExportFile big;
    QString bigKeyHex;
    const auto& records = catalog.Records();
    for (size_t i = 0; i < records.size(); ++i) {
        const TBackupFileRecord r = records[i];
        QByteArray wrapped = r.EncryptionKey;
        if (wrapped.size() == 40)
            wrapped.prepend(QByteArray(1, char(r.Flag)) + QByteArray(3, '\0'));
        const std::optional<TSecret> key = ownKeys->fileKey(wrapped);
        if (!key) {
            std::fprintf(stderr, "no key for %s\n", qPrintable(r.Path));
            return 1;
        }
        const bool isBig = r.Path.endsWith(QLatin1String("big.MOV"));
        const QString stored = copies.storedPath(r.Key);
        // The big file is written after the small files' runs, so cp -r does not copy it.
        if (!isBig && !writeEncrypted(stored, *key, smallSize, i))
            return 1;
        const TExportFile entry{stored, r.Path, {}};
        if (isBig) {
            big = entry;
            bigKeyHex = QString::fromLatin1(
                QByteArray(reinterpret_cast<const char*>(key->data()), key->size()).toHex());
        } else {
            small.push_back(entry);
        }
    }
    ownKeys->wipe();
    const double smallMb = double(files) * double(smallSize) / 1e6;
    std::printf("encrypted backup written (%d files of 50 kB); load %s\n", files,
                qPrintable(loadAverage()));

    const auto exportAll = [&](const std::vector<TExportFile>& list, const QString& out) {
        std::vector<TExportFile> entries = list;
        for (TExportFile& e : entries)
            e.dstFile = out + e.dstFile;
        CopyExportFiles(entries, &copies);
    };
    const QString out = root.filePath(QStringLiteral("encrypted-ours/"));
    const QString cpOut = root.filePath(QStringLiteral("encrypted-cp"));
    std::vector<double> ours, theirs, openssl, cpu;
    // cp -r of the whole backup folder: the same stored bytes, and the small catalog files.
    for (int round = 0; round < (bigOnly ? 0 : 3); ++round) {
        ours.push_back(seconds([&] { exportAll(small, out); }));
        removeTree(out);
        theirs.push_back(seconds([&] {
            run(QStringLiteral("cp"), {QStringLiteral("-r"), folder, cpOut});
        }));
        removeTree(cpOut);
    }
    if (!bigOnly)
        rowOfThree("encrypted 20,000 files", ours, theirs, smallMb, "cp -r");
    ours.clear();
    theirs.clear();
    {
        const TSecret key(QByteArray::fromHex(bigKeyHex.toLatin1()));
        if (!writeEncrypted(big.srcFile, key, qint64(bigMegabytes) * 1024 * 1024, 7))
            return 1;
    }
    const double bigMb = double(QFileInfo(big.srcFile).size()) / 1e6;
    for (int round = 0; round < 3; ++round) {
        ours.push_back(seconds([&] { exportAll({big}, out); }));
        cpu.push_back(lastCpu);
        removeTree(out);
        theirs.push_back(seconds([&] { run(QStringLiteral("cp"), {big.srcFile, cpOut}); }));
        QFile::remove(cpOut);
        openssl.push_back(seconds([&] {
            run(QStringLiteral("openssl"),
                {QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-256-cbc"),
                 QStringLiteral("-K"), bigKeyHex, QStringLiteral("-iv"), QString(32, QLatin1Char('0')),
                 QStringLiteral("-in"), big.srcFile, QStringLiteral("-out"), cpOut});
        }));
        QFile::remove(cpOut);
    }
    bigKeyHex.fill(QLatin1Char('0'));
    const QByteArray what = "encrypted " + QByteArray::number(bigMegabytes) + " MiB";
    rowOfThree(what.constData(), ours, theirs, bigMb, "cp");
    rowOfThree(what.constData(), ours, openssl, bigMb, "openssl enc");
    std::printf("%-22s CPU of ours: %s s\n", what.constData(), qPrintable(secondsList(cpu)));
    removeTree(folder);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: bench_export SCRATCH_FOLDER [big file GB] [encrypted big file MB]\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const int bigGb = argc > 2 ? std::atoi(argv[2]) : 4;
    const int encryptedMb = argc > 3 ? std::atoi(argv[3]) : 1024;
    QDir().mkpath(root.path());
    std::printf("ours and the baseline alternating (many files: best of two; big and encrypted "
                "files: three runs each and the median), page cache warm, dirty pages written "
                "back before each run (not timed); load %s\n",
                qPrintable(loadAverage()));

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
    std::vector<double> oursRuns, cpRuns;
    // The page cache's dirty megabytes when each run ends: a run that meets the kernel's dirty
    // limit (dirty_ratio of the available memory) is made to wait for the disk.
    QStringList dirtyAtEnd;
    // Who goes first changes from round to round: a run that follows the other's pays for
    // nothing of it (sync before each), yet the disk's own state may favour a place.
    for (int round = 0; round < 3; ++round) {
        const auto ours = [&] {
            const QString out = root.filePath(QStringLiteral("big-ours/"));
            oursRuns.push_back(
                seconds([&] { CopyExportFiles({{big, out + QStringLiteral("big.bin"), {}}}); }));
            dirtyAtEnd << QStringLiteral("ours %1").arg(dirtyMegabytes(), 0, 'f', 0);
            removeTree(out);
        };
        const auto theirs = [&] {
            const QString cpOut = root.filePath(QStringLiteral("big-cp.bin"));
            cpRuns.push_back(seconds([&] { run(QStringLiteral("cp"), {big, cpOut}); }));
            dirtyAtEnd << QStringLiteral("cp %1").arg(dirtyMegabytes(), 0, 'f', 0);
            QFile::remove(cpOut);
        };
        if (round % 2 == 0) {
            ours();
            theirs();
        } else {
            theirs();
            ours();
        }
    }
    std::printf("dirty MB at the end of each run: %s\n", qPrintable(dirtyAtEnd.join(", ")));
    rowOfThree(qPrintable(QStringLiteral("one file of %1 GB").arg(bigGb)), oursRuns, cpRuns,
               bigMb, "cp");
    QFile::remove(big);
    }

    if (only.isEmpty() || only == "encrypted" || only == "encrypted-big")
        if (const int failed = benchEncrypted(root, encryptedMb, only == "encrypted-big"))
            return failed;

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
