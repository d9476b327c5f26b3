// Manifest.mbdb: records, strings, the fixed block and attribute pairs, from hostile bytes.
#include "FuzzSupport.h"
#include "app/DmGlobal.h"
#include "backup/BackupFileManager.h"
#include "util/Error.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    static QTemporaryDir dir;
    static TdmGlobal dm;
    const QString path = dir.filePath(QStringLiteral("Manifest.mbdb"));
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        out.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    try {
        TBackupFileManager mgr(dir.path(), dm, {}, path);
        mgr.ParseDb();
        for (const TBackupFileRecord& r : mgr.Records())
            (void)GetRealFileName(dir.path(), r.Key);
    } catch (const Error&) {
    }
    return 0;
}
