#pragma once

// Running script in a page under test.

#include <QDeadlineTimer>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>

// Runs script in page and waits up to 10 s for its result (invalid when none came).
inline QVariant runJs(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    QDeadlineTimer deadline(10000);
    while (!done && !deadline.hasExpired())
        QTest::qWait(10);
    return result;
}
