#pragma once

#include "player/AVThread.h"
#include "player/FFmpegPtr.h"
#include "player/FrameQueue.h"
#include "player/PacketQueue.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>

class TAVPlayer;

// Wraps one decoder context: pulls packets from its packet queue and yields frames. Used by
// the stream's decoding thread only, except start and abort (the thread that opens and closes
// components).
class TDecoder final
{
    Q_DISABLE_COPY_MOVE(TDecoder)
public:
    TDecoder(TAVPlayer* APlayer, std::condition_variable* Aempty_queue_cond, TAVPacketQueue* Aqueue,
             CodecPointer Aavctx);
    ~TDecoder();

    // Takes the decoding thread (not yet running) and opens the packet queue.
    void start(std::unique_ptr<TAVThread> AThread);
    // Runs the decoding thread taken by start, if it is not running yet.
    void resume();
    // 1: a frame (or sub) was produced; 0: none, the decoder is drained; -1: queue aborted.
    int decode_frame(AVFrame* frame, AVSubtitle* sub);
    // The caller aborts the packet queue first; this wakes the frame queue, joins the thread
    // and empties the packet queue.
    void abort(TFrameQueue* fq);

    // A replacement context for a decoder that opens but cannot decode (a hardware decoder
    // without its device); used once, before the first frame.
    void setFallback(std::function<CodecPointer()> fallback) { m_fallback = std::move(fallback); }

    AVCodecContext* avctx() const { return m_avctx.get(); }
    TAVPacketQueue* queue() const { return m_queue; }

    int pkt_serial = -1;
    std::atomic<int> finished = 0; // read by the audio output too
    int64_t start_pts = AV_NOPTS_VALUE;
    AVRational start_pts_tb = {0, 1};
    int64_t next_pts = AV_NOPTS_VALUE;
    AVRational next_pts_tb = {0, 1};

private:
    int receive(AVFrame* frame);
    // Takes the next packet of the current serial into pkt; -1 when the queue was aborted.
    int fetch();
    bool useFallback(int error);

    TAVPlayer* FPlayer;
    PacketPointer pkt;
    TAVPacketQueue* m_queue;
    CodecPointer m_avctx;
    bool packet_pending = false;
    std::condition_variable* empty_queue_cond;
    std::unique_ptr<TAVThread> FThread;
    std::function<CodecPointer()> m_fallback;
    bool m_gotFrame = false;
};
