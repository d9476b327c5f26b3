#include "player/Decoder.h"

#include "player/AVPlayer.h"
#include "util/Error.h"

TDecoder::TDecoder(TAVPlayer* APlayer, std::condition_variable* Aempty_queue_cond,
                   TAVPacketQueue* Aqueue, CodecPointer Aavctx)
    : FPlayer(APlayer), pkt(makePacket()), m_queue(Aqueue), m_avctx(std::move(Aavctx)),
      empty_queue_cond(Aempty_queue_cond)
{
    if (!pkt)
        throw Error(QStringLiteral("Could not allocate packet"));
}

TDecoder::~TDecoder()
{
    // The thread must not outlive the context it decodes with.
    FThread.reset();
}

void TDecoder::start(std::unique_ptr<TAVThread> AThread)
{
    FThread = std::move(AThread);
    m_queue->Start();
}

void TDecoder::resume()
{
    if (FThread)
        FThread->Start();
}

void TDecoder::abort(TFrameQueue* fq)
{
    fq->signal();
    if (FThread) {
        FThread->WaitFor();
        FThread.reset();
    }
    m_queue->Flush();
}

int TDecoder::receive(AVFrame* frame)
{
    AVCodecContext* ctx = m_avctx.get();
    const int ret = avcodec_receive_frame(ctx, frame);
    if (ret < 0)
        return ret;
    m_gotFrame = true;
    if (ctx->codec_type == AVMEDIA_TYPE_VIDEO) {
        frame->pts = frame->best_effort_timestamp;
    } else {
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            const int channels = frame->ch_layout.nb_channels;
            av_channel_layout_uninit(&frame->ch_layout);
            av_channel_layout_default(&frame->ch_layout, channels);
        }
        const AVRational tb = {1, frame->sample_rate};
        if (frame->pts != AV_NOPTS_VALUE)
            frame->pts = av_rescale_q(frame->pts, ctx->pkt_timebase, tb);
        else if (next_pts != AV_NOPTS_VALUE)
            frame->pts = av_rescale_q(next_pts, next_pts_tb, tb);
        if (frame->pts != AV_NOPTS_VALUE) {
            next_pts = frame->pts + frame->nb_samples;
            next_pts_tb = tb;
        }
    }
    return ret;
}

int TDecoder::fetch()
{
    for (;;) {
        if (m_queue->NbPackets() == 0)
            empty_queue_cond->notify_all();
        if (m_queue->Get(pkt.get(), true, &pkt_serial) < 0)
            return -1;
        const AVMediaType type = m_avctx->codec_type;
        if (m_queue->IsEof(pkt.get())) {
            if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO)
                FPlayer->DoPlaybackFinished();
            continue;
        }
        if (m_queue->IsFlush(pkt.get())) {
            avcodec_flush_buffers(m_avctx.get());
            finished = 0;
            next_pts = start_pts;
            next_pts_tb = start_pts_tb;
            continue;
        }
        if (m_queue->Serial() == pkt_serial)
            return 0;
        av_packet_unref(pkt.get()); // stale: read before the last seek
    }
}

bool TDecoder::useFallback(int error)
{
    if (m_gotFrame || !m_fallback || error == AVERROR(EAGAIN) || error == AVERROR_EOF)
        return false;
    CodecPointer other = std::exchange(m_fallback, nullptr)();
    if (!other)
        return false;
    m_avctx = std::move(other);
    return true;
}

int TDecoder::decode_frame(AVFrame* frame, AVSubtitle* sub)
{
    while (!m_queue->AbortRequest()) {
        AVCodecContext* ctx = m_avctx.get();
        // Frames the decoder still holds belong to pkt_serial; after a seek they are stale
        // and the flush marker ahead in the queue discards them.
        if (ctx->codec_type != AVMEDIA_TYPE_SUBTITLE && m_queue->Serial() == pkt_serial) {
            const int ret = receive(frame);
            if (ret >= 0)
                return 1;
            if (ret == AVERROR_EOF) {
                // Drained by a null packet; the flush lets the decoder take packets again.
                finished = pkt_serial;
                avcodec_flush_buffers(ctx);
                return 0;
            }
            if (useFallback(ret))
                continue; // a pending packet goes to the replacement
            // EAGAIN wants the next packet; a decoding error drops what was pending.
            if (ret != AVERROR(EAGAIN))
                packet_pending = false;
        }

        if (packet_pending) {
            packet_pending = false;
            if (m_queue->Serial() != pkt_serial) {
                av_packet_unref(pkt.get());
                if (fetch() < 0)
                    return -1;
            }
        } else {
            av_packet_unref(pkt.get());
            if (fetch() < 0)
                return -1;
        }

        if (ctx->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            // Subtitle decoders take a whole packet per call.
            int got = 0;
            const bool nullPacket = !pkt->data;
            avcodec_decode_subtitle2(ctx, sub, &got, pkt.get());
            av_packet_unref(pkt.get());
            if (got)
                return 1;
            if (nullPacket) {
                finished = pkt_serial;
                return 0;
            }
            continue;
        }
        const int ret = avcodec_send_packet(ctx, pkt.get());
        if (useFallback(ret)) {
            packet_pending = true; // sent again, to the replacement
            continue;
        }
        if (ret == AVERROR(EAGAIN)) {
            // The decoder is full: receive first, then send the same packet again.
            packet_pending = true;
        } else {
            if (ret == AVERROR_EOF && !pkt->data) {
                // Already drained: nothing more will come for this serial.
                finished = pkt_serial;
                av_packet_unref(pkt.get());
                avcodec_flush_buffers(ctx);
                return 0;
            }
            av_packet_unref(pkt.get());
        }
    }
    return -1;
}
