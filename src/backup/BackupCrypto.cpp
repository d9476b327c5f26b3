#include "backup/BackupCrypto.h"

#include "util/Error.h"

#include <QFile>
#include <QIODevice>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <memory>

// The keybag of an encrypted backup (Manifest.plist's BackupKeyBag): records of a 4-byte ASCII
// tag, a 4-byte big-endian length and the value; 4-byte values are big-endian integers. Header
// tags come first (VERS, TYPE, UUID, HMCK, WRAP, SALT, ITER, and since iOS 10.2 DPWT, DPIC,
// DPSL); every further UUID starts a class key (CLAS, WRAP, KTYP, WPKY, maybe PBKY).

TSecret::TSecret(QByteArrayView bytes)
    : m_bytes(reinterpret_cast<const unsigned char*>(bytes.data()),
              reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size())
{
}

TSecret::~TSecret()
{
    wipe();
}

TSecret::TSecret(TSecret&& other) noexcept : m_bytes(std::move(other.m_bytes))
{
    other.m_bytes.clear();
}

TSecret& TSecret::operator=(TSecret&& other) noexcept
{
    if (this != &other) {
        wipe();
        m_bytes = std::move(other.m_bytes);
        other.m_bytes.clear();
    }
    return *this;
}

const unsigned char* TSecret::data() const
{
    return m_bytes.data();
}

qsizetype TSecret::size() const
{
    return qsizetype(m_bytes.size());
}

bool TSecret::isEmpty() const
{
    return m_bytes.empty();
}

void TSecret::wipe()
{
    if (!m_bytes.empty())
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
}

namespace {

quint32 bigEndian32(QByteArrayView v)
{
    const auto* p = reinterpret_cast<const uchar*>(v.data());
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

quint32 integerValue(const QByteArray& tag, QByteArrayView value)
{
    if (value.size() != 4)
        throw Error(QStringLiteral("the backup's keybag is damaged: %1 holds %2 bytes, not 4")
                        .arg(QString::fromLatin1(tag))
                        .arg(value.size()));
    return bigEndian32(value);
}

} // namespace

TKeybag parseKeybag(QByteArrayView bytes)
{
    TKeybag bag;
    qsizetype pos = 0;
    int uuids = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 8)
            throw Error(QStringLiteral("the backup's keybag is damaged: it ends inside a record "
                                       "header at byte %1")
                            .arg(pos));
        const QByteArray tag = bytes.sliced(pos, 4).toByteArray();
        const quint32 length = bigEndian32(bytes.sliced(pos + 4, 4));
        pos += 8;
        if (quint64(length) > quint64(bytes.size() - pos))
            throw Error(QStringLiteral("the backup's keybag is damaged: the length of %1 at byte "
                                       "%2 runs past its end")
                            .arg(QString::fromLatin1(tag.toHex()))
                            .arg(pos - 8));
        const QByteArrayView value = bytes.sliced(pos, qsizetype(length));
        pos += qsizetype(length);

        if (tag == "UUID") {
            ++uuids;
            if (uuids == 1) {
                bag.uuid = value.toByteArray();
            } else {
                bag.classKeys.emplace_back();
                bag.classKeys.back().uuid = value.toByteArray();
            }
            continue;
        }
        if (uuids >= 2) {
            TKeybagClassKey& key = bag.classKeys.back();
            if (tag == "CLAS")
                key.clas = integerValue(tag, value);
            else if (tag == "WRAP")
                key.wrap = integerValue(tag, value);
            else if (tag == "KTYP")
                key.ktyp = integerValue(tag, value);
            else if (tag == "WPKY")
                key.wpky = value.toByteArray();
            else if (tag == "PBKY")
                key.pbky = value.toByteArray();
            else
                key.unknown.append({tag, value.toByteArray()});
            continue;
        }
        if (tag == "VERS")
            bag.version = integerValue(tag, value);
        else if (tag == "TYPE")
            bag.type = integerValue(tag, value);
        else if (tag == "HMCK")
            bag.hmck = value.toByteArray();
        else if (tag == "WRAP")
            bag.wrap = integerValue(tag, value);
        else if (tag == "SALT")
            bag.salt = value.toByteArray();
        else if (tag == "ITER")
            bag.iter = integerValue(tag, value);
        else if (tag == "DPWT")
            bag.dpwt = integerValue(tag, value);
        else if (tag == "DPIC")
            bag.dpic = integerValue(tag, value);
        else if (tag == "DPSL")
            bag.dpsl = value.toByteArray();
        else
            bag.unknown.append({tag, value.toByteArray()});
    }
    if (bag.salt.isEmpty() || bag.iter == 0)
        throw Error(QStringLiteral("the backup's keybag is damaged: it has no SALT or ITER"));
    return bag;
}

std::optional<TSecret> pbkdf2(QByteArrayView password, QByteArrayView salt, quint32 iterations,
                              const char* digest, int keyLength, const std::atomic_bool* cancel)
{
    const EVP_MD* md = qstrcmp(digest, "SHA256") == 0 ? EVP_sha256()
                       : qstrcmp(digest, "SHA1") == 0 ? EVP_sha1()
                                                      : nullptr;
    if (!md || keyLength <= 0 || iterations == 0)
        throw Error(QStringLiteral("unsupported key derivation"));
    const size_t mdLength = size_t(EVP_MD_get_size(md));

    // The loop of OpenSSL's own PBKDF2 (one HMAC keyed once, re-initialised without a key for
    // every round), with a look at cancel every few thousand rounds: ten million take seconds.
    using MacPointer = std::unique_ptr<EVP_MAC, decltype(&EVP_MAC_free)>;
    using MacContextPointer = std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)>;
    const MacPointer mac(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr), EVP_MAC_free);
    const MacContextPointer keyed(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr, EVP_MAC_CTX_free);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(digest), 0),
        OSSL_PARAM_construct_end()};
    // An empty password is a key of no bytes, not a missing key (which HMAC would refuse).
    static const unsigned char kNoBytes = 0;
    const auto* passwordBytes =
        password.isEmpty() ? &kNoBytes : reinterpret_cast<const unsigned char*>(password.data());
    if (!keyed || EVP_MAC_init(keyed.get(), passwordBytes, size_t(password.size()), params) != 1)
        throw Error(QStringLiteral("the key derivation could not start"));

    std::vector<unsigned char> out(size_t(keyLength), 0);
    unsigned char u[EVP_MAX_MD_SIZE];
    const auto wipe = [&u, &out] {
        OPENSSL_cleanse(u, sizeof u);
        OPENSSL_cleanse(out.data(), out.size());
    };
    for (quint32 block = 1, done = 0; done < quint32(keyLength); ++block) {
        const unsigned char counter[4] = {uchar(block >> 24), uchar(block >> 16), uchar(block >> 8),
                                          uchar(block)};
        // Each block starts from a copy of the keyed context.
        const MacContextPointer round(EVP_MAC_CTX_dup(keyed.get()), EVP_MAC_CTX_free);
        size_t n = 0;
        if (!round ||
            EVP_MAC_update(round.get(), reinterpret_cast<const uchar*>(salt.data()),
                           size_t(salt.size())) != 1 ||
            EVP_MAC_update(round.get(), counter, 4) != 1 ||
            EVP_MAC_final(round.get(), u, &n, sizeof u) != 1) {
            wipe();
            throw Error(QStringLiteral("the key derivation failed"));
        }
        const quint32 take = std::min<quint32>(quint32(mdLength), quint32(keyLength) - done);
        unsigned char* t = out.data() + done;
        std::memcpy(t, u, take);
        for (quint32 i = 1; i < iterations; ++i) {
            if ((i & 0xFFF) == 0 && cancel && cancel->load(std::memory_order_relaxed)) {
                wipe();
                return std::nullopt;
            }
            if (EVP_MAC_init(round.get(), nullptr, 0, nullptr) != 1 ||
                EVP_MAC_update(round.get(), u, mdLength) != 1 ||
                EVP_MAC_final(round.get(), u, &n, sizeof u) != 1) {
                wipe();
                throw Error(QStringLiteral("the key derivation failed"));
            }
            for (quint32 k = 0; k < take; ++k)
                t[k] ^= u[k];
        }
        done += take;
    }
    TSecret result(QByteArrayView(reinterpret_cast<const char*>(out.data()), keyLength));
    wipe();
    return result;
}

std::optional<TSecret> derivePasswordKey(QByteArrayView password, const TKeybag& keybag,
                                         const std::atomic_bool* cancel)
{
    if (keybag.hasDoubleDerivation()) {
        const std::optional<TSecret> first =
            pbkdf2(password, keybag.dpsl, *keybag.dpic, "SHA256", 32, cancel);
        if (!first)
            return std::nullopt;
        return pbkdf2(QByteArrayView(reinterpret_cast<const char*>(first->data()), first->size()),
                      keybag.salt, keybag.iter, "SHA1", 32, cancel);
    }
    return pbkdf2(password, keybag.salt, keybag.iter, "SHA1", 32, cancel);
}

std::optional<TSecret> aesUnwrap(const TSecret& kek, QByteArrayView wrapped)
{
    if (kek.size() != 32 || wrapped.size() < 24 || wrapped.size() % 8 != 0)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx)
        return std::nullopt;
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    std::vector<unsigned char> out(size_t(wrapped.size()), 0);
    int n = 0;
    int tail = 0;
    const bool ok =
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr, kek.data(), nullptr) == 1 &&
        EVP_DecryptUpdate(ctx.get(), out.data(), &n,
                          reinterpret_cast<const unsigned char*>(wrapped.data()),
                          int(wrapped.size())) == 1 &&
        n > 0 && EVP_DecryptFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    std::optional<TSecret> result;
    if (ok)
        result.emplace(QByteArrayView(reinterpret_cast<const char*>(out.data()), n + tail));
    OPENSSL_cleanse(out.data(), out.size());
    return result;
}

std::optional<TBackupKeys> TBackupKeys::unlock(const TKeybag& keybag, const TSecret& passwordKey)
{
    TBackupKeys keys;
    bool anyWrapped = false;
    for (const TKeybagClassKey& classKey : keybag.classKeys) {
        if (!(classKey.wrap & 2))
            continue;
        anyWrapped = true;
        if (std::optional<TSecret> key = aesUnwrap(passwordKey, classKey.wpky))
            keys.m_keys.insert_or_assign(classKey.clas, std::move(*key));
    }
    // A wrong password is exactly an unwrap whose integrity check fails, for every key.
    if (!anyWrapped || keys.m_keys.empty())
        return std::nullopt;
    return keys;
}

bool TBackupKeys::hasClass(quint32 protectionClass) const
{
    return m_keys.count(protectionClass) != 0;
}

std::optional<TSecret> TBackupKeys::fileKey(QByteArrayView classAndWrappedKey) const
{
    if (classAndWrappedKey.size() != 44)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(classAndWrappedKey.data());
    const quint32 clas =
        quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
    return fileKey(clas, classAndWrappedKey.sliced(4));
}

std::optional<TSecret> TBackupKeys::fileKey(quint32 protectionClass,
                                            QByteArrayView wrappedKey) const
{
    const auto it = m_keys.find(protectionClass);
    if (it == m_keys.end())
        return std::nullopt;
    return aesUnwrap(it->second, wrappedKey);
}

void TBackupKeys::wipe()
{
    for (auto& [clas, key] : m_keys)
        key.wipe();
    m_keys.clear();
}

namespace {

constexpr qint64 kChunk = 1024 * 1024;
constexpr int kBlock = 16;

// Valid PKCS#7 padding: the last byte n in 1..16 and the last n bytes all n.
int paddingLength(const unsigned char* block16)
{
    const int n = block16[kBlock - 1];
    if (n < 1 || n > kBlock)
        return -1;
    for (int i = kBlock - n; i < kBlock; ++i)
        if (block16[i] != n)
            return -1;
    return n;
}

} // namespace

TDecryptResult decryptStream(QIODevice& in, QIODevice& out, const TSecret& key,
                             const std::function<bool(qint64)>& progress)
{
    if (key.size() != 32)
        throw Error(QStringLiteral("a file key is %1 bytes long, not 32").arg(key.size()));
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    static const unsigned char zeroIv[kBlock] = {};
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), zeroIv) != 1)
        throw Error(QStringLiteral("the decryption could not start"));
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);

    TDecryptResult result;
    QByteArray cipher(kChunk + kBlock, Qt::Uninitialized);
    QByteArray plain(kChunk + 2 * kBlock, Qt::Uninitialized);
    auto* plainBytes = reinterpret_cast<unsigned char*>(plain.data());
    // The last whole block decrypted is held back until the input ends: it may be padding.
    unsigned char held[kBlock];
    bool holding = false;
    qint64 carry = 0; // ciphertext bytes short of a whole block, kept for the next read
    qint64 readSoFar = 0;
    const auto write = [&out, &result](const void* data, qint64 n) {
        if (n > 0 && out.write(static_cast<const char*>(data), n) != n)
            throw Error(QStringLiteral("cannot write a decrypted copy: %1").arg(out.errorString()));
        result.bytesWritten += n;
    };
    const auto cleanup = [&] {
        OPENSSL_cleanse(plain.data(), size_t(plain.size()));
        OPENSSL_cleanse(held, sizeof held);
    };

    try {
        for (;;) {
            const qint64 n = in.read(cipher.data() + carry, kChunk);
            if (n < 0)
                throw Error(
                    QStringLiteral("cannot read an encrypted copy: %1").arg(in.errorString()));
            if (n == 0)
                break;
            readSoFar += n;
            const qint64 available = carry + n;
            const qint64 whole = available - available % kBlock;
            int produced = 0;
            if (whole > 0 &&
                EVP_DecryptUpdate(ctx.get(), plainBytes, &produced,
                                  reinterpret_cast<const unsigned char*>(cipher.constData()),
                                  int(whole)) != 1)
                throw Error(QStringLiteral("the decryption failed"));
            carry = available - whole;
            if (carry > 0)
                std::memmove(cipher.data(), cipher.constData() + whole, size_t(carry));
            if (produced >= kBlock) {
                if (holding)
                    write(held, kBlock);
                write(plainBytes, produced - kBlock);
                std::memcpy(held, plainBytes + produced - kBlock, kBlock);
                holding = true;
            }
            if (progress && !progress(readSoFar))
                throw Error(QStringLiteral("cancelled"));
        }
        if (holding) {
            const int pad = carry == 0 ? paddingLength(held) : -1;
            if (pad > 0) {
                write(held, kBlock - pad);
            } else {
                write(held, kBlock);
                result.paddingValid = false;
            }
        } else {
            result.paddingValid = false; // no whole block at all
        }
        // A tail short of a block cannot be decrypted; the copy is damaged there.
        if (carry > 0)
            result.paddingValid = false;
    } catch (...) {
        cleanup();
        throw;
    }
    cleanup();
    return result;
}

TDecryptResult decryptFile(const QString& src, const QString& dst, const TSecret& key)
{
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot open %1: %2").arg(src, in.errorString()));
    QFile out(dst);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw Error(QStringLiteral("cannot create %1: %2").arg(dst, out.errorString()));
    try {
        TDecryptResult result = decryptStream(in, out, key);
        if (!out.flush())
            throw Error(QStringLiteral("cannot write %1: %2").arg(dst, out.errorString()));
        return result;
    } catch (...) {
        out.close();
        QFile::remove(dst);
        throw;
    }
}
