#pragma once

// Reading the engine's frame queues as its output side would, for tests that run no outputs.

#include "TestSupport.h"
#include "player/FrameQueue.h"
#include "player/PacketQueue.h"

#include <optional>
#include <utility>

// Waits for the next frame of the packet queue's current serial, skipping older ones, and
// returns what read makes of it; none when timeoutMs pass first. Handles no events meanwhile.
template <typename Read>
auto takeCurrentFrame(TFrameQueue* q, TAVPacketQueue* packets, Read read, int timeoutMs)
    -> std::optional<decltype(read(std::declval<TVideoFrame*>()))>
{
    std::optional<decltype(read(std::declval<TVideoFrame*>()))> result;
    waitUntil(
        [&] {
            TVideoFrame* f = q->peek_readable(false);
            if (!f)
                return false;
            if (f->serial == packets->Serial())
                result = read(f);
            q->next();
            return result.has_value();
        },
        timeoutMs, WaitEvents::Sleep);
    return result;
}
