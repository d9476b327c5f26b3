#include "player/AVPlayer.h"
#include "util/Error.h"

#include <algorithm>
#include <climits>

int SetIntList(void* obj, const char* name, int flags, uint64_t terminator, int elementSize,
               const void* list)
{
    const unsigned count = av_int_list_length_for_size(elementSize, list, terminator);
    if (uint64_t(count) * uint64_t(elementSize) > uint64_t(INT_MAX))
        return AVERROR(EINVAL);
    return av_opt_set_bin(obj, name, static_cast<const uint8_t*>(list), int(count * elementSize),
                          flags);
}

int TAVPlayer::ConfigureFilterGraph(AVFilterGraph* graph, const QString& filters,
                                    AVFilterContext* source, AVFilterContext* last)
{
    const unsigned before = graph->nb_filters;
    if (!filters.trimmed().isEmpty()) {
        FilterInOutPointer outputs(avfilter_inout_alloc());
        FilterInOutPointer inputs(avfilter_inout_alloc());
        if (!outputs || !inputs)
            throw Error(QStringLiteral("Parse Graph Failed with Filter %1").arg(filters));
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        outputs->pad_idx = 0;
        outputs->next = nullptr;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = last;
        inputs->pad_idx = 0;
        inputs->next = nullptr;
        // The parser takes both lists and hands back what it left unlinked.
        AVFilterInOut* in = inputs.release();
        AVFilterInOut* out = outputs.release();
        const int ret =
            avfilter_graph_parse_ptr(graph, filters.toUtf8().constData(), &in, &out, nullptr);
        inputs.reset(in);
        outputs.reset(out);
        if (ret < 0)
            throw Error(QStringLiteral("Parse Graph Failed with Filter %1").arg(filters));
    } else if (avfilter_link(source, 0, last, 0) < 0) {
        throw Error(QStringLiteral("line filter failed"));
    }
    // The host's filters go first, so that they are configured before the fixed stages.
    std::rotate(graph->filters, graph->filters + before, graph->filters + graph->nb_filters);
    const int ret = avfilter_graph_config(graph, nullptr);
    if (ret < 0)
        throw Error(QStringLiteral("config graph failed"));
    return ret;
}

int TAVPlayer::ConfigureAudioFilters(bool force)
{
    agraph.reset();
    in_audio_filter = out_audio_filter = nullptr;
    FVolumeCtx = nullptr;
    agraph.reset(avfilter_graph_alloc());
    if (!agraph)
        throw Error(QStringLiteral("Can not create filter"));
    AVFilterGraph* graph = agraph.get();
    av_opt_set(graph, "aresample_swr_opts", "", 0);

    const TAudioParams& src = audio_filter_src;
    QByteArray args = QByteArray("sample_rate=") + QByteArray::number(src.freq) +
                      ":sample_fmt=" + av_get_sample_fmt_name(src.fmt) +
                      ":channels=" + QByteArray::number(src.channels) + ":time_base=1/" +
                      QByteArray::number(src.freq);
    if (src.channel_layout)
        args += ":channel_layout=0x" + QByteArray::number(qulonglong(src.channel_layout), 16);

    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    if (avfilter_graph_create_filter(&source, avfilter_get_by_name("abuffer"), "ffplay_abuffer",
                                     args.constData(), nullptr, graph) < 0 ||
        avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"),
                                     "ffplay_abuffersink", nullptr, nullptr, graph) < 0)
        throw Error(QStringLiteral("Can not create filter"));
    static const int sampleFormats[] = {AV_SAMPLE_FMT_S16, -1};
    if (SetIntList(sink, "sample_fmts", AV_OPT_SEARCH_CHILDREN, uint64_t(-1), sizeof(int),
                   sampleFormats) < 0 ||
        av_opt_set_int(sink, "all_channel_counts", 1, AV_OPT_SEARCH_CHILDREN) < 0)
        throw Error(QStringLiteral("Can not create filter"));
    if (force) {
        // The output layout names its channel count as well, so it is the only layout given.
        AVChannelLayout layout = {};
        char layoutName[64] = {};
        const int rates[] = {audio_tgt.freq, -1};
        if (av_channel_layout_from_mask(&layout, audio_tgt.channel_layout) < 0 ||
            av_channel_layout_describe(&layout, layoutName, sizeof layoutName) < 0 ||
            av_opt_set_int(sink, "all_channel_counts", 0, AV_OPT_SEARCH_CHILDREN) < 0 ||
            av_opt_set(sink, "ch_layouts", layoutName, AV_OPT_SEARCH_CHILDREN) < 0 ||
            SetIntList(sink, "sample_rates", AV_OPT_SEARCH_CHILDREN, uint64_t(-1), sizeof(int),
                       rates) < 0)
            throw Error(QStringLiteral("Can not create filter"));
    }

    AVFilterContext* volume = nullptr;
    const QByteArray gain = QByteArray::number(FVolume, 'f', 2).replace(',', '.');
    if (avfilter_graph_create_filter(&volume, avfilter_get_by_name("volume"), "volume_filter",
                                     gain.constData(), nullptr, graph) < 0)
        throw Error(QStringLiteral("Can not create volume filter"));
    if (avfilter_link(volume, 0, sink, 0) < 0)
        throw Error(QStringLiteral("Can not link volume filter"));
    FVolumeCtx = volume;

    const int ret = ConfigureFilterGraph(graph, AudioFilters(), source, volume);
    in_audio_filter = source;
    out_audio_filter = sink;
    return ret;
}

void TAVPlayer::ConfigureVideoFilters(AVFrame* frame)
{
    video_graph.reset();
    filt_src = filt_out = nullptr;
    AVStream* st = FVideoStream;
    const AVRational frameRate = av_guess_frame_rate(FIc.get(), st, nullptr);
    video_graph.reset(avfilter_graph_alloc());
    if (!video_graph)
        throw Error(QStringLiteral("Can not create filter"));
    AVFilterGraph* graph = video_graph.get();

    const AVRational tb = st->time_base;
    const AVRational sar = st->codecpar->sample_aspect_ratio;
    QByteArray args =
        QString::asprintf("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                          AlignWidth(frame->width), frame->height, frame->format, tb.num, tb.den,
                          sar.num, std::max(sar.den, 1))
            .toUtf8();
    if (frameRate.num && frameRate.den)
        args += QString::asprintf(":frame_rate=%d/%d", frameRate.num, frameRate.den).toUtf8();

    AVFilterContext* source = nullptr;
    if (avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "ffplay_buffer",
                                     args.constData(), this, graph) < 0)
        throw Error(QStringLiteral("Can not create filter"));
    AVFilterContext* sink = nullptr;
    if (avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "ffplay_buffersink",
                                     nullptr, nullptr, graph) < 0)
        throw Error(QStringLiteral("Can not create buffersink filter"));
    const int pixelFormats[] = {FRGBMode ? AV_PIX_FMT_BGRA : AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
    if (SetIntList(sink, "pix_fmts", AV_OPT_SEARCH_CHILDREN, uint64_t(int64_t(AV_PIX_FMT_NONE)),
                   sizeof(int), pixelFormats) < 0)
        throw Error(QStringLiteral("Can not create pix format filter"));
    // Pictures leave the chain in sizes that are multiples of 16; the crop is centred.
    AVFilterContext* crop = nullptr;
    if (avfilter_graph_create_filter(&crop, avfilter_get_by_name("crop"), "ffplay_crop",
                                     "floor(in_w/16)*16:floor(in_h/16)*16", nullptr, graph) < 0)
        throw Error(QStringLiteral("Can not create crop filter"));
    if (avfilter_link(crop, 0, sink, 0) < 0)
        throw Error(QStringLiteral("Can not link filter crop"));

    ConfigureFilterGraph(graph, VideoFilters(), source, crop);
    filt_src = source;
    filt_out = sink;
    m_videoWidth = av_buffersink_get_w(sink);
    m_videoHeight = av_buffersink_get_h(sink);
    if (m_outputEnabled)
        RunOnUiThread([this] { ResetViews(); });
}

int TAVPlayer::QueuePicture(AVFrame* frame, double pts, double duration, int64_t pos, int serial)
{
    TVideoFrame* vp = pictq->peek_writable();
    if (!vp)
        return -1;
    FSar = frame->sample_aspect_ratio;
    const int width = AlignWidth(m_videoWidth);
    const int height = m_videoHeight;
    if (vp->width != width || vp->height != height) {
        vp->width = width;
        vp->height = height;
        vp->bmp.reset();
    }
    vp->bmp.reset(av_frame_clone(frame));
    vp->pts = pts;
    vp->duration = duration;
    vp->pos = pos;
    vp->serial = serial;
    pictq->push();
    return 0;
}
