// Property lists as Info.plist and Manifest.plist are read: every value the readers take.
#include "FuzzSupport.h"
#include "backup/BackupInfo.h"
#include "backup/Plist.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const PlistPointer root = plistFromMemory(bytes);
    if (!root)
        return 0;
    (void)plistDictString(root.get(), "Display Name");
    if (const auto seconds = plistDictDate(root.get(), "Last Backup Date"))
        (void)FormatBackupDate(QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC));
    (void)plistDictBool(root.get(), "IsEncrypted");
    (void)plistDictData(root.get(), "BackupKeyBag");
    (void)plistDictData(root.get(), "ManifestKey");
    (void)plistDictUInt(root.get(), "Version");
    (void)plistDictString(plistDictItem(root.get(), "Lockdown", PLIST_DICT), "ProductVersion");
    return 0;
}
