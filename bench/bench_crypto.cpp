// Times the two costly steps of opening an encrypted backup next to OpenSSL's own command-line
// tool on the same input: the iOS 10.2+ password derivation (10,000,000 rounds of
// PBKDF2-HMAC-SHA256) and the decryption of a 1 GB stored copy. Prints wall and CPU times (the
// machine is shared: CPU time is the steadier figure), the ratios, and the peak memory.
// Run: build/bench/bench_crypto [rounds] [megabytes]
#include "backup/BackupCrypto.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <sys/resource.h>

namespace {

struct Times
{
    double wall = 0; // seconds
    double cpu = 0;  // seconds, user + system
};

double cpuOf(clockid_t clock)
{
    timespec ts = {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double childrenCpu()
{
    rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs openssl with args; its standard output, or an empty array when it failed.
QByteArray runOpenssl(const QStringList& args, Times& times)
{
    QProcess process;
    const double cpuBefore = childrenCpu();
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("openssl"), args);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "openssl %s failed: %s\n", qPrintable(args.join(QLatin1Char(' '))),
                     process.readAllStandardError().constData());
        return {};
    }
    times.wall = timer.nsecsElapsed() / 1e9;
    times.cpu = childrenCpu() - cpuBefore;
    const QByteArray out = process.readAllStandardOutput();
    return out.isEmpty() ? QByteArray("ok") : out;
}

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void printRow(const char* what, const Times& ours, const Times& theirs, double goal)
{
    const double wallRatio = ours.wall / theirs.wall;
    const double cpuRatio = ours.cpu / theirs.cpu;
    std::printf("%-34s ours %7.3f s (cpu %7.3f)  openssl %7.3f s (cpu %7.3f)  ratio %.3f "
                "(cpu %.3f), goal <= %.2f\n",
                what, ours.wall, ours.cpu, theirs.wall, theirs.cpu, wallRatio, cpuRatio, goal);
}

bool benchDerivation(quint32 rounds)
{
    const QByteArray password("bench password");
    QByteArray salt(20, '\0');
    for (int i = 0; i < salt.size(); ++i)
        salt[i] = char(0x5a ^ (i * 37));

    Times ours;
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuOf(CLOCK_THREAD_CPUTIME_ID);
    const std::optional<TSecret> key = pbkdf2(password, salt, rounds, "SHA256", 32);
    ours.cpu = cpuOf(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
    ours.wall = timer.nsecsElapsed() / 1e9;

    Times theirs;
    const QByteArray printed = runOpenssl(
        {QStringLiteral("kdf"), QStringLiteral("-keylen"), QStringLiteral("32"),
         QStringLiteral("-kdfopt"), QStringLiteral("digest:SHA256"), QStringLiteral("-kdfopt"),
         QStringLiteral("pass:") + QString::fromLatin1(password), QStringLiteral("-kdfopt"),
         QStringLiteral("hexsalt:") + QString::fromLatin1(salt.toHex()), QStringLiteral("-kdfopt"),
         QStringLiteral("iter:%1").arg(rounds), QStringLiteral("PBKDF2")},
        theirs);
    if (!key || printed.isEmpty())
        return false;
    // openssl prints the key as colon-separated hex.
    const QByteArray expected = printed.trimmed().replace(':', "").toLower();
    const QByteArray got =
        QByteArray(reinterpret_cast<const char*>(key->data()), key->size()).toHex();
    if (got != expected) {
        std::fprintf(stderr, "the derived keys differ: %s vs %s\n", got.constData(),
                     expected.constData());
        return false;
    }
    const QByteArray what = "PBKDF2-SHA256, " + QByteArray::number(rounds) + " rounds";
    printRow(what.constData(), ours, theirs, 1.05);
    return true;
}

// Writes megabytes MiB of pseudo-random plaintext, AES-256-CBC encrypted with a zero IV and
// PKCS#7 padding, to path; returns the plaintext's SHA-256.
QByteArray makeStoredCopy(const QString& path, const QByteArray& key, int megabytes)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char iv[16] = {};
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.constData()), iv);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray plain(1024 * 1024, Qt::Uninitialized);
    QByteArray cipher(plain.size() + 32, Qt::Uninitialized);
    quint64 state = 0x243F6A8885A308D3ull;
    bool ok = true;
    // A size that is no multiple of the block, so that the padding is more than a whole block.
    for (int chunk = 0; ok && chunk < megabytes; ++chunk) {
        const int size = chunk + 1 == megabytes ? plain.size() - 7 : plain.size();
        auto* words = reinterpret_cast<quint64*>(plain.data());
        for (int i = 0; i < plain.size() / 8; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            words[i] = state;
        }
        hash.addData(QByteArrayView(plain.constData(), size));
        int n = 0;
        ok = EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &n,
                               reinterpret_cast<const unsigned char*>(plain.constData()),
                               size) == 1 &&
             out.write(cipher.constData(), n) == n;
    }
    int tail = 0;
    ok = ok &&
         EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &tail) == 1 &&
         out.write(cipher.constData(), tail) == tail && out.flush();
    EVP_CIPHER_CTX_free(ctx);
    return ok ? hash.result() : QByteArray();
}

QByteArray sha256Of(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

bool benchDecryption(int megabytes)
{
    // QTemporaryDir makes its folder with mode 0700 and removes it with everything in it.
    QTemporaryDir dir;
    if (!dir.isValid())
        return false;
    QByteArray keyBytes(32, '\0');
    for (int i = 0; i < keyBytes.size(); ++i)
        keyBytes[i] = char(i * 7 + 3);
    const QString stored = dir.filePath(QStringLiteral("stored"));
    const QByteArray plainHash = makeStoredCopy(stored, keyBytes, megabytes);
    if (plainHash.isEmpty()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(stored));
        return false;
    }
    const TSecret key(keyBytes);
    const QString ours = dir.filePath(QStringLiteral("ours"));
    const QString theirs = dir.filePath(QStringLiteral("theirs"));

    // Both read the copy from the page cache; each writes a new file of the same size. The
    // best of three runs of each, alternated, evens out the other engineers' load.
    Times best{1e18, 1e18};
    Times bestOpenssl{1e18, 1e18};
    for (int run = 0; run < 3; ++run) {
        QFile::remove(theirs);
        Times t;
        if (runOpenssl({QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-256-cbc"),
                        QStringLiteral("-nopad"), QStringLiteral("-K"),
                        QString::fromLatin1(keyBytes.toHex()), QStringLiteral("-iv"),
                        QString(32, QLatin1Char('0')), QStringLiteral("-in"), stored,
                        QStringLiteral("-out"), theirs},
                       t)
                .isEmpty())
            return false;
        bestOpenssl.wall = std::min(bestOpenssl.wall, t.wall);
        bestOpenssl.cpu = std::min(bestOpenssl.cpu, t.cpu);

        QFile::remove(ours);
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = cpuOf(CLOCK_PROCESS_CPUTIME_ID);
        const TDecryptResult result = decryptFile(stored, ours, key);
        best.cpu = std::min(best.cpu, cpuOf(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore);
        best.wall = std::min(best.wall, timer.nsecsElapsed() / 1e9);
        if (!result.paddingValid) {
            std::fprintf(stderr, "the padding of the stored copy was not recognised\n");
            return false;
        }
    }
    if (sha256Of(ours) != plainHash) {
        std::fprintf(stderr, "the decrypted copy differs from the plaintext\n");
        return false;
    }
    const QByteArray what = "AES-256-CBC, " + QByteArray::number(megabytes) + " MiB to a file";
    printRow(what.constData(), best, bestOpenssl, 1.2);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const quint32 rounds = args.size() > 1 ? args[1].toUInt() : 10000000u;
    const int megabytes = args.size() > 2 ? args[2].toInt() : 1024;
    if (rounds == 0 || megabytes <= 0) {
        std::fprintf(stderr, "usage: bench_crypto [rounds] [megabytes]\n");
        return 2;
    }
    if (!benchDerivation(rounds) || !benchDecryption(megabytes))
        return 1;
    const long peak = peakKilobytes();
    std::printf("peak memory (VmHWM) %.1f MB, goal < 100 MB\n", peak / 1024.0);
    return 0;
}
