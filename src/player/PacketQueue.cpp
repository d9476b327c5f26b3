#include "player/PacketQueue.h"

#include "util/Error.h"

TAVPacketQueue::TAVPacketQueue(const AVPacket* FlushPkt, const AVPacket* EofPkt)
    : FFlushPkt(FlushPkt), FEofPkt(EofPkt)
{
}

TAVPacketQueue::~TAVPacketQueue()
{
    Flush();
}

void TAVPacketQueue::Start()
{
    std::lock_guard lock(FMutex);
    m_abortRequest = false;
    // A marker is copied by record, so the cast never lets the queue change it.
    Put_Private(const_cast<AVPacket*>(FFlushPkt));
}

void TAVPacketQueue::Abort()
{
    std::lock_guard lock(FMutex);
    m_abortRequest = true;
    FCond.notify_all();
}

int TAVPacketQueue::Put_Private(AVPacket* pkt)
{
    if (m_abortRequest)
        return -1;
    PacketPointer copy = makePacket();
    if (!copy)
        return -1;
    const bool marker = IsFlush(pkt) || IsEof(pkt);
    if (marker) {
        // Markers carry no payload; only their data pointer identifies them.
        copy->data = pkt->data;
        copy->size = 0;
        copy->stream_index = pkt->stream_index;
    } else {
        av_packet_move_ref(copy.get(), pkt);
    }
    if (IsFlush(copy.get()))
        ++m_serial;
    const int bytes = copy->size + kNodeOverhead;
    m_nodes.push_back({std::move(copy), m_serial.load()});
    ++m_nbPackets;
    m_size += bytes;
    FCond.notify_one();
    return 0;
}

int TAVPacketQueue::Put(AVPacket* pkt)
{
    int ret;
    {
        std::lock_guard lock(FMutex);
        ret = Put_Private(pkt);
    }
    if (ret < 0 && !IsFlush(pkt) && !IsEof(pkt))
        av_packet_unref(pkt);
    return ret;
}

int TAVPacketQueue::put_nullpacket(int stream_index)
{
    PacketPointer pkt = makePacket();
    if (!pkt)
        return -1;
    pkt->data = nullptr;
    pkt->size = 0;
    pkt->stream_index = stream_index;
    return Put(pkt.get());
}

int TAVPacketQueue::Get(AVPacket* pkt, bool block, int* serial)
{
    std::unique_lock lock(FMutex);
    for (;;) {
        if (m_abortRequest)
            return -1;
        if (!m_nodes.empty()) {
            TMyAVPacketList node = std::move(m_nodes.front());
            m_nodes.pop_front();
            --m_nbPackets;
            m_size -= node.pkt->size + kNodeOverhead;
            av_packet_unref(pkt);
            av_packet_move_ref(pkt, node.pkt.get());
            if (serial)
                *serial = node.serial;
            return 1;
        }
        if (!block)
            return -1;
        FCond.wait(lock);
    }
}

void TAVPacketQueue::Flush()
{
    std::lock_guard lock(FMutex);
    // A marker node holds no payload reference, so unreferencing it releases nothing shared.
    m_nodes.clear();
    m_nbPackets = 0;
    m_size = 0;
}

PacketPointer makeMarkerPacket(const char* text)
{
    PacketPointer pkt = makePacket();
    if (!pkt)
        throw Error(QStringLiteral("Could not allocate packet"));
    // FFmpeg never writes through a packet without a buffer.
    pkt->data = reinterpret_cast<uint8_t*>(const_cast<char*>(text));
    pkt->size = 0;
    return pkt;
}
