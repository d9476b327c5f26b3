#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class QObject;
class QUrl;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineUrlRequestJob;

// What the chat windows' views share: a profile that loads only the window's own schemes, a
// handler that passes that scheme's requests to the window, and pages that grant nothing.

// Lets profile load only URLs of schemes; every other request is refused and reported to
// blocked, queued on context's thread and dropped with context.
void allowOnlySchemes(QWebEngineProfile* profile, const QList<QString>& schemes, QObject* context,
                      std::function<void(const QUrl&)> blocked);
// Hands every request of scheme on profile to serve (on the GUI thread).
void serveScheme(QWebEngineProfile* profile, const char* scheme,
                 std::function<void(QWebEngineUrlRequestJob*)> serve);
// Answers job with body of MIME type.
void replyBytes(QWebEngineUrlRequestJob* job, const QByteArray& type, const QByteArray& body);
// No camera, microphone, position or notifications for anything on page.
void denyFeaturePermissions(QWebEnginePage* page);
