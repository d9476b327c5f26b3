#pragma once

#include <QString>

// The script of a chat page that holds only a window of its entries: near its top it asks for
// the entries before it, near its bottom for those after, and drops what lies far away, so a
// conversation of any length scrolls with a small page. What the user sees stays in place as
// entries come and go.
struct TPagedViewScript
{
    int first = 0;      // the page starts with the entries of [first, total)
    int total = 0;
    QString rangeUrl;   // GET rangeUrl + "/<a>/<b>" answers the entries of [a, b)
    QString entrySelector; // the page's entries, each one element, below #list
    int page = 500;     // entries asked for at a time (the server's limit too)
    int keep = 1000;    // entries kept on the page at most
};

// The script's text (without the script element). The page needs an element #list holding
// an element #more (shown while older entries exist) and then the entries. It marks
// body.dataset.first and .last with the range shown, and stops asking once a request failed.
QString pagedViewScript(const TPagedViewScript& view);
