#include "backup/ManifestInfo.h"

#include "backup/Plist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr qint64 kMaxManifestPlist = 64 * 1024 * 1024; // real ones are a few hundred kB
}

bool isPlainSqliteFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static const QByteArray header("SQLite format 3\0", 16);
    return file.read(16) == header;
}

TManifestInfo ReadManifestInfo(const QString& folder)
{
    TManifestInfo info;
    const QDir dir(folder);
    QFile file(dir.filePath(QStringLiteral("Manifest.plist")));
    if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxManifestPlist) {
        const PlistPointer root = plistFromMemory(file.readAll());
        if (root) {
            info.isEncrypted = plistDictBool(root.get(), "IsEncrypted").value_or(false);
            info.keybag = plistDictData(root.get(), "BackupKeyBag").value_or(QByteArray());
            info.manifestKey = plistDictData(root.get(), "ManifestKey").value_or(QByteArray());
            plist_t lockdown = plistDictItem(root.get(), "Lockdown", PLIST_DICT);
            info.productVersion = plistDictString(lockdown, "ProductVersion").value_or(QString());
        }
    }
    const QString db = dir.filePath(QStringLiteral("Manifest.db"));
    if (!QFileInfo(dir.filePath(QStringLiteral("Manifest.mbdb"))).isFile() &&
        QFileInfo(db).isFile() && !isPlainSqliteFile(db))
        info.isEncrypted = true;
    return info;
}

TEncryptionScheme encryptionScheme(const QString& folder, const TManifestInfo& info)
{
    if (!info.isEncrypted)
        return TEncryptionScheme::esNone;
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(QStringLiteral("Manifest.mbdb"))).isFile())
        return TEncryptionScheme::esPerFile;
    // iOS 10.0 kept Manifest.db plain and encrypted its file column instead.
    if (info.manifestKey.isEmpty() &&
        isPlainSqliteFile(dir.filePath(QStringLiteral("Manifest.db"))))
        return TEncryptionScheme::esIos10_0;
    return TEncryptionScheme::esManifest;
}
