#include "player/AVPlayer.h"

#include "player/Threads.h"
#include "util/Error.h"

#include <QByteArray>

#include <cfloat>
#include <cmath>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The markers' data pointers: only the addresses matter, never the text.
const char kFlushMarker[] = "FLUSH";
const char kEofMarker[] = "EOF";

QStringList metadataLines(const AVDictionary* dict)
{
    QStringList lines;
    const AVDictionaryEntry* t = nullptr;
    while ((t = av_dict_get(dict, "", t, AV_DICT_IGNORE_SUFFIX)))
        lines << QString::asprintf("%s=%s", t->key, t->value);
    return lines;
}

// Per-stream option sets handed to the stream probe, freed after it.
struct DictionaryArray
{
    std::vector<AVDictionary*> sets;
    ~DictionaryArray()
    {
        for (AVDictionary*& d : sets)
            av_dict_free(&d);
    }
};

} // namespace

int AlignWidth(int w)
{
    return std::max(16, ((w + 8) / 16) * 16);
}

TAVStreamProperties::TAVStreamProperties(AVStream* stream) : m_stream(stream)
{
    if (const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id)) {
        m_codecName = QString::fromUtf8(codec->name);
        m_metas = metadataLines(stream->metadata);
    }
}

TAVPlayer::TAVPlayer(QObject* parent) : QObject(parent)
{
    LoadAudioLibraries();
    FFlushPkt = makeMarkerPacket(kFlushMarker);
    FEofPkt = makeMarkerPacket(kEofMarker);
    FStateTimer.setInterval(50);
    connect(&FStateTimer, &QTimer::timeout, this, &TAVPlayer::StateTimerTick);
    FTimer.setInterval(30000);
    connect(&FTimer, &QTimer::timeout, this, &TAVPlayer::KeepAwakeTick);
    FTimer.start();
}

void TAVPlayer::KeepAwakeTick()
{
    // A paused player lets the screen saver run again, as a user expects of a paused film.
    m_keepAwake.setAwake(Playing() && !FPaused);
}

TAVPlayer::~TAVPlayer()
{
    CloseMovie();
    ReleaseMedia();
    std::vector<IAVView*> views;
    {
        std::lock_guard lock(FMutex);
        views.swap(FViewList);
    }
    for (auto it = views.rbegin(); it != views.rend(); ++it)
        (*it)->DetachPlayer();
    LoggerRegistry().RemoveLogger(this);
}

QString TAVPlayer::VideoFilters() const
{
    std::lock_guard lock(m_filterTextLock);
    return FVideoFilters;
}

void TAVPlayer::setVideoFilters(const QString& value)
{
    std::lock_guard lock(m_filterTextLock);
    if (value != FVideoFilters) {
        FVideoFilters = value;
        FVideoFiltersChanged = true;
    }
}

QString TAVPlayer::AudioFilters() const
{
    std::lock_guard lock(m_filterTextLock);
    return FAudioFilters;
}

void TAVPlayer::setAudioFilters(const QString& value)
{
    std::lock_guard lock(m_filterTextLock);
    if (value != FAudioFilters) {
        FAudioFilters = value;
        FAudioFiltersChanged = true;
    }
}

QStringList TAVPlayer::Metadatas() const
{
    std::lock_guard lock(m_textLock);
    return FMetadatas;
}

QString TAVPlayer::LastErrorMessage() const
{
    std::lock_guard lock(m_textLock);
    return FLastErrorMessage;
}

void TAVPlayer::WriteLog(int level, const QString& text)
{
    if (level <= AV_LOG_ERROR) {
        std::lock_guard lock(m_textLock);
        FLastErrorMessage = text;
    }
    emit OnLog(this, level, text);
}

int TAVPlayer::GetLevel() const
{
    static constexpr int kLevels[] = {AV_LOG_PANIC, AV_LOG_FATAL,   AV_LOG_ERROR, AV_LOG_WARNING,
                                      AV_LOG_INFO,  AV_LOG_VERBOSE, AV_LOG_DEBUG};
    const int index = FLogLevel.load();
    return index >= 0 && index < 7 ? kLevels[index] : AV_LOG_DEBUG;
}

void TAVPlayer::setVolume(double value)
{
    FVolume = value;
    // The chain belongs to the audio thread; it hands the new gain to the volume stage.
    m_volumeChanged = true;
}

void TAVPlayer::DoPlaybackFinished()
{
    FPlaybackFinished = true;
}

bool TAVPlayer::Playing() const
{
    // A flag rather than the thread objects, which a non-blocking open creates on its own thread.
    return m_mediaOpen;
}

const TAVPlayer::TStreamPropertyList& TAVPlayer::openList(const TStreamPropertyList& list) const
{
    static const TStreamPropertyList empty;
    return Playing() ? list : empty;
}

void TAVPlayer::OpenMovie(const QString& AMovie, bool Paused, bool Block)
{
    if (Playing())
        CloseMovie();
    ReleaseMedia(); // leftovers of an earlier failed open
    FClosed = false;
    FAbortRequest = false;
    FMovie = AMovie;
    FInitPaused = Paused;
    FBlockOpen = Block;
    if (Block) {
        DoOpenMovie();
    } else {
        FOpenThread = std::make_unique<TAVOpenThread>(this);
        FOpenThread->Start();
    }
    FStateTimer.start();
}

void TAVPlayer::DoOpenMovie()
{
    LoggerEntry logger(this);
    try {
        FFormat = nullptr;
        const QString format = FInputFormat.trimmed();
        if (!format.isEmpty())
            FFormat = av_find_input_format(format.toUtf8().constData());
        if (!StreamOpen())
            throw Error(QStringLiteral("Failed to initialize Video!"));
        if (FInitPaused)
            Pause();
        RunOnUiThread([this] { emit OnStart(this); });
        if (FInitPaused)
            StepForward();
    } catch (const std::exception& e) {
        const QString message = QString::fromUtf8(e.what());
        const bool block = FBlockOpen;
        ReleaseMedia(!block);
        FBlockOpen = true;
        if (block) {
            FClosed = true;
            throw Error(QStringLiteral("Failed to open the file:") + message + QLatin1Char(' ') +
                        LastErrorMessage());
        }
        {
            std::lock_guard lock(m_textLock);
            FLastErrorMessage =
                message.trimmed().isEmpty() ? QStringLiteral("Failed to open the video") : message;
        }
        // The threads of the failed open are gone; the report still reaches the UI thread.
        FAbortRequest = false;
        const QString error = LastErrorMessage();
        RunOnUiThread([this, error] { emit OnConnectionError(this, error); });
        return;
    }
    FBlockOpen = true;
}

void TAVPlayer::SetOption(const QString& name, const QString& value)
{
    const QByteArray key = name.toUtf8();
    const QByteArray text = value.toUtf8();
    const AVClass* cc = avcodec_get_class();
    const AVClass* fc = avformat_get_class();
    constexpr int search = AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ;
    if (const AVOption* o = av_opt_find(&cc, key.constData(), nullptr, 0, search); o && o->flags)
        av_dict_set(codec_opts.ptr(), key.constData(), text.constData(),
                    o->type == AV_OPT_TYPE_FLAGS ? AV_DICT_APPEND : 0);
    if (const AVOption* o = av_opt_find(&fc, key.constData(), nullptr, 0, search))
        av_dict_set(format_opts.ptr(), key.constData(), text.constData(),
                    o->type == AV_OPT_TYPE_FLAGS ? AV_DICT_APPEND : 0);
}

// A raw sample demuxer knows the rate and channel count only from its own options; without
// them it reads every file as 44100 Hz mono and the duration and positions come out wrong.
// The decoder options "ar" and "ac" say what the samples are, so they go to it as well.
void TAVPlayer::PassRawAudioOptions()
{
    if (!FFormat || !FFormat->priv_class)
        return;
    static constexpr std::pair<const char*, const char*> kPairs[] = {{"ar", "sample_rate"},
                                                                     {"ac", "channels"}};
    for (const auto& [codecName, formatName] : kPairs) {
        const AVDictionaryEntry* e = av_dict_get(codec_opts.get(), codecName, nullptr, 0);
        if (!e || av_dict_get(format_opts.get(), formatName, nullptr, 0))
            continue;
        if (av_opt_find(const_cast<AVClass**>(&FFormat->priv_class), formatName, nullptr, 0,
                        AV_OPT_SEARCH_FAKE_OBJ))
            av_dict_set(format_opts.ptr(), formatName, e->value, 0);
    }
}

Dictionary TAVPlayer::FilterCodecOptions(AVCodecID, AVStream* st, const AVCodec* codec) const
{
    Dictionary ret;
    int flags = AV_OPT_FLAG_DECODING_PARAM;
    char prefix = 0;
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        flags |= AV_OPT_FLAG_VIDEO_PARAM;
        prefix = 'v';
        break;
    case AVMEDIA_TYPE_AUDIO:
        flags |= AV_OPT_FLAG_AUDIO_PARAM;
        prefix = 'a';
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        flags |= AV_OPT_FLAG_SUBTITLE_PARAM;
        prefix = 's';
        break;
    default:
        break;
    }
    const AVClass* cc = avcodec_get_class();
    auto isOption = [&](const char* name) {
        return av_opt_find(&cc, name, nullptr, flags, AV_OPT_SEARCH_FAKE_OBJ) ||
               (codec && codec->priv_class &&
                av_opt_find(const_cast<AVClass**>(&codec->priv_class), name, nullptr, flags,
                            AV_OPT_SEARCH_FAKE_OBJ));
    };
    const AVDictionaryEntry* t = nullptr;
    while ((t = av_dict_get(codec_opts.get(), "", t, AV_DICT_IGNORE_SUFFIX))) {
        if (isOption(t->key))
            av_dict_set(ret.ptr(), t->key, t->value, 0);
        else if (prefix && t->key[0] == prefix && isOption(t->key + 1))
            av_dict_set(ret.ptr(), t->key + 1, t->value, 0);
    }
    return ret;
}

int TAVPlayer::DecodeInterrupt(void* opaque)
{
    auto* player = static_cast<TAVPlayer*>(opaque);
    // Outside the shared lock, so that one player's asynchronous open never stalls the others.
    if (!player->FBlockOpen)
        std::this_thread::sleep_for(5ms);
    std::lock_guard lock(InterruptLock());
    const int64_t now = av_gettime_relative();
    const int64_t readTime = player->FReadTime;
    return player->FAbortRequest ||
           (readTime != 0 && now - readTime > int64_t(player->FTimeout) * 1000000);
}

void TAVPlayer::CollectMetadata()
{
    QStringList lines;
    if (FIc) {
        lines << metadataLines(FIc->metadata);
        for (AVStream* st : {FVideoStream.load(), FAudioStream.load(), FSubtitleStream.load()})
            if (st)
                lines << metadataLines(st->metadata);
    }
    std::lock_guard lock(m_textLock);
    FMetadatas = lines;
}

int TAVPlayer::SelectedVideoStream() const
{
    const int i = FVideoStreamIndex;
    return i >= 0 && i < int(FVideoIdxList.size()) ? FVideoIdxList[i] : -1;
}

int TAVPlayer::SelectedAudioStream() const
{
    const int i = FAudioStreamIndex;
    return i >= 0 && i < int(FAudioIdxList.size()) ? FAudioIdxList[i] : -1;
}

int TAVPlayer::SelectedSubtitleStream() const
{
    const int i = FSubtitleStreamIndex;
    return i >= 0 && i < int(FSubtitleIdxList.size()) ? FSubtitleIdxList[i] : -1;
}

bool TAVPlayer::StreamOpen()
{
    FVideoQ = std::make_unique<TAVPacketQueue>(FFlushPkt.get(), FEofPkt.get());
    FAudioQ = std::make_unique<TAVPacketQueue>(FFlushPkt.get(), FEofPkt.get());
    FSubtitleQ = std::make_unique<TAVPacketQueue>(FFlushPkt.get(), FEofPkt.get());
    pictq = std::make_unique<TFrameQueue>(FVideoQ.get(), 4, 1);
    subpq = std::make_unique<TFrameQueue>(FSubtitleQ.get(), 16, 0);
    sampq = std::make_unique<TFrameQueue>(FAudioQ.get(), 9, 1);

    format_opts.clear();
    for (const QString& line : std::as_const(FOptions)) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        SetOption(eq < 0 ? line : line.left(eq), eq < 0 ? QString() : line.mid(eq + 1));
    }
    PassRawAudioOptions();

    AVFormatContext* ic = avformat_alloc_context();
    if (!ic)
        throw Error(QStringLiteral("Can not open file %1 with error!").arg(FMovie));
    ic->interrupt_callback.callback = &TAVPlayer::DecodeInterrupt;
    ic->interrupt_callback.opaque = this;
    const bool scanAdded =
        !av_dict_get(format_opts.get(), "scan_all_pmts", nullptr, AV_DICT_MATCH_CASE);
    if (scanAdded)
        av_dict_set(format_opts.ptr(), "scan_all_pmts", "1", AV_DICT_DONT_OVERWRITE);
    // The open and the probe read too; Timeout bounds them as it bounds a read, so that an
    // input that stalls cannot hang a blocking open for ever.
    FReadTime = av_gettime_relative();
    // On failure avformat_open_input frees the context.
    const int opened =
        m_hostInput.Open(&ic, FInputFormat.trimmed(), FMovie, FFormat, format_opts.ptr());
    FReadTime = 0;
    if (opened < 0)
        throw Error(QStringLiteral("Can not open file %1 with error!").arg(FMovie));
    FIc.reset(ic); // FIc owns the opened container now
    if (scanAdded)
        av_dict_set(format_opts.ptr(), "scan_all_pmts", nullptr, AV_DICT_MATCH_CASE);
    if (const AVDictionaryEntry* t = format_opts.first())
        throw Error(QStringLiteral("Option %1 not found!").arg(QString::fromUtf8(t->key)));

    av_format_inject_global_side_data(ic);

    if (!m_hostInput.IsDevice()) {
        DictionaryArray opts;
        opts.sets.resize(ic->nb_streams, nullptr);
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            AVStream* st = ic->streams[i];
            Dictionary d = FilterCodecOptions(st->codecpar->codec_id, st,
                                              avcodec_find_decoder(st->codecpar->codec_id));
            std::swap(*d.ptr(), opts.sets[i]);
        }
        FReadTime = av_gettime_relative();
        const int probed =
            avformat_find_stream_info(ic, opts.sets.empty() ? nullptr : opts.sets.data());
        FReadTime = 0;
        if (probed < 0)
            return false;
    }

    if (ic->pb)
        ic->pb->eof_reached = 0;
    max_frame_duration = 10.0;

    if (FStartTime != AV_NOPTS_VALUE) {
        int64_t timestamp = FStartTime;
        if (ic->start_time != AV_NOPTS_VALUE)
            timestamp += ic->start_time;
        avformat_seek_file(ic, -1, INT64_MIN, timestamp, INT64_MAX, 0);
    }

    const QString formatName = QString::fromUtf8(ic->iformat->name);
    FIsRealTime = formatName.compare(QLatin1String("rtp"), Qt::CaseInsensitive) == 0 ||
                  formatName.compare(QLatin1String("rtsp"), Qt::CaseInsensitive) == 0 ||
                  formatName.compare(QLatin1String("sdp"), Qt::CaseInsensitive) == 0 ||
                  (ic->pb && (FMovie.startsWith(QLatin1String("rtp:"), Qt::CaseInsensitive) ||
                              FMovie.startsWith(QLatin1String("udp:"), Qt::CaseInsensitive)));

    int videoIndex = -1, audioIndex = -1, subtitleIndex = -1;
    if (!FDisableVideo)
        videoIndex = std::max(-1, av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0));
    if (!FDisableAudio)
        audioIndex =
            std::max(-1, av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0));
    if (!FDisableSubtitle && !FDisableVideo)
        subtitleIndex = std::max(-1, av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, -1,
                                                         audioIndex >= 0 ? audioIndex : videoIndex,
                                                         nullptr, 0));

    FVideoStreamIndex = FAudioStreamIndex = FSubtitleStreamIndex = -1;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* st = ic->streams[i];
        std::vector<int>* list = nullptr;
        std::vector<std::unique_ptr<TAVStreamProperties>>* props = nullptr;
        std::atomic<int>* selected = nullptr;
        int chosen = -1;
        switch (st->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (!FDisableVideo)
                list = &FVideoIdxList, props = &FVideoPropList, selected = &FVideoStreamIndex,
                chosen = videoIndex;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (!FDisableAudio)
                list = &FAudioIdxList, props = &FAudioPropList, selected = &FAudioStreamIndex,
                chosen = audioIndex;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            list = &FSubtitleIdxList, props = &FSubtitlePropList, selected = &FSubtitleStreamIndex,
            chosen = subtitleIndex;
            break;
        default:
            break;
        }
        if (!list)
            continue;
        list->push_back(int(i));
        props->push_back(std::make_unique<TAVStreamProperties>(st));
        if (int(i) == chosen)
            *selected = int(list->size()) - 1;
    }

    if (videoIndex < 0 && audioIndex < 0)
        throw Error(QStringLiteral("Could not open codecs"));

    auto dropFailed = [](std::vector<int>& list, std::atomic<int>& index) {
        const int i = index;
        if (i >= 0 && i < int(list.size()))
            list.erase(list.begin() + i);
        index = -1;
    };
    if (videoIndex < 0) {
        FVideoStreamIndex = -1;
        FSubtitleStreamIndex = -1;
    } else if (!OpenVideoComponent()) {
        dropFailed(FVideoIdxList, FVideoStreamIndex);
    }
    if (FAudioStreamIndex >= 0 && !OpenAudioComponent())
        dropFailed(FAudioIdxList, FAudioStreamIndex);
    if (FSubtitleStreamIndex >= 0 && !OpenSubtitleComponent())
        dropFailed(FSubtitleIdxList, FSubtitleStreamIndex);

    CollectMetadata();
    RunOnUiThread([this] {
        std::vector<IAVView*> views;
        QSize cover;
        {
            std::lock_guard lock(FMutex);
            views = FViewList;
            cover = FCoverImage.size();
        }
        for (IAVView* v : views)
            v->SetVideoSize(cover.width(), cover.height());
    });

    InitClock(vidclk, &FVideoQ->SerialRef());
    InitClock(audclk, &FAudioQ->SerialRef());
    InitClock(extclk, nullptr);

    // The read thread checks the play range against the duration, so it is known before.
    const int64_t end = FEndTime != AV_NOPTS_VALUE ? FEndTime.load() : ic->duration;
    const int64_t start = FStartTime != AV_NOPTS_VALUE ? FStartTime.load() : 0;
    // A container without a duration has AV_NOPTS_VALUE there (INT64_MIN): unknown reads 0,
    // never some -9.2e12 s a window would turn into a bar's range.
    FDuration = end == AV_NOPTS_VALUE ? 0.0 : double(end - start) / 1000000.0;
    FInfinite = ic->duration == AV_NOPTS_VALUE;

    FReadThread = std::make_unique<TAVReadThread>(this);
    FReadThread->Start();
    m_mediaOpen = true;
    if (m_outputEnabled) {
        FRefreshThread = std::make_unique<TAVRefreshThread>(this);
        FRefreshThread->Start();
    }
    return true;
}

CodecPointer TAVPlayer::AllocCodecContext(AVStream* st)
{
    CodecPointer ctx(avcodec_alloc_context3(nullptr));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0)
        return nullptr;
    ctx->pkt_timebase = st->time_base;
    ctx->thread_count = FThreadCount;
    return ctx;
}

// Opens the decoder with the options meant for it; null when it cannot open. An option it
// leaves unused raises "Option %s not found!".
const AVCodec* TAVPlayer::OpenCodec(AVCodecContext* ctx, AVStream* st, const AVCodec* codec)
{
    if (!codec)
        return nullptr;
    ctx->codec_id = codec->id;
    Dictionary opts = FilterCodecOptions(codec->id, st, codec);
    if (!av_dict_get(opts.get(), "threads", nullptr, 0))
        av_dict_set(opts.ptr(), "threads", "auto", 0);
    if (avcodec_open2(ctx, codec, opts.ptr()) < 0)
        return nullptr;
    if (const AVDictionaryEntry* t = opts.first())
        throw Error(QStringLiteral("Option %1 not found!").arg(QString::fromUtf8(t->key)));
    return codec;
}

bool TAVPlayer::OpenVideoComponent()
{
    FVideoStreamChanged = false;
    const int index = SelectedVideoStream();
    if (index < 0)
        return false;
    AVStream* st = FIc->streams[index];
    CodecPointer ctx = AllocCodecContext(st);
    if (!ctx)
        return false;
    const AVCodec* codec = nullptr;
    if (FHardwareAccelerated) {
        const char* name = nullptr;
        switch (st->codecpar->codec_id) {
        case AV_CODEC_ID_H264:
            name = "h264_qsv";
            break;
        case AV_CODEC_ID_HEVC:
            name = "hevc_qsv";
            break;
        case AV_CODEC_ID_VC1:
            name = "vc1_qsv";
            break;
        case AV_CODEC_ID_MPEG2VIDEO:
            name = "mpeg2_qsv";
            break;
        default:
            break;
        }
        if (name)
            codec = avcodec_find_decoder_by_name(name);
    }
    if (!codec)
        codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return false;
    if (!OpenCodec(ctx.get(), st, codec)) {
        // Once more with the default decoder, on a fresh context.
        ctx = AllocCodecContext(st);
        if (!ctx || !OpenCodec(ctx.get(), st, avcodec_find_decoder(st->codecpar->codec_id)))
            return false;
    }
    const bool hardware = ctx->codec != avcodec_find_decoder(st->codecpar->codec_id);
    st->discard = AVDISCARD_DEFAULT;
    m_videoWidth = ctx->width;
    m_videoHeight = ctx->height;
    viddec = std::make_unique<TDecoder>(this, &continue_read_thread, FVideoQ.get(), std::move(ctx));
    if (hardware) {
        // A Quick Sync decoder opens without its device and then fails on every packet.
        viddec->setFallback([this, st]() -> CodecPointer {
            try {
                CodecPointer other = AllocCodecContext(st);
                if (other &&
                    OpenCodec(other.get(), st, avcodec_find_decoder(st->codecpar->codec_id)))
                    return other;
            } catch (const std::exception&) {
            }
            return nullptr;
        });
    }
    FVideoStream = st;
    viddec->start(std::make_unique<TAVVideoThread>(this));
    queue_attachments_req = true;
    return true;
}

bool TAVPlayer::OpenAudioComponent()
{
    const int index = SelectedAudioStream();
    if (index < 0)
        return false;
    AVStream* st = FIc->streams[index];
    CodecPointer ctx = AllocCodecContext(st);
    if (!ctx || !OpenCodec(ctx.get(), st, avcodec_find_decoder(st->codecpar->codec_id)))
        return false;
    audio_filter_src.freq = ctx->sample_rate;
    audio_filter_src.channels = ctx->ch_layout.nb_channels;
    audio_filter_src.channel_layout =
        ctx->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? ctx->ch_layout.u.mask : 0;
    audio_filter_src.fmt = ctx->sample_fmt;
    if (ConfigureAudioFilters(false) < 0)
        return false;
    OpenAudioOutput(ctx.get());
    st->discard = AVDISCARD_DEFAULT;
    audio_src = audio_tgt;
    auddec = std::make_unique<TDecoder>(this, &continue_read_thread, FAudioQ.get(), std::move(ctx));
    const AVInputFormat* iformat = FIc->iformat;
    if ((iformat->flags & (AVFMT_NOBINSEARCH | AVFMT_NOGENSEARCH | AVFMT_NO_BYTE_SEEK)) &&
        !iformat->read_seek) {
        auddec->start_pts = st->start_time;
        auddec->start_pts_tb = st->time_base;
    }
    FAudioStream = st;
    auddec->start(std::make_unique<TAVAudioThread>(this));
    FAudioStreamChanged = false;
    return true;
}

bool TAVPlayer::OpenSubtitleComponent()
{
    FSubtitleStreamChanged = false;
    const int index = SelectedSubtitleStream();
    if (FSubtitleStreamIndex < 0 || index < 0)
        return false;
    AVStream* st = FIc->streams[index];
    CodecPointer ctx = AllocCodecContext(st);
    if (!ctx || !OpenCodec(ctx.get(), st, avcodec_find_decoder(st->codecpar->codec_id)))
        return false;
    st->discard = AVDISCARD_DEFAULT;
    subdec =
        std::make_unique<TDecoder>(this, &continue_read_thread, FSubtitleQ.get(), std::move(ctx));
    FSubtitleStream = st;
    subdec->start(std::make_unique<TAVSubtitleThread>(this));
    subdec->resume();
    return true;
}

void TAVPlayer::CloseVideoComponent()
{
    if (viddec) {
        viddec->abort(pictq.get());
        viddec.reset();
    }
    if (AVStream* st = FVideoStream.exchange(nullptr))
        st->discard = AVDISCARD_ALL;
    FVideoStreamIndex = -1;
}

void TAVPlayer::CloseAudioComponent()
{
    CloseMixerChannel();
    if (auddec) {
        auddec->abort(sampq.get());
        auddec.reset();
    }
    if (AVStream* st = FAudioStream.exchange(nullptr))
        st->discard = AVDISCARD_ALL;
    FAudioStreamIndex = -1;
}

void TAVPlayer::CloseSubtitleComponent()
{
    if (subdec) {
        while (subpq->nb_remaining() > 0)
            subpq->next();
        subdec->abort(subpq.get());
        subdec.reset();
    }
    if (AVStream* st = FSubtitleStream.exchange(nullptr))
        st->discard = AVDISCARD_ALL;
    FSubtitleStreamIndex = -1;
}

// Stops every thread and frees everything of the media; safe on a partly opened one.
void TAVPlayer::ReleaseMedia(bool fromOpenThread)
{
    m_mediaOpen = false;
    FAbortRequest = true;
    abortHandOvers();
    continue_read_thread.notify_all();
    // The UI thread keeps serving hand-overs while it waits, or a worker blocked in one would
    // never end.
    if (!fromOpenThread && FOpenThread) {
        waitServing(FOpenThread.get());
        FOpenThread.reset();
        FAbortRequest = true;
    }
    if (FReadThread) {
        waitServing(FReadThread.get());
        FReadThread.reset();
    }
    if (FRefreshThread) {
        waitServing(FRefreshThread.get());
        FRefreshThread.reset();
    }
    FCurrentVP = nullptr;
    for (TAVPacketQueue* q : {FVideoQ.get(), FAudioQ.get(), FSubtitleQ.get()})
        if (q)
            q->Abort();
    CloseVideoComponent();
    CloseAudioComponent();
    CloseSubtitleComponent();
    pictq.reset();
    sampq.reset();
    subpq.reset();
    FVideoQ.reset();
    FAudioQ.reset();
    FSubtitleQ.reset();
    FVideoIdxList.clear();
    FAudioIdxList.clear();
    FSubtitleIdxList.clear();
    FVideoPropList.clear();
    FAudioPropList.clear();
    FSubtitlePropList.clear();
    video_graph.reset();
    filt_src = filt_out = nullptr;
    agraph.reset();
    in_audio_filter = out_audio_filter = nullptr;
    FVolumeCtx = nullptr;
    format_opts.clear();
    FIc.reset();
    m_hostInput.Close();
    FStep = 0;
    FPaused = false;
    m_videoWidth = 0;
    m_videoHeight = 0;
}

void TAVPlayer::CloseMovie()
{
    if (FClosed)
        return;
    FClosed = true;
    LoggerEntry logger(this);
    ReleaseMedia();
    FStateTimer.stop();
    m_keepAwake.setAwake(false);
    std::vector<IAVView*> views;
    {
        std::lock_guard lock(FMutex);
        views = FViewList;
    }
    for (IAVView* v : views)
        v->SetVideoSize(0, 0);
    FFps = 0;
    FFrameNumber = 0;
    m_framesDropped = 0;
}

void TAVPlayer::TogglePause()
{
    if (FPaused) {
        double lastUpdated;
        {
            std::lock_guard lock(vidclk.lock);
            lastUpdated = vidclk.last_updated;
        }
        frame_timer = frame_timer + nowSeconds() - lastUpdated;
        if (FReadPauseReturn != AVERROR(ENOSYS))
            SetClockPaused(vidclk, false);
        SetClock(vidclk, GetClock(vidclk), ClockSerial(vidclk));
    }
    SetClock(extclk, GetClock(extclk), ClockSerial(extclk));
    FPaused = !FPaused;
    SetClockPaused(audclk, FPaused);
    SetClockPaused(vidclk, FPaused);
    SetClockPaused(extclk, FPaused);
}

void TAVPlayer::Pause()
{
    if (!FPaused)
        TogglePause();
    FStep = 0;
}

void TAVPlayer::Play()
{
    if (FPaused)
        TogglePause();
    FStep = 0;
}

void TAVPlayer::StepForward()
{
    if (FPaused)
        TogglePause();
    if (viddec)
        FStep |= 2;
    if (auddec)
        FStep |= 1;
}

int TAVPlayer::GetMasterSyncType() const
{
    switch (FClockType) {
    case clVideo:
        return FVideoStream ? clVideo : clAudio;
    case clAudio:
        return FAudioStream ? clAudio : clExternal;
    default:
        return clExternal;
    }
}

double TAVPlayer::GetMasterClock() const
{
    switch (GetMasterSyncType()) {
    case clVideo:
        return GetClock(vidclk);
    case clAudio:
        return GetClock(audclk);
    default:
        return GetClock(extclk);
    }
}

double TAVPlayer::Position() const
{
    if (!FIc)
        return 0;
    int64_t start = 0;
    if (FStartTime != AV_NOPTS_VALUE)
        start = FStartTime;
    else if (FIc->start_time != AV_NOPTS_VALUE)
        start = FIc->start_time;
    // An unknown (0) or negative duration bounds nothing.
    const double limit = FDuration > 0 ? FDuration.load() : DBL_MAX;
    double clock = GetMasterClock();
    if (std::isnan(clock))
        clock = 0;
    const double result = std::min(clock - start / 1000000.0, limit);
    return result > 0 ? result : 0;
}

static void selectStream(std::atomic<int>& index, int value, int count, std::atomic<bool>& changed,
                         const char* error, std::atomic<double>& savedPosition, double position)
{
    if (value == index)
        return;
    // A new index outside the list would make the swap open nothing; it is refused as well.
    if (index < 0 || index >= count || value < 0 || value >= count)
        throw Error(QString::fromLatin1(error));
    index = value;
    savedPosition = position;
    changed = true;
}

void TAVPlayer::setVideoStreamIndex(int value)
{
    selectStream(FVideoStreamIndex, value, VideoStreamCount(), FVideoStreamChanged,
                 "Invalid Video Stream Index", FSavedPosition, Position());
}

void TAVPlayer::setAudioStreamIndex(int value)
{
    selectStream(FAudioStreamIndex, value, AudioStreamCount(), FAudioStreamChanged,
                 "Invalid Audio Stream Index", FSavedPosition, Position());
}

void TAVPlayer::setSubtitleStreamIndex(int value)
{
    if (value != FSubtitleStreamIndex) {
        FSubtitleStreamIndex = value;
        FSubtitleStreamChanged = true;
    }
}

void TAVPlayer::setPosition(double x)
{
    if (!FIc)
        return;
    double cur = Position();
    if (FIc->start_time != AV_NOPTS_VALUE)
        cur = std::max(cur, FIc->start_time / 1000000.0);
    int64_t base = 0;
    if (FStartTime != AV_NOPTS_VALUE)
        base = FStartTime;
    else if (FIc->start_time != AV_NOPTS_VALUE)
        base = FIc->start_time;
    const double target = base / 1000000.0 + x;
    const auto pos = int64_t(target * 1000000);
    const auto rel = int64_t((target - (base / 1000000.0 + cur)) * 1000000);
    if (FSeekReq)
        return;
    FSeekPos = pos;
    FSeekRel = rel;
    FSeekReq = true;
    continue_read_thread.notify_all();
}
