#pragma once

// Owning wrappers for the FFmpeg handles the engine uses.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
}

#include <QString>

#include <memory>
#include <utility>

struct FormatContextDeleter
{
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct CodecContextDeleter
{
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameDeleter
{
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketDeleter
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FilterGraphDeleter
{
    void operator()(AVFilterGraph* p) const { avfilter_graph_free(&p); }
};
struct FilterInOutDeleter
{
    void operator()(AVFilterInOut* p) const { avfilter_inout_free(&p); }
};
struct SwrContextDeleter
{
    void operator()(SwrContext* p) const { swr_free(&p); }
};

using FormatPointer = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecPointer = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePointer = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPointer = std::unique_ptr<AVPacket, PacketDeleter>;
using FilterGraphPointer = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using FilterInOutPointer = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;
using SwresamplePointer = std::unique_ptr<SwrContext, SwrContextDeleter>;

[[nodiscard]] inline FramePointer makeFrame()
{
    return FramePointer(av_frame_alloc());
}
[[nodiscard]] inline PacketPointer makePacket()
{
    return PacketPointer(av_packet_alloc());
}

// An option dictionary; FFmpeg calls take and may replace it through ptr().
class Dictionary final
{
public:
    Dictionary() = default;
    ~Dictionary() { av_dict_free(&m_dict); }
    Dictionary(Dictionary&& other) noexcept : m_dict(std::exchange(other.m_dict, nullptr)) {}
    Dictionary& operator=(Dictionary&& other) noexcept
    {
        if (this != &other) {
            av_dict_free(&m_dict);
            m_dict = std::exchange(other.m_dict, nullptr);
        }
        return *this;
    }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;

    AVDictionary* get() const { return m_dict; }
    AVDictionary** ptr() { return &m_dict; }
    void clear() { av_dict_free(&m_dict); }
    int count() const { return av_dict_count(m_dict); }
    // The first entry, or none; used to name options nobody consumed.
    const AVDictionaryEntry* first() const
    {
        return av_dict_get(m_dict, "", nullptr, AV_DICT_IGNORE_SUFFIX);
    }

private:
    AVDictionary* m_dict = nullptr;
};

// An FFmpeg result code: negative values are errors.
struct AvResult
{
    int code = 0;
    bool failed() const { return code < 0; }
    QString text() const
    {
        char buf[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(code, buf, sizeof buf);
        return QString::fromUtf8(buf);
    }
};
