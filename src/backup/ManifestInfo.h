#pragma once

#include <QByteArray>
#include <QString>

// What Manifest.plist says about a backup's encryption, and what the catalog's first bytes say.
struct TManifestInfo
{
    bool isEncrypted = false; // IsEncrypted, or a Manifest.db that is no plain SQLite file
    QByteArray keybag;        // BackupKeyBag
    QByteArray manifestKey;   // ManifestKey: 4-byte little-endian class, then the wrapped key
    QString productVersion;   // Lockdown/ProductVersion, empty when absent
};

// Reads folder/Manifest.plist (XML or binary; absent or unreadable leaves the fields empty)
// and looks at the first bytes of folder/Manifest.db. Never throws.
TManifestInfo ReadManifestInfo(const QString& folder);

// Whether the file at path begins with "SQLite format 3\0"; false when it cannot be read.
bool isPlainSqliteFile(const QString& path);

enum class TEncryptionScheme
{
    esNone,     // a plain backup
    esPerFile,  // iOS 4 to 9: a plain Manifest.mbdb holding each file's wrapped key
    esManifest, // iOS 10.2 and later: Manifest.db itself encrypted with ManifestKey
    esIos10_0,  // iOS 10.0.x's one-off scheme, not supported
};

// The scheme of the backup in folder, from its catalog files and info. Throws nothing.
TEncryptionScheme encryptionScheme(const QString& folder, const TManifestInfo& info);
