// Manifest.db's `file` column: NSKeyedArchiver binary lists with UIDs.
#include "FuzzSupport.h"
#include "backup/MbFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    (void)parseMbFile(QByteArrayView(data, qsizetype(size)));
    return 0;
}
