#include "chat/WebViewPolicy.h"

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QUrl comparableAddress(const QUrl& url)
{
    QUrl out = url.adjusted(QUrl::NormalizePathSegments | QUrl::RemoveFragment);
    if (out.path().isEmpty())
        out.setPath(QStringLiteral("/"));
    return out;
}
