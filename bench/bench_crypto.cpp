// The cost of opening encrypted backups, beside OpenSSL's own command-line tool in the same run:
// the password key for ten million rounds (goal: at most 1.05 times `openssl kdf`), and the
// decryption of a 1 GB stored copy (goal: at most 1.2 times `openssl enc -d`), with the peak
// memory of this process (goal: under 100 MB).
// Run: build/bench/bench_crypto [MB]   (default 1024)
#include "backup/BackupCrypto.h"
#include "util/WorkFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <cstdio>

namespace {

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

double runMs(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished(-1);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (p.exitCode() != 0)
        std::printf("  (%s failed with %d)\n", qPrintable(program), p.exitCode());
    return ms;
}

// Writes size bytes of AES-256-CBC ciphertext (PKCS#7 padded) of a pattern, in blocks.
void writeCiphertext(const QString& path, qint64 size, const QByteArray& key)
{
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char iv[16] = {};
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.constData()), iv);
    QByteArray plain(4 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < plain.size(); ++i)
        plain[i] = char(i * 7 + (i >> 12));
    QByteArray cipher(plain.size() + 32, '\0');
    for (qint64 done = 0; done < size; done += plain.size()) {
        int n = 0;
        EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &n,
                          reinterpret_cast<const unsigned char*>(plain.constData()),
                          int(std::min<qint64>(plain.size(), size - done)));
        out.write(cipher.constData(), n);
    }
    int tail = 0;
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &tail);
    out.write(cipher.constData(), tail);
    EVP_CIPHER_CTX_free(ctx);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const QByteArray salt = QByteArray::fromHex("425b4bb4e200b5fd4c66979c9caca31716052063");

    std::printf("key derivation: PBKDF2-HMAC-SHA256, 10,000,000 rounds, 32 bytes\n");
    double ours = 1e300;
    double tool = 1e300;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        const auto key = pbkdf2("hashcat", salt, 10000000, "SHA256", 32);
        ours = std::min(ours, double(t.nsecsElapsed()) / 1e6);
        tool = std::min(tool, runMs(QStringLiteral("openssl"),
                                    {"kdf", "-keylen", "32", "-kdfopt", "digest:SHA256", "-kdfopt",
                                     "pass:hashcat", "-kdfopt", "hexsalt:" + salt.toHex(),
                                     "-kdfopt", "iter:10000000", "PBKDF2"}));
    }
    std::printf("  ferrowick %.0f ms, openssl kdf %.0f ms: ratio %.3f (goal at most 1.05)\n", ours,
                tool, ours / tool);

    // The copies live in the private working folder, as a session's would.
    TWorkFolder folder(QStringLiteral("bench"));
    const QString stored = folder.filePath(QStringLiteral("stored"));
    const QByteArray key(32, '\x5c');
    writeCiphertext(stored, megabytes * 1024 * 1024, key);
    std::printf("decryption of a %lld MB stored copy (AES-256-CBC), file to file\n",
                static_cast<long long>(megabytes));
    double oursDecrypt = 1e300;
    double toolDecrypt = 1e300;
    for (int run = 0; run < 3; ++run) {
        const QString a = folder.filePath(QStringLiteral("ours"));
        const QString b = folder.filePath(QStringLiteral("tool"));
        QFile::remove(a);
        QFile::remove(b);
        QElapsedTimer t;
        t.start();
        decryptFile(stored, a, TSecret(key));
        oursDecrypt = std::min(oursDecrypt, double(t.nsecsElapsed()) / 1e6);
        toolDecrypt =
            std::min(toolDecrypt, runMs(QStringLiteral("openssl"),
                                        {"enc", "-d", "-aes-256-cbc", "-nopad", "-K", key.toHex(),
                                         "-iv", QByteArray(32, '0'), "-in", stored, "-out", b}));
    }
    std::printf(
        "  ferrowick %.0f ms (%.0f MB/s), openssl enc %.0f ms: ratio %.3f (goal at most 1.2)\n",
        oursDecrypt, double(megabytes) / (oursDecrypt / 1000.0), toolDecrypt,
        oursDecrypt / toolDecrypt);
    std::printf("peak memory of this process: %.1f MB (goal under 100 MB)\n",
                double(peakKb()) / 1024);
    return 0;
}
