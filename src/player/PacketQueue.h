#pragma once

#include "player/FFmpegPtr.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

// One queued packet and the queue serial it was appended under.
struct TMyAVPacketList
{
    PacketPointer pkt;
    int serial = 0;
};

// A marker packet (flush, end of input) that a queue recognises by its data pointer: text is
// only an address, never read or written. Throws when no packet can be allocated.
PacketPointer makeMarkerPacket(const char* text);

// Carries compressed packets of one stream from the read thread (the only writer) to the
// stream's decoder (the only reader). Every operation is thread-safe.
//
// Two marker packets of the player travel through it, recognised by their data pointer: the
// flush marker raises the serial so that everything read before a seek can be told apart,
// the end-of-input marker tells a decoder that reading stopped.
class TAVPacketQueue final
{
    Q_DISABLE_COPY_MOVE(TAVPacketQueue)
public:
    // The queue starts aborted; Start opens it.
    TAVPacketQueue(const AVPacket* FlushPkt, const AVPacket* EofPkt);
    ~TAVPacketQueue();

    void Start();
    void Abort();
    // Takes over the packet's payload references; returns 0, or -1 when refused (the packet is
    // then released, except a marker, which stays intact).
    int Put(AVPacket* pkt);
    int put_nullpacket(int stream_index);
    // 1 with a packet moved into pkt, -1 when aborted (or empty without block).
    int Get(AVPacket* pkt, bool block, int* serial);
    void Flush();

    bool AbortRequest() const { return m_abortRequest.load(); }
    int NbPackets() const { return m_nbPackets.load(); }
    int Size() const { return m_size.load(); }
    int Serial() const { return m_serial.load(); }
    // The serial itself, for clocks that compare against it.
    const std::atomic<int>& SerialRef() const { return m_serial; }
    const AVPacket* FlushPkt() const { return FFlushPkt; }
    const AVPacket* EofPkt() const { return FEofPkt; }
    bool IsFlush(const AVPacket* pkt) const { return pkt->data == FFlushPkt->data; }
    bool IsEof(const AVPacket* pkt) const { return pkt->data == FEofPkt->data; }

    // Bytes counted per queued packet beyond its payload.
    static constexpr int kNodeOverhead = sizeof(TMyAVPacketList) + sizeof(AVPacket);

private:
    int Put_Private(AVPacket* pkt);

    const AVPacket* FFlushPkt;
    const AVPacket* FEofPkt;
    std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<TMyAVPacketList> m_nodes;
    std::atomic<int> m_serial = 0;
    std::atomic<int> m_nbPackets = 0;
    std::atomic<int> m_size = 0;
    std::atomic<bool> m_abortRequest = true;
};
