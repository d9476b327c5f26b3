#pragma once

#include "player/HostInputs.h"

#include <memory>

// One of the engine's own input devices. It describes its stream in a container it is given
// instead of FFmpeg opening one, and the read thread takes its packets from it instead of
// av_read_frame. Used by one thread at a time.
class THostDevice
{
public:
    virtual ~THostDevice() = default;
    // Adds the device's stream to ic; negative (the reason logged) when it cannot open.
    virtual int Open(AVFormatContext* ic) = 0;
    // One packet of stream 0, waiting as a device does; breaks off with AVERROR_EXIT when
    // ic's interrupt callback says so, AVERROR_EOF once the host's object is gone.
    virtual int Read(AVFormatContext* ic, AVPacket* pkt) = 0;
};

// The device of that input format for the host object registered under number; none (the
// reason logged) when there is no such live object of the right kind.
std::unique_ptr<THostDevice> makeHostDevice(const QString& inputFormat, const QString& number);
