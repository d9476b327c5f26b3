// Audio output: every player plays a looping silent chunk on a channel of the one mixer device
// of the process, and an effect on that channel overwrites the chunk's bytes with the player's
// decoded audio. The mixer's thread therefore drives FillAudio, and the audio clock follows
// what it takes.
#include "player/AVPlayer.h"

#include "util/Error.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kMixerRates[] = {44100, 48000, 96000, 192000};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Process-wide device state: opened by the first channel, never closed while the program runs.
int MixerRateIndex = -1;
int MixerOpenCount = 0;
bool s_deviceOpen = false;
std::mutex& mixerStateLock()
{
    static std::mutex lock;
    return lock;
}

QString sdlError()
{
    return QString::fromUtf8(SDL_GetError());
}

void MixerEffect(int, void* stream, int len, void* udata)
{
    std::lock_guard lock(MixerLock());
    try {
        static_cast<TAVPlayer*>(udata)->FillAudio(static_cast<uint8_t*>(stream), len);
    } catch (...) {
        // The mixer's thread must never see an exception; the channel keeps the bytes it had.
    }
}

void MixerEffectDone(int, void*) {}

} // namespace

std::mutex& MixerLock()
{
    static std::mutex lock;
    return lock;
}

void TAVPlayer::OpenAudioOutput(const AVCodecContext* ctx)
{
    if (ctx->sample_rate <= 0 || ctx->ch_layout.nb_channels <= 0)
        throw Error(QStringLiteral("Invalid sample rate or channel count"));
    audio_diff_avg_coef = std::exp(std::log2(0.01) / 20);
    audio_diff_avg_count = 0;
    audio_diff_cum = 0;
    std::memset(chunk_buffer, 0, sizeof chunk_buffer);
    // The device's rate decides the target, which must be whole before the effect runs.
    const int rate = m_outputEnabled ? openMixerDevice() : kMixerRates[0];
    int c = 1;
    while (c < (rate / 1000) * 46)
        c <<= 1;
    FAudioHWBufSize = c * 2 * 2;
    audio_tgt.fmt = AV_SAMPLE_FMT_S16;
    audio_tgt.freq = rate;
    audio_tgt.channel_layout = AV_CH_LAYOUT_STEREO;
    audio_tgt.channels = 2;
    audio_tgt.frame_size = av_samples_get_buffer_size(nullptr, 2, 1, AV_SAMPLE_FMT_S16, 1);
    audio_tgt.bytes_per_sec = av_samples_get_buffer_size(nullptr, 2, rate, AV_SAMPLE_FMT_S16, 1);
    if (audio_tgt.frame_size <= 0 || audio_tgt.bytes_per_sec <= 0)
        throw Error(QStringLiteral("av_samples_get_buffer_size failed"));
    audio_diff_threshold = double(FAudioHWBufSize) / audio_tgt.bytes_per_sec;
    audio_src = audio_tgt;
    audio_clock = kNaN;
    FAudioBufSize = audio_buf_index = 0;
    if (m_outputEnabled)
        OpenMixerChannel();
}

// Opens the device on first use; returns its rate.
int TAVPlayer::openMixerDevice()
{
    std::lock_guard state(mixerStateLock());
    // The device opens once; a channel that failed to start after it leaves it open.
    if (!s_deviceOpen) {
        if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO) < 0)
            throw Error(QStringLiteral("Could not init SDL"));
        if (MixerRateIndex < 0) {
            for (int i = 0; i < int(std::size(kMixerRates)); ++i) {
                if (Mix_OpenAudio(kMixerRates[i], AUDIO_S16SYS, 2, 1024) == 0) {
                    MixerRateIndex = i;
                    break;
                }
            }
            if (MixerRateIndex < 0)
                throw Error(QStringLiteral("SDL_OpenAudio:%1").arg(sdlError()));
        } else if (Mix_OpenAudio(kMixerRates[MixerRateIndex], AUDIO_S16SYS, 2, 1024) != 0) {
            throw Error(QStringLiteral("SDL_OpenAudio:%1").arg(sdlError()));
        }
        s_deviceOpen = true;
    }
    return kMixerRates[MixerRateIndex];
}

void TAVPlayer::OpenMixerChannel()
{
    std::lock_guard state(mixerStateLock());
    chunk_movie.reset(Mix_QuickLoad_RAW(chunk_buffer, sizeof chunk_buffer));
    if (!chunk_movie)
        throw Error(QStringLiteral("no free channel available"));
    // Enough channels for every player of the process.
    if (Mix_AllocateChannels(-1) <= MixerOpenCount)
        Mix_AllocateChannels(MixerOpenCount + 8);
    const int channel = Mix_PlayChannel(-1, chunk_movie.get(), -1);
    if (channel < 0) {
        chunk_movie.reset();
        throw Error(QStringLiteral("no free channel available"));
    }
    mix_movie_channel = channel;
    Mix_RegisterEffect(channel, MixerEffect, MixerEffectDone, this);
    ++MixerOpenCount;
}

void TAVPlayer::CloseMixerChannel()
{
    if (mix_movie_channel >= 0) {
        // Unregistering takes the device lock: once it returns, FillAudio no longer runs.
        const bool ok = Mix_UnregisterEffect(mix_movie_channel, MixerEffect) != 0;
        Mix_HaltChannel(mix_movie_channel);
        mix_movie_channel = -1;
        chunk_movie.reset();
        if (!ok)
            throw Error(QStringLiteral("Can not unregister audio mixer:%1").arg(sdlError()));
    }
    chunk_movie.reset();
    FSwrCtx.reset();
    FAudioBuf = nullptr;
    FAudioBufSize = 0;
    audio_buf_index = 0;
}

void TAVPlayer::MixChunkDeleter::operator()(Mix_Chunk* chunk) const
{
    Mix_FreeChunk(chunk);
}

void TAVPlayer::FillAudio(uint8_t* stream, int len)
{
    FAudioCallbackTime = av_gettime_relative();
    bool tookAudio = false;
    while (len > 0) {
        if (audio_buf_index >= FAudioBufSize) {
            const int size = DecodeAudioFrame();
            if (size < 0) {
                FAudioBuf = FSilenceBuf;
                FAudioBufSize = (sizeof FSilenceBuf / audio_tgt.frame_size) * audio_tgt.frame_size;
            } else {
                FAudioBufSize = unsigned(size);
                tookAudio = true;
            }
            audio_buf_index = 0;
        }
        const int n = std::min(int(FAudioBufSize - audio_buf_index), len);
        // Silence is never reported, also not the rest of a silence buffer taken in an
        // earlier pass: the effect's pieces do not line up with it.
        if (FAudioBuf != FSilenceBuf)
            emit OnAudioBuffer(this, FAudioBuf + audio_buf_index, n);
        std::memcpy(stream, FAudioBuf + audio_buf_index, size_t(n));
        stream += n;
        audio_buf_index += unsigned(n);
        len -= n;
    }
    audio_write_buf_size = int(FAudioBufSize - audio_buf_index);
    // After the last sample has been played the clock runs on freely instead of being pinned
    // to the end minus the assumed device delay, so the position reaches the duration.
    const bool ended = !tookAudio && FAudioBuf == FSilenceBuf && !FPaused && auddec && FAudioQ &&
                       auddec->finished == FAudioQ->Serial();
    if (!std::isnan(audio_clock) && !ended) {
        SetClockAt(audclk,
                   audio_clock - double(2 * FAudioHWBufSize + audio_write_buf_size) /
                                     audio_tgt.bytes_per_sec,
                   audio_clock_serial, FAudioCallbackTime / 1000000.0);
        SyncClockToSlave(extclk, audclk);
    }
}

int TAVPlayer::DecodeAudioFrame()
{
    if (FPaused || !sampq)
        return -1;
    TVideoFrame* af = nullptr;
    do {
        af = sampq->peek_readable(false);
        if (!af)
            return -1;
        sampq->next();
    } while (af->serial != FAudioQ->Serial() && !FAbortRequest);
    if (FAbortRequest)
        return -1;
    // Only a frame of the current serial completes a step: a stale one taken after a paused
    // seek would pause again with the audio clock still invalid.
    if (FStep != 0 && !FPaused) {
        if ((FStep &= ~1) == 0)
            TogglePause();
    }

    AVFrame* frame = af->frame.get();
    const auto format = AVSampleFormat(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int dataSize =
        av_samples_get_buffer_size(nullptr, channels, frame->nb_samples, format, 1);
    AVChannelLayout layout{};
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && channels > 0)
        av_channel_layout_copy(&layout, &frame->ch_layout);
    else
        av_channel_layout_default(&layout, channels);
    const uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    const int wanted = SynchronizeAudio(frame->nb_samples);

    if (format != audio_src.fmt || mask != audio_src.channel_layout ||
        frame->sample_rate != audio_src.freq || (wanted != frame->nb_samples && !FSwrCtx)) {
        FSwrCtx.reset();
        AVChannelLayout out{};
        av_channel_layout_default(&out, audio_tgt.channels);
        SwrContext* swr = nullptr;
        const int ret = swr_alloc_set_opts2(&swr, &out, audio_tgt.fmt, audio_tgt.freq, &layout,
                                            format, frame->sample_rate, 0, nullptr);
        FSwrCtx.reset(swr); // owned here from now on
        av_channel_layout_uninit(&out);
        if (ret < 0 || !FSwrCtx || swr_init(FSwrCtx.get()) < 0) {
            FSwrCtx.reset();
            av_channel_layout_uninit(&layout);
            return -1;
        }
        audio_src.channel_layout = mask;
        audio_src.channels = channels;
        audio_src.freq = frame->sample_rate;
        audio_src.fmt = format;
    }
    av_channel_layout_uninit(&layout);

    int result = 0;
    if (FSwrCtx) {
        const auto** in = const_cast<const uint8_t**>(frame->extended_data);
        const int outCount =
            int(int64_t(wanted) * audio_tgt.freq / frame->sample_rate + 256);
        const int outSize =
            av_samples_get_buffer_size(nullptr, audio_tgt.channels, outCount, audio_tgt.fmt, 0);
        if (outSize < 0)
            return -1;
        if (wanted != frame->nb_samples) {
            const int delta =
                int(int64_t(wanted - frame->nb_samples) * audio_tgt.freq / frame->sample_rate);
            const int distance = int(int64_t(wanted) * audio_tgt.freq / frame->sample_rate);
            if (swr_set_compensation(FSwrCtx.get(), delta, distance) < 0)
                return -1;
        }
        uint8_t* buf = FAudioBuf1.release();
        av_fast_malloc(&buf, &audio_buf1_size, size_t(outSize));
        FAudioBuf1.reset(buf); // av_fast_malloc frees the old block itself
        if (!buf)
            return -1;
        uint8_t* outPlanes[] = {buf};
        const int converted =
            swr_convert(FSwrCtx.get(), outPlanes, outCount, in, frame->nb_samples);
        if (converted < 0)
            return -1;
        if (converted == outCount && swr_init(FSwrCtx.get()) < 0)
            FSwrCtx.reset();
        FAudioBuf = buf;
        result = converted * audio_tgt.channels * av_get_bytes_per_sample(audio_tgt.fmt);
    } else {
        FAudioBuf = frame->data[0];
        result = dataSize;
    }
    audio_clock =
        std::isnan(af->pts) ? kNaN : af->pts + double(frame->nb_samples) / frame->sample_rate;
    audio_clock_serial = af->serial;
    return result;
}

int TAVPlayer::SynchronizeAudio(int nb_samples)
{
    if (GetMasterSyncType() == clAudio)
        return nb_samples;
    const double diff = GetClock(audclk) - GetMasterClock();
    if (std::isnan(diff) || std::fabs(diff) >= 10) {
        audio_diff_avg_count = 0;
        audio_diff_cum = 0;
        return nb_samples;
    }
    audio_diff_cum = diff + audio_diff_avg_coef * audio_diff_cum;
    if (audio_diff_avg_count < 20) {
        ++audio_diff_avg_count;
        return nb_samples;
    }
    if (std::fabs(audio_diff_cum * (1.0 - audio_diff_avg_coef)) >= audio_diff_threshold) {
        const int wanted = nb_samples + int(diff * audio_src.freq);
        return std::clamp(wanted, nb_samples * 90 / 100, nb_samples * 110 / 100);
    }
    return nb_samples;
}

void TAVPlayer::CheckExternalClockSpeed()
{
    const bool video = FVideoStream != nullptr;
    const bool audio = FAudioStream != nullptr;
    const int vq = video && FVideoQ ? FVideoQ->NbPackets() : 0;
    const int aq = audio && FAudioQ ? FAudioQ->NbPackets() : 0;
    double speed;
    {
        std::lock_guard lock(extclk.lock);
        speed = extclk.speed;
    }
    if ((video && vq <= 2) || (audio && aq <= 2))
        SetClockSpeed(extclk, std::max(0.900, speed - 0.001));
    else if ((video && vq > 10) || (audio && aq > 10))
        SetClockSpeed(extclk, std::min(1.010, speed + 0.001));
    else if (speed != 1.0)
        SetClockSpeed(extclk, speed + 0.001 * (1.0 - speed) / std::fabs(1.0 - speed));
}
