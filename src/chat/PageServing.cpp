#include "chat/PageServing.h"

#include <QBuffer>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlSchemeHandler>

namespace {

// Thread-safe: the engine may ask from a thread of its own.
class SchemeFilter final : public QWebEngineUrlRequestInterceptor
{
public:
    SchemeFilter(QList<QString> schemes, QObject* context, std::function<void(const QUrl&)> blocked,
                 QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent),
          m_schemes(std::move(schemes)),
          m_context(context),
          m_blocked(std::move(blocked))
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QUrl url = info.requestUrl();
        if (m_schemes.contains(url.scheme()))
            return;
        info.block(true);
        if (!m_blocked)
            return;
        QMetaObject::invokeMethod(
            m_context, [blocked = m_blocked, url] { blocked(url); }, Qt::QueuedConnection);
    }

private:
    const QList<QString> m_schemes;
    QObject* m_context;
    const std::function<void(const QUrl&)> m_blocked;
};

class SchemeServer final : public QWebEngineUrlSchemeHandler
{
public:
    SchemeServer(std::function<void(QWebEngineUrlRequestJob*)> serve, QObject* parent)
        : QWebEngineUrlSchemeHandler(parent), m_serve(std::move(serve))
    {
    }
    void requestStarted(QWebEngineUrlRequestJob* job) override { m_serve(job); }

private:
    std::function<void(QWebEngineUrlRequestJob*)> m_serve;
};

} // namespace

void allowOnlySchemes(QWebEngineProfile* profile, const QList<QString>& schemes, QObject* context,
                      std::function<void(const QUrl&)> blocked)
{
    // The profile keeps a pointer only; parenting the filter to it ties their lifetimes.
    profile->setUrlRequestInterceptor(
        new SchemeFilter(schemes, context, std::move(blocked), profile));
}

void serveScheme(QWebEngineProfile* profile, const char* scheme,
                 std::function<void(QWebEngineUrlRequestJob*)> serve)
{
    profile->installUrlSchemeHandler(scheme, new SchemeServer(std::move(serve), profile));
}

void replyBytes(QWebEngineUrlRequestJob* job, const QByteArray& type, const QByteArray& body)
{
    auto* buffer = new QBuffer(job);
    buffer->setData(body);
    buffer->open(QIODevice::ReadOnly);
    job->reply(type, buffer);
}

void denyFeaturePermissions(QWebEnginePage* page)
{
    QObject::connect(page, &QWebEnginePage::featurePermissionRequested, page,
                     [page](const QUrl& origin, QWebEnginePage::Feature feature) {
                         page->setFeaturePermission(origin, feature,
                                                    QWebEnginePage::PermissionDeniedByUser);
                     });
}
