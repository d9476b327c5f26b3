#include "player/AVPlayer.h"
#include "player/Threads.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Two mono formats differ only when their packed forms do.
bool audioFormatsDiffer(AVSampleFormat fmt1, int channels1, AVSampleFormat fmt2, int channels2)
{
    if (channels1 == 1 && channels2 == 1)
        return av_get_packed_sample_fmt(fmt1) != av_get_packed_sample_fmt(fmt2);
    return channels1 != channels2 || fmt1 != fmt2;
}

} // namespace

int TAVPlayer::GetVideoFrame(AVFrame* frame)
{
    const int got = viddec->decode_frame(frame, nullptr);
    if (got <= 0)
        return got;
    const AVStream* st = FVideoStream;
    const double dpts = frame->pts == AV_NOPTS_VALUE ? kNaN : av_q2d(st->time_base) * frame->pts;
    if (FFrameDrop && frame->pts != AV_NOPTS_VALUE) {
        // A picture that is late already before filtering is dropped here.
        const double diff = dpts - GetMasterClock();
        if (!std::isnan(diff) && std::fabs(diff) < 10.0 && diff - frame_last_filter_delay < 0 &&
            viddec->pkt_serial == ClockSerial(vidclk) && FVideoQ->NbPackets() > 0) {
            av_frame_unref(frame);
            return 0;
        }
    }
    return 1;
}

void TAVVideoThread::Execute()
{
    TAVPlayer* p = FPlayer;
    FramePointer frame = makeFrame();
    if (!frame)
        return;
    int lastWidth = 0;
    int lastHeight = 0;
    int lastFormat = -2;
    AVStream* st = p->FVideoStream;
    AVRational frameRate = av_guess_frame_rate(p->FIc.get(), st, nullptr);

    while (!p->FAbortRequest) {
        const int got = p->GetVideoFrame(frame.get());
        if (got < 0)
            return;
        if (got == 0)
            continue;

        if (frame->width != lastWidth || frame->height != lastHeight ||
            frame->format != lastFormat) {
            p->ConfigureVideoFilters(frame.get());
            lastWidth = frame->width;
            lastHeight = frame->height;
            lastFormat = frame->format;
            frameRate = av_buffersink_get_frame_rate(p->filt_out);
        }
        frame->sample_aspect_ratio = av_guess_sample_aspect_ratio(p->FIc.get(), st, frame.get());
        if (p->FVideoFiltersChanged) {
            {
                // The refresh thread reads the queue; a pass must not run meanwhile.
                std::lock_guard lock(p->m_refreshLock);
                p->pictq->flush();
            }
            p->frame_timer = nowSeconds();
            p->ConfigureVideoFilters(frame.get());
            p->FVideoFiltersChanged = false;
        }

        // The chain's source declares the aligned width. A frame whose rows hold that many
        // pixels declares it too, which changes nothing downstream and spares the source's
        // warning about a size change on every frame.
        const int aligned = AlignWidth(frame->width);
        int linesizes[4] = {};
        if (aligned != frame->width &&
            av_image_fill_linesizes(linesizes, AVPixelFormat(frame->format), aligned) >= 0 &&
            std::equal(linesizes, linesizes + 4, frame->linesize,
                       [](int need, int have) { return need <= have; }))
            frame->width = aligned;

        if (av_buffersrc_add_frame(p->filt_src, frame.get()) < 0)
            return;
        for (;;) {
            p->frame_last_returned_time = nowSeconds();
            const int ret = av_buffersink_get_frame_flags(p->filt_out, frame.get(), 0);
            if (ret < 0) {
                if (ret == AVERROR_EOF)
                    p->viddec->finished = p->viddec->pkt_serial;
                break;
            }
            double delay = nowSeconds() - p->frame_last_returned_time;
            if (std::fabs(delay) > 1.0)
                delay = 0;
            p->frame_last_filter_delay = delay;
            const AVRational tb = av_buffersink_get_time_base(p->filt_out);
            const double pts = frame->pts == AV_NOPTS_VALUE ? kNaN : frame->pts * av_q2d(tb);
            const double duration =
                frameRate.num && frameRate.den ? av_q2d({frameRate.den, frameRate.num}) : 0;
            const int queued =
                p->QueuePicture(frame.get(), pts, duration, frame->pkt_pos, p->viddec->pkt_serial);
            av_frame_unref(frame.get());
            if (queued < 0)
                return;
        }
    }
}

void TAVAudioThread::Execute()
{
    TAVPlayer* p = FPlayer;
    FramePointer frame = makeFrame();
    if (!frame)
        return;
    // The chain belongs to this thread; it goes with it.
    struct ChainRelease
    {
        TAVPlayer* player;
        ~ChainRelease()
        {
            player->agraph.reset();
            player->in_audio_filter = player->out_audio_filter = nullptr;
            player->FVolumeCtx = nullptr;
        }
    } release{p};

    int ret = 0;
    do {
        const int got = p->auddec->decode_frame(frame.get(), nullptr);
        if (got < 0)
            return;
        if (!got)
            continue;
        const auto format = AVSampleFormat(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        const uint64_t layout =
            frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? frame->ch_layout.u.mask : 0;
        TAudioParams& src = p->audio_filter_src;
        const bool reconfigure = audioFormatsDiffer(src.fmt, src.channels, format, channels) ||
                                 src.channel_layout != layout || src.freq != frame->sample_rate ||
                                 p->FAudioFiltersChanged;
        if (reconfigure) {
            if (p->FAudioFiltersChanged) {
                {
                    // The mixer's effect reads the queue and may still point into a frame.
                    std::lock_guard lock(MixerLock());
                    p->sampq->flush();
                    p->FAudioBuf = nullptr;
                    p->FAudioBufSize = p->audio_buf_index = 0;
                }
                p->FAudioFiltersChanged = false;
            }
            src.fmt = format;
            src.channels = channels;
            src.channel_layout = layout;
            src.freq = frame->sample_rate;
            if (p->ConfigureAudioFilters(true) < 0)
                return;
        }

        if (p->m_volumeChanged.exchange(false) && p->FVolumeCtx) {
            const QByteArray gain = QByteArray::number(p->FVolume.load(), 'f', 2);
            avfilter_process_command(p->FVolumeCtx, "volume", gain.constData(), nullptr, 0, 0);
        }
        if ((ret = av_buffersrc_add_frame(p->in_audio_filter, frame.get())) < 0)
            return;
        while ((ret = av_buffersink_get_frame_flags(p->out_audio_filter, frame.get(), 0)) >= 0) {
            TVideoFrame* af = p->sampq->peek_writable();
            if (!af)
                return;
            const AVRational tb = av_buffersink_get_time_base(p->out_audio_filter);
            af->pts = frame->pts == AV_NOPTS_VALUE ? kNaN : frame->pts * av_q2d(tb);
            af->pos = frame->pkt_pos;
            af->serial = p->auddec->pkt_serial;
            af->duration = double(frame->nb_samples) / frame->sample_rate;
            av_frame_move_ref(af->frame.get(), frame.get());
            p->sampq->push();
            if (p->FAudioQ->Serial() != p->auddec->pkt_serial)
                break;
        }
        if (ret == AVERROR_EOF)
            p->auddec->finished = p->auddec->pkt_serial;
    } while (ret >= 0 || ret == AVERROR(EAGAIN) || ret == AVERROR_EOF);
}

void TAVSubtitleThread::Execute()
{
    TAVPlayer* p = FPlayer;
    for (;;) {
        TVideoFrame* sp = p->subpq->peek_writable();
        if (!sp)
            return;
        const int got = p->subdec->decode_frame(nullptr, &sp->sub);
        if (got < 0)
            return;
        if (!got)
            continue;
        if (sp->sub.format == 0) { // bitmap subtitles only
            sp->pts = sp->sub.pts != AV_NOPTS_VALUE ? sp->sub.pts / double(AV_TIME_BASE) : 0;
            sp->serial = p->subdec->pkt_serial;
            sp->width = p->subdec->avctx()->width;
            sp->height = p->subdec->avctx()->height;
            p->subpq->push();
        } else {
            avsubtitle_free(&sp->sub);
        }
    }
}
