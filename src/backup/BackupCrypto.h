#pragma once
// Encrypted backups: the keybag of Manifest.plist, the password key, the class keys, per-file
// keys, and AES-256-CBC decryption of stored copies.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <vector>
class QIODevice;

// Key bytes that are wiped with OPENSSL_cleanse when they go away. Move-only (a moved-from
// TSecret is empty). Not a QByteArray: implicit sharing would leave unwiped copies.
class TSecret final
{
public:
    TSecret() = default;
    explicit TSecret(QByteArrayView bytes);
    ~TSecret();
    TSecret(TSecret&& other) noexcept;
    TSecret& operator=(TSecret&& other) noexcept;
    TSecret(const TSecret&) = delete;
    TSecret& operator=(const TSecret&) = delete;
    const unsigned char* data() const;
    qsizetype size() const;
    bool isEmpty() const;
    void wipe();

private:
    std::vector<unsigned char> m_bytes;
};

struct TKeybagTag
{
    QByteArray tag;
    QByteArray value;
}; // tag: its 4 ASCII bytes

struct TKeybagClassKey
{
    QByteArray uuid;
    quint32 clas = 0;
    quint32 wrap = 0; // bit 2 (value 2): wrapped with the password key
    quint32 ktyp = 0;
    QByteArray wpky; // 40 bytes
    QByteArray pbky;
    QList<TKeybagTag> unknown; // tags of this class key we do not use, kept in order
};

struct TKeybag
{
    quint32 version = 0, type = 0, wrap = 0, iter = 0;
    QByteArray uuid, hmck, salt;
    std::optional<quint32> dpwt, dpic;
    QByteArray dpsl;
    QList<TKeybagTag> unknown; // header tags we do not use, kept in order
    std::vector<TKeybagClassKey> classKeys;
    // iOS 10.2 and later: PBKDF2-SHA256 with DPSL/DPIC before the SHA-1 step.
    bool hasDoubleDerivation() const { return dpic.has_value() && !dpsl.isEmpty(); }
};

// Parses a backup keybag (4-byte tag, 4-byte big-endian length, value; 4-byte values are
// big-endian integers). Throws Error (util/Error.h) with a clear English message when a
// length runs past the end, the data ends inside a tag header, or SALT/ITER are missing.
TKeybag parseKeybag(QByteArrayView bytes);

// One PBKDF2-HMAC output of keyLength bytes; digest "SHA1" or "SHA256". Checks *cancel every
// few thousand rounds and returns nullopt once it is set. As fast as OpenSSL's own
// PKCS5_PBKDF2_HMAC (replicate its loop with EVP_MAC HMAC: init with the key once, then
// per round EVP_MAC_init(ctx, NULL, 0, NULL) + update + final, XOR into the output).
std::optional<TSecret> pbkdf2(QByteArrayView password, QByteArrayView salt, quint32 iterations,
                              const char* digest, int keyLength,
                              const std::atomic_bool* cancel = nullptr);

// The key that unwraps the class keys: iOS 10.2+ t = PBKDF2-SHA256(password, DPSL, DPIC, 32),
// key = PBKDF2-SHA1(t, SALT, ITER, 32); before 10.2 key = PBKDF2-SHA1(password, SALT, ITER, 32).
// nullopt when cancelled.
std::optional<TSecret> derivePasswordKey(QByteArrayView password, const TKeybag& keybag,
                                         const std::atomic_bool* cancel = nullptr);

// RFC 3394 AES-256 key unwrap (EVP_aes_256_wrap, default IV); nullopt when the integrity
// check fails or the sizes are wrong.
std::optional<TSecret> aesUnwrap(const TSecret& kek, QByteArrayView wrapped);

// The class keys of a backup, unlocked with the password key. Wiped when destroyed.
class TBackupKeys final
{
public:
    // nullopt when the password key unwraps none of the password-wrapped class keys
    // (a wrong password); class keys whose unwrap fails are left out.
    static std::optional<TBackupKeys> unlock(const TKeybag& keybag, const TSecret& passwordKey);
    bool hasClass(quint32 protectionClass) const;
    // A file key from its wrapped form: 4-byte little-endian protection class, then the
    // 40 wrapped bytes. nullopt when the class is unknown or the unwrap fails.
    std::optional<TSecret> fileKey(QByteArrayView classAndWrappedKey) const;
    std::optional<TSecret> fileKey(quint32 protectionClass, QByteArrayView wrappedKey) const;
    void wipe();
    // movable, not copyable
private:
    std::map<quint32, TSecret> m_keys;
};

struct TDecryptResult
{
    qint64 bytesWritten = 0;
    bool paddingValid = true; // false: no valid PKCS#7 padding, plaintext written whole
};

// AES-256-CBC with a zero IV from in (read from its current position to its end) to out, in
// chunks of about 1 MiB (memory flat whatever the size), PKCS#7 padding stripped (last byte
// n in 1..16, the last n bytes all n). Never cut to a recorded size. Invalid padding, or a
// ciphertext whose length is not a multiple of 16 (what decrypts of whole blocks is kept):
// the plaintext is written whole and paddingValid is false. progress, when given, is called
// after each chunk with the ciphertext bytes read so far; returning false stops (throws
// Error("cancelled")). Throws Error on a read or write failure or a key that is not 32 bytes.
TDecryptResult decryptStream(QIODevice& in, QIODevice& out, const TSecret& key,
                             const std::function<bool(qint64)>& progress = {});
// decryptStream from the file src into a new file dst created with mode 0600 (O_EXCL: fails
// if dst exists); on failure dst is removed.
TDecryptResult decryptFile(const QString& src, const QString& dst, const TSecret& key);
