#include "chat/WebViewPolicy.h"

#include <QWebEngineSettings>

void restrictSettings(QWebEngineSettings* settings, bool localFiles)
{
    using S = QWebEngineSettings;
    settings->setAttribute(S::LocalContentCanAccessFileUrls, localFiles);
    for (const S::WebAttribute off :
         {S::JavascriptCanOpenWindows, S::JavascriptCanAccessClipboard, S::JavascriptCanPaste,
          S::LocalContentCanAccessRemoteUrls, S::LocalStorageEnabled, S::PluginsEnabled,
          S::PdfViewerEnabled, S::NavigateOnDropEnabled, S::AllowWindowActivationFromJavaScript,
          S::FullScreenSupportEnabled, S::ScreenCaptureEnabled, S::HyperlinkAuditingEnabled,
          S::DnsPrefetchEnabled, S::AllowRunningInsecureContent,
          S::AllowGeolocationOnInsecureOrigins, S::WebGLEnabled})
        settings->setAttribute(off, false);
    settings->setAttribute(S::WebRTCPublicInterfacesOnly, true);
    // Without this a page could hand mailto: or any other address to the desktop's handlers.
    settings->setUnknownUrlSchemePolicy(S::DisallowUnknownUrlSchemes);
}
