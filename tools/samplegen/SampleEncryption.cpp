#include "SampleEncryption.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace {

QByteArray be32(quint32 v)
{
    QByteArray out;
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return out;
}

QByteArray tlv(const char* tag, const QByteArray& value)
{
    return QByteArray(tag, 4) + be32(quint32(value.size())) + value;
}

QByteArray pbkdf2(const QByteArray& password, const QByteArray& salt, quint32 rounds,
                  const EVP_MD* md)
{
    QByteArray key(32, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.constData()),
                          int(salt.size()), int(rounds), md, 32,
                          reinterpret_cast<unsigned char*>(key.data())) != 1)
        throw std::runtime_error("PBKDF2 failed");
    return key;
}

QByteArray aesWrap(const QByteArray& kek, const QByteArray& key)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    QByteArray out(key.size() + 16, '\0');
    int n = 0;
    int tail = 0;
    const bool ok =
        EVP_EncryptInit_ex(ctx, EVP_aes_256_wrap(), nullptr,
                           reinterpret_cast<const unsigned char*>(kek.constData()), nullptr) == 1 &&
        EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                          reinterpret_cast<const unsigned char*>(key.constData()),
                          int(key.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        throw std::runtime_error("key wrap failed");
    out.resize(n + tail);
    return out;
}

} // namespace

SampleKeys::SampleKeys(const SampleEncryption& encryption, bool modern)
    : m_modern(modern), m_encryption(encryption),
      m_state(0x9E3779B97F4A7C15ull * (encryption.seed + 1))
{
    m_salt = random(20);
    m_dpsl = random(20);
    m_passwordKey = m_modern
                        ? pbkdf2(pbkdf2(encryption.password, m_dpsl, encryption.dpic, EVP_sha256()),
                                 m_salt, encryption.iter, EVP_sha1())
                        : pbkdf2(encryption.password, m_salt, encryption.iter, EVP_sha1());
    for (quint32 clas = 1; clas <= 11; ++clas)
        m_classKeys[clas] = random(32);
}

QByteArray SampleKeys::random(int n)
{
    // splitmix64: deterministic bytes for deterministic fixtures.
    QByteArray out;
    while (out.size() < n) {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (int i = 0; i < 8 && out.size() < n; ++i)
            out.append(char((z >> (8 * i)) & 0xff));
    }
    return out;
}

QByteArray SampleKeys::keybag() const
{
    QByteArray bag = tlv("VERS", be32(m_modern ? 4 : 3)) + tlv("TYPE", be32(1)) +
                     tlv("UUID", QByteArray(16, '\x11')) + tlv("HMCK", QByteArray(40, '\x22')) +
                     tlv("WRAP", be32(1)) + tlv("SALT", m_salt) +
                     tlv("ITER", be32(m_encryption.iter));
    if (m_modern)
        bag += tlv("DPWT", be32(1)) + tlv("DPIC", be32(m_encryption.dpic)) + tlv("DPSL", m_dpsl);
    for (const auto& [clas, key] : m_classKeys) {
        bag += tlv("UUID", QByteArray(15, '\x33') + char(clas)) + tlv("CLAS", be32(clas)) +
               tlv("WRAP", be32(3)) + tlv("KTYP", be32(0)) +
               tlv("WPKY", aesWrap(m_passwordKey, key));
    }
    return bag;
}

QByteArray SampleKeys::newFileKey()
{
    return random(32);
}

QByteArray SampleKeys::wrap(quint32 protectionClass, const QByteArray& key) const
{
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out.append(char((protectionClass >> (8 * i)) & 0xff));
    return out + aesWrap(m_classKeys.at(protectionClass), key);
}

QByteArray SampleKeys::encrypt(const QByteArray& plain, const QByteArray& key, bool pad)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char iv[16] = {};
    QByteArray out(plain.size() + 32, '\0');
    int n = 0;
    int tail = 0;
    const bool ok =
        EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.constData()), iv) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0) == 1 &&
        EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                          reinterpret_cast<const unsigned char*>(plain.constData()),
                          int(plain.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        throw std::runtime_error("encryption failed");
    out.resize(n + tail);
    return out;
}
