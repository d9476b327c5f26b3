#include "chat/ChatSchemes.h"

#include "chat/FormMessages.h"

#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

namespace {

constexpr const char* kSchemes[] = {"image", "video", "audio", "save"};

// Serves nothing: the links stand for files that the chat window opens in its own views.
class ChatSchemeHandler final : public QWebEngineUrlSchemeHandler
{
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    }
};

} // namespace

void registerChatSchemes()
{
    for (const char* name : kSchemes) {
        if (QWebEngineUrlScheme::schemeByName(name).name() == name)
            continue;
        QWebEngineUrlScheme scheme(name);
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        // Not local: the page, served under its own scheme, may not go to a local one, and
        // the click would never reach the navigation handler.
        scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
        QWebEngineUrlScheme::registerScheme(scheme);
    }
    // The chat pages and what they ask for as the user scrolls: one origin each, so a page's
    // requests for other entries are its own. Not local: a local page may load nothing of its
    // own scheme.
    for (const char* name : {kMessagesScheme, kWechatScheme}) {
        if (QWebEngineUrlScheme::schemeByName(name).name() == name)
            continue;
        QWebEngineUrlScheme page(name);
        page.setSyntax(QWebEngineUrlScheme::Syntax::Host);
        page.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled);
        QWebEngineUrlScheme::registerScheme(page);
    }
}

void installChatSchemeHandler(QWebEngineProfile* profile)
{
    for (const char* name : kSchemes) {
        if (profile->urlSchemeHandler(name))
            continue;
        // The profile keeps a pointer only; parenting the handler to it ties their lifetimes.
        profile->installUrlSchemeHandler(name, new ChatSchemeHandler(profile));
    }
}
