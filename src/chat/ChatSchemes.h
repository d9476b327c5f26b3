#pragma once

class QWebEngineProfile;

// The chat page's private link schemes: "image://", "video://" and "audio://", "save://" for a
// picture the view cannot show, and the Messages page's own scheme.
// Call registerChatSchemes() from main() before the QApplication is created: the web engine
// only reports clicks on such links to the page when the schemes are known at start-up.
void registerChatSchemes();

// Installs on profile the handler the three schemes need; the page's navigation handler
// cancels every such navigation before the handler would be asked for content.
void installChatSchemeHandler(QWebEngineProfile* profile);

// The private scheme of the WeChat page and of what it asks for as the user scrolls.
inline constexpr const char* kWechatScheme = "ferrowick-wechat";
