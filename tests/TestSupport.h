#pragma once

// Helpers shared by the test programs.

#include <QElapsedTimer>
#include <QTest>

#include <chrono>
#include <thread>

// Whether a wait handles the test thread's events between polls. The engine tests that read
// its queues themselves only sleep.
enum class WaitEvents
{
    Handle,
    Sleep
};

// Polls pred until it holds; false when timeoutMs pass first.
template <typename Pred>
bool waitUntil(Pred pred, int timeoutMs, WaitEvents events = WaitEvents::Handle)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        if (events == WaitEvents::Handle)
            QTest::qWait(5);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
