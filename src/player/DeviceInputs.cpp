// The engine's own input devices. FFmpeg no longer lets a program register input formats, so
// each device fills a container with its one stream itself, described completely (codec
// parameters, time base, frame rate, extra data), and hands the read thread its packets.
//
// Video devices deliver at most one picture per frame period of the NTSC rate, audio packets
// as the host receives them; every packet is stamped with the wall clock in microseconds.
#include "player/DeviceInputs.h"

#include "util/Error.h"

#include <QByteArray>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <xcb/xcb.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr AVRational kNtsc{30000, 1001};
constexpr AVRational kMicroseconds{1, 1000000};
static_assert(AV_CODEC_ID_ALAC == 86032);

// What a device's container reports as its format: a name and no way to seek.
AVInputFormat describe(const char* name, const char* longName)
{
    AVInputFormat f{};
    f.name = name;
    f.long_name = longName;
    f.flags = AVFMT_NOFILE | AVFMT_NOBINSEARCH | AVFMT_NOGENSEARCH | AVFMT_NO_BYTE_SEEK;
    return f;
}

const AVInputFormat kBmpcap = describe("bmpcap", "Host bitmap");
const AVInputFormat kBmpcap2 = describe("bmpcap2", "Host bitmap by callback");
const AVInputFormat kGdi2 = describe("gdi2", "Screen rectangle");
const AVInputFormat kAir = describe("air", "ALAC packets from the host");

bool interrupted(AVFormatContext* ic)
{
    const AVIOInterruptCB& cb = ic->interrupt_callback;
    return cb.callback && cb.callback(cb.opaque);
}

// Sleeps until the monotonic time until, checking ic's interrupt callback at least every
// 10 ms; false when it broke off.
bool sleepUntil(AVFormatContext* ic, int64_t until)
{
    for (;;) {
        if (interrupted(ic))
            return false;
        const int64_t left = until - av_gettime_relative();
        if (left <= 0)
            return true;
        av_usleep(unsigned(std::min<int64_t>(left, 10000)));
    }
}

// The container of a live device: no duration, positions count from the open.
void beginContainer(AVFormatContext* ic, const AVInputFormat* format)
{
    ic->iformat = format;
    ic->duration = AV_NOPTS_VALUE;
    ic->start_time = av_gettime();
}

void stamp(AVPacket* pkt)
{
    pkt->stream_index = 0;
    pkt->pts = pkt->dts = av_gettime();
    pkt->flags |= AV_PKT_FLAG_KEY;
}

class TVideoDevice : public THostDevice
{
protected:
    // Adds the raw-video stream; extra data is a flag text such as "BottomUp".
    int addStream(AVFormatContext* ic, int width, int height, AVPixelFormat format, int bits,
                  const char* flagText)
    {
        AVStream* st = avformat_new_stream(ic, nullptr);
        if (!st)
            return AVERROR(ENOMEM);
        st->time_base = kMicroseconds;
        st->start_time = ic->start_time;
        st->avg_frame_rate = st->r_frame_rate = kNtsc;
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->format = format;
        par->width = width;
        par->height = height;
        par->bits_per_coded_sample = bits;
        if (flagText) {
            // The text with its terminating zero; the raw-video decoder looks for exactly that.
            const int size = int(std::strlen(flagText)) + 1;
            par->extradata =
                static_cast<uint8_t*>(av_mallocz(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!par->extradata)
                return AVERROR(ENOMEM);
            std::memcpy(par->extradata, flagText, size_t(size));
            par->extradata_size = size;
        }
        m_rowBytes = width * bits / 8;
        m_height = height;
        return 0;
    }

    // Waits for the next frame period; false when interrupted.
    bool pace(AVFormatContext* ic)
    {
        const int64_t period = av_rescale_q(1, av_inv_q(kNtsc), kMicroseconds);
        const int64_t now = av_gettime_relative();
        // The first picture comes at once; one that is late does not make the next ones hurry.
        if (m_next == 0 || now - m_next > period)
            m_next = now;
        if (!sleepUntil(ic, m_next))
            return false;
        m_next += period;
        return true;
    }

    // Logs a failing read once, not at every picture.
    void logOnce(AVFormatContext* ic, const QString& text)
    {
        if (m_logged)
            return;
        m_logged = true;
        av_log(ic, AV_LOG_ERROR, "%s\n", text.toUtf8().constData());
    }

    int m_rowBytes = 0;
    int m_height = 0;

private:
    int64_t m_next = 0;
    bool m_logged = false;
};

bool isBgra32(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
           format == QImage::Format_ARGB32_Premultiplied;
}

// "bmpcap" and "bmpcap2".
class TBitmapDevice final : public TVideoDevice
{
public:
    explicit TBitmapDevice(std::shared_ptr<TBitmapState> state) : m_state(std::move(state)) {}

    int Open(AVFormatContext* ic) override
    {
        QSize size;
        {
            std::lock_guard lock(m_state->lock);
            std::lock_guard bitmapLock(BitmapLock());
            if (m_state->alive)
                size = m_state->bitmap.size();
        }
        if (size.isEmpty()) {
            av_log(ic, AV_LOG_ERROR, "%s: the bitmap is empty\n", name());
            return AVERROR(EINVAL);
        }
        m_size = size;
        beginContainer(ic, callback() ? &kBmpcap2 : &kBmpcap);
        return addStream(ic, size.width(), size.height(), AV_PIX_FMT_BGRA, 32, nullptr);
    }

    int Read(AVFormatContext* ic, AVPacket* pkt) override
    {
        if (!pace(ic))
            return AVERROR_EXIT;
        if (!callback()) {
            std::lock_guard lock(m_state->lock);
            if (!m_state->alive)
                return AVERROR_EOF;
            std::lock_guard bitmapLock(BitmapLock());
            return copy(ic, m_state->bitmap, pkt);
        }
        // Asks until the host has a picture ready, every 20 ms.
        for (;;) {
            {
                std::lock_guard lock(m_state->lock);
                if (!m_state->alive)
                    return AVERROR_EOF;
                QImage slot;
                {
                    std::lock_guard bitmapLock(BitmapLock());
                    slot = m_state->bitmap;
                }
                bool ready = false;
                try {
                    m_state->callback(slot, ready);
                } catch (const std::exception& e) {
                    logOnce(ic, QStringLiteral("bmpcap2: the callback failed: %1")
                                    .arg(QString::fromUtf8(e.what())));
                    return AVERROR_EXTERNAL;
                }
                if (ready) {
                    std::lock_guard bitmapLock(BitmapLock());
                    return copy(ic, slot, pkt);
                }
            }
            if (!sleepUntil(ic, av_gettime_relative() + 20000))
                return AVERROR_EXIT;
        }
    }

private:
    bool callback() const { return m_state->kind == THostKind::BitmapCallback; }
    const char* name() const { return callback() ? "bmpcap2" : "bmpcap"; }

    // A picture of another size or layout would not fit the stream: that read fails.
    int copy(AVFormatContext* ic, const QImage& image, AVPacket* pkt)
    {
        if (image.size() != m_size || !isBgra32(image.format())) {
            logOnce(ic, QStringLiteral("%1: the bitmap is %2x%3 in format %4; the stream is "
                                       "%5x%6 in 32-bit BGRA")
                            .arg(QLatin1String(name()))
                            .arg(image.width())
                            .arg(image.height())
                            .arg(int(image.format()))
                            .arg(m_size.width())
                            .arg(m_size.height()));
            return AVERROR(EINVAL);
        }
        const int ret = av_new_packet(pkt, m_rowBytes * m_height);
        if (ret < 0)
            return ret;
        for (int y = 0; y < m_height; ++y)
            std::memcpy(pkt->data + y * m_rowBytes, image.constScanLine(y), size_t(m_rowBytes));
        stamp(pkt);
        return 0;
    }

    std::shared_ptr<TBitmapState> m_state;
    QSize m_size;
};

struct XcbDeleter
{
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
struct MallocDeleter
{
    void operator()(void* p) const { std::free(p); }
};

// The FFmpeg pixel format of an X screen's pixmaps, or none.
AVPixelFormat screenPixelFormat(int bits, const xcb_visualtype_t* visual, bool msbFirst)
{
    if (!visual)
        return AV_PIX_FMT_NONE;
    const uint32_t r = visual->red_mask, g = visual->green_mask, b = visual->blue_mask;
    if (bits == 32 && r == 0xff0000 && g == 0xff00 && b == 0xff)
        return msbFirst ? AV_PIX_FMT_0RGB : AV_PIX_FMT_BGR0;
    if (bits == 32 && r == 0xff && g == 0xff00 && b == 0xff0000)
        return msbFirst ? AV_PIX_FMT_0BGR : AV_PIX_FMT_RGB0;
    if (bits == 24 && r == 0xff0000 && g == 0xff00 && b == 0xff)
        return msbFirst ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_BGR24;
    if (bits == 16 && r == 0xf800 && g == 0x7e0 && b == 0x1f)
        return msbFirst ? AV_PIX_FMT_RGB565BE : AV_PIX_FMT_RGB565LE;
    if (bits == 16 && r == 0x7c00 && g == 0x3e0 && b == 0x1f)
        return msbFirst ? AV_PIX_FMT_RGB555BE : AV_PIX_FMT_RGB555LE;
    return AV_PIX_FMT_NONE;
}

// "gdi2": a rectangle of the X11 screen, copied bottom-up in the screen's pixel format; the
// "BottomUp" extra data tells the raw-video decoder to turn it back.
class TScreenDevice final : public TVideoDevice
{
public:
    explicit TScreenDevice(std::shared_ptr<TScreenState> state) : m_state(std::move(state)) {}

    int Open(AVFormatContext* ic) override
    {
        {
            std::lock_guard lock(m_state->lock);
            m_area = m_state->area;
        }
        int screenNumber = 0;
        m_connection.reset(xcb_connect(nullptr, &screenNumber));
        if (!m_connection || xcb_connection_has_error(m_connection.get())) {
            av_log(ic, AV_LOG_ERROR, "gdi2: can not connect to the X display\n");
            return AVERROR(EIO);
        }
        const xcb_setup_t* setup = xcb_get_setup(m_connection.get());
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        const xcb_screen_t* screen = it.rem ? it.data : nullptr;
        if (!screen) {
            av_log(ic, AV_LOG_ERROR, "gdi2: the X display has no screen %d\n", screenNumber);
            return AVERROR(EIO);
        }
        if (m_area.left() < 0 || m_area.top() < 0 ||
            m_area.left() + m_area.width() > screen->width_in_pixels ||
            m_area.top() + m_area.height() > screen->height_in_pixels) {
            av_log(ic, AV_LOG_ERROR, "Specified size greater than Desktop size.\n");
            return AVERROR(EIO);
        }
        if (m_area.width() <= 0 || m_area.height() <= 0) {
            av_log(ic, AV_LOG_ERROR, "gdi2: the capture area is empty\n");
            return AVERROR(EINVAL);
        }
        m_root = screen->root;

        int bits = 0;
        for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem;
             xcb_format_next(&f))
            if (f.data->depth == screen->root_depth)
                bits = f.data->bits_per_pixel;
        const xcb_visualtype_t* visual = nullptr;
        for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual;
             xcb_depth_next(&d))
            for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem;
                 xcb_visualtype_next(&v))
                if (v.data->visual_id == screen->root_visual) {
                    visual = v.data;
                    break;
                }
        const AVPixelFormat format =
            screenPixelFormat(bits, visual, setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST);
        if (format == AV_PIX_FMT_NONE) {
            av_log(ic, AV_LOG_ERROR, "gdi2: unsupported screen format (depth %d, %d bits)\n",
                   int(screen->root_depth), bits);
            return AVERROR(ENOSYS);
        }
        beginContainer(ic, &kGdi2);
        return addStream(ic, m_area.width(), m_area.height(), format, bits, "BottomUp");
    }

    int Read(AVFormatContext* ic, AVPacket* pkt) override
    {
        if (!pace(ic))
            return AVERROR_EXIT;
        {
            std::lock_guard lock(m_state->lock);
            if (!m_state->alive)
                return AVERROR_EOF;
        }
        xcb_connection_t* c = m_connection.get();
        const xcb_get_image_cookie_t cookie = xcb_get_image(
            c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(m_area.left()), int16_t(m_area.top()),
            uint16_t(m_area.width()), uint16_t(m_area.height()), ~0u);
        xcb_generic_error_t* error = nullptr;
        std::unique_ptr<xcb_get_image_reply_t, MallocDeleter> reply(
            xcb_get_image_reply(c, cookie, &error));
        std::free(error);
        if (!reply) {
            logOnce(ic, QStringLiteral("gdi2: the screen could not be read"));
            return AVERROR(EIO);
        }
        const uint8_t* data = xcb_get_image_data(reply.get());
        const int length = xcb_get_image_data_length(reply.get());
        const int stride = length / m_height;
        if (stride < m_rowBytes) {
            logOnce(ic, QStringLiteral("gdi2: the screen returned too few bytes"));
            return AVERROR(EIO);
        }
        const int ret = av_new_packet(pkt, m_rowBytes * m_height);
        if (ret < 0)
            return ret;
        // Bottom row first.
        for (int y = 0; y < m_height; ++y)
            std::memcpy(pkt->data + y * m_rowBytes, data + (m_height - 1 - y) * stride,
                        size_t(m_rowBytes));
        stamp(pkt);
        return 0;
    }

private:
    std::shared_ptr<TScreenState> m_state;
    QRect m_area;
    std::unique_ptr<xcb_connection_t, XcbDeleter> m_connection;
    xcb_window_t m_root = 0;
};

void putBe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// "air": one ALAC stream described by the twelve numbers of an AirPlay "fmtp" line: payload
// type, frame length, compatible version, sample size, rice history mult, rice initial history,
// rice limit, channels, max run, max frame bytes, average bit rate, sample rate.
class TAirDevice final : public THostDevice
{
public:
    explicit TAirDevice(std::shared_ptr<TAirState> state) : m_state(std::move(state)) {}

    int Open(AVFormatContext* ic) override
    {
        QByteArray text;
        {
            std::lock_guard lock(m_state->lock);
            text = m_state->format.toLatin1();
        }
        unsigned n[12] = {};
        const int count =
            std::sscanf(text.constData(), "%u %u %u %u %u %u %u %u %u %u %u %u", &n[0], &n[1],
                        &n[2], &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], &n[9], &n[10], &n[11]);
        if (n[0] != 96)
            throw Error(QStringLiteral("Assertion failure (AirAudio, line 87)"));
        if (count != 12) {
            av_log(ic, AV_LOG_ERROR, "air: the format has %d numbers, not twelve\n",
                   std::max(count, 0));
            return AVERROR(EINVAL);
        }
        AVSampleFormat format;
        switch (n[3]) {
        case 8:
            format = AV_SAMPLE_FMT_U8;
            break;
        case 16:
            format = AV_SAMPLE_FMT_S16;
            break;
        case 24:
        case 32:
            format = AV_SAMPLE_FMT_S32;
            break;
        default:
            av_log(ic, AV_LOG_ERROR, "air: unsupported sample size %u\n", n[3]);
            return AVERROR(EINVAL);
        }
        // Limits of the ALAC description: one byte of channels, a positive rate.
        if (n[7] < 1 || n[7] > 8 || n[11] < 1 || n[11] > INT_MAX) {
            av_log(ic, AV_LOG_ERROR, "air: %u channels at %u Hz can not be played\n", n[7], n[11]);
            return AVERROR(EINVAL);
        }

        beginContainer(ic, &kAir);
        AVStream* st = avformat_new_stream(ic, nullptr);
        if (!st)
            return AVERROR(ENOMEM);
        st->time_base = kMicroseconds;
        st->start_time = ic->start_time;
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_ALAC;
        par->format = format;
        par->sample_rate = int(n[11]);
        av_channel_layout_default(&par->ch_layout, int(n[7]));
        par->bits_per_coded_sample = int(n[3]);

        constexpr int kSize = 36;
        auto* e = static_cast<uint8_t*>(av_mallocz(kSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!e)
            return AVERROR(ENOMEM);
        putBe32(e, kSize);
        std::memcpy(e + 4, "alac", 4);
        putBe32(e + 8, 0);     // version
        putBe32(e + 12, n[1]); // frame length
        e[16] = 0;             // compatible version
        e[17] = uint8_t(n[3]);
        e[18] = uint8_t(n[4]);
        e[19] = uint8_t(n[5]);
        e[20] = uint8_t(n[6]);
        e[21] = uint8_t(n[7]);
        e[22] = e[23] = 0;
        putBe32(e + 24, n[9]);
        putBe32(e + 28, n[10]);
        putBe32(e + 32, n[11]);
        par->extradata = e;
        par->extradata_size = kSize;
        return 0;
    }

    int Read(AVFormatContext* ic, AVPacket* pkt) override
    {
        if (m_ended)
            return AVERROR_EOF;
        for (;;) {
            {
                std::lock_guard lock(m_state->lock);
                if (!m_state->alive)
                    return AVERROR_EOF;
                TAVPacketQueue& q = *m_state->queue;
                if (q.Get(pkt, false, nullptr) > 0) {
                    const bool end = q.IsEof(pkt);
                    if (end || q.IsFlush(pkt) || pkt->size <= 0) {
                        // Markers carry no payload of their own.
                        av_packet_unref(pkt);
                        if (end) {
                            m_ended = true;
                            return AVERROR_EOF;
                        }
                        continue;
                    }
                    stamp(pkt);
                    return 0;
                }
                if (q.AbortRequest())
                    return AVERROR_EOF;
            }
            if (!sleepUntil(ic, av_gettime_relative() + 5000))
                return AVERROR_EXIT;
        }
    }

private:
    std::shared_ptr<TAirState> m_state;
    bool m_ended = false;
};

} // namespace

std::unique_ptr<THostDevice> makeHostDevice(const QString& inputFormat, const QString& number)
{
    THostKind kind;
    if (inputFormat == TAVBitmapInput::InputFormat())
        kind = THostKind::Bitmap;
    else if (inputFormat == TAVBitmapCallbackInput::InputFormat())
        kind = THostKind::BitmapCallback;
    else if (inputFormat == TAVScreenInput::InputFormat())
        kind = THostKind::Screen;
    else if (inputFormat == TAVAirInput::InputFormat())
        kind = THostKind::Air;
    else
        return nullptr;
    std::shared_ptr<THostState> state = FindHostObject(kind, number);
    if (!state) {
        av_log(nullptr, AV_LOG_ERROR, "%s: no host object %s\n", inputFormat.toUtf8().constData(),
               number.toUtf8().constData());
        return nullptr;
    }
    switch (kind) {
    case THostKind::Bitmap:
    case THostKind::BitmapCallback:
        return std::make_unique<TBitmapDevice>(std::static_pointer_cast<TBitmapState>(state));
    case THostKind::Screen:
        return std::make_unique<TScreenDevice>(std::static_pointer_cast<TScreenState>(state));
    case THostKind::Air:
        return std::make_unique<TAirDevice>(std::static_pointer_cast<TAirState>(state));
    default:
        return nullptr;
    }
}
