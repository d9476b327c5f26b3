#include "player/AVPlayer.h"
#include "player/Threads.h"
#include "util/Error.h"

#include <cstring>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The read thread polls: it never waits longer than this for room in the queues.
constexpr auto kReadWait = 10ms;
constexpr int kMaxQueueBytes = 15 * 1024 * 1024;
constexpr int kMinFrames = 25;

bool hasEnoughPackets(const AVStream* st, const TAVPacketQueue* q, bool video)
{
    return !st || q->AbortRequest() || (video && (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) ||
           q->NbPackets() > kMinFrames;
}

} // namespace

void TAVPlayer::PutEofMarker(int& lastPktType)
{
    const bool video = FVideoStream != nullptr;
    const bool audio = FAudioStream != nullptr;
    if (!video || !audio) {
        if (video)
            FVideoQ->Put(FEofPkt.get());
        else if (audio)
            FAudioQ->Put(FEofPkt.get());
        return;
    }
    if (lastPktType == 2)
        FVideoQ->Put(FEofPkt.get());
    else
        FAudioQ->Put(FEofPkt.get());
    lastPktType = 0;
}

void TAVReadThread::Execute()
{
    TAVPlayer* p = FPlayer;
    AVFormatContext* ic = p->FIc.get();
    std::mutex waitMutex;
    auto waitForRoom = [&] {
        std::unique_lock lock(waitMutex);
        p->continue_read_thread.wait_for(lock, kReadWait);
    };
    bool eof = false;
    PacketPointer pkt = makePacket();
    if (!pkt)
        return;

    for (TDecoder* dec : {p->viddec.get(), p->auddec.get(), p->subdec.get()})
        if (dec)
            dec->resume();
    if (infinite_buffer < 0 && p->FIsRealTime)
        infinite_buffer = 1;

    while (!p->FAbortRequest) {
        if (p->FPaused != p->FLastPaused) {
            p->FLastPaused = p->FPaused;
            if (p->FLastPaused)
                p->FReadPauseReturn = av_read_pause(ic);
            else
                av_read_play(ic);
        }
        if (p->FPaused && (std::strcmp(ic->iformat->name, "rtsp") == 0 ||
                           (ic->pb && p->FMovie.startsWith(QLatin1String("mmsh:"))))) {
            std::this_thread::sleep_for(kReadWait);
            continue;
        }

        if (p->FSeekReq) {
            const int64_t target = p->FSeekPos;
            const int64_t rel = p->FSeekRel;
            int64_t min = rel > 0 ? target - rel + 2 : INT64_MIN;
            int64_t max = rel < 0 ? target - rel - 2 : ic->duration;
            if (p->FSeekPositionMode == spForwardRequest)
                min = target;
            else if (p->FSeekPositionMode == spBackwardRequest)
                max = target;
            const int flags = p->FSeekMode == smAnyFrame ? AVSEEK_FLAG_ANY : 0;
            if (avformat_seek_file(ic, -1, min, target, max, flags) >= 0) {
                const std::pair<AVStream*, TAVPacketQueue*> queues[] = {
                    {p->FAudioStream, p->FAudioQ.get()},
                    {p->FSubtitleStream, p->FSubtitleQ.get()},
                    {p->FVideoStream, p->FVideoQ.get()}};
                for (const auto& [st, q] : queues) {
                    if (!st)
                        continue;
                    q->Flush();
                    q->Put(p->FFlushPkt.get());
                }
                SetClock(p->extclk, target / 1000000.0, 0);
            }
            p->FSeekReq = false;
            p->queue_attachments_req = true;
            eof = false;
            if (p->FPaused)
                p->StepForward();
        }

        if (p->queue_attachments_req) {
            AVStream* vs = p->FVideoStream;
            if (vs && (vs->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                PacketPointer copy = makePacket();
                if (!copy || av_packet_ref(copy.get(), &vs->attached_pic) < 0)
                    throw Error(QStringLiteral("Failed to copy attached picture"));
                p->FVideoQ->Put(copy.get());
                p->FVideoQ->put_nullpacket(vs->index);
            }
            p->queue_attachments_req = false;
        }

        if ((infinite_buffer < 1 &&
             p->FAudioQ->Size() + p->FVideoQ->Size() + p->FSubtitleQ->Size() > kMaxQueueBytes) ||
            (hasEnoughPackets(p->FAudioStream, p->FAudioQ.get(), false) &&
             hasEnoughPackets(p->FVideoStream, p->FVideoQ.get(), true) &&
             hasEnoughPackets(p->FSubtitleStream, p->FSubtitleQ.get(), false))) {
            waitForRoom();
            continue;
        }

        swapStreams();

        p->FReadTime = av_gettime_relative();
        const int ret = p->m_hostInput.ReadFrame(ic, pkt.get());
        p->FReadTime = 0;
        if (ret < 0) {
            // Asking the I/O context about its end reads again; the read timer bounds that too.
            p->FReadTime = av_gettime_relative();
            const bool atEnd = ret == AVERROR_EOF || (ic->pb && avio_feof(ic->pb));
            p->FReadTime = 0;
            if (!eof && atEnd) {
                eof = true;
                // Past the end of the play range the marker went out with the first packet
                // beyond it; a second one would report the end twice.
                if (p->FEndTime == AV_NOPTS_VALUE || last_pkt_in_range)
                    p->PutEofMarker(FLastPktType);
            }
            if (ic->pb && ic->pb->error)
                break;
            if (eof) {
                // Null packets drain the decoders of what they still hold.
                for (AVStream* st :
                     {p->FVideoStream.load(), p->FAudioStream.load(), p->FSubtitleStream.load()}) {
                    if (!st)
                        continue;
                    TAVPacketQueue* q = st == p->FVideoStream   ? p->FVideoQ.get()
                                        : st == p->FAudioStream ? p->FAudioQ.get()
                                                                : p->FSubtitleQ.get();
                    q->put_nullpacket(st->index);
                }
                std::this_thread::sleep_for(kReadWait);
            } else {
                waitForRoom();
            }
            continue;
        }
        eof = false;

        // Play range: a packet beyond EndTime is dropped, the first one also ends the input.
        const AVStream* st = ic->streams[pkt->stream_index];
        const int64_t ts = pkt->pts == AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        const int64_t streamStart = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        const int64_t start = p->FStartTime != AV_NOPTS_VALUE ? p->FStartTime.load() : 0;
        const bool inRange =
            p->FEndTime == AV_NOPTS_VALUE || ts == AV_NOPTS_VALUE ||
            double(ts - streamStart) * av_q2d(st->time_base) - start / 1000000.0 <= p->FDuration;
        if (!inRange && last_pkt_in_range)
            p->PutEofMarker(FLastPktType);
        last_pkt_in_range = inRange;

        const AVStream* audio = p->FAudioStream;
        const AVStream* video = p->FVideoStream;
        const AVStream* subtitle = p->FSubtitleStream;
        if (audio && pkt->stream_index == audio->index && inRange && !p->FDisableAudio) {
            p->FAudioQ->Put(pkt.get());
            FLastPktType = 1;
        } else if (video && pkt->stream_index == video->index && inRange &&
                   !(video->disposition & AV_DISPOSITION_ATTACHED_PIC) && !p->FDisableVideo) {
            p->FVideoQ->Put(pkt.get());
            FLastPktType = 2;
        } else if (subtitle && pkt->stream_index == subtitle->index && inRange &&
                   !p->FDisableSubtitle) {
            p->FSubtitleQ->Put(pkt.get());
        } else {
            av_packet_unref(pkt.get());
        }
    }

    // After an I/O error: idle until the player closes.
    while (!p->FAbortRequest)
        std::this_thread::sleep_for(100ms);
}

// Replaces the streams the host selected anew, video first. The packet queue of a kind is
// aborted, emptied with its decoder and reused, so the frame queue and the clock bound to it
// stay valid.
void TAVReadThread::swapStreams()
{
    TAVPlayer* p = FPlayer;
    bool swapped = false;
    struct Kind
    {
        std::atomic<bool>& changed;
        std::atomic<int>& index;
        std::vector<int>& list;
        TAVPacketQueue* queue;
        void (TAVPlayer::*close)();
        bool (TAVPlayer::*open)();
        TDecoder* (*decoder)(TAVPlayer*);
        bool seek;
    };
    Kind kinds[] = {
        {p->FVideoStreamChanged, p->FVideoStreamIndex, p->FVideoIdxList, p->FVideoQ.get(),
         &TAVPlayer::CloseVideoComponent, &TAVPlayer::OpenVideoComponent,
         [](TAVPlayer* pl) { return pl->viddec.get(); }, true},
        {p->FAudioStreamChanged, p->FAudioStreamIndex, p->FAudioIdxList, p->FAudioQ.get(),
         &TAVPlayer::CloseAudioComponent, &TAVPlayer::OpenAudioComponent,
         [](TAVPlayer* pl) { return pl->auddec.get(); }, true},
        {p->FSubtitleStreamChanged, p->FSubtitleStreamIndex, p->FSubtitleIdxList,
         p->FSubtitleQ.get(), &TAVPlayer::CloseSubtitleComponent, &TAVPlayer::OpenSubtitleComponent,
         [](TAVPlayer* pl) { return pl->subdec.get(); }, false},
    };
    for (Kind& kind : kinds) {
        if (!kind.changed)
            continue;
        swapped = true;
        // A failed swap must not be retried on every pass, so the flag clears in any case.
        kind.changed = false;
        const int newIndex = kind.index;
        kind.queue->Abort();
        (p->*kind.close)();
        kind.index = newIndex;
        bool ok = false;
        try {
            ok = (p->*kind.open)();
        } catch (const std::exception&) {
            ok = false;
        }
        if (ok) {
            if (kind.seek)
                p->setPosition(p->FSavedPosition);
            kind.decoder(p)->resume();
        } else {
            if (newIndex >= 0 && newIndex < int(kind.list.size()))
                kind.list.erase(kind.list.begin() + newIndex);
            kind.index = -1;
        }
    }
    if (swapped)
        p->CollectMetadata();
}
