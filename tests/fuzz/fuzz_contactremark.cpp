// WCDB_Contact.sqlite's dbContactRemark: protocol-buffer messages read without a schema.
#include "FuzzSupport.h"
#include "chat/FriendInfo.h"
#include "chat/ProtobufFields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)decodeContactRemark(bytes);
    const ProtobufFields fields(bytes);
    for (quint32 n : {1u, 8u, 536870911u})
        (void)fields.varint(n);
    return 0;
}
