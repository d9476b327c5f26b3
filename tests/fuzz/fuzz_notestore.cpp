// Notes' bodies (ZICNOTEDATA.ZDATA): gzip, then protobuf; and the protobuf walker on raw bytes.
#include "FuzzSupport.h"
#include "tables/NoteStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    const QByteArrayView bytes(data, qsizetype(size));
    (void)noteStoreText(bytes);
    for (quint64 field = 1; field <= 5; ++field)
        (void)protobufField(bytes, field);
    return 0;
}
