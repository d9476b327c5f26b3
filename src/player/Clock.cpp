#include "player/Clock.h"

extern "C" {
#include <libavutil/time.h>
}

#include <cmath>
#include <limits>

namespace {
constexpr double kNoSyncThreshold = 10.0;
}

double nowSeconds()
{
    return av_gettime_relative() / 1000000.0;
}

static double getClockLocked(const TClock& c)
{
    if (c.queue_serial && c.queue_serial->load() != c.serial)
        return std::numeric_limits<double>::quiet_NaN();
    if (c.paused)
        return c.pts;
    const double t = nowSeconds();
    return c.pts_drift + t - (t - c.last_updated) * (1.0 - c.speed);
}

static void setClockAtLocked(TClock& c, double pts, int serial, double time)
{
    c.pts = pts;
    c.last_updated = time;
    c.pts_drift = pts - time;
    c.serial = serial;
    c.own_serial = serial;
}

double GetClock(const TClock& c)
{
    std::lock_guard lock(c.lock);
    return getClockLocked(c);
}

void SetClockAt(TClock& c, double pts, int serial, double time)
{
    std::lock_guard lock(c.lock);
    setClockAtLocked(c, pts, serial, time);
}

void SetClock(TClock& c, double pts, int serial)
{
    SetClockAt(c, pts, serial, nowSeconds());
}

void SetClockSpeed(TClock& c, double speed)
{
    std::lock_guard lock(c.lock);
    setClockAtLocked(c, getClockLocked(c), c.serial, nowSeconds());
    c.speed = speed;
}

void InitClock(TClock& c, const std::atomic<int>* queue_serial)
{
    std::lock_guard lock(c.lock);
    c.speed = 1.0;
    c.paused = false;
    c.queue_serial = queue_serial ? queue_serial : &c.own_serial;
    setClockAtLocked(c, std::numeric_limits<double>::quiet_NaN(), -1, nowSeconds());
}

void SyncClockToSlave(TClock& c, const TClock& master)
{
    const double clock = GetClock(c);
    const double masterClock = GetClock(master);
    if (!std::isnan(masterClock) &&
        (std::isnan(clock) || std::fabs(clock - masterClock) > kNoSyncThreshold))
        SetClock(c, masterClock, ClockSerial(master));
}

void SetClockPaused(TClock& c, bool paused)
{
    std::lock_guard lock(c.lock);
    c.paused = paused;
}

int ClockSerial(const TClock& c)
{
    std::lock_guard lock(c.lock);
    return c.serial;
}
