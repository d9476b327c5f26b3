#include "chat/ChatSchemes.h"

#include "chat/FormMessages.h"

#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

namespace {

constexpr const char* kSchemes[] = {"image", "video", "audio"};

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
        scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
        QWebEngineUrlScheme::registerScheme(scheme);
    }
    // The Messages page and what it asks for as the user scrolls: one origin, so the page's
    // requests for older entries are its own.
    if (QWebEngineUrlScheme::schemeByName(kMessagesScheme).name() != kMessagesScheme) {
        QWebEngineUrlScheme messages(kMessagesScheme);
        messages.setSyntax(QWebEngineUrlScheme::Syntax::Host);
        messages.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled |
                          QWebEngineUrlScheme::LocalScheme);
        QWebEngineUrlScheme::registerScheme(messages);
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
