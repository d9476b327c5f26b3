#pragma once

// What every fuzz target shares: a Qt application object (the readers use Qt's SQLite driver
// and text codecs) made once, before the first input.

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}
