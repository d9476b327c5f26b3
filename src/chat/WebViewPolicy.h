#pragma once

#include <QUrl>

class QWebEngineSettings;

// What the views of other people's messages allow: their pages show text written by others, so
// whatever script might get onto one finds no way to other windows, files or the network.

bool isWebAddress(const QUrl& url);

// A web address in one form for comparing: a page's href and the address the view reports may
// differ in the host's case, an empty path and dot segments.
QUrl comparableAddress(const QUrl& url);

// (ferrowick_gui) Turns off every feature such a page does not need. localFiles: whether local content may read
// file URLs (pages that show stored files by path).
void restrictSettings(QWebEngineSettings* settings, bool localFiles);
