// Messages' attributedBody: NSArchiver typedstreams.
#include "FuzzSupport.h"
#include "tables/AttributedBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    (void)attributedBodyText(QByteArrayView(data, qsizetype(size)));
    return 0;
}
