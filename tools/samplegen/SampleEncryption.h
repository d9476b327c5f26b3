#pragma once

#include <QByteArray>

#include <map>

// What an encrypted sample backup is locked with. The rounds are the device's (ten million for
// DPIC since iOS 10.2) in the demo data and small in the tests.
struct SampleEncryption
{
    QByteArray password;
    quint32 dpic = 10000000; // iOS 10.2+ style only
    quint32 iter = 10000;
    quint32 seed = 1;
};

// The keys of one encrypted sample backup, made with OpenSSL directly (PKCS5_PBKDF2_HMAC,
// EVP_aes_256_wrap, EVP_aes_256_cbc), the way a device makes them. Deterministic per seed.
class SampleKeys final
{
public:
    // modern: iOS 10.2+ (DPIC/DPSL and a ManifestKey); else iOS 4 to 9.
    SampleKeys(const SampleEncryption& encryption, bool modern);

    // The keybag of Manifest.plist's BackupKeyBag: header, then class keys 1 to 11, each wrapped
    // with the password key.
    QByteArray keybag() const;
    // A new random file key, 32 bytes.
    QByteArray newFileKey();
    // 4-byte little-endian class and the 40-byte RFC 3394 wrap of key with that class's key.
    QByteArray wrap(quint32 protectionClass, const QByteArray& key) const;

    // AES-256-CBC with a zero IV; with pad, PKCS#7 padding, else whole blocks only.
    static QByteArray encrypt(const QByteArray& plain, const QByteArray& key, bool pad = true);

private:
    QByteArray random(int n);

    bool m_modern;
    SampleEncryption m_encryption;
    quint64 m_state;
    QByteArray m_salt;
    QByteArray m_dpsl;
    QByteArray m_passwordKey;
    std::map<quint32, QByteArray> m_classKeys;
};
