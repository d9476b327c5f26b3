#pragma once

#include "player/FFmpegPtr.h"
#include "player/PacketQueue.h"

#include <array>
#include <condition_variable>
#include <mutex>

// One slot of a frame queue.
struct TVideoFrame
{
    FramePointer frame;
    AVSubtitle sub = {};
    int serial = 0;
    double pts = 0;
    double duration = 0;
    int64_t pos = -1;
    // Video only: the picture handed to the displays, a separate reference of its own.
    FramePointer bmp;
    int width = 0;
    int height = 0;
};

// Ring of decoded frames between one decoder thread (the only writer) and one consumer (the
// only reader). windex belongs to the writer, rindex and rindex_shown to the reader; the
// mutex guards size and the waits. The packet queue's abort ends every wait.
class TFrameQueue final
{
    Q_DISABLE_COPY_MOVE(TFrameQueue)
public:
    static constexpr int kMaxSize = 16;

    TFrameQueue(TAVPacketQueue* Apktq, int Amax_size, int Akeep_last);
    ~TFrameQueue();

    // Reader side.
    TVideoFrame* peek();
    TVideoFrame* peek_next();
    TVideoFrame* peek_last();
    // Waits (with block) for an unread frame; none when the packet queue was aborted.
    TVideoFrame* peek_readable(bool block = true);
    void next();
    int nb_remaining();
    int64_t last_pos();
    void flush();

    // Writer side: waits for a free slot; none when the packet queue was aborted.
    TVideoFrame* peek_writable();
    void push();

    // Wakes a waiting writer or reader so that it can see an abort.
    void signal();

    // The first slot, for a picture that does not come from the decoder (a cover image).
    TVideoFrame* first_slot() { return &queue[0]; }
    int max_size() const { return m_maxSize; }
    bool keep_last() const { return m_keepLast; }
    int rindex_shown() const { return m_rindexShown; }
    TAVPacketQueue* pktq() const { return m_pktq; }

private:
    static void unref_item(TVideoFrame* vp);

    std::array<TVideoFrame, kMaxSize> queue;
    int m_rindex = 0;
    int m_windex = 0;
    int m_size = 0;
    int m_maxSize;
    bool m_keepLast;
    int m_rindexShown = 0;
    std::mutex mutex;
    std::condition_variable cond;
    TAVPacketQueue* m_pktq;
};
