// The keybag of Manifest.plist; with a parsed keybag, the class keys are unlocked with a fixed
// key (the derivation itself is left out: its rounds come from the input).
#include "FuzzSupport.h"
#include "backup/BackupCrypto.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    try {
        const TKeybag bag = parseKeybag(QByteArrayView(data, qsizetype(size)));
        const TSecret key(QByteArray(32, '\x42'));
        if (auto keys = TBackupKeys::unlock(bag, key)) {
            for (const TKeybagClassKey& k : bag.classKeys)
                (void)keys->fileKey(k.clas, k.wpky);
        }
    } catch (const Error&) {
    }
    return 0;
}
