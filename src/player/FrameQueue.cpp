#include "player/FrameQueue.h"

#include "util/Error.h"

#include <algorithm>

TFrameQueue::TFrameQueue(TAVPacketQueue* Apktq, int Amax_size, int Akeep_last)
    : m_maxSize(std::clamp(Amax_size, 1, kMaxSize)), m_keepLast(Akeep_last != 0), m_pktq(Apktq)
{
    for (int i = 0; i < m_maxSize; ++i) {
        queue[i].frame = makeFrame();
        if (!queue[i].frame)
            throw Error(QStringLiteral("Could not allocate frame"));
    }
}

TFrameQueue::~TFrameQueue()
{
    for (int i = 0; i < m_maxSize; ++i) {
        unref_item(&queue[i]);
        queue[i].bmp.reset();
    }
}

void TFrameQueue::unref_item(TVideoFrame* vp)
{
    // avsubtitle_free releases every rectangle, its data and the rectangle array.
    av_frame_unref(vp->frame.get());
    avsubtitle_free(&vp->sub);
}

void TFrameQueue::signal()
{
    std::lock_guard lock(mutex);
    cond.notify_all();
}

TVideoFrame* TFrameQueue::peek()
{
    return &queue[(m_rindex + m_rindexShown) % m_maxSize];
}

TVideoFrame* TFrameQueue::peek_next()
{
    return &queue[(m_rindex + m_rindexShown + 1) % m_maxSize];
}

TVideoFrame* TFrameQueue::peek_last()
{
    return &queue[m_rindex];
}

TVideoFrame* TFrameQueue::peek_writable()
{
    std::unique_lock lock(mutex);
    cond.wait(lock, [this] { return m_size < m_maxSize || m_pktq->AbortRequest(); });
    if (m_pktq->AbortRequest())
        return nullptr;
    return &queue[m_windex];
}

TVideoFrame* TFrameQueue::peek_readable(bool block)
{
    std::unique_lock lock(mutex);
    if (block)
        cond.wait(lock, [this] { return m_size - m_rindexShown > 0 || m_pktq->AbortRequest(); });
    if (m_pktq->AbortRequest() || m_size - m_rindexShown <= 0)
        return nullptr;
    return &queue[(m_rindex + m_rindexShown) % m_maxSize];
}

void TFrameQueue::push()
{
    m_windex = (m_windex + 1) % m_maxSize;
    std::lock_guard lock(mutex);
    ++m_size;
    cond.notify_all();
}

void TFrameQueue::next()
{
    if (m_keepLast && !m_rindexShown) {
        m_rindexShown = 1;
        return;
    }
    unref_item(&queue[m_rindex]);
    m_rindex = (m_rindex + 1) % m_maxSize;
    std::lock_guard lock(mutex);
    --m_size;
    cond.notify_all();
}

int TFrameQueue::nb_remaining()
{
    std::lock_guard lock(mutex);
    return m_size - m_rindexShown;
}

int64_t TFrameQueue::last_pos()
{
    const TVideoFrame& fp = queue[m_rindex];
    if (m_rindexShown && fp.serial == m_pktq->Serial())
        return fp.pos;
    return -1;
}

void TFrameQueue::flush()
{
    while (nb_remaining() > 0 && !m_pktq->AbortRequest())
        next();
}
