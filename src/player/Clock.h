#pragma once

#include <atomic>
#include <mutex>

// One playback clock. Several threads set and read it; a small lock keeps each reading whole.
struct TClock
{
    double pts = 0;
    double pts_drift = 0;
    double last_updated = 0;
    double speed = 1.0;
    int serial = -1;
    bool paused = false;
    // The serial the clock is checked against (a packet queue's, or its own for extclk).
    const std::atomic<int>* queue_serial = nullptr;
    std::atomic<int> own_serial = -1;
    mutable std::mutex lock;
};

// Seconds of the monotonic clock.
double nowSeconds();

double GetClock(const TClock& c);
void SetClockAt(TClock& c, double pts, int serial, double time);
void SetClock(TClock& c, double pts, int serial);
void SetClockSpeed(TClock& c, double speed);
// queue_serial null binds the clock to its own serial.
void InitClock(TClock& c, const std::atomic<int>* queue_serial);
void SyncClockToSlave(TClock& c, const TClock& master);
void SetClockPaused(TClock& c, bool paused);
int ClockSerial(const TClock& c);
