// A voice memo's title tag: the atoms of an MPEG-4 file.
#include "FuzzSupport.h"
#include "media/VoiceMemos.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    (void)mp4TitleTag(buffer);
    return 0;
}
