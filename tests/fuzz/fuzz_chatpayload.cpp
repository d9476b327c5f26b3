// WeChat message payloads as the chat page reads them: voice lengths, shared links, calls.
#include "FuzzSupport.h"
#include "chat/ChatPage.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    const QString message = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const PayloadFailure ignore = [](const QString&) {};
    try {
        (void)voiceWidth(voiceSeconds(message));
    } catch (const Error&) {
    }
    try {
        (void)callHtml(message, ignore);
    } catch (const Error&) {
    }
    (void)sharedLinkHtml(message, ignore);
    (void)htmlEscape(message);
    return 0;
}
