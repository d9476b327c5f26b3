#include "backup/BackupCrypto.h"
#include "backup/MbFile.h"
#include "util/Error.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/evp.h>
#include <plist/plist.h>

#include <cstdlib>

#include <sys/stat.h>
#include <thread>

namespace {

const QString kRealData = QStringLiteral(FERROWICK_SOURCE_DIR "/../shared/real-data/keybags");
const QString kRealBackup = QStringLiteral(FERROWICK_REAL_BACKUPS "/ios14-manifest-db");

TSecret secretFromHex(const char* hex)
{
    return TSecret(QByteArray::fromHex(hex));
}

QByteArray bytesOf(const TSecret& s)
{
    return QByteArray(reinterpret_cast<const char*>(s.data()), s.size());
}

QByteArray record(const char* tag, const QByteArray& value)
{
    QByteArray out(tag, 4);
    const quint32 n = quint32(value.size());
    out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return out + value;
}

QByteArray be32(quint32 v)
{
    QByteArray out;
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return out;
}

// AES-256-CBC with a zero IV and PKCS#7 padding, by OpenSSL's EVP in one call: an independent
// way of making what the backup stores.
QByteArray encrypt(const QByteArray& plain, const QByteArray& key, bool pad = true)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char iv[16] = {};
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.constData()), iv);
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    QByteArray out(plain.size() + 32, '\0');
    int n = 0;
    int tail = 0;
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                      reinterpret_cast<const unsigned char*>(plain.constData()), int(plain.size()));
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n + tail);
    return out;
}

// A binary property list put together byte by byte (one-byte references and offsets), for
// damage that libplist's writer cannot make.
QByteArray binaryList(const QList<QByteArray>& objects, int top = 0)
{
    QByteArray out("bplist00");
    QByteArray offsets;
    for (const QByteArray& object : objects) {
        offsets.append(char(out.size()));
        out += object;
    }
    const int table = int(out.size());
    out += offsets;
    auto be64 = [](quint64 v) {
        QByteArray b;
        for (int shift = 56; shift >= 0; shift -= 8)
            b.append(char((v >> shift) & 0xff));
        return b;
    };
    return out + QByteArray(6, '\0') + '\x01' + '\x01' + be64(quint64(objects.size())) +
           be64(quint64(top)) + be64(quint64(table));
}

QByteArray ascii(const char* text)
{
    return char(0x50 | int(qstrlen(text))) + QByteArray(text);
}

} // namespace

class TestBackupCrypto : public QObject
{
    Q_OBJECT
private slots:
    void zeroKeybagKnownAnswers();
    void passwordVectors_data();
    void passwordVectors();
    void pbkdf2MatchesOpenSsl_data();
    void pbkdf2MatchesOpenSsl();
    void malformedKeybags_data();
    void malformedKeybags();
    void unknownTagsKept();
    void cancelStopsTheDerivation();
    void decryptStream_data();
    void decryptStream();
    void decryptFileIsPrivateAndNew();
    void mbFileFromTheRealBackup();
    void hostileMbFiles_data();
    void hostileMbFiles();
    void damagedBinaryLists_data();
    void damagedBinaryLists();
};

void TestBackupCrypto::zeroKeybagKnownAnswers()
{
    QFile file(kRealData + "/keybag-zeros.bin");
    if (!file.open(QIODevice::ReadOnly))
        QSKIP("the real keybags are not beside the clone");
    const TKeybag bag = parseKeybag(file.readAll());
    QCOMPARE(bag.type, 1u);
    QCOMPARE(bag.iter, 10000u);
    QCOMPARE(bag.salt, QByteArray(20, '\0'));
    QVERIFY(bag.hasDoubleDerivation());
    QCOMPARE(*bag.dpic, 10000000u);
    QCOMPARE(bag.dpsl, QByteArray(20, '\0'));
    QVERIFY(bag.classKeys.size() >= 4);

    const std::optional<TSecret> key = derivePasswordKey("0000", bag);
    QVERIFY(key);
    const std::optional<TBackupKeys> keys = TBackupKeys::unlock(bag, *key);
    QVERIFY(keys);
    for (const TKeybagClassKey& k : bag.classKeys)
        if (k.wrap & 2)
            QVERIFY2(keys->hasClass(k.clas), qPrintable(QString::number(k.clas)));

    const std::optional<TSecret> fileKey =
        keys->fileKey(QByteArray::fromHex("0200000097317494343807e690fd1e431413963dc0e3deb4907fb89f"
                                          "a36ce65126d0ea1301381fb3a2941e2f"));
    QVERIFY(fileKey);
    QBuffer in;
    in.setData(QByteArray::fromHex("78b51ca5374c3ad575174288688cda49"));
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const TDecryptResult result = ::decryptStream(in, out, *fileKey);
    QVERIFY(result.paddingValid);
    QCOMPARE(out.data(), QByteArray("Test data"));
}

void TestBackupCrypto::passwordVectors_data()
{
    QTest::addColumn<QByteArray>("wpky");
    QTest::addColumn<quint32>("iter");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<quint32>("dpic");
    QTest::addColumn<QByteArray>("dpsl");
    QTest::newRow("v9-a") << QByteArray::fromHex("b8e3f3a970239b22ac199b622293fe4237b9d16e74bad2c3c"
                                                 "3568cd1bd3c471615a6c4f867265642")
                          << 10000u
                          << QByteArray::fromHex("4542263740587424862267232255853830404566") << 0u
                          << QByteArray();
    QTest::newRow("v9-b") << QByteArray::fromHex("ebd7f9b33293b2511f0a4139d5b213feff51476968863cef6"
                                                 "0ec38d720497b6ff39a0bb63fa9f84e")
                          << 10000u
                          << QByteArray::fromHex("2202015774208421818002001652122401871832") << 0u
                          << QByteArray();
    QTest::newRow("v10-a") << QByteArray::fromHex("17a3b858e79bc273be43a9f113b71efe7ec8e7e401396b35"
                                                  "0180b4592ef45db67ffef7b2d64329a5")
                           << 10000u
                           << QByteArray::fromHex("2721336781705041205314422175267631184867")
                           << 1000u
                           << QByteArray::fromHex("99fafc983e732998adb9fadc162a2e382143f115");
    QTest::newRow("v10-b") << QByteArray::fromHex("8b715f516ff8e64442c478c2d9abb046fc6979ab079007d3"
                                                  "dbcef3ddd84217f4c3db01362d88fa68")
                           << 10000u
                           << QByteArray::fromHex("2353363784073608264337337723324886300850")
                           << 10000000u
                           << QByteArray::fromHex("425b4bb4e200b5fd4c66979c9caca31716052063");
}

// The password is right exactly when the unwrap of WPKY with the derived key passes its check.
void TestBackupCrypto::passwordVectors()
{
    QFETCH(QByteArray, wpky);
    QFETCH(quint32, iter);
    QFETCH(QByteArray, salt);
    QFETCH(quint32, dpic);
    QFETCH(QByteArray, dpsl);
    QByteArray bag = record("VERS", be32(4)) + record("TYPE", be32(1)) +
                     record("UUID", QByteArray(16, 'u')) + record("SALT", salt) +
                     record("ITER", be32(iter));
    if (dpic)
        bag += record("DPWT", be32(1)) + record("DPIC", be32(dpic)) + record("DPSL", dpsl);
    bag += record("UUID", QByteArray(16, 'c')) + record("CLAS", be32(3)) + record("WRAP", be32(3)) +
           record("KTYP", be32(0)) + record("WPKY", wpky);
    const TKeybag keybag = parseKeybag(bag);
    QCOMPARE(keybag.hasDoubleDerivation(), dpic != 0);
    const auto right = derivePasswordKey("hashcat", keybag);
    QVERIFY(right);
    QVERIFY(aesUnwrap(*right, wpky));
    const auto keys = TBackupKeys::unlock(keybag, *right);
    QVERIFY(keys);
    QVERIFY(keys->hasClass(3));
    const auto wrong = derivePasswordKey("hashcats", keybag);
    QVERIFY(wrong);
    QVERIFY(!aesUnwrap(*wrong, wpky));
    QVERIFY(!TBackupKeys::unlock(keybag, *wrong));
}

void TestBackupCrypto::pbkdf2MatchesOpenSsl_data()
{
    QTest::addColumn<QByteArray>("digest");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<quint32>("rounds");
    QTest::addColumn<int>("length");
    QTest::newRow("sha1, one round")
        << QByteArray("SHA1") << QByteArray("pw") << QByteArray("s") << 1u << 32;
    QTest::newRow("sha1, 4097 rounds, 20 bytes")
        << QByteArray("SHA1") << QByteArray("password") << QByteArray(20, '\x07') << 4097u << 20;
    QTest::newRow("sha256, 10000 rounds, 64 bytes")
        << QByteArray("SHA256") << QByteArray("p\0w", 3) << QByteArray("salt") << 10000u << 64;
    QTest::newRow("sha1, empty password and salt")
        << QByteArray("SHA1") << QByteArray() << QByteArray() << 100u << 32;
    QTest::newRow("sha256, empty password, 3 blocks")
        << QByteArray("SHA256") << QByteArray("") << QByteArray(20, '\0') << 2u << 80;
}

void TestBackupCrypto::pbkdf2MatchesOpenSsl()
{
    QFETCH(QByteArray, digest);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, salt);
    QFETCH(quint32, rounds);
    QFETCH(int, length);
    QByteArray expected(length, '\0');
    QCOMPARE(PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                               reinterpret_cast<const unsigned char*>(salt.constData()),
                               int(salt.size()), int(rounds),
                               digest == "SHA1" ? EVP_sha1() : EVP_sha256(), length,
                               reinterpret_cast<unsigned char*>(expected.data())),
             1);
    const auto ours = pbkdf2(password, salt, rounds, digest.constData(), length);
    QVERIFY(ours);
    QCOMPARE(bytesOf(*ours).toHex(), expected.toHex());
}

void TestBackupCrypto::malformedKeybags_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray good =
        record("VERS", be32(3)) + record("SALT", QByteArray(20, 's')) + record("ITER", be32(10));
    QTest::newRow("empty") << QByteArray() << "no SALT or ITER";
    QTest::newRow("cut inside a header")
        << good + QByteArray("UUI") << "ends inside a record header";
    QTest::newRow("length past the end")
        << good + QByteArray("WPKY\x00\x00\x01\x00xx", 10) << "runs past its end";
    QTest::newRow("huge length") << good + QByteArray("WPKY\xff\xff\xff\xff", 8)
                                 << "runs past its end";
    QTest::newRow("truncated value") << good.left(good.size() - 2) << "runs past its end";
    QTest::newRow("integer of 3 bytes") << good + record("DPIC", "abc") << "holds 3 bytes, not 4";
    QTest::newRow("no salt") << record("ITER", be32(10)) << "no SALT or ITER";
}

void TestBackupCrypto::malformedKeybags()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    try {
        parseKeybag(bytes);
        QFAIL("no error");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
        QVERIFY(e.message().startsWith("the backup's keybag is damaged"));
    }
}

void TestBackupCrypto::unknownTagsKept()
{
    const TKeybag bag = parseKeybag(
        record("VERS", be32(3)) + record("XTRA", "header") + record("SALT", QByteArray(20, 's')) +
        record("ITER", be32(10)) + record("UUID", "a") + record("UUID", "b") +
        record("CLAS", be32(2)) + record("NEWT", "class") + record("WPKY", QByteArray(40, 'w')));
    QCOMPARE(bag.unknown.size(), 1);
    QCOMPARE(bag.unknown[0].tag, QByteArray("XTRA"));
    QCOMPARE(bag.unknown[0].value, QByteArray("header"));
    QCOMPARE(bag.classKeys.size(), size_t(1));
    QCOMPARE(bag.classKeys[0].clas, 2u);
    QCOMPARE(bag.classKeys[0].unknown.size(), 1);
    QCOMPARE(bag.classKeys[0].unknown[0].tag, QByteArray("NEWT"));
}

void TestBackupCrypto::cancelStopsTheDerivation()
{
    std::atomic_bool cancel{false};
    std::optional<TSecret> result = TSecret(QByteArray("not yet"));
    QElapsedTimer sinceCancel;
    qint64 stoppedAfter = -1;
    std::thread worker([&] {
        result = pbkdf2("pw", "salt", 100000000, "SHA256", 32, &cancel);
        stoppedAfter = sinceCancel.elapsed();
    });
    QTest::qWait(200);
    sinceCancel.start();
    cancel = true;
    worker.join();
    QVERIFY(!result);
    QVERIFY2(stoppedAfter >= 0 && stoppedAfter < 100, qPrintable(QString::number(stoppedAfter)));
}

void TestBackupCrypto::decryptStream_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("stored"); // what the backup holds
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("paddingValid");
    const QByteArray key(32, 'k');
    QByteArray big(3 * 1024 * 1024 + 5, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 131) ^ (i >> 9));
    for (int n : {0, 1, 15, 16, 17}) {
        const QByteArray plain(n, 'p');
        QTest::addRow("%d bytes", n) << plain << encrypt(plain, key) << plain << true;
    }
    QTest::newRow("3 MiB, several chunks") << big << encrypt(big, key) << big << true;
    // A last block that is no padding: the plaintext is kept whole, and flagged.
    const QByteArray noPadding = QByteArray(40, 'x') + QByteArray(8, '\0');
    QTest::newRow("invalid padding")
        << noPadding << encrypt(noPadding, key, false) << noPadding << false;
    const QByteArray sixteens =
        QByteArray(16, 'a') + QByteArray(15, '\x10') + QByteArray(1, '\x11');
    QTest::newRow("padding byte above 16")
        << sixteens << encrypt(sixteens, key, false) << sixteens << false;
    const QByteArray whole = QByteArray(48, 'w');
    QTest::newRow("cut short of a block")
        << whole << encrypt(whole, key, false) + QByteArray(5, 'z') << whole << false;
    QTest::newRow("nothing") << QByteArray() << QByteArray() << QByteArray() << false;
}

void TestBackupCrypto::decryptStream()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, expected);
    QFETCH(bool, paddingValid);
    QBuffer in(&stored);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    qint64 lastProgress = 0;
    const TDecryptResult result =
        ::decryptStream(in, out, TSecret(QByteArray(32, 'k')), [&](qint64 done) {
            lastProgress = done;
            return true;
        });
    QCOMPARE(out.data().size(), expected.size());
    QVERIFY(out.data() == expected);
    QCOMPARE(result.bytesWritten, expected.size());
    QCOMPARE(result.paddingValid, paddingValid);
    QCOMPARE(lastProgress, stored.size());
    // A key of another size is refused before anything is written.
    QBuffer again(&stored);
    again.open(QIODevice::ReadOnly);
    QBuffer none;
    none.open(QIODevice::WriteOnly);
    QVERIFY_THROWS_EXCEPTION(Error, ::decryptStream(again, none, TSecret(QByteArray(16, 'k'))));
    QVERIFY(none.data().isEmpty());
}

void TestBackupCrypto::decryptFileIsPrivateAndNew()
{
    QTemporaryDir dir;
    const QByteArray key(32, 'q');
    QFile src(dir.filePath("stored"));
    QVERIFY(src.open(QIODevice::WriteOnly));
    src.write(encrypt("private words", key));
    src.close();
    const QString dst = dir.filePath("plain");
    QVERIFY(decryptFile(src.fileName(), dst, TSecret(key)).paddingValid);
    QFile plain(dst);
    QVERIFY(plain.open(QIODevice::ReadOnly));
    QCOMPARE(plain.readAll(), QByteArray("private words"));
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(dst).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0600);
    QVERIFY_THROWS_EXCEPTION(Error, decryptFile(src.fileName(), dst, TSecret(key)));
    QVERIFY_THROWS_EXCEPTION(Error,
                             decryptFile(dir.filePath("absent"), dir.filePath("x"), TSecret(key)));
    QVERIFY(!QFile::exists(dir.filePath("x")));
}

void TestBackupCrypto::mbFileFromTheRealBackup()
{
    if (!QFile::exists(kRealBackup + "/Manifest.db"))
        QSKIP("the real backup is not beside the clone");
    int files = 0;
    int withDates = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "real");
        db.setConnectOptions("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY");
        db.setDatabaseName("file:" + kRealBackup + "/Manifest.db?mode=ro&immutable=1");
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("select flags, file, relativePath from Files"));
        const qint64 y2010 = 1262304000;
        const qint64 y2022 = 1640995200;
        while (q.next()) {
            const auto file = parseMbFile(q.value(1).toByteArray());
            QVERIFY2(file, qPrintable(q.value(2).toString()));
            if (q.value(0).toInt() != 1)
                continue;
            ++files;
            QVERIFY(file->size >= 0);
            QCOMPARE(file->mode & 0170000, 0100000u); // a regular file
            QVERIFY(file->protectionClass && *file->protectionClass <= 11);
            // The publishers decrypted this backup; its catalog kept each file's wrapped key,
            // four bytes of class (little-endian) and the 40 wrapped bytes.
            QCOMPARE(file->encryptionKey.size(), 44);
            QCOMPARE(quint32(uchar(file->encryptionKey[0])), *file->protectionClass);
            QCOMPARE(file->encryptionKey.mid(1, 3), QByteArray(3, '\0'));
            if (file->lastModified) {
                ++withDates;
                QVERIFY2(*file->lastModified > y2010 && *file->lastModified < y2022,
                         qPrintable(QString::number(*file->lastModified)));
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("real");
    QVERIFY(files > 1000);
    QCOMPARE(withDates, files);
}

void TestBackupCrypto::hostileMbFiles_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<bool>("parses");
    // An archive as NSKeyedArchiver writes it, in binary form (UIDs exist only there).
    auto archive = [](plist_t objects, uint64_t root) {
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "root", plist_new_uid(root));
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "$objects", objects);
        plist_dict_set_item(dict, "$top", top);
        char* bin = nullptr;
        uint32_t length = 0;
        plist_to_bin(dict, &bin, &length);
        QByteArray bytes(bin, int(length));
        free(bin);
        plist_free(dict);
        return bytes;
    };
    auto objects = [](std::initializer_list<plist_t> items) {
        plist_t array = plist_new_array();
        plist_array_append_item(array, plist_new_string("$null"));
        for (plist_t item : items)
            plist_array_append_item(array, item);
        return array;
    };
    auto dict = [](std::initializer_list<std::pair<const char*, plist_t>> items) {
        plist_t d = plist_new_dict();
        for (const auto& [key, value] : items)
            plist_dict_set_item(d, key, value);
        return d;
    };
    QTest::newRow("not a list") << QByteArray("bplist00 garbage") << false;
    QTest::newRow("no objects") << QByteArray("<plist><dict/></plist>") << false;
    QTest::newRow("root out of range") << archive(objects({}), 99) << false;
    QTest::newRow("root a string") << archive(objects({plist_new_string("x")}), 1) << false;
    QTest::newRow("root a cycle of UIDs")
        << archive(objects({plist_new_uid(2), plist_new_uid(1)}), 1) << false;
    QTest::newRow("wrong types") << archive(objects({dict(
                                                {{"Size", plist_new_string("big")},
                                                 {"EncryptionKey", plist_new_uint(5)},
                                                 {"LastModified", plist_new_data("AAAA", 4)}})}),
                                            1)
                                 << true;
    QTest::newRow("key UID out of range")
        << archive(objects({dict({{"EncryptionKey", plist_new_uid(7)}})}), 1) << true;
    QTest::newRow("key cycle")
        << archive(objects({dict({{"EncryptionKey", plist_new_uid(2)}}), plist_new_uid(2)}), 1)
        << true;
}

void TestBackupCrypto::hostileMbFiles()
{
    QFETCH(QByteArray, blob);
    QFETCH(bool, parses);
    const auto file = parseMbFile(blob);
    QCOMPARE(bool(file), parses);
    if (file) {
        QCOMPARE(file->size, -1);
        QVERIFY(file->encryptionKey.isEmpty());
        QVERIFY(!file->lastModified);
    }
}

void TestBackupCrypto::damagedBinaryLists_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<bool>("parses");
    QTest::addColumn<qint64>("size");
    // Objects 0 to 6: {$objects: 2, $top: 3}, "$objects", $objects, {root: 6}, "$top", "root",
    // UID 1; the MBFile {Size: 9} is object 7 and "Size" object 8.
    const QByteArray head = QByteArray("\xD2\x01\x04\x02\x03", 5);
    auto archive = [&](const QByteArray& objects, const QList<QByteArray>& rest) {
        return binaryList(QList<QByteArray>{head, ascii("$objects"), objects,
                                            QByteArray("\xD1\x05\x06", 3), ascii("$top"),
                                            ascii("root"), QByteArray("\x80\x01", 2)} +
                          rest);
    };
    const QList<QByteArray> mbFile = {QByteArray("\xD1\x08\x09", 3), ascii("Size"),
                                      QByteArray("\x10\x2a", 2)};
    const QByteArray good = archive(QByteArray("\xA2\x05\x07", 3), mbFile);
    QTest::newRow("whole") << good << true << qint64(42);
    QTest::newRow("cut in the offsets") << good.left(good.size() - 34) << false << qint64(-1);
    QTest::newRow("cut in half") << good.left(good.size() / 2) << false << qint64(-1);
    QTest::newRow("objects in themselves")
        << archive(QByteArray("\xA2\x05\x02", 3), mbFile) << false << qint64(-1);
    QTest::newRow("MBFile in itself")
        << archive(QByteArray("\xA2\x05\x07", 3), {QByteArray("\xD1\x08\x07", 3), ascii("Size")})
        << false << qint64(-1);
    QTest::newRow("reference past the objects")
        << archive(QByteArray("\xA2\x05\x29", 3), mbFile) << false << qint64(-1);
    QByteArray offsetPastEnd = good;
    offsetPastEnd[offsetPastEnd.size() - 32 - 3] = char(0xF0); // the MBFile's offset
    QTest::newRow("offset past the end") << offsetPastEnd << false << qint64(-1);
    // A size of 2^64 - 1 reads as a negative number: no size rather than a nonsense one.
    QTest::newRow("negative size")
        << archive(QByteArray("\xA2\x05\x07", 3),
                   {QByteArray("\xD1\x08\x09", 3), ascii("Size"),
                    QByteArray("\x13\xff\xff\xff\xff\xff\xff\xff\xff", 9)})
        << true << qint64(-1);
}

void TestBackupCrypto::damagedBinaryLists()
{
    QFETCH(QByteArray, blob);
    QFETCH(bool, parses);
    QFETCH(qint64, size);
    const auto file = parseMbFile(blob);
    QCOMPARE(bool(file), parses);
    if (file)
        QCOMPARE(file->size, size);
}

QTEST_GUILESS_MAIN(TestBackupCrypto)
#include "tst_backupcrypto.moc"
