#pragma once

class QString;
class QUrl;

// Hands url to the desktop's program for it (the browser for a web address, the default
// program of a file's type). When no program takes it, a message says so rather than nothing
// happening. xdg-open, when there is one, does the work and its exit status tells whether a
// program took the address (it reports later, without holding the window up); without it
// Qt's own opener does, which tells at once. Called from the GUI thread.
void openExternally(const QUrl& url);

// Home: the installed documentation (the README as a web page), or a message that it is not
// installed.
void openDocumentation();
// The same with the documentation file given.
void openDocumentation(const QString& file);
