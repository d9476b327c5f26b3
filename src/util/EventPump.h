#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

// Lets the GUI thread handle its pending events from inside a long loop, at most once per
// interval. Calling processEvents for every item of a 400k-record catalog costs more than
// reading the catalog; every few milliseconds keeps painting, timers and Cancel just as live.
class EventPump final
{
public:
    explicit EventPump(int intervalMs = 5) : m_intervalNs(qint64(intervalMs) * 1000000)
    {
        m_timer.start();
    }

    void operator()()
    {
        // Even reading the clock shows at a million calls: look at it every few calls only.
        if (m_calls++ % kCallsPerLook != 0 || m_timer.nsecsElapsed() < m_intervalNs)
            return;
        QCoreApplication::processEvents();
        m_timer.restart();
    }

private:
    static constexpr unsigned kCallsPerLook = 16;
    unsigned m_calls = 0;
    qint64 m_intervalNs;
    QElapsedTimer m_timer;
};
